// corvane-mcs on compiled objects and archives: deleting and appending to
// comment sections, and what it refuses.
#include "prep_fixture.hpp"

namespace {

using preptest::comments;
using preptest::compile;
using preptest::has_section;
using testutil::run_program;
using testutil::TempDir;

class Mcs : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    ASSERT_TRUE(compile("int f(int x) { return x + 1; }\n", "-c", obj));
    ASSERT_TRUE(compile("int g(int x) { return x - 1; }\n", "-c", tmp / "g.o"));
    gcc_comment = comments(obj);
    ASSERT_NE(gcc_comment, "");
  }
  testutil::RunResult mcs(const std::vector<std::string>& args) { return run_program("corvane-mcs", args); }

  TempDir tmp;
  std::string obj = tmp / "f.o";
  std::string gcc_comment;
};

TEST_F(Mcs, AppendDeleteAndReplaceOnAnObject) {
  auto r = mcs({"-a", "first", "-a", "it's second", obj});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(comments(obj), gcc_comment + "first\nit's second\n");
  r = mcs({"-d", obj});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(has_section(obj, ".comment"));
  r = mcs({"-a", "fresh", obj});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(comments(obj), "fresh\n");
  r = mcs({"-d", "-aonly", obj, tmp / "g.o"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(comments(obj), "only\n");
  EXPECT_EQ(comments(tmp / "g.o"), "only\n");
  EXPECT_EQ(preptest::shell_output("nm " + obj), "0000000000000000 T f\n");
}

TEST_F(Mcs, ArchiveMembersKeepTheirOwnSectionsAndTheIndexIsRebuilt) {
  std::string archive = tmp / "libfg.a";
  ASSERT_EQ(run_program("corvane-mcs", {"-a", "f only", obj}).status, 0);
  ASSERT_EQ(std::system(("ar rcs " + archive + " " + obj + " " + tmp / "g.o").c_str()), 0);
  std::string data = tmp / "data.txt";
  testutil::write_file(data, "odd");  // an odd-sized member that is no object
  ASSERT_EQ(std::system(("ar q " + archive + " " + data).c_str()), 0);
  auto r = mcs({"-a", "added", archive});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(comments(archive), gcc_comment + "f only\nadded\n" + gcc_comment + "added\n");
  EXPECT_EQ(preptest::shell_output("nm -s " + archive + " | sed -n 2,4p"),
            "Archive index:\nf in f.o\ng in g.o\n");
  EXPECT_EQ(preptest::shell_output("ar p " + archive + " data.txt"), "odd");
  r = mcs({"-d", archive});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(comments(archive), "");
  EXPECT_EQ(preptest::shell_output("ar t " + archive), "f.o\ng.o\ndata.txt\n");
}

TEST_F(Mcs, NamesBeginningWithADashOrAtAreFilesNotOptions) {
  std::rename(obj.c_str(), (tmp / "-f.o").c_str());
  // objcopy would read the options in `opts` for an argument "@opts".
  std::rename((tmp / "g.o").c_str(), (tmp / "@opts").c_str());
  testutil::write_file(tmp / "opts", "--help\n");
  testutil::RunOptions o;
  o.cwd = tmp.path();
  auto r = run_program("corvane-mcs", {"-d", "-a", "named", "--", "-f.o", "@opts"}, o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(comments(tmp / "-f.o"), "named\n");
  EXPECT_EQ(comments(tmp / "@opts"), "named\n");
}

TEST_F(Mcs, WrongUsageAndFilesThatAreNoObjects) {
  for (auto args : {std::vector<std::string>{}, {obj}, {"-x", obj}, {"-a"}}) {
    auto r = mcs(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "usage: corvane-mcs [-d] [-a text]... file...\n");
  }
  testutil::write_file(tmp / "script", "#!/bin/sh\n", 0755);
  auto r = mcs({"-d", tmp / "script", obj});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "corvane-mcs: `" + tmp / "script" + "' is neither an ELF file nor an archive\n");
  EXPECT_EQ(testutil::read_file(tmp / "script"), "#!/bin/sh\n");
  EXPECT_FALSE(has_section(obj, ".comment"));
}

}  // namespace
