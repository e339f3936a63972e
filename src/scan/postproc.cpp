// Product assembly after the scan: what the control file declared but the
// tree lacks, junk files, leading directories of exports, static/variable
// and phase decisions, default ownership, exports inherited from
// directories, components and subpackages, and files in several packages.
#include "scan/postproc.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "common/strutil.hpp"
#include "model/index.hpp"
#include "model/settings.hpp"

namespace {

constexpr std::uint32_t NOT_SUGGESTED = ~std::uint32_t(0);

// Export node flags that make a node something other than a destination
// of the entry itself.
constexpr std::uint32_t NOT_PLAIN = ef::CHILD | ef::RECURSIVE | ef::FORMAT | ef::CONVERT;

template <class F>
void for_each_live(std::vector<dfileptr_t>& list, F f) {
  for (dfileptr_t e : list)
    if (!e->excluded()) f(e);
}

// Unmatched declarations: what the control file declared but the scan never
// met is left out.
void exclude_unmatched_declarations() {
  for_each_live(model.dirs, [](dfileptr_t d) {
    if ((d->sflags & sf::DECLARED) && !(d->sflags & sf::SCANNED)) {
      warning("in package `%s', the control file declared attributes for the directory `%s', but "
              "that directory was not found during scanning.\n\n",
              d->pkg ? d->pkg->name.c_str() : "", d->path.str);
      d->aflags |= af::EXCLUDED;
    }
  });
  for_each_live(model.files, [](dfileptr_t f) {
    if ((f->sflags & sf::DECLARED) && !(f->sflags & sf::SCANNED)) {
      warning("in package `%s', the control file declared attributes for the file `%s', but that "
              "file was not found during scanning.\n\n",
              f->pkg ? f->pkg->name.c_str() : "", f->path.str);
      f->aflags |= af::EXCLUDED;
    }
  });
}

// A link the control file created joins the directory of its package it
// stands in, as a scanned link does: the writers that leave out the
// package root by its lack of a parent would leave it out too otherwise.
void attach_created_link(dfileptr_t e) {
  constexpr std::uint32_t CREATED_LINK = af::CREATED | af::SYMLINK;
  if ((e->aflags & CREATED_LINK) != CREATED_LINK || e->parent || !e->pkg) return;
  const std::string_view path = e->path.sv();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return;
  dfileptr_t dir = find_path_in_dlist(path.substr(0, slash), e->pkg->dirs_path);
  if (!dir || dir->excluded() || (dir->aflags & af::SYMLINK)) return;
  e->parent = dir;
  (e->is_dir() ? dir->subdirs() : dir->files()).push_back(e);
}

void attach_created_links() {
  for_each_live(model.dirs, attach_created_link);
  for_each_live(model.files, attach_created_link);
}

// Directory export marks: child and recursive; recursive ones reach every
// directory below. The walk goes down the scanned tree rather than by
// creation order, because directories the control file declared were made
// before the parents the scan made for them.
void mark_directory_exports() {
  for_each_live(model.dirs, [](dfileptr_t d) {
    for (const strnode& n : d->exports) {
      if (n.flags & ef::CHILD) d->sflags |= sf::DIR_CHILD_EXPORTS;
      if (n.flags & ef::RECURSIVE) d->sflags |= sf::DIR_RECURSIVE;
    }
  });
  std::vector<dfileptr_t> todo;
  for_each_live(model.dirs, [&](dfileptr_t d) {
    if (!d->parent) todo.push_back(d);
  });
  while (!todo.empty()) {
    dfileptr_t d = todo.back();
    todo.pop_back();
    for (dfileptr_t c : d->subdirs()) {
      if (c->excluded()) continue;
      if (d->sflags & sf::DIR_RECURSIVE) c->sflags |= sf::DIR_RECURSIVE;
      todo.push_back(c);
    }
  }
}

void mark_parent_disposition(dfileptr_t f) {
  if (!f->parent) return;
  if (f->access == ACCESS_SHARED) f->parent->sflags |= sf::DIR_HAS_STATIC;
  if (f->access == ACCESS_CLIENT) f->parent->sflags |= sf::DIR_HAS_VARIABLE;
}

// Text after the last "." of `name`, the dot included; empty without one.
std::string_view last_suffix(std::string_view name) {
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

// "core", or "core." and a process number: what a crash leaves behind.
// core.5.gz (a manual page) and core.txt are not.
bool is_core_dump_name(std::string_view nm) {
  if (nm == "core") return true;
  if (nm.size() <= 5 || !nm.starts_with("core.")) return false;
  return nm.find_first_not_of("0123456789", 5) == std::string_view::npos;
}

void warn_if_junk(dfileptr_t f) {
  std::string_view nm = f->nm.sv();
  const char* pkgname = f->pkg ? f->pkg->name.c_str() : "";
  if (is_core_dump_name(nm))
    warning("core file `%s' in package `%s'.\n", f->path.str, pkgname);
  else if (nm.starts_with(".") && last_suffix(nm) == ".swp")
    warning("ViM swap file `%s' in package `%s'.\n", f->path.str, pkgname);
  else if (last_suffix(nm) == ".bak" || f->path.sv().ends_with("~"))
    warning("backup file `%s' in package `%s'.\n", f->path.str, pkgname);
}

// File check: first static/variable marks and the junk file warnings.
void check_files() {
  for_each_live(model.files, [](dfileptr_t f) {
    if (f->access == ACCESS_SHARED || f->access == ACCESS_CLIENT)
      mark_parent_disposition(f);
    else
      f->access = ACCESS_SHARED;
    warn_if_junk(f);
  });
}

// File disposition: static or variable, early or normal, and a suggested mode.
void decide_file_disposition(dfileptr_t f) {
  const pkgptr_t pkg = f->pkg;
  int kind = GUESS_UNDECIDED;
  std::uint32_t mode = NOT_SUGGESTED;
  std::int32_t phase = PHASE_UNSET;
  const std::uint32_t all_given = af::MODE | af::ACCESS | af::PHASE;
  if ((f->aflags & all_given) != all_given) kind = likely_filetype(f->path.str, mode, phase);
  if (f->aflags & af::ACCESS)
    kind = f->access == ACCESS_CLIENT ? GUESS_VARIABLE : GUESS_STATIC;
  else if (pkg && pkg->defaccess == ACCESS_CLIENT)
    kind = GUESS_VARIABLE;
  else if (pkg && pkg->defaccess == ACCESS_SHARED)
    kind = GUESS_STATIC;
  if (opts.smode)
    kind = GUESS_STATIC;
  else if (opts.vmode)
    kind = GUESS_VARIABLE;
  // A given phase none counts as normal here; its private mark stays.
  if (f->aflags & af::PHASE)
    phase = f->phase == PHASE_EARLY ? PHASE_EARLY : PHASE_NORMAL;
  else if (pkg && pkg->defphase != PHASE_UNSET)
    phase = pkg->defphase == PHASE_EARLY ? PHASE_EARLY : PHASE_NORMAL;
  if (opts.rmode) phase = PHASE_EARLY;
  if (kind == GUESS_VARIABLE) {
    f->access = ACCESS_CLIENT;
    if (f->parent) f->parent->sflags |= sf::DIR_HAS_VARIABLE;
  } else if (kind == GUESS_STATIC) {
    f->access = ACCESS_SHARED;
    if (f->parent) f->parent->sflags |= sf::DIR_HAS_STATIC;
  }
  if (phase == PHASE_EARLY || phase == PHASE_NORMAL) f->phase = static_cast<phase_kind>(phase);
  if (!opts.imode && !(f->aflags & af::MODE) && mode != NOT_SUGGESTED) {
    f->mode = mode;
    f->aflags |= af::MODE;
  }
}

// True when `text` matches an exception pattern of `d` or of a directory above it.
bool excepted(const std::string& text, dfileptr_t d) {
  for (; d; d = d->parent)
    if (!d->except.empty() && find_match_in_strlist(text.c_str(), d->except)) return true;
  return false;
}

// The parent's child exports, each followed by the entry's name.
void add_child_exports(dfileptr_t e, std::string& buf) {
  dfileptr_t p = e->parent;
  if (!p || !(p->sflags & sf::DIR_CHILD_EXPORTS)) return;
  for (const strnode& n : p->exports) {
    if (!(n.flags & ef::CHILD)) continue;
    buf.assign(n.str).append("/").append(e->nm.sv());
    if (excepted(buf, p)) continue;
    add_strlist(buf, ef::PLAIN | ef::INHERITED | (n.flags & ef::EARLY), e->exports);
  }
}

// The recursive exports of the directories above the file, each followed
// by the file's path below that directory. Only directories that carry the
// recursive mark can have such exports above them, so the walk ends at the
// first one without it.
void add_recursive_exports(dfileptr_t f, std::vector<dfileptr_t>& chain, std::string& buf) {
  chain.clear();
  for (dfileptr_t d = f->parent; d && (d->sflags & sf::DIR_RECURSIVE); d = d->parent)
    chain.push_back(d);
  for (std::size_t i = 0; i < chain.size(); ++i) {
    dfileptr_t d = chain[i];
    for (const strnode& n : d->exports) {
      if (!(n.flags & ef::RECURSIVE)) continue;
      buf.assign(n.str);
      for (std::size_t k = i; k-- > 0;) buf.append("/").append(chain[k]->nm.sv());
      buf.append("/").append(f->nm.sv());
      if (excepted(buf, d)) continue;
      add_strlist(buf, ef::PLAIN | ef::INHERITED | (n.flags & ef::EARLY), f->exports);
    }
  }
}

void mark_plain_exports(dfileptr_t e) {
  for (strnode& n : e->exports)
    if (!(n.flags & NOT_PLAIN)) n.flags |= ef::PLAIN;
}

void default_phase(dfileptr_t e) {
  if ((e->aflags & af::PHASE) || e->phase != PHASE_UNSET) return;
  e->phase = e->pkg ? e->pkg->defphase : PHASE_UNSET;
  if (e->phase == PHASE_UNSET) e->phase = opts.rmode ? PHASE_EARLY : PHASE_NORMAL;
}

// Directory disposition: from their files; phase, exports.
void decide_directory_disposition(dfileptr_t d, std::string& buf) {
  if (d->access == ACCESS_UNSET) d->access = d->pkg ? d->pkg->defaccess : ACCESS_UNSET;
  if (d->access == ACCESS_UNSET) {
    if (opts.smode)
      d->access = ACCESS_SHARED;
    else if (opts.vmode)
      d->access = ACCESS_CLIENT;
    else if (d->sflags & sf::DIR_HAS_STATIC)
      d->access = ACCESS_SHARED;
    else if (d->sflags & sf::DIR_HAS_VARIABLE)
      d->access = ACCESS_CLIENT;
    else
      d->access = ACCESS_SHARED;
  }
  if (d->access == ACCESS_SHARED && (d->sflags & sf::DIR_HAS_VARIABLE))
    d->aflags |= af::STATIC_HOLDS_VARIABLE;
  if (d->access == ACCESS_CLIENT && (d->sflags & sf::DIR_HAS_STATIC))
    d->aflags |= af::VARIABLE_HOLDS_STATIC;
  default_phase(d);
  mark_plain_exports(d);
  add_child_exports(d, buf);
}

// File exports: defaults and the exports inherited from directories.
void decide_file_exports(dfileptr_t f, std::vector<dfileptr_t>& chain, std::string& buf) {
  if (f->access == ACCESS_UNSET) f->access = f->pkg ? f->pkg->defaccess : ACCESS_UNSET;
  if (f->access == ACCESS_UNSET)
    f->access = opts.smode ? ACCESS_SHARED : opts.vmode ? ACCESS_CLIENT : ACCESS_SHARED;
  default_phase(f);
  mark_plain_exports(f);
  add_child_exports(f, buf);
  add_recursive_exports(f, chain, buf);
}

// Default ownership: owner, group and mode of everything not given them.
void apply_default_ownership(dfileptr_t e) {
  e->mode &= 07777;
  if (opts.imode) return;
  if (!(e->aflags & (af::UID | af::OWNER))) e->uid = DEFAULT_ID;
  if (!(e->aflags & (af::GID | af::GROUP))) e->gid = DEFAULT_ID;
  if (e->aflags & af::MODE) return;
  if (e->is_dir()) {
    if (!(e->mode & 07000)) e->mode = 0755;
  } else {
    e->mode = (e->mode & 0111) ? 0755 : 0444;
  }
}

void decide_entries() {
  for_each_live(model.files, decide_file_disposition);
  for_each_live(model.files, mark_parent_disposition);
  std::string buf;
  std::vector<dfileptr_t> chain;
  for_each_live(model.dirs, [&](dfileptr_t d) { decide_directory_disposition(d, buf); });
  for_each_live(model.files, [&](dfileptr_t f) {
    if (!(f->sflags & sf::FILE_MANSRC)) decide_file_exports(f, chain, buf);
  });
  for_each_live(model.dirs, apply_default_ownership);
  for_each_live(model.files, apply_default_ownership);
}

bool dropped(cmpntptr_t c) { return c->flags & cf::SKIPPED; }

// Claims each package a component names for it.
void claim_subpackages(cmpntptr_t c) {
  for (const varnode& n : c->subpackages) {
    pkgptr_t p = find_package(nullptr, n.name.c_str());
    if (!p) {
      error("component `%s' defined package `%s' as a subpackage, but that package name was not "
            "found.\n",
            c->name.c_str(), n.name.c_str());
    } else if (p->flags & pf::CLAIMED) {
      error("component `%s' uses package `%s' as a subpackage, but that package is already "
            "contained by another component.\n",
            c->name.c_str(), n.name.c_str());
    } else {
      p->flags |= pf::CLAIMED;
    }
  }
}

// Components: the primary one, or the declared ones and their packages.
void set_up_components() {
  if (model.cmpnts.empty()) {
    if (opts.cmode) return;
    const std::string& code = str_or_empty(opts.cmpntcode);
    cmpntptr_t c = new_cmpnt(code, str_or_empty(opts.version), str_or_empty(opts.description), "", 0);
    const int reply = call_precmpnt(c);
    apply_component_reply(reply, c);
    if (reply == REPLY_FAIL)
      error("the backend returned an error code for the primary component `%s'. Corvane just "
            "doesn't know what to do.",
            code.c_str());
    else if (reply == REPLY_REMOVE)
      error("the backend driver attemptd to remove the primary component `%s'. Corvane just "
            "doesn't know what to do.",
            code.c_str());
    return;
  }
  for (cmpntptr_t c : model.cmpnts) {
    apply_component_reply(call_precmpnt(c), c);
    if (!dropped(c)) claim_subpackages(c);
  }
}

// Subpackages: packages that hold other packages.
void link_subpackages() {
  for (pkgptr_t p : model.packages) {
    if (p->flags & pf::PRIVATE) continue;
    if (!p->subpackages.empty()) p->flags |= pf::HAS_SUBPKGS;
    for (const varnode& n : p->subpackages) {
      const char* name = n.name.c_str();
      pkgptr_t q = find_package(nullptr, name);
      if (!q) {
        error("package `%s' declares package `%s' as a subpackage, but that package was not found "
              "in the package list.\n",
              p->name.c_str(), name);
        continue;
      }
      bool ok = true;
      if (q->flags & pf::CLAIMED) {
        error("package `%s' declares package `%s' as a subpackage, but `%s' is already declared as "
              "a subpackage of a component.\n",
              p->name.c_str(), name, name);
        ok = false;
      }
      if (q->flags & pf::SUBPKG) {
        error("package `%s' declares package `%s' as a subpackage, but `%s' is already declared as "
              "a subpackage of another package.\n",
              p->name.c_str(), name, name);
        ok = false;
      }
      if (ok) q->flags |= pf::SUBPKG;
    }
  }
}

// A package reachable from itself through subpackage lists would belong
// to no component, or make the component walk endless; each such loop is
// reported where it closes.
void check_subpackage_cycles() {
  std::unordered_map<pkgptr_t, std::vector<pkgptr_t>> edges;
  for (pkgptr_t p : model.packages)
    for (const varnode& n : p->subpackages)
      if (pkgptr_t q = find_package(nullptr, n.name.c_str())) edges[p].push_back(q);
  enum : char { unseen, open, done };
  std::unordered_map<pkgptr_t, char> state;
  struct frame {
    pkgptr_t pkg;
    std::size_t next;
  };
  std::vector<frame> stack;
  for (pkgptr_t start : model.packages) {
    if (state[start] != unseen) continue;
    state[start] = open;
    stack.push_back({start, 0});
    while (!stack.empty()) {
      frame& top = stack.back();
      const std::vector<pkgptr_t>& out = edges[top.pkg];
      if (top.next == out.size()) {
        state[top.pkg] = done;
        stack.pop_back();
        continue;
      }
      pkgptr_t q = out[top.next++];
      if (state[q] == open) {
        error("package `%s' declares package `%s' as a subpackage, but that makes `%s' a "
              "subpackage of itself.\n",
              top.pkg->name.c_str(), q->name.c_str(), q->name.c_str());
      } else if (state[q] == unseen) {
        state[q] = open;
        stack.push_back({q, 0});
      }
    }
  }
}

void join_component(pkgptr_t p, cmpntptr_t c) {
  add_varlist(p->name, p->desc, c->subpackages);
  p->flags |= pf::CLAIMED;
}

// Dangling packages: those no component or package holds.
void place_dangling_packages() {
  cmpntptr_t primary = find_cmpnt(str_or_empty(opts.cmpntcode));
  constexpr std::uint32_t placed_or_gone =
      pf::CLAIMED | pf::SUBPKG | pf::IGNORED | pf::REMOVED | pf::FAILED | pf::PRIVATE;
  for (pkgptr_t p : model.packages) {
    if (p->flags & placed_or_gone) continue;
    if ((p->flags & pf::DEFINED) && p->subpackages.empty() && !p->reldir.empty() &&
        (p->dirs.empty() || p->files.empty())) {
      p->flags |= pf::IGNORED;
      warning("The control file defined a package called `%s' but the sub-directory specified in "
              "the control file (`%s') does not exist, or it contains no files or directories. "
              "Either there was an error during the compilation of this package that you did not "
              "notice, or perhaps the control file you are using is designed for a later version "
              "of the product.\n",
              p->name.c_str(), p->reldir.str);
    } else if (opts.cmode) {
      std::string desc = strprintf("Description of component %s", p->name.c_str());
      join_component(p, new_cmpnt(strlower(p->name), str_or_empty(opts.version), desc, "", 0));
    } else if (primary) {
      join_component(p, primary);
    } else {
      error("primary component `%s' not found so dangling package `%s' has nowhere to go.\n",
            str_or_empty(opts.cmpntcode).c_str(), p->name.c_str());
    }
  }
}

// Component assignment: components reach their packages and, through them,
// the subpackages.
void assign_components() {
  for (cmpntptr_t c : model.cmpnts) {
    if (dropped(c)) continue;
    for (const varnode& n : c->subpackages)
      if (pkgptr_t p = find_package(nullptr, n.name.c_str())) recursive_set_cmpnt(p, c);
    apply_component_reply(call_postcmpnt(c), c);
  }
}

// Placement check: every package that goes into the output belongs to a
// component. When errors were reported already, an unplaced package is
// their consequence.
void check_every_package_placed() {
  bool unplaced = false;
  const bool quiet = diag.errors != 0;
  for (pkgptr_t p : model.packages) {
    if ((p->flags & (pf::IGNORED | pf::PRIVATE)) || p->cmpnt) continue;
    unplaced = true;
    if (!quiet) error("internal error: package `%s' belongs to no component.\n", p->name.c_str());
  }
  if (unplaced) exit_run(1);
}

// One installed path in several packages. As in the hash walk it refines,
// the report begins at the first copy after the first that is not private
// and names the copy before it and every later one.
void report_duplicate_group(const std::vector<dfileptr_t>& g) {
  std::size_t k = 1;
  while (k < g.size() && (g[k]->aflags & af::PRIVATE)) ++k;
  if (k >= g.size()) return;
  warning("the file `%s' is duplicated in package(s):", g[k]->path.str);
  for (std::size_t m = k - 1; m < g.size(); ++m) warning("\x01\x02 %s\x02", g[m]->pkg->name.c_str());
  warning("\x01\n");
}

// Duplicate files: the core's check for files in several packages; equal
// hashes are told apart by the text.
void report_duplicate_files() {
  const std::vector<dfileptr_t>& idx = model.files_path;
  std::vector<dfileptr_t> run, group;
  for (std::size_t i = 0; i < idx.size();) {
    std::size_t j = i + 1;
    while (j < idx.size() && idx[j]->path.hash == idx[i]->path.hash) ++j;
    if (j - i > 1) {
      run.clear();
      for (std::size_t k = i; k < j; ++k)
        if (!idx[k]->excluded()) run.push_back(idx[k]);
      std::stable_sort(run.begin(), run.end(), qsbscb_file_path);
      for (std::size_t a = 0; a < run.size();) {
        std::size_t b = a + 1;
        while (b < run.size() && run[b]->path.sv() == run[a]->path.sv()) ++b;
        if (b - a > 1) {
          group.assign(run.begin() + a, run.begin() + b);
          report_duplicate_group(group);
        }
        a = b;
      }
    }
    i = j;
  }
}

void check_duplicate_files() {
  if (model.packages.size() <= 1) return;
  const backend* b = registry.backptr;
  const int reply = b && b->dupcheck ? b->dupcheck() : REPLY_OK;
  if (reply == REPLY_FAIL) exit_run(1);
  if (reply == REPLY_OK) report_duplicate_files();
}

}  // namespace

int do_leading_com(pkgptr_t pkg, dfileptr_t entry, std::string& buffer) {
  int count = 0;
  for (const strnode& n : entry->exports) {
    std::string_view text = n.str;
    // Only an absolute destination has directories to lead to it.
    if (text.empty() || text[0] != '/') continue;
    dfileptr_t prev = add_new_directory(pkg->dir.sv(), pkg, ADD_REUSE);
    buffer.assign(pkg->dir.sv());
    // Every component but the last names a directory; empty and "."
    // components name none.
    for (std::size_t at = 1, slash; (slash = text.find('/', at)) != std::string_view::npos; at = slash + 1) {
      std::string_view comp = text.substr(at, slash - at);
      if (comp.empty() || comp == ".") continue;
      buffer.append("/").append(comp);
      dfileptr_t d = add_new_directory(buffer, pkg, ADD_REUSE);
      if (!d->parent && d != prev) {
        d->parent = prev;
        prev->subdirs().push_back(d);
        ++count;
      }
      prev = d;
    }
  }
  return count;
}

void maybe_add_leading_paths() {
  std::string buffer;
  bool any = false;
  for (pkgptr_t pkg : model.packages) {
    int count = 0;
    // Directories made here join pkg->dirs; they carry no exports, so
    // the walk covers only those there before.
    for (std::size_t i = 0, n = pkg->files.size(); i < n; ++i)
      if (!pkg->files[i]->excluded()) count += do_leading_com(pkg, pkg->files[i], buffer);
    for (std::size_t i = 0, n = pkg->dirs.size(); i < n; ++i)
      if (!pkg->dirs[i]->excluded()) count += do_leading_com(pkg, pkg->dirs[i], buffer);
    if (count) {
      package_resize_and_sort(pkg);
      any = true;
    }
  }
  if (any) resize_and_sort_lists();
}

void recursive_set_cmpnt(pkgptr_t pkg, cmpntptr_t cmpnt) {
  std::vector<pkgptr_t> todo{pkg};
  while (!todo.empty()) {
    pkgptr_t p = todo.back();
    todo.pop_back();
    // Reached before in this walk: a loop among subpackages ends here.
    if (p->cmpnt == cmpnt) continue;
    p->cmpnt = cmpnt;
    for (const varnode& n : p->subpackages)
      if (pkgptr_t q = find_package(nullptr, n.name.c_str())) todo.push_back(q);
  }
}

void post_process() {
  exclude_unmatched_declarations();
  attach_created_links();
  mark_directory_exports();
  check_files();
  maybe_add_leading_paths();
  if (registry.backptr && registry.backptr->postproc) registry.backptr->postproc();
  decide_entries();
  set_up_components();
  link_subpackages();
  check_subpackage_cycles();
  place_dangling_packages();
  if (model.cmpnts.size() > model.packages.size())
    error("More components than packages defined in the control file or created from the "
          "distribution directory. Since this program doesn't allow you to use the same package in "
          "more than one component, this means that there are either directories missing from the "
          "distribution tree, or the control file is incorrect. Please fix one or the other.\n");
  assign_components();
  check_every_package_placed();
  check_duplicate_files();
  for (cmpntptr_t c : model.cmpnts)
    if (!dropped(c)) apply_component_reply(call_finalcmpnt(c), c);
  if (diag.errors) exit_run(1);
}
