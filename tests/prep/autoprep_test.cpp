// The preparation walk: which files get which tool runs under which
// requests, what the master switches and -I do, removed paths, links, the
// progress lines; and a run of the real tools on compiled objects.
#include <gmock/gmock.h>

#include "prep_fixture.hpp"

namespace {

using preptest::PrepRun;
using ::testing::HasSubstr;
using testutil::make_symlink;
using testutil::write_file;

class AutoprepTools : public PrepRun {
 protected:
  void SetUp() override {
    PrepRun::SetUp();
    write_file(dist + "/pkg/bin/prog", "exe", 0755);
    write_file(dist + "/pkg/bin/script", "exe", 0700);
    write_file(dist + "/pkg/lib/libx.so.1", "so");
    write_file(dist + "/pkg/lib/liby.so", "so");
    write_file(dist + "/pkg/lib/z.dll", "dll");
    write_file(dist + "/pkg/lib/libx.a", "ar");
    write_file(dist + "/pkg/obj/x.o", "obj");
    write_file(dist + "/pkg/share/data", "data");
    write_file(dist + "/pkg/share/x.so.d/readme", "data");
    make_symlink("prog", dist + "/pkg/bin/alink");
  }

  /// The log of running `tools` on each of `files` (under pkg/), with the
  /// archive step after each archive of `archives`.
  static std::string runs(std::initializer_list<const char*> tools, std::initializer_list<const char*> files,
                          const std::string& archives = "lib/libx.a") {
    std::string r;
    for (const char* f : files) {
      for (const char* t : tools) r += std::string(t) + " DIST/pkg/" + f + "\n";
      if (archives == f) r += std::string("ar -ts DIST/pkg/") + f + "\n";
    }
    return r;
  }
};

TEST_F(AutoprepTools, StripRequestWithoutControlFileStripsAndDeletesComments) {
  EXPECT_EQ(prepare(-1, -1, 2), "");
  EXPECT_EQ(tool_log(), runs({"strip", "mcs -d"}, {"bin/prog", "bin/script", "lib/libx.a", "lib/libx.so.1",
                                                   "lib/liby.so", "lib/z.dll", "obj/x.o"}));
}

TEST_F(AutoprepTools, SwitchesNotNamedByIRunNothingWithoutControlFile) {
  // -I automan: the other switches stay -1; no list at all gives 0.
  EXPECT_EQ(prepare(-1, -1, -1), "");
  EXPECT_EQ(prepare(0, 0, 0), "");
  opts.autostrip = 1;
  EXPECT_EQ(prepare(1, 1, 1), "");
  EXPECT_EQ(tool_log(), "");
}

TEST_F(AutoprepTools, ControlFileRequestsKeepTheirBits) {
  opts.ctlfile = tmp / "prod.ctl";
  prepare(0, 0, stripreq::delete_comment);
  EXPECT_EQ(tool_log(), runs({"mcs -d"}, {"bin/prog", "bin/script", "lib/libx.a", "lib/libx.so.1",
                                          "lib/liby.so", "lib/z.dll", "obj/x.o"}));
  opts.autostrip = 0;
  prepare(0, 0, stripreq::run | stripreq::delete_comment, "v1");
  EXPECT_EQ(tool_log(), "");
}

TEST_F(AutoprepTools, CommentTextIsOneShellWordAndVerboseLinesShowIt) {
  opts.ctlfile = tmp / "prod.ctl";
  set_env("CORVANE_VERBOSE", "");
  std::remove((dist + "/pkg/bin/script").c_str());
  std::string out = prepare(0, 0, stripreq::run, "it's $HOME");
  std::string shown;
  for (const char* f : {"bin/prog", "lib/libx.a", "lib/libx.so.1", "lib/liby.so", "lib/z.dll", "obj/x.o"})
    shown += std::string("   stripping pkg/") + f + "\n   mcs -a 'it's $HOME' pkg/" + f + "\n";
  EXPECT_EQ(out, shown);
  EXPECT_EQ(tool_log(), runs({"strip", "mcs -a it's $HOME"}, {"bin/prog", "lib/libx.a", "lib/libx.so.1",
                                                              "lib/liby.so", "lib/z.dll", "obj/x.o"}));
}

TEST_F(AutoprepTools, McsBugLeavesArchivesAndObjectsAloneForTheRestOfTheRun) {
  set_env("CORVANE_MCSBUG", "");
  write_file(dist + "/pkg/lib/exec.a", "ar", 0755);
  prepare(-1, -1, 2);
  unset_env("CORVANE_MCSBUG");
  prepare(-1, -1, 2);
  std::string once = runs({"strip", "mcs -d"}, {"bin/prog", "bin/script", "lib/exec.a", "lib/libx.so.1",
                                                "lib/liby.so", "lib/z.dll"}, "");
  EXPECT_EQ(tool_log(), once + once);
}

TEST_F(AutoprepTools, RemovedPathsAndLinksAreNotPrepared) {
  write_file(dist + "/pkg/usr/src/tool", "exe", 0755);
  write_file(dist + "/pkg/usr/srcbin/tool", "exe", 0755);
  write_file(dist + "/pkg/usr/src/man/man1/x.1", "page\n");
  write_file(tmp / "outside/exe", "exe", 0755);
  make_symlink(tmp / "outside", dist + "/pkg/linked");
  add_strlist("/pkg/usr/src/", 0, model.removes);
  add_strlist("/pkg/lib", 0, model.removes);
  add_strlist("/pkg/obj/x.o", 0, model.removes);
  add_strlist("/pkg/share", 0, model.removes);
  EXPECT_EQ(prepare(2, -1, 2), "");
  EXPECT_EQ(tool_log(), runs({"strip", "mcs -d"}, {"bin/prog", "bin/script", "usr/srcbin/tool"}));
  EXPECT_TRUE(testutil::exists(dist + "/pkg/usr/src/man/man1/x.1"));
}

TEST_F(PrepRun, ManualPageAndInfoDirectoriesAreFormattedAndCompressed) {
  write_file(dist + "/pkg/usr/man/man1/x.1", ".TH X 1\n.SH NAME\nx \\- a page\n");
  write_file(dist + "/pkg/usr/share/man/de/man1/y.1", ".TH Y 1\n");
  write_file(dist + "/pkg/usr/share/info/x.info", "This is x.info, produced by makeinfo version 6.8.\n");
  write_file(dist + "/pkg/usr/texinfo/y.info", "\x1f\nFile: y.info\n");
  write_file(dist + "/pkg/usr/manuals/man1/z.1", "not under a man directory\n");
  EXPECT_EQ(prepare(2, 2, -1),
            "   Formatting man pages in pkg/usr/man/man1 ... done\n"
            "   Compressing info pages in pkg/usr/share/info ... done\n"
            "   Formatting man pages in pkg/usr/share/man/de/man1 ... done\n"
            "   Compressing info pages in pkg/usr/texinfo ... done\n");
  EXPECT_EQ(testutil::list_tree(dist + "/pkg/usr"),
            "man/ 0755\n"
            "man/cat1/ 0755\n"
            "man/cat1/x.1.Z 0644\n"
            "man/man1/ 0755\n"
            "man/man1/x.1.Z 0644\n"
            "manuals/ 0755\n"
            "manuals/man1/ 0755\n"
            "manuals/man1/z.1 0644\n"
            "share/ 0755\n"
            "share/info/ 0755\n"
            "share/info/x.info.gz 0644\n"
            "share/man/ 0755\n"
            "share/man/de/ 0755\n"
            "share/man/de/cat1/ 0755\n"
            "share/man/de/cat1/y.1.Z 0644\n"
            "share/man/de/man1/ 0755\n"
            "share/man/de/man1/y.1.Z 0644\n"
            "texinfo/ 0755\n"
            "texinfo/y.info.gz 0644\n");
  std::string page = preptest::shell_output("gzip -dc " + dist + "/pkg/usr/man/cat1/x.1.Z");
  EXPECT_THAT(page, HasSubstr("x - a page"));
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(PrepRun, MasterSwitchAndFailedDirectoriesWithAControlFile) {
  opts.ctlfile = tmp / "prod.ctl";
  opts.autotexi = 0;
  write_file(dist + "/pkg/man/man1/a.1", "page a\n");
  make_symlink("a.1", dist + "/pkg/man/man1/b.1");
  write_file(dist + "/pkg/man/man1/c.1", ".so b.1\n");
  write_file(dist + "/pkg/man/man2/d.2", "page d\n");
  write_file(dist + "/pkg/info/x.info", "produced by makeinfo\n");
  testutil::CaptureFd err;
  EXPECT_EQ(prepare(-1, 1, 0),
            "   Formatting man pages in pkg/man/man1 ... done (failed with -9)\n"
            "   Formatting man pages in pkg/man/man2 ... done\n");
  EXPECT_THAT(err.text(), HasSubstr("This confuses me."));
  EXPECT_TRUE(testutil::exists(dist + "/pkg/info/x.info"));
  EXPECT_TRUE(testutil::exists(dist + "/pkg/man/cat2/d.2.Z"));
  EXPECT_EQ(diag.errors, 1);
}

TEST_F(PrepRun, DirectoriesAboveTheDistDirectoryDoNotMakeItAManualTree) {
  dist = tmp / "man/base/dist";
  opts.distdir = dist;
  opts.distdirlen = dist.size();
  write_file(dist + "/pkg/mandates/f", "not a page\n");
  EXPECT_EQ(prepare(2, -1, -1), "");
  EXPECT_TRUE(testutil::exists(dist + "/pkg/mandates/f"));
}

// The real tools: strip, the comment-section helper and ar on objects
// compiled here.
TEST_F(PrepRun, RealToolsStripObjectsAndReworkTheirCommentSections) {
  for (const char* v : {"CORVANE_STRIPCMD", "CORVANE_MCSCMD", "CORVANE_ARCMD"}) unset_env(v);
  const std::string lib = "int f(int x) { return x + 1; }\n";
  const std::string main = "int f(int); int main(void) { return f(-1); }\n";
  ASSERT_TRUE(preptest::compile(main + lib, "-g", dist + "/pkg/bin/prog"));
  ASSERT_TRUE(preptest::compile(lib, "-g -shared -fPIC", dist + "/pkg/lib/libf.so.1"));
  ASSERT_TRUE(preptest::compile(lib, "-g -c", dist + "/pkg/lib/f.o"));
  ASSERT_TRUE(preptest::compile(main, "-c", tmp / "main.o"));
  std::string archive = dist + "/pkg/lib/libf.a";
  ASSERT_EQ(std::system(("ar rc " + archive + " " + dist + "/pkg/lib/f.o").c_str()), 0);
  ASSERT_TRUE(preptest::has_section(dist + "/pkg/bin/prog", ".symtab"));
  opts.ctlfile = tmp / "prod.ctl";
  prepare(0, 0, stripreq::run | stripreq::delete_comment, "Release 1.0");

  for (const char* f : {"bin/prog", "lib/libf.so.1"}) {
    std::string path = dist + "/pkg/" + f;
    EXPECT_FALSE(preptest::has_section(path, ".symtab")) << f;
    EXPECT_FALSE(preptest::has_section(path, ".debug_info")) << f;
    EXPECT_EQ(preptest::comments(path), "Release 1.0\n") << f;
  }
  EXPECT_EQ(std::system((dist + "/pkg/bin/prog").c_str()), 0);
  // Objects and archive members stay fit for linking, and the archive keeps its index.
  EXPECT_FALSE(preptest::has_section(dist + "/pkg/lib/f.o", ".debug_info"));
  EXPECT_EQ(preptest::comments(dist + "/pkg/lib/f.o"), "Release 1.0\n");
  EXPECT_EQ(preptest::comments(archive), "Release 1.0\n");
  EXPECT_EQ(preptest::shell_output("nm -s " + archive + " | sed -n 3p"), "f in f.o\n");
  std::string exe = tmp / "linked";
  std::string link = "gcc -o " + exe + " " + tmp / "main.o" + " " + archive + " && " + exe;
  EXPECT_EQ(std::system(link.c_str()), 0);
}

}  // namespace
