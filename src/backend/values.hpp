// Checks a backend makes before it writes anything: names that would put an
// output file somewhere else, and values holding characters that the
// backend's file format cannot carry. Each refusal names the value and
// where it came from (an option, a control-file statement, a package
// directory), so the user knows what to change.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "model/model.hpp"

// ---- Where a value came from ------------------------------------------------

/// "option -P".
std::string option_origin(char letter);
/// The name of a package: a package() statement, the package directory it
/// was made from, or the product code (the one package of flat mode).
std::string package_name_origin(const package& p);
/// The description and directory of a package: its package() statement,
/// or the package directory its name was made from.
std::string package_origin(const package& p);
/// The name of a component: a component() statement, the package it was
/// made for (one component per package), or the component code option.
std::string component_name_origin(const component& c);
/// The version, description and category of a component: its component()
/// statement, or `letter`'s option for the primary component (a component
/// made for one package takes its description from that package).
std::string component_origin(const component& c, char letter);
/// A name in a dependency-style list: the statement `keyword` of the item.
std::string list_origin(const char* keyword, const std::string& item);

// ---- Checks ------------------------------------------------------------------

/// True when `name` can name an output file: no '/', not "." or "..".
/// Otherwise reports it, with `what` ("product code", "component name",
/// "package name") and where it came from, and returns false.
bool check_output_name(const char* what, std::string_view name, const std::string& origin);

/// Refuses values holding characters an output format cannot carry. Each
/// refused value is reported once for its origin, however often the files
/// would hold it (-V is the version of the set and of every component).
class ValueCheck {
 public:
  /// `files` names the files in the messages ("a pkginfo file").
  explicit ValueCheck(const char* files) : files_(files) {}
  /// False, after an error naming the value, `what` it is and its
  /// `origin`, when `value` holds one of the characters of `refused`.
  bool check(const char* what, std::string_view value, const std::string& origin,
             std::string_view refused);
  /// The same for a field of an entry: its "path", or its "target",
  /// "export", ... whose value the message shows as well.
  bool check_entry(const dfile& e, const char* field, std::string_view value,
                   std::string_view refused);

 private:
  const char* files_;
  std::set<std::string> reported_;
};

/// Refused characters, in the forms the checks take them.
inline constexpr std::string_view NEWLINE = "\n";
inline constexpr std::string_view NEWLINE_OR_QUOTE = "\n\"";
inline constexpr std::string_view NEWLINE_OR_COLON = "\n:";

/// "symbolic link", "directory" or "file", for messages about entries.
const char* entry_kind(const dfile& e);
