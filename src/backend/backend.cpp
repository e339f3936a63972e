#include "backend/backend.hpp"

#include <cstring>

Registry registry;

void install_backends(std::span<const backend* const> table) {
  registry.backends = table;
  registry.backptr = nullptr;
  for (const backend* b : registry.backends)
    if (b->init) b->init();
}

const backend* find_backend(const char* name) {
  for (const backend* b : registry.backends)
    if (std::strcmp(b->name, name) == 0) return b;
  return nullptr;
}

void set_backend(const backend* b) {
  registry.backptr = b;
  add_varlist("CORVANE_BACKEND", b->name, opts.macros);
}

void set_phase(attrent& e, phase_kind phase) {
  // The phase bits of the paths, indexed by the phase.
  static constexpr std::uint32_t bits[] = {0, 1, 2, 4};
  e.phase = phase;
  if (phase < PHASE_EARLY || phase > PHASE_NONE) return;
  for (path_t* p : {&e.abs, &e.path, &e.nm, &e.target}) p->flags = bits[phase];
  if (phase == PHASE_NONE) e.aflags |= af::PRIVATE;
}

bool apply_entry_reply(int reply, dfileptr_t e) {
  switch (reply) {
    case REPLY_FAIL:
      return true;
    case REPLY_SKIP:
    case REPLY_REMOVE:
      e->aflags |= af::EXCLUDED;
      break;
    case REPLY_PRIVATE:
      e->aflags |= af::PRIVATE;
      break;
    default:
      break;
  }
  return false;
}

void apply_package_reply(int reply, pkgptr_t p, bool final) {
  switch (reply) {
    case REPLY_SKIP:
      if (final) p->flags |= pf::IGNORED;
      break;
    case REPLY_FAIL:
      p->flags |= pf::IGNORED | pf::FAILED;
      break;
    case REPLY_PRIVATE:
      p->flags |= pf::PRIVATE;
      break;
    case REPLY_REMOVE:
      p->flags |= pf::IGNORED | pf::REMOVED;
      break;
    default:
      break;
  }
}

void apply_component_reply(int reply, cmpntptr_t c) {
  if (reply == REPLY_FAIL) c->flags |= cf::SKIPPED | cf::FAILED;
  if (reply == REPLY_REMOVE) c->flags |= cf::SKIPPED | cf::REMOVED;
}

namespace {

template <class Op, class... A>
int call_op(Op op, A... a) {
  return registry.backptr && registry.backptr->*op ? (registry.backptr->*op)(a...) : REPLY_OK;
}

}  // namespace

int call_postfile(pkgptr_t p, dfileptr_t e, int l) { return call_op(&backend::postfile, p, e, l); }
int call_postdir(pkgptr_t p, dfileptr_t e, int l) { return call_op(&backend::postdir, p, e, l); }
int call_enddir(pkgptr_t p, dfileptr_t e, int l) { return call_op(&backend::enddir, p, e, l); }
int call_prefile(pkgptr_t p, const char* a, const char* t) { return call_op(&backend::prefile, p, a, t); }
int call_predir(pkgptr_t p, const char* a, const char* t) { return call_op(&backend::predir, p, a, t); }
int call_prepkg(pkgptr_t p) { return call_op(&backend::prepkg, p); }
int call_postpkg(pkgptr_t p) { return call_op(&backend::postpkg, p); }
int call_finalpkg(pkgptr_t p) { return call_op(&backend::finalpkg, p); }
int call_precmpnt(cmpntptr_t c) { return call_op(&backend::precmpnt, c); }
int call_postcmpnt(cmpntptr_t c) { return call_op(&backend::postcmpnt, c); }
int call_finalcmpnt(cmpntptr_t c) { return call_op(&backend::finalcmpnt, c); }
