// The list the object model writes is the one the engine enforces: a user the list makes a
// Reader cannot write through the object model, and a non-Manager cannot change the list.
#include <gtest/gtest.h>

#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "tests/objects/AclFixture.h"

namespace {

using quiretest::AclFixture;

class QRAclEnforcement : public AclFixture {
 protected:
  // Leaves another Manager in charge and makes the session's user a Reader.
  void DemoteSelf(bool uniform) {
    AddEntry("Other Manager", alManager);
    auto acl = database_->GetACL();
    acl->SetUniformAccess(uniform);
    ASSERT_EQ(acl->LastError, 0u) << acl->GetNotesErrorString();
    TQuireACLEntry* self = acl->GetEntry(quiretest::kTestUser);
    ASSERT_NE(self, nullptr);
    self->SetLevel(alReader);
    ASSERT_TRUE(self->Save()) << self->GetNotesErrorString();
    database_ = session_.GetDatabase("", path_);
    ASSERT_NE(database_, nullptr) << session_.GetNotesErrorString();
  }
};

TEST_F(QRAclEnforcement, ReaderCannotChangeTheDatabase) {
  DemoteSelf(true);
  EXPECT_EQ(database_->GetTitle(), "ACL Test");
  database_->SetTitle("Vandalised");
  EXPECT_EQ(database_->LastError, HTFAIL_ACCESS_DENIED);
  EXPECT_FALSE(database_->GetNotesErrorString().empty());
  EXPECT_EQ(database_->GetTitle(), "ACL Test");
}

TEST_F(QRAclEnforcement, NonManagerCannotChangeTheList) {
  DemoteSelf(true);
  auto acl = database_->GetACL();
  ASSERT_GT(acl->GetEntrycount(), 0) << acl->GetNotesErrorString();
  EXPECT_FALSE(acl->AddRole("[Sneaky]"));
  EXPECT_EQ(acl->LastError, HTFAIL_NOT_MANAGER);
  EXPECT_FALSE(acl->GetNotesErrorString().empty());
  TQuireACLEntry* self = acl->GetEntry(quiretest::kTestUser);
  self->SetLevel(alManager);
  EXPECT_FALSE(self->Save());
  EXPECT_EQ(self->LastError, HTFAIL_NOT_MANAGER);
  acl->SetUniformAccess(false);
  EXPECT_EQ(acl->LastError, HTFAIL_NOT_MANAGER);
  EXPECT_EQ(Reread()->GetEntry(quiretest::kTestUser)->GetLevel(), alReader);
}

TEST_F(QRAclEnforcement, WithoutUniformAccessALocalDatabaseStaysOpen) {
  DemoteSelf(false);
  database_->SetTitle("Still Mine");
  EXPECT_EQ(database_->LastError, 0u) << database_->GetNotesErrorString();
  EXPECT_EQ(database_->GetTitle(), "Still Mine");
}

}  // namespace
