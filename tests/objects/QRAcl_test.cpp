#include "objects/QRAcl.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "objects/QRDbase.h"
#include "tests/objects/AclFixture.h"

namespace {

using quiretest::AclFixture;

using QRAcl = AclFixture;

TEST_F(QRAcl, NewDatabaseListsDefaultAndItsCreatorAsManager) {
  auto acl = database_->GetACL();
  EXPECT_EQ(acl->LastError, 0u);
  ASSERT_NE(acl->GetEntry("-Default-"), nullptr);
  TQuireACLEntry* creator = acl->GetEntry(quiretest::kTestUser);
  ASSERT_NE(creator, nullptr);
  EXPECT_EQ(creator->GetLevel(), alManager);
  // Names are looked up without regard to case.
  EXPECT_EQ(acl->GetEntry("TEST manager"), creator);
  EXPECT_EQ(acl->GetEntry("Nobody"), nullptr);
}

TEST_F(QRAcl, WalkVisitsEveryEntryOnce) {
  AddEntry("Alpha", alReader);
  AddEntry("Beta", alAuthor);
  auto acl = database_->GetACL();
  std::vector<std::string> names;
  for (auto* entry = acl->GetFirstEntry(); entry; entry = acl->GetNextEntry(entry)) {
    names.push_back(entry->GetName());
    ASSERT_LE(names.size(), 10u);
  }
  EXPECT_EQ(static_cast<int>(names.size()), acl->GetEntrycount());
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_TRUE(std::set<std::string>(names.begin(), names.end()).count("Beta"));
}

// A walk by name would loop between two entries whose names differ only in case.
TEST_F(QRAcl, WalkEndsWithNamesDifferingInCase) {
  auto acl = database_->GetACL();
  acl->CreateACLEntry("twin");
  acl->CreateACLEntry("TWIN");
  int steps = 0;
  for (auto* entry = acl->GetFirstEntry(); entry && steps < 20; entry = acl->GetNextEntry(entry)) ++steps;
  EXPECT_EQ(steps, acl->GetEntrycount());
}

TEST_F(QRAcl, RemovedEntryEndsTheWalkAndStaysInTheDatabase) {
  AddEntry("Gone Soon", alReader);
  auto acl = database_->GetACL();
  const int count = acl->GetEntrycount();
  TQuireACLEntry* removed = acl->GetEntry("gone soon");
  ASSERT_NE(removed, nullptr);
  acl->RemoveEntry("GONE SOON");
  EXPECT_EQ(acl->GetEntrycount(), count - 1);
  EXPECT_EQ(acl->GetEntry("Gone Soon"), nullptr);
  EXPECT_EQ(acl->GetNextEntry(removed), nullptr);
  acl->RemoveEntry("not there");
  EXPECT_EQ(acl->GetEntrycount(), count - 1);
  EXPECT_NE(Reread()->GetEntry("Gone Soon"), nullptr);
}

TEST_F(QRAcl, LastEntryHasNoNext) {
  auto acl = database_->GetACL();
  TQuireACLEntry* last = nullptr;
  for (auto* entry = acl->GetFirstEntry(); entry; entry = acl->GetNextEntry(entry)) last = entry;
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(acl->GetNextEntry(last), nullptr);
  EXPECT_EQ(acl->GetNextEntry(nullptr), nullptr);
}

TEST(QRAclListing, RefusedListingGivesAnEmptyListAndTheReason) {
  TQuireACL acl(0xDEAD);
  EXPECT_EQ(acl.GetEntrycount(), 0);
  EXPECT_EQ(acl.GetFirstEntry(), nullptr);
  EXPECT_EQ(acl.LastError, HTFAIL_INVALID_HANDLE);
  EXPECT_FALSE(acl.GetNotesErrorString().empty());
}

TEST_F(QRAcl, CreatedEntryReachesTheDatabaseOnSave) {
  auto acl = database_->GetACL();
  TQuireACLEntry* entry = acl->CreateACLEntry("New Person");
  EXPECT_EQ(acl->GetEntry("new person"), entry);
  EXPECT_EQ(entry->GetName(), "New Person");
  EXPECT_EQ(Reread()->GetEntry("New Person"), nullptr);
  entry->SetLevel(alEditor);
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  auto reread = Reread();
  ASSERT_NE(reread->GetEntry("New Person"), nullptr);
  EXPECT_EQ(reread->GetEntry("New Person")->GetLevel(), alEditor);
  // Once stored, further changes update it.
  entry->SetLevel(alAuthor);
  ASSERT_TRUE(entry->Save()) << entry->GetNotesErrorString();
  EXPECT_EQ(Reread()->GetEntry("New Person")->GetLevel(), alAuthor);
}

TEST_F(QRAcl, SaveSavesEveryEntryAndAnswersTrue) {
  AddEntry("One", alReader);
  AddEntry("Two", alReader);
  auto acl = database_->GetACL();
  acl->GetEntry("One")->SetLevel(alEditor);
  acl->GetEntry("Two")->SetLevel(alDesigner);
  EXPECT_TRUE(acl->Save());
  auto reread = Reread();
  EXPECT_EQ(reread->GetEntry("One")->GetLevel(), alEditor);
  EXPECT_EQ(reread->GetEntry("Two")->GetLevel(), alDesigner);
  // Entries that fail keep their own reason; the list still answers true.
  TQuireACLEntry* duplicate = acl->CreateACLEntry("One");
  duplicate->SetLevel(alReader);
  EXPECT_TRUE(acl->Save());
  EXPECT_EQ(duplicate->LastError, HTFAIL_ENTRY_EXISTS);
  EXPECT_EQ(Reread()->GetEntry("One")->GetLevel(), alEditor);
}

TEST_F(QRAcl, UniformAccessRoundTrips) {
  auto acl = database_->GetACL();
  EXPECT_FALSE(acl->GetUniformAccess());
  acl->SetUniformAccess(true);
  ASSERT_EQ(acl->LastError, 0u) << acl->GetNotesErrorString();
  EXPECT_TRUE(Reread()->GetUniformAccess());
  acl->SetUniformAccess(false);
  EXPECT_FALSE(Reread()->GetUniformAccess());
}

TEST_F(QRAcl, AddRoleFillsTheLowestEmptyIndex) {
  auto acl = database_->GetACL();
  ASSERT_TRUE(acl->AddRole("[A]")) << acl->GetNotesErrorString();
  ASSERT_TRUE(acl->AddRole("[B]"));
  ASSERT_TRUE(acl->AddRole("[C]"));
  EXPECT_EQ(RoleAt(2), "[B]");
  ASSERT_TRUE(acl->DeleteRole("[B]"));
  EXPECT_EQ(RoleAt(2), "");
  ASSERT_TRUE(acl->AddRole("[D]"));
  EXPECT_EQ(RoleAt(2), "[D]");
  EXPECT_EQ(acl->GetRoleCount(), 3);
}

TEST_F(QRAcl, DeleteOrRenameOfAnAbsentRoleChangesNothing) {
  auto acl = database_->GetACL();
  ASSERT_TRUE(acl->AddRole("Keep"));
  EXPECT_FALSE(acl->DeleteRole("keep"));  // exact comparison
  EXPECT_FALSE(acl->DeleteRole("Absent"));
  EXPECT_FALSE(acl->RenameRole("Absent", "Other"));
  EXPECT_FALSE(acl->DeleteRole(""));
  EXPECT_EQ(RoleAt(1), "Keep");
  EXPECT_EQ(acl->GetRoleCount(), 1);
}

TEST_F(QRAcl, RenameRoleAndSetRoleName) {
  auto acl = database_->GetACL();
  ASSERT_TRUE(acl->AddRole("First"));
  ASSERT_TRUE(acl->AddRole("Second"));
  ASSERT_TRUE(acl->RenameRole("First", "Premier"));
  EXPECT_EQ(RoleAt(1), "Premier");
  acl->SetRoleName(1, "Deuxieme");
  EXPECT_EQ(RoleAt(2), "Deuxieme");
  acl->SetRoleName(2, "Nothing");  // index == count: no change
  std::string name = "untouched";
  acl->GetRoleName(2, name);
  EXPECT_EQ(name, "untouched");
  acl->GetRoleName(-1, name);
  EXPECT_EQ(name, "untouched");
  acl->GetRoleName(0, name);
  EXPECT_EQ(name, "Premier");
}

TEST_F(QRAcl, RoleNamesLongerThan17AreRefused) {
  auto acl = database_->GetACL();
  EXPECT_TRUE(acl->AddRole(std::string(17, 'r')));
  EXPECT_FALSE(acl->AddRole(std::string(18, 'r')));
  EXPECT_EQ(acl->LastError, HTFAIL_TEXT_TOO_LONG);
  EXPECT_FALSE(acl->RenameRole(std::string(17, 'r'), std::string(18, 's')));
  EXPECT_EQ(acl->LastError, HTFAIL_TEXT_TOO_LONG);
  EXPECT_FALSE(acl->AddRole(""));
  EXPECT_EQ(acl->GetRoleCount(), 1);
}

TEST_F(QRAcl, RoleAt79IsListedButNotReachableByName) {
  ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, 79, "Late"), 0u);
  ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, 80, "Last"), 0u);
  auto acl = database_->GetACL();
  ASSERT_EQ(acl->GetRoleCount(), 1);  // 80 is beyond the listing
  std::string name;
  acl->GetRoleName(0, name);
  EXPECT_EQ(name, "Late");
  EXPECT_FALSE(acl->DeleteRole("Late"));
  EXPECT_FALSE(acl->RenameRole("Late", "Early"));
  acl->SetRoleName(0, "Early");
  EXPECT_EQ(RoleAt(79), "Late");
}

TEST_F(QRAcl, AddRoleWithEveryIndexTakenFails) {
  for (int index = 1; index <= 78; ++index) {
    ASSERT_EQ(HTAPI.HTACLSetRoleName(database_->DbHandle, index, ("R" + std::to_string(index)).c_str()), 0u);
  }
  auto acl = database_->GetACL();
  EXPECT_FALSE(acl->AddRole("Extra"));
  EXPECT_EQ(RoleAt(79), "");  // the search stops at 78
  EXPECT_EQ(acl->GetRoleCount(), 78);
}

}  // namespace
