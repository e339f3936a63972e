// Whole runs on trees made to do harm: links out of the tree where the
// preparation writes, names that are shell code, special files, broken
// tools. Nothing outside the tree may change, no name may run, and no
// failure may pass for success.
#include <gmock/gmock.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "prep_fixture.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::list_tree;
using testutil::make_symlink;
using testutil::read_file;
using testutil::run_program;
using testutil::RunOptions;
using testutil::write_file;

class HostileTree : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    write_file(tool, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> " + shell_word(tmp / "tools.log") + "\n", 0755);
  }

  RunOptions options(std::map<std::string, std::string> env = {}) const {
    RunOptions o;
    o.cwd = tmp.path();
    o.env = std::move(env);
    o.env.emplace("COLUMNS", "1000");
    o.env.emplace("CORVANE_STRIPCMD", tool + " strip");
    o.env.emplace("CORVANE_MCSCMD", tool + " mcs");
    o.env.emplace("CORVANE_ARCMD", tool + " ar");
    o.unset = {"CORVANE_MCSBUG", "CORVANE_VERBOSE"};
    return o;
  }

  std::vector<std::string> args(std::vector<std::string> extra) const {
    std::vector<std::string> a = {"-d", tmp / "base", "-P", "PROD", "-V", "1.0", "-D", "A product"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }

  testutil::RunResult run(std::vector<std::string> extra, std::map<std::string, std::string> env = {}) {
    return run_program("mkxmlpkg", args(std::move(extra)), options(std::move(env)));
  }

  /// Every file under `root` with its contents, to show that nothing changed.
  static std::string snapshot(const std::string& root) {
    std::string s = list_tree(root);
    std::istringstream lines(s);
    for (std::string line; std::getline(lines, line);) {
      std::string path = line.substr(0, line.rfind(' '));
      struct stat st;
      std::string full = root + "/" + path;
      if (lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) s += path + ": " + read_file(full);
    }
    return s;
  }

  /// True when an entry named exactly CANARY exists anywhere under the test directory.
  bool canary() const {
    std::string tree = "\n" + list_tree(tmp.path());
    return tree.find("\nCANARY ") != std::string::npos || tree.find("/CANARY ") != std::string::npos;
  }

  std::string tool_log() const {
    std::string path = tmp / "tools.log";
    return testutil::exists(path) ? read_file(path) : "";
  }

  testutil::TempDir tmp;
  std::string dist = tmp / "base/dist";
  std::string outside = tmp / "outside";
  std::string tool = tmp / "tool.sh";
};

/// A directory of files that preparation would remove or overwrite, were it led there.
void plant_canaries(const std::string& dir, std::initializer_list<const char*> names) {
  for (const char* n : names) write_file(dir + "/" + n, std::string("canary ") + n + "\n");
}

TEST_F(HostileTree, CatDirectoriesLinkedOutOfTheTreeAreRefused) {
  plant_canaries(outside + "/cat1", {"x.1", "x.1.Z", "x.1.gz"});
  plant_canaries(outside + "/cat2", {"y.2.Z", "y.2.bz2"});
  plant_canaries(outside + "/man3", {"z.3"});
  const std::string before = snapshot(outside);
  std::string man = dist + "/pkg/usr/share/man";
  write_file(man + "/man1/x.1", ".TH X 1\n");
  write_file(man + "/man2/y.2", ".TH Y 2\n");
  write_file(man + "/man4/w.4", ".TH W 4\n");
  make_symlink(outside + "/cat1", man + "/cat1");
  make_symlink("../../../../../../outside/cat2", man + "/cat2");
  make_symlink(outside + "/man3", man + "/man3");
  make_symlink("man4", man + "/cat4");
  auto r = run({"-I", "automan"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "   Formatting man pages in pkg/usr/share/man/man1 ... done (failed with -12)\n"
            "   Formatting man pages in pkg/usr/share/man/man2 ... done (failed with -12)\n"
            "   Formatting man pages in pkg/usr/share/man/man4 ... done (failed with -12)\n");
  for (const char* n : {"1", "2", "4"}) {
    std::string line = "ERROR: directory `" + man + "/cat" + n + "' is a symbolic link; not prepared.\n";
    EXPECT_THAT(r.err, HasSubstr(line)) << line << r.err;
  }
  EXPECT_EQ(snapshot(outside), before);
  EXPECT_EQ(read_file(man + "/man1/x.1"), ".TH X 1\n");
  EXPECT_EQ(read_file(man + "/man4/w.4"), ".TH W 4\n");
}

TEST_F(HostileTree, DirectoriesNamedByTheControlFileMustBeRealAndInsideTheTree) {
  plant_canaries(outside + "/man1", {"x.1"});
  plant_canaries(outside + "/lib/man/man2", {"y.2"});
  plant_canaries(outside + "/info", {"x.info"});
  plant_canaries(outside + "/lib/info", {"y.info"});
  write_file(outside + "/lib/info/y.info", "produced by makeinfo\n");
  write_file(outside + "/info/x.info", "produced by makeinfo\n");
  const std::string before = snapshot(outside);
  make_symlink(outside + "/man1", dist + "/pkg/usr/man/man1");
  make_symlink("../../../../outside/lib", dist + "/pkg/usr/lib");
  make_symlink(outside + "/info", dist + "/pkg/info");
  write_file(dist + "/pkg/usr/man/man5/v.5", ".TH V 5\n");
  write_file(dist + "/pkg/usr/share/info/v.info", "produced by makeinfo\n");
  write_file(tmp / "prod.ctl",
             "prepare(\"docs\") {\n"
             "  format_mansource(\"pkg/usr/man/man1\");\n"
             "  format_mansource(\"pkg/usr/lib/man/man2\");\n"
             "  format_mansource(\"../../outside/lib/man/man2\");\n"
             "  compress_texinfo(\"pkg/info/\");\n"
             "  compress_texinfo(\"pkg/usr/lib/info\");\n"
             "  format_mansource(\"pkg/usr/man/man5\");\n"
             "  compress_texinfo(\"pkg/usr/share/info\");\n"
             "}\n");
  auto r = run({"-p", tmp / "prod.ctl"});
  EXPECT_EQ(r.status, 1);
  const std::string outside_tree = "' lies outside the dist directory `" + dist + "'; not prepared.\n";
  for (const std::string& line :
       {"ERROR: directory `" + dist + "/pkg/usr/man/man1' is a symbolic link; not prepared.\n",
        "ERROR: directory `" + dist + "/pkg/usr/lib/man/man2" + outside_tree,
        "ERROR: directory `" + outside + "/lib/man/man2" + outside_tree,
        "ERROR: directory `" + dist + "/pkg/info' is a symbolic link; not prepared.\n",
        "ERROR: directory `" + dist + "/pkg/usr/lib/info" + outside_tree}) {
    EXPECT_THAT(r.err, HasSubstr(line)) << line << r.err;
  }
  EXPECT_EQ(snapshot(outside), before);
  EXPECT_EQ(list_tree(dist + "/pkg/usr/man"),
            "cat5/ 0755\ncat5/v.5.Z 0644\nman1 -> " + outside + "/man1\nman5/ 0755\nman5/v.5.Z 0644\n");
  EXPECT_TRUE(testutil::exists(dist + "/pkg/usr/share/info/v.info.gz"));
}

TEST_F(HostileTree, NamesThatAreShellCodeRunNothing) {
  const std::vector<std::string> names = {"x;touch CANARY;", "$(touch CANARY)", "`touch CANARY`", "a|touch CANARY",
                                          "b&touch CANARY&", "c>CANARY", "q'uo\"te", "nl\nx", "tab\tx",
                                          "sp ace", "-dash", "50%", "\xff\xfe"};
  std::string expected_log;
  for (const std::string& n : names) {
    write_file(dist + "/pkg/usr/man/man1/" + n + ".1", ".TH X 1\nx\n");
    write_file(dist + "/pkg/usr/info/" + n + ".info", "produced by makeinfo\n");
    write_file(dist + "/pkg/bin/" + n, "exe", 0755);
  }
  // The walk visits the names in byte order.
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& n : sorted) {
    std::string path = dist + "/pkg/bin/" + n;
    expected_log += "strip " + path + "\nmcs -d " + path + "\n";
  }
  auto r = run({"-I", "automan,autotexi,autostrip"});
  EXPECT_EQ(r.out,
            "   Compressing info pages in pkg/usr/info ... done\n"
            "   Formatting man pages in pkg/usr/man/man1 ... done\n");
  EXPECT_THAT(r.err, Not(HasSubstr("ERROR: command")));
  EXPECT_FALSE(canary());
  EXPECT_EQ(tool_log(), expected_log);
  for (const std::string& n : names) {
    EXPECT_TRUE(testutil::exists(dist + "/pkg/usr/man/cat1/" + n + ".1.Z")) << n;
    EXPECT_TRUE(testutil::exists(dist + "/pkg/usr/man/man1/" + n + ".1.Z")) << n;
    EXPECT_TRUE(testutil::exists(dist + "/pkg/usr/info/" + n + ".info.gz")) << n;
  }

  // The comment text of a control file is one word as well.
  std::remove((tmp / "tools.log").c_str());
  write_file(tmp / "prod.ctl",
             "prepare(\"objects\") {\n"
             "  auto_strip(yes, no, \"it's'; touch CANARY; '$(touch CANARY)`touch CANARY`\");\n"
             "}\n");
  r = run({"-p", tmp / "prod.ctl"});
  EXPECT_FALSE(canary());
  std::string log = tool_log();
  EXPECT_THAT(log, HasSubstr("mcs -a it's'; touch CANARY; '$(touch CANARY)`touch CANARY` " + dist +
                             "/pkg/bin/-dash\n"));
}

// A broken tool or a page that formats to nothing must fail the run, and
// must not cost the page its source.
TEST_F(HostileTree, BrokenToolsAndEmptyPagesFailTheRun) {
  write_file(dist + "/pkg/usr/man/man1/x.1", ".so man1/gone.1\n");
  auto r = run({"-I", "automan"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "   Formatting man pages in pkg/usr/man/man1 ... done (failed with -10)\n");
  EXPECT_THAT(r.err, HasSubstr("\nERROR: command `" + default_fmtcmd() +
                               " man1/x.1 2> /dev/null' produced no output.\n"));
  EXPECT_EQ(list_tree(dist + "/pkg/usr/man"), "cat1/ 0755\nman1/ 0755\nman1/x.1 0644\n");
  EXPECT_EQ(read_file(dist + "/pkg/usr/man/man1/x.1"), ".so man1/gone.1\n");
  std::remove((dist + "/pkg/usr/man/man1/x.1").c_str());

  // An object the tool fails on is an error; a script it refuses is not.
  ASSERT_TRUE(preptest::compile("int main(void) { return 0; }\n", "", dist + "/pkg/bin/prog"));
  write_file(dist + "/pkg/bin/script", "#!/bin/sh\n", 0755);
  const std::string prog = dist + "/pkg/bin/prog", script = dist + "/pkg/bin/script";
  r = run({"-I", "autostrip"}, {{"CORVANE_STRIPCMD", "false"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("ERROR: command `false " + prog + " > /dev/null 2>&1' returned 1.\n"));
  EXPECT_THAT(r.err, Not(HasSubstr(script + " >")));
  r = run({"-I", "autostrip"}, {{"CORVANE_STRIPCMD", "/nonexistent/strip"}});
  EXPECT_EQ(r.status, 1);
  for (const std::string& f : {prog, script}) {
    std::string line = "ERROR: command `/nonexistent/strip " + f + " > /dev/null 2>&1' returned 127.\n";
    EXPECT_THAT(r.err, HasSubstr(line)) << line << r.err;
  }
  r = run({"-I", "autostrip"}, {{"CORVANE_MCSCMD", "exit 1;"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("ERROR: command `exit 1; -d " + prog + " > /dev/null 2>&1' returned 1.\n"));
}

// Fifos are never opened (the run would wait forever); unreadable
// directories fail their step and nothing else.
TEST_F(HostileTree, SpecialFilesAndUnreadableDirectories) {
  write_file(dist + "/pkg/usr/man/man1/a.1", ".TH A 1\n");
  write_file(dist + "/pkg/usr/man/man2/b.2", ".TH B 2\n");
  write_file(dist + "/pkg/usr/info/a.info", "produced by makeinfo\n");
  write_file(dist + "/pkg/usr/share/info/b.info", "produced by makeinfo\n");
  testutil::make_dirs(dist + "/pkg/bin");
  for (const char* f : {"usr/man/man1/x.1", "usr/man/man1/y.1.gz", "usr/info/x.info", "bin/prog"})
    ASSERT_EQ(mkfifo((dist + "/pkg/" + f).c_str(), 0755), 0) << f;
  make_symlink("/dev/zero", dist + "/pkg/usr/man/man1/zero.1");
  make_symlink("/", dist + "/pkg/usr/info/root.info");
  make_symlink("self.info", dist + "/pkg/usr/info/self.info");
  write_file(outside + "/out.info", "produced by makeinfo\n");
  make_symlink(outside + "/out.info", dist + "/pkg/usr/info/out.info");
  chmod((dist + "/pkg/usr/man/man2").c_str(), 0311);
  chmod((dist + "/pkg/usr/share/info").c_str(), 0311);
  std::vector<std::string> a = {"60", testutil::bin_dir() + "/mkxmlpkg"};
  for (const std::string& s : args({"-I", "automan,autotexi,autostrip"})) a.push_back(s);
  auto r = testutil::run_unprivileged("/usr/bin/timeout", a, tmp.path(), options());
  if (!r) GTEST_SKIP() << "cannot run as an unprivileged user";
  EXPECT_NE(r->status, 124) << "timed out";
  EXPECT_EQ(r->out,
            "   Compressing info pages in pkg/usr/info ... done\n"
            "   Formatting man pages in pkg/usr/man/man1 ... done\n"
            "   Formatting man pages in pkg/usr/man/man2 ... done (failed with -4)\n"
            "   Compressing info pages in pkg/usr/share/info ... done (failed with -1)\n");
  EXPECT_EQ(tool_log(), "");
  EXPECT_EQ(list_tree(dist + "/pkg/usr/info"),
            "a.info.gz 0644\nout.info -> " + outside + "/out.info\nroot.info -> /\nself.info -> self.info\n"
            "x.info 0755\n");
  EXPECT_EQ(read_file(outside + "/out.info"), "produced by makeinfo\n");
  EXPECT_TRUE(testutil::exists(dist + "/pkg/usr/man/cat1/a.1.Z"));
}

}  // namespace
