#include "backend/cntl.hpp"

namespace {

// Control scripts must be readable by the installer, and runnable by
// everyone when they are runnable at all, whatever the tree says.
void fix_script_mode(dfileptr_t f) {
  f->mode |= 0444;
  if (f->mode & 0111) f->mode |= 0111;
}

bool in_cntl(dfileptr_t d) { return d && ((d->sflags & cntl::DIR) || (d->aflags & cntl::IN_CNTL)); }

bool is_private(dfileptr_t d) {
  return d && ((d->sflags & sf::DIR_PRIVATE) || (d->aflags & af::PRIVATE));
}

}  // namespace

bool mark_private_dir(pkgptr_t pkg, dfileptr_t d, int toplevel) {
  bool applied = false;
  if (pkg->flags & pf::PRIVATE) {
    d->sflags |= sf::DIR_PRIVATE;
    d->aflags |= af::PRIVATE;
    applied = true;
  }
  if (toplevel && d->nm.sv() == CNTL_DIR) {
    d->sflags |= cntl::DIR | sf::DIR_PRIVATE;
    d->aflags |= cntl::IN_CNTL | af::PRIVATE;
    pkg->flags |= cntl::HAS_CNTL;
    applied = true;
  }
  if (dfileptr_t parent = d->parent) {
    const std::uint32_t a = parent->aflags & (cntl::IN_CNTL | af::PRIVATE);
    const std::uint32_t s = parent->sflags & (cntl::DIR | sf::DIR_PRIVATE);
    d->aflags |= a;
    d->sflags |= s;
    if (a || s) applied = true;
  }
  return applied;
}

bool mark_private_file(pkgptr_t pkg, dfileptr_t f, const script_marks& marks) {
  bool applied = false;
  if (pkg->flags & pf::PRIVATE) {
    f->sflags |= sf::FILE_PRIVATE;
    f->aflags |= af::PRIVATE;
    if (marks.private_packages) {
      f->sflags |= marks.sflags;
      f->aflags |= cntl::IN_CNTL;
    }
    fix_script_mode(f);
    applied = true;
  }
  if (in_cntl(f->parent)) {
    f->sflags |= marks.sflags;
    f->aflags |= cntl::IN_CNTL;
    fix_script_mode(f);
    applied = true;
  }
  if (is_private(f->parent)) {
    f->sflags |= sf::FILE_PRIVATE;
    f->aflags |= af::PRIVATE;
    applied = true;
  }
  return applied;
}
