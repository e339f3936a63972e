// The manual-page formatter on small section directories: what the
// directories hold afterwards, what the pages hold, and the result codes
// with their messages; and the tessel program around it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "common/diag.hpp"
#include "prep/confine.hpp"
#include "prep/shellcmd.hpp"
#include "prep/tessel.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using testutil::list_tree;
using testutil::make_hardlink;
using testutil::make_symlink;
using testutil::read_file;
using testutil::run_program;
using testutil::RunOptions;
using testutil::TempDir;
using testutil::write_file;

// A formatter whose output is predictable: every line marked.
constexpr const char* kMarkFormat = "sed -e s/^/F:/";

/// The contents of a compressed file (compress or gzip format).
std::string uncompressed(const std::string& path) {
  std::string cmd = "gzip -dc " + shell_word(path) + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

class Formatter : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    diag.columns = 1000;
    manfmt = default_formatter();
    manfmt.fmtcmd = kMarkFormat;
    man1 = tmp / "usr/man/man1";
    testutil::make_dirs(man1);
  }

  int format() { return tessel_directory(man1.c_str()); }
  /// The expected tree when man1 and cat1 both hold exactly `entries`.
  static std::string both(std::initializer_list<const char*> entries) {
    std::string r = "cat1/ 0755\n";
    for (const char* e : entries) r += std::string("cat1/") + e + "\n";
    r += "man1/ 0755\n";
    for (const char* e : entries) r += std::string("man1/") + e + "\n";
    return r;
  }
  void compress_into(const std::string& tool, const std::string& text, const std::string& path) {
    write_file(tmp / "src", text);
    std::string cmd = tool + " -c " + shell_word(tmp / "src") + " > " + shell_word(path);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string tree() { return list_tree(tmp / "usr/man"); }

  TempDir tmp;
  std::string man1;
};

TEST_F(Formatter, PagesAreFormattedAndCompressedSourcesDecompressedFirst) {
  write_file(man1 + "/ls.1", ".TH LS 1\nls\n");
  write_file(man1 + "/ls.1.gz", "never read\n");
  write_file(tmp / "usr/man/cat1/ls.1", "stale\n");
  write_file(tmp / "usr/man/cat1/ls.1.gz", "stale\n");
  compress_into("gzip", "zipped\n", man1 + "/z.1.gz");
  compress_into("bzip2", "bzipped\n", man1 + "/b.1.bz2");
  EXPECT_EQ(format(), 0);
  EXPECT_EQ(tree(), both({"b.1.Z 0644", "ls.1.Z 0644", "z.1.Z 0644"}));
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/ls.1.Z"), "F:.TH LS 1\nF:ls\n");
  EXPECT_EQ(uncompressed(man1 + "/ls.1.Z"), ".TH LS 1\nls\n");
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/z.1.Z"), "F:zipped\n");
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/b.1.Z"), "F:bzipped\n");
  EXPECT_EQ(uncompressed(man1 + "/z.1.Z"), "zipped\n");
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(Formatter, OtherNamesOfAPageBecomeLinksInBothDirectories) {
  write_file(man1 + "/a.1", "page a\n");
  make_hardlink(man1 + "/a.1", man1 + "/b.1");
  make_symlink("a.1", man1 + "/c.1");
  write_file(man1 + "/z.1", "page z\n");
  make_symlink("z.1", man1 + "/0.1");
  EXPECT_EQ(format(), 0);
  const std::string once = both({"0.1.Z -> z.1.Z", "a.1.Z 0644", "b.1.Z -> a.1.Z", "c.1.Z -> a.1.Z", "z.1.Z 0644"});
  EXPECT_EQ(tree(), once);
  EXPECT_EQ(format(), 0);
  EXPECT_EQ(tree(), once);
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/a.1.Z"), "F:page a\n");
}

TEST_F(Formatter, SimpleIncludePagesBecomeLinks) {
  write_file(man1 + "/x.1", ".so man1/y.1\n");
  write_file(man1 + "/w.1", ".\\\" include\n.so y.1\r\n");
  write_file(man1 + "/y.1", "page y\n");
  write_file(man1 + "/other.1", ".so man3/y.3\n");
  write_file(man1 + "/missing.1", ".so man1/gone.1\n");
  // Chains, and other names of include pages, reach the page at the end.
  write_file(man1 + "/a.1", ".so b.1\n");
  write_file(man1 + "/b.1", ".so man1/c.1\n");
  write_file(man1 + "/c.1", "page c\n");
  make_hardlink(man1 + "/b.1", man1 + "/bb.1");
  // An include of a removed hard link reaches the file's formatted page.
  write_file(man1 + "/h.1", "page h\n");
  make_hardlink(man1 + "/h.1", man1 + "/i.1");
  write_file(man1 + "/j.1", ".so i.1\n");
  EXPECT_EQ(format(), 0);
  EXPECT_EQ(tree(), both({"a.1.Z -> c.1.Z", "b.1.Z -> c.1.Z", "bb.1.Z -> c.1.Z", "c.1.Z 0644",
                          "h.1.Z 0644", "i.1.Z -> h.1.Z", "j.1.Z -> h.1.Z", "missing.1.Z 0644",
                          "other.1.Z 0644", "w.1.Z -> y.1.Z", "x.1.Z -> y.1.Z", "y.1.Z 0644"}));
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/other.1.Z"), "F:.so man3/y.3\n");
}

TEST_F(Formatter, CompressedNameOfTheSameFileKeepsThePage) {
  write_file(man1 + "/x.1", "page x\n");
  make_symlink("x.1", man1 + "/x.1.gz");
  compress_into("gzip", "page y\n", man1 + "/y.1.gz");
  make_symlink("y.1.gz", man1 + "/y.1");
  EXPECT_EQ(format(), 0);
  EXPECT_EQ(tree(), both({"x.1.Z 0644", "y.1.Z 0644"}));
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/x.1.Z"), "F:page x\n");
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/y.1.Z"), "F:page y\n");
}

TEST_F(Formatter, FilesThatAreNoPagesAndLinksOutOfTheDirectoryAreLeftAlone) {
  write_file(man1 + "/README", "notes\n");
  write_file(tmp / "elsewhere/q.1", "outside\n");
  make_symlink(tmp / "elsewhere/q.1", man1 + "/q.1");
  make_symlink("/nonexistent/r.1", man1 + "/r.1");
  testutil::make_dirs(man1 + "/sub.1");
  write_file(man1 + "/.hidden.1", "x\n");
  EXPECT_EQ(format(), 0);
  EXPECT_EQ(tree(),
            "cat1/ 0755\n"
            "man1/ 0755\n"
            "man1/.hidden.1 0644\n"
            "man1/README 0644\n"
            "man1/q.1 -> " + tmp / "elsewhere/q.1\n" +
            "man1/r.1 -> /nonexistent/r.1\n"
            "man1/sub.1/ 0755\n");
  EXPECT_EQ(diag.errors, 0);
}

/// True when a file named exactly CANARY exists anywhere under `root`.
bool canary_under(const std::string& root) {
  std::string tree = "\n" + list_tree(root);
  return tree.find("\nCANARY ") != std::string::npos || tree.find("/CANARY ") != std::string::npos;
}

TEST_F(Formatter, HostileNamesAreFormattedAndRunNothing) {
  const std::vector<std::string> names = {
      "x;touch CANARY;.1", "$(touch CANARY).1", "`touch CANARY`.1", "a|touch CANARY.1", "b&touch CANARY&.1",
      "c>CANARY.1", "q'uo\"te.1", "nl\nx.1", "tab\tx.1", "sp ace.1", "-dash.1", "50%.1", "\xff\xfe.1"};
  for (std::size_t i = 0; i < names.size(); ++i) write_file(man1 + "/" + names[i], "page " + std::to_string(i) + "\n");
  compress_into("gzip", "gz\n", man1 + "/-z;touch CANARY;.1.gz");
  compress_into("bzip2", "bz\n", man1 + "/$(touch CANARY)y.1.bz2");
  EXPECT_EQ(format(), 0);
  EXPECT_FALSE(canary_under(tmp.path()));
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string page = "page " + std::to_string(i) + "\n";
    EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/" + names[i] + ".Z"), "F:" + page) << names[i];
    EXPECT_EQ(uncompressed(man1 + "/" + names[i] + ".Z"), page) << names[i];
  }
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/-z;touch CANARY;.1.Z"), "F:gz\n");
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/$(touch CANARY)y.1.Z"), "F:bz\n");
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(Formatter, ArgumentsThatNameNoSectionDirectory) {
  EXPECT_EQ(tessel_directory("man1"), tesselrc::no_slash);
  EXPECT_EQ(tessel_directory("/usr/man/sman1"), tesselrc::not_man);
  EXPECT_EQ(tessel_directory((tmp / "usr/man/man9").c_str()), tesselrc::no_open);
  write_file(tmp / "usr/man/cat2", "a file in the way\n");
  testutil::make_dirs(tmp / "usr/man/man2");
  EXPECT_EQ(tessel_directory((tmp / "usr/man/man2").c_str()), tesselrc::no_catdir);
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(Formatter, FailingCommandsEndTheDirectoryWithTheirCodes) {
  testutil::CaptureFd err;
  write_file(man1 + "/x.1", "page\n");
  auto source_kept_and_no_page = [&] {
    EXPECT_EQ(read_file(man1 + "/x.1"), "page\n");
    EXPECT_FALSE(testutil::exists(tmp / "usr/man/cat1/x.1.Z"));
  };
  manfmt.fmtcmd = "false";
  EXPECT_EQ(format(), tesselrc::format_failed);
  source_kept_and_no_page();
  manfmt.fmtcmd = "/nonexistent/formatter";
  EXPECT_EQ(format(), tesselrc::format_failed);
  source_kept_and_no_page();
  manfmt.fmtcmd = kMarkFormat;
  manfmt.compcmd = "cat > /dev/null; exit 3;";
  EXPECT_EQ(format(), tesselrc::format_failed);
  source_kept_and_no_page();
  manfmt.compcmd = "/nonexistent/compressor";
  EXPECT_EQ(format(), tesselrc::format_failed);
  source_kept_and_no_page();
  write_file(man1 + "/y.1.gz", "not gzip data\n");
  manfmt = default_formatter();
  EXPECT_EQ(format(), tesselrc::decompress_failed);
  EXPECT_EQ(err.text(),
            "\nERROR: command `false man1/x.1 2> /dev/null | compress -f > cat1/x.1.Z 2> /dev/null' "
            "returned 1.\n"
            "ERROR: command `/nonexistent/formatter man1/x.1 2> /dev/null | compress -f > cat1/x.1.Z 2> "
            "/dev/null' returned 127.\n"
            "ERROR: command `sed -e s/^/F:/ man1/x.1 2> /dev/null | cat > /dev/null; exit 3; > "
            "cat1/x.1.Z 2> /dev/null' returned 3.\n"
            "ERROR: command `sed -e s/^/F:/ man1/x.1 2> /dev/null | /nonexistent/compressor > "
            "cat1/x.1.Z 2> /dev/null' returned 127.\n"
            "ERROR: command `gunzip -f y.1.gz > /dev/null 2>&1' returned 1.\n");
  EXPECT_EQ(diag.errors, 5);
}

// groff exits 0 on a ".so" to a missing page and writes nothing: the empty
// page must not pass for a formatted one.
TEST_F(Formatter, EmptyOutputOfANonEmptyPageIsAFormattingFailure) {
  testutil::CaptureFd err;
  write_file(man1 + "/x.1", ".so man1/gone.1\n");
  manfmt = default_formatter();
  EXPECT_EQ(format(), tesselrc::format_failed);
  EXPECT_EQ(tree(), "cat1/ 0755\nman1/ 0755\nman1/x.1 0644\n");
  manfmt.fmtcmd = "true";
  EXPECT_EQ(format(), tesselrc::format_failed);
  manfmt.fmtcmd = kMarkFormat;
  manfmt.compcmd = "true";
  write_file(man1 + "/x.1", "page\n");
  EXPECT_EQ(format(), tesselrc::format_failed);
  EXPECT_EQ(tree(), "cat1/ 0755\nman1/ 0755\nman1/x.1 0644\n");
  EXPECT_EQ(err.text(), "\nERROR: command `" + default_fmtcmd() + " man1/x.1 2> /dev/null' produced no output.\n" +
                            "ERROR: command `true man1/x.1 2> /dev/null' produced no output.\n" +
                            "ERROR: command `true > cat1/x.1.Z 2> /dev/null' produced no output.\n");
  // An empty source may well give an empty page.
  write_file(man1 + "/x.1", "");
  manfmt = default_formatter();
  EXPECT_EQ(format(), 0);
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/x.1.Z"), "");
  EXPECT_EQ(diag.errors, 3);
}

TEST_F(Formatter, IncludeOfALinkIsRefused) {
  testutil::CaptureFd err;
  write_file(man1 + "/a.1", "page a\n");
  make_symlink("a.1", man1 + "/b.1");
  write_file(man1 + "/c.1", ".so b.1\n");
  EXPECT_EQ(format(), tesselrc::so_to_link);
  EXPECT_EQ(err.text(), "\nERROR: in directory `" + man1 +
                            "', the manual page `c.1' is a simple '.so include' file, but the file it "
                            "points to (`b.1') was a symbolic link to another file. This confuses me.\n");
  EXPECT_EQ(read_file(man1 + "/c.1"), ".so b.1\n");
}

TEST(IncludePage, OnlyOneSoLineNamingThisSectionMakesAnIncludePage) {
  TempDir tmp;
  auto isso = [&](const std::string& text) {
    write_file(tmp / "p", text);
    return tessel_isso(tmp / "p", "man1").value_or("<none>");
  };
  EXPECT_EQ(isso(".so man1/y.1\n"), "y.1");
  EXPECT_EQ(isso(".so y.1"), "y.1");
  EXPECT_EQ(isso(".\\\" comment\n.TH X\n.so y.1\r\n"), "y.1");
  EXPECT_EQ(isso(".so man3/y.3\n"), "<none>");
  EXPECT_EQ(isso(".so man1x/y.1\n"), "<none>");
  EXPECT_EQ(isso(".so a.1\n.so b.1\n"), "<none>");
  EXPECT_EQ(isso(".\\\" .so y.1\n.soy.1\n"), "<none>");
  EXPECT_EQ(isso(std::string(5000, 'x') + "\n.so y.1\n"), "y.1");
  EXPECT_EQ(tessel_isso(tmp / "missing", "man1").value_or("<none>"), "<none>");
  // A fifo in a page's place is never read (reading it would wait forever).
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(tessel_isso(tmp / "fifo", "man1").value_or("<none>"), "<none>");
}

using TreeBoundary = FreshRun;

// The boundary is a whole path component: /base/dist2 is not inside /base/dist.
TEST_F(TreeBoundary, InsideMeansTheDirectoryOrBelowIt) {
  EXPECT_TRUE(path_within("/base/dist", "/base/dist"));
  EXPECT_TRUE(path_within("/base/dist/pkg/man", "/base/dist"));
  EXPECT_FALSE(path_within("/base/dist2/man", "/base/dist"));
  EXPECT_FALSE(path_within("/base", "/base/dist"));
  EXPECT_TRUE(path_within("/anything", "/"));

  TempDir tmp;
  diag.columns = 1000;
  testutil::CaptureFd err;
  testutil::make_dirs(tmp / "dist/pkg/man");
  testutil::make_dirs(tmp / "dist2");
  // A directory yet to be made counts by the parent it would be made in.
  EXPECT_TRUE(directory_inside_tree(tmp / "dist/pkg/man/cat1", tmp / "dist"));
  EXPECT_TRUE(directory_inside_tree(tmp / "dist/pkg/none/cat1", tmp / "dist"));
  EXPECT_FALSE(directory_inside_tree(tmp / "dist2/cat1", tmp / "dist"));
  EXPECT_TRUE(directory_inside_tree(tmp / "dist", tmp / "dist"));
  EXPECT_EQ(err.text(), "\nERROR: directory `" + tmp / "dist2/cat1" + "' lies outside the dist directory `" +
                            tmp / "dist" + "'; not prepared.\n");
}

TEST(ShellWord, UnsafeTextsAreSingleQuoted) {
  EXPECT_EQ(shell_word("usr/man/man1/ls.1"), "usr/man/man1/ls.1");
  EXPECT_EQ(shell_word("a_b.c/+,:=@%^-"), "a_b.c/+,:=@%^-");
  EXPECT_EQ(shell_word(""), "''");
  EXPECT_EQ(shell_word("a b"), "'a b'");
  EXPECT_EQ(shell_word("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_word("$(rm -rf x)"), "'$(rm -rf x)'");
  EXPECT_EQ(shell_operand("-x.1.gz"), "./-x.1.gz");
  EXPECT_EQ(shell_operand("@opts"), "./@opts");
  EXPECT_EQ(shell_operand("-it's"), "'./-it'\\''s'");
  EXPECT_EQ(shell_operand("/abs/-x"), "/abs/-x");
}

RunOptions options(const std::string& cwd, std::map<std::string, std::string> env = {}) {
  RunOptions o;
  o.cwd = cwd;
  o.env = std::move(env);
  return o;
}

const char* const kUsage =
    "Usage: tessel directory\n"
    "\n"
    "$TESSEL_FORMAT is used for the formatting command\n"
    "$TESSEL_COMPRESS is used for the compression command\n"
    "\n"
    "Default values:\n";

TEST(TesselProgram, WrongArgumentsGiveTheUsageText) {
  std::string expected = std::string(kUsage) + "$TESSEL_FORMAT='" + default_fmtcmd() + "'\n" +
                         "$TESSEL_COMPRESS='compress -f'\n\n";
  for (auto args : {std::vector<std::string>{}, {"a/man1", "b/man1"}, {"-h"}}) {
    auto r = run_program("tessel", args, options("", {{"TESSEL_FORMAT", "cat"}}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
}

TEST(TesselProgram, FailureLineAndStatusOne) {
  TempDir tmp;
  auto r = run_program("tessel", {"man1"}, options(tmp.path()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "tessel man1 failed with -1\n");
  write_file(tmp / "usr/man/man1/x.1", "page\n");
  r = run_program("tessel", {"usr/man/man1"}, options(tmp.path(), {{"TESSEL_FORMAT", "false"}}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "tessel usr/man/man1 failed with -10\n");
  EXPECT_EQ(r.err, "\nERROR: command `false man1/x.1  | compress -f > cat1/x.1.Z ' returned 1.\n");
  r = run_program("tessel", {"usr/man/man1"}, options(tmp.path(), {{"TESSEL_COMPRESS", "true"}}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "tessel usr/man/man1 failed with -10\n");
  EXPECT_EQ(r.err, "\nERROR: command `true > cat1/x.1.Z ' produced no output.\n");
  EXPECT_EQ(list_tree(tmp / "usr/man"), "cat1/ 0755\nman1/ 0755\nman1/x.1 0644\n");
}

// The man directory's parent is all tessel may write in: a cat directory
// linked out of it (a link meant for the installed system) is refused
// before anything there is removed or written.
TEST(TesselProgram, CatDirectoryLinkedOutOfTheParentIsRefused) {
  TempDir tmp;
  const std::string outside = tmp / "outside";
  write_file(outside + "/cat1/x.1", "canary\n");
  write_file(outside + "/cat1/x.1.Z", "canary\n");
  write_file(outside + "/cat2/y.2.Z", "canary\n");
  const std::string before = list_tree(outside);
  write_file(tmp / "usr/man/man1/x.1", "page\n");
  write_file(tmp / "usr/man/man2/y.2", "page\n");
  make_symlink(outside + "/cat1", tmp / "usr/man/cat1");
  make_symlink("../../outside/cat2", tmp / "usr/man/cat2");
  auto env = options(tmp.path(), {{"TESSEL_FORMAT", "cat"}, {"COLUMNS", "1000"}});
  for (std::string n : {"1", "2"}) {
    auto r = run_program("tessel", {"usr/man/man" + n}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "tessel usr/man/man" + n + " failed with -12\n");
    EXPECT_EQ(r.err, "\nERROR: directory `" + tmp / "usr/man/cat" + n +
                         "' is a symbolic link leading out of `" + tmp / "usr/man" + "'; not prepared.\n");
  }
  EXPECT_EQ(list_tree(outside), before);
  EXPECT_EQ(read_file(outside + "/cat1/x.1.Z"), "canary\n");
  EXPECT_EQ(read_file(tmp / "usr/man/man1/x.1"), "page\n");
  // A link that stays beside the man directory is used.
  testutil::make_dirs(tmp / "usr/man/formatted");
  make_symlink("formatted", tmp / "usr/man/cat3");
  write_file(tmp / "usr/man/man3/z.3", "page z\n");
  auto r = run_program("tessel", {"usr/man/man3"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(uncompressed(tmp / "usr/man/formatted/z.3.Z"), "page z\n");
}

// Fifos, sockets, devices and links that lead nowhere are no pages: none
// is opened (a fifo would stop the run), none fails the directory.
TEST(TesselProgram, SpecialFilesAndLinkLoopsNeitherHangNorFail) {
  TempDir tmp;
  std::string man1 = tmp / "usr/man/man1";
  write_file(man1 + "/a.1", "page a\n");
  ASSERT_EQ(mkfifo((man1 + "/fifo.1").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((man1 + "/fifo.1.gz").c_str(), 0644), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  std::string sock_path = man1 + "/sock.1";
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sock_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr), 0);
  close(sock);
  make_symlink("/dev/zero", man1 + "/zero.1");
  // A device node of its own only where the tests may make one (as root).
  bool device = mknod((man1 + "/null.1").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
  make_symlink("/", man1 + "/root.1");
  make_symlink("self.1", man1 + "/self.1");
  make_symlink("loopb.1", man1 + "/loopa.1");
  make_symlink("loopa.1", man1 + "/loopb.1");
  auto r = run_program("/usr/bin/timeout", {"60", testutil::bin_dir() + "/tessel", "usr/man/man1"},
                       options(tmp.path(), {{"TESSEL_FORMAT", "cat"}}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(list_tree(tmp / "usr/man"),
            std::string("cat1/ 0755\n"
                        "cat1/a.1.Z 0644\n"
                        "man1/ 0755\n"
                        "man1/a.1.Z 0644\n"
                        "man1/fifo.1 0644\n"
                        "man1/fifo.1.gz 0644\n"
                        "man1/loopa.1 -> loopb.1\n"
                        "man1/loopb.1 -> loopa.1\n") +
                (device ? "man1/null.1 0644\n" : "") +
                "man1/root.1 -> /\n"
                "man1/self.1 -> self.1\n"
                "man1/sock.1 0755\n"
                "man1/zero.1 -> /dev/zero\n");
}

TEST(TesselProgram, UnreadableDirectoriesAndPagesFailWithStatusOne) {
  TempDir tmp;
  write_file(tmp / "usr/man/man1/x.1", "page x\n");
  write_file(tmp / "usr/man/man2/y.2", "page y\n");
  testutil::make_dirs(tmp / "usr/man/cat2");
  write_file(tmp / "usr/man/man3/z.3", "page z\n");
  chmod((tmp / "usr/man/man1").c_str(), 0);
  chmod((tmp / "usr/man/cat2").c_str(), 0555);
  chmod((tmp / "usr/man/man3/z.3").c_str(), 0);
  struct Case {
    const char* dir;
    const char* out;
    const char* err_part;
  };
  for (const Case& c : {Case{"man1", "tessel usr/man/man1 failed with -4\n", ""},
                        Case{"man2", "tessel usr/man/man2 failed with -10\n", "cat2/y.2.Z: Permission denied"},
                        Case{"man3", "tessel usr/man/man3 failed with -10\n", "man3/z.3': Permission denied"}}) {
    auto r = testutil::run_unprivileged("tessel", {std::string("usr/man/") + c.dir}, tmp.path(),
                                        options(tmp.path()));
    if (!r) GTEST_SKIP() << "cannot run tessel as an unprivileged user";
    EXPECT_EQ(r->status, 1) << c.dir;
    EXPECT_EQ(r->out, c.out);
    EXPECT_THAT(r->err, HasSubstr(c.err_part));
  }
  chmod((tmp / "usr/man/man1").c_str(), 0755);
  chmod((tmp / "usr/man/man3/z.3").c_str(), 0644);
  EXPECT_EQ(read_file(tmp / "usr/man/man1/x.1"), "page x\n");
  EXPECT_EQ(read_file(tmp / "usr/man/man2/y.2"), "page y\n");
  EXPECT_EQ(read_file(tmp / "usr/man/man3/z.3"), "page z\n");
}

TEST(TesselProgram, FormatsWithGroffAndShowsItsWarnings) {
  TempDir tmp;
  write_file(tmp / "usr/man/man1/ls.1",
             ".TH LS 1\n.SH NAME\nls \\- list directory contents\n.ne x\n");
  auto r = run_program("tessel", {"usr/man/man1"}, options(tmp.path()));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, HasSubstr("warning: numeric expression expected"));
  std::string page = uncompressed(tmp / "usr/man/cat1/ls.1.Z");
  EXPECT_THAT(page, HasSubstr("ls - list directory contents"));
  EXPECT_EQ(uncompressed(tmp / "usr/man/man1/ls.1.Z"),
            ".TH LS 1\n.SH NAME\nls \\- list directory contents\n.ne x\n");
}

TEST(TesselProgram, CompressionCommandFromTheEnvironmentKeepsTheZSuffix) {
  TempDir tmp;
  write_file(tmp / "usr/man/man1/a.1", "page a\n");
  auto r = run_program("tessel", {"usr/man/man1"},
                       options(tmp.path(), {{"TESSEL_COMPRESS", "gzip"}, {"TESSEL_FORMAT", "cat"}}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(list_tree(tmp / "usr/man"),
            "cat1/ 0755\n"
            "cat1/a.1.Z 0644\n"
            "man1/ 0755\n"
            "man1/a.1.gz 0644\n");
  EXPECT_EQ(read_file(tmp / "usr/man/cat1/a.1.Z").substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(uncompressed(tmp / "usr/man/cat1/a.1.Z"), "page a\n");
}

}  // namespace
