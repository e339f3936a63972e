// What the control file's statements do: settings, conditionals, product
// lists, the package, component, prep-phase and entry blocks, and the
// attributes of entries and patterns. Nothing here touches the tree but
// exists() and the prep phases; the scan applies the records later.
#include "ctlfile/actions.hpp"

#include <unistd.h>

#include <cstdio>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "common/namecache.hpp"
#include "common/strutil.hpp"
#include "common/version.hpp"
#include "ctlfile/lexer.hpp"
#include "model/settings.hpp"
#include "prep/autoprep.hpp"
#include "prep/tessel.hpp"
#include "prep/texi.hpp"

namespace {

// Owner and group ids given by a name the system does not know.
constexpr std::uint32_t UNKNOWN_ID = static_cast<std::uint32_t>(-123);

// A statement can stand inside a block whose opening statement did not act,
// because a conditional opened outside the block closed inside it; it then
// has nothing to act on.
void report_skipped_block(CtlReader& rd) {
  ctl_error(rd, "statement ignored: the block it stands in was skipped by a conditional.\n");
}

/// The package of the package body being read, or null (reported).
pkgptr_t body_package(CtlReader& rd) {
  if (!rd.ctx.pkg) report_skipped_block(rd);
  return rd.ctx.pkg;
}

/// The component of the component body being read, or null (reported).
cmpntptr_t body_component(CtlReader& rd) {
  if (!rd.ctx.cmpnt) report_skipped_block(rd);
  return rd.ctx.cmpnt;
}

/// The entry or pattern that an attribute statement acts on; null when
/// statements do not act, or (reported) when its block was skipped.
attrent* body_entry(CtlReader& rd) {
  if (!rd.acts()) return nullptr;
  if (!rd.ctx.ctxentry) report_skipped_block(rd);
  return rd.ctx.ctxentry;
}

bool in_pattern(const CtlReader& rd) {
  return rd.ctx.entry_kind == EntryKind::file_pattern || rd.ctx.entry_kind == EntryKind::dir_pattern;
}

/// True for access() and export() standing directly in a package body.
bool package_default(const CtlReader& rd) {
  return rd.ctx.entry_kind == EntryKind::none && rd.ctx.ctxkind == BlockKind::package;
}

std::uint32_t early_bit(int a_phase) { return a_phase == PHASE_EARLY ? ef::EARLY : 0; }

/// A new attribute pattern at the end of `array`.
attrent& add_to_all(const std::string& pattern, std::vector<attrent>& array, int pathmatch) {
  attrent& a = array.emplace_back();
  a.path = newpath_dup(pattern);
  if (pathmatch) a.aflags |= af::PATHMATCH;
  return a;
}

/// The row a set() names: the program's own options first, then those of
/// every backend, selected or not.
const option* option_row(const CtlReader& rd, const char* name) {
  if (const option* o = find_option(rd.options, name)) return o;
  for (const backend* b : registry.backends)
    if (const option* o = find_option(b->opts, name)) return o;
  return nullptr;
}

/// A link the control file creates is a symbolic link like one the scan
/// finds, its target held as the scan holds a target: the full path on the
/// build system, a relative target taken from the link's directory.
void make_created_link(dfile& e, const package& pkg, const std::string& target) {
  e.aflags |= af::CREATED | af::SYMLINK;
  const std::string_view abs = e.abs.sv();
  const std::string_view linkdir = abs.substr(0, std::min(abs.rfind('/'), abs.size()));
  if (auto full = link_target_path(pkg, linkdir, target)) e.target = newpath_dup(*full);
}

void set_owner_or_group(CtlReader& rd, const std::string& name, bool owner) {
  attrent* e = body_entry(rd);
  if (!e) return;
  long id = owner ? get_uid(name.c_str()) : get_gid(name.c_str());
  if (id >= 0) {
    (owner ? e->uid : e->gid) = static_cast<std::uint32_t>(id);
  } else {
    ctl_warning(rd, owner ? "unusual owner `%s' for file `%s'.\n" : "unusual group `%s' for file `%s'.\n",
                name.c_str(), std::string(e->path.sv()).c_str());
    e->set_text(owner ? &entry_texts::owner : &entry_texts::group, model_strdup(name));
    (owner ? e->uid : e->gid) = UNKNOWN_ID;
    e->aflags |= owner ? af::OWNER : af::GROUP;
  }
  e->aflags |= owner ? af::UID : af::GID;
}

}  // namespace

// ---- Settings and conditionals -------------------------------------------

void act_define(CtlReader& rd, const std::string& name, const std::string& value, int eval) {
  if (!rd.condtrue()) return;
  add_varlist(name, eval ? lexer_expandstr(rd, value) : value, opts.macros);
}

void act_ifdef(CtlReader& rd, const std::string& name, int want) {
  bool defined = find_varlist(name, opts.macros) != nullptr;
  condset(rd, defined == (want != 0));
}

void act_ifeq(CtlReader& rd, const std::string& name, const std::string& text, int want) {
  const varnode* m = find_varlist(name, opts.macros);
  if (!m) {
    ctl_warning(rd, "macro `%s' undefined.\n", name.c_str());
    ++rd.parsewarns;
    condset(rd, !want);
    return;
  }
  condset(rd, (m->value == text) == (want != 0));
}

void act_want_value(CtlReader& rd, int parts, int a, int b, int c) {
  // In 64 bits: any number a control file gives must compare, none overflow.
  rd.wantval = a * 100000LL + b * 1000LL + c;
  rd.wantmsg = parts == 1   ? strprintf("%d.x.x", a)
               : parts == 2 ? strprintf("%d.%d.x", a, b)
                            : strprintf("%d.%d.%d", a, b, c);
}

void act_want(CtlReader& rd) {
  if (!rd.condtrue() || rd.wantval <= corvane_ver) return;
  ctl_error(rd, "control script wants Corvane version %c%s%c - only have %c%s%c.\n", SECT_MARK,
            rd.wantmsg.c_str(), SECT_MARK, SECT_MARK, CORVANE_VER, SECT_MARK);
  exit_run(1);
}

void act_want_backend(CtlReader& rd, const std::string& name) {
  if (!rd.condtrue()) return;
  const backend* b = find_backend(name.c_str());
  if (!b) {
    ctl_error(rd, "invalid backend `%s'.\n", name.c_str());
    exit_run(1);
  }
  if (rd.wantval <= b->version) return;
  ctl_error(rd, "control script wants Corvane `%s' driver version %c%s%c - only have %c%s%c.\n",
            name.c_str(), SECT_MARK, rd.wantmsg.c_str(), SECT_MARK, SECT_MARK, b->verstr,
            SECT_MARK);
  exit_run(1);
}

void act_error(CtlReader& rd, const std::string& text) {
  if (!rd.condtrue()) return;
  ctl_error(rd, "%s\n", text.c_str());
  exit_run(1);
}

void act_warning(CtlReader& rd, const std::string& text) {
  if (rd.condtrue()) ctl_warning(rd, "%s\n", text.c_str());
}

void act_backend(CtlReader& rd, const std::string& name) {
  if (!rd.condtrue()) return;
  if (const backend* b = find_backend(name.c_str()))
    set_backend(b);
  else
    ctl_error(rd, "unknown backend driver `%s'.\n", name.c_str());
}

void act_set(CtlReader& rd, const std::string& name, const std::string& value) {
  if (!rd.condtrue()) return;
  switch (set_option(option_row(rd, name.c_str()), value.c_str())) {
    case set_result::done:
      break;
    case set_result::unknown:
      ctl_error(rd, "invalid option `%s'.\n", name.c_str());
      break;
    case set_result::invalid_value:
      ctl_error(rd, "invalid value `%s' for option `%s'.\n", value.c_str(), name.c_str());
      break;
  }
}

void act_set_number(CtlReader& rd, const std::string& name, int value) {
  act_set(rd, name, strprintf("%d", value));
}

void act_include(CtlReader& rd, const std::string& name) {
  if (rd.condtrue()) include_file(rd, name);
}

// ---- Product-level statements --------------------------------------------

void act_vendor(CtlReader& rd, const std::string& text) {
  if (rd.acts()) opts.vendor = text;
}

void act_verbatim(CtlReader& rd, const std::string& text) {
  if (!rd.acts()) return;
  if (rd.ctx.ctxkind == BlockKind::component) {
    if (cmpntptr_t c = body_component(rd)) add_strlist(text, 0, c->verbatim);
  } else if (rd.ctx.ctxkind == BlockKind::package) {
    if (pkgptr_t p = body_package(rd)) add_strlist(text, 0, p->verbatim);
  } else {
    add_strlist(text, 0, model.verbatim);
  }
}

void act_mandir(CtlReader& rd, const std::string& dir) {
  if (rd.acts()) add_strlist(dir, 0, model.mandirs);
}

void act_relation(CtlReader& rd, rel list, const std::string& name, const std::string& value) {
  if (!rd.acts()) return;
  varlist* target = nullptr;
  auto pick = [list](auto* rec) {
    switch (list) {
      case rel::requires_: return &rec->requires_;
      case rel::dependency: return &rec->dependency;
      case rel::upgrades: return &rec->upgrades;
      case rel::replaces: return &rec->replaces;
      case rel::subpackage: return &rec->subpackages;
    }
    return &rec->requires_;
  };
  if (rd.ctx.ctxkind == BlockKind::package) {
    if (pkgptr_t p = body_package(rd)) target = pick(p);
  } else if (rd.ctx.ctxkind == BlockKind::component) {
    if (cmpntptr_t c = body_component(rd)) target = pick(c);
  } else if (list == rel::requires_) {
    target = &model.requires_;
  }
  if (target) add_varlist(name, value, *target);
}

void act_remove(CtlReader& rd, const std::string& path) {
  if (!rd.acts()) return;
  if (rd.ctx.ctxkind != BlockKind::package)
    add_strlist(path, 0, model.removes);
  else if (pkgptr_t p = body_package(rd))
    add_strlist(path, 0, p->removes);
}

void act_removeany(CtlReader& rd, const std::string& pattern, int pathmatch, bool body) {
  rd.ctx.ctxexcept = nullptr;
  if (!rd.acts()) return;
  strelist* list = &model.removeany;
  if (rd.ctx.ctxkind == BlockKind::package) {
    pkgptr_t p = body_package(rd);
    if (!p) return;
    list = &p->removeany;
  }
  strenode* node = add_strelist(pattern, pathmatch, *list);
  if (body) rd.ctx.ctxexcept = &node->sub;
}

void act_removeany_end(CtlReader& rd) { rd.ctx.ctxexcept = nullptr; }

void act_except(CtlReader& rd, const std::string& pattern, int pathmatch) {
  if (rd.acts() && rd.ctx.ctxexcept) add_strlist(pattern, pathmatch, *rd.ctx.ctxexcept);
}

void act_target(CtlReader& rd, const std::string& text, int flag) {
  if (!rd.acts()) return;
  if (pkgptr_t p = body_package(rd)) add_strlist(text, flag, p->targets);
}

// ---- Blocks ---------------------------------------------------------------

void act_package_open(CtlReader& rd, const std::string& dir, const std::string& desc,
                      const std::string& name, const std::string& extra) {
  rd.ctx = ParseContext{};
  rd.ctx.ctxkind = BlockKind::package;
  rd.ctx.name = name;
  rd.ctx.desc = desc;
  rd.ctx.third = dir;
  if (rd.acts()) rd.ctx.pkg = new_package(dir, desc, name, extra, 1);
}

// A package without a directory holds no files; without subpackages it
// only makes sense if verbatim text of a component refers to it.
void act_package_close(CtlReader& rd) {
  pkgptr_t p = rd.ctx.pkg;
  rd.ctx = ParseContext{};
  if (!rd.acts() || !p || opts.fmode || !p->reldir.empty() || !p->subpackages.empty()) return;
  if (!p->verbatim.empty())
    ctl_warning(rd,
                "container package `%s' contains no sub-packages, but it does contain verbatim "
                "text, so I will assume that you know what you are doing and will reference this "
                "package in other verbatim text in a component.\n",
                p->name.c_str());
  else
    ctl_error(rd,
              "container package `%s' contains no sub-packages or verbatim text. This would "
              "create a NULL package.\n",
              p->name.c_str());
}

bool act_component_open(CtlReader& rd, const std::string& name, const std::string& version,
                        const std::string& desc, const std::string& extra) {
  if (rd.acts() && name.empty()) {
    ctl_yyerror(rd, "component name empty.\n");
    return false;
  }
  rd.ctx = ParseContext{};
  rd.ctx.ctxkind = BlockKind::component;
  rd.ctx.name = name;
  rd.ctx.desc = desc;
  rd.ctx.third = version;
  if (rd.acts()) rd.ctx.cmpnt = new_cmpnt(name, version, desc, extra, 1);
  return true;
}

void act_component_close(CtlReader& rd) { rd.ctx = ParseContext{}; }

void act_prep_open(CtlReader& rd, const std::string& name) {
  rd.ctx = ParseContext{};
  rd.prep = PrepRequests{};
  if (!rd.acts()) return;
  std::printf("Executing prep phase `%s' ...\n", name.c_str());
  std::fflush(stdout);
  rd.prep.open = true;
  rd.prep.name = name;
}

void act_prep_close(CtlReader& rd) {
  PrepRequests p = std::move(rd.prep);
  rd.prep = PrepRequests{};
  rd.ctx = ParseContext{};
  if (!rd.acts() || !p.open) return;
  do_autoprep(p.automan, p.autotexi, p.autostrip, p.mcsstr.c_str());
  std::printf("Done with prep phase `%s' ...\n", p.name.c_str());
  std::fflush(stdout);
}

void act_entry_open(CtlReader& rd, const std::string& name, int create, EntryKind kind) {
  rd.ctx.ctxentry = nullptr;
  rd.ctx.ctxexcept = nullptr;
  rd.ctx.entry_kind = kind;
  if (!rd.acts()) return;
  pkgptr_t p = body_package(rd);
  if (!p) return;
  const std::string path = strxcat(p->dir.sv(), name);
  dfileptr_t e = kind == EntryKind::dir ? add_new_directory(path, p, ADD_REUSE)
                                         : add_new_file(path, p, ADD_REUSE);
  e->sflags |= sf::DECLARED;
  if (create) e->aflags |= af::CREATED;
  rd.ctx.ctxentry = e;
}

bool act_pattern_open(CtlReader& rd, const std::string& pattern, int pathmatch, EntryKind kind) {
  rd.ctx.ctxentry = nullptr;
  rd.ctx.ctxexcept = nullptr;
  rd.ctx.entry_kind = kind;
  if (!rd.acts()) return true;
  const bool files = kind == EntryKind::file_pattern;
  std::vector<attrent>* array;
  std::uint32_t bit;
  if (rd.ctx.ctxkind == BlockKind::package) {
    pkgptr_t p = body_package(rd);
    if (!p) return true;
    array = files ? &p->allfiles : &p->alldirs;
    bit = af::PKG_PATTERN;
  } else if (rd.ctx.ctxkind == BlockKind::top) {
    array = files ? &model.allfiles : &model.alldirs;
    bit = af::TOP_PATTERN;
  } else {
    ctl_yyerror(rd, files ? "invalid context for allfiles().\n" : "invalid context for alldirs().\n");
    return false;
  }
  attrent& a = add_to_all(pattern, *array, pathmatch);
  a.aflags |= bit;
  rd.ctx.ctxentry = &a;
  rd.ctx.ctxexcept = &a.except;
  return true;
}

bool act_symlink_open(CtlReader& rd, int create, int isdir, const std::string& name,
                      const std::string& target) {
  rd.ctx.ctxentry = nullptr;
  rd.ctx.ctxexcept = nullptr;
  rd.ctx.entry_kind = isdir ? EntryKind::dir : EntryKind::file;
  if (!rd.acts()) return true;
  pkgptr_t p = body_package(rd);
  if (!p) return true;
  if (create && target.empty()) {
    ctl_error(rd,
              "when creating a new symbolic link you must always specify a third argument, which "
              "is the target of the link. The string can not be an empty string either. For this "
              "link, you either forgot to specify the target, or it is the empty string.");
    return false;
  }
  const std::string path = strxcat(p->dir.sv(), name);
  dfileptr_t e = isdir ? add_new_directory(path, p, ADD_REUSE) : add_new_file(path, p, ADD_REUSE);
  e->aflags |= af::CTL_SYMLINK;
  if (create) make_created_link(*e, *p, target);
  rd.ctx.ctxentry = e;
  return true;
}

void act_entry_close(CtlReader& rd) {
  rd.ctx.ctxentry = nullptr;
  rd.ctx.ctxexcept = nullptr;
  rd.ctx.entry_kind = EntryKind::none;
}

// ---- Attribute statements -------------------------------------------------

void act_owner(CtlReader& rd, const std::string& name) { set_owner_or_group(rd, name, true); }
void act_group(CtlReader& rd, const std::string& name) { set_owner_or_group(rd, name, false); }

// Modes are written in octal; a number holding an 8 or a 9 was read as
// decimal (759 would give 01367), which is never the mode that was meant.
void act_mode(CtlReader& rd, int mode, bool octal_digits) {
  attrent* e = body_entry(rd);
  if (!e) return;
  if (!octal_digits) {
    ctl_error(rd, "invalid mode `%d': a mode takes the octal digits 0 to 7 only.\n", mode);
    return;
  }
  e->mode = static_cast<std::uint32_t>(mode);
  e->aflags |= af::MODE;
}

void act_access(CtlReader& rd, access_kind access) {
  if (!rd.acts()) return;
  if (package_default(rd)) {
    if (pkgptr_t p = body_package(rd)) p->defaccess = access;
  } else if (attrent* e = body_entry(rd)) {
    e->access = access;
    e->aflags |= af::ACCESS;
  }
}

void act_export(CtlReader& rd, phase_kind phase) {
  if (!rd.acts()) return;
  if (package_default(rd)) {
    if (pkgptr_t p = body_package(rd)) p->defphase = phase;
  } else if (attrent* e = body_entry(rd)) {
    e->aflags |= af::PHASE;
    set_phase(*e, phase);
  }
}

// Private to its package, exactly as export(none).
void act_ssoprivate(CtlReader& rd) {
  if (attrent* e = body_entry(rd)) {
    e->aflags |= af::PHASE;
    set_phase(*e, PHASE_NONE);
  }
}

void act_attrflag(CtlReader& rd, std::uint32_t bit) {
  if (attrent* e = body_entry(rd)) e->aflags |= bit;
}

void act_flags(CtlReader& rd, const std::string& text) {
  attrent* e = body_entry(rd);
  if (!e) return;
  if (e->flagstr())
    ctl_warning(rd, "flags already set to `%s' - overwriting with `%s'.\n", e->flagstr(), text.c_str());
  e->set_text(&entry_texts::flagstr, model_strdup(text));
  e->aflags |= af::FLAGSTR;
}

void act_addexport(CtlReader& rd, const std::string& dest, int a_phase) {
  if (attrent* e = body_entry(rd))
    add_strlist(dest, early_bit(a_phase) | (in_pattern(rd) ? ef::FORMAT : 0), e->exports);
}

bool act_exportall(CtlReader& rd, const std::string& dest, int a_phase, int recursive, bool body) {
  if (!rd.acts()) return true;
  attrent* e = rd.ctx.ctxentry;
  const EntryKind k = rd.ctx.entry_kind;
  if (!e || (k != EntryKind::dir && k != EntryKind::dir_pattern)) {
    ctl_yyerror(rd, "exportall() only valid for directories.");
    return false;
  }
  std::uint32_t flags = (recursive ? ef::RECURSIVE : ef::CHILD) | early_bit(a_phase) |
                        (in_pattern(rd) ? ef::FORMAT : 0);
  add_strlist(dest, flags, e->exports);
  if (body) rd.ctx.ctxexcept = &e->except;
  return true;
}

// After an exportall body, except() in an alldirs body adds to the pattern
// again; in a directory body it has no list.
void act_exportall_end(CtlReader& rd) {
  rd.ctx.ctxexcept = in_pattern(rd) && rd.ctx.ctxentry ? &rd.ctx.ctxentry->except : nullptr;
}

void act_convert(CtlReader& rd, const std::string& name, int a_phase) {
  attrent* e = body_entry(rd);
  if (!e) return;
  if (e->aflags & af::CONVERT) {
    ctl_warning(rd,
                "the file `%s' already has a conversion symlink name associated with it. Only a "
                "single convert() function can be used per file, and the target `%s' will be "
                "ignored.\n",
                std::string(e->path.sv()).c_str(), name.c_str());
    return;
  }
  add_strlist(name, ef::CONVERT | early_bit(a_phase), e->exports);
  e->aflags |= af::CONVERT;
}

bool act_includes(CtlReader& rd, const std::string& text) {
  if (!rd.acts()) return true;
  attrent* e = rd.ctx.ctxentry;
  if (!e || rd.ctx.entry_kind != EntryKind::file || e->type != ENT_FILE ||
      !(e->aflags & af::CREATED)) {
    ctl_error(rd, "includes() function only valid for new files.\n");
    return false;
  }
  e->set_text(&entry_texts::includes, model_strdup(text));
  return true;
}

// ---- Prep-phase statements ------------------------------------------------

void act_auto_mansource(CtlReader& rd) {
  if (rd.acts()) rd.prep.automan = opts.autotessel;
}

void act_auto_texinfo(CtlReader& rd) {
  if (rd.acts()) rd.prep.autotexi = opts.autotexi;
}

void act_autostrip(CtlReader& rd, int strip, int mcs, const std::string& text) {
  if (!rd.acts()) return;
  if (strip && opts.autostrip) rd.prep.autostrip |= stripreq::run;
  if (mcs && opts.autostrip) rd.prep.autostrip |= stripreq::delete_comment;
  rd.prep.mcsstr = text;
}

// The -I list switches explicit formatting off (PREP_OFF); a list that
// does not name it (PREP_NOT_NAMED) leaves it on, as for exec().
void act_format_mansource(CtlReader& rd, const std::string& dir) {
  if (!rd.acts() || opts.dtessel == PREP_OFF) return;
  if (int r = tessel_directory(dir.c_str()); r != 0)
    ctl_error(rd, "format_mansource(%c%s%c) failed with %d.\n", SECT_MARK, dir.c_str(), SECT_MARK,
              r);
}

void act_compress_texinfo(CtlReader& rd, const std::string& dir) {
  if (!rd.acts() || opts.dtexi == PREP_OFF) return;
  const std::string path = str_or_empty(opts.distdir) + "/" + dir;
  if (int r = texi_directory(path.c_str()); r != 0)
    ctl_error(rd, "compress_texinfo(%c%s%c) failed with %d.\n", SECT_MARK, dir.c_str(), SECT_MARK,
              r);
}

void act_exists(CtlReader& rd, const std::string& path, int warnonly) {
  if (!rd.acts()) return;
  const std::string full = str_or_empty(opts.distdir) + "/" + path;
  if (access(full.c_str(), F_OK) == 0) return;
  if (warnonly)
    ctl_warning(rd, "file `%s' does not exist.\n", full.c_str());
  else
    ctl_error(rd, "file `%s' does not exist.\n", full.c_str());
}
