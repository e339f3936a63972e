// The KEST backend record, its options, and the operations that settle
// names and the output directory before the tree is scanned.
#include <cstring>

#include "backend/checks.hpp"
#include "backend/kest/kest.hpp"
#include "common/strutil.hpp"
#include "model/settings.hpp"

KestSettings kest_settings;

namespace {

// -E also notes its value, so a refusal of the vendor can tell the option
// from a vendor() statement of the control file.
int opt_vendor(int letter, int nleft, char** args, void* target) {
  const int used = opt_setstr(letter, nleft, args, target);
  kest_settings.vendor_option = opts.vendor;
  return used;
}

constexpr option kest_opts[] = {
    {-'h', "dont-harden-symlinks", 0, opt_setint_1, &kest_settings.hmode, "",
     "Only obeyed if the -H option is also used. The default behaviour for symbolic links is to "
     "export them as multiple exports of the file they point to. The -H option thwarts that "
     "behaviour, and instead will `harden', or convert to hard links, all symbolic links found. "
     "If you really want symbolic links preserved as they are in the distribution tree, use this "
     "option along with -H to prevent symbolic links from being hardened. This is highly "
     "discouraged.",
     opt_setintval},
    {-'H', "dont-export-symlinks", 0, opt_setint_1, &kest_settings.Hmode, "",
     "By default, Corvane will convert all symbolic links into multiple exports of the file a "
     "symbolic link points to. This option will change that behaviour to instead convert "
     "symbolic links into hard links, using the LINK file type in the input files. The -h option "
     "can be used along with this option to force Corvane to produce actual `SYML' file types in "
     "the input files. This is highly discouraged. Using -H on its own still produces sensible "
     "input files, but using -H and -h together will create buggy packages, mostly becuase "
     "instor has a bug with removal of `SYML' entries.",
     opt_setintval},
    {-'l', "hard-links-ok", 0, opt_setint_1, &kest_settings.kest_lmode, "",
     "Tell Corvane that hard links are acceptable in this package. This silences the usual "
     "warning about hard links in the distribution tree, and is most useful when you are not "
     "using a control file. If you are using a control file, you can use the convert() function "
     "to convert hard links to symbolic links, or the linkok() function to mark individual hard "
     "links as acceptable.",
     opt_setintval},
    {-'e', "explicit-mog", 0, opt_setint_1, &kest_settings.emode, "",
     "Normally Corvane produces terse packaging files that rely on the `kest.config' file "
     "setting specific default ownership and mode values for files and directories. This flag "
     "instructs Corvane to eject explicit mode, owner and group information for all files and "
     "directories. This is most likely only useful if you will be using the generated package "
     "files in some larger collection that sets the default files and permissions to something "
     "other than bin/bin and mode 0755 (for directories) or 0444 (for files).",
     opt_setintval},
    {'E', "vendor", 1, opt_vendor, &opts.vendor, "STRING",
     "Set the default vendor to the specified STRING. The vendor is required to be set for all "
     "dependencies and pre-requisites.",
     nullptr},
};

int kest_chkname(const char* cmdname) { return std::strcmp(cmdname, "mkkest") == 0; }

void kest_init() { kest_settings = KestSettings{}; }

}  // namespace

constexpr backend kest_backend{
    .name = "kest",
    .desc = "Instor Distribution Mastering Toolkit (KEST)",
    .verstr = "1.1.0",
    .version = version_number(1, 1, 0),
    .opts = kest_opts,
    .chkname = kest_chkname,
    .init = kest_init,
    .optcheck = kest_optcheck,
    .postproc = kest_postproc,
    .final = kest_final,
    .produce = kest_produce,
    .postfile = kest_postfile,
    .postdir = kest_postdir,
    .prepkg = kest_prepkg,
    .finalpkg = kest_finalpkg,
    .pkgrename = kest_pkgrename,
};

void kest_optcheck() { set_output_directory(str_or_empty(opts.basedir) + "/" + "input"); }

int kest_prepkg(pkgptr_t pkg) {
  if (pkg->name != KEST_CONTROL_PKG) return REPLY_GO_ON;
  pkg->flags |= pf::PRIVATE;
  pkg->desc = "Package Control Scripts";
  return REPLY_PRIVATE;
}

std::string kest_pkgrename(const char* shortname) {
  if (shortname == KEST_CNTL_DIR) return std::string(KEST_CONTROL_PKG);
  return strupper(shortname);
}

std::string kest_escstr(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '$') out += '\\';
    out += c;
  }
  return out;
}
