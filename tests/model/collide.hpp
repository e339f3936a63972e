// Texts with equal hashes, for testing that lookups compare the text too.
// Found by hashing "<prefix><n>" for a few million n and sorting the
// hashes; the tests assert the equality before relying on it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testmodel {

/// Full paths of the test package (distdir /b/dist, package /pkg).
inline const std::pair<std::string, std::string> ABS_PAIR = {"/b/dist/pkg/d2536741",
                                                            "/b/dist/pkg/d3422148"};
inline const std::pair<std::string, std::string> ABS_DIR_PAIR = {"/b/dist/pkg/dir322138",
                                                                "/b/dist/pkg/dir4112670"};
/// Installed paths.
inline const std::pair<std::string, std::string> PATH_PAIR = {"/usr/lib/x813400",
                                                             "/usr/lib/x1976568"};

/// 2^k texts of one hash: `prefix` and one block of each stage, every
/// stage's two blocks taking the hash state reached so far to one state
/// (found by the birthday bound over random blocks).
inline std::vector<std::string> colliding(const std::string& prefix,
                                          const std::vector<std::pair<const char*, const char*>>& stages) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < (std::size_t{1} << stages.size()); ++i) {
    std::string s = prefix;
    for (std::size_t k = 0; k < stages.size(); ++k) s += (i >> k) & 1 ? stages[k].second : stages[k].first;
    out.push_back(s);
  }
  return out;
}
/// 32 full paths of one hash in the test package, and 32 installed paths.
inline std::vector<std::string> abs_crowd() {
  return colliding("/b/dist/pkg/", {{"ya6ec", "8ar92"}, {"eho5h", "796sv"}, {"2z3b6", "knfht"},
                                    {"6x7gb", "xnqs8"}, {"l21xd", "pafwo"}});
}
inline std::vector<std::string> path_crowd() {
  return colliding("/usr/lib/", {{"ajvci", "sbpy3"}, {"zkl8b", "33c7q"}, {"9gv5b", "8oz3q"},
                                 {"t885d", "p79o2"}, {"wv23m", "pinj4"}});
}

}  // namespace testmodel
