// A fresh database per test, opened by a session, with helpers that reach the ACL through
// the C API directly, so that what the object model wrote is checked independently of it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "objects/QRAcl.h"
#include "objects/QRBuffer.h"
#include "objects/QRDbase.h"
#include "tests/objects/TestEnv.h"

namespace quiretest {

class AclFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = UniquePath("acl");
    ASSERT_EQ(CreateDatabase(path_, "ACL Test"), 0u);
    database_ = session_.GetDatabase("", path_);
    ASSERT_NE(database_, nullptr) << session_.GetNotesErrorString();
  }

  // Stores an entry the way another program would.
  void AddEntry(const std::string& name, TQRAccessLevel level) {
    HTACLENTRY record{};
    qrbuffer::Fill(record.name, name);
    record.level = level;
    ASSERT_EQ(HTAPI.HTACLAdd(database_->DbHandle, &record), 0u) << name;
  }

  // The list as the database now holds it.
  std::unique_ptr<TQuireACL> Reread() { return database_->GetACL(); }

  std::string RoleAt(int index) {
    qrbuffer::Out<HT_ROLE_NAME_CAPACITY> name;
    EXPECT_EQ(HTAPI.HTACLGetRoleName(database_->DbHandle, index, name.get()), 0u) << index;
    return name.text();
  }

  TQuireSession session_;
  std::string path_;
  std::unique_ptr<TQuireDatabase> database_;
};

}  // namespace quiretest
