// A fresh run state for every test, and one call that reads a literal
// control file in-process and returns what it printed and how it ended.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "ctlfile/reader.hpp"
#include "driver/backends.hpp"
#include "driver/options.hpp"
#include "driver/run.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"

struct ParseResult {
  int status = 0;    ///< 0 when the pass returned, else the exit status it ended with
  int warns = 0;     ///< the pass's parse warnings
  std::string out;   ///< standard output
  std::string err;   ///< standard error
};

class CtlTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    diag.columns = 1000;  // one line per message
    opts.distdir = "/d";
    opts.distdirlen = 2;
  }

  /// Forgets the model and the reports so far (for one case of a table).
  void fresh() {
    reset_model();
    diag = Diagnostics{};
    diag.columns = 1000;
  }

  /// One pass over `text` as control file `name`.
  ParseResult parse(std::string_view text, int setonly = 0, const std::string& name = "t.ctl") {
    ParseResult r;
    testutil::CaptureFd out(1), err(2);
    try {
      r.warns = parse_text(name, text, setonly, globalopts);
    } catch (const run_exit& e) {
      r.status = e.status;
    }
    r.out = out.text();
    r.err = err.text();
    return r;
  }

  /// Both passes, as the driver runs them; stops after a failed first pass.
  ParseResult parse_both(std::string_view text, const std::string& name = "t.ctl") {
    ParseResult first = parse(text, 1, name);
    if (first.status) return first;
    ParseResult second = parse(text, 0, name);
    second.out = first.out + second.out;
    second.err = first.err + second.err;
    return second;
  }

  /// What a failed parse prints after the parser's own message.
  static std::string failed(const std::string& name = "t.ctl") {
    return "\nERROR: failed to parse `" + name + "'\n";
  }
  /// A message of the parser or the lexer.
  static std::string perr(int line, const std::string& msg, const std::string& file = "t.ctl") {
    return "\nERROR: " + file + " line " + std::to_string(line) + ": " + msg + "\n";
  }

  static const std::string& macro(const char* name) {
    static const std::string none = "<undefined>";
    const varnode* m = find_varlist(name, opts.macros);
    return m ? m->value : none;
  }
};
