#include "objects/QRSessn.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "objects/QRDbase.h"
#include "rtl/SharedMemory.h"
#include "tests/objects/TestEnv.h"

namespace {

using quiretest::SlotGuard;

TEST(QRSessn, StartsInitialisedWithTheEngine) {
  TQuireSession session;
  EXPECT_TRUE(session.Initialized);
  EXPECT_EQ(session.LastError, 0u);
  EXPECT_FALSE(session.GetHTAPIVersion().empty());
  EXPECT_NE(session.GetNotesVersion(), "Error!!");
  EXPECT_EQ(session.GetUserName(), quiretest::kTestUser);
  EXPECT_EQ(session.GetLocalServer(), "Local");
}

// The loader's outcome decides; the session only reports it.
TEST(QRSessn, ReportsAnEngineThatDidNotStart) {
  const bool savedInit = HTInitOK;
  const uint32_t savedError = HTGlobalErr;
  HTInitOK = false;
  HTGlobalErr = HTFAIL_BAD_VERSION;
  TQuireSession failed;
  HTGlobalErr = 0;  // the library was missing altogether
  TQuireSession missing;
  HTInitOK = savedInit;
  HTGlobalErr = savedError;
  EXPECT_FALSE(failed.Initialized);
  EXPECT_EQ(failed.LastError, HTFAIL_BAD_VERSION);
  EXPECT_FALSE(failed.GetNotesErrorString().empty());
  EXPECT_FALSE(missing.Initialized);
  EXPECT_EQ(missing.LastError, 0u);
}

TEST(QRSessn, TranslationSwitchIsSharedByEverySession) {
  TQuireSession first;
  TQuireSession second;
  ASSERT_FALSE(second.GetTranslate());
  first.SetTranslate(true);
  EXPECT_TRUE(second.GetTranslate());
  EXPECT_TRUE(TranslateOn);
  second.SetTranslate(false);
  EXPECT_FALSE(first.GetTranslate());
}

TEST(QRSessn, WorkstationIsNotOnServerWhateverTheValue) {
  TQuireSession session;
  EXPECT_FALSE(session.GetIsOnServer());
  EXPECT_EQ(session.LastError, HTFAIL_NOT_ON_SERVER);

  // The API's answer decides even when it also wrote a value.
  static HT_HTGetProperty_fn real;
  SlotGuard guard(HTAPI.HTGetProperty, +[](HTINT property, void* value) -> HTSTATUS {
    if (property != HTSESSION_IS_ON_SERVER) return real(property, value);
    *static_cast<uint32_t*>(value) = 1;
    return HTFAIL_NOT_ON_SERVER;
  });
  real = guard.real();
  EXPECT_FALSE(session.GetIsOnServer());
}

TEST(QRSessn, EnvironmentStringsRoundTrip) {
  TQuireSession session;
  session.SetEnvironmentString("QuireTestSetting", "blue");
  ASSERT_EQ(session.LastError, 0u) << session.GetNotesErrorString();
  EXPECT_EQ(session.GetEnvironmentString("QuireTestSetting"), "blue");
  EXPECT_EQ(session.LastError, 0u);
  TQuireSession later;
  EXPECT_EQ(later.GetEnvironmentString("QuireTestSetting"), "blue");
  // The value travels in a 256-byte buffer but comes back through 151 bytes of room.
  session.SetEnvironmentString("QuireTestLong", std::string(300, 'v'));
  ASSERT_EQ(session.LastError, 0u) << session.GetNotesErrorString();
  EXPECT_EQ(session.GetEnvironmentString("QuireTestLong"), std::string(150, 'v'));
}

// The API is given the buffers' capacities: longer texts arrive cut, never overrunning.
TEST(QRSessn, LongArgumentsAreCutAtTheirBuffers) {
  static std::vector<size_t> lengths;
  lengths.clear();
  {
    SlotGuard guard(HTAPI.HTSetEnvironmentString, +[](const char* name, const char* value, HTBOOL) -> HTSTATUS {
      lengths = {std::strlen(name), std::strlen(value)};
      return 0;
    });
    TQuireSession session;
    session.SetEnvironmentString(std::string(400, 'n'), std::string(400, 'v'));
    EXPECT_EQ(lengths, (std::vector<size_t>{255, 255}));
  }
  {
    SlotGuard guard(HTAPI.HTSetProperty, +[](HTINT, const void* value) -> HTSTATUS {
      lengths = {std::strlen(static_cast<const char*>(value))};
      return 0;
    });
    TQuireSession session;
    session.SetLocalServer(std::string(300, 's'));
    EXPECT_EQ(lengths, (std::vector<size_t>{127}));
  }
  {
    SlotGuard guard(HTAPI.HTServerSetPort, +[](const char* server, const char* port, char* reply) -> HTSTATUS {
      lengths = {std::strlen(server), std::strlen(port)};
      std::strcpy(reply, "port set");
      return 0;
    });
    TQuireSession session;
    EXPECT_EQ(session.ServerSetPort(std::string(500, 's'), std::string(100, 'p')), "port set");
    EXPECT_EQ(lengths, (std::vector<size_t>{127, 31}));
  }
}

TEST(QRSessn, GetDatabaseOfAbsentFileGivesNoneAndTheReason) {
  TQuireSession session;
  EXPECT_EQ(session.GetDatabase("", "no-such-file.nsf"), nullptr);
  EXPECT_NE(session.LastError, 0u);
  EXPECT_FALSE(session.GetNotesErrorString().empty());
  EXPECT_EQ(session.GetErrorInfo(session.LastError), session.GetNotesErrorString());
}

TEST(QRSessn, GetDatabaseRefusesAPathOutsideTheDataDirectory) {
  TQuireSession session;
  EXPECT_EQ(session.GetDatabase("", "..\\..\\etc\\passwd"), nullptr);
  EXPECT_EQ(session.LastError, HTFAIL_PATH_OUTSIDE);
}

TEST(QRSessn, GetDatabaseOpensAnExistingDatabase) {
  const std::string path = quiretest::UniquePath("session-open");
  ASSERT_EQ(quiretest::CreateDatabase(path, "Opened"), 0u);
  TQuireSession session;
  auto database = session.GetDatabase("", path);
  ASSERT_NE(database, nullptr) << session.GetNotesErrorString();
  EXPECT_TRUE(database->Opened);
  EXPECT_EQ(database->GetTitle(), "Opened");
}

TEST(QRSessn, DBListWalksDatabasesAndDirectories) {
  ASSERT_EQ(quiretest::CreateDatabase("listing\\one.nsf", "First"), 0u);
  ASSERT_EQ(quiretest::CreateDatabase("listing\\deeper\\two.nsf", "Second"), 0u);
  TQuireSession session;
  std::vector<std::string> databases;
  std::vector<std::string> directories;
  bool isDirectory = true;
  std::string fileName;
  std::string title;
  for (int32_t mode = HTLIST_FIRST;
       session.DBList("", "listing", mode, qrDatabase, 0x8000, isDirectory, fileName, title); mode = HTLIST_NEXT) {
    (isDirectory ? directories : databases).push_back(fileName + "|" + title);
  }
  EXPECT_EQ(session.LastError, HTFAIL_END_OF_LIST);
  ASSERT_EQ(databases.size(), 1u);
  EXPECT_NE(databases[0].find("one.nsf|First"), std::string::npos) << databases[0];
  // Below the root the parent comes first, then the subdirectories.
  EXPECT_EQ(directories, (std::vector<std::string>{"..|..", "deeper|deeper"}));

  // A failed step leaves the out-values alone.
  fileName = "kept";
  EXPECT_FALSE(session.DBList("", "no-such-dir", HTLIST_FIRST, qrDatabase, 0, isDirectory, fileName, title));
  EXPECT_EQ(fileName, "kept");
}

// What HTServerReplicate received, unpacked.
struct ReplicateCall {
  int calls = 0;
  uint32_t flags = 0;
  uint32_t extra = 0;
  uint32_t count = 0;
  bool hasList = false;
  std::vector<std::string> names;
};
ReplicateCall replicateCall;
HTSTATUS replicateAnswer = 0;
HTSTATUS replicateStatus = 0;

HTSTATUS RecordReplicate(const char*, HTUINT flags, HTUINT extra, HTUINT count, const char* list,
                         HTREPLSTATS* statistics) {
  ++replicateCall.calls;
  replicateCall.flags = flags;
  replicateCall.extra = extra;
  replicateCall.count = count;
  replicateCall.hasList = list != nullptr;
  replicateCall.names.clear();
  for (uint32_t i = 0; list && i < count; ++i) {
    replicateCall.names.emplace_back(list);
    list += replicateCall.names.back().size() + 1;
  }
  statistics->status = replicateStatus;
  return replicateAnswer;
}

class QRSessnReplicate : public ::testing::Test {
 protected:
  void SetUp() override {
    replicateCall = ReplicateCall{};
    replicateAnswer = 0;
    replicateStatus = 0;
  }
  SlotGuard<HT_HTServerReplicate_fn> guard_{HTAPI.HTServerReplicate, RecordReplicate};
  TQuireSession session_;
};

TEST_F(QRSessnReplicate, ArgumentChecksComeBeforeAnyCall) {
  // No list is checked before the server, even when the server is bad too.
  EXPECT_FALSE(session_.ServerReplicate("Local", 0, 0, ""));
  EXPECT_EQ(session_.LastError, HTFAIL_NO_DATABASE_LIST);
  EXPECT_FALSE(session_.ServerReplicate("Local", 0, 0, "a.nsf"));
  EXPECT_EQ(session_.LastError, HTFAIL_BAD_SERVER);
  EXPECT_FALSE(session_.ServerReplicate("", 0, 0x4, ""));
  EXPECT_EQ(session_.LastError, HTFAIL_BAD_SERVER);
  HTREPLSTATS statistics{};
  EXPECT_FALSE(session_.ServerReplicateEx("", 0, 0, "", statistics));
  EXPECT_EQ(session_.LastError, HTFAIL_NO_DATABASE_LIST);
  // "local" is a server name like any other: the comparison is exact.
  EXPECT_TRUE(session_.ServerReplicate("local", 0, 0, "a.nsf"));
  EXPECT_EQ(replicateCall.calls, 1);
}

struct PackingCase {
  const char* databases;
  std::vector<std::string> names;
};

TEST_F(QRSessnReplicate, ListIsPackedAtEveryComma) {
  const PackingCase cases[] = {
      {"a.nsf", {"a.nsf"}},
      {"a,b", {"a", "b"}},
      {"a,", {"a"}},
      {",a", {"", "a"}},
      {"mail\\x.nsf,y.nsf,z.nsf", {"mail\\x.nsf", "y.nsf", "z.nsf"}},
  };
  for (const auto& test : cases) {
    ASSERT_TRUE(session_.ServerReplicate("Hub", 7, 0x10, test.databases)) << test.databases;
    EXPECT_EQ(replicateCall.count, test.names.size()) << test.databases;
    EXPECT_EQ(replicateCall.names, test.names) << test.databases;
    EXPECT_EQ(replicateCall.flags, 0x10u);
    EXPECT_EQ(replicateCall.extra, 7u);
  }
}

TEST_F(QRSessnReplicate, AllDatabasesFlagsSendNoList) {
  for (const uint32_t flags : {0x4u, 0x400u}) {
    ASSERT_TRUE(session_.ServerReplicate("Hub", 0, flags, "ignored.nsf,other.nsf"));
    EXPECT_EQ(replicateCall.count, 0u);
    EXPECT_FALSE(replicateCall.hasList);
  }
}

TEST_F(QRSessnReplicate, ListThatDoesNotFitIsRefusedWithoutACall) {
  // 2000 characters and the terminator fill the 2001-byte list exactly.
  ASSERT_TRUE(session_.ServerReplicate("Hub", 0, 0, std::string(2000, 'x')));
  EXPECT_EQ(replicateCall.calls, 1);
  EXPECT_FALSE(session_.ServerReplicate("Hub", 0, 0, std::string(2001, 'x')));
  EXPECT_FALSE(session_.ServerReplicate("Hub", 0, 0, std::string(1000, 'x') + "," + std::string(1000, 'y')));
  EXPECT_EQ(session_.LastError, HTFAIL_TEXT_TOO_LONG);
  EXPECT_EQ(replicateCall.calls, 1);
}

TEST_F(QRSessnReplicate, FailureReportsTheReplicationStatus) {
  replicateAnswer = HTFAIL_REPL_FAILED;
  replicateStatus = HTFAIL_SERVER_NOT_FOUND;
  HTREPLSTATS statistics{};
  EXPECT_FALSE(session_.ServerReplicateEx("Hub", 0, 0, "a.nsf", statistics));
  EXPECT_EQ(session_.LastError, HTFAIL_SERVER_NOT_FOUND);
  EXPECT_EQ(statistics.status, HTFAIL_SERVER_NOT_FOUND);
  EXPECT_FALSE(session_.ServerReplicate("Hub", 0, 0, "a.nsf"));
  EXPECT_EQ(session_.LastError, HTFAIL_SERVER_NOT_FOUND);
  // A refusal that never started replicating leaves the status empty: the call's code tells.
  replicateStatus = 0;
  EXPECT_FALSE(session_.ServerReplicateEx("Hub", 0, 0, "a.nsf", statistics));
  EXPECT_EQ(session_.LastError, HTFAIL_REPL_FAILED);
  replicateAnswer = 0;
  EXPECT_TRUE(session_.ServerReplicateEx("Hub", 0, 0, "a.nsf", statistics));
  EXPECT_EQ(session_.LastError, 0u);
}

TEST(QRSessn, ReplicationWithAnUnknownServerFailsThroughTheEngine) {
  TQuireSession session;
  HTREPLSTATS statistics{};
  EXPECT_FALSE(session.ServerReplicateEx("Nowhere", 0, 0, "a.nsf", statistics));
  EXPECT_NE(session.LastError, 0u);
  EXPECT_FALSE(session.GetNotesErrorString().empty());
}

TEST(QRSessn, ListPositionsMapOntoTheApi) {
  static std::vector<HTINT> modes;
  modes.clear();
  SlotGuard servers(HTAPI.HTServerList, +[](HTINT mode, char*) -> HTSTATUS {
    modes.push_back(mode);
    return HTFAIL_END_OF_LIST;
  });
  SlotGuard exports(HTAPI.HTCompositeListExport, +[](HTINT mode, char*, char*) -> HTSTATUS {
    modes.push_back(mode);
    return HTFAIL_END_OF_LIST;
  });
  SlotGuard imports(HTAPI.HTCompositeListImport, +[](HTINT mode, char*, char*) -> HTSTATUS {
    modes.push_back(mode);
    return HTFAIL_END_OF_LIST;
  });
  TQuireSession session;
  for (const TQRList position : {qrDummy, qrRefresh, qrFirst, qrLast, qrNext, qrPrev, qrCurrent}) {
    EXPECT_EQ(session.GetServerName(position), "");
    session.RTListExport(position);
    session.RTListImport(position);
  }
  const std::vector<HTINT> expected = {6, 6, 6, 1, 1, 1, 2, 2, 2, 3, 6, 6, 4, 4, 4, 5, 5, 5, 6, 6, 6};
  EXPECT_EQ(modes, expected);
}

TEST(QRSessn, ServerListComesFromTheEngine) {
  TQuireSession session;
  std::vector<std::string> servers;
  for (std::string name = session.GetServerName(qrFirst); session.LastError == 0;
       name = session.GetServerName(qrNext)) {
    servers.push_back(name);
    ASSERT_LT(servers.size(), 1000u);
  }
  EXPECT_EQ(session.LastError, HTFAIL_END_OF_LIST);
}

TEST(QRSessn, SetPasswordHandsThePasswordOverCutTo254Characters) {
  // A reader holding the block open sees what the session writes.
  rtl::SharedMemory reader("QRPasswordMem", 255);
  const auto* block = static_cast<const char*>(reader.Buffer());
  TQuireSession session;
  session.LastError = 12345;
  session.SetPassword("secret");
  EXPECT_STREQ(block, "secret");
  session.SetPassword(std::string(300, 'p'));
  EXPECT_EQ(std::string(block, strnlen(block, 255)), std::string(254, 'p'));
  session.SetPassword("");
  EXPECT_EQ(block[0], '\0');
  EXPECT_EQ(session.LastError, 12345u);
  rtl::SharedMemory::Unlink("QRPasswordMem");
}

}  // namespace
