// Fixtures shared by the tests: temporary trees, running the built
// programs under their names, reading files back.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testutil {

/// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
/// when the object goes, even when an assertion failed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  /// path() + "/" + rel
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

/// A directory for a large tree: in memory (/dev/shm) when the machine
/// offers it, where a disk would take far longer to make and remove the
/// entries than the program takes to read them, with a symbolic link to it
/// at `where`; otherwise `where` itself. Removed with everything in it, at
/// any depth, when the object goes, even when an assertion failed.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& where);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Writes `content` to `path` (creating parent directories) with `mode`.
void write_file(const std::string& path, const std::string& content, mode_t mode = 0644);
/// Creates `path` and its parents.
void make_dirs(const std::string& path, mode_t mode = 0755);
/// Creates a symbolic link `path` with text `target`.
void make_symlink(const std::string& target, const std::string& path);
/// Creates a hard link `path` to `existing`.
void make_hardlink(const std::string& existing, const std::string& path);
/// The whole content of `path` ("" and a test failure when unreadable).
std::string read_file(const std::string& path);
/// True when `path` exists (lstat).
bool exists(const std::string& path);

/// What a finished program left behind.
struct RunResult {
  int status = -1;  ///< exit status, or 128+signal
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};

/// Options of one program run. Every member has an initializer, so that a
/// designated initializer names only the members it sets.
struct RunOptions {
  std::string cwd{};                         ///< working directory ("" = inherit)
  std::map<std::string, std::string> env{};  ///< added to (or replacing in) the environment
  std::vector<std::string> unset{};          ///< removed from the environment
  std::string input{};                       ///< standard input
};

/// Runs the built program `name` (corvane, mkxmlpkg, mkkest, mkpkg,
/// mkpkgadd, tessel, ...) from the build's bin directory with `args`.
/// COLUMNS is removed from the environment unless `opt.env` sets it.
RunResult run_program(const std::string& name, const std::vector<std::string>& args,
                      const RunOptions& opt = {});

/// `text` with every wrapped report line joined again: a line end followed
/// by the continuation indent becomes one space, so tests can look for a
/// whole message without knowing where the layout broke it.
std::string unwrap(const std::string& text);

/// The build's bin directory.
std::string bin_dir();

/// Shell-free text of a directory tree: one line per entry, sorted,
/// "path mode" for files and dirs, "path -> target" for links.
std::string list_tree(const std::string& root);

/// The RELAX NG schema of the XML format (docs/corvane.rng).
std::string xml_schema();

/// Checks the XML file `path` against the schema with xmllint: "" when it
/// is valid, otherwise xmllint's report (its messages and status).
std::string xml_schema_errors(const std::string& path);

/// Runs the built program `name` (or the program at path `name`) as
/// run_program does, but without
/// privileges, so that file modes hold: when the tests run as root, every
/// entry under `tree` is handed to the user nobody and the program runs as
/// nobody (through setpriv). nullopt when that is impossible (no setpriv,
/// or nobody cannot reach the program), for the test to skip.
std::optional<RunResult> run_unprivileged(const std::string& name, const std::vector<std::string>& args,
                                          const std::string& tree, const RunOptions& opt = {});

}  // namespace testutil

namespace testutil {

/// Removes `root` and everything in it, at any depth: it walks by names
/// from the working directory, so no path grows with the depth and no
/// frame is kept per level. The working directory is kept.
void remove_deep_tree(const std::string& root);

/// Makes `depth` directories named `name`, each inside the one before,
/// below the existing directory `root`; returns an open descriptor of the
/// innermost one (the caller closes it), or -1.
int make_nested_dirs(const std::string& root, int depth, const std::string& name);

}  // namespace testutil

namespace testutil {

/// What run_program_with changes in the child before the program starts.
struct ChildSetup {
  std::string stdout_path{};  ///< standard output goes to this file ("" = captured as usual)
  bool close_stdout = false;  ///< standard output closed
  bool as_nobody = false;     ///< run as the user nobody (needs root)
};

/// run_program with the changes of `setup`; standard error is captured as
/// usual, standard output only when it is not redirected or closed.
RunResult run_program_with(const std::string& name, const std::vector<std::string>& args,
                           const ChildSetup& setup, const RunOptions& opt = {});

/// True when this process may run programs as the user nobody: it is root
/// and the user exists. Tests of what an unprivileged user cannot read
/// skip otherwise (root reads everything).
bool can_run_as_nobody();

}  // namespace testutil
