// The pkgadd backend's record, its options and the checks made on them.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "backend/backend.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "backend/syspost.hpp"
#include "common/diag.hpp"
#include "model/settings.hpp"

PkgaddState pkgadd_state;

namespace {

const option pkgadd_rows[] = {
    {'U', "pkgadd-category", 1, opt_setstr, &opts.pkgadd_cat, "CATEGORY",
     "Set the installation CATEGORY for this package.", opt_setstrval},
    {-'l', "pkgadd-part-limit", 1, opt_setint, &opts.pkgadd_limit, "LIMIT",
     "Set the maximum size of each part of a package. When pkgadd creates packages, it will "
     "split the installation into multiple `parts' each at most LIMIT bytes in length. The "
     "default is 10485760 bytes, or 10 MB. Be aware that setting this value too high can make "
     "a package uninstallable on some systems, as the pkgadd tool requires at least this much "
     "space in the `/tmp' filesystem, which is frequently a RAM disk that is fairly small. "
     "Corvane will automatically increase this limit if any given file is larger than the "
     "limit specified here.",
     opt_setintval},
    {0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
};

/// The backend's option table (without the closing row).
const option_table pkgadd_opts(pkgadd_rows, 2);

int pkgadd_chkname(const char* cmdname) {
  return std::strcmp(cmdname, "mkpkgadd") == 0 || std::strcmp(cmdname, "mkpkg") == 0;
}

void pkgadd_optcheck() {
  opts.pkgdir = str_or_empty(opts.basedir) + "/" + "input";
  const char* dir = opts.pkgdir->c_str();
  struct stat st;
  // A plain file of that name passes the access test but could never hold
  // the output files, so it is refused here rather than at the first write.
  if (access(dir, R_OK | W_OK) != 0 || stat(dir, &st) != 0 || !S_ISDIR(st.st_mode))
    error("output directory `%s' does not exist or is not writeable.\n", dir);
  if (str_or_empty(opts.pkgadd_cat).empty()) error("pkgadd category (-U) not set.\n");
  // A limit below one byte would give pkgmk a meaningless part size.
  if (opts.pkgadd_limit < 1)
    error("invalid part limit `%lld' (-l): the limit must be a positive number of bytes.\n",
          static_cast<long long>(opts.pkgadd_limit));
}

void pkgadd_postproc() { syspost_postproc(pkgadd_marks()); }

int pkgadd_init(backend& self) {
  constexpr int major = 1, minor = 1, patch = 0;
  pkgadd_state = PkgaddState{};
  pkgadd_state.verstr = version_text(major, minor, patch);
  pkgadd_state.version = version_number(major, minor, patch);
  self.verstr = pkgadd_state.verstr;
  self.version = pkgadd_state.version;
  self.opts = pkgadd_opts;
  self.optcheck = pkgadd_optcheck;
  self.postproc = pkgadd_postproc;
  self.verify = pkgadd_verify;
  self.final = pkgadd_final;
  self.produce = pkgadd_produce;
  self.postfile = pkgadd_postfile;
  self.postdir = pkgadd_postdir;
  self.finalpkg = pkgadd_finalpkg;
  self.precmpnt = pkgadd_precmpnt;
  self.finalcmpnt = pkgadd_finalcmpnt;
  return 0;
}

}  // namespace

syspost_marks pkgadd_marks() {
  syspost_marks marks;
  marks.sysdir_aflags = pkgadd_af::SYSDIR;
  marks.nocompress_sflags = sf::NO_COMPRESS;
  return marks;
}

const backend pkgadd_backend = [] {
  backend b;
  b.name = "pkgadd";
  b.desc = "UNIX System V Release 4 Packaging System (pkgadd)";
  b.chkname = pkgadd_chkname;
  b.init = pkgadd_init;
  b.produce = pkgadd_produce;
  return b;
}();
