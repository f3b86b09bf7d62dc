// Database files through the C API: create, open, properties, listing, deletion, hostile
// paths, foreign files, newer schemas, named servers and design lists.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "EngineFixture.h"
#include "engine/db/Database.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;
using DatabaseTest = EngineTest;

std::string title(HTDBHANDLE db) {
  char t[HT_TITLE_CAPACITY] = {};
  EXPECT_EQ(HTDatabaseGetProperty(db, HTDATABASE_TITLE, t), HTSUCCESS);
  return t;
}

TEST_F(DatabaseTest, CreateOpenAndReadProperties) {
  HTDBHANDLE db = createAndOpen("mail\\ann.nsf", "Ann's Mail");
  ASSERT_NE(db, 0u);
  EXPECT_TRUE(fs::exists(dataDir_ / "mail" / "ann.nsf"));
  EXPECT_EQ(title(db), "Ann's Mail");
  char path[HT_PATH_CAPACITY];
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_FILEPATH, path), HTSUCCESS);
  EXPECT_STREQ(path, "mail\\ann.nsf");
  char server[HT_SERVER_NAME_CAPACITY] = "x";
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_SERVER_NAME, server), HTSUCCESS);
  EXPECT_STREQ(server, "");
  HTUINT used = 0, freeSpace = 1;
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_SPACE_USED, &used), HTSUCCESS);
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_SPACE_FREE, &freeSpace), HTSUCCESS);
  EXPECT_GT(used, 0u);
  HTREPLICAID rid{};
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_REPLICAID, &rid), HTSUCCESS);
  EXPECT_TRUE(rid.words[0] != 0 || rid.words[1] != 0);
  HTDATETIME created{}, now{};
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_CREATED, &created), HTSUCCESS);
  HTDatetimeGetCurrent(&now);
  HTINT days = -1;
  ASSERT_EQ(HTDatetimeGetDiff(&now, &created, HTDTUNIT_DAY, &days), HTSUCCESS);
  EXPECT_EQ(days, 0);
  HTUINT ft = 9;
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_IS_FTINDEXED, &ft), HTSUCCESS);
  EXPECT_EQ(ft, 0u);
  HTUINT cls = 0;
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_CLASS, &cls), HTSUCCESS);
  EXPECT_EQ(cls, uint32_t(HTDBCLASS_DATABASE));
  EXPECT_EQ(HTDatabaseGetProperty(db, 999, &cls), HTFAIL_UNKNOWN_PROPERTY);
  EXPECT_EQ(HTDatabaseClose(db, 0), HTSUCCESS);
  EXPECT_EQ(HTDatabaseClose(db, 0), HTFAIL_INVALID_HANDLE);
}

TEST_F(DatabaseTest, TwoDatabasesHaveDifferentReplicaIds) {
  HTDBHANDLE a = createAndOpen("a.nsf"), b = createAndOpen("b.nsf");
  HTREPLICAID ra{}, rb{};
  HTDatabaseGetProperty(a, HTDATABASE_REPLICAID, &ra);
  HTDatabaseGetProperty(b, HTDATABASE_REPLICAID, &rb);
  EXPECT_FALSE(ra.words[0] == rb.words[0] && ra.words[1] == rb.words[1]);
  char path[HT_PATH_CAPACITY];
  ASSERT_EQ(HTDatabaseLocateByReplicaid("", &rb, path), HTSUCCESS);
  EXPECT_STREQ(path, "b.nsf");
}

TEST_F(DatabaseTest, SettablePropertiesRoundTripAndPersist) {
  HTDBHANDLE db = createAndOpen("props.nsf", "Before");
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "After"), HTSUCCESS);
  std::string longTitle(128, 't');
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, longTitle.c_str()), HTFAIL_TEXT_TOO_LONG);
  std::string maxTitle(127, 't');
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, maxTitle.c_str()), HTSUCCESS);
  EXPECT_EQ(title(db), maxTitle);
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "After"), HTSUCCESS);
  HTUINT priority = HTREPLPRIORITY_HIGH;
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_REPLICA_PRIORITY, &priority), HTSUCCESS);
  priority = 3;
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_REPLICA_PRIORITY, &priority), HTFAIL_INVALID_ARGUMENT);
  HTUINT on = 1;
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &on), HTSUCCESS);
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DOCOPEN_DESIGN, &on), HTSUCCESS);
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_IS_FTINDEXED, &on), HTFAIL_UNKNOWN_PROPERTY);
  HTUINT value = 0;
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_DELAY_COMMIT, &value), HTSUCCESS);
  EXPECT_EQ(value, 1u);
  HTDatabaseClose(db, 0);

  ASSERT_EQ(HTDatabaseOpen(nullptr, "props.nsf", 0, &db), HTSUCCESS);
  EXPECT_EQ(title(db), "After");
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_REPLICA_PRIORITY, &value), HTSUCCESS);
  EXPECT_EQ(value, uint32_t(HTREPLPRIORITY_HIGH));
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_DOCOPEN_DESIGN, &value), HTSUCCESS);
  EXPECT_EQ(value, 1u);
  char located[HT_PATH_CAPACITY];
  ASSERT_EQ(HTDatabaseLocateByTitle("Local", "after", located), HTSUCCESS);
  EXPECT_STREQ(located, "props.nsf");
  EXPECT_EQ(HTDatabaseLocateByTitle("", "nothing like it", located), HTFAIL_DB_NOT_FOUND);
}

TEST_F(DatabaseTest, ReopenSharesTheDatabaseAndOutlivesTheFirstHandle) {
  HTDBHANDLE db = createAndOpen("shared.nsf", "One");
  HTDBHANDLE second = 0;
  ASSERT_EQ(HTDatabaseReopen(db, 0, &second), HTSUCCESS);
  EXPECT_NE(second, db);
  HTUINT n1 = 0, n2 = 0;
  HTDatabaseGetNotesHandle(db, 0, &n1);
  HTDatabaseGetNotesHandle(second, 0, &n2);
  EXPECT_EQ(n1, n2);
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "Two"), HTSUCCESS);
  ASSERT_EQ(HTDatabaseClose(db, 0), HTSUCCESS);
  EXPECT_EQ(title(second), "Two");
  EXPECT_EQ(HTDatabaseReopen(db, 0, &second), HTFAIL_INVALID_HANDLE);
}

TEST_F(DatabaseTest, CreateAndOpenFailures) {
  HTDBHANDLE db = 0;
  EXPECT_EQ(HTDatabaseOpen("", "none.nsf", 0, &db), HTFAIL_DB_NOT_FOUND);
  EXPECT_EQ(db, 0u);
  EXPECT_EQ(HTDatabaseOpen("", "x.nsf", 0, nullptr), HTFAIL_INVALID_ARGUMENT);
  ASSERT_EQ(HTDatabaseCreate("", "dup.nsf", "A", nullptr, 0), HTSUCCESS);
  EXPECT_EQ(HTDatabaseCreate("", "DUP.nsf", "B", nullptr, 0), HTFAIL_DB_EXISTS);
  EXPECT_EQ(HTDatabaseCreate("", "", "B", nullptr, 0), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTDatabaseCreate("Nowhere", "a.nsf", "B", nullptr, 0), HTFAIL_SERVER_NOT_FOUND);
  EXPECT_EQ(HTDatabaseOpen("Nowhere", "dup.nsf", 0, &db), HTFAIL_SERVER_NOT_FOUND);
  // Directory names may come upper-cased from a caller; the file is still found.
  ASSERT_EQ(HTDatabaseCreate("", "mail\\abc.nsf", "M", nullptr, 0), HTSUCCESS);
  ASSERT_EQ(HTDatabaseOpen("", "MAIL\\abc.nsf", 0, &db), HTSUCCESS);
}

// The data directory may sit in a folder others can enter: the files must not rely on it.
TEST_F(DatabaseTest, DatabaseFilesAndTheirLogsAreOwnerOnly) {
  const mode_t previous = ::umask(022);
  HTDBHANDLE db = createAndOpen("mail\\private.nsf");
  ::umask(previous);
  ASSERT_NE(db, 0u);
  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
  ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
  HTDocumentClose(doc, 0);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const fs::path file = dataDir_ / "mail" / (std::string("private.nsf") + suffix);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
}

TEST_F(DatabaseTest, HostilePathsAreRefused) {
  fs::create_directories(dataDir_ / "sub");
  fs::create_symlink("/etc", dataDir_ / "sub" / "escape");
  HTDBHANDLE db = 0;
  for (const char* path : {"..\\..\\etc\\passwd", "../outside.nsf", "mail\\..\\..\\x.nsf", "/etc/passwd",
                           "\\etc\\passwd", "C:\\notes\\data\\a.nsf", "sub\\escape\\passwd", "sub/escape/new.nsf"}) {
    EXPECT_EQ(HTDatabaseOpen("", path, 0, &db), HTFAIL_PATH_OUTSIDE) << path;
    EXPECT_EQ(HTDatabaseCreate("", path, "x", nullptr, 0), HTFAIL_PATH_OUTSIDE) << path;
    EXPECT_EQ(HTDatabaseDelete("", path), HTFAIL_PATH_OUTSIDE) << path;
  }
  EXPECT_NE(message(HTFAIL_PATH_OUTSIDE).find("outside"), std::string::npos);
  EXPECT_FALSE(fs::exists("/etc/new.nsf"));
  // Inside the root, "." and ".." that stay inside are fine, and so is an absolute path there.
  ASSERT_EQ(HTDatabaseCreate("", "sub\\..\\.\\ok.nsf", "ok", nullptr, 0), HTSUCCESS);
  EXPECT_TRUE(fs::exists(dataDir_ / "ok.nsf"));
  EXPECT_EQ(HTDatabaseOpen("", (dataDir_ / "ok.nsf").c_str(), 0, &db), HTSUCCESS);
}

TEST_F(DatabaseTest, ForeignFilesAndNewerSchemasAreRefusedCleanly) {
  { std::ofstream(dataDir_ / "text.nsf") << "this is not a database at all, just some text\n"; }
  { std::ofstream(dataDir_ / "empty.nsf"); }
  HTDBHANDLE db = 0;
  EXPECT_EQ(HTDatabaseOpen("", "text.nsf", 0, &db), HTFAIL_NOT_A_DATABASE);
  EXPECT_EQ(HTDatabaseOpen("", "empty.nsf", 0, &db), HTFAIL_NOT_A_DATABASE);
  EXPECT_EQ(HTDatabaseDelete("", "text.nsf"), HTFAIL_NOT_A_DATABASE);
  // The foreign file is untouched.
  std::ifstream in(dataDir_ / "text.nsf");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "this is not a database at all, just some text");

  ASSERT_EQ(HTDatabaseCreate("", "future.nsf", "F", nullptr, 0), HTSUCCESS);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dataDir_ / "future.nsf").c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "PRAGMA user_version = 999", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  EXPECT_EQ(HTDatabaseOpen("", "future.nsf", 0, &db), HTFAIL_SCHEMA_TOO_NEW);
  EXPECT_NE(message(HTFAIL_SCHEMA_TOO_NEW).find("999"), std::string::npos);
}

TEST_F(DatabaseTest, DeleteRefusesWhileOpen) {
  HTDBHANDLE db = createAndOpen("gone.nsf");
  EXPECT_EQ(HTDatabaseDelete("", "gone.nsf"), HTFAIL_DB_IN_USE);
  HTDatabaseClose(db, 0);
  EXPECT_EQ(HTDatabaseDelete("", "gone.nsf"), HTSUCCESS);
  EXPECT_FALSE(fs::exists(dataDir_ / "gone.nsf"));
  EXPECT_EQ(HTDatabaseDelete("", "gone.nsf"), HTFAIL_DB_NOT_FOUND);
}

struct Listed {
  HTUINT isDatabase;
  std::string title, file;
};

std::vector<Listed> listAll(const char* server, const char* dir, HTINT cls = HTDBLIST_DATABASE) {
  std::vector<Listed> out;
  HTUINT isDb = 9;
  char t[HT_TITLE_CAPACITY], f[HT_PATH_CAPACITY];
  for (HTINT mode = HTLIST_FIRST; HTDatabaseList(server, dir, cls, 0x8000, mode, &isDb, t, f) == HTSUCCESS;
       mode = HTLIST_NEXT)
    out.push_back({isDb, t, f});
  return out;
}

TEST_F(DatabaseTest, ListsDirectoriesAndDatabases) {
  ASSERT_EQ(HTDatabaseCreate("", "zeta.nsf", "Zeta", nullptr, 0), HTSUCCESS);
  ASSERT_EQ(HTDatabaseCreate("", "alpha.nsf", "Alpha", nullptr, 0), HTSUCCESS);
  ASSERT_EQ(HTDatabaseCreate("", "mail\\abc.nsf", "ABC Mail", nullptr, 0), HTSUCCESS);
  ASSERT_EQ(HTDatabaseCreate("", "templ.ntf", "Template", nullptr, 0), HTSUCCESS);
  { std::ofstream(dataDir_ / "junk.nsf") << "no database"; }
  auto top = listAll("", "");
  ASSERT_EQ(top.size(), 3u);
  EXPECT_EQ(top[0].isDatabase, 0u);
  EXPECT_EQ(top[0].file, "mail");
  EXPECT_EQ(top[1].file, "alpha.nsf");
  EXPECT_EQ(top[1].title, "Alpha");
  EXPECT_EQ(top[1].isDatabase, 1u);
  EXPECT_EQ(top[2].file, "zeta.nsf");
  auto mail = listAll("Local", "MAIL\\");
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_EQ(mail[0].file, "..");
  EXPECT_EQ(mail[1].file, "abc.nsf");
  EXPECT_EQ(mail[1].title, "ABC Mail");
  EXPECT_EQ(listAll("", "MAIL\\..").size(), top.size());
  auto templates = listAll("", "", HTDBLIST_TEMPLATE);
  ASSERT_EQ(templates.size(), 2u);
  EXPECT_EQ(templates[1].file, "templ.ntf");
  HTUINT isDb;
  char t[HT_TITLE_CAPACITY], f[HT_PATH_CAPACITY];
  EXPECT_EQ(HTDatabaseList("", "..", HTDBLIST_DATABASE, 0, HTLIST_FIRST, &isDb, t, f), HTFAIL_PATH_OUTSIDE);
  EXPECT_EQ(HTDatabaseList("", "nodir", HTDBLIST_DATABASE, 0, HTLIST_FIRST, &isDb, t, f), HTFAIL_DB_NOT_FOUND);
}

TEST_F(DatabaseTest, NamedServersMapToTheirDirectories) {
  fs::path other = dataDir_.parent_path() / (dataDir_.filename().string() + "-srv");
  fs::create_directories(other);
  {
    std::ofstream ini(dataDir_ / "quire.ini", std::ios::app);
    ini << "\n[Servers]\nHub/Acme=" << other.string() << "\n";
  }
  std::vector<std::string> servers;
  char name[HT_SERVER_NAME_CAPACITY];
  for (HTINT mode = HTLIST_FIRST; HTServerList(mode, name) == HTSUCCESS; mode = HTLIST_NEXT) servers.push_back(name);
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0], "Local");
  EXPECT_EQ(servers[1], "Hub/Acme");
  HTUINT available = 9;
  ASSERT_EQ(HTServerGetProperty("hub/acme", HTSERVER_IS_AVAILABLE, &available), HTSUCCESS);
  EXPECT_EQ(available, 1u);
  ASSERT_EQ(HTServerGetProperty("Elsewhere", HTSERVER_IS_AVAILABLE, &available), HTSUCCESS);
  EXPECT_EQ(available, 0u);
  char reply[HT_PORT_REPLY_CAPACITY];
  ASSERT_EQ(HTServerSetPort("Hub/Acme", "TCPIP", reply), HTSUCCESS);
  EXPECT_STREQ(reply, "Port TCPIP enabled for Hub/Acme");
  EXPECT_EQ(HTServerSetPort("Elsewhere", "TCPIP", reply), HTFAIL_SERVER_NOT_FOUND);

  HTDBHANDLE db = createAndOpen("hub.nsf", "On the hub", "Hub/Acme");
  EXPECT_TRUE(fs::exists(other / "hub.nsf"));
  char server[HT_SERVER_NAME_CAPACITY];
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_SERVER_NAME, server), HTSUCCESS);
  EXPECT_STREQ(server, "Hub/Acme");
  HTDBHANDLE local = 0;
  EXPECT_EQ(HTDatabaseOpen("", "hub.nsf", 0, &local), HTFAIL_DB_NOT_FOUND);
  fs::remove_all(other);
}

TEST_F(DatabaseTest, DesignListsFindNotesOfTheirClass) {
  HTDBHANDLE h = createAndOpen("design.nsf");
  HTLISTREC rec{};
  EXPECT_EQ(HTViewList(h, HTLIST_FIRST, &rec), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTFolderLocateByName(h, "Inbox"), 0u);
  {
    std::shared_ptr<db::DbHandle> handle;
    ASSERT_EQ(db::lookup(h, handle), HTSUCCESS);
    auto& database = *handle->database();
    auto lock = database.lock();
    store::Transaction tx(database.conn());
    auto add = [&](uint32_t cls, const char* name, const char* alias, uint32_t flags = 0, const char* owner = "") {
      store::NoteHeader n;
      n.noteClass = cls;
      n.designName = name;
      n.designAlias = alias;
      n.designFlags = flags;
      n.owner = owner;
      return store::insertNote(database.conn(), n);
    };
    add(store::note_class::kView, "By Date", "date|bydate");
    add(store::note_class::kView, "All", "");
    add(store::note_class::kFolder, "Inbox", "($Inbox)");
    add(store::note_class::kFolder, "Secret", "", store::kDesignFlagPrivate, "Somebody Else");
    add(store::note_class::kAgent, "Archive", "");
    add(store::note_class::kForm, "Memo", "Mail");
    tx.commit();
  }
  std::vector<std::string> views;
  for (HTINT mode = HTLIST_FIRST; HTViewList(h, mode, &rec) == HTSUCCESS; mode = HTLIST_NEXT) {
    views.push_back(std::string(rec.name) + "/" + rec.secondName);
    EXPECT_EQ(rec.noteClass, store::note_class::kView);
  }
  EXPECT_EQ(views, (std::vector<std::string>{"All/", "By Date/date"}));
  ASSERT_EQ(HTFolderList(h, HTLIST_FIRST, &rec), HTSUCCESS);
  EXPECT_STREQ(rec.name, "Inbox");
  EXPECT_EQ(HTFolderList(h, HTLIST_NEXT, &rec), HTFAIL_END_OF_LIST);  // another user's private folder
  HTID inbox = HTFolderLocateByName(h, "($inbox)");
  EXPECT_NE(inbox, 0u);
  EXPECT_EQ(HTFolderLocateByName(h, "Secret"), 0u);
  EXPECT_NE(HTAgentLocateByName(h, "ARCHIVE"), 0u);
  EXPECT_NE(HTFormLocateByName(h, "mail"), 0u);
  EXPECT_EQ(HTFormLocateByName(h, "By Date"), 0u);
  ASSERT_EQ(HTAgentList(h, HTLIST_FIRST, &rec), HTSUCCESS);
  EXPECT_STREQ(rec.name, "Archive");
  ASSERT_EQ(HTFolderDelete(h, inbox), HTSUCCESS);
  EXPECT_EQ(HTFolderLocateByName(h, "Inbox"), 0u);
  EXPECT_EQ(HTFolderDelete(h, inbox), HTFAIL_NOTE_NOT_FOUND);
  EXPECT_EQ(HTFolderDelete(h, HTAgentLocateByName(h, "Archive")), HTFAIL_NOTE_NOT_FOUND);
}

}  // namespace
}  // namespace quire::engine::test
