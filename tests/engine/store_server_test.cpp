// Databases on a server, on either storage backend: what a directory of SQLite files and a
// PostgreSQL server must both do the same way (create, list, delete, documents with their
// attachments, the conflict check), and what only a PostgreSQL server has to get right.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef QUIRE_TEST_POSTGRES
#include <libpq-fe.h>
#endif

#include "EngineFixture.h"
#include "engine/core/Status.h"
#include "engine/store/AclStore.h"
#include "engine/store/Locator.h"
#include "engine/store/NoteStore.h"
#include "engine/store/PgStorage.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"
#ifdef QUIRE_TEST_POSTGRES
#include "engine/store/LibPq.h"
#endif

namespace quire::engine::test {
namespace {

class ServerStoreTest : public BackendTest {
 protected:
  std::vector<std::string> list(const char* dir, HTINT cls = HTDBLIST_DATABASE) {
    std::vector<std::string> out;
    HTUINT isDb = 0;
    char t[HT_TITLE_CAPACITY], f[HT_PATH_CAPACITY];
    for (HTINT mode = HTLIST_FIRST; HTDatabaseList(server(), dir, cls, 0x8000, mode, &isDb, t, f) == HTSUCCESS;
         mode = HTLIST_NEXT)
      out.push_back(std::string(f) + "|" + t);
    return out;
  }

  HTID saveDoc(HTDBHANDLE db, const char* subject) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
    EXPECT_EQ(HTItemPut(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, subject, 0), HTSUCCESS);
    EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
    HTID id = 0;
    HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id);
    HTDocumentClose(doc, 0);
    return id;
  }

  std::string subject(HTDBHANDLE db, HTID id) {
    HTDOCHANDLE doc = 0;
    if (HTDocumentOpen(db, id, 0, &doc) != HTSUCCESS) return "<not open>";
    char buf[256] = {};
    HTUINT room = sizeof buf;
    HTINT type = 0, want = HTTYPE_TEXT;
    const HTSTATUS s = HTItemFetch(doc, "Subject", &type, &room, &want, buf);
    HTDocumentClose(doc, 0);
    return s == HTSUCCESS ? std::string(buf, room) : "<no subject>";
  }
};

TEST_P(ServerStoreTest, DatabasesAreCreatedListedAndDeleted) {
  ASSERT_EQ(HTDatabaseCreate(server(), "zeta.nsf", "Zeta", nullptr, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  ASSERT_EQ(HTDatabaseCreate(server(), "alpha.nsf", "Alpha", nullptr, 0), HTSUCCESS);
  ASSERT_EQ(HTDatabaseCreate(server(), "mail\\abc.nsf", "ABC Mail", nullptr, 0), HTSUCCESS);
  EXPECT_EQ(HTDatabaseCreate(server(), "ALPHA.nsf", "Again", nullptr, 0), HTFAIL_DB_EXISTS);
  EXPECT_EQ(list(""), (std::vector<std::string>{"mail|mail", "alpha.nsf|Alpha", "zeta.nsf|Zeta"}));
  EXPECT_EQ(list("MAIL"), (std::vector<std::string>{"..|..", "abc.nsf|ABC Mail"}));

  HTDBHANDLE db = 0;
  ASSERT_EQ(HTDatabaseOpen(server(), "Mail\\ABC.nsf", 0, &db), HTSUCCESS);
  EXPECT_EQ(HTDatabaseDelete(server(), "mail\\abc.nsf"), HTFAIL_DB_IN_USE);
  HTDatabaseClose(db, 0);
  EXPECT_EQ(HTDatabaseDelete(server(), "mail\\abc.nsf"), HTSUCCESS);
  EXPECT_EQ(HTDatabaseOpen(server(), "mail\\abc.nsf", 0, &db), HTFAIL_DB_NOT_FOUND);
  EXPECT_EQ(HTDatabaseDelete(server(), "mail\\abc.nsf"), HTFAIL_DB_NOT_FOUND);
  EXPECT_EQ(HTDatabaseCreate(server(), "..\\outside.nsf", "Out", nullptr, 0), HTFAIL_PATH_OUTSIDE);
}

TEST_P(ServerStoreTest, DocumentsItemsAndAttachmentsRoundTrip) {
  HTDBHANDLE db = createAndOpen("docs.nsf", "Docs", server());
  const HTID a = saveDoc(db, "first");
  const HTID b = saveDoc(db, "second, with 'quotes' and \\ backslashes");
  EXPECT_NE(a, b);
  EXPECT_EQ(subject(db, a), "first");
  EXPECT_EQ(subject(db, b), "second, with 'quotes' and \\ backslashes");

  // Every byte value survives, including the zero bytes text columns cannot hold.
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += char(i % 256);
  const std::string file = (dataDir_ / "payload.bin").string();
  std::ofstream(file, std::ios::binary) << bytes;
  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTDocumentOpen(db, a, 0, &doc), HTSUCCESS);
  ASSERT_EQ(HTAttachmentAttach(doc, file.c_str(), "payload.bin", 0, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  HTDocumentClose(doc, 0);
  ASSERT_EQ(HTDocumentOpen(db, a, 0, &doc), HTSUCCESS);
  const std::string out = (dataDir_ / "out.bin").string();
  ASSERT_EQ(HTAttachmentExtract(doc, "payload.bin", out.c_str()), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  HTDocumentClose(doc, 0);
  std::ifstream in(out, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);

  EXPECT_EQ(HTDocumentDelete(db, b, 0), HTSUCCESS);
  EXPECT_EQ(HTDocumentOpen(db, b, 0, &doc), HTFAIL_NOTE_DELETED);
  HTDatabaseClose(db, 0);
}

// Two handles stand for two clients: the later save of a document both opened is refused.
TEST_P(ServerStoreTest, TheSecondOfTwoConcurrentSavesIsAConflict) {
  HTDBHANDLE db = createAndOpen("race.nsf", "Race", server());
  const HTID id = saveDoc(db, "original");
  HTDBHANDLE other = 0;
  ASSERT_EQ(HTDatabaseOpen(server(), "race.nsf", 0, &other), HTSUCCESS);
  HTDOCHANDLE mine = 0, theirs = 0;
  ASSERT_EQ(HTDocumentOpen(db, id, 0, &mine), HTSUCCESS);
  ASSERT_EQ(HTDocumentOpen(other, id, 0, &theirs), HTSUCCESS);
  HTItemPut(theirs, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, "theirs", 0);
  ASSERT_EQ(HTDocumentSave(theirs, 0), HTSUCCESS);
  HTItemPut(mine, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, "mine", 0);
  EXPECT_EQ(HTDocumentSave(mine, 0), HTFAIL_CONFLICT);
  HTDocumentClose(mine, 0);
  HTDocumentClose(theirs, 0);
  EXPECT_EQ(subject(db, id), "theirs");
  HTDatabaseClose(other, 0);
  HTDatabaseClose(db, 0);
}

// Separate processes (separate connections) writing one database: every save either lands or
// is refused as a conflict, and the counter each one raised ends at the number of successes.
TEST_P(ServerStoreTest, WritersInSeveralProcessesLoseNoUpdate) {
  HTDBHANDLE db = createAndOpen("counter.nsf", "Counter", server());
  const HTID id = saveDoc(db, "0");
  HTDatabaseClose(db, 0);
  HTTerm(0);
  constexpr int kProcesses = 3, kRounds = 15;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      HTUINT state = 0;
      if (_HTInit(HTVERSION_LIBRARY, 0, 0, &state) != HTSUCCESS) _exit(100);
      HTDBHANDLE mine = 0;
      if (HTDatabaseOpen(server(), "counter.nsf", 0, &mine) != HTSUCCESS) _exit(101);
      int landed = 0;
      for (int r = 0; r < kRounds; ++r) {
        HTDOCHANDLE doc = 0;
        if (HTDocumentOpen(mine, id, 0, &doc) != HTSUCCESS) _exit(102);
        const int value = std::stoi(subject(mine, id));
        HTItemPut(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, std::to_string(value + 1).c_str(), 0);
        const HTSTATUS s = HTDocumentSave(doc, 0);
        HTDocumentClose(doc, 0);
        if (s == HTSUCCESS) ++landed;
        else if (s != HTFAIL_CONFLICT) _exit(103);
      }
      HTDatabaseClose(mine, 0);
      HTTerm(0);
      _exit(landed);
    }
    children.push_back(pid);
  }
  int total = 0;
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_LE(WEXITSTATUS(status), kRounds) << "child failed with " << WEXITSTATUS(status);
    total += WEXITSTATUS(status);
  }
  HTUINT state = 0;
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, &state), HTSUCCESS);
  ASSERT_EQ(HTDatabaseOpen(server(), "counter.nsf", 0, &db), HTSUCCESS);
  EXPECT_GT(total, 0);
  EXPECT_EQ(subject(db, id), std::to_string(total));
  HTDatabaseClose(db, 0);
}

// A write trusts what it read in earlier writes only as far as the database says nothing
// changed: the properties, and the ACL kept per generation, another connection committed
// are what the next write reads -- a large value, and a name never set, included -- and an
// ACL change rolled back is not served once another connection's change takes its generation.
TEST_P(ServerStoreTest, AWriteReadsWhatAnotherConnectionCommittedSinceItsLastWrite) {
  HTDatabaseClose(createAndOpen("seen.nsf", "Seen", server()), 0);
  auto a = store::open(locate("seen.nsf", server()), {});
  auto b = store::open(locate("seen.nsf", server()), {});
  auto inWrite = [](store::Connection& conn, const auto& body) {
    store::Transaction tx(conn, store::Commit::Now);
    body();
    tx.commit();
  };
  auto names = [](store::Connection& conn) {
    std::vector<std::string> out;
    for (const store::acl::Entry& e : store::acl::list(conn)) out.push_back(e.name);
    return out;
  };
  auto has = [](const std::vector<std::string>& list, const char* name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  const std::string large(5000, 'x');

  inWrite(*b, [&] {
    EXPECT_EQ(store::prop::getInt(*b, "test_value", -1), -1);
    EXPECT_FALSE(has(names(*b), "Editor Of A"));
  });
  inWrite(*a, [&] {
    store::prop::set(*a, "test_value", int64_t(7));
    store::prop::set(*a, "test_text", large);
    store::acl::insert(*a, {"Editor Of A", HTACLLEVEL_EDITOR, 0, {}});
  });
  inWrite(*b, [&] {
    EXPECT_EQ(store::prop::getInt(*b, "test_value", -1), 7);
    EXPECT_EQ(store::prop::getText(*b, "test_text").value_or(""), large);
    EXPECT_FALSE(store::prop::getInt(*b, "never_set").has_value());
    EXPECT_TRUE(has(names(*b), "Editor Of A"));
  });

  {
    store::Transaction undone(*b, store::Commit::Now);
    store::acl::insert(*b, {"Rolled Back", HTACLLEVEL_READER, 0, {}});
    EXPECT_TRUE(has(names(*b), "Rolled Back"));
  }
  inWrite(*a, [&] { store::acl::insert(*a, {"Added After", HTACLLEVEL_READER, 0, {}}); });
  inWrite(*b, [&] {
    const std::vector<std::string> now = names(*b);
    EXPECT_FALSE(has(now, "Rolled Back"));
    EXPECT_TRUE(has(now, "Added After"));
  });
}

// A note a write inserts is there for the write's own later reads (as a view update or a
// full-text row needs it), with the ID it was given; IDs are never shared between
// connections; change numbers follow the order of the commits; a write rolled back leaves
// no note behind.
TEST_P(ServerStoreTest, NotesInsertedInAWriteAreReadInItAndKeepTheirIdsAndChangeOrder) {
  HTDatabaseClose(createAndOpen("ids.nsf", "Ids", server()), 0);
  auto a = store::open(locate("ids.nsf", server()), {});
  auto b = store::open(locate("ids.nsf", server()), {});
  auto insert = [](store::Connection& conn, const char* subject) {
    store::NoteHeader h;
    h.form = "Memo";
    const std::vector<store::StoredItem> items{{"Subject", HTTYPE_TEXT, 0, store::Blob(subject, subject + std::strlen(subject))}};
    store::insertNote(conn, h, &items);
    return h;
  };
  std::set<HTID> ids;
  std::vector<store::NoteHeader> kept;
  for (int k = 0; k < 6; ++k) {
    store::Connection& conn = k % 2 ? *a : *b;
    store::Transaction tx(conn, store::Commit::Now);
    const std::string subject = "note " + std::to_string(k);
    std::vector<store::NoteHeader> made{insert(conn, subject.c_str())};
    if (k == 3) made.push_back(insert(conn, "second in one write"));
    for (const store::NoteHeader& h : made) {
      const auto read = store::readNote(conn, h.id);
      ASSERT_TRUE(read) << "a write did not find the note it had just inserted";
      EXPECT_EQ(read->changeSeq, h.changeSeq);
      EXPECT_EQ(store::unidBlob(read->unid), store::unidBlob(h.unid));
      EXPECT_EQ(store::readItems(conn, h.id).size(), 1u);
      EXPECT_TRUE(ids.insert(h.id).second) << "note ID " << h.id << " was handed out twice";
      kept.push_back(h);
    }
    tx.commit();
  }
  for (size_t k = 1; k < kept.size(); ++k) EXPECT_GT(kept[k].changeSeq, kept[k - 1].changeSeq);

  HTID undone = 0;
  {
    store::Transaction tx(*a, store::Commit::Now);
    undone = insert(*a, "rolled back").id;
  }
  EXPECT_FALSE(store::readNote(*b, undone)) << "a rolled-back insert left its note";
  EXPECT_FALSE(store::readNote(*a, undone));
  for (const store::NoteHeader& h : kept) {
    const auto other = store::readNote(*a, h.id);
    ASSERT_TRUE(other) << "note " << h.id << " is missing after its commit";
    EXPECT_EQ(other->changeSeq, h.changeSeq);
  }
  const auto changed = store::changedSince(*b, 0);
  EXPECT_EQ(changed.size(), kept.size());
}

QUIRE_BOTH_BACKENDS(ServerStoreTest);

#ifdef QUIRE_TEST_POSTGRES
class PostgresWriterTest : public ServerStoreTest {
 protected:
  // A client outside the engine, as psql would be.
  struct Outside {
    explicit Outside(const std::string& uri) : conn(PQconnectdb(uri.c_str())) {}
    ~Outside() { PQfinish(conn); }
    std::string run(const std::string& sql) {
      PGresult* r = PQexec(conn, sql.c_str());
      const ExecStatusType s = PQresultStatus(r);
      std::string out = s == PGRES_TUPLES_OK && PQntuples(r) ? PQgetvalue(r, 0, 0) : "";
      if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) out = "error: " + std::string(PQerrorMessage(conn));
      PQclear(r);
      return out;
    }
    PGconn* conn;
  };

  // Saves `doc` on a thread until PostgreSQL shows the save waiting for a row `outside` holds,
  // then has `outside` ask for the writer turn the save holds, which closes a deadlock; answers
  // the save's status. Should the save never wait, `outside` lets go of the row instead, so the
  // save ends and the test fails rather than hangs.
  static HTSTATUS saveIntoDeadlock(HTDOCHANDLE doc, Outside& outside, Outside& watcher, const std::string& schema) {
    HTSTATUS saved = HTSUCCESS;
    std::thread save([&] { saved = HTDocumentSave(doc, 0); });
    std::string waiting = "0";
    for (int k = 0; k < 1000 && waiting == "0"; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      waiting = watcher.run("SELECT count(*)::text FROM pg_locks WHERE NOT granted AND locktype <> 'advisory'");
    }
    EXPECT_NE(waiting, "0") << "the engine's save never waited for the row";
    if (waiting == "0") {
      outside.run("ROLLBACK");
    } else {
      EXPECT_EQ(outside.run("SELECT pg_advisory_xact_lock(" + std::to_string(0x5155) +
                            ", (SELECT (oid::bigint & 2147483647)::int FROM pg_namespace WHERE nspname = '" + schema +
                            "'))::text"),
                "");
    }
    save.join();
    return saved;
  }
};

// A save that PostgreSQL ends in a deadlock -- here with a client outside the engine that
// holds the document's row and then asks for the database's writer turn -- is reported as a
// conflict, leaves nothing of itself, and the same document can be saved again at once.
TEST_P(PostgresWriterTest, ASaveEndedByADeadlockIsAConflictAndLeavesNothing) {
  HTDBHANDLE db = createAndOpen("deadlock.nsf", "Deadlock");
  const HTID id = saveDoc(db, "before");
  Outside outside(pgUri_), watcher(pgUri_);
  ASSERT_EQ(PQstatus(outside.conn), CONNECTION_OK);
  const std::string schema = outside.run("SELECT schema_name FROM quire.databases WHERE path = 'deadlock.nsf'");
  ASSERT_FALSE(schema.empty());
  // The engine's side is then the one that finds the deadlock, and loses.
  ASSERT_EQ(outside.run("SET deadlock_timeout = '60s'"), "");
  ASSERT_EQ(outside.run("BEGIN"), "");
  ASSERT_EQ(outside.run("SELECT note_id::text FROM " + schema + ".notes WHERE note_id = " + std::to_string(id) +
                        " FOR UPDATE"),
            std::to_string(id));

  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTDocumentOpen(db, id, 0, &doc), HTSUCCESS);
  HTItemPut(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, "after", 0);
  const HTSTATUS saved = saveIntoDeadlock(doc, outside, watcher, schema);
  EXPECT_EQ(saved, HTFAIL_CONFLICT) << message(saved);
  ASSERT_EQ(outside.run("ROLLBACK"), "");

  EXPECT_EQ(subject(db, id), "before");
  EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  EXPECT_EQ(subject(db, id), "after");
  HTDocumentClose(doc, 0);
  HTDatabaseClose(db, 0);
}

// The data version another connection reports changes with every commit, also when read
// inside a write transaction (where it is taken once, with the writer lock), while a
// connection's own commits leave its own number alone; and each commit also commits the
// connection's mark, the synchronous commit that makes it durable.
TEST_P(PostgresWriterTest, OthersSeeEachCommitInTheDataVersionAndEachCommitIsMarked) {
  HTDatabaseClose(createAndOpen("version.nsf", "Version", server()), 0);
  auto a = store::open(locate("version.nsf", server()), {});
  auto b = store::open(locate("version.nsf", server()), {});
  Outside outside(pgUri_);
  auto marks = [&] { return std::stol(outside.run("SELECT COALESCE(sum(mark), 0)::text FROM quire.commit_marks")); };
  auto write = [](store::Connection& conn, int64_t value) {
    store::Transaction tx(conn, store::Commit::Now);
    store::prop::set(conn, "test_value", value);
    tx.commit();
  };

  const long marked = marks();
  const int64_t ownBefore = a->dataVersion(), otherBefore = b->dataVersion();
  write(*a, 1);
  EXPECT_EQ(a->dataVersion(), ownBefore) << "a connection's own commit changed its data version";
  const int64_t otherAfter = b->dataVersion();
  EXPECT_NE(otherAfter, otherBefore);
  EXPECT_EQ(marks(), marked + 1) << "the commit was not followed by its synchronous mark";

  write(*a, 2);
  {
    store::Transaction tx(*b, store::Commit::Now);
    const int64_t inside = b->dataVersion();
    EXPECT_NE(inside, otherAfter) << "the version taken with the lock missed the commit just before";
    store::prop::set(*b, "test_value", int64_t(3));
    EXPECT_EQ(b->dataVersion(), inside);
    tx.commit();
  }
  EXPECT_NE(a->dataVersion(), ownBefore);
  EXPECT_EQ(store::prop::getInt(*a, "test_value", 0), 3);
  EXPECT_EQ(marks(), marked + 3);
}

// When the commit that makes a save durable fails, the save is reported as failed, never as
// done; the database stays usable and consistent, and the next save goes through.
TEST_P(PostgresWriterTest, ASaveWhoseDurabilityIsNotConfirmedIsNotReportedAsSaved) {
  HTDBHANDLE db = createAndOpen("unconfirmed.nsf", "Unconfirmed", server());
  const HTID before = saveDoc(db, "before");
  Outside outside(pgUri_);
  ASSERT_EQ(outside.run("CREATE FUNCTION quire.refuse_mark() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$ BEGIN RAISE EXCEPTION 'no mark today'; END $$"),
            "");
  ASSERT_EQ(outside.run("CREATE TRIGGER refuse BEFORE INSERT OR UPDATE ON quire.commit_marks "
                        "FOR EACH ROW EXECUTE FUNCTION quire.refuse_mark()"),
            "");

  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
  HTItemPut(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, "unconfirmed", 0);
  const HTSTATUS s = HTDocumentSave(doc, 0);
  EXPECT_NE(s, HTSUCCESS);
  EXPECT_NE(message(s).find("did not confirm"), std::string::npos) << message(s);
  HTDocumentClose(doc, 0);

  ASSERT_EQ(outside.run("DROP TRIGGER refuse ON quire.commit_marks"), "");
  const HTID after = saveDoc(db, "after");
  EXPECT_NE(after, 0u);
  EXPECT_EQ(subject(db, before), "before");
  EXPECT_EQ(subject(db, after), "after");
  HTDatabaseClose(db, 0);
}

// The properties a commit writes go in the commit's own round trip: when that write fails, the
// commit fails, nothing of the transaction stays, and the connection writes on as before.
TEST_P(PostgresWriterTest, AWriteSentWithTheCommitThatFailsFailsTheCommitAndLeavesNothing) {
  HTDatabaseClose(createAndOpen("held.nsf", "Held", server()), 0);
  auto conn = store::open(locate("held.nsf", server()), {});
  auto other = store::open(locate("held.nsf", server()), {});
  auto write = [&](int64_t value, bool refused) {
    store::Transaction tx(*conn, store::Commit::Now);
    store::prop::set(*conn, "test_value", value);
    if (refused) store::prop::setLater(*conn, "refused", value);
    tx.commit();
  };
  write(1, false);
  Outside outside(pgUri_);
  const std::string schema = outside.run("SELECT schema_name FROM quire.databases WHERE path = 'held.nsf'");
  ASSERT_FALSE(schema.empty());
  ASSERT_EQ(outside.run("CREATE FUNCTION " + schema + ".refuse() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$ BEGIN RAISE EXCEPTION 'no such property today'; END $$"),
            "");
  ASSERT_EQ(outside.run("CREATE TRIGGER refuse BEFORE INSERT OR UPDATE ON " + schema +
                        ".properties FOR EACH ROW WHEN (NEW.name = 'refused') EXECUTE FUNCTION " + schema + ".refuse()"),
            "");

  try {
    write(2, true);
    ADD_FAILURE() << "a commit whose property write failed was reported as done";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("no such property today"), std::string::npos) << e.what();
  }
  EXPECT_EQ(store::prop::getInt(*other, "test_value", 0), 1);
  EXPECT_EQ(store::prop::getInt(*conn, "test_value", 0), 1);
  EXPECT_EQ(outside.run("SELECT count(*)::text FROM " + schema + ".properties WHERE name = 'refused'"), "0");

  write(3, false);
  EXPECT_EQ(store::prop::getInt(*other, "test_value", 0), 3);
}

// A batch of delayed commits whose durability the server does not confirm is reported as
// such, not as writes lost: they were committed, and writing them again would double them.
TEST_P(PostgresWriterTest, ABatchWhoseDurabilityIsNotConfirmedIsNotReportedLost) {
  HTDatabaseClose(createAndOpen("batch.nsf", "Batch", server()), 0);
  auto conn = store::open(locate("batch.nsf", server()), {});
  {
    store::Transaction tx(*conn, store::Commit::Grouped);
    store::prop::set(*conn, "test_value", int64_t(1));
    tx.commit();
  }
  Outside outside(pgUri_);
  ASSERT_EQ(outside.run("CREATE FUNCTION quire.refuse_batch_mark() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$ BEGIN RAISE EXCEPTION 'no mark today'; END $$"),
            "");
  ASSERT_EQ(outside.run("CREATE TRIGGER refuse BEFORE INSERT OR UPDATE ON quire.commit_marks "
                        "FOR EACH ROW EXECUTE FUNCTION quire.refuse_batch_mark()"),
            "");
  try {
    store::flushBatch(*conn);
    ADD_FAILURE() << "a batch whose mark failed was reported as committed";
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("not confirmed"), std::string::npos) << what;
    EXPECT_EQ(what.find("lost"), std::string::npos) << what;
  }
  ASSERT_EQ(outside.run("DROP TRIGGER refuse ON quire.commit_marks"), "");
  auto other = store::open(locate("batch.nsf", server()), {});
  EXPECT_EQ(store::prop::getInt(*other, "test_value", 0), 1);
  store::forgetConnection(*conn);
}

// A new document's INSERT goes with its commit: when the server refuses it, the save fails
// with the server's reason and leaves nothing -- no note, no view row, no full-text row, no
// change number. Inside a batch (delayed commit) the refusal fails that save at once rather
// than the batch later. The same document saves once the server takes it.
TEST_P(PostgresWriterTest, ANewDocumentTheServerRefusesAtCommitIsNotSavedAndLeavesNothing) {
  HTDBHANDLE db = createAndOpen("refused.nsf", "Refused", server());
  HTCOLUMNSPEC column{};
  column.title = "Subject";
  column.itemName = "Subject";
  column.sort = HTCOLSORT_ASCEND;
  column.width = 40;
  HTVIEWSPEC spec{};
  spec.name = "All";
  spec.selection = "";
  spec.backgroundColor = 1;
  spec.alternateColor = 1;
  spec.columnCount = 1;
  spec.columns = &column;
  HTID view = 0;
  ASSERT_EQ(HTViewCreate(db, &spec, &view), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  ASSERT_EQ(HTDatabaseCreateFTIndex(db, 0, 0, nullptr), HTSUCCESS);
  saveDoc(db, "kept");
  auto viewRows = [&] {
    std::vector<std::string> out;
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db, &index), HTSUCCESS);
    EXPECT_EQ(HTIndexOpenViewFolder(index, 0, view, 0), HTSUCCESS);
    HTID note = 0;
    HTUINT flags = 0;
    while (HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags) == HTSUCCESS) out.push_back(subject(db, note));
    HTIndexClose(index);
    return out;
  };
  auto found = [&](const char* word) {
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db, &index), HTSUCCESS);
    EXPECT_EQ(HTIndexFTSearch(index, word, 0, 0, 0), HTSUCCESS);
    const HTUINT n = HTIndexGetCount(index);
    HTIndexClose(index);
    return n;
  };
  Outside outside(pgUri_);
  const std::string schema = outside.run("SELECT schema_name FROM quire.databases WHERE path = 'refused.nsf'");
  ASSERT_FALSE(schema.empty());
  const std::string counter = "SELECT value FROM " + schema + ".properties WHERE name = 'change_counter'";
  const std::string before = outside.run(counter);
  ASSERT_EQ(outside.run("CREATE FUNCTION " + schema + ".refuse() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$ BEGIN RAISE EXCEPTION 'no refused notes today'; END $$"),
            "");
  ASSERT_EQ(outside.run("CREATE TRIGGER refuse BEFORE INSERT ON " + schema +
                        ".notes FOR EACH ROW WHEN (NEW.form = 'Refused') EXECUTE FUNCTION " + schema + ".refuse()"),
            "");
  auto refusedDoc = [&](const char* subjectText) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
    HTItemPut(doc, "Form", HTTYPE_TEXT, 0, HTTYPE_TEXT, "Refused", 0);
    HTItemPut(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, subjectText, 0);
    return doc;
  };

  HTDOCHANDLE refused = refusedDoc("refused");
  const HTSTATUS s = HTDocumentSave(refused, 0);
  EXPECT_NE(s, HTSUCCESS) << "a save the server refused was reported as done";
  EXPECT_NE(message(s).find("no refused notes today"), std::string::npos) << message(s);
  EXPECT_EQ(outside.run("SELECT count(*)::text FROM " + schema + ".notes WHERE form = 'Refused'"), "0");
  EXPECT_EQ(outside.run(counter), before) << "the refused save took a change number";
  EXPECT_EQ(viewRows(), std::vector<std::string>{"kept"});
  EXPECT_EQ(found("refused"), 0u);

  const HTUINT on = 1, off = 0;
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &on), HTSUCCESS);
  HTDOCHANDLE batched = refusedDoc("batched");
  EXPECT_NE(HTDocumentSave(batched, 0), HTSUCCESS) << "a refused save in a batch was reported as done";
  HTDocumentClose(batched, 0);
  const HTID inBatch = saveDoc(db, "in batch");
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &off), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  EXPECT_EQ(subject(db, inBatch), "in batch");

  ASSERT_EQ(outside.run("DROP TRIGGER refuse ON " + schema + ".notes"), "");
  const HTSTATUS again = HTDocumentSave(refused, 0);
  ASSERT_EQ(again, HTSUCCESS) << message(again);
  HTID id = 0;
  HTDocumentGetProperty(refused, HTDOCUMENT_DOCID, &id);
  HTDocumentClose(refused, 0);
  EXPECT_EQ(subject(db, id), "refused");
  EXPECT_EQ(viewRows(), (std::vector<std::string>{"in batch", "kept", "refused"}));
  EXPECT_EQ(found("refused"), 1u);
  HTDatabaseClose(db, 0);
}

// A new document whose commit loses a deadlock -- a client outside the engine holds the row
// every commit updates and then asks for the writer turn -- is a conflict, leaves nothing of
// itself, and saves at the next try.
TEST_P(PostgresWriterTest, ANewDocumentWhoseCommitLosesADeadlockIsAConflictAndLeavesNothing) {
  HTDBHANDLE db = createAndOpen("newdeadlock.nsf", "New deadlock");
  saveDoc(db, "before");
  Outside outside(pgUri_), watcher(pgUri_);
  const std::string schema = outside.run("SELECT schema_name FROM quire.databases WHERE path = 'newdeadlock.nsf'");
  ASSERT_FALSE(schema.empty());
  ASSERT_EQ(outside.run("SET deadlock_timeout = '60s'"), "");
  ASSERT_EQ(outside.run("BEGIN"), "");
  ASSERT_NE(outside.run("SELECT data_version::text FROM " + schema + ".quire_state FOR UPDATE"), "");

  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
  HTItemPut(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, "new", 0);
  const HTSTATUS saved = saveIntoDeadlock(doc, outside, watcher, schema);
  EXPECT_EQ(saved, HTFAIL_CONFLICT) << message(saved);
  ASSERT_EQ(outside.run("ROLLBACK"), "");
  EXPECT_EQ(outside.run("SELECT count(*)::text FROM " + schema + ".notes WHERE note_class = 1"), "1");

  const HTSTATUS again = HTDocumentSave(doc, 0);
  ASSERT_EQ(again, HTSUCCESS) << message(again);
  HTID id = 0;
  HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id);
  HTDocumentClose(doc, 0);
  EXPECT_EQ(subject(db, id), "new");
  EXPECT_EQ(outside.run("SELECT count(*)::text FROM " + schema + ".notes WHERE note_class = 1"), "2");
  HTDatabaseClose(db, 0);
}

INSTANTIATE_TEST_SUITE_P(, PostgresWriterTest, ::testing::Values(Backend::Postgres), backendName);
#endif

class PostgresAddressingTest : public EngineTest {};

TEST_F(PostgresAddressingTest, AnUnreachableServerIsReportedNotTakenForADirectory) {
  addServer(dataDir_, "Gone", "postgresql://%2Fnonexistent%2Fsocket:1/quire");
  HTDBHANDLE db = 0;
  const HTSTATUS s = HTDatabaseOpen("Gone", "any.nsf", 0, &db);
  if (store::postgresAvailable()) {
    EXPECT_EQ(s, HTFAIL_SERVER_NOT_FOUND);
    EXPECT_NE(message(s).find("Cannot connect"), std::string::npos) << message(s);
  } else {
    EXPECT_EQ(s, HTFAIL_NOT_IMPLEMENTED);
    EXPECT_NE(message(s).find("without PostgreSQL support"), std::string::npos) << message(s);
  }
  EXPECT_FALSE(std::filesystem::exists(dataDir_ / "postgresql:"));
}

TEST_F(PostgresAddressingTest, LocatorsFoldCaseAndKeepTheServerEntry) {
  const std::filesystem::path root("postgresql://db.example:5432/quire");
  EXPECT_TRUE(store::isRemote(root));
  EXPECT_FALSE(store::isRemote("/srv/quire/postgresql://x"));
  EXPECT_EQ(store::remoteLocator(root, "MAIL\\Abc.nsf").native(), "postgresql://db.example:5432/quire/mail/abc.nsf");
}

#ifdef QUIRE_TEST_POSTGRES
TEST_F(PostgresAddressingTest, AMissingClientLibraryIsNamedInTheError) {
  try {
    store::loadLibPq("libpq-absent-for-this-test.so.5");
    FAIL() << "loaded a library that does not exist";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), HTFAIL_NOT_IMPLEMENTED);
    EXPECT_NE(std::string(e.what()).find("libpq-absent-for-this-test.so.5"), std::string::npos) << e.what();
  }
  EXPECT_NE(store::libpq().PQexec, nullptr);
}
#endif

}  // namespace
}  // namespace quire::engine::test
