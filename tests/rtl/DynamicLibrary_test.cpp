#include "rtl/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using rtl::DynamicLibrary;

TEST(DynamicLibrary, LoadsARealLibraryAndResolvesSymbols) {
  DynamicLibrary libm("libm.so.6");
  ASSERT_TRUE(libm.IsLoaded()) << libm.Error();
  EXPECT_EQ(libm.Path(), "libm.so.6");
  auto cosine = libm.SymbolAs<double (*)(double)>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);

  EXPECT_EQ(libm.Symbol("no_such_symbol_in_libm"), nullptr);
  EXPECT_NE(libm.Error().find("no_such_symbol_in_libm"), std::string::npos) << libm.Error();

  DynamicLibrary moved = std::move(libm);
  EXPECT_FALSE(libm.IsLoaded());
  EXPECT_NE(moved.Symbol("sin"), nullptr);
  moved.Unload();
  EXPECT_EQ(moved.Symbol("sin"), nullptr);
}

TEST(DynamicLibrary, MissingLibraryReportsTheLoaderText) {
  DynamicLibrary missing("libquire-no-such-library.so");
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_NE(missing.Error().find("libquire-no-such-library.so"), std::string::npos) << missing.Error();
  EXPECT_FALSE(DynamicLibrary("").IsLoaded());
}

// Fails or succeeds on command and counts what it was asked to do.
class FakeLoader : public rtl::LibraryLoader {
 public:
  bool failOpen = false;
  int opens = 0, closes = 0;
  int token = 0;
  void* Open(const std::string& path, std::string* error) override {
    ++opens;
    if (failOpen) {
      *error = "cannot open " + path + ": refused by test";
      return nullptr;
    }
    return &token;
  }
  void* Symbol(void*, const std::string& name, std::string* error) override {
    if (name == "present") return &token;
    *error = "undefined symbol: " + name;
    return nullptr;
  }
  void Close(void* handle) override {
    EXPECT_EQ(handle, &token);
    ++closes;
  }
};

TEST(DynamicLibrary, TheDefaultLoaderCanBeReplaced) {
  FakeLoader fake;
  fake.failOpen = true;
  {
    rtl::ScopedLibraryLoader scope(fake);
    DynamicLibrary library("libm.so.6");
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.Error(), "cannot open libm.so.6: refused by test");
    EXPECT_EQ(library.Symbol("cos"), nullptr);
  }
  EXPECT_EQ(fake.opens, 1);
  EXPECT_EQ(&rtl::DefaultLibraryLoader(), &rtl::PosixLibraryLoader());
}

TEST(DynamicLibrary, ClosesExactlyOnce) {
  FakeLoader fake;
  {
    DynamicLibrary first("anything", &fake);
    ASSERT_TRUE(first.IsLoaded());
    EXPECT_NE(first.Symbol("present"), nullptr);
    EXPECT_EQ(first.Symbol("absent"), nullptr);
    EXPECT_EQ(first.Error(), "undefined symbol: absent");
    DynamicLibrary second = std::move(first);
    ASSERT_TRUE(second.Load("again"));  // unloads the first handle
    EXPECT_EQ(fake.closes, 1);
  }
  EXPECT_EQ(fake.opens, 2);
  EXPECT_EQ(fake.closes, 2);
}

}  // namespace
