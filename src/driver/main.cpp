// corvane: turns a built distribution tree into the input files of a
// packaging system. The whole run, phase by phase.
#include <cstdio>

#include "backend/backend.hpp"
#include "common/alloc_failure.hpp"
#include "common/diag.hpp"
#include "common/stdstreams.hpp"
#include "ctlfile/ctlfile.hpp"
#include "driver/backends.hpp"
#include "driver/options.hpp"
#include "driver/run.hpp"
#include "model/settings.hpp"
#include "prep/autoprep.hpp"
#include "scan/postproc.hpp"

int main(int argc, char** argv) {
  try {
    install_alloc_failure_handler();
    initialize_globals();
    initialize_backends();
    choose_backend_by_name(argv[0]);
    process_options(argc, argv);
    if (opts.ctlfile) parse_control_file(SETTINGS_PASS, globalopts);
    verify_options();
    if (opts.ctlfile) read_model_from_control_file();
    if (!standard_output_ok() || diag.errors) return 1;
    if (!opts.ctlfile) do_autoprep(opts.autotessel, opts.autotexi, opts.autostrip);
    scan_dist_directory();
    post_process();
    verify_integrity();
    final_preparation();
    decide_on_problems();
    generate_output();
    finish_run();
    return 0;
  } catch (const run_exit& e) {
    std::fflush(stdout);
    return e.status;
  }
}
