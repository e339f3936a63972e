// Listing package trees: records and their fields, visiting order, links,
// odd entries, removal lists, backend replies and attribute patterns.
#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "model/collide.hpp"
#include "scan_fixture.hpp"

namespace scantest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::make_dirs;
using testutil::make_hardlink;
using testutil::make_symlink;
using testutil::write_file;

struct stat lstat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

std::string sys_error(int e) { return std::strerror(e); }

TEST_F(ScanTest, TreeBecomesRecordsInByteOrder) {
  const std::string p = dist("foo-2.1");
  write_file(p + "/usr/bin/ls", "binary\n", 0755);
  write_file(p + "/usr/bin/B", "b", 0644);
  write_file(p + "/usr/share/a b", "", 0600);
  write_file(p + "/usr/share/q'\"&<$:\nname", "12345", 0644);
  write_file(p + "/etc/foo.conf", "x=1\n", 0644);

  char* before = getcwd(nullptr, 0);
  std::string err = scan("foo-2.1");
  // The tree is read by descriptor: the working directory stays where it was.
  char* after = getcwd(nullptr, 0);
  EXPECT_STREQ(after, before);
  free(before);
  free(after);

  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: FOO : 5 files, 5 directories.\n"))
      << err;
  EXPECT_EQ(diag.errors, 0);
  EXPECT_EQ(diag.warnings, 0);
  ASSERT_EQ(model.packages.size(), 1u);
  pkgptr_t pkg = model.packages[0];
  EXPECT_EQ(pkg->name, "FOO");
  EXPECT_EQ(pkg->desc, "Description of package `FOO'");
  EXPECT_EQ(pkg->reldir.sv(), "/foo-2.1");
  EXPECT_EQ(pkg->dir.sv(), p);
  EXPECT_EQ(paths(pkg->dirs), (std::vector<std::string>{"", "/etc", "/usr", "/usr/bin", "/usr/share"}));
  EXPECT_EQ(paths(pkg->files),
            (std::vector<std::string>{"/etc/foo.conf", "/usr/bin/B", "/usr/bin/ls", "/usr/share/a b",
                                      "/usr/share/q'\"&<$:\nname"}));
  EXPECT_EQ(paths(pkg->files_path).size(), 5u);  // sorted arrays were built

  dfileptr_t ls = entry("/foo-2.1/usr/bin/ls");
  ASSERT_NE(ls, nullptr);
  struct stat st = lstat_of(p + "/usr/bin/ls");
  EXPECT_EQ(ls->abs.sv(), p + "/usr/bin/ls");
  EXPECT_EQ(ls->nm.sv(), "ls");
  EXPECT_EQ(ls->mode, st.st_mode);  // type bits stay until the assembly
  EXPECT_EQ(ls->uid, st.st_uid);
  EXPECT_EQ(ls->gid, st.st_gid);
  EXPECT_EQ(ls->ino, st.st_ino);
  EXPECT_EQ(ls->nlink, 1u);
  EXPECT_EQ(ls->size, 7);
  EXPECT_EQ(ls->sflags, sf::SCANNED);
  EXPECT_EQ(ls->aflags, 0u);
  EXPECT_EQ(ls->parent, entry("/foo-2.1/usr/bin"));
  EXPECT_EQ(entry("/foo-2.1/usr/bin")->parent, entry("/foo-2.1/usr"));
  EXPECT_EQ(entry("/foo-2.1/usr")->parent, pkg->dirs[0]);
  EXPECT_EQ(pkg->dirs[0]->parent, nullptr);
  EXPECT_EQ(paths(entry("/foo-2.1/usr")->subdirs()), (std::vector<std::string>{"/usr/bin", "/usr/share"}));
  EXPECT_EQ(paths(entry("/foo-2.1/usr/bin")->files()), (std::vector<std::string>{"/usr/bin/B", "/usr/bin/ls"}));
  EXPECT_EQ(entry("/foo-2.1/usr/bin")->mode, lstat_of(p + "/usr/bin").st_mode);

  EXPECT_EQ(replies.log, (std::vector<std::string>{
                             "prepkg FOO",
                             "predir /foo-2.1/etc",
                             "postdir /foo-2.1/etc 1",
                             "prefile /foo-2.1/etc/foo.conf",
                             "postfile /foo-2.1/etc/foo.conf 0",
                             "enddir /foo-2.1/etc 0",
                             "predir /foo-2.1/usr",
                             "postdir /foo-2.1/usr 1",
                             "predir /foo-2.1/usr/bin",
                             "postdir /foo-2.1/usr/bin 0",
                             "prefile /foo-2.1/usr/bin/B",
                             "postfile /foo-2.1/usr/bin/B 0",
                             "prefile /foo-2.1/usr/bin/ls",
                             "postfile /foo-2.1/usr/bin/ls 0",
                             "enddir /foo-2.1/usr/bin 0",
                             "predir /foo-2.1/usr/share",
                             "postdir /foo-2.1/usr/share 0",
                             "prefile /foo-2.1/usr/share/a b",
                             "postfile /foo-2.1/usr/share/a b 0",
                             "prefile /foo-2.1/usr/share/q'\"&<$:\nname",
                             "postfile /foo-2.1/usr/share/q'\"&<$:\nname 0",
                             "enddir /foo-2.1/usr/share 0",
                             "enddir /foo-2.1/usr 0",
                             "enddir /foo-2.1 1",
                             "postpkg FOO",
                             "finalpkg FOO",
                         }));
}

TEST_F(ScanTest, SymbolicLinksResolveIntoThePackage) {
  const std::string p = dist("p");
  write_file(p + "/usr/lib/libx.so.1", "lib");
  write_file(p + "/usr/lib/sub/f", "f");
  make_symlink("libx.so.1", p + "/usr/lib/libx.so");
  make_symlink("/usr/lib/libx.so.1", p + "/usr/lib/abs.so");
  make_symlink(p + "/usr/lib/libx.so.1", p + "/usr/lib/full.so");
  make_symlink("./lib/./sub", p + "/usr/share");
  write_file(dist("other/x"), "outside");
  make_symlink("../../../other/x", p + "/usr/lib/out");
  // A name that only begins like the package directory is an installed path.
  write_file(p + dist("p2/y"), "y");
  make_symlink(dist("p2/y"), p + "/usr/lib/prefix");

  std::string err = scan("p");
  EXPECT_EQ(diag.errors, 0) << err;

  auto link_target = [&](const std::string& d) {
    dfileptr_t e = entry(d);
    EXPECT_NE(e, nullptr) << d;
    if (!e) return std::string("<none>");
    EXPECT_TRUE(e->aflags & af::SYMLINK) << d;
    return std::string(e->target.sv());
  };
  EXPECT_EQ(link_target("/p/usr/lib/libx.so"), p + "/usr/lib/libx.so.1");
  EXPECT_EQ(link_target("/p/usr/lib/abs.so"), p + "/usr/lib/libx.so.1");
  EXPECT_EQ(link_target("/p/usr/lib/full.so"), p + "/usr/lib/libx.so.1");
  EXPECT_EQ(link_target("/p/usr/lib/out"), dist("other/x"));
  EXPECT_EQ(link_target("/p/usr/lib/prefix"), p + dist("p2/y"));
  // A link to a directory is a directory that is not listed.
  dfileptr_t share = entry("/p/usr/share");
  ASSERT_NE(share, nullptr);
  EXPECT_TRUE(share->is_dir());
  EXPECT_EQ(link_target("/p/usr/share"), p + "/usr/lib/sub");
  EXPECT_TRUE(share->subdirs().empty() && share->files().empty());
  EXPECT_EQ(entry("/p/usr/share/f"), nullptr);
  // The link keeps its own inode, takes size and kind from the target.
  dfileptr_t so = entry("/p/usr/lib/libx.so");
  EXPECT_EQ(so->ino, lstat_of(p + "/usr/lib/libx.so").st_ino);
  EXPECT_EQ(so->size, 3);
  EXPECT_TRUE(S_ISREG(so->mode));
  EXPECT_EQ(entry("/p/usr/lib/libx.so.1")->target.sv(), "");
  // The backend sees the resolved target.
  EXPECT_NE(std::find(replies.log.begin(), replies.log.end(), "predir /p/usr/share -> /p/usr/lib/sub"),
            replies.log.end());
  EXPECT_NE(std::find(replies.log.begin(), replies.log.end(),
                      "prefile /p/usr/lib/abs.so -> /p/usr/lib/libx.so.1"),
            replies.log.end());
}

TEST_F(ScanTest, BrokenLinksAndOddEntriesAreReportedAndSkipped) {
  const std::string p = dist("p");
  write_file(p + "/keep/file", "x");
  make_symlink("self", p + "/self");
  make_symlink("loop2", p + "/loop1");
  make_symlink("loop1", p + "/loop2");
  make_symlink("/missing", p + "/gone");
  ASSERT_EQ(mkfifo((p + "/fifo").c_str(), 0644), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sock = p + "/sock";
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sock.c_str());
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(s);
  char fifo_mode[32], sock_mode[32];
  std::snprintf(fifo_mode, sizeof fifo_mode, "0x%x", unsigned(lstat_of(p + "/fifo").st_mode));
  std::snprintf(sock_mode, sizeof sock_mode, "0x%x", unsigned(lstat_of(sock).st_mode));

  std::string err = scan("p");

  const std::string loop = sys_error(ELOOP), noent = sys_error(ENOENT);
  std::string expected =
      "\nINFO:processing new package: P "
      "\nWARNING:unsupported file type `" + std::string(fifo_mode) + "' for `" + p + "/fifo'.\n"
      "\nstat: " + noent + "\nERROR:could not stat `" + p + "/missing', which is what the symbolic link `" + p + "/gone' points to.\n"
      "\nstat: " + loop + "\nERROR:could not stat `" + p + "/loop2', which is what the symbolic link `" + p + "/loop1' points to.\n"
      "\nstat: " + loop + "\nERROR:could not stat `" + p + "/loop1', which is what the symbolic link `" + p + "/loop2' points to.\n"
      "\nstat: " + loop + "\nERROR:could not stat `" + p + "/self', which is what the symbolic link `" + p + "/self' points to.\n"
      "\nWARNING:unsupported file type `" + std::string(sock_mode) + "' for `" + sock + "'.\n"
      ": 1 file, 2 directories.\n";
  EXPECT_EQ(squash(err), squash(expected)) << err;
  EXPECT_EQ(diag.errors, 4);
  EXPECT_EQ(diag.warnings, 2);
  EXPECT_EQ(paths(model.files), (std::vector<std::string>{"/keep/file"}));
  EXPECT_EQ(paths(model.dirs), (std::vector<std::string>{"", "/keep"}));
}

TEST_F(ScanTest, RemovalListsDropEntriesAndTheLinksToThem) {
  const std::string p = dist("a");
  write_file(p + "/usr/lib/gone/inner", "x");
  write_file(p + "/usr/bin/f539599", "x");  // same hash as the next name
  write_file(p + "/usr/bin/f722382", "x");
  write_file(p + "/usr/lib/x.o", "x");
  write_file(p + "/a/b.o", "x");
  write_file(p + "/lib/keep.o", "x");
  write_file(p + "/opt/top", "x");
  write_file(p + "/opt/d/top", "x");
  make_symlink("../lib/x.o", p + "/usr/bin/tolink");
  make_symlink("../lib/x.o", p + "/usr/bin/l2");
  // A target in another package is not matched against this package's list.
  write_file(dist("b/usr/lib/y"), "y");
  write_file(dist("b/usr/lib/z"), "z");
  make_symlink("../../b/usr/lib/y", p + "/usr/y");
  make_symlink("../../b/usr/lib/z", p + "/usr/z");

  add_strlist("/usr/lib/gone", 0, model.removes);
  add_strlist("/b/usr/lib/z", 0, model.removes);
  strenode* objs = add_strelist("*.o", 0, model.removeany);
  add_strlist("*/keep.o", 0, objs->sub);
  pkgptr_t pkg = new_package("/a", "Description of package `A'", "A", "", 0);
  add_strlist("/usr/bin/f539599", 0, pkg->removes);
  add_strlist("/usr/bin/l2", 0, pkg->removes);
  add_strlist("/usr/lib/y", 0, pkg->removes);
  add_strelist("/opt/*top", 1, pkg->removeany);  // path-name matching: one level only

  std::string err = scan("a");

  EXPECT_EQ(squash(err),
            squash("\nINFO:processing package: A "
                   "\nWARNING:the following symbolic link points to a target which is scheduled for "
                   "removal. This would create a dangling symbolic link, so the symbolic link will be "
                   "ignored. Use the remove() function for this link to get rid of this warning "
                   "message.\n\tLink : " + p + "/usr/bin/tolink\n\tTarget: " + p + "/usr/lib/x.o\n"
                   "\nWARNING:the following symbolic link points to a target which is scheduled for "
                   "removal. This would create a dangling symbolic link, so the symbolic link will be "
                   "ignored. Use the remove() function for this link to get rid of this warning "
                   "message.\n\tLink : " + p + "/usr/z\n\tTarget: " + dist("b/usr/lib/z") + "\n"
                   ": 4 files, 8 directories.\n"))
      << err;
  EXPECT_EQ(paths(pkg->files),
            (std::vector<std::string>{"/lib/keep.o", "/opt/d/top", "/usr/bin/f722382", "/usr/y"}));
  EXPECT_EQ(paths(pkg->dirs), (std::vector<std::string>{"", "/a", "/lib", "/opt", "/opt/d", "/usr",
                                                        "/usr/bin", "/usr/lib"}));
  // A removed directory is not listed.
  for (const std::string& call : replies.log) EXPECT_THAT(call, Not(HasSubstr("gone")));

  EXPECT_EQ(check_remlist(pkg->removes, "/usr/bin/f722382"), 0);
  EXPECT_EQ(check_remlist(pkg->removes, "/usr/bin/f539599"), 1);
  EXPECT_EQ(check_remlist_wc(model.removeany, "/x/keep.o"), 0);
  EXPECT_EQ(check_remlist_wc(model.removeany, "keep.o"), 1);
  EXPECT_EQ(check_target_removed(pkg, nullptr, "/b/usr/lib/z"), 1);
  EXPECT_EQ(check_target_removed(pkg, nullptr, "/b/usr/lib/y"), 0);
  EXPECT_EQ(check_target_removed(pkg, "/usr/lib/y", nullptr), 1);
}

// A removal list of many paths with one hash still removes exactly the
// paths it names, whether the walk's index or a plain search answers.
TEST_F(ScanTest, RemovalListsOfOneHashRemoveExactlyTheirPaths) {
  const std::vector<std::string> crowd = testmodel::path_crowd();
  ASSERT_EQ(mkhashval(crowd.front()), mkhashval(crowd.back()));
  const std::string p = dist("p");
  pkgptr_t pkg = new_package("/p", "", "P", "", 0);
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < crowd.size(); ++i) {
    write_file(p + crowd[i], "x");
    if (i % 3 == 0) add_strlist(crowd[i], 0, i % 2 ? pkg->removes : model.removes);
    else kept.push_back(crowd[i]);
  }
  scan("p");
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(paths(pkg->files), kept);
  for (std::size_t i = 0; i < crowd.size(); i += 3)
    EXPECT_EQ(check_remlist(i % 2 ? pkg->removes : model.removes, crowd[i]), 1) << crowd[i];
  EXPECT_EQ(check_remlist(model.removes, crowd[1]), 0);
}

TEST_F(ScanTest, EntryRepliesSkipFailExcludeOrMarkPrivate) {
  const std::string p = dist("p");
  for (const char* f : {"a", "b", "c", "e", "g", "h", "d/in", "x/inner", "y/in", "z/in"})
    write_file(p + "/" + f, "x");
  replies.prefile["/p/a"] = 7;
  replies.prefile["/p/b"] = 2;
  replies.predir["/p/d"] = 2;
  replies.predir["/p/z"] = 4;
  replies.postfile["/p/c"] = 4;
  replies.postfile["/p/e"] = 2;
  replies.postfile["/p/g"] = 5;
  replies.postfile["/p/h"] = 9;
  replies.postdir["/p/x"] = 5;
  replies.enddir["/p/y"] = 2;

  std::string err = scan("p");

  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: P "
                                "\nERROR:unknown reply `7' from backend for `" + p + "/a'.\n"
                                ": 6 files, 4 directories.\n"))
      << err;
  EXPECT_EQ(paths(model.files), (std::vector<std::string>{"/c", "/e", "/g", "/h", "/y/in", "/z/in"}));
  EXPECT_EQ(paths(model.dirs), (std::vector<std::string>{"", "/x", "/y", "/z"}));
  EXPECT_EQ(entry("/p/c")->aflags, af::PRIVATE);
  EXPECT_EQ(entry("/p/e")->aflags, af::EXCLUDED);
  EXPECT_EQ(entry("/p/g")->aflags, af::EXCLUDED);
  EXPECT_EQ(entry("/p/h")->aflags, 0u);
  EXPECT_EQ(entry("/p/x")->aflags, af::EXCLUDED);
  EXPECT_EQ(entry("/p/y")->aflags, af::EXCLUDED);
  EXPECT_EQ(entry("/p/z")->aflags, 0u);
  for (const std::string& call : replies.log) EXPECT_THAT(call, Not(HasSubstr("inner")));
}

TEST_F(ScanTest, AttributePatternsFirstGivenWins) {
  const std::string p = dist("p");
  write_file(p + "/usr/bin/ls", "x", 0755);
  write_file(p + "/usr/bin/a.keep", "x", 0755);
  write_file(p + "/usr/bin/tool", "x", 0755);
  pkgptr_t pkg = new_package("/p", "d", "P", "", 1);
  // The control file set the tool's owner itself.
  dfileptr_t tool = add_new_file(std::string(pkg->dir.sv()) + "/usr/bin/tool", pkg, 0);
  tool->uid = 1;
  tool->aflags |= af::UID;
  tool->sflags |= sf::DECLARED;
  take_declared_snapshot();

  attrent& bin = pkg->allfiles.emplace_back();
  bin.path = newpath_dup("/usr/bin/*");
  bin.uid = 5;
  bin.set_text(&entry_texts::owner, model_strdup("alice"));
  bin.aflags = af::UID | af::OWNER | af::PKG_PATTERN;
  add_strlist("*.keep", 0, bin.except);
  attrent& any = pkg->allfiles.emplace_back();
  any.path = newpath_dup("*");
  any.uid = 7;
  any.gid = 8;
  any.mode = 0600;
  any.aflags = af::UID | af::GID | af::MODE | af::CTL_SYMLINK | af::EXPORTOK | af::PKG_PATTERN;
  add_strlist("/opt/%4$s%3$s", ef::FORMAT | ef::EARLY, any.exports);
  add_strlist("/x", 0, any.exports);
  attrent& global = model.allfiles.emplace_back();
  global.path = newpath_dup("*");
  global.gid = 99;
  global.access = 2;
  global.phase = 1;
  global.set_text(&entry_texts::group, model_strdup("staff"));
  global.aflags = af::GID | af::ACCESS | af::PHASE | af::GROUP | af::PRIVATE | af::TOP_PATTERN;
  attrent& dirs = model.alldirs.emplace_back();
  dirs.path = newpath_dup("/usr*");
  dirs.mode = 0700;
  dirs.aflags = af::MODE | af::PATHMATCH | af::TOP_PATTERN;
  static int comattrs_calls;
  comattrs_calls = 0;
  be.comattrs = [](dfileptr_t, attrent*, pkgptr_t) { ++comattrs_calls; };

  std::string err = scan("p");
  EXPECT_EQ(diag.errors, 0) << err;

  dfileptr_t ls = entry("/p/usr/bin/ls");
  EXPECT_EQ(ls->uid, 5u);
  EXPECT_STREQ(ls->owner(), "alice");
  EXPECT_EQ(ls->gid, 8u);
  EXPECT_EQ(ls->mode, 0600u);
  EXPECT_EQ(ls->access, 2);
  EXPECT_EQ(ls->phase, 1);
  EXPECT_STREQ(ls->group(), "staff");
  // The names ls shares with the pattern it took them from stay the pattern's.
  EXPECT_EQ(pkg->allfiles[0].group(), nullptr);
  EXPECT_STREQ(pkg->allfiles[0].owner(), "alice");
  EXPECT_EQ(ls->aflags, af::UID | af::OWNER | af::GID | af::MODE | af::CTL_SYMLINK | af::EXPORTOK |
                            af::ACCESS | af::PHASE | af::GROUP | af::PRIVATE);
  EXPECT_EQ(ls->sflags, sf::SCANNED | sf::FILE_PRIVATE);
  EXPECT_EQ(exports_of(ls), (std::vector<std::string>{"/opt/P/usr/bin/ls:4", "/x:0"}));

  dfileptr_t keep = entry("/p/usr/bin/a.keep");
  EXPECT_EQ(keep->uid, 7u);
  EXPECT_EQ(keep->owner(), nullptr);

  // The declared record is the one the scan fills; its own value stands.
  EXPECT_EQ(entry("/p/usr/bin/tool"), tool);
  EXPECT_EQ(tool->uid, 1u);
  EXPECT_EQ(tool->parent, entry("/p/usr/bin"));
  EXPECT_EQ(tool->sflags, sf::DECLARED | sf::SCANNED | sf::FILE_PRIVATE);
  EXPECT_EQ(pkg->files.size(), 3u);

  // Directory patterns: /usr* with path-name matching takes /usr only.
  EXPECT_EQ(entry("/p/usr")->mode, 0700u);
  EXPECT_TRUE(S_ISDIR(entry("/p/usr/bin")->mode));
  EXPECT_EQ(comattrs_calls, 3 + 2 + 3 + 1);  // ls, a.keep, tool; then /usr
}

// The tree is read ahead of the model on a thread of its own; a tree that
// changes underneath the scan gives the state of one moment or a clean
// error, never an entry made of both.

TEST_F(ScanTest, FileReplacedByALinkAfterItsDirectoryWasReadKeepsWhatWasRead) {
  const std::string p = dist("p");
  write_file(p + "/usr/a", "a");
  write_file(p + "/usr/z", "12345");
  write_file(tmp.path() + "/elsewhere", "outside");
  replies.on_entry = [&](const std::string& line) {
    if (line != "prefile /p/usr/a") return;
    ASSERT_EQ(unlink((p + "/usr/z").c_str()), 0);
    make_symlink(tmp.path() + "/elsewhere", p + "/usr/z");
  };

  std::string err = scan("p");

  // /usr was read whole before its first entry was examined.
  EXPECT_EQ(diag.errors, 0) << err;
  dfileptr_t z = entry("/p/usr/z");
  ASSERT_NE(z, nullptr);
  EXPECT_TRUE(S_ISREG(z->mode));
  EXPECT_EQ(z->size, 5);
  EXPECT_FALSE(z->aflags & af::SYMLINK);
  EXPECT_TRUE(z->target.empty());
}

// How often `text` holds `part`.
int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(ScanTest, DirectoryChangedUnderTheScanGivesOneMomentOrACleanError) {
  // Repeated, as the reader may or may not have read the directories
  // before they change.
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    reset_model();
    diag = Diagnostics{};
    diag.columns = 100000;
    replies = Replies{};
    const std::string name = "p" + std::to_string(round);
    const std::string p = dist(name);
    const std::string away = tmp.path() + "/away" + std::to_string(round);
    for (int i = 0; i < round * 5; ++i) write_file(p + "/a/f" + std::to_string(i), "x");
    write_file(p + "/b/gone/f", "x");
    write_file(p + "/c/link/f", "x");
    write_file(tmp.path() + "/outside/secret", "x");
    testutil::make_dirs(away);
    replies.on_entry = [&](const std::string& line) {
      if (line != "predir /" + name + "/a") return;
      // b's subdirectory leaves the tree at once; c's is replaced by a link
      // out of the tree.
      ASSERT_EQ(rename((p + "/b/gone").c_str(), (away + "/gone").c_str()), 0);
      ASSERT_EQ(rename((p + "/c/link").c_str(), (away + "/link").c_str()), 0);
      make_symlink("../../../outside", p + "/c/link");
    };

    std::string err = scan(name.c_str());

    // Nothing outside the tree is ever listed.
    for (dfileptr_t f : model.files) EXPECT_EQ(std::string(f->abs.sv()).find("secret"), std::string::npos);
    // Every error is a clean one: an entry the reader found gone, or a
    // directory it could not enter, which stops the package.
    auto message = [&](const char* call, int e, const std::string& text, const std::string& rel) {
      return std::string(call) + ": " + sys_error(e) + "\n\nERROR: " + text + " `" + p + rel + "'.\n";
    };
    const int lost = count_of(err, message("lstat", ENOENT, "could not stat", "/b/gone")) +
                     count_of(err, message("lstat", ENOENT, "could not stat", "/c/link"));
    const int refused =
        count_of(err, message("chdir", ENOENT, "could not change to directory", "/b/gone")) +
        count_of(err, message("chdir", ELOOP, "could not change to directory", "/c/link")) +
        count_of(err, message("chdir", ENOTDIR, "could not change to directory", "/c/link"));
    EXPECT_LE(refused, 1) << err;
    EXPECT_EQ(count_of(err, "ERROR: package `P" + std::to_string(round) + "' failed to scan.\n"), refused)
        << err;
    EXPECT_EQ(diag.errors, lost + 2 * refused) << err;
    if (refused) continue;
    // Each directory as it was before the change, or after it: gone, or a
    // link that is not followed (or missing, between the two renames).
    dfileptr_t gone = entry("/" + name + "/b/gone");
    EXPECT_EQ(entry("/" + name + "/b/gone/f") != nullptr, gone != nullptr) << err;
    dfileptr_t link = entry("/" + name + "/c/link");
    EXPECT_EQ(entry("/" + name + "/c/link/f") != nullptr, link && !(link->aflags & af::SYMLINK)) << err;
  }
}

TEST_F(ScanTest, DeepBranchesComeBackUpToTheirSiblings) {
  // Deeper than the walk keeps directories open: the way back up reopens
  // each parent, and the directories after a deep branch are still listed.
  const std::string p = dist("p");
  std::string dir = p;
  std::vector<std::string> expected{""};
  std::string rel;
  for (int level = 0; level < 100; ++level) {
    write_file(dir + "/e/f", "x");
    dir += "/d";
    rel += "/d";
  }
  testutil::make_dirs(dir);
  int most_open = 0;
  replies.on_entry = [&](const std::string& line) {
    if (!line.starts_with("postfile")) return;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) n += e.is_symlink() ? 1 : 0;
    most_open = std::max(most_open, n);
  };

  std::string err = scan("p");

  EXPECT_EQ(diag.errors, 0) << err;
  pkgptr_t pkg = package_named("P");
  ASSERT_NE(pkg, nullptr);
  EXPECT_EQ(pkg->files.size(), 100u);
  EXPECT_EQ(pkg->dirs.size(), 1u + 100u + 100u);
  EXPECT_NE(entry("/p" + rel.substr(0, 2 * 99) + "/e/f"), nullptr);
  EXPECT_NE(entry("/p/e/f"), nullptr);
  // The descriptors in use stay bounded whatever the depth.
  EXPECT_LT(most_open, 80);
}

TEST(ExportFormat, TakesTextsOnly) {
  const std::string_view args[8] = {"nm", "/dir", "/dir/nm", "PKG", "/d/pkg", "/d", "/d/pkg/dir/nm",
                                    "/d/pkg/dir"};
  EXPECT_EQ(expand_export_format("%1$s|%2$s|%3$s|%4$s|%5$s|%6$s|%7$s|%8$s", args),
            "nm|/dir|/dir/nm|PKG|/d/pkg|/d|/d/pkg/dir/nm|/d/pkg/dir");
  EXPECT_EQ(expand_export_format("/opt/%s%s/%s", args), "/opt/nm/dir//dir/nm");
  EXPECT_EQ(expand_export_format("[%-5s][%5.2s][%.1s]", args), "[nm   ][   /d][/]");
  EXPECT_EQ(expand_export_format("100%% %8$s", args), "100% /d/pkg/dir");
  // Directives that are not texts, and positions past the eight texts, stay.
  EXPECT_EQ(expand_export_format("%d %n %9$s %x%s %", args), "%d %n %9$s %xnm %");
  EXPECT_EQ(expand_export_format("%s%s%s%s%s%s%s%s%s", args),
            "nm/dir/dir/nmPKG/d/pkg/d/d/pkg/dir/nm/d/pkg/dir%s");
}

}  // namespace
}  // namespace scantest
