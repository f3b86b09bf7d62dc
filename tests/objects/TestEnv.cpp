#include "tests/objects/TestEnv.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

namespace quiretest {

namespace {

std::string& DataDirStorage() {
  static std::string dir;
  return dir;
}

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // A child process started by a test works in its parent's directory, and leaves it.
    if (const char* shared = getenv(kSharedDataVariable)) {
      DataDirStorage() = shared;
      owned_ = false;
    } else {
      char pattern[] = "/tmp/quire-objects-XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      DataDirStorage() = pattern;
    }
    setenv("QUIRE_DATA", DataDirStorage().c_str(), 1);
    setenv("QUIRE_USER", kTestUser, 1);
    Initialize();
    ASSERT_TRUE(DLLLoaded) << "the engine library was not found";
    ASSERT_TRUE(HTInitOK) << "the engine did not start: " << GetNotesErrorText(HTGlobalErr);
  }

  void TearDown() override {
    if (!owned_) return;
    std::error_code ignored;
    std::filesystem::remove_all(DataDirStorage(), ignored);
  }

 private:
  bool owned_ = true;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace

const std::string& DataDir() { return DataDirStorage(); }

std::string UniquePath(const std::string& prefix) {
  static int counter = 0;
  return prefix + "-" + std::to_string(++counter) + ".nsf";
}

HTSTATUS CreateDatabase(const std::string& path, const std::string& title) {
  return HTAPI.HTDatabaseCreate("", path.c_str(), title.c_str(), "", HTDBCLASS_DATABASE);
}

}  // namespace quiretest
