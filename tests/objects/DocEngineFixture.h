// A fresh database of the real engine for each test of the document layer, in the test
// process's temporary data directory (TestEnv.h).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "binding/Quire01.h"
#include "tests/objects/TestEnv.h"

namespace docdouble {

class DocEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HTInitOK) << "the engine did not initialise";
    const std::string path = quiretest::UniquePath("doclayer");
    const HTSTATUS created = quiretest::CreateDatabase(path, "document layer");
    ASSERT_EQ(created, 0u) << GetNotesErrorText(created);
    const HTSTATUS opened = HTAPI.HTDatabaseOpen(nullptr, path.c_str(), 0, &db);
    ASSERT_EQ(opened, 0u) << GetNotesErrorText(opened);
  }
  void TearDown() override {
    TranslateOn = false;
    if (db != 0) HTAPI.HTDatabaseClose(db, 0);
  }

  HTDBHANDLE db = 0;
};

}  // namespace docdouble
