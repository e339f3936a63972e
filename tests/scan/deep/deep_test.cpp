// Trees and chains deeper than any machine stack would hold as frames.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scan/scan_fixture.hpp"

namespace scantest {
namespace {

constexpr int LEVELS = 40000;

// These take seconds each, and run apart from the unit tests.
using ScanSlow = ScanTest;

TEST_F(ScanSlow, FortyThousandLevelsAreListed) {
  // The per-entry log would hold every path of the chain: billions of bytes.
  be.predir = nullptr;
  be.postdir = nullptr;
  be.enddir = nullptr;
  be.prefile = nullptr;
  be.postfile = nullptr;
  testutil::ScratchDir place(dist("deep"));
  int bottom = testutil::make_nested_dirs(place.path(), LEVELS, "d");
  ASSERT_GE(bottom, 0);
  int leaf = openat(bottom, "leaf", O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(write(leaf, "12345", 5), 5);
  close(leaf);
  // Its target's full path is far longer than one system call takes.
  ASSERT_EQ(symlinkat("leaf", bottom, "link"), 0);
  close(bottom);

  char* before = getcwd(nullptr, 0);
  std::string err = scan("deep");

  EXPECT_EQ(diag.errors, 0) << err.substr(0, 2000);
  pkgptr_t pkg = package_named("DEEP");
  ASSERT_NE(pkg, nullptr);
  EXPECT_EQ(pkg->dirs.size(), std::size_t(LEVELS) + 1);
  ASSERT_EQ(pkg->files.size(), 2u);
  dfileptr_t link = pkg->files[1];
  EXPECT_EQ(link->nm.sv(), "link");
  EXPECT_EQ(link->size, 5);
  EXPECT_EQ(link->path.len, 2u * LEVELS + 5);
  EXPECT_EQ(link->path.hash, mkhashval(link->path.sv()));
  EXPECT_EQ(link->target.sv(), std::string(pkg->files[0]->abs.sv()));
  int depth = 0;
  for (dfileptr_t d = link->parent; d; d = d->parent) ++depth;
  EXPECT_EQ(depth, LEVELS + 1);
  // The tree is read by descriptor: the working directory never moves.
  char* after = getcwd(nullptr, 0);
  EXPECT_STREQ(after, before);
  free(before);
  free(after);
}

// P0 holds P1, which holds P2, and so on.
std::vector<pkgptr_t> make_package_chain(int length) {
  std::vector<pkgptr_t> chain;
  for (int i = 0; i < length; ++i) {
    const std::string n = std::to_string(i);
    chain.push_back(new_package("/p" + n, "d", "P" + n, "", 0));
  }
  for (int i = 0; i + 1 < length; ++i) add_varlist(chain[i + 1]->name, "", chain[i]->subpackages);
  return chain;
}

TEST_F(ScanSlow, FortyThousandSubpackagesInAChainJoinOneComponent) {
  std::vector<pkgptr_t> chain = make_package_chain(LEVELS);
  std::string err;
  EXPECT_EQ(assemble(err), -1) << err.substr(0, 2000);
  EXPECT_EQ(diag.errors, 0);
  cmpntptr_t primary = find_cmpnt("prd");
  ASSERT_NE(primary, nullptr);
  // Only the head is the component's own; the rest come through the chain.
  EXPECT_EQ(primary->subpackages.head()->name, "P0");
  EXPECT_EQ(primary->subpackages.head(), primary->subpackages.tail());
  for (pkgptr_t p : chain) ASSERT_EQ(p->cmpnt, primary) << p->name;
  EXPECT_EQ(chain.back()->flags & (pf::SUBPKG | pf::HAS_SUBPKGS), pf::SUBPKG);
}

TEST_F(ScanSlow, FortyThousandSubpackagesClosedIntoALoopAreOneError) {
  std::vector<pkgptr_t> chain = make_package_chain(LEVELS);
  add_varlist("P0", "", chain.back()->subpackages);
  std::string err;
  EXPECT_EQ(assemble(err), 1);
  EXPECT_EQ(diag.errors, 1) << err.substr(0, 2000);
  EXPECT_EQ(squash(err), squash("\nERROR:package `P39999' declares package `P0' as a subpackage, "
                                "but that makes `P0' a subpackage of itself.\n"));
}

}  // namespace
}  // namespace scantest
