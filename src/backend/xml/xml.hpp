// The XML backend: one packaging-neutral XML description of the product.
// The registry reaches it through its record; tests call the operations
// directly.
#pragma once

#include <string>
#include <string_view>

#include "backend/backend.hpp"

/// The XML backend's record.
extern const backend xml_backend;

/// 1 for the program name "mkxmlpkg", else 0.
int xml_chkname(const char* cmdname);
/// The output directory is the base directory; error when it is not usable.
void xml_optcheck();
/// Directories of private packages or below private directories become
/// private; REPLY_PRIVATE or REPLY_GO_ON.
int xml_postdir(pkgptr_t pkg, dfileptr_t dir, int level);
/// Files of private packages or in private directories become private;
/// REPLY_PRIVATE or REPLY_GO_ON.
int xml_postfile(pkgptr_t pkg, dfileptr_t file, int level);
/// Sorts the package's files and directories by path and checks its
/// symbolic links; REPLY_OK.
int xml_finalpkg(pkgptr_t pkg);
/// The shared post-processing of system directories.
void xml_postproc();
/// Errors for dependencies of components that lack a description.
void xml_verify();
/// Marks the files that must not be compressed.
void xml_final();
/// Writes "PKGDIR/PRDCODE.xml"; nothing is written when a value cannot be
/// carried by XML or another error was reported while writing.
void xml_produce();

/// The installed path of a symbolic link's target when it lies in the
/// link's package; otherwise its path from the dist directory (or the
/// whole target when it is not under the dist directory either).
std::string_view xml_target_path(const package& pkg, const dfile& link);

/// True when `text` is UTF-8 made only of characters XML 1.0 can carry
/// (no control characters but tab, new line and carriage return).
bool xml_carryable(std::string_view text);
/// Appends `text` escaped for a double-quoted attribute value. Tab, new
/// line and carriage return become character references, which a reader's
/// attribute normalisation would otherwise turn into spaces.
void xml_escape_attr(std::string& out, std::string_view text);
/// Appends `text` escaped for element content (a carriage return becomes a
/// reference so line-end normalisation keeps it).
void xml_escape_text(std::string& out, std::string_view text);
/// `text` with every byte that XML cannot carry shown as \xNN, for messages.
std::string xml_shown(std::string_view text);
