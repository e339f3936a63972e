#include "common/lists.hpp"

namespace {

template <class Node, class Key>
Node* find_node(const chain<Node>& list, std::string_view key, Key Node::*field) {
  const std::uint32_t h = mkhashval(key);
  for (Node& n : list)
    if (n.hash == h && n.*field == key) return &n;
  return nullptr;
}

}  // namespace

strnode* find_strlist(std::string_view str, const strlist& list) {
  return find_node(list, str, &strnode::str);
}

strenode* find_strelist(std::string_view str, const strelist& list) {
  return find_node(list, str, &strenode::str);
}

varnode* find_varlist(std::string_view name, const varlist& list) {
  return find_node(list, name, &varnode::name);
}

strnode* add_strlist(std::string_view str, std::uint32_t flags, strlist& list) {
  if (strnode* n = find_strlist(str, list)) {
    n->flags = flags;
    return n;
  }
  auto* n = new strnode{std::string(str), mkhashval(str), flags, nullptr};
  list.append(n);
  return n;
}

strenode* add_strelist(std::string_view str, std::uint32_t flags, strelist& list) {
  if (strenode* n = find_strelist(str, list)) {
    n->flags = flags;  // the exception list stays
    return n;
  }
  auto* n = new strenode{std::string(str), mkhashval(str), flags, {}, nullptr};
  list.append(n);
  return n;
}

varnode* add_varlist(std::string_view name, std::string_view value, varlist& list) {
  if (varnode* n = find_varlist(name, list)) {
    n->value = value;
    return n;
  }
  auto* n = new varnode{std::string(name), mkhashval(name), std::string(value), nullptr};
  list.append(n);
  return n;
}
