// The built manual pages: clean roff, the sections a reader looks for, and
// every word of the control-file language documented.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "docs_fixture.hpp"

namespace {

using docs::PAGES;
using docs::rendered;
using docs::run_tool;
using ::testing::HasSubstr;

TEST(Pages, LintClean) {
  for (const std::string& page : PAGES) {
    const std::string path = docs::built_page(page);
    ASSERT_TRUE(testutil::exists(path)) << path;
    testutil::RunResult groff = run_tool({"groff", "-man", "-ww", "-z", path});
    EXPECT_EQ(groff.status, 0) << page;
    EXPECT_EQ(groff.out + groff.err, "") << page;
    testutil::RunResult mandoc = run_tool({"mandoc", "-Tlint", "-Werror", path});
    EXPECT_EQ(mandoc.status, 0) << page;
    EXPECT_EQ(mandoc.out + mandoc.err, "") << page;
  }
}

TEST(PageSources, NoTextLineBeginsWithADot) {
  // scdoc passes such a line to roff, which drops the dot (".ini" comes out
  // as "ini"); an ordered list item (". " at the start) is the exception.
  for (const std::string& page : PAGES) {
    bool code = false;
    int n = 0;
    for (const std::string& line : docs::lines_of(testutil::read_file(docs::page_source(page)))) {
      ++n;
      if (line == "```") code = !code;
      if (code) continue;
      const std::size_t start = line.find_first_not_of(" \t");
      if (start == std::string::npos || line[start] != '.') continue;
      EXPECT_TRUE(start + 1 < line.size() && line[start + 1] == ' ') << page << " line " << n << ": " << line;
    }
  }
}

TEST(Pages, HaveTheSectionsAReaderLooksFor) {
  const std::map<std::string, std::vector<std::string>> wanted = {
      {"corvane.1",
       {"NAME", "SYNOPSIS", "DESCRIPTION", "THE RUN", "OPTIONS", "ENVIRONMENT", "FILES",
        "EXIT STATUS", "DEFAULTS", "EXAMPLES", "SEE ALSO"}},
      {"corvane-control.5",
       {"NAME", "DESCRIPTION", "LEXICAL RULES", "MACROS AND CONDITIONALS", "THE TWO READINGS",
        "WHERE STATEMENTS MAY STAND", "STATEMENTS", "ACCESS", "EXPORTS AND PHASES", "EXAMPLES",
        "DIAGNOSTICS", "SEE ALSO"}},
      {"corvane-xml.5", {"NAME", "DESCRIPTION", "VALUES", "ELEMENTS", "SCHEMA", "EXAMPLE"}},
      {"tessel.1", {"NAME", "SYNOPSIS", "DESCRIPTION", "ENVIRONMENT", "EXIT STATUS", "EXAMPLES"}},
  };
  for (const auto& [page, titles] : wanted) {
    const std::string text = rendered(page);
    for (const std::string& t : titles)
      EXPECT_THAT(text, HasSubstr("\n" + t + "\n")) << page << ": " << t;
  }
  // One page serves every name the program is installed under.
  const std::string name = docs::squeeze(docs::section(rendered("corvane.1"), "NAME"));
  EXPECT_EQ(name.rfind("corvane, mkkest, mkpkg, mkpkgadd, mkxmlpkg - ", 0), 0u) << name;
}

// The keyword table of the lexer, read from its source: a keyword added
// there without a word in the page fails here.
std::set<std::string> control_keywords() {
  std::ifstream f(std::string(CORVANE_SOURCE_DIR) + "/src/ctlfile/lexer.cpp");
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string src = ss.str();
  std::set<std::string> words;
  const std::regex row("\\{\"([a-z_]+)\", TOK_");
  for (std::sregex_iterator it(src.begin(), src.end(), row), end; it != end; ++it)
    words.insert((*it)[1]);
  return words;
}

TEST(ControlPage, DocumentsEveryKeyword) {
  const std::set<std::string> words = control_keywords();
  ASSERT_GT(words.size(), 80u);  // the table was found
  const std::string text = rendered("corvane-control.5");
  for (const std::string& w : words) {
    const std::regex as_word("(^|[^A-Za-z_])" + w + "($|[^A-Za-z_])");
    EXPECT_TRUE(std::regex_search(text, as_word)) << w;
  }
}

TEST(TesselPage, NamesTheVariablesOfTheUsageText) {
  testutil::RunResult r = testutil::run_program("tessel", {});
  const std::string env = docs::section(rendered("tessel.1"), "ENVIRONMENT");
  const std::regex var("\\$(TESSEL_[A-Z]+)");
  int seen = 0;
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), var), end; it != end; ++it, ++seen)
    EXPECT_THAT(env, HasSubstr((*it)[1].str())) << (*it)[1];
  EXPECT_GE(seen, 2) << r.out;
}

}  // namespace
