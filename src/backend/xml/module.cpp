// The XML backend's record and the operations that run during option
// checks, the scan and the assembly.
#include <cstring>

#include "backend/checks.hpp"
#include "backend/syspost.hpp"
#include "backend/xml/xml.hpp"

namespace {

// The backend has no options of its own.
constexpr option_table xml_opts{};

bool is_private_dir(const dfile* d) {
  return d && ((d->sflags & sf::DIR_PRIVATE) || (d->aflags & af::PRIVATE));
}

}  // namespace

int xml_chkname(const char* cmdname) { return std::strcmp(cmdname, "mkxmlpkg") == 0 ? 1 : 0; }

// The description goes beside the dist directory, into the base directory.
void xml_optcheck() { set_output_directory(str_or_empty(opts.basedir)); }

int xml_postdir(pkgptr_t pkg, dfileptr_t dir, int) {
  int reply = REPLY_GO_ON;
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
  if (!(pkg->flags & pf::PRIVATE) && !is_private_dir(file->parent)) return REPLY_GO_ON;
  file->sflags |= sf::FILE_PRIVATE;
  file->aflags |= af::PRIVATE;
  file->mode |= 0111;
  return REPLY_PRIVATE;
}

void xml_postproc() { syspost_postproc({}); }

constexpr backend xml_backend{
    .name = "xml",
    .desc = "Generic XML representation",
    .verstr = "1.0.0",
    .version = version_number(1, 0, 0),
    .opts = xml_opts,
    .chkname = xml_chkname,
    .optcheck = xml_optcheck,
    .postproc = xml_postproc,
    .verify = xml_verify,
    .final = xml_final,
    .produce = xml_produce,
    .postfile = xml_postfile,
    .postdir = xml_postdir,
    .finalpkg = xml_finalpkg,
};
