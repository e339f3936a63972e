// Insertion-ordered string lists keyed by hash and text. A list never holds
// two nodes with the same text; adding an existing key updates the node in
// place and keeps its position.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/hash.hpp"

/// A 64-bit hash of `s` that depends on `seed`, for the hash sets behind
/// long lists and lookups. The system's 32-bit hash is easy to make
/// collide (a generated product or a hostile one can give thousands of
/// names one hash), and a set keyed by it would chain them all.
inline std::uint64_t seeded_hash(std::string_view s, std::uint64_t seed) {
  constexpr std::uint64_t K0 = 0xa0761d6478bd642full, K1 = 0xe7037ed1a0b428dbull;
  auto mix = [](std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
  };
  std::uint64_t h = mix(seed ^ K0, s.size() ^ K1);
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = mix(w ^ K0 ^ seed, h ^ K1);
  }
  std::uint64_t w = 0;
  std::memcpy(&w, s.data() + i, s.size() - i);
  return mix(w ^ K1 ^ seed, h ^ K0);
}

/// A fresh seed for one hash set.
std::uint64_t new_hash_seed();

/// A hash set of records keyed by a text the record holds (`key_of`),
/// first record of a text wins. Records are told apart by their text; the
/// seeded hash only picks the slot.
template <class T, class KeyOf>
class text_index {
 public:
  // Not explicit without an argument, so an aggregate holding an index can
  // be value-initialized with `{}`.
  text_index() : text_index(KeyOf{}) {}
  explicit text_index(KeyOf key_of) : key_of_(key_of), seed_(new_hash_seed()) {}

  std::size_t size() const { return used_; }

  /// The record whose text is `key`, or null.
  T* find(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const std::uint64_t h = seeded_hash(key, seed_);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask; slots_[i].rec; i = (i + 1) & mask)
      if (slots_[i].hash == h && key_of_(*slots_[i].rec) == key) return slots_[i].rec;
    return nullptr;
  }
  /// Enters `rec` unless a record with its text is already in; returns
  /// the record that holds the text.
  T* insert(T* rec) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    const std::string_view key = key_of_(*rec);
    const std::uint64_t h = seeded_hash(key, seed_);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = h & mask;
    for (; slots_[i].rec; i = (i + 1) & mask)
      if (slots_[i].hash == h && key_of_(*slots_[i].rec) == key) return slots_[i].rec;
    slots_[i] = {rec, h};
    ++used_;
    return rec;
  }

 private:
  struct slot {
    T* rec = nullptr;
    std::uint64_t hash = 0;
  };
  static constexpr std::size_t MIN_SLOTS = 64;

  void grow() {
    std::vector<slot> old(slots_.empty() ? MIN_SLOTS : slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const slot& s : old) {
      if (!s.rec) continue;
      std::size_t i = s.hash & mask;
      while (slots_[i].rec) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  KeyOf key_of_;
  std::uint64_t seed_;
  std::vector<slot> slots_;
  std::size_t used_ = 0;
};

struct strlist;

/// Node of a strlist: a text, its hash and flags whose meaning the list's user sets.
struct strnode {
  std::string str;
  std::uint32_t hash = 0;
  std::uint32_t flags = 0;
  strnode* next = nullptr;
  std::string_view key() const { return str; }
};
using silistptr_t = strnode*;

/// Owns a singly linked chain of nodes; move-only. The chain is kept as a
/// ring reached through its last node, so appending stays constant time
/// while a list costs one pointer: every entry of the model carries two.
/// A list that a search finds long gets a hash set over its nodes' keys
/// (`Node::key()`), so that adding to or searching a list of thousands of
/// names costs one probe, not a walk; the pointer then leads to a record
/// holding the last node and the set (marked by its low bit).
template <class Node>
struct chain {
  /// A walk over this many nodes makes the list build its hash set.
  static constexpr std::size_t INDEX_AFTER = 16;

  chain() = default;
  chain(const chain&) = delete;
  chain& operator=(const chain&) = delete;
  chain(chain&& o) noexcept : word_(o.word_) { o.word_ = 0; }
  chain& operator=(chain&& o) noexcept {
    if (this != &o) {
      clear();
      word_ = o.word_;
      o.word_ = 0;
    }
    return *this;
  }
  ~chain() { clear(); }

  bool empty() const { return last() == nullptr; }
  Node* head() const { return last() ? last()->next : nullptr; }
  Node* tail() const { return last(); }
  bool indexed() const { return word_ & TAG; }
  void clear() {
    for (Node* n = head(); n;) {
      Node* next = next_of(n);
      delete n;
      n = next;
    }
    delete long_list();
    word_ = 0;
  }
  void append(Node* n) {
    Node* l = last();
    n->next = l ? l->next : n;
    if (l) l->next = n;
    if (long_record* x = long_list()) {
      x->last = n;
      x->index.insert(n);
    } else {
      word_ = reinterpret_cast<std::uintptr_t>(n);
    }
  }
  /// The node whose key is `key`, or null.
  Node* find(std::string_view key) const {
    if (const long_record* x = long_list()) return x->index.find(key);
    const std::uint32_t hash = mkhashval(key);
    std::size_t walked = 0;
    for (Node* n = head(); n; n = next_of(n), ++walked)
      if (n->hash == hash && n->key() == key) return n;
    if (walked >= INDEX_AFTER) make_index();
    return nullptr;
  }

  // Nodes appended while the list is walked are still reached, as in a
  // chain that ends in a null pointer.
  struct iterator {
    Node* n;
    const chain* list;
    Node& operator*() const { return *n; }
    Node* operator->() const { return n; }
    iterator& operator++() {
      n = list->next_of(n);
      return *this;
    }
    bool operator!=(const iterator& o) const { return n != o.n; }
    bool operator==(const iterator& o) const { return n == o.n; }
  };
  iterator begin() const { return {head(), this}; }
  iterator end() const { return {nullptr, this}; }
  /// The node after `n`, or null after the last.
  Node* next_of(const Node* n) const { return n == last() ? nullptr : n->next; }

 private:
  struct key_of_node {
    std::string_view operator()(const Node& n) const { return n.key(); }
  };
  struct long_record {
    Node* last = nullptr;
    text_index<Node, key_of_node> index;
  };
  static constexpr std::uintptr_t TAG = 1;  // nodes are aligned: the low bit is free

  long_record* long_list() const {
    return (word_ & TAG) ? reinterpret_cast<long_record*>(word_ & ~TAG) : nullptr;
  }
  Node* last() const {
    if (const long_record* x = long_list()) return x->last;
    return reinterpret_cast<Node*>(word_);
  }
  // The set is a cache of the list's own nodes: building it from a search
  // changes nothing that the list shows.
  void make_index() const {
    auto* x = new long_record;
    x->last = last();
    for (Node* n = head(); n; n = next_of(n)) x->index.insert(n);
    word_ = reinterpret_cast<std::uintptr_t>(x) | TAG;
  }

  mutable std::uintptr_t word_ = 0;  // last node, or long_record | TAG
};

struct strlist : chain<strnode> {};

/// Node of a strelist: a pattern with its own list of exception patterns.
struct strenode {
  std::string str;
  std::uint32_t hash = 0;
  std::uint32_t flags = 0;
  strlist sub;
  strenode* next = nullptr;
  std::string_view key() const { return str; }
};
struct strelist : chain<strenode> {};

/// Node of a varlist: a name and its value.
struct varnode {
  std::string name;
  std::uint32_t hash = 0;
  std::string value;
  varnode* next = nullptr;
  std::string_view key() const { return name; }
};
struct varlist : chain<varnode> {};

/// Adds `str` (or updates its flags when present); returns the node.
strnode* add_strlist(std::string_view str, std::uint32_t flags, strlist& list);
strenode* add_strelist(std::string_view str, std::uint32_t flags, strelist& list);
/// Adds `name` with `value`, or replaces the value of an existing node.
varnode* add_varlist(std::string_view name, std::string_view value, varlist& list);

/// The node whose text equals `str`, or null.
strnode* find_strlist(std::string_view str, const strlist& list);
strenode* find_strelist(std::string_view str, const strelist& list);
varnode* find_varlist(std::string_view name, const varlist& list);
