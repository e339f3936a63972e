// What the writers share: the order and marks of a package's entries, the
// walk over a file's other names, owner and group names, and where a link's
// target lies.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "backend/writer.hpp"
#include "common/diag.hpp"
#include "model_fixture.hpp"
#include "support/capture.hpp"

namespace {

using testutil::CaptureFd;

// Notes every call in the order write_entries makes them.
class Recorder final : public EntryWriter {
 public:
  void directory(dfileptr_t d) override { log.push_back("dir " + std::string(d->path.sv())); }
  void directory_link(dfileptr_t d) override {
    log.push_back("dirlink " + std::string(d->path.sv()));
  }
  void before_files(const package&) override { log.push_back("--"); }
  void file(dfileptr_t f) override {
    EXPECT_TRUE(f->sflags & written::FILE) << "not marked before its lines: " << f->path.sv();
    log.push_back("file " + std::string(f->path.sv()));
  }
  std::vector<std::string> log;
};

class WriterTest : public testutil::ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    diag.columns = 100000;  // one line per report
  }
};

TEST_F(WriterTest, EntriesComeDirectoriesFirstAndEachOnce) {
  pkgptr_t p = add_package("a", "A");
  add_dir(p, "/usr");
  make_link(add_dir(p, "/lib"), "/usr");  // a link listed before the directory after it
  add_dir(p, "/opt")->aflags |= af::EXCLUDED;
  add_dir(p, "/var")->sflags |= written::DIR;  // left out by the system-directory pass
  add_dir(p, "/etc");
  add_file(p, "/usr/b");
  add_file(p, "/usr/c")->aflags |= af::EXCLUDED;
  add_file(p, "/usr/d")->sflags |= written::FILE;
  make_link(add_file(p, "/usr/a"), "/usr/b");

  Recorder first;
  write_entries(*p, first);
  EXPECT_EQ(first.log, (std::vector<std::string>{"dir /usr", "dir /etc", "dirlink /lib", "--",
                                                 "file /usr/b", "file /usr/a"}));
  for (dfileptr_t d : p->dirs) {
    if (d->parent && !d->excluded()) {
      EXPECT_TRUE(d->sflags & written::DIR) << d->path.sv();
    }
  }
  EXPECT_FALSE(p->dirs.front()->sflags & written::DIR) << "the package root is no entry";

  // The same package again (a second component, say) writes nothing more.
  Recorder again;
  write_entries(*p, again);
  EXPECT_EQ(again.log, std::vector<std::string>{"--"});
}

TEST_F(WriterTest, HardLinksAreTheOtherWrittenNamesOfTheInode) {
  pkgptr_t p = add_package("a", "A");
  add_dir(p, "/bin");
  dfileptr_t f = add_file(p, "/bin/f");
  dfileptr_t other = add_file(p, "/bin/g");  // another inode
  std::vector<dfileptr_t> names;
  for (const char* n : {"/bin/h", "/bin/i", "/bin/j", "/bin/k"}) {
    names.push_back(add_file(p, n));
    names.back()->ino = f->ino;
  }
  names[1]->aflags |= af::EXCLUDED;
  names[2]->aflags |= af::CONVERTED;
  names[3]->sflags |= written::FILE;
  package_resize_and_sort(p);
  f->sflags |= written::FILE;

  std::vector<std::string> seen;
  write_hard_links(*p, *f, [&](dfileptr_t g) { seen.push_back(std::string(g->path.sv())); });
  EXPECT_EQ(seen, std::vector<std::string>{"/bin/h"});
  EXPECT_TRUE(names[0]->sflags & written::FILE);
  EXPECT_FALSE(names[1]->sflags & written::FILE);
  EXPECT_FALSE(other->sflags & written::FILE);
  seen.clear();
  write_hard_links(*p, *f, [&](dfileptr_t g) { seen.push_back(std::string(g->path.sv())); });
  EXPECT_TRUE(seen.empty());
}

TEST_F(WriterTest, OwnerAndGroupNames) {
  pkgptr_t p = add_package("a", "A");
  dfileptr_t d = add_dir(p, "/srv");
  dfileptr_t f = add_file(p, "/srv/f");
  f->uid = f->gid = 0;
  EXPECT_STREQ(owner_name(*p, *f), "root");
  EXPECT_STREQ(group_name(*p, *f), "root");

  // A name the control file gave wins over the id, known or not.
  f->uid = f->gid = 3999999;
  f->set_text(&entry_texts::owner, "webadmin");
  f->set_text(&entry_texts::group, "webgroup");
  f->aflags |= af::OWNER | af::GROUP;
  CaptureFd err;
  EXPECT_STREQ(owner_name(*p, *f), "webadmin");
  EXPECT_STREQ(group_name(*p, *f), "webgroup");
  EXPECT_EQ(diag.errors, 0);

  // An id without a name is an error naming the entry and its kind.
  f->aflags &= ~(af::OWNER | af::GROUP);
  d->uid = d->gid = 3999999;
  EXPECT_EQ(owner_name(*p, *f), nullptr);
  EXPECT_EQ(group_name(*p, *d), nullptr);
  EXPECT_EQ(err.text(),
            "\nERROR: in package `A': could not getpwuid(3999999) for file `./srv/f'.\n"
            "ERROR: in package `A': could not getgrgid(3999999) for directory `./srv'.\n");
  EXPECT_EQ(diag.errors, 2);
}

TEST_F(WriterTest, LinkTargetsInsideAndOutsideThePackage) {
  pkgptr_t p = add_package("a", "A");
  const std::string dist = *opts.distdir;
  struct Case {
    std::string target;
    std::optional<std::string_view> in_package;
    std::string_view from_dist;
  } cases[] = {
      {dist + "/a", "/", "/a"},  // the package root itself
      {dist + "/a/usr/lib", "/usr/lib", "/a/usr/lib"},
      {dist + "/ab/usr/lib", std::nullopt, "/ab/usr/lib"},  // a sibling sharing the prefix
      {dist + "/b", std::nullopt, "/b"},
      {dist, std::nullopt, dist},  // the dist directory is no place below itself
      {"/etc/passwd", std::nullopt, "/etc/passwd"},
  };
  for (const Case& c : cases) {
    const path_t target = newpath_dup(c.target);
    EXPECT_EQ(target_in_package(*p, target), c.in_package) << c.target;
    EXPECT_EQ(target_from_dist(target), c.from_dist) << c.target;
  }
}

}  // namespace

// The digits must be those "%o" writes: the reference outputs were made so.
TEST(AppendOctal, MatchesPrintf) {
  for (std::uint32_t v : {0u, 1u, 7u, 8u, 0644u, 0755u, 04755u, 07777u, 0170000u, 0xFFFFFFFFu}) {
    std::string out = "x";
    append_octal(out, v);
    EXPECT_EQ(out, "x" + strprintf("%o", v));
  }
}
