// The pkgadd backend's output: for each component an SVR4 package
// description (pkginfo, prototype, depend), a package set around several
// components, and the Makefile that runs pkgmk and pkgtrans.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "backend/outset.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "backend/values.hpp"
#include "backend/writer.hpp"
#include "common/diag.hpp"
#include "common/fileio.hpp"
#include "common/version.hpp"
#include "model/settings.hpp"

namespace {

// ---- Which entries a prototype holds ------------------------------------

/// Directories written as "d" lines (or left out silently when private).
bool dir_line_pending(dfileptr_t d) {
  return d->parent && !d->excluded() && !(d->sflags & pkgadd_sf::DIR_WRITTEN) &&
         !(d->aflags & af::SYMLINK);
}

/// Directory links written as "s" lines.
bool dir_link_pending(dfileptr_t d) {
  return d->parent && !d->excluded() && !(d->sflags & pkgadd_sf::DIR_WRITTEN) &&
         (d->aflags & af::SYMLINK) && !pkgadd_dir_private(d);
}

bool file_pending(dfileptr_t f) { return !f->excluded() && !(f->sflags & pkgadd_sf::FILE_WRITTEN); }

/// The packages of a component that exist, each once, in list order.
std::vector<pkgptr_t> member_packages(cmpntptr_t c) {
  std::vector<pkgptr_t> out;
  std::set<pkgptr_t> seen;
  for (const varnode& n : c->subpackages)
    if (pkgptr_t p = find_package(nullptr, n.name.c_str()); p && seen.insert(p).second)
      out.push_back(p);
  return out;
}

/// What a symbolic link's prototype line names as its target.
std::string_view link_target(pkgptr_t p, dfileptr_t e) {
  return target_in_package(*p, e->target).value_or(e->target.sv());
}

std::string link_text(pkgptr_t p, dfileptr_t e) { return std::string(link_target(p, e)); }

/// Appends the owner (or, with `group`, the group) field of `e`; false
/// after the error when the id has no name, and then nothing is appended.
bool append_id(std::string& line, pkgptr_t p, dfileptr_t e, bool group) {
  const std::uint32_t left = group ? pkgadd_af::GROUP_LEFT : pkgadd_af::OWNER_LEFT;
  const std::uint32_t given = group ? af::GID | af::GROUP : af::UID | af::OWNER;
  if (e->is_dir() && (e->aflags & left)) {
    line += " ?";
    return true;
  }
  if (!opts.imode && !(e->aflags & given)) {
    line += " bin";
    return true;
  }
  const char* name = group ? group_name(*p, *e) : owner_name(*p, *e);
  if (!name) return false;
  line += ' ';
  line += name;
  return true;
}

// ---- Checks made before anything is written -------------------------------

/// The prototype format separates fields by blanks and a path from its
/// source by "="; a text holding either cannot be written.
bool prototype_unsafe(std::string_view s) {
  // A plain loop: find_first_of searches the set once per byte.
  for (char c : s)
    if (c == ' ' || c == '\t' || c == '\n' || c == '=') return true;
  return false;
}

/// pkgmk and pkgadd replace a path component "$NAME" or "${NAME}" by the
/// value of a build or install parameter, so such a path would be built
/// or installed under another name.
bool has_parameter(std::string_view s) {
  for (std::size_t at = s.find('$'); at != std::string_view::npos; at = s.find('$', at + 1)) {
    if ((at > 0 && s[at - 1] != '/') || at + 1 == s.size()) continue;
    const unsigned char next = static_cast<unsigned char>(s[at + 1]);
    if (std::isalpha(next) || next == '{') return true;
  }
  return false;
}

constexpr const char* UNSAFE = "a blank, a tab, a newline or an `=' character";
constexpr const char* PARAMETER =
    "a component that begins with `$' and a letter or `{', which the packaging tools take for a "
    "build or install parameter";

/// Why a path or link text cannot go into a prototype line, or null.
const char* prototype_refusal(std::string_view s) {
  if (prototype_unsafe(s)) return UNSAFE;
  if (has_parameter(s)) return PARAMETER;
  return nullptr;
}

void check_path(pkgptr_t p, dfileptr_t e) {
  if (const char* why = prototype_refusal(e->path.sv()))
    error("in package `%s', the %s `%s' cannot be written to a prototype file, because its path "
          "contains %s.\n",
          p->name.c_str(), entry_kind(*e), std::string(e->path.sv()).c_str(), why);
}

void check_target(pkgptr_t p, dfileptr_t e) {
  const std::string target = link_text(p, e);
  if (const char* why = prototype_refusal(target))
    error("in package `%s', the symbolic link `%s' cannot be written to a prototype file, "
          "because its target `%s' contains %s.\n",
          p->name.c_str(), std::string(e->path.sv()).c_str(), target.c_str(), why);
}

void check_exports(pkgptr_t p, dfileptr_t e) {
  for (const strnode& x : e->exports) {
    if (!(x.flags & ef::PLAIN)) continue;
    if (const char* why = prototype_refusal(x.str))
      error("in package `%s', the export `%s' of the %s `%s' cannot be written to a prototype "
            "file, because it contains %s.\n",
            p->name.c_str(), x.str.c_str(), entry_kind(*e), std::string(e->path.sv()).c_str(),
            why);
  }
}

void check_ids(pkgptr_t p, dfileptr_t e) {
  const char* kind = e->is_dir() ? "directory" : "file";
  std::string fields;
  append_id(fields, p, e, false);
  append_id(fields, p, e, true);
  for (const char* name : {e->owner(), e->group()})
    if (name && prototype_unsafe(name))
      error("in package `%s', the owner or group `%s' of the %s `%s' cannot be written to a "
            "prototype file, because it contains %s.\n",
            p->name.c_str(), name, kind, std::string(e->path.sv()).c_str(), UNSAFE);
}

void check_package(pkgptr_t p) {
  if (prototype_unsafe(p->name))
    error("the package name `%s' cannot be used as an installation class, because it contains "
          "%s.\n",
          p->name.c_str(), UNSAFE);
  // The package directory begins the source path of every file.
  if (const char* why = prototype_refusal(p->reldir.sv()))
    error("the directory `%s' of package `%s' cannot be written to a prototype file, because it "
          "contains %s.\n",
          std::string(p->reldir.sv()).c_str(), p->name.c_str(), why);
  for (dfileptr_t d : p->dirs) {
    if (dir_line_pending(d) && !pkgadd_dir_private(d)) {
      check_path(p, d);
      check_ids(p, d);
      check_exports(p, d);
    } else if (dir_link_pending(d)) {
      check_path(p, d);
      check_target(p, d);
    }
  }
  for (dfileptr_t f : p->files) {
    if (!file_pending(f) || pkgadd_file_private(f)) continue;
    check_path(p, f);
    if (f->aflags & af::SYMLINK)
      check_target(p, f);
    else
      check_ids(p, f);
    check_exports(p, f);
  }
}

// ---- Files ---------------------------------------------------------------

using Output = OutputSet::File;

void write_generated_by(Output& out) {
  out.printf("# Automatically generated by Corvane %s (using pkgadd backend %s)\n#\n",
             CORVANE_VER, pkgadd_backend.verstr);
}

/// The comment block of the set files: "#", the title line, "#", the generator.
void write_set_header(Output& out, const char* what) {
  out.printf("#\n# %s for set `%s', version %s\n#\n", what, str_or_empty(opts.prdcode).c_str(),
             str_or_empty(opts.version).c_str());
  write_generated_by(out);
}

/// Extra pkginfo variables that a package keeps in its cntl directory.
void copy_pkginfo_vars(Output& out, pkgptr_t p) {
  for (dfileptr_t f : p->files) {
    if (!pkgadd_file_private(f) || f->nm.sv() != "pkginfo.vars") continue;
    std::string text;
    if (!read_file(std::string(f->abs.sv()), text)) continue;
    if (!text.empty() && text.back() != '\n') text += '\n';
    out.puts(text);
  }
}

void write_pkginfo(OutputSet& set, const std::string& path, cmpntptr_t c) {
  Output& out = set.create(path);
  out.printf("#\n# pkginfo file for for package `%s', version %s\n#\n", c->name.c_str(),
             c->version.c_str());
  write_generated_by(out);
  out.printf("PKG=\"%s\"\nNAME=\"%s\"\nARCH=\"i386\"\nVERSION=\"%s\"\nCATEGORY=\"%s\"\nCLASSES=\"none",
             c->name.c_str(), c->desc.c_str(), c->version.c_str(), pkgadd_category(*c).c_str());
  for (const varnode& n : c->subpackages) out.printf(" %s", n.name.c_str());
  out.puts("\"\n");
  for (const varnode& n : c->subpackages)
    if (pkgptr_t p = find_package(nullptr, n.name.c_str())) copy_pkginfo_vars(out, p);
  set.close(out);
}

void write_set_pkginfo(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  write_set_header(out, "pkginfo file");
  out.printf("PKG=\"%s\"\nNAME=\"%s\"\nARCH=\"i386\"\nVERSION=\"%s\"\nCATEGORY=\"%s\"\nCLASSES=\"none",
             str_or_empty(opts.prdcode).c_str(), str_or_empty(opts.description).c_str(),
             str_or_empty(opts.version).c_str(), "set");
  out.puts("\"\n");
  set.close(out);
}

// ---- Prototype lines -------------------------------------------------------
// Each line is put together in `line` by appends and handed to the file
// whole: a printf call per line was most of the backend's time on a large
// tree. `line` is reused, so a line costs no allocation either.

/// Starts `line` as "TYPE CLASS PATH".
void begin_line(std::string& line, char type, pkgptr_t p, std::string_view path) {
  line.assign(1, type);
  line += ' ';
  line += p->name;
  line += ' ';
  line += path;
}

/// Appends " 0MODE" of the permission bits.
void append_mode(std::string& line, std::uint32_t mode) {
  line += " 0";
  append_octal(line, mode & 07777);
}

/// "s CLASS DEST=PATH" for every plain export of `e`.
void write_exports(Output& out, std::string& line, pkgptr_t p, dfileptr_t e) {
  for (const strnode& x : e->exports) {
    if (!(x.flags & ef::PLAIN)) continue;
    begin_line(line, 's', p, x.str);
    line += '=';
    line += e->path.sv();
    line += '\n';
    out.puts(line);
  }
}

/// "s CLASS PATH=TARGET" of a symbolic link, and `end` after it.
void write_link_line(Output& out, std::string& line, pkgptr_t p, dfileptr_t e,
                     std::string_view end) {
  begin_line(line, 's', p, e->path.sv());
  line += '=';
  line += link_target(p, e);
  line += end;
  out.puts(line);
}

void write_dir_line(Output& out, std::string& line, pkgptr_t p, dfileptr_t d) {
  if (pkgadd_dir_private(d)) return;
  begin_line(line, 'd', p, d->path.sv());
  if (d->aflags & pkgadd_af::MODE_LEFT)
    line += " ?";
  else
    append_mode(line, d->mode);
  append_id(line, p, d, false);
  append_id(line, p, d, true);
  line += '\n';
  out.puts(line);
  write_exports(out, line, p, d);
}

void write_file_line(Output& out, std::string& line, pkgptr_t p, dfileptr_t f) {
  if (f->aflags & af::SYMLINK) {
    write_link_line(out, line, p, f, "\n\n");
    return;
  }
  std::string_view source = opts.fmode ? f->path.sv() : f->dist();
  if (source.starts_with('/')) source.remove_prefix(1);
  begin_line(line, f->access == ACCESS_CLIENT ? 'v' : 'f', p, f->path.sv());
  line += '=';
  line += source;
  append_mode(line, f->mode);
  append_id(line, p, f, false);
  append_id(line, p, f, true);
  line += '\n';
  out.puts(line);
}

// The prototype lines of one package's entries, in the class of its name.
// Private entries are marked written but never appear.
class class_writer final : public EntryWriter {
 public:
  class_writer(Output& out, pkgptr_t p) : out_(out), p_(p) {}

  void directory(dfileptr_t d) override { write_dir_line(out_, line_, p_, d); }

  void directory_link(dfileptr_t d) override {
    if (!pkgadd_dir_private(d)) write_link_line(out_, line_, p_, d, "\n");
  }

  void before_files(const package& p) override {
    if (!p.files.empty()) out_.puts("#\n# File entries\n#\n");
  }

  void file(dfileptr_t f) override {
    if (pkgadd_file_private(f)) return;
    write_file_line(out_, line_, p_, f);
    write_exports(out_, line_, p_, f);
  }

 private:
  Output& out_;
  pkgptr_t p_;
  std::string line_;  ///< the line being put together
};

void write_class_entries(Output& out, pkgptr_t p) {
  out.printf("#\n# Prototype entries for class: %s\n#\n", p->name.c_str());
  for (const strnode& v : p->verbatim) out.printf("%s\n", v.str.c_str());
  out.puts("#\n# Directory entries\n#\n");
  class_writer w(out, p);
  write_entries(*p, w);
}

bool has_depend(cmpntptr_t c) { return !c->dependency.empty() || !c->replaces.empty(); }

void write_prototype(OutputSet& set, const std::string& path, cmpntptr_t c) {
  Output& out = set.create(path);
  out.printf("#\n# Prototype file for for package `%s', version %s\n", c->name.c_str(),
             c->version.c_str());
  write_generated_by(out);
  out.puts("i pkginfo\n");
  if (has_depend(c)) out.puts("i depend\n");
  for (const strnode& v : c->verbatim) out.printf("%s\n", v.str.c_str());
  for (pkgptr_t p : member_packages(c)) write_class_entries(out, p);
  set.close(out);
}

void write_set_prototype(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  out.printf("#\n# Prototype file for set `%s', version %s\n", str_or_empty(opts.prdcode).c_str(),
             str_or_empty(opts.version).c_str());
  write_generated_by(out);
  out.puts("i pkginfo\ni setinfo\ni preinstall\ni response\ni request\n");
  set.close(out);
}

void write_depend(OutputSet& set, const std::string& path, cmpntptr_t c) {
  Output& out = set.create(path);
  out.printf("#\n# Dependency file for for package `%s', version %s\n", c->name.c_str(),
             c->version.c_str());
  write_generated_by(out);
  for (const varnode& n : c->dependency) out.printf("P %s %s\n", n.name.c_str(), n.value.c_str());
  for (const varnode& n : c->replaces) out.printf("S %s %s\n", n.name.c_str(), n.value.c_str());
  set.close(out);
}

std::string component_names() {
  std::string names;
  for (cmpntptr_t c : model.cmpnts) names += (names.empty() ? "" : " ") + c->name;
  return names;
}

void write_setinfo(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  write_set_header(out, "setinfo file");
  for (cmpntptr_t c : model.cmpnts)
    out.printf("%s\t1\ty\t%s\t%s\n", c->name.c_str(), pkgadd_category(*c).c_str(), c->desc.c_str());
  out.puts("\n");
  set.close(out);
}

void write_response(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  write_set_header(out, "response file");
  out.puts("PKGLIST=" + component_names() + "\n");
  set.close(out);
}

void write_request(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  write_set_header(out, "request script");
  out.puts("PKGLIST=\"" + component_names() + "\"\n");
  out.puts("export PKGLIST\necho \"PKGLIST=$PKGLIST\" >> $1\n");
  set.close(out);
}

void write_preinstall(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  write_set_header(out, "preinstall script");
  out.puts("for PKG in $PKGLIST; do\n\techo \"$PKG\" >> $SETLIST\ndone\n");
  set.close(out);
}

void write_makefile_head(Output& out) {
  out.puts("#\n# Simple make script to produce pkgadd-installable datastream\n#\n");
  write_generated_by(out);
  out.printf("PRDCODE = %s\n", str_or_empty(opts.prdcode).c_str());
}

void write_single_makefile(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  write_makefile_head(out);
  out.puts(
      "all: $(PRDCODE).pkg\n\n"
      "$(PRDCODE).pkg: input/prototype\n"
      "\t@[ -d archives ] || mkdir archives; \\\n"
      "\t  pkgmk -b `pwd`/dist -f input/prototype -d `pwd`/archives && \\\n"
      "\t  pkgtrans -s `pwd`/archives `pwd`/$@ all\n\n"
      "check_arch:\n"
      "\t@if test ! -d archives; then mkdir archives; fi\n\n"
      "clean:\n"
      "\t@rm -rf $(PRDCODE).pkg archives\n");
  set.close(out);
}

long long part_limit(std::int64_t largest) {
  return pkgadd_blocks(std::max(pkgadd_settings.pkgadd_limit, largest));
}

void write_set_makefile(OutputSet& set, const std::string& path) {
  Output& out = set.create(path);
  write_makefile_head(out);
  out.puts("PKGSTAMPS =");
  for (cmpntptr_t c : model.cmpnts) out.printf(" %s.stamp", c->name.c_str());
  out.printf(
      "\nPKGLIST=$(PKGSTAMPS:.stamp=)\n\n"
      "all: $(PRDCODE).pkg\n\n"
      "$(PRDCODE).pkg: $(PKGSTAMPS)\n"
      "\t@rm -fr archives/$(PRDCODE); \\\n"
      "\t  pkgmk -B 512 -l %lld -b `pwd`/dist -f input/prototype -d `pwd`/archives && \\\n"
      "\t  pkgtrans -s `pwd`/archives `pwd`/$@ $(PRDCODE) $(PKGLIST)\n\n",
      part_limit(pkgadd_settings.biggest));
  for (cmpntptr_t c : model.cmpnts) {
    const char* n = c->name.c_str();
    out.printf("%s.stamp: archives/%s/pkgmap\n\t@touch $@\n\n", n, n);
    out.printf(
        "archives/%s/pkgmap: input/%s/prototype\n"
        "\t@[ -d archives ] || mkdir archives; \\\n"
        "\t  rm -fr archives/%s; \\\n"
        "\t  pkgmk -B 512 -l %lld -b `pwd`/dist -f input/%s/prototype -d `pwd`/archives\n\n",
        n, n, n, part_limit(c->sizes.largest), n);
  }
  out.puts("clean:\n\t@rm -fr $(PRDCODE).pkg archives $(PKGSTAMPS)\n");
  set.close(out);
}

void produce_single(OutputSet& set, const std::string& dir, cmpntptr_t c) {
  write_pkginfo(set, dir + "/pkginfo", c);
  write_prototype(set, dir + "/prototype", c);
  if (has_depend(c)) write_depend(set, dir + "/depend", c);
  write_single_makefile(set, str_or_empty(opts.basedir) + "/Makefile");
}

void produce_set(OutputSet& set, const std::string& dir) {
  write_set_pkginfo(set, dir + "/pkginfo");
  write_setinfo(set, dir + "/setinfo");
  write_response(set, dir + "/response");
  write_request(set, dir + "/request");
  write_preinstall(set, dir + "/preinstall");
  for (cmpntptr_t c : model.cmpnts) {
    set.make_directory(dir + "/" + c->name);
    write_pkginfo(set, dir + "/" + c->name + "/pkginfo", c);
  }
  write_set_prototype(set, dir + "/prototype");
  for (cmpntptr_t c : model.cmpnts) write_prototype(set, dir + "/" + c->name + "/prototype", c);
  for (cmpntptr_t c : model.cmpnts)
    if (has_depend(c)) write_depend(set, dir + "/" + c->name + "/depend", c);
  write_set_makefile(set, str_or_empty(opts.basedir) + "/Makefile");
}

}  // namespace

void pkgadd_check_output() {
  std::set<pkgptr_t> seen;
  for (cmpntptr_t c : model.cmpnts)
    for (pkgptr_t p : member_packages(c))
      if (seen.insert(p).second) check_package(p);
}

void pkgadd_produce() {
  const std::string& dir = str_or_empty(opts.pkgdir);
  // The checks refuse a run without components; this only keeps a direct
  // call from writing a package of nothing.
  if (model.cmpnts.empty()) return;
  // Every file is written before any replaces its earlier version.
  OutputSet set;
  if (model.cmpnts.size() == 1)
    produce_single(set, dir, model.cmpnts.front());
  else
    produce_set(set, dir);
  set.commit();
}
