#include "objects/QRDbase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "objects/QRAcl.h"
#include "tests/objects/TestEnv.h"

namespace {

using quiretest::SlotGuard;

class QRDbase : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = quiretest::UniquePath("dbase");
    ASSERT_EQ(quiretest::CreateDatabase(path_, "Database Test"), 0u);
    database_ = session_.GetDatabase("", path_);
    ASSERT_NE(database_, nullptr) << session_.GetNotesErrorString();
  }

  TQuireSession session_;
  std::string path_;
  std::unique_ptr<TQuireDatabase> database_;
};

TEST_F(QRDbase, TitleRoundTripsAndIsCutToFit) {
  EXPECT_EQ(database_->GetTitle(), "Database Test");
  database_->SetTitle("Renamed");
  ASSERT_EQ(database_->LastError, 0u) << database_->GetNotesErrorString();
  EXPECT_EQ(database_->GetTitle(), "Renamed");
  database_->SetTitle(std::string(200, 't'));
  ASSERT_EQ(database_->LastError, 0u) << database_->GetNotesErrorString();
  EXPECT_EQ(database_->GetTitle(), std::string(127, 't'));
  // Another handle on the file sees the stored title.
  auto again = session_.GetDatabase("", path_);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetTitle(), std::string(127, 't'));
}

TEST_F(QRDbase, FileNameAndPathSplitAtTheLastBackslash) {
  EXPECT_EQ(database_->GetFilename(), path_);
  EXPECT_EQ(database_->GetFilePath(), "");
  ASSERT_EQ(quiretest::CreateDatabase("mail\\abc.nsf"), 0u);
  auto nested = session_.GetDatabase("", "mail\\abc.nsf");
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->GetFilename(), "abc.nsf");
  EXPECT_EQ(nested->GetFilePath(), "mail\\");

  SlotGuard guard(HTAPI.HTDatabaseGetProperty, +[](HTDBHANDLE, HTINT, void* value) -> HTSTATUS {
    std::strcpy(static_cast<char*>(value), "D:\\notes\\data\\mail\\abc.nsf");
    return 0;
  });
  EXPECT_EQ(database_->GetFilename(), "abc.nsf");
  EXPECT_EQ(database_->GetFilePath(), "D:\\notes\\data\\mail\\");
}

TEST_F(QRDbase, SizeIsSpaceUsedPlusSpaceFree) {
  EXPECT_GT(database_->GetSize(), 0);

  static HTSTATUS usedAnswer;
  static HTSTATUS freeAnswer;
  SlotGuard guard(HTAPI.HTDatabaseGetProperty, +[](HTDBHANDLE, HTINT property, void* value) -> HTSTATUS {
    if (property == HTDATABASE_SPACE_USED) {
      *static_cast<uint32_t*>(value) = 0xC0000000u;
      return usedAnswer;
    }
    *static_cast<uint32_t*>(value) = 0x50000000u;
    return freeAnswer;
  });
  usedAnswer = freeAnswer = 0;
  // Two large 32-bit values add up without wrapping.
  EXPECT_EQ(database_->GetSize(), int64_t{0x110000000});
  freeAnswer = HTFAIL_UNKNOWN_PROPERTY;
  EXPECT_EQ(database_->GetSize(), int64_t{0xC0000000u});
  EXPECT_EQ(database_->LastError, HTFAIL_UNKNOWN_PROPERTY);
  usedAnswer = HTFAIL_INVALID_HANDLE;
  EXPECT_EQ(database_->GetSize(), -1);
  EXPECT_EQ(database_->LastError, HTFAIL_INVALID_HANDLE);
}

TEST_F(QRDbase, ReplicaIdIsTwoWordsHighFirst) {
  EXPECT_TRUE(std::regex_match(database_->GetReplicaID(), std::regex("[0-9A-F]{8}:[0-9A-F]{8}")))
      << database_->GetReplicaID();
  SlotGuard guard(HTAPI.HTDatabaseGetProperty, +[](HTDBHANDLE, HTINT, void* value) -> HTSTATUS {
    *static_cast<HTREPLICAID*>(value) = HTREPLICAID{{2, 1}};
    return 0;
  });
  EXPECT_EQ(database_->GetReplicaID(), "00000001:00000002");
}

TEST_F(QRDbase, ReplicationPriorityAndDelayCommitRoundTrip) {
  database_->SetReplPriority(qrHigh);
  ASSERT_EQ(database_->LastError, 0u) << database_->GetNotesErrorString();
  EXPECT_EQ(database_->GetReplPriority(), qrHigh);
  database_->SetReplPriority(qrLow);
  EXPECT_EQ(database_->GetReplPriority(), qrLow);

  database_->SetDelayCommit(true);
  ASSERT_EQ(database_->LastError, 0u) << database_->GetNotesErrorString();
  EXPECT_TRUE(database_->GetDelayCommit());
  database_->SetDelayCommit(false);
  EXPECT_FALSE(database_->GetDelayCommit());
  EXPECT_FALSE(database_->GetIsFTIndexed());
}

TEST_F(QRDbase, ReplicationPriorityOutsideTheRangeMakesNoCall) {
  static int calls;
  calls = 0;
  SlotGuard guard(HTAPI.HTDatabaseSetProperty, +[](HTDBHANDLE, HTINT, const void*) -> HTSTATUS {
    ++calls;
    return 0;
  });
  database_->LastError = 4242;
  database_->SetReplPriority(static_cast<TQRReplPriority>(3));
  database_->SetReplPriority(static_cast<TQRReplPriority>(-1));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(database_->LastError, 4242u);
}

TEST_F(QRDbase, CreatedFollowsTheDateOrder) {
  // Today's creation date, in the order of the international settings.
  EXPECT_TRUE(std::regex_match(database_->GetCreated(), std::regex(R"(\d+/\d+/\d+ \d+:\d+:\d+)")))
      << database_->GetCreated();

  SlotGuard guard(HTAPI.HTDatetimeFetch, +[](const HTDATETIME*, HTINT* parts) -> HTSTATUS {
    const HTINT value[HTDATETIME_PART_COUNT] = {1997, 6, 7, 7, 9, 5, 3, 250, 0};
    std::memcpy(parts, value, sizeof value);
    return 0;
  });
  const int32_t saved = HTDateFormat;
  const std::pair<int32_t, const char*> cases[] = {
      {HTDATEORDER_MDY, "6/7/1997 9:5:3"},
      {HTDATEORDER_DMY, "7/6/1997 9:5:3"},
      {HTDATEORDER_YMD, "1997/6/7 9:5:3"},
      {7, " 9:5:3"},
  };
  for (const auto& [order, expected] : cases) {
    HTDateFormat = order;
    EXPECT_EQ(database_->GetCreated(), expected) << order;
    EXPECT_EQ(database_->LastError, 0u);
  }
  HTDateFormat = saved;
}

TEST_F(QRDbase, CreatedKeepsTheFailureOfEitherCall) {
  {
    SlotGuard guard(
        HTAPI.HTDatetimeFetch, +[](const HTDATETIME*, HTINT*) -> HTSTATUS { return HTFAIL_INVALID_ARGUMENT; });
    EXPECT_EQ(database_->GetCreated(), "0/0/0000 00:00:00");
    EXPECT_EQ(database_->LastError, HTFAIL_INVALID_ARGUMENT);
  }
  TQuireDatabase closed("", "never-there.nsf");
  EXPECT_EQ(closed.GetCreated(), "0/0/0000 00:00:00");
  EXPECT_NE(closed.LastError, 0u);
}

TEST(QRDbaseFailedOpen, GettersAnswerTheirFixedValues) {
  TQuireDatabase database("", "never-there.nsf");
  EXPECT_FALSE(database.Opened);
  EXPECT_FALSE(database.CloseOnDestroy);
  EXPECT_NE(database.LastError, 0u);
  EXPECT_FALSE(database.GetNotesErrorString().empty());
  EXPECT_EQ(database.GetTitle(), "");
  EXPECT_EQ(database.GetServer(), "Error!");
  EXPECT_EQ(database.GetFilename(), "Error!");
  EXPECT_EQ(database.GetFilePath(), "Error!");
  EXPECT_EQ(database.GetSize(), -1);
  EXPECT_EQ(database.GetReplicaID(), "");
  EXPECT_EQ(database.GetReplPriority(), -1);
  EXPECT_FALSE(database.GetIsFTIndexed());
  EXPECT_FALSE(database.GetDelayCommit());
  EXPECT_EQ(database.ListViews(qrFirst), "");
  EXPECT_NE(database.LastError, 0u);
}

TEST_F(QRDbase, SharedHandleOutlivesTheFirst) {
  auto shared = TQuireDatabase::CreateShared(database_->DbHandle);
  ASSERT_TRUE(shared->Opened) << shared->GetNotesErrorString();
  EXPECT_NE(shared->DbHandle, database_->DbHandle);
  database_.reset();
  EXPECT_EQ(shared->GetTitle(), "Database Test");
  EXPECT_EQ(shared->LastError, 0u);

  auto broken = TQuireDatabase::CreateShared(0);
  EXPECT_FALSE(broken->Opened);
  EXPECT_NE(broken->LastError, 0u);
}

TEST_F(QRDbase, DeleteFolderOfAnAbsentNameOnlyLooksItUp) {
  static int calls;
  static HT_HTFolderLocateByName_fn realLocate;
  calls = 0;
  SlotGuard locate(HTAPI.HTFolderLocateByName, +[](HTDBHANDLE db, const char* name) -> HTID {
    ++calls;
    return realLocate(db, name);
  });
  realLocate = locate.real();
  SlotGuard remove(HTAPI.HTFolderDelete, +[](HTDBHANDLE, HTID) -> HTSTATUS {
    ++calls;
    return 0;
  });
  database_->LastError = 77;
  database_->DeleteFolder("No Such Folder");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(database_->LastError, 77u);
}

TEST_F(QRDbase, DesignListsOfANewDatabaseAreEmpty) {
  EXPECT_EQ(database_->ListViews(qrFirst), "");
  EXPECT_EQ(database_->LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(database_->ListFolders(qrFirst), "");
  EXPECT_EQ(database_->AgentList(qrFirst), "");
  uint32_t processed = 9;
  uint32_t changed = 9;
  database_->LastError = 55;
  EXPECT_FALSE(database_->AgentExecute("No Such Agent", processed, changed));
  EXPECT_EQ(processed, 0u);
  EXPECT_EQ(changed, 0u);
  EXPECT_EQ(database_->LastError, 55u);
}

TEST_F(QRDbase, ListRecordsGiveNameOrAliasAndMapPositions) {
  static std::vector<HTINT> modes;
  modes.clear();
  SlotGuard guard(HTAPI.HTViewList, +[](HTDBHANDLE, HTINT mode, HTLISTREC* record) -> HTSTATUS {
    modes.push_back(mode);
    std::strcpy(record->name, "By Date");
    std::strcpy(record->secondName, "ByDate");
    return 0;
  });
  EXPECT_EQ(database_->ListViews(qrFirst), "By Date");
  EXPECT_EQ(database_->ListViewsMN(qrNext), "ByDate");
  EXPECT_EQ(database_->ListViews(qrDummy), "By Date");
  EXPECT_EQ(modes, (std::vector<HTINT>{HTLIST_FIRST, HTLIST_NEXT, HTLIST_CURRENT}));
}

TEST_F(QRDbase, EveryGetACLIsANewObject) {
  auto first = database_->GetACL();
  auto second = database_->GetACL();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first.get(), second.get());
  ASSERT_GT(first->GetEntrycount(), 0);
  EXPECT_NE(first->GetFirstEntry(), second->GetFirstEntry());
  const TQRAccessLevel level = second->GetFirstEntry()->GetLevel();
  first->GetFirstEntry()->SetLevel(level == alManager ? alReader : alManager);
  EXPECT_EQ(second->GetFirstEntry()->GetLevel(), level);
}

}  // namespace
