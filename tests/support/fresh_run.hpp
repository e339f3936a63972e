// The state every test starts from: the state a run of the program starts
// from, whatever an earlier test changed, left open or pointed elsewhere.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testutil {

/// Puts every subsystem back to where a run begins, as the driver does
/// (diagnostics with the debug stream closed, name caches, settings, model,
/// control-file reader, preparation, formatter), then the registry and each
/// backend's settings. The width of the tester's terminal (COLUMNS) does
/// not count.
void fresh_run();

}  // namespace testutil

/// The fixture of every test that uses the process state. A per-area
/// fixture derives from it and calls FreshRun::SetUp() first (and
/// FreshRun::TearDown() last, when it has a TearDown of its own).
class FreshRun : public ::testing::Test {
 public:
  FreshRun();

 protected:
  void SetUp() override { testutil::fresh_run(); }
  /// What a test leaves behind (an open debug stream, a registry pointing
  /// at a backend of the test's own, a large model, another working
  /// directory) goes with it, not when the next test begins.
  void TearDown() override;

 private:
  // Taken when the fixture is made, so that a test which starts afresh
  // midway (SetUp() again) still returns to where it began.
  const std::string start_dir_;
};
