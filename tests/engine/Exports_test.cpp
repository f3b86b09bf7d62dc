// The shared library exports exactly the contract's entry points, and a missing strong
// definition still answers "not implemented" instead of crashing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "hitest/hitest.h"

namespace {

const std::set<std::string>& contractNames() {
  static const std::set<std::string> names = {
#define HT_ENTRY(slot, exportName, ret, params, args) #exportName,
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY
  };
  return names;
}

// Documented engine extensions (hitest.h, "Engine extensions").
const std::set<std::string> kExtensions = {"HTQuireEvaluate",    "HTQuireSignNote", "HTQuireConfigWarnings",
                                           "HTQuireSetProgress", "HTQuireBackup",   "HTQuireRestore",
                                           "HTQuireServerSecurity"};

TEST(EngineExports, EveryContractNameResolvesFromTheSharedLibrary) {
  EXPECT_EQ(contractNames().size(), size_t(HT_ENTRY_POINT_COUNT));
  // NODELETE: unmapping the library at dlclose would hide its statics from the leak checker.
  void* lib = dlopen(NTHTAPI_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const std::string& name : contractNames()) EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
  EXPECT_EQ(dlsym(lib, "HTDatabaseReOpen"), nullptr);  // exported under its contract name only
  auto fn = reinterpret_cast<HT_HTAddinSetStatus_fn>(dlsym(lib, "HTAddinSetStatus"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn("idle"), HTFAIL_NOT_IMPLEMENTED);
  dlclose(lib);
}

TEST(EngineExports, NothingElseIsExported) {
  FILE* nm = popen("nm -D --defined-only " NTHTAPI_PATH, "r");
  ASSERT_NE(nm, nullptr);
  char line[1024];
  size_t count = 0;
  while (fgets(line, sizeof line, nm)) {
    char addr[64], type[8], name[900];
    if (sscanf(line, "%63s %7s %899s", addr, type, name) != 3) continue;
    std::string t = type;
    if (t != "T" && t != "W" && t != "D" && t != "B" && t != "V" && t != "R") continue;
    ++count;
    EXPECT_TRUE(contractNames().count(name) || kExtensions.count(name)) << "unexpected export " << name;
  }
  pclose(nm);
  EXPECT_GE(count, size_t(HT_ENTRY_POINT_COUNT));
  EXPECT_LE(count, size_t(HT_ENTRY_POINT_COUNT) + kExtensions.size());
}

}  // namespace
