// Insertion-ordered string lists keyed by hash and text. A list never holds
// two nodes with the same text; adding an existing key updates the node in
// place and keeps its position.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/hash.hpp"

struct strlist;

/// Node of a strlist: a text, its hash and flags whose meaning the list's user sets.
struct strnode {
  std::string str;
  std::uint32_t hash = 0;
  std::uint32_t flags = 0;
  strnode* next = nullptr;
};
using silistptr_t = strnode*;

/// Owns a singly linked chain of nodes; move-only. The chain is kept as a
/// ring reached through its last node, so appending stays constant time
/// while a list costs one pointer: every entry of the model carries two.
template <class Node>
struct chain {
  chain() = default;
  chain(const chain&) = delete;
  chain& operator=(const chain&) = delete;
  chain(chain&& o) noexcept : last_(o.last_) { o.last_ = nullptr; }
  chain& operator=(chain&& o) noexcept {
    if (this != &o) {
      clear();
      last_ = o.last_;
      o.last_ = nullptr;
    }
    return *this;
  }
  ~chain() { clear(); }

  bool empty() const { return last_ == nullptr; }
  Node* head() const { return last_ ? last_->next : nullptr; }
  Node* tail() const { return last_; }
  void clear() {
    for (Node* n = head(); n;) {
      Node* next = next_of(n);
      delete n;
      n = next;
    }
    last_ = nullptr;
  }
  void append(Node* n) {
    n->next = last_ ? last_->next : n;
    if (last_) last_->next = n;
    last_ = n;
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
  Node* next_of(const Node* n) const { return n == last_ ? nullptr : n->next; }

 private:
  Node* last_ = nullptr;
};

struct strlist : chain<strnode> {};

/// Node of a strelist: a pattern with its own list of exception patterns.
struct strenode {
  std::string str;
  std::uint32_t hash = 0;
  std::uint32_t flags = 0;
  strlist sub;
  strenode* next = nullptr;
};
struct strelist : chain<strenode> {};

/// Node of a varlist: a name and its value.
struct varnode {
  std::string name;
  std::uint32_t hash = 0;
  std::string value;
  varnode* next = nullptr;
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
