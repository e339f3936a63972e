// The control file through the real program: the example product's control
// file, and malformed control files, each of which must end the run with a
// message and status 1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
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
  EXPECT_THAT(r.err, HasSubstr("INFO: 2 packages, 1 component defined in control file.\n"
                               "INFO: 4 files, 1 directory defined in control file.\n"));
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
    EXPECT_THAT(xml, HasSubstr(part)) << part << "\nin\n" << xml;
  EXPECT_THAT(xml, Not(HasSubstr("/usr/share/doc")));
  EXPECT_THAT(xml, Not(HasSubstr("hello.1")));
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
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "");
  }
}

// A base directory with one package of one file, and the options every
// run below gives; `ctl` is the control file.
struct Product {
  TempDir base;
  Product() { write_file(base / "dist/pkg/usr/bin/tool", "#!/bin/sh\n", 0755); }
  std::vector<std::string> args(const std::string& ctl) const {
    return {"-d", base.path(), "-P", "P", "-V", "1", "-D", "d", "-p", ctl};
  }
  testutil::RunResult run(const std::string& text, std::vector<std::string> extra = {},
                          testutil::RunOptions opt = {}) const {
    write_file(base / "bad.ctl", text);
    std::vector<std::string> a = args(base / "bad.ctl");
    a.insert(a.begin(), extra.begin(), extra.end());
    opt.env["COLUMNS"] = "1000";  // each message on one line
    return run_program("mkxmlpkg", a, opt);
  }
};

// A product whose package holds /usr/bin/hello and an empty /usr/share,
// read with control file `ctl` by each backend in turn; every output file
// and message, with the base directory written as BASE.
struct LinkProduct {
  static constexpr const char* outputs[] = {"P.xml", "input/prototype", "input/p-HELLO.pkg"};
  TempDir base;
  explicit LinkProduct(const std::string& ctl) {
    write_file(base / "dist/hello/usr/bin/hello", "#!/bin/sh\n", 0755);
    testutil::make_dirs(base / "dist/hello/usr/share");
    testutil::make_dirs(base / "input");
    write_file(base / "links.ctl", ctl);
  }
  std::string run(const std::string& program, const std::vector<std::string>& extra) const {
    std::vector<std::string> a = {"-d", base.path(), "-P", "P", "-V", "1", "-D", "d",
                                  "-p", base / "links.ctl", "-W"};
    a.insert(a.end(), extra.begin(), extra.end());
    for (const char* f : outputs) std::remove((base / f).c_str());
    auto r = run_program(program, a);
    std::string all = "status " + std::to_string(r.status) + "\n" + r.err;
    for (const char* f : outputs)
      if (testutil::exists(base / f)) all += "\n== " + std::string(f) + "\n" + testutil::read_file(base / f);
    for (std::size_t at; (at = all.find(base.path())) != std::string::npos;)
      all.replace(at, base.path().size(), "BASE");
    return all;
  }
};

struct Backend {
  const char* program;
  std::vector<std::string> options;
  std::vector<std::string> expected;  ///< what the output holds for the created links
};

// A link the control file creates is written as a link, by every backend,
// exactly as the same link found in the tree and declared with symlink().
TEST(CtlEndToEnd, CreatedLinksAreWrittenAsTheLinksTheTreeWouldHold) {
  LinkProduct created(
      "package(\"/hello\", \"Hello\", \"HELLO\") {\n"
      "  create symlink(file, \"/usr/bin/hi\", \"hello\") { }\n"
      "  create symlink(file, \"/usr/bin/hey\", \"/usr/bin/hello\") { }\n"
      "  create symlink(directory, \"/usr/share/hello\", \"../bin\") { }\n"
      "}\n");
  LinkProduct found(
      "package(\"/hello\", \"Hello\", \"HELLO\") {\n"
      "  symlink(file, \"/usr/bin/hi\") { }\n"
      "  symlink(file, \"/usr/bin/hey\") { }\n"
      "  symlink(directory, \"/usr/share/hello\") { }\n"
      "}\n");
  testutil::make_symlink("hello", found.base / "dist/hello/usr/bin/hi");
  testutil::make_symlink("/usr/bin/hello", found.base / "dist/hello/usr/bin/hey");
  testutil::make_symlink("../bin", found.base / "dist/hello/usr/share/hello");
  const Backend backends[] = {
      {"mkxmlpkg", {},
       {"    <symlink access=\"shared\"\n             phase=\"normal\"\n             type=\"file\"\n"
        "             name=\"/usr/bin/hi\"\n             target=\"/usr/bin/hello\">\n",
        "             name=\"/usr/bin/hey\"\n             target=\"/usr/bin/hello\">\n",
        "             type=\"dir\"\n             name=\"/usr/share/hello\"\n"
        "             target=\"/usr/bin\">\n"}},
      {"mkpkg", {"-U", "application"},
       {"s HELLO /usr/bin/hi=/usr/bin/hello\n", "s HELLO /usr/bin/hey=/usr/bin/hello\n",
        "s HELLO /usr/share/hello=/usr/bin\n"}},
      {"mkkest", {"-E", "Vendor"},
       {"SYML:HELLO:SERVER:./usr/bin/hi:\n\ttarget = ./usr/bin/hello\n",
        "SYML:HELLO:SERVER:./usr/bin/hey:\n\ttarget = ./usr/bin/hello\n",
        "SYML:HELLO:SERVER:./usr/share/hello:\n\ttarget = ./usr/bin\n"}},
  };
  for (const Backend& b : backends) {
    SCOPED_TRACE(b.program);
    const std::string out = created.run(b.program, b.options);
    EXPECT_EQ(out.rfind("status 0\n", 0), 0u) << out;
    for (const std::string& part : b.expected)
      EXPECT_THAT(out, HasSubstr(part)) << part << "\nin\n" << out;
    EXPECT_EQ(out, found.run(b.program, b.options));
  }
}

TEST(CtlEndToEnd, ScriptsRunNoMacroNameAndNoValueAsShellCode) {
  Product p;
  TempDir outside;
  const std::string canary = outside / "canary";
  auto r = p.run("define(\"X;touch " + canary + "1;Y\", \"v\")\n"
                 "define(\"$(touch " + canary + "4)\", \"v\")\n"
                 "define(\"Q\", \"'; touch " + canary + "2; '\")\n"
                 "define(\"_ok9\", \"v\") define(\"9no\", \"v\") define(\"\", \"v\")\n"
                 "script(\"EOF\", EOF\necho \"ran $Q\"\nset | grep -E '^(_ok9|9no|A|B)='\nEOF\n)\n"
                 "sh(\"echo 'sh ran'\")\n",
                 {"-M", "A B=1", "-M", "touch " + canary + "3 #=1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ran '; touch " + canary + "2; '\n_ok9=v\nsh ran\n");
  EXPECT_THAT(r.err, Not(HasSubstr("not found")));
  EXPECT_EQ(testutil::list_tree(outside.path()), "");
}

TEST(CtlEndToEnd, ExpansionPastOneMebibyteEndsTheRun) {
  Product p;
  std::string text = "define(\"M0\", \"x\")\n";
  for (int i = 1; i <= 40; ++i) {
    const std::string prev = "${M" + std::to_string(i - 1) + "}";
    text += "define(\"M" + std::to_string(i) + "\", \"" + prev + prev + "\")\n";
  }
  auto r = p.run(text);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("\nERROR: bad.ctl line 22: string expands to more than 1048576 bytes.\n"));
  EXPECT_FALSE(testutil::exists(p.base / "P.xml"));
}

TEST(CtlEndToEnd, RelativeControlFileIsReadFromTheStartDirectory) {
  Product p;
  TempDir start;
  write_file(start / "ctl/my.cf", "include(\"inc.cf\");\nprint(\"second pass\")\n");
  write_file(start / "ctl/inc.cf", "define(\"FROM_INC\", \"1\")\n");
  testutil::RunOptions in_start;
  in_start.cwd = start.path();
  std::vector<std::string> a = p.args("ctl/my.cf");
  auto r = run_program("mkxmlpkg", a, in_start);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "   second pass\n");
  EXPECT_TRUE(testutil::exists(p.base / "P.xml"));
}

TEST(CtlEndToEnd, ModeWithDigitsEightOrNineIsAnError) {
  Product p;
  auto r = p.run("package(\"/pkg\", \"d\", \"PKG\") {\n  file(\"/usr/bin/tool\") {\n"
                 "    mode(759)\n  }\n}\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(
      r.err, HasSubstr("\nERROR: bad.ctl line 3: invalid mode `759': a mode takes the octal digits "
                       "0 to 7 only.\n"));
  EXPECT_FALSE(testutil::exists(p.base / "P.xml"));
  r = p.run("package(\"/pkg\", \"d\", \"PKG\") {\n  file(\"/usr/bin/tool\") { mode(751) }\n}\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(testutil::read_file(p.base / "P.xml"), HasSubstr("mode=\"0751\""));
}

TEST(CtlEndToEnd, HostileControlFilesEndCleanly) {
  Product p;
  write_file(p.base / "a.ctl", "include(\"b.ctl\");\n");
  write_file(p.base / "b.ctl", "include(\"a.ctl\");\n");
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "ifndef(\"NOPE\")\n";
  deep += "print(\"deep\")\n";
  for (int i = 0; i < 100000; ++i) deep += "endif\n";
  std::string garbage(1 << 20, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919) >> 3);
  struct Case {
    std::string text;
    int status;
    std::string message;
  } cases[] = {
      {"include(\"a.ctl\");\n", 1,
       "ERROR: b.ctl line 1: include file `" + p.base / "a.ctl" +
           "' is already being read; a file cannot include itself.\n"},
      {deep, 0, "   deep\n"},
      {"#" + std::string(1 << 20, 'c') + "\nprint(\"after\")\n", 0, "   after\n"},
      {"print(\"" + std::string(1 << 20, 's') + "\")\n", 1,
       "ERROR: bad.ctl line 1: token longer than 65535 characters\n"},
      {garbage, 1, "ERROR: failed to parse `" + p.base / "bad.ctl" + "'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto r = p.run(c.text);
    EXPECT_EQ(r.status, c.status) << r.err.substr(0, 2000);
    EXPECT_THAT((c.status ? r.err : r.out), HasSubstr(c.message)) << r.err.substr(0, 2000);
  }
}

TEST(CtlEndToEnd, AScriptThatCannotBeWrittenNamesTheFailedCall) {
  Product p;
  write_file(p.base / "big.ctl",
             "script(\"EOF\", EOF\n" + std::string(60000, '#') + "\nEOF\n)\nprint(\"after\")\n");
  // The program may write files of 512 bytes only; its messages go through
  // a pipe, which the limit does not reach.
  std::string run = "ulimit -f 1; trap '' XFSZ; exec '" + testutil::bin_dir() + "/mkxmlpkg'";
  for (const std::string& a : p.args(p.base / "big.ctl")) run += " '" + a + "'";
  const std::string cmd = "( (" + run + "); echo $? > '" + p.base / "status" + "' ) 2>&1 | cat > '" +
                          p.base / "err" + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(testutil::read_file(p.base / "status"), "1\n");
  const std::string err = testutil::unwrap(testutil::read_file(p.base / "err"));
  EXPECT_THAT(err, HasSubstr("fwrite: File too large\n"));
  const std::string msg = "ERROR: big.ctl line 4: failed to create temp script file `";
  auto at = err.find(msg);
  ASSERT_NE(at, std::string::npos) << err;
  at += msg.size();
  const std::string name = err.substr(at, err.find('\'', at) - at);
  EXPECT_EQ(name.rfind("/tmp/corvane", 0), 0u) << name;
  EXPECT_FALSE(testutil::exists(name)) << name;
  EXPECT_THAT(err, Not(HasSubstr("after")));
}

}  // namespace
