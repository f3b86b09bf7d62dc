// The access-control list through the C API: entries, masks, renames, roles, the uniform
// access property and enforcement.
#include <cstring>
#include <fstream>

#include "EngineFixture.h"
#include "engine/db/Access.h"
#include "engine/db/Database.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;
// Every database of these tests lives on the test's server: the local one or PostgreSQL.
class AclTest : public BackendTest {};
using LocalAclTest = EngineTest;

HTACLENTRY entry(const char* name, HTINT level, HTUINT flags = 0) {
  HTACLENTRY e{};
  std::strncpy(e.name, name, sizeof e.name - 1);
  e.level = level;
  e.flags = flags;
  return e;
}

std::vector<HTACLENTRY> listAcl(HTDBHANDLE db) {
  std::vector<HTACLENTRY> out;
  HTACLENTRY e{};
  for (HTINT mode = HTLIST_FIRST; HTACLList(db, mode, &e) == HTSUCCESS; mode = HTLIST_NEXT) out.push_back(e);
  return out;
}

TEST_P(AclTest, NewDatabaseHasCreatorAsManagerAndDefault) {
  HTDBHANDLE db = createAndOpen("acl.nsf");
  auto acl = listAcl(db);
  ASSERT_EQ(acl.size(), 2u);
  EXPECT_EQ(std::string(acl[0].name), userName());
  EXPECT_EQ(acl[0].level, HTACLLEVEL_MANAGER);
  EXPECT_STREQ(acl[1].name, "-Default-");
  // A database made on a named server shuts out whoever its ACL does not name.
  EXPECT_EQ(acl[1].level, onPostgres() ? HTACLLEVEL_NO_ACCESS : HTACLLEVEL_AUTHOR);
  HTINT level = -1;
  HTUINT flags = 0;
  ASSERT_EQ(HTACLGetAccessLevel(db, &level, &flags), HTSUCCESS);
  EXPECT_EQ(level, HTACLLEVEL_MANAGER);
}

TEST_P(AclTest, AddLookupUpdateByMaskRenameAndDelete) {
  HTDBHANDLE db = createAndOpen("acl.nsf");
  HTACLENTRY ann = entry("Ann Lee/Acme", HTACLLEVEL_READER, HTACLFLAG_NO_CREATE_DOCS);
  ASSERT_EQ(HTACLAdd(db, &ann), HTSUCCESS);
  EXPECT_EQ(HTACLAdd(db, &ann), HTFAIL_ENTRY_EXISTS);
  HTACLENTRY bad = entry("Bad", 7);
  EXPECT_EQ(HTACLAdd(db, &bad), HTFAIL_INVALID_ARGUMENT);

  // Level and flags only (mask 2 + 8): the name and roles in newEntry are ignored.
  HTACLENTRY change = entry("ignored", HTACLLEVEL_EDITOR, HTACLFLAG_PERSONAL_AGENTS);
  change.roles[0] = 0xFF;
  ASSERT_EQ(HTACLUpdate(db, &ann, &change, HTACLUPDATE_LEVEL | HTACLUPDATE_FLAGS), HTSUCCESS);
  HTACLENTRY found{};
  ASSERT_EQ(HTACLLookup(db, "ann lee/acme", &found), HTSUCCESS);
  EXPECT_STREQ(found.name, "Ann Lee/Acme");
  EXPECT_EQ(found.level, HTACLLEVEL_EDITOR);
  EXPECT_EQ(found.flags, HTACLFLAG_PERSONAL_AGENTS);
  EXPECT_EQ(found.roles[0], 0);

  // A rename passes the old name in entry and the new one in newEntry; roles come along (mask 1 + 4).
  HTACLENTRY renamed = entry("Ann Smith/Acme", 0);
  ASSERT_EQ(HTACLSetRole(&renamed, 1, 1), HTSUCCESS);
  ASSERT_EQ(HTACLSetRole(&renamed, 80, 1), HTSUCCESS);
  ASSERT_EQ(HTACLUpdate(db, &ann, &renamed, HTACLUPDATE_NAME | HTACLUPDATE_ROLES), HTSUCCESS);
  EXPECT_EQ(HTACLLookup(db, "Ann Lee/Acme", &found), HTFAIL_ENTRY_NOT_FOUND);
  ASSERT_EQ(HTACLLookup(db, "Ann Smith/Acme", &found), HTSUCCESS);
  EXPECT_EQ(found.level, HTACLLEVEL_EDITOR);
  EXPECT_EQ(HTACLGetRole(&found, 1), 1);
  EXPECT_EQ(HTACLGetRole(&found, 80), 1);
  EXPECT_EQ(HTACLGetRole(&found, 2), 0);
  // The entry keeps its place in the list.
  auto acl = listAcl(db);
  ASSERT_EQ(acl.size(), 3u);
  EXPECT_STREQ(acl[2].name, "Ann Smith/Acme");

  HTACLENTRY clash = entry("-Default-", 0);
  EXPECT_EQ(HTACLUpdate(db, &found, &clash, HTACLUPDATE_NAME), HTFAIL_ENTRY_EXISTS);
  HTACLENTRY ghost = entry("Nobody", 0);
  EXPECT_EQ(HTACLUpdate(db, &ghost, &ghost, HTACLUPDATE_LEVEL), HTFAIL_ENTRY_NOT_FOUND);
  ASSERT_EQ(HTACLDelete(db, "ann smith/acme"), HTSUCCESS);
  EXPECT_EQ(HTACLDelete(db, "Ann Smith/Acme"), HTFAIL_ENTRY_NOT_FOUND);
  EXPECT_EQ(listAcl(db).size(), 2u);
}

TEST_P(AclTest, RolesOneToEighty) {
  HTDBHANDLE db = createAndOpen("roles.nsf");
  char name[HT_ROLE_NAME_CAPACITY] = "junk";
  ASSERT_EQ(HTACLGetRoleName(db, 5, name), HTSUCCESS);
  EXPECT_STREQ(name, "");
  ASSERT_EQ(HTACLSetRoleName(db, 1, "[Admins]"), HTSUCCESS);
  ASSERT_EQ(HTACLSetRoleName(db, 80, "[Exactly17Chars!]"), HTSUCCESS);
  ASSERT_EQ(HTACLGetRoleName(db, 80, name), HTSUCCESS);
  EXPECT_STREQ(name, "[Exactly17Chars!]");
  EXPECT_EQ(HTACLSetRoleName(db, 2, "[EighteenCharsLong]"), HTFAIL_TEXT_TOO_LONG);
  EXPECT_EQ(HTACLSetRoleName(db, 0, "x"), HTFAIL_BAD_ROLE);
  EXPECT_EQ(HTACLSetRoleName(db, 81, "x"), HTFAIL_BAD_ROLE);
  EXPECT_EQ(HTACLGetRoleName(db, 81, name), HTFAIL_BAD_ROLE);
  EXPECT_EQ(HTACLSetRoleName(db, 3, "[admins]"), HTFAIL_ENTRY_EXISTS);

  // Deleting a role's name removes it from every entry.
  HTACLENTRY bob = entry("Bob", HTACLLEVEL_READER);
  HTACLSetRole(&bob, 1, 1);
  ASSERT_EQ(HTACLAdd(db, &bob), HTSUCCESS);
  ASSERT_EQ(HTACLSetRoleName(db, 1, ""), HTSUCCESS);
  HTACLENTRY found{};
  ASSERT_EQ(HTACLLookup(db, "Bob", &found), HTSUCCESS);
  EXPECT_EQ(HTACLGetRole(&found, 1), 0);

  HTACLENTRY rec{};
  EXPECT_EQ(HTACLSetRole(&rec, 0, 1), HTFAIL_BAD_ROLE);
  EXPECT_EQ(HTACLSetRole(&rec, 81, 1), HTFAIL_BAD_ROLE);
  EXPECT_EQ(HTACLSetRole(&rec, 9, 1), HTSUCCESS);
  EXPECT_EQ(rec.roles[1], 0x01);
  EXPECT_EQ(HTACLSetRole(&rec, 9, 0), HTSUCCESS);  // disabling succeeds with 0 too
  EXPECT_EQ(rec.roles[1], 0x00);
  EXPECT_EQ(HTACLGetRole(&rec, 81), 0);
}

TEST_P(AclTest, ResetLeavesTheCallerAsManager) {
  HTDBHANDLE db = createAndOpen("reset.nsf");
  HTACLENTRY x = entry("Someone", HTACLLEVEL_EDITOR);
  HTACLAdd(db, &x);
  HTACLSetRoleName(db, 4, "[R]");
  ASSERT_EQ(HTACLReset(db), HTSUCCESS);
  auto acl = listAcl(db);
  ASSERT_EQ(acl.size(), 2u);
  EXPECT_EQ(acl[0].level, HTACLLEVEL_MANAGER);
  char name[HT_ROLE_NAME_CAPACITY];
  HTACLGetRoleName(db, 4, name);
  EXPECT_STREQ(name, "");
}

TEST_F(LocalAclTest, UniformAccessOffLeavesLocalDatabasesOpen) {
  HTDBHANDLE db = createAndOpen("local.nsf");
  HTACLENTRY def = entry("-Default-", HTACLLEVEL_NO_ACCESS);
  ASSERT_EQ(HTACLUpdate(db, &def, &def, HTACLUPDATE_LEVEL), HTSUCCESS);
  HTDatabaseClose(db, 0);
  actAs("Stranger");
  ASSERT_EQ(HTDatabaseOpen("", "local.nsf", 0, &db), HTSUCCESS);
  HTINT level = -1;
  HTACLGetAccessLevel(db, &level, nullptr);
  EXPECT_EQ(level, HTACLLEVEL_MANAGER);
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "Renamed by a stranger"), HTSUCCESS);
}

class EnforcedAclTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    owner_ = userName();
    db_ = createAndOpen("enforced.nsf", "Enforced");
    HTACLENTRY reader = entry("CN=Rita Reader/O=Acme", HTACLLEVEL_READER);
    HTACLENTRY author = entry("Arno Author/Acme", HTACLLEVEL_AUTHOR);
    ASSERT_EQ(HTACLAdd(db_, &reader), HTSUCCESS);
    ASSERT_EQ(HTACLAdd(db_, &author), HTSUCCESS);
    HTACLENTRY def = entry("-Default-", HTACLLEVEL_NO_ACCESS);
    ASSERT_EQ(HTACLUpdate(db_, &def, &def, HTACLUPDATE_LEVEL), HTSUCCESS);
    ASSERT_EQ(HTACLSetACLProperty(db_, HTACL_UNIFORM_ACL, 1), HTSUCCESS);
    HTUINT uniform = 0;
    ASSERT_EQ(HTACLGetACLProperty(db_, HTACL_UNIFORM_ACL, &uniform), HTSUCCESS);
    EXPECT_EQ(uniform, 1u);
    HTDatabaseClose(db_, 0);
  }

  HTSTATUS openAs(const char* user, HTDBHANDLE& db) {
    actAs(user);
    return HTDatabaseOpen(server(), "enforced.nsf", 0, &db);
  }

  std::string owner_;
  HTDBHANDLE db_ = 0;
};

TEST_P(EnforcedAclTest, NoAccessCannotOpen) {
  HTDBHANDLE db = 0;
  EXPECT_EQ(openAs("Mallory", db), HTFAIL_ACCESS_DENIED);
  const std::string text = message(HTFAIL_ACCESS_DENIED);
  EXPECT_NE(text.find("Mallory"), std::string::npos) << text;
  EXPECT_NE(text.find("Depositor"), std::string::npos) << text;
}

TEST_P(EnforcedAclTest, ReaderCanReadButNotWriteOrManage) {
  HTDBHANDLE db = 0;
  ASSERT_EQ(openAs("Rita Reader/Acme", db), HTSUCCESS);  // matches the canonical entry name
  HTINT level = -1;
  ASSERT_EQ(HTACLGetAccessLevel(db, &level, nullptr), HTSUCCESS);
  EXPECT_EQ(level, HTACLLEVEL_READER);
  char t[HT_TITLE_CAPACITY];
  EXPECT_EQ(HTDatabaseGetProperty(db, HTDATABASE_TITLE, t), HTSUCCESS);
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "x"), HTFAIL_ACCESS_DENIED);
  EXPECT_NE(message(HTFAIL_ACCESS_DENIED).find("Designer"), std::string::npos);
  HTACLENTRY e = entry("New", HTACLLEVEL_MANAGER);
  EXPECT_EQ(HTACLAdd(db, &e), HTFAIL_NOT_MANAGER);
  EXPECT_NE(message(HTFAIL_NOT_MANAGER).find("Rita Reader/Acme"), std::string::npos);
  EXPECT_EQ(HTACLSetRoleName(db, 1, "[X]"), HTFAIL_NOT_MANAGER);
  EXPECT_EQ(HTACLSetACLProperty(db, HTACL_UNIFORM_ACL, 0), HTFAIL_NOT_MANAGER);
  EXPECT_EQ(HTACLDelete(db, "-Default-"), HTFAIL_NOT_MANAGER);
  EXPECT_EQ(HTACLList(db, HTLIST_FIRST, &e), HTSUCCESS);
  EXPECT_EQ(HTDatabaseDelete(server(), "enforced.nsf"), HTFAIL_DB_IN_USE);
  HTDatabaseClose(db, 0);
  EXPECT_EQ(HTDatabaseDelete(server(), "enforced.nsf"), HTFAIL_NOT_MANAGER);
}

TEST_P(EnforcedAclTest, AccessChecksOfTheInternalInterface) {
  HTDBHANDLE db = 0;
  ASSERT_EQ(openAs("Arno Author/Acme", db), HTSUCCESS);
  std::shared_ptr<db::DbHandle> h;
  ASSERT_EQ(db::lookup(db, h), HTSUCCESS);
  EXPECT_EQ(db::requireAccess(*h, HTACLLEVEL_AUTHOR, "create documents"), HTSUCCESS);
  EXPECT_EQ(db::requireAccess(*h, HTACLLEVEL_EDITOR, "edit documents"), HTFAIL_ACCESS_DENIED);
  db::Access a = db::effectiveAccess(*h);
  EXPECT_TRUE(a.enforced);
  EXPECT_EQ(a.level, HTACLLEVEL_AUTHOR);
}

TEST_P(EnforcedAclTest, ManagerKeepsControlAndGroupsFromTheDirectoryCount) {
  HTDBHANDLE db = 0;
  ASSERT_EQ(openAs(owner_.c_str(), db), HTSUCCESS);
  HTACLENTRY group = entry("Sales Team", HTACLLEVEL_EDITOR, HTACLFLAG_GROUP);
  HTACLSetRole(&group, 3, 1);
  ASSERT_EQ(HTACLAdd(db, &group), HTSUCCESS);
  HTDatabaseClose(db, 0);

  // A directory with a group document (nested: Sales Team contains Field Staff).
  ASSERT_EQ(HTDatabaseCreate(server(), "names.nsf", "Directory", nullptr, 0), HTSUCCESS);
  ASSERT_EQ(HTDatabaseOpen(server(), "names.nsf", 0, &db), HTSUCCESS);
  {
    std::shared_ptr<db::DbHandle> h;
    ASSERT_EQ(db::lookup(db, h), HTSUCCESS);
    auto& names = *h->database();
    auto lock = names.lock();
    store::Transaction tx(names.conn());
    auto addGroup = [&](const char* listName, std::vector<std::string> members) {
      store::NoteHeader n;
      n.form = "Group";
      HTID id = store::insertNote(names.conn(), n);
      store::writeItems(names.conn(), id,
                        {{"Form", HTTYPE_TEXT, 0, store::codec::encodeText("Group")},
                         {"ListName", HTTYPE_TEXT, 0, store::codec::encodeText(listName)},
                         {"Members", HTTYPE_TEXT_LIST, 0, store::codec::encodeTextList(members)}});
    };
    addGroup("Sales Team", {"Bea Boss/Acme", "Field Staff"});
    addGroup("Field Staff", {"CN=Sam Seller/O=Acme"});
    tx.commit();
  }
  HTDatabaseClose(db, 0);

  ASSERT_EQ(openAs("Sam Seller/Acme", db), HTSUCCESS);
  HTINT level = -1;
  HTACLGetAccessLevel(db, &level, nullptr);
  EXPECT_EQ(level, HTACLLEVEL_EDITOR);
  std::shared_ptr<db::DbHandle> h;
  ASSERT_EQ(db::lookup(db, h), HTSUCCESS);
  EXPECT_EQ(db::effectiveAccess(*h).roles[0], 0x04);  // role 3 through the group
  HTDatabaseClose(db, 0);
  EXPECT_EQ(openAs("Not In Any Group", db), HTFAIL_ACCESS_DENIED);
}

TEST_F(LocalAclTest, NamedServerDatabasesEnforceTheirAcl) {
  fs::path other = dataDir_ / "hubdata";
  fs::create_directories(other);
  {
    std::ofstream ini(dataDir_ / "quire.ini", std::ios::app);
    ini << "\n[Servers]\nHub=" << other.string() << "\n";
  }
  HTDBHANDLE db = createAndOpen("srv.nsf", "Server db", "Hub");
  HTACLENTRY def{};
  ASSERT_EQ(HTACLLookup(db, "-Default-", &def), HTSUCCESS);
  EXPECT_EQ(def.level, HTACLLEVEL_NO_ACCESS);
  HTDatabaseClose(db, 0);
  actAs("Visitor");
  EXPECT_EQ(HTDatabaseOpen("Hub", "srv.nsf", 0, &db), HTFAIL_ACCESS_DENIED);
  actAsSelf();
  ASSERT_EQ(HTDatabaseOpen("Hub", "srv.nsf", 0, &db), HTSUCCESS);
  def.level = HTACLLEVEL_READER;
  ASSERT_EQ(HTACLUpdate(db, &def, &def, HTACLUPDATE_LEVEL), HTSUCCESS);
  HTDatabaseClose(db, 0);
  actAs("Visitor");
  ASSERT_EQ(HTDatabaseOpen("Hub", "srv.nsf", 0, &db), HTSUCCESS);
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "x"), HTFAIL_ACCESS_DENIED);
}

QUIRE_BOTH_BACKENDS(AclTest);
QUIRE_BOTH_BACKENDS(EnforcedAclTest);

}  // namespace
}  // namespace quire::engine::test
