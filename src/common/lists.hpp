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

/// Owns a singly linked chain of nodes; move-only. Empty lists cost two pointers.
template <class Node>
struct chain {
  Node* head = nullptr;
  Node* tail = nullptr;

  chain() = default;
  chain(const chain&) = delete;
  chain& operator=(const chain&) = delete;
  chain(chain&& o) noexcept : head(o.head), tail(o.tail) { o.head = o.tail = nullptr; }
  chain& operator=(chain&& o) noexcept {
    if (this != &o) {
      clear();
      head = o.head;
      tail = o.tail;
      o.head = o.tail = nullptr;
    }
    return *this;
  }
  ~chain() { clear(); }

  bool empty() const { return head == nullptr; }
  void clear() {
    for (Node* n = head; n;) {
      Node* next = n->next;
      delete n;
      n = next;
    }
    head = tail = nullptr;
  }
  void append(Node* n) {
    n->next = nullptr;
    if (tail) tail->next = n; else head = n;
    tail = n;
  }

  struct iterator {
    Node* n;
    Node& operator*() const { return *n; }
    Node* operator->() const { return n; }
    iterator& operator++() { n = n->next; return *this; }
    bool operator!=(const iterator& o) const { return n != o.n; }
    bool operator==(const iterator& o) const { return n == o.n; }
  };
  iterator begin() const { return {head}; }
  iterator end() const { return {nullptr}; }
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
