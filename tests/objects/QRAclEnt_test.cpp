#include "objects/QRAclEnt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/objects/AclFixture.h"

namespace {

using quiretest::AclFixture;
using quiretest::SlotGuard;

using QRAclEnt = AclFixture;

// What HTACLUpdate was asked, recorded before the real call runs.
struct UpdateCall {
  std::string storedName;
  std::string newName;
  uint32_t mask;
};
std::vector<UpdateCall> updates;
HT_HTACLUpdate_fn realUpdate;

HTSTATUS RecordUpdate(HTDBHANDLE db, const HTACLENTRY* entry, const HTACLENTRY* newEntry, HTUINT mask) {
  updates.push_back({entry->name, newEntry->name, mask});
  return realUpdate ? realUpdate(db, entry, newEntry, mask) : 0;
}

class RecordingUpdates {
 public:
  explicit RecordingUpdates(bool forward = true) {
    updates.clear();
    realUpdate = forward ? guard_.real() : nullptr;
  }

 private:
  SlotGuard<HT_HTACLUpdate_fn> guard_{HTAPI.HTACLUpdate, RecordUpdate};
};

TEST_F(QRAclEnt, FreshEntrySaveMakesNoCall) {
  RecordingUpdates recording;
  auto acl = database_->GetACL();
  TQuireACLEntry* entry = acl->GetEntry(quiretest::kTestUser);
  ASSERT_NE(entry, nullptr);
  EXPECT_FALSE(entry->Save());
  EXPECT_FALSE(acl->CreateACLEntry("Unset")->Save());
  EXPECT_TRUE(updates.empty());
  EXPECT_EQ(Reread()->GetEntry("Unset"), nullptr);
}

TEST_F(QRAclEnt, SaveSendsOnlyTheChangedParts) {
  AddEntry("Masked", alReader);
  ASSERT_TRUE(Reread()->AddRole("Role"));
  RecordingUpdates recording;
  auto acl = database_->GetACL();
  TQuireACLEntry* entry = acl->GetEntry("Masked");
  entry->SetLevel(alEditor);
  entry->SetCanCreatePersonalAgent(true);
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  entry->SetName("Masked Renamed");
  ASSERT_TRUE(entry->EnableRole("Role"));
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0].mask, HTACLUPDATE_LEVEL | HTACLUPDATE_FLAGS);  // 10
  EXPECT_EQ(updates[1].mask, HTACLUPDATE_NAME | HTACLUPDATE_ROLES);   // 5
  // The stored name finds the entry; the copy carries the new one.
  EXPECT_EQ(updates[1].storedName, "Masked");
  EXPECT_EQ(updates[1].newName, "Masked Renamed");
}

TEST_F(QRAclEnt, RenamedEntryIsFoundUnderItsNewNameAfterRereading) {
  AddEntry("Old Name", alAuthor);
  auto acl = database_->GetACL();
  TQuireACLEntry* entry = acl->GetEntry("Old Name");
  entry->SetName("New Name");
  EXPECT_EQ(entry->GetName(), "New Name");
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  // This list keeps the key it read.
  EXPECT_EQ(acl->GetEntry("Old Name"), entry);
  EXPECT_EQ(acl->GetEntry("New Name"), nullptr);
  auto reread = Reread();
  EXPECT_EQ(reread->GetEntry("Old Name"), nullptr);
  ASSERT_NE(reread->GetEntry("New Name"), nullptr);
  EXPECT_EQ(reread->GetEntry("New Name")->GetLevel(), alAuthor);
  // A second rename of the same object finds the entry under the name it now has.
  entry->SetName("Third Name");
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  EXPECT_NE(Reread()->GetEntry("Third Name"), nullptr);
}

TEST_F(QRAclEnt, FailedUpdateIsNotRetriedAndDoesNotMoveTheKey) {
  AddEntry("Steady", alReader);
  auto acl = database_->GetACL();
  TQuireACLEntry* entry = acl->GetEntry("Steady");
  {
    SlotGuard failing(HTAPI.HTACLUpdate, +[](HTDBHANDLE, const HTACLENTRY*, const HTACLENTRY*, HTUINT) -> HTSTATUS {
      return HTFAIL_STORAGE_ERROR;
    });
    entry->SetName("Never Stored");
    EXPECT_FALSE(entry->Save());
    EXPECT_EQ(entry->LastError, HTFAIL_STORAGE_ERROR);
  }
  RecordingUpdates recording;
  EXPECT_FALSE(entry->Save());
  EXPECT_TRUE(updates.empty());
  // The next update still looks the entry up under the name the database holds.
  entry->SetLevel(alEditor);
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].storedName, "Steady");
  EXPECT_EQ(Reread()->GetEntry("Steady")->GetLevel(), alEditor);
}

TEST_F(QRAclEnt, PermissionFlagsRoundTrip) {
  AddEntry("Flags", alEditor);
  struct Flag {
    const char* name;
    bool (TQuireACLEntry::*get)() const;
    void (TQuireACLEntry::*set)(bool);
  };
  const Flag flags[] = {
      {"create documents", &TQuireACLEntry::GetCanCreateDocuments, &TQuireACLEntry::SetCanCreateDocuments},
      {"delete documents", &TQuireACLEntry::GetCanDeleteDocuments, &TQuireACLEntry::SetCanDeleteDocuments},
      {"personal agents", &TQuireACLEntry::GetCanCreatePersonalAgent, &TQuireACLEntry::SetCanCreatePersonalAgent},
      {"personal folders", &TQuireACLEntry::GetCanCreatePersonalFolder,
       &TQuireACLEntry::SetCanCreatePersonalFolder},
  };
  for (const auto& flag : flags) {
    for (const bool value : {true, false, true}) {
      auto acl = database_->GetACL();
      TQuireACLEntry* entry = acl->GetEntry("Flags");
      (entry->*flag.set)(value);
      EXPECT_EQ((entry->*flag.get)(), value) << flag.name;
      ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
      EXPECT_EQ((Reread()->GetEntry("Flags")->*flag.get)(), value) << flag.name;
    }
  }
}

TEST_F(QRAclEnt, ForbiddingBitsReadInverted) {
  HTACLENTRY record{};
  TQuireACLEntry entry(record, 0, nullptr);
  EXPECT_TRUE(entry.GetCanCreateDocuments());
  EXPECT_TRUE(entry.GetCanDeleteDocuments());
  EXPECT_FALSE(entry.GetCanCreatePersonalAgent());
  EXPECT_FALSE(entry.GetCanCreatePersonalFolder());
  entry.SetCanDeleteDocuments(false);
  EXPECT_EQ(entry.Record().flags, HTACLFLAG_NO_DELETE_DOCS);
  EXPECT_FALSE(entry.GetCanDeleteDocuments());
  entry.SetCanCreateDocuments(false);
  EXPECT_EQ(entry.Record().flags, HTACLFLAG_NO_DELETE_DOCS | HTACLFLAG_NO_CREATE_DOCS);
  entry.SetCanDeleteDocuments(true);
  entry.SetCanCreatePersonalFolder(true);
  EXPECT_EQ(entry.Record().flags, HTACLFLAG_NO_CREATE_DOCS | HTACLFLAG_PERSONAL_FOLDERS);
}

struct PublicCase {
  TQRAccessLevel level;
  bool reader;  // SetIsPublicReader, else SetIsPublicWriter
  bool value;
  TQRAccessLevel expected;
  bool changed;
};

TEST(QRAclEntPublic, ReaderAndWriterMoveTheLevelOnlyWhenNeeded) {
  const PublicCase cases[] = {
      {alManager, true, false, alDepositor, true},  {alDepositor, true, false, alDepositor, false},
      {alNoAccess, true, true, alReader, true},     {alEditor, true, true, alEditor, false},
      {alNoAccess, false, true, alDepositor, true}, {alReader, false, false, alNoAccess, true},
      {alNoAccess, false, false, alNoAccess, false}, {alAuthor, false, true, alAuthor, false},
  };
  RecordingUpdates recording(false);
  for (const auto& test : cases) {
    HTACLENTRY record{};
    record.level = test.level;
    TQuireACLEntry entry(record, 0, nullptr);
    EXPECT_EQ(entry.GetIsPublicReader(), test.level >= alReader);
    EXPECT_EQ(entry.GetIsPublicWriter(), test.level >= alDepositor);
    const auto set = test.reader ? &TQuireACLEntry::SetIsPublicReader : &TQuireACLEntry::SetIsPublicWriter;
    (entry.*set)(test.value);
    EXPECT_EQ(entry.GetLevel(), test.expected) << test.level << " " << test.reader << " " << test.value;
    updates.clear();
    EXPECT_EQ(entry.Save(), test.changed);
    EXPECT_EQ(updates.size(), test.changed ? 1u : 0u);
  }
}

TEST_F(QRAclEnt, RolesOneAndEightyAreListedFromTheBitSet) {
  ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, 1, "R1"), 0u);
  ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, 40, "R40"), 0u);
  ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, 80, "R80"), 0u);
  HTACLENTRY record{};
  std::strcpy(record.name, "Roles");
  record.level = alReader;
  ASSERT_EQ(HTAPI.HTACLSetRole(&record, 1, 1), 0u);
  ASSERT_EQ(HTAPI.HTACLSetRole(&record, 80, 1), 0u);
  EXPECT_EQ(record.roles[0], 0x01);
  EXPECT_EQ(record.roles[9], 0x80);
  ASSERT_EQ(HTAPI.HTACLAdd(database_->DbHandle, &record), 0u);

  auto acl = database_->GetACL();
  TQuireACLEntry* entry = acl->GetEntry("Roles");
  ASSERT_EQ(entry->GetRoleCount(), 2);
  std::string name;
  entry->GetRole(0, name);
  EXPECT_EQ(name, "R1");
  entry->GetRole(1, name);
  EXPECT_EQ(name, "R80");
  entry->GetRole(2, name);
  EXPECT_EQ(name, "R80");
  // Role 80 is beyond the by-name search.
  EXPECT_FALSE(entry->IsRoleEnabled("R80"));
  EXPECT_FALSE(entry->DisableRole("R80"));
  EXPECT_TRUE(entry->IsRoleEnabled("R1"));
  EXPECT_FALSE(entry->Save());
}

TEST_F(QRAclEnt, EnableAndDisableRolesRoundTrip) {
  ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, 3, "[Editors]"), 0u);
  ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, 78, "[Late]"), 0u);
  AddEntry("Player", alAuthor);
  auto acl = database_->GetACL();
  TQuireACLEntry* entry = acl->GetEntry("Player");
  EXPECT_FALSE(entry->IsRoleEnabled("[Editors]"));
  ASSERT_TRUE(entry->EnableRole("[Editors]")) << entry->GetNotesErrorString();
  ASSERT_TRUE(entry->EnableRole("[Late]"));
  EXPECT_FALSE(entry->EnableRole("[editors]"));
  EXPECT_FALSE(entry->EnableRole(""));
  EXPECT_FALSE(entry->EnableRole(std::string(40, 'x')));
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  {
    auto reread = Reread();
    TQuireACLEntry* stored = reread->GetEntry("Player");
    EXPECT_TRUE(stored->IsRoleEnabled("[Editors]"));
    EXPECT_TRUE(stored->IsRoleEnabled("[Late]"));
    EXPECT_EQ(stored->GetRoleCount(), 2);
  }
  ASSERT_TRUE(entry->DisableRole("[Editors]"));
  ASSERT_TRUE(entry->Save());
  auto reread = Reread();
  EXPECT_FALSE(reread->GetEntry("Player")->IsRoleEnabled("[Editors]"));
  EXPECT_EQ(reread->GetEntry("Player")->GetRoleCount(), 1);
}

TEST(QRAclEntName, NameIsCutToTheRecord) {
  HTACLENTRY record{};
  std::strcpy(record.name, "Short");
  TQuireACLEntry entry(record, 0, nullptr);
  entry.SetName(std::string(300, 'n'));
  EXPECT_EQ(entry.GetName(), std::string(255, 'n'));
  EXPECT_EQ(entry.Key(), "Short");
  // A multi-byte character is never split at the cut.
  entry.SetName(std::string(254, 'n') + "\xC3\xA9");
  EXPECT_EQ(entry.GetName(), std::string(254, 'n'));
}

}  // namespace
