#include "backend/values.hpp"

#include <algorithm>

#include "common/diag.hpp"
#include "common/strutil.hpp"
#include "model/settings.hpp"

std::string option_origin(char letter) { return strprintf("option -%c", letter); }

std::string package_name_origin(const package& p) {
  if (p.flags & pf::DEFINED) return "a package() statement";
  if (opts.fmode) return option_origin('P');
  return "the package directory `" + std::string(p.reldir.sv()) + "'";
}

std::string package_origin(const package& p) {
  if (p.flags & pf::DEFINED) return "the package() statement of `" + p.name + "'";
  return package_name_origin(p);
}

namespace {

// A component made for one package (-c) names that package first.
const package* made_for(const component& c) {
  const varnode* first = c.subpackages.head();
  return first ? find_package(nullptr, first->name.c_str()) : nullptr;
}

}  // namespace

std::string component_name_origin(const component& c) {
  if (c.flags & cf::DEFINED) return "a component() statement";
  if (opts.cmode)
    if (const package* p = made_for(c)) return package_name_origin(*p);
  // The component code defaults to the product code in lower case.
  if (c.name == strlower(str_or_empty(opts.prdcode))) return option_origin('P') + ", in lower case";
  return option_origin('C');
}

std::string component_origin(const component& c, char letter) {
  if (c.flags & cf::DEFINED) return "the component() statement of `" + c.name + "'";
  if (opts.cmode && letter == 'D')
    if (const package* p = made_for(c)) return package_name_origin(*p);
  return option_origin(letter);
}

std::string list_origin(const char* keyword, const std::string& item) {
  if (item.empty()) return strprintf("a %s() statement", keyword);
  return strprintf("a %s() statement of `%s'", keyword, item.c_str());
}

bool check_output_name(const char* what, std::string_view name, const std::string& origin) {
  const std::string shown(name);
  if (name.find('/') != std::string_view::npos)
    error("the %s `%s' (from %s) cannot name an output file, because it contains a `/'.\n", what,
          shown.c_str(), origin.c_str());
  else if (name == "." || name == "..")
    error("the %s `%s' (from %s) cannot name an output file, because it is `%s'.\n", what,
          shown.c_str(), origin.c_str(), shown.c_str());
  else
    return true;
  return false;
}

namespace {

const char* character_name(char c) {
  switch (c) {
    case '\n': return "a newline";
    case '"': return "a double quote";
    case ':': return "a `:'";
    case ' ': return "a blank";
    case '\t': return "a tab";
    default: return "a character it cannot hold";
  }
}

// Where the first byte of `value` that is in `refused` stands. The sets are
// a character or two, so one memchr per character beats find_first_of,
// which searches the set once per byte of the value: an entry's path may
// be thousands of bytes long.
std::size_t first_refused(std::string_view value, std::string_view refused) {
  std::size_t at = std::string_view::npos;
  for (char c : refused) at = std::min(at, value.substr(0, at).find(c));
  return at;
}

}  // namespace

bool ValueCheck::check(const char* what, std::string_view value, const std::string& origin,
                       std::string_view refused) {
  const std::size_t at = first_refused(value, refused);
  if (at == std::string_view::npos) return true;
  const std::string shown(value);
  if (reported_.insert(origin + '\0' + shown).second)
    error("the %s `%s' (from %s) cannot be written to %s, because it contains %s.\n", what,
          shown.c_str(), origin.c_str(), files_, character_name(value[at]));
  return false;
}

bool ValueCheck::check_entry(const dfile& e, const char* field, std::string_view value,
                             std::string_view refused) {
  const std::size_t at = first_refused(value, refused);
  if (at == std::string_view::npos) return true;
  const std::string what = std::string_view(field) == "path"
                               ? std::string(field)
                               : std::string(field) + " `" + std::string(value) + "'";
  error("in package `%s', the %s `%s' cannot be written to %s, because its %s contains %s.\n",
        e.pkg ? e.pkg->name.c_str() : "", entry_kind(e), std::string(e.path.sv()).c_str(), files_,
        what.c_str(), character_name(value[at]));
  return false;
}

const char* entry_kind(const dfile& e) {
  if (e.aflags & af::SYMLINK) return "symbolic link";
  return e.is_dir() ? "directory" : "file";
}
