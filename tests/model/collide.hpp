// Texts with equal hashes, for testing that lookups compare the text too.
// Found by hashing "<prefix><n>" for a few million n and sorting the
// hashes; the tests assert the equality before relying on it.
#pragma once

#include <string>
#include <utility>

namespace testmodel {

/// Full paths of the test package (distdir /b/dist, package /pkg).
inline const std::pair<std::string, std::string> ABS_PAIR = {"/b/dist/pkg/d2536741",
                                                            "/b/dist/pkg/d3422148"};
inline const std::pair<std::string, std::string> ABS_DIR_PAIR = {"/b/dist/pkg/dir322138",
                                                                "/b/dist/pkg/dir4112670"};
/// Installed paths.
inline const std::pair<std::string, std::string> PATH_PAIR = {"/usr/lib/x813400",
                                                             "/usr/lib/x1976568"};

}  // namespace testmodel
