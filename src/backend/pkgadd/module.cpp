// The pkgadd backend's record, its options and the checks made on them.
#include <cstring>

#include "backend/checks.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "backend/syspost.hpp"
#include "common/diag.hpp"
#include "model/settings.hpp"

PkgaddSettings pkgadd_settings;

namespace {

constexpr option pkgadd_rows[] = {
    {'U', "pkgadd-category", 1, opt_setstr, &pkgadd_settings.pkgadd_cat, "CATEGORY",
     "Set the installation CATEGORY for this package.", opt_setstrval},
    // 64-bit, so that limits above 2 GiB do not wrap.
    {-'l', "pkgadd-part-limit", 1, opt_setint64, &pkgadd_settings.pkgadd_limit, "LIMIT",
     "Set the maximum size of each part of a package. When pkgadd creates packages, it will "
     "split the installation into multiple `parts' each at most LIMIT bytes in length. The "
     "default is 10485760 bytes, or 10 MB. Be aware that setting this value too high can make "
     "a package uninstallable on some systems, as the pkgadd tool requires at least this much "
     "space in the `/tmp' filesystem, which is frequently a RAM disk that is fairly small. "
     "Corvane will automatically increase this limit if any given file is larger than the "
     "limit specified here.",
     opt_setint64val},
    {0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
};

/// The backend's option table (without the closing row).
constexpr option_table pkgadd_opts(pkgadd_rows, 2);

int pkgadd_chkname(const char* cmdname) {
  return std::strcmp(cmdname, "mkpkgadd") == 0 || std::strcmp(cmdname, "mkpkg") == 0;
}

void pkgadd_init() { pkgadd_settings = PkgaddSettings{}; }

void pkgadd_optcheck() {
  set_output_directory(str_or_empty(opts.basedir) + "/" + "input");
  if (str_or_empty(pkgadd_settings.pkgadd_cat).empty()) error("pkgadd category (-U) not set.\n");
  // A limit below one byte would give pkgmk a meaningless part size.
  if (pkgadd_settings.pkgadd_limit < 1)
    error("invalid part limit `%lld' (-l): the limit must be a positive number of bytes.\n",
          static_cast<long long>(pkgadd_settings.pkgadd_limit));
}

void pkgadd_postproc() { syspost_postproc(pkgadd_marks()); }

}  // namespace

constexpr backend pkgadd_backend{
    .name = "pkgadd",
    .desc = "UNIX System V Release 4 Packaging System (pkgadd)",
    .verstr = "1.1.0",
    .version = version_number(1, 1, 0),
    .opts = pkgadd_opts,
    .chkname = pkgadd_chkname,
    .init = pkgadd_init,
    .optcheck = pkgadd_optcheck,
    .postproc = pkgadd_postproc,
    .verify = pkgadd_verify,
    .final = pkgadd_final,
    .produce = pkgadd_produce,
    .postfile = pkgadd_postfile,
    .postdir = pkgadd_postdir,
    .finalpkg = pkgadd_finalpkg,
    .precmpnt = pkgadd_precmpnt,
    .finalcmpnt = pkgadd_finalcmpnt,
};

syspost_marks pkgadd_marks() {
  syspost_marks marks;
  marks.sysdir_aflags = pkgadd_af::SYSDIR;
  marks.nocompress_sflags = sf::NO_COMPRESS;
  return marks;
}
