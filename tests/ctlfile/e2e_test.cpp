// The control file through the real program: the example product's control
// file, and malformed control files, each of which must end the run with a
// message and status 1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/testutil.hpp"

namespace {

using testutil::run_program;
using testutil::TempDir;
using testutil::write_file;

std::string example_dir() { return std::string(CORVANE_SOURCE_DIR) + "/examples"; }

TEST(CtlEndToEnd, ExampleProduct) {
  TempDir base;
  ASSERT_EQ(std::system(("cp -RP '" + example_dir() + "/hello/dist' '" + base.path() + "/dist'").c_str()), 0);
  auto r = run_program("mkxmlpkg", {"-d", base.path(), "-P", "HELLO", "-V", "1.0", "-D", "Hello tools",
                                    "-M", "RELEASE=7", "-p", example_dir() + "/hello.ctl"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Executing prep phase `state directory' ...\n"
            "Done with prep phase `state directory' ...\n"
            "   control file read: HELLO 1.0 release 7\n");
  EXPECT_NE(r.err.find("INFO: 2 packages, 1 component defined in control file.\n"
                       "INFO: 4 files, 1 directory defined in control file.\n"),
            std::string::npos)
      << r.err;
  const std::string xml = testutil::read_file(base / "HELLO.xml");
  for (const char* part : {
           "  <package name=\"HELLO\"\n           description=\"Hello tools, release 7\">\n"
           "    <!-- HELLO: built from /hello-1.0 -->\n",
           "    <directory access=\"client\"\n               name=\"/var/hello\">\n",
           "    <file access=\"client\"\n          phase=\"normal\"\n          name=\"/etc/hello.conf\"\n"
           "          mode=\"0644\">\n",
           "    <file access=\"shared\"\n          phase=\"early\"\n"
           "          name=\"/usr/lib/libhello.so.1\"\n          mode=\"0555\">\n",
           "  <package name=\"GREET\"\n           description=\"Greetings for the hello tools, release "
           "7\">\n    <requires>HELLO</requires>\n",
       })
    EXPECT_NE(xml.find(part), std::string::npos) << part << "\nin\n" << xml;
  EXPECT_EQ(xml.find("/usr/share/doc"), std::string::npos);
  EXPECT_EQ(xml.find("hello.1"), std::string::npos);
  EXPECT_EQ(std::system(("xmllint --noout '" + base / "HELLO.xml" + "'").c_str()), 0);
}

TEST(CtlEndToEnd, MalformedControlFilesEndWithStatusOne) {
  TempDir base;
  testutil::make_dirs(base / "dist/pkg");
  write_file(base / "self.ctl", "include(\"self.ctl\");\n");
  for (int i = 1; i <= 16; ++i)
    write_file(base / ("n" + std::to_string(i) + ".ctl"),
               "include(\"n" + std::to_string(i + 1) + ".ctl\");\n");
  struct Case {
    std::string text, message;
  } cases[] = {
      {"print(\"open", "ctl line 1: end of file in string constant"},
      {"print(\"a\\x\")", "ctl line 1: Illegal escape sequence \\x"},
      {"want(2,1,09)", "ctl line 1: Illegal character in octal number"},
      {"want(2.1)", "ctl line 1: Illegal character in octal number"},
      {"ifdef(\"A\")\nendif;", "ctl line 2: bad separator 59 near token 'endif'"},
      {"frobnicate(\"x\")", "ctl line 1: bad token 'frobnicate'"},
      {"else\n", "ctl line 1: unbalanced ELSE"},
      {"ifndef(\"A\") endif endif", "ctl line 1: unbalanced ENDIF"},
      {"include(\"self.ctl\");", "self.ctl line 1: include file `" + base / "self.ctl" +
                                     "' is already being read; a file cannot include itself."},
      {"include(\"n1.ctl\");", "n15.ctl line 1: max nesting depth of 16 exceeded for `n16.ctl'."},
      {"include(\"missing.ctl\");", "could not open include file '" + base / "missing.ctl" + "'."},
      {"define(\"A\", \"" + std::string(70000, 'x') + "\")", "token longer than 65535 characters"},
      {"script(\"" + std::string(24, 'D') + "\", x)", "is longer than 23 characters"},
      {std::string("print(\"a\")\n\0", 12), "ctl line 2: syntax error, unexpected $undefined"},
      {"\x7f" "ELF\x02\x01\x01", "ctl line 1: syntax error, unexpected $undefined"},
      {"package(\"/pkg\", \"d\", \"p\") { file(\"/x\") { } }", "syntax error, unexpected '}'"},
  };
  testutil::RunOptions wide;
  wide.env["COLUMNS"] = "1000";  // each message on one line
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    write_file(base / "bad.ctl", c.text);
    auto r = run_program("mkxmlpkg", {"-d", base.path(), "-P", "P", "-V", "1", "-D", "d", "-p",
                                      base / "bad.ctl"}, wide);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
