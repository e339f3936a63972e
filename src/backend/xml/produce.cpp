// Writing the product model as one XML file. Every value is checked and
// escaped on the way out; when one cannot be carried the run reports it and
// the temporary file is dropped, so a half-valid file never appears.
#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "backend/outset.hpp"
#include "backend/writer.hpp"
#include "backend/xml/xml.hpp"
#include "common/diag.hpp"
#include "common/version.hpp"

namespace {

// XML 1.0 characters: tab, new line, carriage return, U+0020-U+D7FF,
// U+E000-U+FFFD and U+10000-U+10FFFF, in well-formed UTF-8. Returns the
// length of the valid character at `s[i]`, or 0.
std::size_t xml_char_length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) -> unsigned { return static_cast<unsigned char>(s[k]); };
  const unsigned b = byte(i);
  if (b < 0x80) return (b >= 0x20 || b == '\t' || b == '\n' || b == '\r') ? 1 : 0;
  std::size_t n;
  unsigned cp;
  if (b >= 0xC2 && b <= 0xDF) n = 2, cp = b & 0x1F;
  else if (b >= 0xE0 && b <= 0xEF) n = 3, cp = b & 0x0F;
  else if (b >= 0xF0 && b <= 0xF4) n = 4, cp = b & 0x07;
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[n] || cp > 0x10FFFF) return 0;  // overlong or beyond Unicode
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
  return n;
}

// Which bytes an attribute value and a text node must escape. Paths
// rarely hold any, so the escape looks up each byte once and appends the
// plain runs between them whole: a switch and an append per byte were a
// sixth of the XML backend's time.
constexpr unsigned char IN_ATTR = 1;
constexpr unsigned char IN_TEXT = 2;

constexpr std::array<unsigned char, 256> escaped_bytes() {
  std::array<unsigned char, 256> t{};
  for (unsigned char c : {'&', '<', '>', '\r'}) t[c] = IN_ATTR | IN_TEXT;
  for (unsigned char c : {'"', '\t', '\n'}) t[c] = IN_ATTR;
  return t;
}
constexpr std::array<unsigned char, 256> ESCAPED = escaped_bytes();

// The reference that stands for `c`, which needs one. Quote, tab and new
// line are kept as they are in text, where they mean themselves.
std::string_view escape_of(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    default: return "&#13;";  // '\r', which a parser would turn into a new line
  }
}

void escape(std::string& out, std::string_view text, unsigned char which) {
  std::size_t run = 0;  // start of the bytes not appended yet
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!(ESCAPED[static_cast<unsigned char>(c)] & which)) continue;
    out.append(text.data() + run, i - run);
    out.append(escape_of(c));
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

}  // namespace

bool xml_carryable(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    // Printable ASCII, nearly every byte of a path, needs no decoding.
    if (const unsigned char b = static_cast<unsigned char>(text[i]); b >= 0x20 && b < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = xml_char_length(text, i);
    if (!n) return false;
    i += n;
  }
  return true;
}

void xml_escape_attr(std::string& out, std::string_view text) { escape(out, text, IN_ATTR); }
void xml_escape_text(std::string& out, std::string_view text) { escape(out, text, IN_TEXT); }

std::string xml_shown(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = xml_char_length(text, i);
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (n && b >= 0x20) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += strprintf("\\x%02x", b);
      ++i;
    }
  }
  return out;
}

namespace {

const char* source_name() {
  const char* slash = std::strrchr(__FILE__, '/');
  return slash ? slash + 1 : __FILE__;
}

/// What a value belongs to, for messages about values XML cannot carry.
struct subject {
  const char* kind;           ///< "product", "component", "package", "file", ...
  std::string_view name;
  const package* pkg = nullptr;  ///< for entries
};

class xml_writer {
 public:
  explicit xml_writer(OutputSet::File& out) : out_(out) {}

  void write_product();

 private:
  // Output primitives; the buffer goes to the file in large pieces.
  void raw(std::string_view s) {
    buf_.append(s);
    if (buf_.size() >= (1u << 16)) flush();
  }
  void flush() {
    out_.puts(buf_);
    buf_.clear();
  }
  bool carried(std::string_view value, const char* field, const subject& s);
  void attr(std::string_view value, const char* field, const subject& s);
  void text(std::string_view value, const char* field, const subject& s);
  void verbatim(const strlist& lines, std::string_view indent, const subject& s);
  void dependencies(const varlist& replaces, const varlist& upgrades, const varlist& dependency,
                    const varlist& requires_, const subject& s);

  void write_header();
  void write_component(const component& c);
  void write_package(const package& top);
  bool open_package(const package& p);
  void close_package(const package& p);
  void write_directory(const package& p, const dfile& d);
  void write_dir_symlink(const package& p, const dfile& d);
  void write_file(const package& p, dfile& f);
  void write_hard_link(const package& p, const dfile& f, const dfile& l);
  void write_exports(const dfile& e, const subject& s);
  void write_ids(const package& p, const dfile& e, const char* indent, const subject& s);
  void write_mode(std::uint32_t mode, const char* indent);
  void write_flagstr(const dfile& e, const subject& s);
  const char* access_word(const dfile& e);

  // The entries of one package, in write_entries' order.
  class entries final : public EntryWriter {
   public:
    entries(xml_writer& w, const package& p) : w_(w), p_(p) {}
    void directory(dfileptr_t d) override { w_.write_directory(p_, *d); }
    void directory_link(dfileptr_t d) override { w_.write_dir_symlink(p_, *d); }
    void before_files(const package&) override { w_.raw("\n"); }
    void file(dfileptr_t f) override { w_.write_file(p_, *f); }

   private:
    xml_writer& w_;
    const package& p_;
  };

  OutputSet::File& out_;
  std::string buf_;
  std::set<const package*> written_;  ///< guards against a package nested in itself
};

pkgptr_t find_subpackage(const varnode& n) { return find_package(nullptr, n.name.c_str()); }

bool xml_writer::carried(std::string_view value, const char* field, const subject& s) {
  if (xml_carryable(value)) return true;
  const std::string where =
      s.pkg ? strprintf(" in package `%s'", xml_shown(s.pkg->name).c_str()) : std::string();
  if (!field)
    error("the %s `%s'%s cannot be written to XML: its name is not UTF-8 text or holds control "
          "characters.\n",
          s.kind, xml_shown(s.name).c_str(), where.c_str());
  else
    error("the %s `%s' of the %s `%s'%s cannot be written to XML: it is not UTF-8 text or holds "
          "control characters.\n",
          field, xml_shown(value).c_str(), s.kind, xml_shown(s.name).c_str(), where.c_str());
  return false;
}

// A null field names the subject's own name.
void xml_writer::attr(std::string_view value, const char* field, const subject& s) {
  if (carried(value, field, s)) xml_escape_attr(buf_, value);
}

void xml_writer::text(std::string_view value, const char* field, const subject& s) {
  if (carried(value, field, s)) xml_escape_text(buf_, value);
}

// Verbatim lines are the user's own markup and go out as written.
void xml_writer::verbatim(const strlist& lines, std::string_view indent, const subject& s) {
  for (const strnode& n : lines) {
    if (!carried(n.str, "verbatim line", s)) continue;
    raw(indent);
    raw(n.str);
    raw("\n");
  }
}

void xml_writer::dependencies(const varlist& replaces, const varlist& upgrades,
                              const varlist& dependency, const varlist& requires_,
                              const subject& s) {
  struct kind {
    const varlist& list;
    const char* tag;
  };
  for (const kind& k : {kind{replaces, "replaces"}, kind{upgrades, "upgrades"},
                        kind{dependency, "dependency"}, kind{requires_, "requires"}}) {
    for (const varnode& n : k.list) {
      raw("    <");
      raw(k.tag);
      raw(">");
      text(n.name, k.tag, s);
      raw("</");
      raw(k.tag);
      raw(">\n");
    }
  }
}

void xml_writer::write_header() {
  raw(strprintf(
      "<?xml version=\"1.0\"?>\n<!--\n  This file is a representation of a package distribution "
      "tree. It was\n  automatically generated by Corvane %s (using XML backend %s)\n\n  This "
      "package tool neutral format can be used by any XML processing\n  tool to transform this "
      "data into suitable packaging input files for\n  any packaging system you choose. The "
      "Corvane tool has specific backend\n  drivers for several popular packaging tools, which "
      "may be more appropriate\n  that converting this output. Please see the Corvane "
      "documentation for\n  advice and details.\n\n-->\n\n",
      CORVANE_VER, xml_backend.verstr));
}

void xml_writer::write_product() {
  const std::string& vendor = str_or_empty(opts.vendor);
  const subject product{"product", str_or_empty(opts.prdcode)};
  write_header();
  raw("<product name=\"");
  attr(str_or_empty(opts.prdcode), nullptr, product);
  raw("\"\n         version=\"");
  attr(str_or_empty(opts.version), "version", product);
  raw("\"\n         description=\"");
  attr(str_or_empty(opts.description), "description", product);
  raw("\"\n         root=\"");
  attr(str_or_empty(opts.basedir), "base directory", product);
  raw("\"\n         vendor=\"");
  attr(vendor, "vendor", product);
  raw("\">\n\n");
  verbatim(model.verbatim, "", product);
  for (cmpntptr_t c : model.cmpnts) write_component(*c);
  for (const varnode& n : model.requires_) {
    raw("  <requires vendor=\"");
    attr(vendor, "vendor", product);
    raw("\" component=\"");
    attr(n.name, "required component", product);
    raw("\"/>\n");
  }
  raw("</product>\n");
  flush();
}

void xml_writer::write_component(const component& c) {
  const subject s{"component", c.name};
  raw("  <component name=\"");
  attr(c.name, nullptr, s);
  raw("\"\n             vendor=\"");
  attr(str_or_empty(opts.vendor), "vendor", s);
  raw("\"\n             version=\"");
  attr(c.version, "version", s);
  raw("\"\n             description=\"");
  attr(c.desc, "description", s);
  raw("\">\n");
  dependencies(c.replaces, c.upgrades, c.dependency, c.requires_, s);
  verbatim(c.verbatim, "    ", s);
  for (const varnode& n : c.subpackages)
    if (pkgptr_t p = find_subpackage(n)) write_package(*p);
  raw("  </component>\n\n");
}

// Each subpackage's element is nested in its parent's, after the parent's
// subpackage lines and before its entries. The walk keeps its path in a
// vector, so a chain of any length is written.
void xml_writer::write_package(const package& top) {
  struct step {
    const package* p;
    const varnode* next;  ///< the next subpackage to nest
  };
  std::vector<step> path;
  if (open_package(top)) path.push_back({&top, top.subpackages.head()});
  while (!path.empty()) {
    step& s = path.back();
    if (const varnode* n = s.next) {
      s.next = s.p->subpackages.next_of(n);
      const pkgptr_t sub = find_subpackage(*n);
      if (sub && open_package(*sub)) path.push_back({sub, sub->subpackages.head()});
      continue;
    }
    close_package(*s.p);
    path.pop_back();
  }
}

// The start tag, the lists and the subpackage lines; false when the
// package was written already.
bool xml_writer::open_package(const package& p) {
  if (!written_.insert(&p).second) return false;
  const subject s{"package", p.name};
  raw("  <package name=\"");
  attr(p.name, nullptr, s);
  raw("\"\n");
  if (p.flags & pf::PRIVATE) raw("           private=\"1\"\n");
  raw("           description=\"");
  attr(p.desc, "description", s);
  raw("\">\n");
  dependencies(p.replaces, p.upgrades, p.dependency, p.requires_, s);
  verbatim(p.verbatim, "    ", s);
  for (const varnode& n : p.subpackages) {
    raw("    <subpackage>");
    text(n.name, "subpackage", s);
    raw("</subpackage>\n");
  }
  return true;
}

// The entries and the end tag, after the nested subpackages.
void xml_writer::close_package(const package& p) {
  entries w(*this, p);
  write_entries(p, w);
  raw("  </package>\n\n");
}

void xml_writer::write_directory(const package& p, const dfile& d) {
  const subject s{"directory", d.path.sv(), &p};
  raw("    <directory access=\"");
  raw(access_word(d));
  raw("\"\n               name=\"");
  attr(d.path.sv(), nullptr, s);
  raw("\"");
  write_ids(p, d, "\n             ", s);
  if (d.mode != 0755) write_mode(d.mode, "\n             ");
  raw(">\n");
  write_exports(d, s);
  if (d.aflags & af::FLAGSTR) {
    raw("        <flags>");
    text(d.flagstr() ? d.flagstr() : "", "flags text", s);
    raw("</flags>\n");
  }
  raw("    </directory>\n");
}

void xml_writer::write_dir_symlink(const package& p, const dfile& d) {
  const subject s{"symbolic link", d.path.sv(), &p};
  raw("    <symlink access=\"");
  raw(access_word(d));
  raw("\"\n             type=\"dir\"\n             name=\"");
  attr(d.path.sv(), nullptr, s);
  raw("\"\n             target=\"");
  attr(xml_target_path(p, d), "target", s);
  raw("\">\n");
  write_exports(d, s);
  raw("    </symlink>\n\n");
}

void xml_writer::write_file(const package& p, dfile& f) {
  const bool link = f.aflags & af::SYMLINK;
  const subject s{link ? "symbolic link" : "file", f.path.sv(), &p};
  const char* phase = f.phase == PHASE_EARLY ? "early" : "normal";
  if (link) {
    raw("    <symlink access=\"");
    raw(access_word(f));
    raw("\"\n             phase=\"");
    raw(phase);
    raw("\"\n             type=\"file\"\n             name=\"");
    attr(f.path.sv(), nullptr, s);
    raw("\"\n             target=\"");
    attr(xml_target_path(p, f), "target", s);
    raw("\">\n");
  } else {
    raw("    <file access=\"");
    raw(access_word(f));
    raw("\"\n          phase=\"");
    raw(phase);
    raw("\"\n          name=\"");
    attr(f.path.sv(), nullptr, s);
    raw("\"");
    write_ids(p, f, "\n          ", s);
    if (f.mode != 0444) write_mode(f.mode, "\n          ");
    raw(">\n");
  }
  write_exports(f, s);
  const bool nocompress = f.sflags & sf::NO_COMPRESS;
  if (f.aflags & af::FLAGSTR) {
    raw("        <flags>");
    text(f.flagstr() ? f.flagstr() : "", "flags text", s);
    raw(nocompress ? ", nocompress</flags>\n" : "</flags>\n");
  } else if (nocompress) {
    raw("        <flags>nocompress</flags>\n");
  }
  raw(link ? "    </symlink>\n\n" : "    </file>\n\n");
  if (f.nlink > 1) write_hard_links(p, f, [&](dfileptr_t l) { write_hard_link(p, f, *l); });
}

// The other names of f's inode follow it, naming it as their target.
void xml_writer::write_hard_link(const package& p, const dfile& f, const dfile& l) {
  const subject s{"link", l.path.sv(), &p};
  raw("    <link access=\"");
  raw(access_word(l));
  raw("\"\n          name=\"");
  attr(l.path.sv(), nullptr, s);
  raw("\"          target=\"");
  attr(f.path.sv(), "target", s);
  raw("\">\n");
  write_exports(l, s);
  if (l.aflags & af::FLAGSTR) {
    raw("        <flags>");
    text(l.flagstr() ? l.flagstr() : "", "flags text", s);
    raw("</flags>\n");
  }
  raw("    </link>\n\n");
}

void xml_writer::write_exports(const dfile& e, const subject& s) {
  for (const strnode& n : e.exports) {
    raw((n.flags & ef::EARLY) ? "        <export phase=\"early\"\n"
                              : "        <export phase=\"normal\"\n");
    raw("                dest=\"");
    attr(n.str, "export destination", s);
    raw("\"/>\n");
  }
}

// Owner and group appear when a name was given or the id is not DEFAULT_ID.
void xml_writer::write_ids(const package& p, const dfile& e, const char* indent,
                           const subject& s) {
  if ((e.aflags & af::OWNER) || e.uid != DEFAULT_ID) {
    if (const char* owner = owner_name(p, e)) {
      raw(indent);
      raw("owner=\"");
      attr(owner, "owner", s);
      raw("\"");
    }
  }
  if ((e.aflags & af::GROUP) || e.gid != DEFAULT_ID) {
    if (const char* group = group_name(p, e)) {
      raw(indent);
      raw("group=\"");
      attr(group, "group", s);
      raw("\"");
    }
  }
}

// The mode attribute, in octal with a leading 0 as the readers expect.
void xml_writer::write_mode(std::uint32_t mode, const char* indent) {
  raw(indent);
  raw("mode=\"0");
  append_octal(buf_, mode);
  raw("\"");
}

const char* xml_writer::access_word(const dfile& e) {
  if (e.access == ACCESS_SHARED) return "shared";
  if (e.access == ACCESS_CLIENT) return "client";
  fatal("program logic bug in file `%s', line %d\n", source_name(), __LINE__);
}

}  // namespace

void xml_produce() {
  const std::string file =
      strprintf("%s/%s.xml", str_or_empty(opts.pkgdir).c_str(), str_or_empty(opts.prdcode).c_str());
  // Errors while writing (values XML cannot carry, unknown ids) leave an
  // incomplete description: the set then keeps the earlier file instead.
  OutputSet set;
  OutputSet::File& out = set.create(file);
  xml_writer w(out);
  w.write_product();
  set.close(out);
  set.commit();
}
