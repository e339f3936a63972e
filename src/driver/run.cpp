#include "driver/run.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "common/fileio.hpp"
#include "common/namecache.hpp"
#include "common/stdstreams.hpp"
#include "common/strutil.hpp"
#include "ctlfile/ctlfile.hpp"
#include "driver/options.hpp"
#include "model/index.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "prep/autoprep.hpp"
#include "prep/tessel.hpp"
#include "scan/scan.hpp"

namespace {

// Text lost on standard output (closed, or a full device) is an error
// like any other: the run must not end as if it had been shown.
void stop_on_errors() {
  standard_output_ok();
  if (diag.errors) exit_run(1);
}

int columns_from_environment() {
  const char* c = std::getenv("COLUMNS");
  int n = c ? std::atoi(c) : 0;
  return n < 1 ? 80 : n;
}

// Follows the dependency (or requires) names of one item through the items
// they name, adding each named item's own list; the walk runs along the
// item's list as it grows (no recursion, whatever the depth of the graph),
// and every item is visited once, so cyclic graphs end. The item's own name
// is never added: in a cycle it would become its own prerequisite.
template <class Item, class Find>
void complete_list(Item* item, varlist Item::*list, Find find) {
  std::set<std::string> visited{item->name};
  varlist& names = item->*list;
  for (varnode* n = names.head(); n; n = names.next_of(n)) {
    if (!visited.insert(n->name).second) continue;
    Item* other = find(n->name);
    if (!other || other == item) continue;
    for (const varnode& m : other->*list)
      if (m.name != item->name && !find_varlist(m.name, names)) add_varlist(m.name, m.value, names);
  }
}

void complete_dependencies() {
  auto cmpnt_by_name = [](const std::string& n) { return find_cmpnt(n); };
  auto pkg_by_name = [](const std::string& n) { return find_package(nullptr, n.c_str()); };
  for (cmpntptr_t c : model.cmpnts) {
    complete_list(c, &component::dependency, cmpnt_by_name);
    complete_list(c, &component::requires_, cmpnt_by_name);
  }
  for (pkgptr_t p : model.packages) {
    complete_list(p, &package::dependency, pkg_by_name);
    complete_list(p, &package::requires_, pkg_by_name);
  }
}

// Each first-level directory of dist that passes the checks becomes a package.
void scan_package_directories() {
  const std::string& distdir = *opts.distdir;
  std::vector<std::string> names;
  if (!read_dir_sorted(distdir.c_str(), names)) {
    error("failed to open dist directory `%s'.\n", distdir.c_str());
    return;
  }
  for (const std::string& name : names) {
    debug(1, "scan_dist_directory: found object: %s\n", name.c_str());
    if (name[0] == '.') continue;
    std::string rel = "/" + name;
    std::string full = distdir + rel;
    debug(1, "scan_dist_directory: checking object: %s\n", rel.c_str());
    if (find_strlist(rel, model.removes)) continue;
    struct stat st;
    if (stat(full.c_str(), &st) != 0) {
      warning("failed to stat `%s' - skipping it.\n", full.c_str());
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      debug(1, "scan_dist_directory: skipping %s: not a directory\n", name.c_str());
      continue;
    }
    if (registry.backptr->chkpkgdir) {
      int reply = registry.backptr->chkpkgdir(name.c_str());
      debug(1, "scan_dist_directory: backend dir check returns %d\n", reply);
      if (reply != REPLY_OK && reply != REPLY_GO_ON && reply != REPLY_PRIVATE) continue;
    }
    process_package(name.c_str());
  }
}

}  // namespace

void initialize_globals() {
  reset_diagnostics();
  diag.columns = columns_from_environment();
  guard_standard_streams();
  // Progress lines on standard output must appear as they happen.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  reset_name_caches();
  reset_settings();
  reset_model();
  reset_ctlfile();
  reset_autoprep();
  // corvane's formatter keeps to the dist directory the options name.
  manfmt = corvane_formatter();
}

void choose_backend_by_name(const char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  opts.cmdname = slash ? slash + 1 : argv0;
  for (const backend* b : registry.backends) {
    if (b->chkname && b->chkname(opts.cmdname.c_str())) {
      registry.backptr = b;
      break;
    }
  }
}

void read_model_from_control_file() {
  parse_control_file(MODEL_PASS, globalopts);
  const long np = model.packages.size(), nc = model.cmpnts.size();
  const long nf = model.files.size(), nd = model.dirs.size();
  std::fputc('\n', stderr);
  info("%ld package%s, %ld component%s defined in control file.\n", np, plural(np), nc,
       plural(nc));
  info("%ld file%s, %ld director%s defined in control file.\n", nf, plural(nf), nd,
       plural(nd, "y", "ies"));
  std::fputc('\n', stderr);
}

void scan_dist_directory() {
  if (opts.ctlfile) take_declared_snapshot();
  if (opts.fmode)
    process_package(nullptr);
  else
    scan_package_directories();
  const long np = model.packages.size(), nf = model.files.size(), nd = model.dirs.size();
  std::fputc('\n', stderr);
  info("found %ld package%s, totalling %ld file%s in %ld director%s.\n", np, plural(np), nf,
       plural(nf), nd, plural(nd, "y", "ies"));
  std::fputc('\n', stderr);
  stop_on_errors();
  drop_declared_snapshot();
  resize_and_sort_lists();
}

void verify_integrity() {
  if (registry.backptr->verify) registry.backptr->verify();
  stop_on_errors();
}

void final_preparation() {
  if (registry.backptr->final) registry.backptr->final();
  for (dfileptr_t f : model.files) {
    if (f->excluded() || !f->parent) continue;
    if (f->access == ACCESS_SHARED) f->parent->sflags |= sf::DIR_HAS_STATIC;
    if (f->access == ACCESS_CLIENT) f->parent->sflags |= sf::DIR_HAS_VARIABLE;
  }
  stop_on_errors();
  if (!opts.Nmode) complete_dependencies();
  stop_on_errors();
}

void decide_on_problems() {
  if (diag.warnings) {
    info("%d warning%s encountered during processing.\n", diag.warnings, plural(diag.warnings));
    if (!opts.Wmode)
      error("cannot continue until the warnings are resolved or the -W option is used.\n");
  }
  if (diag.errors) {
    info("%d error%s encountered during processing. Cannot continue.\n", diag.errors,
         plural(diag.errors));
    exit_run(1);
  }
}

void generate_output() {
  registry.backptr->produce();
  stop_on_errors();
}

void finish_run() {
  info("all done. Please review and edit the generated files.\n");
  if (opts.basedir && chdir(opts.basedir->c_str()) != 0) {
    // Nothing is left to do in the base directory; the run is complete.
  }
}

void merge_dep_list(varlist& dst, const varlist& src) {
  for (const varnode& n : src)
    if (!find_varlist(n.name, dst)) add_varlist(n.name, n.value, dst);
}
