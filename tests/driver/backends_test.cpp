// The registry as the driver fills it: the built-in records in their order,
// their settings put back at every start, and a table that takes another
// backend with nothing but its record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "backend/backend.hpp"
#include "backend/kest/kest.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "backend/xml/xml.hpp"
#include "common/diag.hpp"
#include "ctlfile/reader.hpp"
#include "driver/backends.hpp"
#include "driver/options.hpp"
#include "driver/run.hpp"
#include "model/settings.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"

namespace {

using ::testing::HasSubstr;
using Backends = FreshRun;

TEST_F(Backends, BuiltInRecordsInRegistryOrder) {
  initialize_backends();
  ASSERT_EQ(registry.backends.size(), 3u);
  EXPECT_EQ(registry.backends[0], &kest_backend);
  EXPECT_EQ(registry.backends[1], &pkgadd_backend);
  EXPECT_EQ(registry.backends[2], &xml_backend);
  EXPECT_EQ(registry.backptr, nullptr);
  struct Want {
    const char* name;
    const char* verstr;
    int version;
  } want[] = {{"kest", "1.1.0", 101000}, {"pkgadd", "1.1.0", 101000}, {"xml", "1.0.0", 100000}};
  for (std::size_t i = 0; i < 3; ++i) {
    const backend* b = registry.backends[i];
    EXPECT_STREQ(b->name, want[i].name);
    EXPECT_EQ(find_backend(want[i].name), b);
    EXPECT_STREQ(b->verstr, want[i].verstr);
    EXPECT_EQ(b->version, want[i].version);
    EXPECT_NE(b->produce, nullptr) << b->name << ": the one operation called untested";
  }
  EXPECT_EQ(find_backend("KEST"), nullptr);
  EXPECT_EQ(find_backend(""), nullptr);
}

// Settings that one run (or test) changed do not reach the next.
TEST_F(Backends, EveryStartPutsTheBackendSettingsBack) {
  initialize_backends();
  kest_settings.Hmode = kest_settings.emode = 1;
  kest_settings.vendor_option = "V";
  pkgadd_settings.pkgadd_cat = "application";
  pkgadd_settings.pkgadd_limit = 1;
  pkgadd_settings.biggest = 99;
  initialize_backends();
  EXPECT_EQ(kest_settings.Hmode, 0);
  EXPECT_EQ(kest_settings.emode, 0);
  EXPECT_FALSE(kest_settings.vendor_option);
  EXPECT_FALSE(pkgadd_settings.pkgadd_cat);
  EXPECT_EQ(pkgadd_settings.pkgadd_limit, 10485760);
  EXPECT_EQ(pkgadd_settings.biggest, 0);
}

int fourth_inits = 0;
int fourth_flag = 0;

constexpr option fourth_opts[] = {
    {-'q', "fourth-quiet", 0, opt_setint_1, &fourth_flag, "", "Be quiet.", opt_setintval},
};

void fourth_produce() {}

constexpr backend fourth{
    .name = "fourth",
    .desc = "A fourth packaging system",
    .verstr = "0.1.2",
    .version = version_number(0, 1, 2),
    .opts = fourth_opts,
    .chkname = [](const char* cmdname) { return std::string(cmdname) == "mkfourth" ? 1 : 0; },
    .init = [] { ++fourth_inits; },
    .produce = fourth_produce,
};

constexpr const backend* four[] = {&kest_backend, &pkgadd_backend, &xml_backend, &fourth};

// A record in the table is all the program name, -B, the control file's
// set and the usage report need.
TEST_F(Backends, AFourthRecordIsAllItTakes) {
  fourth_inits = 0;
  install_backends(four);
  EXPECT_EQ(fourth_inits, 1);
  choose_backend_by_name("/usr/bin/mkfourth");
  EXPECT_EQ(registry.backptr, &fourth);
  EXPECT_EQ(find_backend("fourth"), &fourth);

  testutil::CaptureFd err;
  parse_text("four.ctl", "set(\"fourth-quiet\", \"1\")\n", 1, globalopts);
  EXPECT_EQ(fourth_flag, 1);
  int status = 0;
  try {
    usage(nullptr);
  } catch (const run_exit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 2);
  const std::string text = err.text();
  EXPECT_THAT(text, HasSubstr("There are 4 backends defined:\n"));
  EXPECT_THAT(text, HasSubstr("  fourth       A fourth packaging system\n"));
  EXPECT_THAT(text, HasSubstr("Backend `fourth' options: [-q]\n"));
  EXPECT_THAT(text, HasSubstr("   Backend `fourth' version: 0.1.2\n"));
}

}  // namespace
