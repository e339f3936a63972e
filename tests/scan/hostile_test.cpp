// Trees made to hurt: names that are shell or format syntax, links out of
// the tree, special files, unreadable directories, huge sparse files. Every
// program must end with a status of its own (handled or refused), without a
// sanitizer report, and leave everything outside the base directory as it
// was.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/fileio.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::RunResult;
using testutil::write_file;

const char* const kPrograms[] = {"mkxmlpkg", "mkpkg", "mkkest"};

class HostileTree : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    testutil::make_dirs(base + "/input");
    write_file(outside + "/canary", "canary\n");
    testutil::make_dirs(outside + "/dir");
    before = outside_state();
  }

  std::string dist(const std::string& rel) const { return base + "/dist/" + rel; }

  RunResult run(const std::string& prog, const testutil::ChildSetup& setup = {},
                std::vector<std::string> args = {}) {
    args.insert(args.end(), {"-W", "-d", base, "-P", "PRD", "-V", "1.0", "-D", "Product"});
    if (prog == "mkpkg") args.insert(args.begin(), {"-U", "application"});
    if (prog == "mkkest") args.insert(args.begin(), {"-E", "ACME"});
    testutil::RunOptions o;
    o.cwd = base;
    o.env["COLUMNS"] = "10000";
    return testutil::run_program_with(prog, args, setup, o);
  }

  // Handled or refused: a status of the program's own, no sanitizer
  // report, and nothing outside the base directory touched.
  void expect_survived(const std::string& prog, const RunResult& r) {
    EXPECT_TRUE(r.status == 0 || r.status == 1) << prog << " ended with " << r.status << "\n" << r.err;
    for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"})
      EXPECT_THAT(r.err, Not(HasSubstr(report))) << prog << "\n" << r.err;
    EXPECT_EQ(testutil::read_file(outside + "/canary"), "canary\n");
    EXPECT_EQ(outside_state(), before) << prog;
  }

  // What lies outside the base directory: the other directory's tree and
  // the names beside the base directory.
  std::string outside_state() const {
    std::string s = testutil::list_tree(outside);
    std::vector<std::string> names;
    read_dir_sorted(t.path().c_str(), names);
    for (const std::string& n : names) s += "|" + n;
    return s;
  }

  testutil::TempDir t;
  const std::string base = t / "base";
  const std::string outside = t / "outside";
  std::string before;
};

TEST_F(HostileTree, NamesThatAreShellOrFormatSyntax) {
  const std::vector<std::string> names{
      "new\nline", "tab\there",  "blank name", "quote'\"s", "$HOME;&|<>", "-leading",
      "%s%n%x%%",  "\xff\xfe-not-utf8", "`touch ticked`", "$(touch substituted)", "\x1b[2J"};
  for (const std::string& n : names) {
    write_file(dist("p/usr/share/" + n), "x");
    testutil::make_dirs(dist("p/opt/" + n));
    write_file(dist("p/opt/" + n + "/f"), "x");
  }
  for (const char* prog : kPrograms) {
    RunResult r = run(prog);
    expect_survived(prog, r);
    EXPECT_THAT(r.err, HasSubstr("processing new package")) << prog << "\n" << r.err;
    for (const char* made : {"ticked", "substituted", "input/ticked", "dist/ticked"})
      EXPECT_FALSE(testutil::exists(base + "/" + made)) << prog << " " << made;
    // A name never splits a message: every report line begins with a
    // prefix, a continuation indent or a system error label.
    for (std::size_t at = 0; at < r.err.size();) {
      std::size_t end = r.err.find('\n', at);
      std::string line = r.err.substr(at, end - at);
      EXPECT_TRUE(line.empty() || line.starts_with("ERROR:") || line.starts_with("WARNING:") ||
                  line.starts_with("INFO:") || line.starts_with("    ") ||
                  line.find(": ") != std::string::npos)
          << prog << ": " << line;
      at = end == std::string::npos ? r.err.size() : end + 1;
    }
  }
}

TEST_F(HostileTree, LinksOutOfTheTreeAreNeverFollowedIn) {
  write_file(dist("p/usr/bin/tool"), "x", 0755);
  testutil::make_symlink("/", dist("p/usr/root"));
  testutil::make_symlink("self", dist("p/usr/self"));
  testutil::make_symlink("loop2", dist("p/usr/loop1"));
  testutil::make_symlink("loop1", dist("p/usr/loop2"));
  testutil::make_symlink("../../../../outside/canary", dist("p/usr/canary"));
  testutil::make_symlink("../../../../outside/dir", dist("p/usr/dir"));
  testutil::make_symlink("../../../../../../../../../../..", dist("p/usr/up"));
  testutil::make_symlink(outside, dist("p/usr/abs"));
  for (const char* prog : kPrograms) {
    RunResult r = run(prog);
    expect_survived(prog, r);
    EXPECT_THAT(r.err, HasSubstr("symbolic link `" + dist("p/usr/self") + "' points to"));
  }
}

TEST_F(HostileTree, SpecialFilesAreNeverOpened) {
  write_file(dist("p/usr/bin/tool"), "x", 0755);
  const std::string dir = dist("p/usr/special");
  testutil::make_dirs(dir);
  std::vector<std::string> specials{dir + "/fifo"};
  ASSERT_EQ(mkfifo(specials[0].c_str(), 0666), 0);
  // A reader and writer of our own: an open by the program would not block.
  int keep = open(specials[0].c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(keep, 0);
  // A socket is bound by a name relative to its directory: the full path
  // is longer than a socket address holds.
  int here = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, "sock");
  EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(s);
  ASSERT_EQ(fchdir(here), 0);
  close(here);
  specials.push_back(dir + "/sock");
  // Device nodes need root.
  if (mknod((dir + "/chardev").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    specials.push_back(dir + "/chardev");
  if (mknod((dir + "/blockdev").c_str(), S_IFBLK | 0666, makedev(7, 0)) == 0)
    specials.push_back(dir + "/blockdev");
  int watch = inotify_init1(IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  for (const std::string& sp : specials)
    EXPECT_GE(inotify_add_watch(watch, sp.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY), 0) << sp;

  for (const char* prog : kPrograms) {
    RunResult r = run(prog);
    expect_survived(prog, r);
    for (const std::string& sp : specials)
      EXPECT_THAT(r.err, HasSubstr("' for `" + sp + "'.")) << prog << " " << sp << "\n" << r.err;
  }
  char events[4096];
  EXPECT_EQ(read(watch, events, sizeof events), -1) << "a special file was opened";
  EXPECT_EQ(errno, EAGAIN);
  close(watch);
  close(keep);
}

TEST_F(HostileTree, UnreadableDirectoriesFailTheirPackage) {
  if (!testutil::can_run_as_nobody()) GTEST_SKIP() << "needs root to run as nobody";
  write_file(dist("a/usr/bin/tool"), "x", 0755);
  testutil::make_dirs(dist("a/usr/secret"));
  write_file(dist("b/usr/bin/tool"), "x", 0755);
  testutil::make_dirs(dist("b/usr/noread"));
  write_file(dist("b/usr/noread/f"), "x");
  write_file(dist("c/usr/bin/tool"), "x", 0755);
  ASSERT_EQ(chmod(t.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(dist("a/usr/secret").c_str(), 0), 0);
  ASSERT_EQ(chmod(dist("b/usr/noread").c_str(), 0311), 0);
  // The output directory must be writable, or the run ends before the scan.
  ASSERT_EQ(chmod(base.c_str(), 0777), 0);

  RunResult r = run("mkxmlpkg", {.as_nobody = true});
  expect_survived("mkxmlpkg", r);
  EXPECT_EQ(r.status, 1);
  const std::string denied = std::strerror(EACCES);
  EXPECT_THAT(r.err, HasSubstr("chdir: " + denied + "\n\nERROR: could not change to directory `" +
                               dist("a/usr/secret") + "'.\n"));
  EXPECT_THAT(r.err, HasSubstr("ERROR: package `A' failed to scan.\n"));
  EXPECT_THAT(r.err, HasSubstr("opendir: " + denied + "\n\nERROR: failed to open directory `" +
                               dist("b/usr/noread") + "'.\n"));
  EXPECT_THAT(r.err, HasSubstr("ERROR: package `B' failed to scan.\n"));
  EXPECT_THAT(r.err, HasSubstr("INFO: processing new package: C : 1 file, 3 directories.\n"));
  EXPECT_FALSE(testutil::exists(base + "/PRD.xml"));
}

TEST_F(HostileTree, FiveGibibyteSparseFileKeepsItsSize) {
  write_file(dist("p/usr/bin/tool"), "x", 0755);
  write_file(dist("p/usr/share/big"), "");
  ASSERT_EQ(truncate(dist("p/usr/share/big").c_str(), 5LL << 30), 0);
  write_file(dist("q/usr/bin/other"), "x", 0755);
  for (const char* prog : kPrograms) {
    // One component per package: pkgadd then writes a set, whose Makefile
    // sizes each archive part after the largest file, in blocks of 512
    // bytes; 5 GiB cut to 32 bits would give 1 GiB.
    RunResult r = run(prog, {}, {"-c"});
    expect_survived(prog, r);
    EXPECT_EQ(r.status, 0) << prog << "\n" << r.err;
    if (std::string(prog) != "mkpkg") continue;
    const std::string makefile = testutil::read_file(base + "/Makefile");
    const std::size_t line = makefile.rfind("pkgmk -B 512 -l ", makefile.find("input/p/prototype"));
    ASSERT_NE(line, std::string::npos) << makefile;
    EXPECT_GE(std::stoll(makefile.substr(line + 16)), 10485760) << makefile;
  }
}

}  // namespace
