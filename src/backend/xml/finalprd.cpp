// The XML backend's checks after each package's scan and before output.
#include <algorithm>
#include <string>

#include "backend/checks.hpp"
#include "backend/syspost.hpp"
#include "backend/values.hpp"
#include "backend/xml/xml.hpp"
#include "common/diag.hpp"
#include "model/index.hpp"

namespace {

bool under_dir(std::string_view path, std::string_view dir) {
  return path.starts_with(dir) && (path.size() == dir.size() || path[dir.size()] == '/');
}

void check_symlink_target(pkgptr_t pkg, dfileptr_t link) {
  const std::string_view target = xml_target_path(*pkg, *link);
  if (!find_path_in_flist(target, pkg->files_path)) report_missing_link_target(*pkg, *link, target);
}

}  // namespace

std::string_view xml_target_path(const package& pkg, const dfile& link) {
  const std::string_view target = link.target.sv();
  const std::string_view pkgdir = pkg.dir.sv();
  // A link to the package root itself points to the root directory.
  if (target == pkgdir) return "/";
  if (under_dir(target, pkgdir)) return target.substr(pkgdir.size());
  // A target outside the package has no installed path of its own; its
  // place in the dist tree tells the reader which package holds it.
  const std::string& distdir = str_or_empty(opts.distdir);
  if (!distdir.empty() && under_dir(target, distdir)) return target.substr(distdir.size());
  return target;
}

int xml_finalpkg(pkgptr_t pkg) {
  // These orders are the output orders.
  sort_package_by_path(pkg);
  for (dfileptr_t f : pkg->files) {
    if ((f->aflags & (af::SYMLINK | af::EXCLUDED | af::CTL_SYMLINK | af::CONVERTED)) != af::SYMLINK)
      continue;
    check_symlink_target(pkg, f);
  }
  return REPLY_OK;
}

void xml_verify() {
  // The product code names the output file.
  check_output_name("product code", str_or_empty(opts.prdcode), option_origin('P'));
  for (cmpntptr_t c : model.cmpnts) check_dependency_descriptions(*c, "xml");
}

void xml_final() { syspost_mark_nocompress({.nocompress_sflags = sf::NO_COMPRESS}); }
