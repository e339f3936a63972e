#include "common/lists.hpp"

#include <random>

std::uint64_t new_hash_seed() {
  std::random_device rd;
  return (std::uint64_t{rd()} << 32) ^ rd();
}

strnode* find_strlist(std::string_view str, const strlist& list) { return list.find(str); }

strenode* find_strelist(std::string_view str, const strelist& list) { return list.find(str); }

varnode* find_varlist(std::string_view name, const varlist& list) { return list.find(name); }

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
