// mkxmlpkg from end to end: real trees, the real program, the whole XML
// file compared and checked by xmllint.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "xml_expected.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::make_symlink;
using testutil::read_file;
using testutil::run_program;
using testutil::TempDir;
using testutil::write_file;


const std::string USR =
    "    <directory access=\"shared\"\n"
    "               name=\"/usr\"\n"
    "             owner=\"root\"\n"
    "             group=\"fax\"\n"
    "             mode=\"0775\">\n"
    "    </directory>\n";
const std::string USR_BIN =
    "    <directory access=\"shared\"\n"
    "               name=\"/usr/bin\"\n"
    "             mode=\"0775\">\n"
    "    </directory>\n";

// Well-formed and valid against the format's schema.
bool xmllint_accepts(const std::string& path) {
  const std::string errors = testutil::xml_schema_errors(path);
  if (!errors.empty()) ADD_FAILURE() << errors;
  return errors.empty();
}

std::string product(const std::string& code, const std::string& root, const std::string& desc,
                    const std::string& vendor = "") {
  return HEADER + "<product name=\"" + code + "\"\n         version=\"1.0\"\n         description=\"" +
         desc + "\"\n         root=\"" + root + "\"\n         vendor=\"" + vendor + "\">\n\n";
}

testutil::RunResult mkxmlpkg(const TempDir& base, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"-d", base.path(), "-P", "HELLO", "-V", "1.0", "-D",
                                   "Hello tools"};
  args.insert(args.end(), more.begin(), more.end());
  testutil::RunOptions o;
  o.env = {{"COLUMNS", "100000"}};  // one line per report
  return run_program("mkxmlpkg", args, o);
}

TEST(Mkxmlpkg, OnePackageWithOneProgram) {
  TempDir base;
  write_file(base / "dist/x-1.0/usr/bin/x", "#!/bin/sh\n", 0755);
  auto r = mkxmlpkg(base);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("INFO: all done. Please review and edit the generated files.\n"));
  EXPECT_EQ(read_file(base / "HELLO.xml"),
            product("HELLO", base.path(), "Hello tools") +
                "  <component name=\"hello\"\n"
                "             vendor=\"\"\n"
                "             version=\"1.0\"\n"
                "             description=\"Hello tools\">\n"
                "  <package name=\"X\"\n"
                "           description=\"Description of package `X'\">\n" +
                USR + USR_BIN +
                "\n"
                "    <file access=\"shared\"\n"
                "          phase=\"normal\"\n"
                "          name=\"/usr/bin/x\"\n"
                "          mode=\"0755\">\n"
                "    </file>\n"
                "\n"
                "  </package>\n"
                "\n"
                "  </component>\n"
                "\n"
                "</product>\n");
  EXPECT_TRUE(xmllint_accepts(base / "HELLO.xml"));
}

TEST(Mkxmlpkg, TheDemoProduct) {
  TempDir tmp;
  const std::string scratch = tmp / "demo";
  const std::string cmd = std::string("sh '") + CORVANE_SOURCE_DIR + "/examples/demo.sh' '" +
                          testutil::bin_dir() + "' '" + scratch + "' >'" + tmp / "out" + "' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(tmp / "out");
  const std::string out = read_file(tmp / "out");
  // The control file declares both packages, removes greet's doc directory
  // and has its prepare phase make hello's state directory.
  EXPECT_THAT(out, HasSubstr("INFO: processing package: GREET : 2 files, 5 directories.\n"
                             "INFO: processing package: HELLO : 6 files, 9 directories.\n"
                             "INFO: found 2 packages, totalling 8 files in 14 directories.\n"));
  EXPECT_THAT(out, HasSubstr("hello-1.0/usr/lib/libhello.so -> libhello.so.1\n"));
  const std::string xml = read_file(scratch + "/HELLO.xml");
  EXPECT_THAT(out, HasSubstr(xml)) << "the demo shows the file";
  // The layout is pinned down elsewhere; here what the example is for.
  for (const char* part :
       {"  <package name=\"GREET\"\n", "  <package name=\"HELLO\"\n",
        "    <file access=\"client\"\n          phase=\"normal\"\n"
        "          name=\"/etc/hello.conf\"\n          mode=\"0644\">\n",
        "    <link access=\"shared\"\n          name=\"/usr/bin/hi\"          "
        "target=\"/usr/bin/hello\">\n",
        "             name=\"/usr/lib/libhello.so\"\n"
        "             target=\"/usr/lib/libhello.so.1\">\n"})
    EXPECT_THAT(xml, HasSubstr(part)) << part;
  EXPECT_THAT(xml, Not(HasSubstr("man1")));
  EXPECT_TRUE(xmllint_accepts(scratch + "/HELLO.xml"));
}

TEST(Mkxmlpkg, ManualPageSourcesStayWithTheKeepOption) {
  TempDir base;
  write_file(base / "dist/x/usr/man/man1/x.1", ".TH X 1\n");
  write_file(base / "dist/x/usr/bin/x", "#!/bin/sh\n", 0755);
  auto r = mkxmlpkg(base);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string xml = read_file(base / "HELLO.xml");
  EXPECT_THAT(xml, Not(HasSubstr("/usr/man/man1")));
  EXPECT_THAT(xml, HasSubstr("name=\"/usr/man\""));

  r = mkxmlpkg(base, {"-m"});
  ASSERT_EQ(r.status, 0) << r.err;
  xml = read_file(base / "HELLO.xml");
  EXPECT_THAT(
      xml, HasSubstr("    <directory access=\"shared\"\n               name=\"/usr/man/man1\">\n"));
  EXPECT_THAT(xml, HasSubstr("          name=\"/usr/man/man1/x.1\">\n"));
}

TEST(Mkxmlpkg, NamesXmlCannotCarryAreErrorsAndNothingIsWritten) {
  TempDir base;
  write_file(base / "dist/x/usr/bin/x", "", 0755);
  write_file(base / "dist/x/usr/bin/bad\x01name", "", 0755);
  write_file(base / "dist/x/usr/bin/latin1-\xe9", "", 0755);
  auto r = mkxmlpkg(base);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("\nERROR: the file `/usr/bin/bad\\x01name' in package `X' cannot be "
                        "written to XML: its name is not UTF-8 text or holds control characters.\n"
                        "ERROR: the file `/usr/bin/latin1-\\xe9' in package `X' cannot be written "
                        "to XML: its name is not UTF-8 text or holds control characters.\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("all done")));
  EXPECT_THAT(testutil::list_tree(base.path()), Not(HasSubstr("HELLO")))
      << "neither the file nor a temporary one is left";
}

TEST(Mkxmlpkg, LinkToAnotherPackageIsAnErrorNamingItsDistPath) {
  TempDir base;
  write_file(base / "dist/b-1/usr/lib/libb.so.1", "");
  make_symlink("../../../b-1/usr/lib/libb.so.1", base / "dist/a-1/usr/lib/libb.so.1");
  write_file(base / "dist/a-1/usr/lib/liba.so.1", "");
  auto r = mkxmlpkg(base);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("\nERROR: the symbolic link `/usr/lib/libb.so.1' points to the target "
                        "`/b-1/usr/lib/libb.so.1', which was not found in the current package "
                        "(`A')."));
  EXPECT_FALSE(testutil::exists(base / "HELLO.xml"));
}

TEST(Mkxmlpkg, ControlFileDependenciesVerbatimAndFlags) {
  TempDir base;
  write_file(base / "dist/hello-1.0/usr/bin/hello", "#!/bin/sh\n", 0755);
  write_file(base / "dist/hello-1.0/usr/lib/hello/data.jar", "");
  write_file(base / "hello.ctl",
             "vendor(\"ACME & Sons\");\n"
             "verbatim(\"<license name='free'/>\");\n"
             "component(\"hello\", \"1.0\", \"Hello tools\") {\n"
             "  dependency(\"libc\", \"C library\");\n"
             "  replaces(\"oldhello\", \"The old one\");\n"
             "  subpackage(\"HELLO\");\n"
             "}\n"
             "package(\"/hello-1.0\", \"Hello <package>\", \"HELLO\") {\n"
             "  requires(\"BASE\");\n"
             "  file(\"/usr/bin/hello\") { flags(\"main\"); addexport(\"/opt/bin/hello\", early); }\n"
             "}\n");
  auto r = mkxmlpkg(base, {"-p", base / "hello.ctl"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string xml = read_file(base / "HELLO.xml");
  for (const char* part : {
           "         vendor=\"ACME &amp; Sons\">\n\n<license name='free'/>\n",
           "             description=\"Hello tools\">\n"
           "    <replaces>oldhello</replaces>\n"
           "    <dependency>libc</dependency>\n"
           "  <package name=\"HELLO\"\n"
           "           description=\"Hello &lt;package&gt;\">\n"
           "    <requires>BASE</requires>\n",
           // The leading directories of the export come after the scanned ones.
           "               name=\"/usr/lib/hello\">\n"
           "    </directory>\n"
           "    <directory access=\"shared\"\n"
           "               name=\"/opt\"\n"
           "             owner=\"root\"\n"
           "             group=\"root\">\n"
           "    </directory>\n"
           "    <directory access=\"shared\"\n"
           "               name=\"/opt/bin\">\n"
           "    </directory>\n\n",
           "          name=\"/usr/bin/hello\"\n"
           "          mode=\"0755\">\n"
           "        <export phase=\"early\"\n"
           "                dest=\"/opt/bin/hello\"/>\n"
           "        <flags>main</flags>\n",
           "          name=\"/usr/lib/hello/data.jar\">\n"
           "        <flags>nocompress</flags>\n"})
    EXPECT_THAT(xml, HasSubstr(part)) << part;
  EXPECT_TRUE(xmllint_accepts(base / "HELLO.xml"));
}

TEST(Mkxmlpkg, DependenciesWithoutDescriptionStopTheRun) {
  TempDir base;
  write_file(base / "dist/hello-1.0/usr/bin/hello", "#!/bin/sh\n", 0755);
  write_file(base / "hello.ctl",
             "component(\"hello\", \"1.0\", \"Hello tools\") {\n"
             "  dependency(\"libc\");\n"
             "  subpackage(\"HELLO\");\n"
             "}\n");
  auto r = mkxmlpkg(base, {"-p", base / "hello.ctl"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("\nERROR: In component `hello', the dependency `libc' lacks a description. "
                        "This is required by the `xml' backend driver. Please edit the control "
                        "file and add a description.\n"));
  EXPECT_FALSE(testutil::exists(base / "HELLO.xml"));
}

// The product code names the output file, whether -P or set() gave it.
TEST(Mkxmlpkg, AProductCodeThatWouldLeaveTheBaseDirectoryIsRefused) {
  TempDir base;
  write_file(base / "dist/x/usr/bin/x", "", 0755);
  write_file(base / "ctl", "set(\"product-code\", \"../set\");\n");
  const std::string refusal = "' (from option -P) cannot name an output file, because it contains "
                              "a `/'.\n";
  auto r = mkxmlpkg(base, {"-P", "../escaped"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("\nERROR: the product code `../escaped" + refusal));
  r = mkxmlpkg(base, {"-p", base / "ctl"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("\nERROR: the product code `../set" + refusal));
  EXPECT_THAT(testutil::list_tree(base.path()), Not(HasSubstr(".xml")));
  EXPECT_FALSE(testutil::exists(base / "../escaped.xml") || testutil::exists(base / "../set.xml"));
}

TEST(Mkxmlpkg, ALinkToTheRootDirectoryNamesTheRoot) {
  TempDir base;
  write_file(base / "dist/x/usr/bin/x", "", 0755);
  make_symlink("/", base / "dist/x/usr/root");
  auto r = mkxmlpkg(base, {"-W"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(read_file(base / "HELLO.xml"),
              HasSubstr("    <symlink access=\"shared\"\n             type=\"dir\"\n"
                        "             name=\"/usr/root\"\n             target=\"/\">\n"));
}

// In a dependency cycle neither component lists itself.
TEST(Mkxmlpkg, ADependencyCycleNeverListsAComponentInItself) {
  TempDir base;
  write_file(base / "dist/a/opt/a", "");
  write_file(base / "dist/b/opt/b", "");
  write_file(base / "ctl",
             "component(\"ca\", \"1.0\", \"A\") { subpackage(\"A\"); dependency(\"cb\", \"B part\"); }\n"
             "component(\"cb\", \"1.0\", \"B\") { subpackage(\"B\"); dependency(\"ca\", \"A part\"); }\n");
  auto r = mkxmlpkg(base, {"-p", base / "ctl"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string xml = read_file(base / "HELLO.xml");
  EXPECT_THAT(
      xml,
      HasSubstr("             description=\"A\">\n    <dependency>cb</dependency>\n  <package"));
  EXPECT_THAT(
      xml,
      HasSubstr("             description=\"B\">\n    <dependency>ca</dependency>\n  <package"));
}

}  // namespace
