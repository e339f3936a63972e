// corvane(1) against the programs: the options it lists are those the usage
// report prints, with the same texts; the options it says the control file
// can set are exactly those set() accepts; and the files it says each
// backend writes are the files written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <set>

#include "docs_fixture.hpp"

namespace {

using ::testing::HasSubstr;
using testutil::TempDir;

/// One option as listed: its heading in the usage report's form
/// ("-d DIR / --directory DIR (required)") and its help text.
struct Listed {
  std::string heading;
  std::string help;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Listed& l) {
  return o << "\n  " << l.heading << "\n    " << l.help;
}

using Listing = std::map<std::string, std::vector<Listed>>;  // by backend, "" global

// The full listings of the usage report.
Listing usage_listing(const std::string& report) {
  Listing out;
  std::string group;
  bool started = false;
  Listed* current = nullptr;
  const std::regex backend_head("Backend `([a-z]+)' full usage:");
  for (const std::string& line : docs::lines_of(report)) {
    std::smatch m;
    if (line == "Full usage information:") {
      started = true;
      group = "";
    } else if (!started) {
      continue;
    } else if (std::regex_match(line, m, backend_head)) {
      group = m[1];
    } else if (line.rfind("Corvane version:", 0) == 0) {
      break;
    } else if (line.rfind("-", 0) == 0) {
      out[group].push_back({line, ""});
      current = &out[group].back();
    } else if (line.empty()) {
      current = nullptr;
    } else if (current) {
      current->help = docs::squeeze(current->help + " " + line);
    }
  }
  return out;
}

// The option listings of corvane(1): per subsection, each option heading and
// the first paragraph below it (the usage text; later paragraphs add notes).
Listing page_listing(const std::string& options_section) {
  static const std::map<std::string, std::string> groups = {
      {"Global options", ""},
      {"Options of the kest backend", "kest"},
      {"Options of the pkgadd backend", "pkgadd"},
      {"The xml backend", "xml"}};
  Listing out;
  std::string group = "?";
  Listed* current = nullptr;
  bool first_paragraph = false;
  for (const std::string& line : docs::lines_of(options_section)) {
    const std::size_t indent = docs::indent_of(line);
    if (line.empty() || indent == line.size()) {
      first_paragraph = false;
      continue;
    }
    const std::string text = line.substr(indent);
    if (indent == 3) {
      auto g = groups.find(text);
      group = g == groups.end() ? "?" : g->second;
      current = nullptr;
    } else if (indent == 7 && text[0] == '-' && group != "?") {
      std::string heading = text;
      if (std::size_t comma = heading.find(", --"); comma != std::string::npos)
        heading.replace(comma, 2, " / ");
      out[group].push_back({heading, ""});
      current = &out[group].back();
      first_paragraph = true;
    } else if (current && first_paragraph) {
      current->help = docs::squeeze(current->help + " " + text);
    }
  }
  return out;
}

TEST(CorvanePage, ListsEveryOptionOfEveryBackendWithTheUsageTexts) {
  const Listing page = page_listing(docs::section(docs::rendered("corvane.1"), "OPTIONS"));
  ASSERT_EQ(page.count(""), 1u);
  EXPECT_EQ(page.count("xml"), 0u) << "the xml backend has no options";
  for (const char* name : {"corvane", "mkkest", "mkpkg", "mkpkgadd", "mkxmlpkg"}) {
    testutil::RunOptions o;
    o.env = {{"COLUMNS", "100000"}};
    testutil::RunResult r = testutil::run_program(name, {"-?"}, o);
    ASSERT_EQ(r.status, 2) << name;
    const Listing usage = usage_listing(r.err);
    ASSERT_EQ(usage.count(""), 1u) << r.err;
    EXPECT_EQ(page, usage) << "started as " << name;
  }
}

// The long names of every option the usage report lists.
std::set<std::string> long_names() {
  testutil::RunOptions o;
  o.env = {{"COLUMNS", "100000"}};
  testutil::RunResult r = testutil::run_program("corvane", {"-?"}, o);
  std::set<std::string> names;
  for (const auto& [group, options] : usage_listing(r.err))
    for (const Listed& l : options) {
      std::smatch m;
      if (std::regex_search(l.heading, m, std::regex("--([a-z-]+)"))) names.insert(m[1]);
    }
  return names;
}

TEST(CorvanePage, NamesExactlyTheOptionsTheControlFileCanSet) {
  const std::string text = docs::squeeze(
      docs::subsection(docs::section(docs::rendered("corvane.1"), "OPTIONS"),
                       "Options in the control file"));
  const std::set<std::string> names = long_names();
  ASSERT_GT(names.size(), 20u);
  TempDir base;
  testutil::write_file(base / "dist/hello-1.0/usr/bin/hello", "x\n", 0755);
  std::string ctl;
  for (const std::string& n : names) ctl += "set(\"" + n + "\", \"0\")\n";
  testutil::write_file(base / "set.ctl", ctl);
  testutil::RunOptions o;
  o.env = {{"COLUMNS", "100000"}};
  testutil::RunResult r = testutil::run_program(
      "mkxmlpkg", {"-d", base.path(), "-P", "HELLO", "-V", "1", "-D", "d", "-p", base / "set.ctl"}, o);
  for (const std::string& n : names) {
    const bool refused = r.err.find("invalid option `" + n + "'") != std::string::npos;
    const bool listed = std::regex_search(text, std::regex("(^|[ ,])" + n + "[ ,.]"));
    EXPECT_NE(refused, listed) << n << (listed ? " is listed but refused" : " is settable but not listed");
  }
}

// Written output files, relative to the base directory, with the names of
// the run replaced by the page's placeholders.
std::set<std::string> written_files(const std::string& base, const std::string& rel = "") {
  std::set<std::string> out;
  for (const std::string& line : docs::lines_of(testutil::list_tree(base))) {
    if (line.empty() || line.rfind("dist", 0) == 0) continue;
    std::string path = line.substr(0, line.rfind(' '));
    if (path.back() == '/') continue;
    for (const auto& [name, placeholder] :
         std::vector<std::pair<std::string, std::string>>{{"DEMO", "PROD"},
                                                          {"demo", "CMPNT"},
                                                          {"hello", "CMPNT"},
                                                          {"greet", "CMPNT"},
                                                          {"HELLO", "PKG"},
                                                          {"GREET", "PKG"}})
      for (std::size_t at; (at = path.find(name)) != std::string::npos;)
        path.replace(at, name.size(), placeholder);
    out.insert("BASE/" + rel + path);
  }
  return out;
}

TEST(CorvanePage, NamesEveryFileEachBackendWrites) {
  const std::string files = docs::squeeze(docs::section(docs::rendered("corvane.1"), "FILES"));
  struct Run {
    std::string program;
    std::vector<std::string> more;
  };
  const std::vector<Run> runs = {{"mkxmlpkg", {}},
                                 {"mkkest", {"-E", "ACME"}},
                                 {"mkpkg", {"-U", "application"}},
                                 {"mkpkg", {"-U", "application", "-c"}}};
  for (const Run& run : runs) {
    TempDir base;
    testutil::write_file(base / "dist/hello-1.0/usr/bin/hello", "x\n", 0755);
    testutil::write_file(base / "dist/greet-0.3/usr/bin/greet", "x\n", 0755);
    testutil::make_dirs(base / "input");
    std::vector<std::string> args = {"-d", base.path(), "-P", "DEMO", "-V", "1.0", "-D", "Demo"};
    args.insert(args.end(), run.more.begin(), run.more.end());
    testutil::RunResult r = testutil::run_program(run.program, args);
    ASSERT_EQ(r.status, 0) << run.program << r.err;
    const std::set<std::string> written = written_files(base.path());
    EXPECT_GE(written.size(), 1u);
    for (const std::string& f : written)
      EXPECT_THAT(files, HasSubstr(f)) << run.program << " writes " << f;
  }
}

}  // namespace
