// The XML file as a whole: layout, order, optional attributes, hard links,
// private packages, escaping, and values XML cannot carry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "xml_expected.hpp"
#include "../model_fixture.hpp"
#include "backend/xml/xml.hpp"
#include "support/capture.hpp"

namespace {

using ::testing::HasSubstr;
using testutil::CaptureFd;


class XmlProduce : public testutil::ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    diag.columns = 100000;
    opts.prdcode = "HELLO";
    opts.version = "1.0";
    opts.description = "Hello tools";
    opts.pkgdir = tmp.path();
  }

  // What the end of a package scan does for the XML backend.
  static void finish(pkgptr_t p) {
    package_resize_and_sort(p);
    EXPECT_EQ(xml_finalpkg(p), 0);
  }

  // xml_produce; the file's text ("" when none was written) and stderr.
  std::string produce(std::string* err = nullptr) {
    CaptureFd cap;
    xml_produce();
    if (err) *err = cap.text();
    const std::string path = tmp / "HELLO.xml";
    return testutil::exists(path) ? testutil::read_file(path) : "";
  }

  // Well-formed and valid against the format's schema.
  bool xmllint_accepts() {
    const std::string errors = testutil::xml_schema_errors(tmp / "HELLO.xml");
    if (!errors.empty()) ADD_FAILURE() << errors;
    return errors.empty();
  }

  std::string product_start(const std::string& vendor = "") {
    return HEADER + "<product name=\"HELLO\"\n         version=\"1.0\"\n         description=\"Hello "
                    "tools\"\n         root=\"" + tmp.path() + "\"\n         vendor=\"" + vendor +
           "\">\n\n";
  }
};

TEST_F(XmlProduce, WholeProduct) {
  pkgptr_t p = add_package("hello-1.0", "HELLO");
  p->desc = "Hello package";
  dfileptr_t usr = add_dir(p, "/usr", 0775);
  usr->uid = 0, usr->gid = 21;
  add_dir(p, "/usr/bin", 0775);
  add_dir(p, "/usr/lib");
  dfileptr_t etc = add_dir(p, "/etc", 0775);
  etc->gid = 21;
  etc->aflags |= af::FLAGSTR;
  etc->set_text(&entry_texts::flagstr, "config");
  dfileptr_t opt = add_dir(p, "/opt");
  opt->uid = opt->gid = 0;
  make_link(add_dir(p, "/opt/link"), "/usr/lib");
  dfileptr_t hello = add_file(p, "/usr/bin/hello", 0755);
  add_strlist("/opt/bin/hello", ef::PLAIN, hello->exports);
  add_strlist("/early/x", ef::PLAIN | ef::EARLY, hello->exports);
  dfileptr_t hi = add_file(p, "/usr/bin/hi", 0755);
  hello->nlink = hi->nlink = 2;
  hi->ino = hello->ino;
  dfileptr_t lib = add_file(p, "/usr/lib/libhello.so.1", 0555);
  lib->phase = 1;
  make_link(add_file(p, "/usr/lib/libhello.so"), "/usr/lib/libhello.so.1");
  add_file(p, "/usr/lib/data.jar");
  dfileptr_t jar = add_file(p, "/usr/lib/hello.jar");
  jar->aflags |= af::FLAGSTR;
  jar->set_text(&entry_texts::flagstr, "T");
  dfileptr_t conf = add_file(p, "/etc/hello.conf", 0644);
  conf->access = 2;
  conf->aflags |= af::OWNER | af::FLAGSTR;
  conf->set_text(&entry_texts::owner, "daemon");
  conf->set_text(&entry_texts::flagstr, "volatile");
  finish(p);

  cmpntptr_t c = new_cmpnt("hello", "1.0", "Hello tools", "", 0);
  add_varlist("HELLO", p->desc, c->subpackages);
  add_varlist("hello-old", "Old hello", c->replaces);
  add_varlist("hello-0.9", "", c->upgrades);
  add_varlist("libc", "C library", c->dependency);
  add_varlist("base", "", c->requires_);
  add_strlist("<note>component</note>", 0, c->verbatim);
  add_varlist("LIBS", "", p->requires_);
  add_strlist("<note>package</note>", 0, p->verbatim);
  add_strlist("<!-- product -->", 0, model.verbatim);
  add_varlist("base", "", model.requires_);
  xml_final();

  std::string err;
  EXPECT_EQ(produce(&err),
            product_start() +
                "<!-- product -->\n"
                "  <component name=\"hello\"\n"
                "             vendor=\"\"\n"
                "             version=\"1.0\"\n"
                "             description=\"Hello tools\">\n"
                "    <replaces>hello-old</replaces>\n"
                "    <upgrades>hello-0.9</upgrades>\n"
                "    <dependency>libc</dependency>\n"
                "    <requires>base</requires>\n"
                "    <note>component</note>\n"
                "  <package name=\"HELLO\"\n"
                "           description=\"Hello package\">\n"
                "    <requires>LIBS</requires>\n"
                "    <note>package</note>\n"
                "    <directory access=\"shared\"\n"
                "               name=\"/etc\"\n"
                "             group=\"fax\"\n"
                "             mode=\"0775\">\n"
                "        <flags>config</flags>\n"
                "    </directory>\n"
                "    <directory access=\"shared\"\n"
                "               name=\"/opt\"\n"
                "             owner=\"root\"\n"
                "             group=\"root\">\n"
                "    </directory>\n"
                "    <directory access=\"shared\"\n"
                "               name=\"/usr\"\n"
                "             owner=\"root\"\n"
                "             group=\"fax\"\n"
                "             mode=\"0775\">\n"
                "    </directory>\n"
                "    <directory access=\"shared\"\n"
                "               name=\"/usr/bin\"\n"
                "             mode=\"0775\">\n"
                "    </directory>\n"
                "    <directory access=\"shared\"\n"
                "               name=\"/usr/lib\">\n"
                "    </directory>\n"
                "    <symlink access=\"shared\"\n"
                "             type=\"dir\"\n"
                "             name=\"/opt/link\"\n"
                "             target=\"/usr/lib\">\n"
                "    </symlink>\n"
                "\n"
                "\n"
                "    <file access=\"client\"\n"
                "          phase=\"normal\"\n"
                "          name=\"/etc/hello.conf\"\n"
                "          owner=\"daemon\"\n"
                "          mode=\"0644\">\n"
                "        <flags>volatile</flags>\n"
                "    </file>\n"
                "\n"
                "    <file access=\"shared\"\n"
                "          phase=\"normal\"\n"
                "          name=\"/usr/bin/hello\"\n"
                "          mode=\"0755\">\n"
                "        <export phase=\"normal\"\n"
                "                dest=\"/opt/bin/hello\"/>\n"
                "        <export phase=\"early\"\n"
                "                dest=\"/early/x\"/>\n"
                "    </file>\n"
                "\n"
                "    <link access=\"shared\"\n"
                "          name=\"/usr/bin/hi\"          target=\"/usr/bin/hello\">\n"
                "    </link>\n"
                "\n"
                "    <file access=\"shared\"\n"
                "          phase=\"normal\"\n"
                "          name=\"/usr/lib/data.jar\">\n"
                "        <flags>nocompress</flags>\n"
                "    </file>\n"
                "\n"
                "    <file access=\"shared\"\n"
                "          phase=\"normal\"\n"
                "          name=\"/usr/lib/hello.jar\">\n"
                "        <flags>T, nocompress</flags>\n"
                "    </file>\n"
                "\n"
                "    <symlink access=\"shared\"\n"
                "             phase=\"normal\"\n"
                "             type=\"file\"\n"
                "             name=\"/usr/lib/libhello.so\"\n"
                "             target=\"/usr/lib/libhello.so.1\">\n"
                "    </symlink>\n"
                "\n"
                "    <file access=\"shared\"\n"
                "          phase=\"early\"\n"
                "          name=\"/usr/lib/libhello.so.1\"\n"
                "          mode=\"0555\">\n"
                "    </file>\n"
                "\n"
                "  </package>\n"
                "\n"
                "  </component>\n"
                "\n"
                "  <requires vendor=\"\" component=\"base\"/>\n"
                "</product>\n");
  EXPECT_EQ(err, "");
  EXPECT_TRUE(xmllint_accepts());
}

TEST_F(XmlProduce, PrivatePackageWithNestedSubpackage) {
  opts.vendor = "ACME";
  pkgptr_t priv = add_package("priv", "PRIV");
  priv->desc = "Private things";
  priv->flags |= pf::PRIVATE;
  add_varlist("SUB", "", priv->subpackages);
  add_varlist("NONE", "", priv->subpackages);  // not a package: named only
  add_dir(priv, "/opt");
  dfileptr_t secret = add_file(priv, "/opt/secret", 0600);
  EXPECT_EQ(xml_postfile(priv, secret, 0), REPLY_PRIVATE);
  finish(priv);
  pkgptr_t sub = add_package("sub", "SUB");
  sub->desc = "Sub things";
  add_dir(sub, "/var", 0755)->access = 2;
  // A sorted-out entry of every kind: excluded file, excluded and left-out directories.
  add_file(sub, "/var/gone")->aflags |= af::EXCLUDED;
  add_dir(sub, "/var/x")->aflags |= af::EXCLUDED;
  add_dir(sub, "/var/y")->sflags |= sf::DIR_LEFT_OUT;
  finish(sub);
  cmpntptr_t c = new_cmpnt("hello", "2.0", "Hello", "", 0);
  add_varlist("PRIV", "", c->subpackages);
  add_varlist("MISSING", "", c->subpackages);  // no element for a package that is not there

  EXPECT_EQ(produce(), product_start("ACME") +
                           "  <component name=\"hello\"\n"
                           "             vendor=\"ACME\"\n"
                           "             version=\"2.0\"\n"
                           "             description=\"Hello\">\n"
                           "  <package name=\"PRIV\"\n"
                           "           private=\"1\"\n"
                           "           description=\"Private things\">\n"
                           "    <subpackage>SUB</subpackage>\n"
                           "    <subpackage>NONE</subpackage>\n"
                           "  <package name=\"SUB\"\n"
                           "           description=\"Sub things\">\n"
                           "    <directory access=\"client\"\n"
                           "               name=\"/var\">\n"
                           "    </directory>\n"
                           "\n"
                           "  </package>\n"
                           "\n"
                           "    <directory access=\"shared\"\n"
                           "               name=\"/opt\">\n"
                           "    </directory>\n"
                           "\n"
                           "    <file access=\"shared\"\n"
                           "          phase=\"normal\"\n"
                           "          name=\"/opt/secret\"\n"
                           "          mode=\"0711\">\n"
                           "    </file>\n"
                           "\n"
                           "  </package>\n"
                           "\n"
                           "  </component>\n"
                           "\n"
                           "</product>\n");
  EXPECT_TRUE(xmllint_accepts());
  EXPECT_EQ(secret->aflags & af::PRIVATE, af::PRIVATE);
}

TEST_F(XmlProduce, HardLinksFollowTheFirstName) {
  pkgptr_t p = add_package("a", "A");
  add_dir(p, "/opt");
  dfileptr_t names[] = {add_file(p, "/opt/c"), add_file(p, "/opt/a"), add_file(p, "/opt/b"),
                        add_file(p, "/opt/d"), add_file(p, "/opt/e")};
  for (dfileptr_t f : names) f->ino = 7, f->nlink = 5;
  names[3]->aflags |= af::CONVERTED | af::EXCLUDED;  // became an export of another name
  names[4]->aflags |= af::FLAGSTR;
  names[4]->set_text(&entry_texts::flagstr, "keep");
  names[4]->access = 2;
  add_strlist("/x/e", ef::PLAIN, names[4]->exports);
  add_file(p, "/opt/other")->ino = 8;
  finish(p);
  cmpntptr_t c = new_cmpnt("a", "1", "A", "", 0);
  add_varlist("A", "", c->subpackages);

  // The other names follow in inode order, which keeps the scan's order.
  const std::string out = produce();
  const std::string files = out.substr(out.find("    <file"));
  EXPECT_EQ(files,
            "    <file access=\"shared\"\n          phase=\"normal\"\n          name=\"/opt/a\">\n"
            "    </file>\n\n"
            "    <link access=\"shared\"\n          name=\"/opt/c\"          target=\"/opt/a\">\n"
            "    </link>\n\n"
            "    <link access=\"shared\"\n          name=\"/opt/b\"          target=\"/opt/a\">\n"
            "    </link>\n\n"
            "    <link access=\"client\"\n          name=\"/opt/e\"          target=\"/opt/a\">\n"
            "        <export phase=\"normal\"\n                dest=\"/x/e\"/>\n"
            "        <flags>keep</flags>\n"
            "    </link>\n\n"
            "    <file access=\"shared\"\n          phase=\"normal\"\n          name=\"/opt/other\">\n"
            "    </file>\n\n"
            "  </package>\n\n  </component>\n\n</product>\n");
  EXPECT_TRUE(xmllint_accepts());
}

TEST_F(XmlProduce, MarkupCharactersAreEscaped) {
  opts.description = "Say \"hi\" & <bye>";
  pkgptr_t p = add_package("a", "A&B");
  p->desc = "it's \"quoted\"";
  add_dir(p, "/opt");
  dfileptr_t f = add_file(p, "/opt/a&b<c>\"d'e");
  f->aflags |= af::FLAGSTR;
  f->set_text(&entry_texts::flagstr, "x<y> & \"z\"");
  add_strlist("/dest\twith\ntab\rs", ef::PLAIN, f->exports);
  finish(p);
  cmpntptr_t c = new_cmpnt("a", "1", "A", "", 0);
  add_varlist("A&B", "", c->subpackages);
  add_varlist("x<y>", "desc", c->dependency);
  const std::string out = produce();
  for (const char* expected :
       {"         description=\"Say &quot;hi&quot; &amp; &lt;bye&gt;\"\n",
        "  <package name=\"A&amp;B\"\n           description=\"it's &quot;quoted&quot;\">\n",
        "    <dependency>x&lt;y&gt;</dependency>\n",
        "          name=\"/opt/a&amp;b&lt;c&gt;&quot;d'e\">\n",
        "                dest=\"/dest&#9;with&#10;tab&#13;s\"/>\n",
        "        <flags>x&lt;y&gt; &amp; \"z\"</flags>\n"})
    EXPECT_THAT(out, HasSubstr(expected)) << expected;
  EXPECT_TRUE(xmllint_accepts());
}

TEST_F(XmlProduce, ValuesXmlCannotCarryStopTheFile) {
  pkgptr_t p = add_package("a", "A");
  p->desc = "bad \xff byte";
  add_dir(p, "/opt");
  add_file(p, "/opt/bell\x07name");
  dfileptr_t ok = add_file(p, "/opt/ok\xc3\xa9");  // UTF-8 is fine
  add_strlist("/over\xc0\xaflong", ef::PLAIN, ok->exports);
  finish(p);
  add_varlist("A", "", new_cmpnt("a", "1", "A", "", 0)->subpackages);
  add_strlist("<x>\x1b</x>", 0, model.verbatim);
  std::string err;
  EXPECT_EQ(produce(&err), "");
  EXPECT_EQ(err,
            "\nERROR: the verbatim line `<x>\\x1b</x>' of the product `HELLO' cannot be written to "
            "XML: it is not UTF-8 text or holds control characters.\n"
            "ERROR: the description `bad \\xff byte' of the package `A' cannot be written to XML: "
            "it is not UTF-8 text or holds control characters.\n"
            "ERROR: the file `/opt/bell\\x07name' in package `A' cannot be written to XML: its "
            "name is not UTF-8 text or holds control characters.\n"
            "ERROR: the export destination `/over\\xc0\\xaflong' of the file `/opt/ok\xc3\xa9' in "
            "package `A' cannot be written to XML: it is not UTF-8 text or holds control "
            "characters.\n");
  EXPECT_EQ(diag.errors, 4);
  // Nothing is left behind under a temporary name either.
  EXPECT_EQ(testutil::list_tree(tmp.path()), "");
}

TEST_F(XmlProduce, CarryableText) {
  EXPECT_TRUE(xml_carryable(""));
  EXPECT_TRUE(xml_carryable("tab\tnl\ncr\r del\x7f"));
  EXPECT_TRUE(xml_carryable("\xc2\x80 \xe2\x82\xac \xef\xbf\xbd \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"));
  for (const char* bad : {"\x01", "\x1f", "\xc2", "\xe2\x82", "\xc1\xbf", "\xe0\x80\x80",
                          "\xed\xa0\x80", "\xef\xbf\xbe", "\xef\xbf\xbf", "\xf4\x90\x80\x80",
                          "\xf5\x80\x80\x80", "\x80", "\xfe"})
    EXPECT_FALSE(xml_carryable(bad)) << xml_shown(bad);
  EXPECT_EQ(xml_shown("a\tb\xff\xc3\xa9"), "a\\x09b\\xff\xc3\xa9");
}

// Runs of plain bytes are copied whole between the escaped ones, so the
// cases put special bytes first, last, next to each other and alone.
TEST_F(XmlProduce, EscapedAttributesAndText) {
  const auto attr = [](std::string_view s) {
    std::string out = "[";
    xml_escape_attr(out, s);
    return out;
  };
  const auto text = [](std::string_view s) {
    std::string out = "[";
    xml_escape_text(out, s);
    return out;
  };
  EXPECT_EQ(attr(""), "[");
  EXPECT_EQ(attr("/opt/plain \xc3\xa9"), "[/opt/plain \xc3\xa9");
  EXPECT_EQ(attr("&a<b>\"c\td\ne\r"), "[&amp;a&lt;b&gt;&quot;c&#9;d&#10;e&#13;");
  EXPECT_EQ(attr("<<&&"), "[&lt;&lt;&amp;&amp;");
  EXPECT_EQ(attr(">"), "[&gt;");
  EXPECT_EQ(text("&a<b>\"c\td\ne\r"), "[&amp;a&lt;b&gt;\"c\td\ne&#13;");
  EXPECT_EQ(text("\"\t\n"), "[\"\t\n");
}

TEST_F(XmlProduce, UnknownIdsAreErrorsAndNoFileIsWritten) {
  pkgptr_t p = add_package("a", "A");
  add_dir(p, "/opt")->gid = 3999999;
  add_file(p, "/opt/f")->uid = 3999999;
  finish(p);
  add_varlist("A", "", new_cmpnt("a", "1", "A", "", 0)->subpackages);
  std::string err;
  EXPECT_EQ(produce(&err), "");
  EXPECT_EQ(err,
            "\nERROR: in package `A': could not getgrgid(3999999) for directory `./opt'.\n"
            "ERROR: in package `A': could not getpwuid(3999999) for file `./opt/f'.\n");
}

TEST_F(XmlProduce, OutputThatCannotBeCreatedIsFatal) {
  opts.pkgdir = tmp / "missing";
  add_package("a", "A");
  std::string err;
  CaptureFd cap;
  EXPECT_THROW(
      {
        try {
          xml_produce();
        } catch (const run_exit& e) {
          EXPECT_EQ(e.status, 1);
          throw;
        }
      },
      run_exit);
  EXPECT_EQ(cap.text(), "\nmkstemp: No such file or directory\n\nFATAL: failed to write to `" +
                            tmp / "missing/HELLO.xml" + "'.\n");
}

using XmlProduceSlow = XmlProduce;  // seconds: runs apart from the unit tests

// Each subpackage's element is nested in its parent's; a chain as long as
// a product may make needs no deeper stack.
TEST_F(XmlProduceSlow, AVeryLongSubpackageChainNestsEveryElement) {
  constexpr int CHAIN = 40000;
  std::vector<pkgptr_t> chain;
  for (int i = 0; i < CHAIN; ++i) {
    pkgptr_t p = new_package("/p" + std::to_string(i), "d", "P" + std::to_string(i), "", 0);
    if (i > 0) add_varlist(p->name, "", chain.back()->subpackages);
    chain.push_back(p);
  }
  add_varlist("P0", "", new_cmpnt("c", "1", "C", "", 0)->subpackages);
  std::string out;
  testutil::on_small_stack([&] { out = produce(); });
  auto element = [](int i) {
    return "  <package name=\"P" + std::to_string(i) + "\"\n           description=\"d\">\n";
  };
  EXPECT_THAT(out, HasSubstr(element(0) + "    <subpackage>P1</subpackage>\n" + element(1)));
  EXPECT_THAT(out, HasSubstr(element(CHAIN - 1) + "\n  </package>\n\n\n  </package>\n\n"));
  std::size_t ends = 0;
  for (std::size_t at = out.find("</package>"); at != std::string::npos;
       at = out.find("</package>", at + 1))
    ++ends;
  EXPECT_EQ(ends, static_cast<std::size_t>(CHAIN));
}

}  // namespace
