// Preparing the dist tree before the scan: strip, comment sections,
// manual pages, Info files.
#pragma once

#include <sys/stat.h>

#include <string>
#include <unordered_set>

#include "prep/tessel.hpp"

/// What the current preparation run does, and with which tools; set anew
/// by every do_autoprep (except mcsbug, which once set stays set). One per
/// process, `autoprep_state`, defined in autoprep.cpp.
struct Autoprep {
  int wanttessel = 0;      ///< format manual-page directories
  int wanttexi = 0;        ///< compress Info directories
  int wantstrip = 0;       ///< strip::run | strip::delete_comment; below 1 nothing
  std::string wantmcsadd;  ///< text appended to each object's comment section; "" none
  std::string stripcmd, mcscmd, arcmd;  ///< tool command lines
  bool mcsbug = false;     ///< archives and non-executable .o files are left alone
  bool beverbose = false;  ///< one line per tool run
  /// The global removal list as paths from the dist directory, without a final "/".
  std::unordered_set<std::string> removed;
};

extern Autoprep autoprep_state;

/// Puts the preparation state back to its start (mcsbug cleared too).
void reset_autoprep();

/// Bits of a strip request.
namespace stripreq {
/// Strip the object.
inline constexpr int run = 1;
/// Delete the object's comment section.
inline constexpr int delete_comment = 2;
}  // namespace stripreq

/// Prepares the tree under the dist directory. With a control file the
/// switches count when non-zero; without one only when PREP_RUN (named by
/// -I), and a strip switch of PREP_RUN then asks for stripping and comment
/// deletion.
void do_autoprep(int fmt, int texi, int strip, const char* mcstext = nullptr);

/// Prepares one directory or regular file of the tree (`path` is full);
/// `type` is the S_IFMT part of its mode. Returns 0.
int autoprep(const std::string& path, const struct stat& st, int type);

/// The formatter settings of corvane: the built-in commands with their
/// output discarded, kept inside the dist directory.
ManFormatter corvane_formatter();

/// The built-in comment-section command: the helper beside the running
/// program (build tree or installation), else the installed one.
std::string default_mcscmd();
