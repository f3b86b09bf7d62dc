// A fresh engine per test: a new temporary data directory as QUIRE_DATA, _HTInit before the
// test and HTTerm after it, so no state leaks between tests. QUIRE_USER is cleared; a test
// that acts as another user sets it (actAs) and the fixture clears it again.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "engine/api/EntryPoints.h"
#include "hitest/hitest.h"

namespace quire::engine::test {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quire-engine-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dataDir_ = tmpl;
    setenv("QUIRE_DATA", tmpl, 1);
    unsetenv("QUIRE_USER");
    HTUINT state = 0;
    ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, &state), HTSUCCESS);
  }

  void TearDown() override {
    HTTerm(0);
    unsetenv("QUIRE_USER");
    unsetenv("QUIRE_DATA");
    std::error_code ec;
    std::filesystem::remove_all(dataDir_, ec);
  }

  static void actAs(const char* user) { setenv("QUIRE_USER", user, 1); }
  static void actAsSelf() { unsetenv("QUIRE_USER"); }

  // The message HTErrorGetInfo gives for `code` right now.
  static std::string message(HTSTATUS code) {
    char text[HT_ERROR_TEXT_CAPACITY];
    HTINT severity = 0;
    if (!HTErrorGetInfo(code, &severity, text)) return "";
    return text;
  }

  std::string userName() {
    char name[HT_USER_NAME_CAPACITY] = {};
    HTGetProperty(HTSESSION_USER_NAME, name);
    return name;
  }

  HTDBHANDLE createAndOpen(const char* path, const char* title = "Test", const char* server = "") {
    EXPECT_EQ(HTDatabaseCreate(server, path, title, nullptr, HTDBCLASS_DATABASE), HTSUCCESS) << message(HTFAIL_DB_EXISTS);
    HTDBHANDLE db = 0;
    EXPECT_EQ(HTDatabaseOpen(server, path, 0, &db), HTSUCCESS);
    return db;
  }

  std::filesystem::path dataDir_;
};

}  // namespace quire::engine::test
