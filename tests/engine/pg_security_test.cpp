// The second wall at a PostgreSQL server: people connected with the real psql under their
// own roles can do no more than the database's ACL lets them, and what the engine changes
// (the ACL, a document's Readers item) takes effect there at once.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "EngineFixture.h"
#include "engine/db/ServerSecurity.h"
#include "hitest/HTQuireExtensions.h"

extern "C" HTSTATUS HTQuireServerSecurity(const char* server, HTUINT action, HTUINT capacity, char* report,
                                          HTUINT* needed);

extern char** environ;

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kReaders = 0x0400;
constexpr uint32_t kAuthors = 0x0020;

TEST(ServerSecurityNames, RolesAreTheNamesComparableFormWithinPostgresLimits) {
  EXPECT_EQ(db::security::roleName("CN=Ann Lee/O=Sales"), "ann lee/sales");
  EXPECT_EQ(db::security::roleName("Ann Lee/Sales"), "ann lee/sales");
  EXPECT_EQ(db::security::roleName("  "), "");
  EXPECT_EQ(db::security::roleName("pg_monitor"), "~pg_monitor");  // PostgreSQL reserves pg_

  // Longer keys would be cut by PostgreSQL and two people could share a role.
  const std::string a = db::security::roleName("CN=" + std::string(70, 'x') + "a/O=Acme");
  const std::string b = db::security::roleName("CN=" + std::string(70, 'x') + "b/O=Acme");
  EXPECT_LE(a.size(), 63u);
  EXPECT_LE(b.size(), 63u);
  EXPECT_NE(a, b);
  std::string wide(30, 'x');
  for (int i = 0; i < 20; ++i) wide += "\xC3\xBC";  // never cut inside a character
  const std::string cut = db::security::roleName(wide);
  EXPECT_LE(cut.size(), 63u);
  ASSERT_NE(cut.find('~'), std::string::npos);
  EXPECT_NE(static_cast<unsigned char>(cut[cut.find('~') - 1]), 0xC3u) << cut;
}

store::StoredItem text(const char* name, const std::string& value, uint32_t flags) {
  return {name, HTTYPE_TEXT, flags, store::Blob(value.begin(), value.end())};
}

TEST(ServerSecurityNames, ReadersColumnFollowsTheEnginesReadRule) {
  using db::security::accessNames;
  // No Readers item: anyone with access reads, even with an Authors item.
  auto open = accessNames({text("DocAuthors", "CN=Ann Lee/O=Acme", kAuthors)});
  EXPECT_FALSE(open.readers.has_value());
  ASSERT_TRUE(open.authors.has_value());
  EXPECT_EQ(*open.authors, std::vector<std::string>{"ann lee/acme"});

  // With one, its names and the authors' read; roles compare in brackets, without case.
  auto limited = accessNames({text("DocReaders", "[Sales] ", kReaders), text("DocAuthors", "Ann Lee/Acme", kAuthors),
                              text("Plain", "Bob", 0)});
  ASSERT_TRUE(limited.readers.has_value());
  EXPECT_EQ(*limited.readers, (std::vector<std::string>{"[sales]", "ann lee/acme"}));

  // A Readers item of blanks names nobody and limits nothing, as in the engine.
  EXPECT_FALSE(accessNames({text("DocReaders", "  ", kReaders)}).readers.has_value());
  // A name with a control character is nobody's, and must not split into names that are.
  auto odd = accessNames({text("DocReaders", "x\x1f" "[sales]", kReaders)});
  ASSERT_TRUE(odd.readers.has_value());
  EXPECT_TRUE(odd.readers->empty());
}

// The running process's psql, or "" when there is none.
std::string psqlBinary() {
  std::error_code ec;
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec))
    if (fs::exists(e.path() / "bin/psql")) found.push_back(e.path() / "bin/psql");
  std::sort(found.begin(), found.end());
  return found.empty() ? std::string() : found.back().string();
}

// PGUSER unset for a test's scope, so that each engine logs in as its session user's role
// (without it libpq would take the system user, who has no role on this cluster).
class WithoutPgUser {
 public:
  WithoutPgUser() {
    if (const char* v = std::getenv("PGUSER")) saved_ = v;
    unsetenv("PGUSER");
  }
  ~WithoutPgUser() {
    if (!saved_.empty()) setenv("PGUSER", saved_.c_str(), 1);
  }
  WithoutPgUser(const WithoutPgUser&) = delete;
  WithoutPgUser& operator=(const WithoutPgUser&) = delete;

 private:
  std::string saved_;
};

struct Outcome {
  int status = -1;
  std::string output;
};

class ServerSecurityTest : public EngineTest {
 protected:
  void SetUp() override {
    if (ScratchPostgres::clusterUri().empty())
      GTEST_SKIP() << "no PostgreSQL cluster for this run (QUIRE_TEST_PG unset; scripts/test.sh starts one)";
    psql_ = psqlBinary();
    if (psql_.empty()) GTEST_SKIP() << "no psql binary below /usr/lib/postgresql";
    EngineTest::SetUp();
    std::string error;
    uri_ = pg_.make(error);
    ASSERT_FALSE(uri_.empty()) << error;
    addServer(dataDir_, kServer, uri_);
    tag_ = std::to_string(getpid());
    admin_ = "Ada Admin" + tag_ + "/Acme";
    rita_ = "CN=Rita Reader" + tag_ + "/O=Acme";
    ed_ = "CN=Ed Editor" + tag_ + "/O=Acme";
    club_ = "Club" + tag_;
    actAs(admin_.c_str());
    buildDirectory();
    buildSales();
    setUpServer();
    schema_ = query("postgres", "SELECT schema_name FROM quire.databases WHERE path = 'sales.nsf'").output;
    ASSERT_EQ(schema_.rfind("nsf_", 0), 0u) << schema_;
  }

  void TearDown() override {
    if (IsSkipped() || uri_.empty()) return;
    if (db_) HTDatabaseClose(db_, 0);
    EngineTest::TearDown();
    pg_.drop();
    std::string ignored;
    ScratchPostgres::run("DROP ROLE IF EXISTS \"" + role(rita_) + "\", \"" + role(ed_) + "\"", ignored);
  }

  static std::string role(const std::string& name) { return db::security::roleName(name); }

  HTDOCHANDLE document(HTDBHANDLE db, const std::string& form) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
    put(doc, "Form", form);
    return doc;
  }
  static void put(HTDOCHANDLE doc, const char* item, const std::string& value, HTINT type = HTTYPE_TEXT,
                  HTUINT flags = 0) {
    EXPECT_EQ(HTItemPut(doc, item, type, 0, HTTYPE_TEXT, value.c_str(), flags), HTSUCCESS) << item;
  }
  static HTID saved(HTDOCHANDLE doc) {
    EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS) << message(HTFAIL_ACCESS_DENIED);
    HTID id = 0;
    EXPECT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id), HTSUCCESS);
    HTDocumentClose(doc, 0);
    return id;
  }

  static void putReaders(HTDOCHANDLE doc, const std::vector<std::string>& names) {
    ASSERT_EQ(HTItemPut(doc, "DocReaders", HTTYPE_TEXT_LIST, 0, HTTYPE_TEXT, names[0].c_str(), kReaders), HTSUCCESS);
    for (size_t i = 1; i < names.size(); ++i)
      ASSERT_EQ(HTItemAppendTextList(doc, "DocReaders", names[i].c_str(), 0, 0), HTSUCCESS);
  }

  void addEntry(HTDBHANDLE db, const std::string& name, HTINT level) {
    HTACLENTRY e{};
    std::strncpy(e.name, name.c_str(), sizeof e.name - 1);
    e.level = level;
    ASSERT_EQ(HTACLAdd(db, &e), HTSUCCESS) << message(HTFAIL_NOT_MANAGER);
  }

  void setLevel(const std::string& name, HTINT level) {
    HTACLENTRY found{};
    ASSERT_EQ(HTACLLookup(db_, name.c_str(), &found), HTSUCCESS);
    HTACLENTRY change = found;
    change.level = level;
    ASSERT_EQ(HTACLUpdate(db_, &found, &change, HTACLUPDATE_LEVEL), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  }

  void buildDirectory() {
    ASSERT_EQ(HTDatabaseCreate(kServer, "names.nsf", "Directory", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
    HTDBHANDLE names = 0;
    ASSERT_EQ(HTDatabaseOpen(kServer, "names.nsf", 0, &names), HTSUCCESS);
    HTACLENTRY all{};
    std::strncpy(all.name, "-Default-", sizeof all.name - 1);
    HTACLENTRY reader = all;
    reader.level = HTACLLEVEL_READER;
    ASSERT_EQ(HTACLUpdate(names, &all, &reader, HTACLUPDATE_LEVEL), HTSUCCESS);
    for (const std::string& person : {rita_, ed_}) {
      HTDOCHANDLE doc = document(names, "Person");
      put(doc, "FullName", person);
      saved(doc);
    }
    HTDOCHANDLE group = document(names, "Group");
    put(group, "ListName", club_);
    put(group, "Members", "Rita Reader" + tag_ + "/Acme");
    saved(group);
    HTDatabaseClose(names, 0);
  }

  // Open to all, limited to Ed, limited to the club (Rita through the group).
  void buildSales() {
    ASSERT_EQ(HTDatabaseCreate(kServer, "sales.nsf", "Sales", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
    ASSERT_EQ(HTDatabaseOpen(kServer, "sales.nsf", 0, &db_), HTSUCCESS);
    addEntry(db_, rita_, HTACLLEVEL_READER);
    addEntry(db_, ed_, HTACLLEVEL_EDITOR);
    open_ = saved(document(db_, "Memo"));
    HTDOCHANDLE forEd = document(db_, "Memo");
    putReaders(forEd, {"Ed Editor" + tag_ + "/Acme", admin_});
    forEd_ = saved(forEd);
    HTDOCHANDLE forClub = document(db_, "Memo");
    put(forClub, "DocReaders", club_, HTTYPE_TEXT_LIST, kReaders);
    forClub_ = saved(forClub);
  }

  std::string report(HTUINT action) {
    std::vector<char> buffer(1 << 16);
    HTUINT needed = 0;
    const HTSTATUS s = HTQuireServerSecurity(kServer, action, HTUINT(buffer.size()), buffer.data(), &needed);
    EXPECT_EQ(s, HTSUCCESS) << message(s);
    EXPECT_EQ(needed, std::strlen(buffer.data()) + 1);
    return buffer.data();
  }

  void setUpServer() {
    const std::string json = report(HTQUIRE_SERVER_SETUP);
    EXPECT_NE(json.find("\"setUp\":true"), std::string::npos) << json;
    EXPECT_NE(json.find("\"role\":\"" + role(rita_) + "\""), std::string::npos) << json;
  }

  // Runs psql logged in as `login`, one -c per statement, on the scratch database with the
  // database's schema first on the search path.
  Outcome query(const std::string& login, const std::string& sql, bool inSchema = false) {
    std::vector<std::string> args{psql_, "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", uri_};
    if (inSchema) args.insert(args.end(), {"-c", "SET search_path TO " + schema_ + ", quire"});
    args.insert(args.end(), {"-c", sql});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"PGUSER=" + login};
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "PGUSER=", 7) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int fds[2];
    Outcome out;
    if (pipe(fds) != 0) return out;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, psql_.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.output.append(buf, size_t(n));
    close(fds[0]);
    if (spawned != 0) return out;
    int status = 0;
    waitpid(child, &status, 0);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!out.output.empty() && out.output.back() == '\n') out.output.pop_back();
    return out;
  }

  Outcome as(const std::string& person, const std::string& sql) { return query(role(person), sql, true); }

  // The documents `person` sees through psql, by note ID.
  std::string visible(const std::string& person) {
    return as(person, "SELECT string_agg(note_id::text, ',' ORDER BY note_id) FROM notes WHERE note_class = 1").output;
  }
  std::string ids(std::initializer_list<HTID> list) {
    std::string out;
    for (HTID id : list) out += (out.empty() ? "" : ",") + std::to_string(id);
    return out;
  }
  // How many rows an UPDATE of the note by `person` changed, or the refusal.
  Outcome touch(const std::string& person, HTID id) {
    return as(person, "WITH u AS (UPDATE notes SET form = form WHERE note_id = " + std::to_string(id) +
                          " RETURNING 1) SELECT count(*) FROM u");
  }

  static constexpr const char* kServer = "Acme";
  ScratchPostgres pg_;
  std::string psql_, uri_, tag_, admin_, rita_, ed_, club_, schema_;
  HTDBHANDLE db_ = 0;
  HTID open_ = 0, forEd_ = 0, forClub_ = 0;
};

TEST_F(ServerSecurityTest, ReaderUnderOwnRoleCannotWriteOrSeeExcludedDocumentsAndAnEditorCan) {
  EXPECT_EQ(visible(rita_), ids({open_, forClub_}));  // the club's through her group
  EXPECT_EQ(visible(ed_), ids({open_, forEd_}));

  const std::string insert =
      "INSERT INTO notes(note_id, unid, note_class) VALUES(900000, '\\x0102030405060708090a0b0c0d0e0f10', 1)";
  for (const std::string& refused :
       {insert, "UPDATE notes SET form = 'Forged' WHERE note_id = " + std::to_string(open_),
        "DELETE FROM notes WHERE note_id = " + std::to_string(open_),
        std::string("UPDATE acl_entries SET level = 6"), std::string("UPDATE acl_grants SET level = 6"),
        std::string("UPDATE quire_state SET schema_version = 99")}) {
    const Outcome o = as(rita_, refused);
    EXPECT_NE(o.status, 0) << refused;
    EXPECT_NE(o.output.find("permission denied"), std::string::npos) << refused << ": " << o.output;
  }

  EXPECT_EQ(touch(ed_, open_).output, "1");
  EXPECT_EQ(touch(ed_, forClub_).output, "0");  // what he cannot see he cannot change
  const Outcome forged = as(ed_, "UPDATE notes SET note_class = 4 WHERE note_id = " + std::to_string(open_));
  EXPECT_NE(forged.output.find("row-level security"), std::string::npos) << forged.output;  // design is a Designer's
  EXPECT_EQ(as(ed_, insert).status, 0) << as(ed_, "SELECT 1").output;

  // No role at all for someone the directory does not list.
  EXPECT_NE(query("nobody" + tag_, "SELECT 1").status, 0);

  const std::string json = report(HTQUIRE_SERVER_STATUS);
  EXPECT_NE(json.find("\"role\":\"" + role(rita_) + "\",\"level\":\"Reader\",\"notes\":\"select\""), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"role\":\"" + role(ed_) + "\",\"level\":\"Editor\",\"notes\":\"select insert update delete\""),
            std::string::npos)
      << json;
}

TEST_F(ServerSecurityTest, AclChangesReachPostgresAtOnce) {
  EXPECT_NE(touch(rita_, open_).status, 0);
  setLevel(rita_, HTACLLEVEL_EDITOR);
  EXPECT_EQ(touch(rita_, open_).output, "1");
  setLevel(rita_, HTACLLEVEL_READER);
  const Outcome again = touch(rita_, open_);
  EXPECT_NE(again.status, 0);
  EXPECT_NE(again.output.find("permission denied"), std::string::npos) << again.output;
  setLevel(rita_, HTACLLEVEL_NO_ACCESS);
  EXPECT_NE(as(rita_, "SELECT count(*) FROM notes").status, 0);
}

// The full-text table is made long after the ACL was applied; nobody should wait for the next
// ACL change to search it or to keep it up.
TEST_F(ServerSecurityTest, AFullTextIndexMadeAfterTheAclIsSearchableAtOnce) {
  ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 0, nullptr), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  EXPECT_EQ(as(rita_, "SELECT count(*) FROM ft_index").output, "3");
  const Outcome refused = as(rita_, "DELETE FROM ft_index");
  EXPECT_NE(refused.output.find("permission denied"), std::string::npos) << refused.output;
  EXPECT_EQ(as(ed_, "WITH d AS (DELETE FROM ft_index WHERE note_id = -1 RETURNING 1) SELECT count(*) FROM d").output, "0");
  EXPECT_NE(query("nobody" + tag_, "SELECT 1").status, 0);

  // Rebuilt, the table is made anew and must be granted anew.
  ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 1, nullptr), HTSUCCESS);
  HTDatabaseClose(db_, 0);
  db_ = 0;

  // Ed's own engine keeps the index up as he saves; Rita's finds what he wrote.
  const WithoutPgUser ownRoles;
  HTTerm(0);
  actAs(ed_.c_str());
  HTUINT state = 0;
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, &state), HTSUCCESS);
  HTDBHANDLE db = 0;
  ASSERT_EQ(HTDatabaseOpen(kServer, "sales.nsf", 0, &db), HTSUCCESS);
  HTDOCHANDLE fresh = document(db, "Memo");
  put(fresh, "Subject", "quarterly zebrafish");
  const HTID made = saved(fresh);
  HTDatabaseClose(db, 0);

  HTTerm(0);
  actAs(rita_.c_str());
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, &state), HTSUCCESS);
  ASSERT_EQ(HTDatabaseOpen(kServer, "sales.nsf", 0, &db), HTSUCCESS);
  HTINDEXHANDLE search = 0;
  ASSERT_EQ(HTIndexOpen(db, &search), HTSUCCESS);
  const HTSTATUS s = HTIndexFTSearch(search, "zebrafish", 0, HTFTSORT_SCORE_DESCEND, 20);
  EXPECT_EQ(s, HTSUCCESS) << message(s);
  EXPECT_EQ(HTIndexGetCount(search), 1u);
  HTID found = 0;
  HTUINT flags = 0;
  EXPECT_EQ(HTIndexNavigate(search, HTNAV_NEXT, 0, &found, &flags), HTSUCCESS);
  EXPECT_EQ(found, made);
  HTIndexClose(search);
  HTDatabaseClose(db, 0);
}

TEST_F(ServerSecurityTest, ReadersItemChangesShowAndHideTheDocument) {
  auto setReaders = [&](const std::vector<std::string>& names) {
    HTDOCHANDLE doc = 0;
    ASSERT_EQ(HTDocumentOpen(db_, forEd_, 0, &doc), HTSUCCESS) << message(HTFAIL_ACCESS_DENIED);
    putReaders(doc, names);
    saved(doc);
  };
  const std::string ed = "Ed Editor" + tag_ + "/Acme";
  setReaders({ed, admin_, "Rita Reader" + tag_ + "/Acme"});
  EXPECT_EQ(visible(rita_), ids({open_, forEd_, forClub_}));
  setReaders({ed, admin_});
  EXPECT_EQ(visible(rita_), ids({open_, forClub_}));
}

TEST_F(ServerSecurityTest, TheEngineLogsInAsTheSessionUsersRole) {
  HTDatabaseClose(db_, 0);
  db_ = 0;
  HTTerm(0);
  const WithoutPgUser ownRoles;
  actAs(rita_.c_str());
  HTUINT state = 0;
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, &state), HTSUCCESS);
  HTDBHANDLE db = 0;
  const HTSTATUS opened = HTDatabaseOpen(kServer, "sales.nsf", 0, &db);
  EXPECT_EQ(opened, HTSUCCESS) << message(opened);
  HTDOCHANDLE doc = 0;
  EXPECT_EQ(HTDocumentOpen(db, open_, 0, &doc), HTSUCCESS);
  HTDocumentClose(doc, 0);
  EXPECT_NE(HTDocumentOpen(db, forEd_, 0, &doc), HTSUCCESS);
  EXPECT_EQ(HTDocumentOpen(db, forClub_, 0, &doc), HTSUCCESS);
  HTDocumentClose(doc, 0);
  EXPECT_EQ(HTDocumentCreate(db, 0, &doc), HTFAIL_ACCESS_DENIED);
  HTDatabaseClose(db, 0);

  // An Editor's engine writes through the grants and policies: new documents, changes.
  HTTerm(0);
  actAs(ed_.c_str());
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, &state), HTSUCCESS);
  ASSERT_EQ(HTDatabaseOpen(kServer, "sales.nsf", 0, &db), HTSUCCESS) << message(HTFAIL_SERVER_NOT_FOUND);
  HTDOCHANDLE fresh = document(db, "Memo");
  put(fresh, "Subject", "written as Ed");
  const HTID made = saved(fresh);
  ASSERT_EQ(HTDocumentOpen(db, open_, 0, &doc), HTSUCCESS);
  put(doc, "Subject", "changed by Ed");
  saved(doc);
  EXPECT_EQ(HTDocumentDelete(db, forEd_, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  HTDatabaseClose(db, 0);
  EXPECT_EQ(visible(rita_), ids({open_, forClub_, made}));
}

}  // namespace
}  // namespace quire::engine::test
