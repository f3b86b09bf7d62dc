// A process that dies by SIGKILL right after writing through the object model loses nothing
// it had written: every API write is committed before the call returns.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "tests/objects/TestEnv.h"

extern char** environ;

namespace {

constexpr char kCrashDatabase[] = "crash.nsf";
constexpr char kWriterTest[] = "QRDbaseCrash.WriterChild";

// Runs in the child only: writes, then kills itself without closing anything.
TEST(QRDbaseCrash, WriterChild) {
  if (!getenv(quiretest::kSharedDataVariable)) GTEST_SKIP() << "runs as the child of KilledWriterLosesNothing";
  TQuireSession session;
  auto database = session.GetDatabase("", kCrashDatabase);
  ASSERT_NE(database, nullptr);
  database->SetTitle("Written Before Death");
  auto acl = database->GetACL();
  ASSERT_TRUE(acl->AddRole("[Survivor]"));
  TQuireACLEntry* entry = acl->CreateACLEntry("Last Words");
  entry->SetLevel(alEditor);
  ASSERT_TRUE(entry->Save());
  raise(SIGKILL);
}

TEST(QRDbaseCrash, KilledWriterLosesNothing) {
  ASSERT_EQ(quiretest::CreateDatabase(kCrashDatabase, "Before"), 0u);
  const std::string shared = std::string(quiretest::kSharedDataVariable) + "=" + quiretest::DataDir();
  const std::string filter = std::string("--gtest_filter=") + kWriterTest;
  std::vector<char*> env;
  for (char** variable = environ; *variable; ++variable) env.push_back(*variable);
  env.push_back(const_cast<char*>(shared.c_str()));
  env.push_back(nullptr);
  char self[] = "/proc/self/exe";
  char* argv[] = {self, const_cast<char*>(filter.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, self, nullptr, nullptr, argv, env.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer did not reach its end";

  TQuireSession session;
  auto database = session.GetDatabase("", kCrashDatabase);
  ASSERT_NE(database, nullptr) << session.GetNotesErrorString();
  EXPECT_EQ(database->GetTitle(), "Written Before Death");
  auto acl = database->GetACL();
  std::string role;
  acl->GetRoleName(0, role);
  EXPECT_EQ(role, "[Survivor]");
  ASSERT_NE(acl->GetEntry("Last Words"), nullptr);
  EXPECT_EQ(acl->GetEntry("Last Words")->GetLevel(), alEditor);
}

}  // namespace
