// Reading the manual pages as a user sees them (rendered to plain text) and
// as they are written (the scdoc sources with their example markers).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/testutil.hpp"

namespace docs {

inline const std::vector<std::string> PAGES = {"corvane.1", "corvane-control.5", "corvane-xml.5",
                                               "tessel.1"};

inline std::string built_page(const std::string& page) { return std::string(CORVANE_MAN_DIR) + "/" + page; }

inline std::string page_source(const std::string& page) {
  return std::string(CORVANE_SOURCE_DIR) + "/docs/" + page + ".scd";
}

/// Runs a system program found on PATH.
inline testutil::RunResult run_tool(const std::vector<std::string>& args) {
  return testutil::run_program("/usr/bin/env", args);
}

/// Runs of blanks, tabs and new lines become one blank; none at either end.
inline std::string squeeze(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\n';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

/// The page as plain text, each paragraph on one line where it fits.
/// Overstrike (bold and underline) is taken out.
inline std::string rendered(const std::string& page) {
  testutil::RunResult r = run_tool({"mandoc", "-Tascii", "-O", "width=1000", built_page(page)});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string out;
  for (char c : r.out) {
    if (c == '\b') {
      if (!out.empty()) out.pop_back();
    } else {
      out += c;
    }
  }
  return out;
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

inline std::size_t indent_of(const std::string& line) {
  std::size_t n = line.find_first_not_of(' ');
  return n == std::string::npos ? line.size() : n;
}

/// The text of the rendered section `title` (a line of its own at the
/// margin), without the title; "" and a failure when there is none.
inline std::string section(const std::string& text, const std::string& title) {
  std::vector<std::string> lines = lines_of(text);
  std::string out;
  bool in = false;
  for (const std::string& l : lines) {
    if (!l.empty() && l[0] != ' ') {
      if (in) break;
      in = l == title;
      continue;
    }
    if (in) out += l + "\n";
  }
  EXPECT_TRUE(in || !out.empty()) << "no section " << title;
  return out;
}

/// The text of the subsection `title` (indented by three) of a section's
/// text, without the title.
inline std::string subsection(const std::string& section_text, const std::string& title) {
  std::string out;
  bool in = false, found = false;
  for (const std::string& l : lines_of(section_text)) {
    if (indent_of(l) == 3 && l.size() > 3) {
      in = l.substr(3) == title;
      found = found || in;
      continue;
    }
    if (in) out += l + "\n";
  }
  EXPECT_TRUE(found) << "no subsection " << title;
  return out;
}

/// A fenced block of a page source with the comment lines before it.
struct SourceBlock {
  std::map<std::string, std::string> marks;  ///< "; key: value" lines before the block
  std::string text;
  int line = 0;  ///< where the block starts
};

/// Every ``` block of the source, with the "; key: value" markers of the
/// comment lines right before it (a marker without ": value" maps to "").
inline std::vector<SourceBlock> source_blocks(const std::string& source) {
  std::vector<SourceBlock> blocks;
  std::vector<std::string> lines = lines_of(source);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != "```") continue;
    SourceBlock b;
    b.line = int(i) + 1;
    for (std::size_t k = i; k > 0 && lines[k - 1].rfind("; ", 0) == 0; --k) {
      const std::string mark = lines[k - 1].substr(2);
      const std::size_t colon = mark.find(':');
      if (colon == std::string::npos)
        b.marks[mark] = "";
      else
        b.marks[mark.substr(0, colon)] = squeeze(mark.substr(colon + 1));
    }
    std::size_t j = i + 1;
    for (; j < lines.size() && lines[j] != "```"; ++j) b.text += lines[j] + "\n";
    blocks.push_back(b);
    i = j;
  }
  return blocks;
}

/// The one block marked with `mark`.
inline SourceBlock marked_block(const std::string& source, const std::string& mark) {
  for (const SourceBlock& b : source_blocks(source))
    if (b.marks.count(mark)) return b;
  ADD_FAILURE() << "no block marked " << mark;
  return {};
}

/// Builds the example tree under `base` from its listing: one path a line,
/// "name*" an executable, "name -> target" a symbolic link, "name =>
/// other" a second name (hard link) of `other` in the same directory.
inline void build_tree(const std::string& base, const std::string& listing) {
  std::vector<std::string> hard_links;  // made last, when their files exist
  for (const std::string& line : lines_of(listing)) {
    if (line.empty()) continue;
    std::size_t arrow;
    if ((arrow = line.find(" -> ")) != std::string::npos) {
      testutil::make_symlink(line.substr(arrow + 4), base + "/" + line.substr(0, arrow));
    } else if (line.find(" => ") != std::string::npos) {
      hard_links.push_back(line);
    } else if (line.back() == '*') {
      testutil::write_file(base + "/" + line.substr(0, line.size() - 1), "#!/bin/sh\necho hello\n",
                           0755);
    } else {
      testutil::write_file(base + "/" + line, "text of " + line + "\n", 0644);
    }
  }
  for (const std::string& line : hard_links) {
    const std::size_t arrow = line.find(" => ");
    const std::string path = line.substr(0, arrow);
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    testutil::make_hardlink(base + "/" + dir + line.substr(arrow + 4), base + "/" + path);
  }
}

}  // namespace docs
