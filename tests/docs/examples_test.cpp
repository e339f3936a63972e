// The examples of the pages, run: every control file of corvane-control(5)
// on the tree that page shows, the XML example of corvane-xml(5), and the
// demo; every XML they make is checked against the schema.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>

#include <regex>

#include "docs_fixture.hpp"

namespace {

using docs::SourceBlock;
using ::testing::HasSubstr;
using ::testing::Not;
using testutil::RunResult;
using testutil::TempDir;

const std::string CONTROL = "corvane-control.5";

std::vector<SourceBlock> control_blocks() {
  return docs::source_blocks(testutil::read_file(docs::page_source(CONTROL)));
}

/// Runs one example control file of the page on a fresh copy of its tree,
/// as the page says to run it.
struct ExampleRun {
  TempDir base;
  RunResult result;

  explicit ExampleRun(const SourceBlock& example) {
    const std::vector<SourceBlock> blocks = control_blocks();
    for (const SourceBlock& b : blocks) {
      if (b.marks.count("example-tree")) docs::build_tree(base.path(), b.text);
      if (b.marks.count("file")) testutil::write_file(base / ("ctl/" + b.marks.at("file")), b.text);
    }
    const std::string ctl = base / ("ctl/" + example.marks.at("example") + ".ctl");
    testutil::write_file(ctl, example.text);
    std::vector<std::string> args = {"-d", base.path(), "-P", "HELLO", "-V", "1.0",
                                     "-D", "Hello tools"};
    // Without an options mark the page's general command line applies: -W.
    std::string options = example.marks.count("options") ? example.marks.at("options") : "-W";
    for (std::size_t at = 0; at < options.size();) {
      std::size_t end = options.find(' ', at);
      if (end == std::string::npos) end = options.size();
      args.push_back(options.substr(at, end - at));
      at = end + 1;
    }
    args.push_back("-p");
    args.push_back(ctl);
    testutil::RunOptions o;
    o.env = {{"COLUMNS", "100000"}};
    result = testutil::run_program("mkxmlpkg", args, o);
  }

  std::string xml() const { return testutil::read_file(base / "HELLO.xml"); }
};

TEST(ControlPageExamples, EveryBlockIsMarked) {
  int examples = 0;
  for (const SourceBlock& b : control_blocks()) {
    const bool marked = b.marks.count("example") || b.marks.count("file") ||
                        b.marks.count("example-tree") || b.marks.count("text");
    EXPECT_TRUE(marked) << "block at line " << b.line << " is not marked:\n" << b.text;
    examples += int(b.marks.count("example"));
  }
  EXPECT_GE(examples, 10);
}

TEST(ControlPageExamples, RunAsThePageSays) {
  const std::string page_text = docs::squeeze(docs::rendered(CONTROL));
  for (const SourceBlock& b : control_blocks()) {
    if (!b.marks.count("example")) continue;
    SCOPED_TRACE("example " + b.marks.at("example") + "\n" + b.text);
    ExampleRun run(b);
    if (b.marks.count("fails")) {
      const std::string message = b.marks.at("fails");
      EXPECT_EQ(run.result.status, 1) << run.result.err;
      EXPECT_THAT(testutil::unwrap(run.result.err), HasSubstr(message)) << run.result.err;
      EXPECT_THAT(page_text, HasSubstr(message)) << "the page does not say " << message;
      EXPECT_FALSE(testutil::exists(run.base / "HELLO.xml"));
    } else {
      ASSERT_EQ(run.result.status, 0) << run.result.err;
      EXPECT_EQ(testutil::xml_schema_errors(run.base / "HELLO.xml"), "");
    }
  }
}

SourceBlock example_named(const std::string& name) {
  for (const SourceBlock& b : control_blocks())
    if (b.marks.count("example") && b.marks.at("example") == name) return b;
  ADD_FAILURE() << "no example " << name;
  return {};
}

/// The start tag of the element whose name attribute is `path`.
std::string start_tag(const std::string& xml, const std::string& path) {
  const std::size_t at = xml.find("name=\"" + path + "\"");
  if (at == std::string::npos) return "";
  const std::size_t open = xml.rfind('<', at);
  return xml.substr(open, xml.find('>', at) + 1 - open);
}

TEST(ControlPageExamples, CompleteExampleDoesWhatThePageSays) {
  ExampleRun run(example_named("complete"));
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  // Clean without -W: no warning at all.
  EXPECT_THAT(run.result.err, Not(HasSubstr("WARNING")));
  const std::string xml = run.xml();
  EXPECT_EQ(testutil::xml_schema_errors(run.base / "HELLO.xml"), "");
  // Two components, greet depending on hello.
  EXPECT_THAT(xml, HasSubstr("<component name=\"hello\""));
  EXPECT_THAT(xml, HasSubstr("<component name=\"greet\""));
  EXPECT_THAT(xml, HasSubstr("<dependency>hello</dependency>"));
  // Junk removed by pattern, the documentation by path.
  for (const char* gone : {".orig", "hello~", ".bak", "/usr/share/doc"})
    EXPECT_THAT(xml, Not(HasSubstr(gone))) << gone;
  // Owners and modes from the control file, whoever owns the tree.
  for (const char* program : {"/usr/bin/hello", "/usr/bin/greet"}) {
    const std::string tag = start_tag(xml, program);
    EXPECT_THAT(tag, HasSubstr("owner=\"root\""));
    EXPECT_THAT(tag, HasSubstr("mode=\"0755\""));
  }
  EXPECT_THAT(start_tag(xml, "/usr/share/greet"), HasSubstr("owner=\"root\""));
  // Configuration files are client files.
  for (const char* conf : {"/etc/hello.conf", "/etc/greet.conf"}) {
    const std::string tag = start_tag(xml, conf);
    EXPECT_THAT(tag, HasSubstr("access=\"client\""));
    EXPECT_THAT(tag, HasSubstr("mode=\"0644\""));
  }
  // The library early; the second name of hello an export of it.
  const std::string lib = start_tag(xml, "/usr/lib/libhello.so.1");
  EXPECT_THAT(lib, HasSubstr("phase=\"early\""));
  EXPECT_THAT(lib, HasSubstr("mode=\"0555\""));
  EXPECT_THAT(xml, HasSubstr("dest=\"/usr/bin/hi\""));
  EXPECT_THAT(xml, Not(HasSubstr("name=\"/usr/bin/hi\"")));
}

TEST(ControlPageExamples, TheTreeAloneStopsOnItsBackupFiles) {
  // What the page gives -W for: without a control file the backup files warn.
  TempDir base;
  for (const SourceBlock& b : control_blocks())
    if (b.marks.count("example-tree")) docs::build_tree(base.path(), b.text);
  testutil::RunOptions o;
  o.env = {{"COLUMNS", "100000"}};
  RunResult r = testutil::run_program(
      "mkxmlpkg", {"-d", base.path(), "-P", "HELLO", "-V", "1.0", "-D", "Hello tools"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("backup file `/usr/bin/hello~'"));
  EXPECT_THAT(
      r.err,
      HasSubstr("cannot continue until the warnings are resolved or the -W option is used."));
}

TEST(XmlPage, ExampleIsWhatMkxmlpkgWrites) {
  const std::string source = testutil::read_file(docs::page_source("corvane-xml.5"));
  const SourceBlock tree = docs::marked_block(source, "xml-example-tree");
  std::string expected = docs::marked_block(source, "xml-example-output").text;
  TempDir base;
  std::string listing;
  for (const std::string& line : docs::lines_of(tree.text))
    if (line.rfind("BASE/", 0) == 0) listing += line.substr(5) + "\n";
  docs::build_tree(base.path(), listing);
  RunResult r = testutil::run_program(
      "mkxmlpkg", {"-d", base.path(), "-P", "HELLO", "-V", "1.0", "-D", "Hello tools"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The page shows a made-up base directory and the Debian name of group 21.
  expected = std::regex_replace(expected, std::regex("root=\"/home/me/BASE\""),
                                "root=\"" + base.path() + "\"");
  const struct group* g21 = getgrgid(21);
  if (!g21) GTEST_SKIP() << "group 21 has no name here";
  expected = std::regex_replace(expected, std::regex("group=\"fax\""),
                                std::string("group=\"") + g21->gr_name + "\"");
  const std::string xml = testutil::read_file(base / "HELLO.xml");
  const std::size_t start = xml.find("<product ");
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(xml.substr(start), expected);
}

TEST(Schema, AcceptsTheDemo) {
  // The same command as make demo, into a scratch directory of its own.
  TempDir scratch;
  RunResult r = testutil::run_program(
      "/bin/sh", {std::string(CORVANE_SOURCE_DIR) + "/examples/demo.sh", testutil::bin_dir(),
                  scratch / "demo"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(testutil::xml_schema_errors(scratch / "demo/HELLO.xml"), "");
}

// A file with every kind of element and attribute the writer produces.
std::string full_product(const TempDir& base) {
  testutil::write_file(base / "dist/hello-1.0/usr/bin/hello", "#!/bin/sh\n", 0755);
  testutil::make_hardlink(base / "dist/hello-1.0/usr/bin/hello", base / "dist/hello-1.0/usr/bin/hi");
  testutil::make_symlink("libhello.so.1", base / "dist/hello-1.0/usr/lib/libhello.so");
  testutil::write_file(base / "dist/hello-1.0/usr/lib/libhello.so.1", "lib\n", 0755);
  testutil::make_symlink("/usr/lib", base / "dist/hello-1.0/opt/lib");
  testutil::write_file(base / "dist/hello-1.0/usr/share/hello/a.jar", "jar\n");
  testutil::write_file(base / "dist/hello-1.0/etc/hello.conf", "conf\n");
  testutil::write_file(base / "ctl/full.ctl",
                       "verbatim(\"<!-- product -->\")\n"
                       "vendor(\"ACME\")\n"
                       "requires(\"base\")\n"
                       "package(\"/hello-1.0\", \"Hello\", \"HELLO\") {\n"
                       "  requires(\"LIBS\")\n"
                       "  verbatim(\"<note>mine</note>\")\n"
                       "  file(\"/usr/bin/hello\") {\n"
                       "    owner(\"nosuchowner\")\n"
                       "    addexport(\"/usr/local/bin/hello\", early)\n"
                       "    flags(\"volatile\")\n"
                       "  }\n"
                       "  file(\"/usr/share/hello/a.jar\") { flags(\"big\") }\n"
                       "  directory(\"/usr/share/hello\") { mode(0700) flags(\"d\") }\n"
                       "}\n"
                       "component(\"hello\", \"1.0\", \"Hello tools\") {\n"
                       "  subpackage(\"HELLO\")\n"
                       "  replaces(\"old\", \"the old tools\")\n"
                       "  upgrades(\"older\")\n"
                       "  dependency(\"libc\", \"C library\")\n"
                       "}\n");
  RunResult r = testutil::run_program("mkxmlpkg", {"-d", base.path(), "-P", "HELLO", "-V", "1.0",
                                                   "-D", "Hello tools", "-W", "-p",
                                                   base / "ctl/full.ctl"});
  EXPECT_EQ(r.status, 0) << r.err;
  return testutil::read_file(base / "HELLO.xml");
}

TEST(Schema, AcceptsEveryElementAndRefusesMisspellings) {
  TempDir base;
  const std::string xml = full_product(base);
  for (const char* part :
       {"<link ", "type=\"dir\"", "type=\"file\"", "<export ", "<flags>big, nocompress</flags>",
        "<replaces>", "<upgrades>", "<dependency>", "<requires>LIBS", "<requires vendor=",
        "owner=\"nosuchowner\"", "mode=\"0700\"", "<note>"})
    EXPECT_THAT(xml, HasSubstr(part)) << part << " missing from\n" << xml;
  EXPECT_EQ(testutil::xml_schema_errors(base / "HELLO.xml"), "");

  // A misspelt element name (start and end tag alike), attribute name or
  // value is a validity error, not a well-formedness one.
  const std::vector<std::pair<std::string, std::string>> misspellings = {
      {"<file ", "<fiel "}, {"</file>", "</fiel>"},
      {"<export ", "<exprot "},
      {"<flags>", "<flag>"}, {"</flags>", "</flag>"},
      {"<product ", "<produkt "}, {"</product>", "</produkt>"},
      {"<link ", "<lnk "}, {"</link>", "</lnk>"},
      {"<directory ", "<drectory "}, {"</directory>", "</drectory>"},
      {"access=\"client\"", "access=\"clent\""},
      {"phase=\"early\"", "phase=\"erly\""},
      {"type=\"dir\"", "type=\"directory\""},
      {"<link access", "<link acess"},
      {"mode=\"0700\"", "mode=\"700\""},
      {"dest=", "destination="}};
  for (std::size_t i = 0; i < misspellings.size(); ++i) {
    // Pairs of start and end tag are changed together.
    std::string bad = xml;
    const bool pair = i + 1 < misspellings.size() && misspellings[i + 1].first.rfind("</", 0) == 0;
    for (std::size_t k = i; k <= i + (pair ? 1 : 0); ++k) {
      const auto& [right, wrong] = misspellings[k];
      for (std::size_t at = 0; (at = bad.find(right, at)) != std::string::npos; at += wrong.size())
        bad.replace(at, right.size(), wrong);
    }
    ASSERT_NE(bad, xml) << misspellings[i].first;
    testutil::write_file(base / "bad.xml", bad);
    EXPECT_THAT(testutil::xml_schema_errors(base / "bad.xml"), HasSubstr("fails to validate"))
        << misspellings[i].first << " -> " << misspellings[i].second;
    if (pair) ++i;
  }
}

}  // namespace
