// What the pkgadd backend does before writing: control scripts and private
// entries during the scan, the symbolic-link check, component sizes for the
// part limits, and the checks of features SVR4 packages cannot express.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "backend/checks.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "backend/values.hpp"
#include "common/diag.hpp"
#include "model/index.hpp"
#include "model/settings.hpp"

namespace {

/// Links that the scan took as they are and that the writer prints as links.
bool checked_link(dfileptr_t e) {
  return (e->aflags & af::SYMLINK) &&
         !(e->aflags & (af::EXCLUDED | af::CTL_SYMLINK | af::CONVERTED));
}

void check_file_link(pkgptr_t pkg, dfileptr_t f) {
  auto target = target_in_package(*pkg, f->target);
  if (!target) {
    report_missing_link_target(*pkg, *f, target_from_dist(f->target));
    return;
  }
  if (!find_path_in_flist(*target, pkg->files_path)) report_missing_link_target(*pkg, *f, *target);
}

void unsupported_keyword(const char* keyword, const char* kind, const std::string& name) {
  info("the %s() %s keyword is not supported by the `pkgadd' backend. The %s `%s' uses it. "
       "You should conditionalize the %s() keyword in the control file.\n",
       keyword, kind, kind, name.c_str(), keyword);
}

void verify_package(pkgptr_t p) {
  if (p->flags & pf::HAS_SUBPKGS)
    error("the `pkgadd' backend driver does not support container packages, because the "
          "underlying tools do not support them. The package `%s' currently contains other "
          "packages. You need to adjust the control file to conditionalize the creation of this "
          "container package.\n",
          p->name.c_str());
  if (!p->upgrades.empty()) unsupported_keyword("upgrades", "package", p->name);
  if (!p->dependency.empty()) unsupported_keyword("depends", "package", p->name);
  if (!p->replaces.empty()) unsupported_keyword("replaces", "package", p->name);
  if (!p->requires_.empty()) unsupported_keyword("requires", "package", p->name);
}

void verify_descriptions(cmpntptr_t c) {
  check_dependency_descriptions(*c, "pkgadd");
  if (!c->upgrades.empty()) unsupported_keyword("upgrades", "component", c->name);
  if (!c->requires_.empty()) unsupported_keyword("requires", "component", c->name);
}

/// The product code names the Makefile's targets and the datastream file,
/// so it must be safe there without quoting.
bool safe_code(const std::string& s) {
  if (s.empty() || s == "." || s == "..") return false;
  for (unsigned char ch : s)
    if (!std::isalnum(ch) && ch != '+' && ch != '-' && ch != '_' && ch != '.') return false;
  return true;
}

constexpr std::size_t ABBREVIATION_MAX = 32;

/// What the SVR4 tools take as a package abbreviation: a letter, then
/// letters, digits, '+' and '-', at most 32 in all, and none of the words
/// the tools keep for themselves.
bool valid_abbreviation(std::string_view s) {
  if (s.empty() || s.size() > ABBREVIATION_MAX || !std::isalpha(static_cast<unsigned char>(s[0])))
    return false;
  for (unsigned char ch : s)
    if (!std::isalnum(ch) && ch != '+' && ch != '-') return false;
  return s != "all" && s != "install" && s != "new";
}

bool check_abbreviation(const char* what, const std::string& name, const std::string& origin) {
  if (valid_abbreviation(name)) return true;
  error("the %s `%s' (from %s) cannot be used as an SVR4 package abbreviation, which must begin "
        "with a letter, hold only letters, digits, `+' and `-', be at most 32 characters long and "
        "not be `all', `install' or `new'.\n",
        what, name.c_str(), origin.c_str());
  return false;
}

bool has_package(cmpntptr_t c) {
  for (const varnode& n : c->subpackages)
    if (find_package(nullptr, n.name.c_str())) return true;
  return false;
}

void verify_product_code() {
  const std::string& prdcode = str_or_empty(opts.prdcode);
  if (!check_output_name("product code", prdcode, option_origin('P'))) return;
  if (!safe_code(prdcode))
    error("the product code `%s' cannot be used by the `pkgadd' backend driver, because it "
          "names output files and make targets: only letters, digits and the characters `+', "
          "`-', `_' and `.' may be used.\n",
          prdcode.c_str());
  // A set is an SVR4 package of its own, named by the product code.
  else if (model.cmpnts.size() > 1)
    check_abbreviation("product code", prdcode, option_origin('P'));
}

// Every component becomes one SVR4 package in a directory of its own name,
// so names must be package abbreviations and distinct, and each needs a
// package.
void verify_component_names() {
  verify_product_code();
  if (model.cmpnts.empty())
    error("there are no components, so the `pkgadd' backend driver has nothing to write.\n");
  std::set<std::string> seen;
  for (cmpntptr_t c : model.cmpnts) {
    const std::string origin = component_name_origin(*c);
    const bool usable = check_output_name("component name", c->name, origin) &&
                        check_abbreviation("component name", c->name, origin);
    if (usable && !seen.insert(c->name).second)
      error("the component name `%s' is used by more than one component. The `pkgadd' backend "
            "driver writes each component as a package of that name, so the names must "
            "differ.\n",
            c->name.c_str());
    if (!has_package(c))
      error("the component `%s' contains no packages. The `pkgadd' backend driver makes one "
            "SVR4 package of each component, which needs at least one package of files.\n",
            c->name.c_str());
  }
}

// ---- Values of pkginfo, set and depend files --------------------------------
//
// pkginfo values stand between double quotes on a line of their own, set
// files hold one line per component, and a depend line is a name and a
// description; so no value may hold a newline, and no pkginfo value a
// double quote.

std::string category_origin(const component& c) {
  return c.extra.empty() ? option_origin('U') : component_origin(c, 'U');
}

void verify_pkginfo_values(const component& c, ValueCheck& v) {
  v.check("component description", c.desc, component_origin(c, 'D'), NEWLINE_OR_QUOTE);
  v.check("component version", c.version, component_origin(c, 'V'), NEWLINE_OR_QUOTE);
  v.check("category", pkgadd_category(c), category_origin(c), NEWLINE_OR_QUOTE);
  // Package names are classes as well, where the class check refuses a newline.
  for (const varnode& n : c.subpackages) {
    const pkgptr_t p = find_package(nullptr, n.name.c_str());
    v.check("package name", n.name, p ? package_name_origin(*p) : list_origin("subpackage", c.name),
            "\"");
  }
}

void verify_depend_values(const component& c, ValueCheck& v) {
  for (const auto& [list, keyword] : {std::pair{&c.dependency, "dependency"},
                                      std::pair{&c.replaces, "replaces"}}) {
    for (const varnode& n : *list) {
      const std::string origin = list_origin(keyword, c.name);
      v.check(keyword, n.name, origin, "\n \t");
      v.check("description", n.value, origin, NEWLINE);
    }
  }
}

void verify_values() {
  ValueCheck pkginfo("a pkginfo file");
  if (model.cmpnts.size() > 1) {
    pkginfo.check("description", str_or_empty(opts.description), option_origin('D'),
                  NEWLINE_OR_QUOTE);
    pkginfo.check("version", str_or_empty(opts.version), option_origin('V'), NEWLINE_OR_QUOTE);
  }
  ValueCheck depend("a depend file");
  for (cmpntptr_t c : model.cmpnts) {
    verify_pkginfo_values(*c, pkginfo);
    verify_depend_values(*c, depend);
  }
}

}  // namespace

int pkgadd_postdir(pkgptr_t pkg, dfileptr_t dir, int toplevel) {
  return mark_private_dir(pkg, dir, toplevel) ? REPLY_PRIVATE : REPLY_GO_ON;
}

// Every file of a private package is an installation script.
int pkgadd_postfile(pkgptr_t pkg, dfileptr_t file, int) {
  const script_marks marks{.sflags = pkgadd_sf::CNTL, .private_packages = true};
  return mark_private_file(pkg, file, marks) ? REPLY_PRIVATE : REPLY_GO_ON;
}

int pkgadd_finalpkg(pkgptr_t pkg) {
  sort_package_by_path(pkg);
  for (dfileptr_t f : pkg->files)
    if (checked_link(f)) check_file_link(pkg, f);
  // A directory link is written as its target's installed path, which a
  // target outside the package directory does not have.
  for (dfileptr_t d : pkg->dirs)
    if (checked_link(d) && !target_in_package(*pkg, d->target))
      report_missing_link_target(*pkg, *d, target_from_dist(d->target));
  return REPLY_OK;
}

int pkgadd_precmpnt(cmpntptr_t c) {
  c->sizes = cmpnt_sizes{};
  return REPLY_GO_ON;
}

int pkgadd_finalcmpnt(cmpntptr_t c) {
  // Sizes are 64-bit, so the start value must lie above every file size.
  c->sizes.smallest = INT64_MAX;
  c->sizes.largest = 0;
  for (const varnode& n : c->subpackages) {
    // A member that does not exist was reported by the assembly already.
    pkgptr_t p = find_package(nullptr, n.name.c_str());
    if (!p) continue;
    for (dfileptr_t f : p->files) {
      if (f->size == 0) continue;
      c->sizes.smallest = std::min(c->sizes.smallest, f->size);
      c->sizes.largest = std::max(c->sizes.largest, f->size);
    }
  }
  return REPLY_GO_ON;
}

void pkgadd_verify() {
  for (pkgptr_t p : model.packages) verify_package(p);
  for (cmpntptr_t c : model.cmpnts) verify_descriptions(c);
  verify_component_names();
  verify_values();
  pkgadd_check_output();
}

void pkgadd_final() {
  pkgadd_settings.biggest = 0;
  for (dfileptr_t f : model.files)
    if (!f->excluded()) pkgadd_settings.biggest = std::max(pkgadd_settings.biggest, f->size);
  syspost_mark_nocompress(pkgadd_marks());
}

const std::string& pkgadd_category(const component& c) {
  return c.extra.empty() ? str_or_empty(pkgadd_settings.pkgadd_cat) : c.extra;
}

std::int64_t pkgadd_blocks(std::int64_t bytes) {
  // Rounded up without adding first, so that the largest counts cannot overflow.
  const std::int64_t b = bytes / 512 + (bytes % 512 > 0 ? 1 : 0);
  std::int64_t r = b;
  if (b > 10) r += (b - 9) / 128 + 1;
  if (b > 138) r += (b - 137) / 16384 + 1;
  if (b > 16522) r += 1;
  return r + 65;
}
