// One fuzz input through the control-file reader, shared by the fuzzer and
// the regression test of the inputs it found: both passes, as the driver
// runs them, with nothing that could reach outside a scratch directory.
#pragma once

#include <string>
#include <string_view>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "ctlfile/reader.hpp"
#include "driver/backends.hpp"
#include "driver/options.hpp"
#include "driver/run.hpp"
#include "model/settings.hpp"

/// Reads `text` as a control file in two passes; `jail` holds the only
/// files it may include and an empty dist directory. Commands and
/// preparation are off. Returns the exit status the run would end with.
inline int read_fuzz_input(std::string_view text, const std::string& jail) {
  initialize_globals();
  initialize_backends();
  opts.distdir = jail + "/dist";
  opts.distdirlen = opts.distdir->size();
  opts.dexec = opts.dtessel = opts.dtexi = 0;
  opts.autotessel = opts.autotexi = opts.autostrip = 0;
  ctl.include_jail = jail;
  int status = 0;
  try {
    parse_text(jail + "/input.ctl", text, 1, globalopts);
    parse_text(jail + "/input.ctl", text, 0, globalopts);
  } catch (const run_exit& e) {
    status = e.status;
  }
  ctl = CtlReader{};
  return status;
}

/// Files the inputs may include: a plain one, one that includes itself and
/// a chain deeper than the nesting limit.
inline void write_fuzz_includes(const std::string& jail, void (*write)(const std::string&, const std::string&)) {
  write(jail + "/inc.ctl", "define(\"INC\", \"1\")\nprint(\"${INC}\")\n");
  write(jail + "/self.ctl", "include(\"self.ctl\");\n");
  for (int i = 1; i <= 17; ++i)
    write(jail + "/d" + std::to_string(i) + ".ctl",
          "include(\"d" + std::to_string(i + 1) + ".ctl\");\n");
}
