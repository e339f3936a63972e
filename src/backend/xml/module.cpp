// The XML backend's record and the operations that run during option
// checks, the scan and the assembly.
#include <unistd.h>

#include <cstring>

#include "backend/syspost.hpp"
#include "backend/xml/xml.hpp"
#include "common/diag.hpp"

std::string xml_verstr;

namespace {

// The backend has no options of its own.
const option_table xml_opts{};

bool is_private_dir(const dfile* d) {
  return d && ((d->sflags & sf::DIR_PRIVATE) || (d->aflags & af::PRIVATE));
}

}  // namespace

int xml_chkname(const char* cmdname) { return std::strcmp(cmdname, "mkxmlpkg") == 0 ? 1 : 0; }

int xml_init(backend& self) {
  xml_verstr = version_text(1, 0, 0);
  self.verstr = xml_verstr;
  self.version = xml_version;
  self.opts = xml_opts;
  self.chkname = xml_chkname;
  self.init = xml_init;
  self.optcheck = xml_optcheck;
  self.postdir = xml_postdir;
  self.postfile = xml_postfile;
  self.finalpkg = xml_finalpkg;
  self.postproc = xml_postproc;
  self.verify = xml_verify;
  self.final = xml_final;
  self.produce = xml_produce;
  return 0;
}

void xml_optcheck() {
  opts.pkgdir = str_or_empty(opts.basedir);
  if (access(opts.pkgdir->c_str(), R_OK | W_OK) != 0)
    error("output directory `%s' does not exist or is not writeable.\n", opts.pkgdir->c_str());
}

int xml_postdir(pkgptr_t pkg, dfileptr_t dir, int) {
  int reply = 1;
  if ((pkg->flags & pf::PRIVATE) || is_private_dir(dir->parent)) {
    dir->sflags |= sf::DIR_PRIVATE;
    dir->aflags |= af::PRIVATE;
    reply = REPLY_PRIVATE;
  }
  for (const strnode& e : dir->exports) {
    if (e.flags & ef::CHILD) dir->sflags |= sf::DIR_CHILD_EXPORTS;
    if (e.flags & ef::RECURSIVE) dir->sflags |= sf::DIR_RECURSIVE;
  }
  return reply;
}

int xml_postfile(pkgptr_t pkg, dfileptr_t file, int) {
  if (!(pkg->flags & pf::PRIVATE) && !is_private_dir(file->parent)) return 1;
  file->sflags |= sf::FILE_PRIVATE;
  file->aflags |= af::PRIVATE;
  file->mode |= 0111;
  return REPLY_PRIVATE;
}

void xml_postproc() { syspost_postproc({}); }

const backend xml_backend = [] {
  backend b;
  b.name = "xml";
  b.desc = "Generic XML representation";
  b.chkname = xml_chkname;
  b.init = xml_init;
  b.produce = xml_produce;
  return b;
}();
