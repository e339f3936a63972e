// Info compression: which files of a directory count as Info files and are
// gzipped, and the two failures that end the run.
#include "prep/texi.hpp"

#include "prep_fixture.hpp"

namespace {

using testutil::list_tree;
using testutil::TempDir;
using testutil::write_file;

using InfoDirectory = FreshRun;

TEST(InfoFile, RecognisedByMakeinfoMarksOrNodeSeparatorsInTheFirst8K) {
  TempDir tmp;
  auto info = [&](const std::string& text) {
    write_file(tmp / "f", text);
    return is_infofile((tmp / "f").c_str());
  };
  EXPECT_TRUE(info("This is x.info, produced by makeinfo version 6.8 from x.texi.\n"));
  EXPECT_TRUE(info("produced by Makeinfo\n"));
  EXPECT_TRUE(info("makeinfo version 4\n"));
  EXPECT_TRUE(info("head\n\x1f\nFile: x.info,  Node: Top\n"));
  EXPECT_TRUE(info("\x1f\nIndirect:\nx.info-1: 100\n"));
  EXPECT_TRUE(info("#\nFile: x.info\n"));
  EXPECT_FALSE(info("plain notes\nFile: x\n"));
  EXPECT_FALSE(info(""));
  EXPECT_FALSE(info(std::string(8192, 'x') + "produced by makeinfo"));
  EXPECT_TRUE(info(std::string(8000, 'x') + "produced by makeinfo"));
  EXPECT_FALSE(info(std::string("binary\0", 7) + "produced by makeinfo"));
  EXPECT_FALSE(is_infofile((tmp / "missing").c_str()));
  EXPECT_FALSE(is_infofile(tmp.path().c_str()));
}

TEST_F(InfoDirectory, InfoFilesAreGzippedAndEverythingElseStays) {
  TempDir tmp;
  std::string dir = tmp / "info";
  write_file(dir + "/x.info", "This is x.info, produced by makeinfo version 6.8.\n\x1f\nIndirect:\n");
  write_file(dir + "/x.info-1", "\x1f\nFile: x.info,  Node: Top\n");
  write_file(dir + "/dir", "This is the file .../info/dir, which contains the\ntopmost node.\n\x1f\nFile: dir\n");
  write_file(dir + "/notes.txt", "nothing to see\n");
  write_file(dir + "/old.info.gz", "produced by makeinfo\n");
  write_file(dir + "/it's here.info", "produced by makeinfo\n");
  write_file(dir + "/.hidden", "produced by makeinfo\n");
  testutil::make_dirs(dir + "/sub.info");
  testutil::make_symlink("x.info", dir + "/link.info");
  EXPECT_EQ(texi_directory(dir.c_str()), 0);
  const std::string after =
      ".hidden 0644\n"
      "dir.gz 0644\n"
      "it's here.info.gz 0644\n"
      "link.info -> x.info\n"
      "notes.txt 0644\n"
      "old.info.gz 0644\n"
      "sub.info/ 0755\n"
      "x.info-1.gz 0644\n"
      "x.info.gz 0644\n";
  EXPECT_EQ(list_tree(dir), after);
  EXPECT_EQ(preptest::shell_output("gzip -dc " + dir + "/x.info-1.gz"), "\x1f\nFile: x.info,  Node: Top\n");
  EXPECT_EQ(texi_directory((tmp.path() + "/info/").c_str()), 0);
  EXPECT_EQ(list_tree(dir), after);
}

TEST_F(InfoDirectory, FailuresEndTheRunOrReturnMinusOne) {
  TempDir tmp;
  write_file(tmp / "file", "not a directory\n");
  EXPECT_EQ(texi_directory((tmp / "file").c_str()), -1);

  testutil::CaptureFd err;
  diag.columns = 1000;  // one line per message
  int status = -1;
  try {
    texi_directory((tmp / "missing").c_str());
  } catch (const run_exit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 1);
  // gzip refuses to replace an existing compressed file.
  write_file(tmp / "info/x.info", "produced by makeinfo\n");
  write_file(tmp / "info/x.info.gz", "older\n");
  status = -1;
  try {
    texi_directory((tmp / "info").c_str());
  } catch (const run_exit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 1);
  // Reported as every error is, the names escaped.
  EXPECT_EQ(err.text(), "\nERROR: failed to get full path for '" + tmp / "missing" + "'\n" +
                            "ERROR: command '" + tmp / "info/x.info" + "' returned 2\n");
  EXPECT_EQ(diag.errors, 2);
}

// A name with dots and control characters in it is shown whole and safe:
// never split at its dots, and no byte of it reaches the terminal raw.
TEST_F(InfoDirectory, NamesInMessagesAreKeptWholeAndEscaped) {
  TempDir tmp;
  const std::string odd = tmp / "a\x1b[2J/../../..";
  testutil::CaptureFd err;
  int status = -1;
  try {
    texi_directory(odd.c_str());
  } catch (const run_exit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.text(), "\nERROR: failed to get full path for\n    '" + tmp / "a\\x1b[2J/../../.." + "'\n");
}

}  // namespace
