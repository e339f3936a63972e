// KEST's checks and marks before output: control scripts while scanning,
// the fate of symbolic links at the end of each package, and after
// assembly the export rules, the CLIENT/SERVER rule and hard links.
#include <algorithm>
#include <set>
#include <utility>

#include "backend/kest/kest.hpp"
#include "backend/syspost.hpp"
#include "backend/values.hpp"
#include "common/diag.hpp"
#include "model/index.hpp"
#include "model/settings.hpp"

namespace {

constexpr std::uint32_t PHASE_MARKS = ksf::DIR_PHASE_SET | ksf::DIR_PARENT_PHASE;

bool counts_as_exported(dfileptr_t dir) { return dir && (dir->sflags & PHASE_MARKS); }

bool parent_exported(dfileptr_t e) { return counts_as_exported(e->parent); }

}  // namespace

// Control scripts and export inheritance of a directory, while scanning.
int kest_postdir(pkgptr_t pkg, dfileptr_t d, int toplevel) {
  const bool applied = mark_private_dir(pkg, d, toplevel);
  if (d->aflags & af::PHASE) d->sflags |= ksf::DIR_PHASE_SET;
  if (parent_exported(d)) d->sflags |= ksf::DIR_PARENT_PHASE;
  return applied ? REPLY_PRIVATE : REPLY_GO_ON;
}

// Control scripts and private files, while scanning.
int kest_postfile(pkgptr_t pkg, dfileptr_t f, int) {
  return mark_private_file(pkg, f, {.sflags = ksf::FILE_CNTL_SCRIPT}) ? REPLY_PRIVATE : REPLY_GO_ON;
}

std::string kest_target_from_root(pkgptr_t pkg, const path_t& target) {
  return std::string(target_in_package(*pkg, target).value_or(target_from_dist(target)));
}

dfileptr_t kest_find_link_target(pkgptr_t pkg, dfileptr_t link) {
  const std::string_view t = link->target.sv(), root = pkg->dir.sv();
  if (!t.starts_with(root) || (t.size() > root.size() && t[root.size()] != '/')) return nullptr;
  return find_path_in_flist(t.substr(root.size()), pkg->files_path);
}

namespace {

// ---- Symbolic-link policy --------------------------------------------------

// The links of one kind (files or directories) of a package, ordered by the
// hash of their target, then its text, so that each target() finds its
// links by one bisection however many targets share a hash; links to one
// target keep the package's path order.
struct links_by_target {
  std::vector<dfileptr_t> links;

  static bool before(const path_t& a, std::uint32_t hash, std::string_view text) {
    return a.hash != hash ? a.hash < hash : a.sv() < text;
  }

  explicit links_by_target(const std::vector<dfileptr_t>& entries) {
    for (dfileptr_t e : entries)
      if (e->aflags & af::SYMLINK) links.push_back(e);
    std::stable_sort(links.begin(), links.end(), [](dfileptr_t a, dfileptr_t b) {
      return before(a->target, b->target.hash, b->target.sv());
    });
  }

  template <class Visit>
  void for_target(const path_t& abs, Visit visit) const {
    auto it = std::lower_bound(links.begin(), links.end(), abs, [](dfileptr_t e, const path_t& k) {
      return before(e->target, k.hash, k.sv());
    });
    for (; it != links.end() && (*it)->target.sv() == abs.sv(); ++it)
      if (!((*it)->aflags & kaf::LINK_DECIDED)) visit(*it);
  }
};

void export_link_to(dfileptr_t link, dfileptr_t target) {
  add_strlist(link->path.sv(), KEST_LINK_EXPORT, target->exports);
  link->aflags |= af::EXCLUDED;
}

dfileptr_t find_target_hit(pkgptr_t pkg, const strnode& node, bool& is_dir) {
  dfileptr_t hit = find_path_in_flist(node.str, pkg->files_path);
  is_dir = false;
  if (hit && !hit->excluded()) return hit;
  hit = find_path_in_dlist(node.str, pkg->dirs_path);
  is_dir = true;
  return hit && !hit->excluded() ? hit : nullptr;
}

// target() statements: the links pointing at a named entry are decided here,
// before the general rule of apply_link_policy.
void apply_targets(pkgptr_t pkg) {
  if (pkg->targets.empty()) return;
  const links_by_target file_links(pkg->files), dir_links(pkg->dirs);
  for (const strnode& node : pkg->targets) {
    bool is_dir;
    dfileptr_t hit = find_target_hit(pkg, node, is_dir);
    if (!hit) {
      warning("In package `%s', a target() function for the target `%s' was used in the control "
              "file, but the target was not found. This could be due to the target having been "
              "removed by control script functions such as remove(), or it could be an error in "
              "your control script. Please examine your control script carefully.\n",
              pkg->name.c_str(), node.str.c_str());
      continue;
    }
    const bool keep = node.flags == 1;
    (is_dir ? dir_links : file_links).for_target(hit->abs, [&](dfileptr_t link) {
      link->aflags |= kaf::TARGETED;
      if (is_dir) {
        if (keep || kest_settings.Hmode) link->aflags |= kaf::RETAINED;
        else export_link_to(link, hit);
      } else if (keep) {
        link->aflags |= kaf::RETAINED;
      } else if (!kest_settings.Hmode) {
        export_link_to(link, hit);
      } else if (kest_settings.hmode) {
        link->aflags |= kaf::RETAINED;
      }
    });
  }
}

// A link to a link stands for the file at the end of the chain: exporting
// or hardening onto the middle link would be lost when that link itself
// turns into an export (or was turned into one already). Returns the last
// file reached, or null when a link of the chain points at nothing in the
// package (`missing` names that target then).
dfileptr_t resolve_link_chain(pkgptr_t pkg, dfileptr_t link, std::string& missing) {
  dfileptr_t cur = link;
  for (std::size_t steps = 0; steps <= pkg->files.size(); ++steps) {
    dfileptr_t next = kest_find_link_target(pkg, cur);
    const bool is_link = next && ((next->aflags & af::SYMLINK) ||
                                  (next->sflags & ksf::FILE_HARDENED));
    if (is_link && !(next->aflags & kaf::RETAINED)) {
      cur = next;
      continue;
    }
    // An excluded target (a converted hard link, say) would carry the new
    // export out of the output with it, so it counts as missing.
    if (!next || next->excluded()) {
      missing = kest_target_from_root(pkg, cur->target);
      return nullptr;
    }
    return next;
  }
  missing = kest_target_from_root(pkg, link->target);
  return nullptr;
}

void harden_link(dfileptr_t link, dfileptr_t target) {
  link->aflags &= ~af::SYMLINK;
  link->ino = target->ino;
  target->nlink += 1;
  link->nlink = target->nlink;
  link->mode = target->mode;
  link->uid = target->uid;
  link->gid = target->gid;
  link->sflags |= ksf::FILE_HARDENED;
  target->sflags |= ksf::FILE_LINK_TARGET;
}

// Every other file link becomes an export of its target (default), a hard
// link (-H), or stays a link (-H -h). Returns true when a link was hardened.
bool apply_link_policy(pkgptr_t pkg) {
  bool hardened = false;
  for (dfileptr_t link : pkg->files) {
    if (!(link->aflags & af::SYMLINK) || (link->aflags & kaf::LINK_DECIDED)) continue;
    std::string missing;
    dfileptr_t target = resolve_link_chain(pkg, link, missing);
    if (!target) {
      error("the symbolic link `%s' points to the target `%s', which was not found in package "
            "`%s'. The most likely cause of this is that the target was removed by a remove() or "
            "removeall() directive. If that is the case, then you must either not remove the "
            "target, or you must remove this symbolic link as well. If this is not the result of "
            "a removed file, then you either have an error in your distribution tree, or you are "
            "attempting to create a symbolic link to a file outside of the current package, "
            "which is not supported.\n",
            link->path.str, missing.c_str(), pkg->name.c_str());
    } else if (!kest_settings.Hmode) {
      export_link_to(link, target);
    } else if (!kest_settings.hmode) {
      harden_link(link, target);
      hardened = true;
    }
  }
  return hardened;
}

}  // namespace

// The fate of the package's symbolic links, once its scan is complete.
int kest_finalpkg(pkgptr_t pkg) {
  sort_package_by_path(pkg);
  apply_targets(pkg);
  if (apply_link_policy(pkg))
    std::stable_sort(pkg->files_inode.begin(), pkg->files_inode.end(), qsbscb_file_inode);
  return REPLY_OK;
}

// ---- Post-processing --------------------------------------------------------

namespace {

// The toolkit's record lines separate fields with ':', so an entry whose
// path holds one is named by a copy with '_' in its place. Directories get
// the same name so that the files below them still sit in a directory of
// the object store.
void set_safepaths() {
  for (auto* list : {&model.dirs, &model.files}) {
    for (dfileptr_t e : *list) {
      if (e->excluded() || e->path.sv().find(':') == std::string_view::npos) continue;
      std::string safe(e->path.sv());
      std::replace(safe.begin(), safe.end(), ':', '_');
      e->set_text(&entry_texts::safepath, model_strdup(safe));
      if (!e->is_dir()) e->sflags |= ksf::FILE_SAFEPATH;
    }
  }
}

// Two entries of a package whose record names come out equal (a:b and a_b)
// would be one entry to the toolkit.
void check_safepath_clashes() {
  std::set<std::pair<pkgptr_t, std::string_view>> names;
  for (auto* list : {&model.dirs, &model.files}) {
    for (dfileptr_t e : *list) {
      if (!e->safepath()) continue;
      pkgptr_t p = e->pkg;
      const std::string_view safe = e->safepath();
      dfileptr_t same = e->is_dir() ? find_path_in_dlist(safe, p->dirs_path)
                                    : find_path_in_flist(safe, p->files_path);
      if ((same && !same->excluded()) || !names.insert({p, safe}).second)
        error("in package `%s', the %s `%s' would be written as `%s', because its name contains "
              "a `:', but another entry of the package has that name already.\n",
              p->name.c_str(), e->is_dir() ? "directory" : "file", e->path.str, e->safepath());
    }
  }
}

}  // namespace

void kest_postproc() {
  // KEST's writers read none of the system-directory marks.
  syspost_postproc(syspost_marks{});
  set_safepaths();
  check_safepath_clashes();
}

// ---- Export rules and checks ------------------------------------------------

namespace {

void parent_exported_error(pkgptr_t pkg, const char* path, const char* kind) {
  error("in package `%s', the %s `%s' was explicitly exported in the package control file, but a "
        "higher level directory was already exported. This is invalid, because it would cause a "
        "recursive export back into the SSO.\n\n",
        pkg->name.c_str(), kind, path);
}

void parent_exported_warn(pkgptr_t pkg, const char* path, const char* kind, std::uint32_t how) {
  warning("in package `%s', the %s `%s' was %s, but a higher level directory was already "
          "exported. This is only valid if the exports are to completely different directory "
          "hierarchies. You can silence this warning by using the exportok() function for the %s "
          "in question.\n\n",
          pkg->name.c_str(), kind, path,
          how ? "implicitly exported by a symbolic link pointing to it"
              : "explicitly exported in the package control file",
          kind);
}

void parent_private_error(pkgptr_t pkg, const char* path, const char* kind) {
  error("in package `%s', the %s `%s' was marked as private (not to beexported), but a higher "
        "level directory is being exported, which will result in this %s being implicitly "
        "exported too.\n\n",
        pkg->name.c_str(), kind, path, kind);
}

// An export destination below a directory that is exported already.
bool exported_below_exported(dfileptr_t e) {
  dfileptr_t parent = e->parent;
  return !e->exports.empty() && parent && (parent->sflags & PHASE_MARKS) == PHASE_MARKS &&
         !(parent->sflags & sf::DIR_PRIVATE) && !(e->aflags & af::EXPORTOK);
}

void check_dir_exports(dfileptr_t d) {
  pkgptr_t pkg = d->pkg;
  if (d->aflags & af::PHASE) {
    if (parent_exported(d)) {
      if (d->phase == PHASE_NONE) parent_private_error(pkg, d->path.str, "directory");
      else parent_exported_error(pkg, d->path.str, "directory");
    } else if (!(d->sflags & sf::DIR_PRIVATE)) {
      d->sflags |= ksf::DIR_EXPORTED;
    }
  }
  if ((d->aflags & (kaf::TARGETED | af::CTL_SYMLINK | af::SYMLINK)) == af::SYMLINK) {
    const std::string target = kest_target_from_root(pkg, d->target);
    warning("symbolic links to directories are generally a bad idea. In package `%s', the link "
            "below is such a link. Please examine the package and consider consolidating any "
            "exportPath statements rather than using a symlink. Unless the target is a fully "
            "exported directory, this symlink is almost certainly not what you want. If it turns "
            "out you really need to keep it, you can silence this warning by using a symlink() "
            "function in the control file.\n\tLink:\002 %s\002\n\tTarget:\002 %s\002\n\n",
            pkg->name.c_str(), d->path.str, target.c_str());
  }
  if (exported_below_exported(d))
    parent_exported_warn(pkg, d->path.str, "directory", d->exports.head()->flags & ef::INHERITED);
}

void mark_file_exported(dfileptr_t f) {
  if (!(f->sflags & sf::FILE_PRIVATE)) f->sflags |= ksf::FILE_EXPORTED;
}

void check_file_exports(dfileptr_t f) {
  pkgptr_t pkg = f->pkg;
  const bool under_export = parent_exported(f);
  if (f->aflags & af::PHASE) {
    if (under_export && f->phase == PHASE_NONE) parent_private_error(pkg, f->path.str, "file");
    else if (under_export) parent_exported_error(pkg, f->path.str, "file");
    else mark_file_exported(f);
  } else if (!under_export) {
    mark_file_exported(f);
  }
  if (exported_below_exported(f) && !(f->exports.head()->flags & ef::CONVERT))
    parent_exported_warn(pkg, f->path.str, "file", f->exports.head()->flags & ef::INHERITED);
  if (has_nocompress_extension(*f)) f->sflags |= ksf::FILE_NOCOMPRESS;
}

void check_export_rules() {
  for (dfileptr_t d : model.dirs)
    if (!d->excluded()) check_dir_exports(d);
  for (dfileptr_t f : model.files)
    if (!f->excluded() && !(f->sflags & ksf::FILE_WRITTEN)) check_file_exports(f);
}

void check_client_server() {
  for (dfileptr_t d : model.dirs) {
    if (d->excluded() || (!(d->sflags & sf::DIR_CHILD_EXPORTS) && d->exports.empty())) continue;
    if ((d->sflags & sf::DIR_HAS_STATIC) && (d->sflags & sf::DIR_HAS_VARIABLE))
      error("in package `%s' the directory `%s' is exported, but it contains both CLIENT and "
            "SERVER files. This is not supported, as it will result in two directories being "
            "exported to the same location, which is impossbile.\n\n",
            d->pkg->name.c_str(), d->path.str);
  }
}

bool checked_package(pkgptr_t p) { return !(p->flags & kpf::NOT_CHECKED); }

// A file that cannot start a hard-link group: converted, a link, excluded,
// or a hardened link, which is no hard link of the tree.
bool opens_no_group(dfileptr_t f) {
  return (f->aflags & kaf::NOT_HARDLINK) || (f->sflags & ksf::FILE_HARDENED);
}

// Lists the group of `head` from position `i` on; returns the position of
// the last file of the group.
std::size_t report_hard_links(pkgptr_t pkg, dfileptr_t head, std::size_t i) {
  if (!(pkg->flags & kpf::LINKS_WARNED)) {
    warning("in package `%s', there are files that have multiple links. The suggested mechanism "
            "for dealing with linked files is to convert them to symbolic links *in the "
            "distribution tree*. If this is inconvenient, you can use the convert() function in "
            "the control script. Symbolic links give Corvane more information to work with, and "
            "still have the desired effect. All of the files that have multiple links are listed "
            "below.\n",
            pkg->name.c_str());
    pkg->flags |= kpf::LINKS_WARNED;
  }
  const std::vector<dfileptr_t>& byino = pkg->files_inode;
  warning("\001\t\002%s\002\n", head->path.str);
  std::size_t last = i;
  for (; i < byino.size() && byino[i]->ino == head->ino; ++i) {
    last = i;
    if (!byino[i]->excluded()) warning("\001\t=>\002%s\002\n", byino[i]->path.str);
  }
  warning("\001\n");
  return last;
}

void check_package_hard_links(pkgptr_t pkg) {
  const std::vector<dfileptr_t>& byino = pkg->files_inode;
  dfileptr_t head = nullptr;  // the file that opened the current group, if any
  for (std::size_t i = 0; i < byino.size(); ++i) {
    dfileptr_t f = byino[i];
    if (f->excluded() && i > 0) continue;
    if (!head || f->ino != head->ino) {
      head = opens_no_group(f) ? nullptr : f;
    } else if ((f->sflags & ksf::FILE_HARDENED) || (f->aflags & kaf::NOT_HARDLINK)) {
      head = nullptr;
    } else if (!(f->aflags & af::LINKOK)) {
      i = report_hard_links(pkg, head, i);
      head = nullptr;
    }
  }
}

void check_hard_links() {
  if (kest_settings.kest_lmode) return;
  for (pkgptr_t p : model.packages)
    if (checked_package(p)) check_package_hard_links(p);
}

void note_exported_symlinks(pkgptr_t pkg) {
  bool noted = false;
  for (dfileptr_t link : pkg->files) {
    if (!(link->aflags & af::SYMLINK) || link->excluded()) continue;
    if (link->access == ACCESS_CLIENT)
      if (dfileptr_t target = kest_find_link_target(pkg, link);
          target && target->access == ACCESS_SHARED)
        link->sflags |= ksf::FILE_TARGET_SHARED;
    if (link->aflags & kaf::RETAINED) continue;
    if (!(pkg->flags & kpf::SYMLINKS_NOTED)) {
      info("in package `%s', there are files that are symbolic links that will be exported as "
           "such. These are not handled by instor anywhere near as well as you would expect. For "
           "example, if you remove a package, instor will not remove the symlinks and you may "
           "end up with dangling links (links which point to a target that has been removed). "
           "Consider removing the -h or -H command line options and allow Corvane to convert "
           "symbolic links to multiple exports of the target file. You have been warned (and "
           "wont be again, for this package). Below is a list of all symbolic links (and their "
           "targets) that have not been explicitly sanctioned in the control file.\n",
           pkg->name.c_str());
      pkg->flags |= kpf::SYMLINKS_NOTED;
      noted = true;
    }
    const std::string target = kest_target_from_root(pkg, link->target);
    info("\001\t\002%s -> %s\002\n", link->path.str, target.c_str());
  }
  if (noted) info("\001\n");
}

void check_symlinks() {
  for (pkgptr_t p : model.packages)
    if (checked_package(p)) note_exported_symlinks(p);
}

// ---- Values the input files cannot carry ----------------------------------
//
// Every value ends its line, so none may hold a newline; the macro file
// quotes versions and descriptions, so those may not hold a double quote;
// record lines separate their fields with ':', so the names in them (and
// the dependencies written as vendor:name) may not hold one.

std::string vendor_origin() {
  return opts.vendor == kest_settings.vendor_option ? option_origin('E') : "the vendor() statement";
}

void check_list(ValueCheck& v, const varlist& list, const char* keyword, const std::string& item,
                std::string_view refused) {
  for (const varnode& n : list) v.check(keyword, n.name, list_origin(keyword, item), refused);
}

void check_product_values(ValueCheck& v) {
  const std::string& prdcode = str_or_empty(opts.prdcode);
  v.check("vendor", str_or_empty(opts.vendor), vendor_origin(), NEWLINE_OR_COLON);
  if (check_output_name("product code", prdcode, option_origin('P')))
    v.check("product code", prdcode, option_origin('P'), NEWLINE_OR_COLON);
  v.check("version", str_or_empty(opts.version), option_origin('V'), NEWLINE_OR_QUOTE);
  v.check("description", str_or_empty(opts.description), option_origin('D'), NEWLINE_OR_QUOTE);
  check_list(v, model.requires_, "requires", "", NEWLINE_OR_COLON);
}

void check_component_values(ValueCheck& v, const component& c) {
  const std::string origin = component_name_origin(c);
  if (check_output_name("component name", c.name, origin))
    v.check("component name", c.name, origin, NEWLINE_OR_COLON);
  v.check("component version", c.version, component_origin(c, 'V'), NEWLINE_OR_QUOTE);
  v.check("component description", c.desc, component_origin(c, 'D'), NEWLINE_OR_QUOTE);
  check_list(v, c.replaces, "replaces", c.name, NEWLINE);
  check_list(v, c.upgrades, "upgrades", c.name, NEWLINE);
  check_list(v, c.dependency, "dependency", c.name, NEWLINE_OR_COLON);
  check_list(v, c.requires_, "requires", c.name, NEWLINE);
}

void check_package_values(ValueCheck& v, const package& p) {
  const std::string origin = package_name_origin(p);
  if (check_output_name("package name", p.name, origin))
    v.check("package name", p.name, origin, NEWLINE_OR_COLON);
  v.check("package description", p.desc, package_origin(p), NEWLINE_OR_QUOTE);
  // A directory the scan found gives the name, which is checked already.
  if (p.flags & pf::DEFINED) v.check("package directory", p.reldir.sv(), package_origin(p), NEWLINE);
  check_list(v, p.replaces, "replaces", p.name, NEWLINE);
  check_list(v, p.upgrades, "upgrades", p.name, NEWLINE);
  check_list(v, p.dependency, "dependency", p.name, NEWLINE);
  check_list(v, p.requires_, "requires", p.name, NEWLINE);
}

void check_entry_values(ValueCheck& v, pkgptr_t pkg, const dfile& e) {
  if (!v.check_entry(e, "path", e.path.sv(), NEWLINE)) return;
  if (e.aflags & af::SYMLINK) v.check_entry(e, "target", kest_target_from_root(pkg, e.target), NEWLINE);
  for (const strnode& x : e.exports) v.check_entry(e, "export", x.str, NEWLINE);
  if ((e.aflags & af::FLAGSTR) && e.flagstr()) v.check_entry(e, "flags text", e.flagstr(), NEWLINE);
  if ((e.aflags & af::OWNER) && e.owner()) v.check_entry(e, "owner", e.owner(), NEWLINE);
  if ((e.aflags & af::GROUP) && e.group()) v.check_entry(e, "group", e.group(), NEWLINE);
}

void check_values() {
  ValueCheck v("the KEST input files");
  check_product_values(v);
  for (cmpntptr_t c : model.cmpnts) check_component_values(v, *c);
  for (pkgptr_t p : model.packages)
    if (!(p->flags & pf::IGNORED)) check_package_values(v, *p);
  for (auto* list : {&model.dirs, &model.files})
    for (dfileptr_t e : *list)
      if (!e->excluded() && !(e->pkg->flags & pf::IGNORED)) check_entry_values(v, e->pkg, *e);
}

}  // namespace

void kest_final() {
  if (str_or_empty(opts.vendor).empty()) {
    error("The KEST backend requires that you set the vendor either using the `vendor()' keyword "
          "in the control file, or using the `-E' command line option.\n");
    return;
  }
  check_export_rules();
  check_client_server();
  check_hard_links();
  check_symlinks();
  check_values();
}
