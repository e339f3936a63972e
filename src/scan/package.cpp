// One package of the dist tree: find or make its record, let the backend
// accept it, list its tree, report what was found and fold requested hard
// links into the files they link to.
#include <string>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "common/strutil.hpp"
#include "model/index.hpp"
#include "model/settings.hpp"
#include "scan/scan.hpp"

namespace {

// The directory name up to its first "-", then up to its first ".":
// foo-2.1 and foo.d both give foo.
std::string short_package_name(const char* name) {
  std::string s(name);
  s.resize(std::min(s.find('-'), s.size()));
  s.resize(std::min(s.find('.'), s.size()));
  return s;
}

// A package for a tree directory the control file did not declare; null
// (after an error) when its name is empty or another package has it.
pkgptr_t make_scanned_package(const char* name, const std::string& reldir) {
  std::string shortname = name ? short_package_name(name) : str_or_empty(opts.prdcode);
  const backend* b = registry.backptr;
  std::string pkgname = b && b->pkgrename ? b->pkgrename(shortname.c_str()) : strupper(shortname);
  if (name) {
    if (pkgname.empty()) {
      error("the package directory `%s' gives an empty package name.\n", reldir.c_str());
      return nullptr;
    }
    if (pkgptr_t other = find_package(nullptr, pkgname.c_str())) {
      error("the package directories `%s' and `%s' both give the package name `%s'.\n",
            std::string(other->reldir.sv()).c_str(), reldir.c_str(), pkgname.c_str());
      return nullptr;
    }
  }
  std::string desc = strprintf("Description of package `%s'", pkgname.c_str());
  return new_package(name ? reldir : std::string(), desc, pkgname, "", 0);
}

// The end of the "processing" line: the counts, or the backend's refusal.
// False when the backend ignored the package.
bool report_scanned(pkgptr_t pkg) {
  const int reply = call_postpkg(pkg);
  apply_package_reply(reply, pkg, false);
  if (pkg->flags & pf::IGNORED) {
    info("\x01: ignored by backend(%d).\n", reply);
    return false;
  }
  const long nf = long(pkg->files.size()), nd = long(pkg->dirs.size());
  info("\x01: %ld file%s, %ld director%s.\n", nf, plural(nf), nd, plural(nd, "y", "ies"));
  if (nf == 0) warning("package `%s' has no files.\n", pkg->name.c_str());
  if (nd == 1 && !(pkg->flags & pf::PRIVATE))
    error("package `%s' has no directories.\n", pkg->name.c_str());
  return true;
}

// A hard link with convert() leaves the output and becomes an export of
// the file it names.
void convert_hard_link(pkgptr_t pkg, dfileptr_t f) {
  if (f->nlink == 1) {
    warning("useless convert() function for file `%s' in package `%s' - file has no hard links.\n",
            f->path.str, pkg->name.c_str());
    return;
  }
  f->aflags |= af::CONVERTED | af::EXCLUDED;
  const strnode* request = nullptr;
  for (const strnode& n : f->exports)
    if (n.flags & ef::CONVERT) {
      request = &n;
      break;
    }
  if (!request) return;
  dfileptr_t target = find_path_in_flist(request->str, pkg->files_path);
  if (!target) {
    error("In package `%s', the hard link `%s' attempted to convert() to file `%s', which was not "
          "found in the package.\n",
          pkg->name.c_str(), f->path.str, request->str.c_str());
    return;
  }
  add_strlist(f->path.sv(), request->flags & ef::EARLY, target->exports);
}

void convert_hard_links(pkgptr_t pkg) {
  for (dfileptr_t f : pkg->files)
    if (!f->excluded() && (f->aflags & af::CONVERT)) convert_hard_link(pkg, f);
}

}  // namespace

void process_package(const char* name) {
  const std::string reldir = name ? strxcat("/", name) : std::string("/");
  pkgptr_t pkg = find_package(reldir.c_str(), nullptr);
  const bool is_new = pkg == nullptr;
  if (is_new && !(pkg = make_scanned_package(name, reldir))) return;

  apply_package_reply(call_prepkg(pkg), pkg, false);
  if (pkg->flags & pf::IGNORED) return;
  dfileptr_t root = add_new_directory(pkg->dir.sv(), pkg, ADD_NEW);
  info("processing %s%spackage:\x02 %s\x02 ", is_new ? "new " : "",
       (pkg->flags & pf::PRIVATE) ? "private " : "", pkg->name.c_str());
  if (process_package_dir(root, name ? LEVEL_TOP : LEVEL_FLAT_TOP)) {
    error("package `%s' failed to scan.\n", pkg->name.c_str());
    return;
  }
  if (!report_scanned(pkg)) return;
  package_resize_and_sort(pkg);
  convert_hard_links(pkg);

  const int reply = call_finalpkg(pkg);
  apply_package_reply(reply, pkg, true);
  if (pkg->flags & pf::IGNORED)
    warning("package `%s' ignored by backend (%d).\n", pkg->name.c_str(), reply);
}
