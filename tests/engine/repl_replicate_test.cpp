// Replication through the real engine: HTServerReplicate between the local data directory
// and a named server (a directory server, or one kept in PostgreSQL), both ways, with
// deletions, conflicts, statistics and access.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "EngineFixture.h"
#include "engine/db/Database.h"
#include "engine/doc/Note.h"
#include "engine/store/AclStore.h"
#include "engine/store/Locator.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;

struct Snapshot {
  int64_t sequence = 0;
  bool deleted = false;
  std::string subject;
  bool conflict = false;
  std::optional<UNID> parent;
  size_t attachments = 0;
};

std::string key(const UNID& u) {
  char text[40];
  snprintf(text, sizeof text, "%08X%08X%08X%08X", u.words[0], u.words[1], u.words[2], u.words[3]);
  return text;
}

// The replica is always a local SQLite file; the hub is a directory server or, in the
// PostgreSQL run, the server kept there.
class ReplicationTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    home_.clear();
    hub_ = onPostgres() ? kServer : "Hub";
    if (!onPostgres()) {
      char reply[200];
      ASSERT_EQ(HTServerExecute("", "add server Hub hub", sizeof reply, reply), HTSUCCESS);
    }
    ASSERT_EQ(HTDatabaseCreate("", "team.nsf", "Team", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
  }

  std::shared_ptr<db::Database> local(const char* path = "team.nsf") { return db::openFile(dataDir_ / path); }
  std::shared_ptr<db::Database> server(const char* path = "team.nsf") { return db::openFile(locate(path, hub_.c_str())); }
  bool onHub(const char* path) { return store::exists(locate(path, hub_.c_str())); }

  template <typename F>
  static void write(db::Database& db, F&& change) {
    auto lock = db.lock();
    store::Transaction tx(db.conn());
    change(db.conn());
    tx.commit();
  }

  static UNID add(db::Database& db, const std::string& subject, uint32_t noteClass = store::note_class::kDocument) {
    doc::Note note = doc::newNote(noteClass);
    write(db, [&](store::Connection& c) {
      note.setText("Subject", subject);
      if (noteClass == store::note_class::kDocument) {
        note.setText("Form", "Topic");
        doc::Attachment a;
        a.name = "notes.txt";
        a.bytes = std::make_shared<const store::Blob>(store::Blob{'a', 0, 'b'});
        note.attachments.push_back(a);
      } else {
        note.header.designName = subject;
      }
      doc::saveNote(db, c, note);
    });
    return note.header.unid;
  }

  static void edit(db::Database& db, const UNID& unid, const std::string& subject) {
    write(db, [&](store::Connection& c) {
      auto note = doc::loadNote(db, c, *store::findByUnid(c, unid));
      note->setText("Subject", subject);
      doc::saveNote(db, c, *note);
    });
  }

  static void remove(db::Database& db, const UNID& unid) {
    write(db, [&](store::Connection& c) { doc::deleteNote(db, c, *store::findByUnid(c, unid)); });
  }

  static std::map<std::string, Snapshot> snapshot(db::Database& db) {
    std::map<std::string, Snapshot> out;
    auto lock = db.lock();
    auto st = db.conn().prepare("SELECT note_id FROM notes");
    std::vector<HTID> ids;
    while (st->step()) ids.push_back(HTID(st->int64(0)));
    for (HTID id : ids) {
      auto n = doc::loadNote(db, db.conn(), id);
      out[key(n->header.unid)] = {n->header.sequence, n->header.deleted, n->text("Subject"),
                                  n->find("$Conflict") != nullptr, n->header.parent, n->attachments.size()};
    }
    return out;
  }

  HTSTATUS replicate(HTREPLSTATS& stats, HTUINT flags = 0, const char* list = "team.nsf", HTUINT count = 1,
                     const char* serverName = nullptr) {
    return HTServerReplicate(serverName ? serverName : hub_.c_str(), flags, 0, count, list, &stats);
  }

  static void expectMoved(const HTREPLSTATS& s, std::array<uint32_t, 6> moved, uint32_t conflicts = 0) {
    EXPECT_EQ(s.pulledAdded, moved[0]);
    EXPECT_EQ(s.pulledUpdated, moved[1]);
    EXPECT_EQ(s.pulledDeleted, moved[2]);
    EXPECT_EQ(s.pushedAdded, moved[3]);
    EXPECT_EQ(s.pushedUpdated, moved[4]);
    EXPECT_EQ(s.pushedDeleted, moved[5]);
    EXPECT_EQ(s.conflicts, conflicts);
  }

  std::string hub_;
};

TEST_P(ReplicationTest, FirstRunMakesAReplicaAndASecondMovesNothing) {
  auto mine = local();
  add(*mine, "Agenda");
  add(*mine, "Minutes");
  add(*mine, "TopicForm", store::note_class::kForm);

  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS) << message(stats.status);
  EXPECT_EQ(stats.databases, 1u);
  expectMoved(stats, {0, 0, 0, 3, 0, 0});
  EXPECT_EQ(stats.status, HTSUCCESS);

  auto theirs = server();
  {
    auto l1 = mine->lock();
    auto l2 = theirs->lock();
    EXPECT_EQ(store::prop::getBlob(mine->conn(), store::prop::kReplicaId),
              store::prop::getBlob(theirs->conn(), store::prop::kReplicaId));
    EXPECT_NE(store::prop::getBlob(mine->conn(), store::prop::kDbId), store::prop::getBlob(theirs->conn(), store::prop::kDbId));
    EXPECT_EQ(store::prop::getText(theirs->conn(), store::prop::kTitle), "Team");
  }
  auto a = snapshot(*mine), b = snapshot(*theirs);
  EXPECT_EQ(a.size(), 3u);
  for (auto& [unid, s] : a) {
    ASSERT_TRUE(b.count(unid));
    EXPECT_EQ(b[unid].sequence, s.sequence);
    EXPECT_EQ(b[unid].subject, s.subject);
    EXPECT_EQ(b[unid].attachments, s.attachments);
  }

  ASSERT_EQ(replicate(stats), HTSUCCESS);
  EXPECT_EQ(stats.databases, 1u);
  expectMoved(stats, {0, 0, 0, 0, 0, 0});
}

TEST_P(ReplicationTest, ChangesTravelBothWaysIncludingDeletions) {
  auto mine = local();
  const UNID keep = add(*mine, "Keep");
  const UNID editHere = add(*mine, "Edit here");
  const UNID editThere = add(*mine, "Edit there");
  const UNID dropHere = add(*mine, "Drop here");
  const UNID dropThere = add(*mine, "Drop there");
  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  auto theirs = server();

  add(*mine, "New here");
  edit(*mine, editHere, "Edited here");
  remove(*mine, dropHere);
  add(*theirs, "New there");
  edit(*theirs, editThere, "Edited there");
  remove(*theirs, dropThere);

  ASSERT_EQ(replicate(stats), HTSUCCESS) << message(stats.status);
  expectMoved(stats, {1, 1, 1, 1, 1, 1});
  auto a = snapshot(*mine), b = snapshot(*theirs);
  EXPECT_EQ(a.size(), 7u);
  ASSERT_EQ(a.size(), b.size());
  for (auto& [unid, s] : a) {
    SCOPED_TRACE(s.subject);
    ASSERT_TRUE(b.count(unid));
    EXPECT_EQ(b[unid].sequence, s.sequence);
    EXPECT_EQ(b[unid].deleted, s.deleted);
    EXPECT_EQ(b[unid].subject, s.subject);
  }
  EXPECT_EQ(a[key(editHere)].subject, "Edited here");
  EXPECT_EQ(a[key(editThere)].subject, "Edited there");
  EXPECT_TRUE(a[key(dropThere)].deleted);
  EXPECT_TRUE(b[key(dropHere)].deleted);
  EXPECT_FALSE(a[key(keep)].deleted);

  ASSERT_EQ(replicate(stats), HTSUCCESS);
  expectMoved(stats, {0, 0, 0, 0, 0, 0});
}

TEST_P(ReplicationTest, ConcurrentEditsKeepBothVersions) {
  auto mine = local();
  const UNID doc = add(*mine, "Original");
  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  auto theirs = server();

  edit(*mine, doc, "Local 1");
  edit(*mine, doc, "Local 2");  // two saves: the higher sequence wins
  edit(*theirs, doc, "Server 1");

  ASSERT_EQ(replicate(stats), HTSUCCESS) << message(stats.status);
  EXPECT_EQ(stats.conflicts, 1u);
  EXPECT_EQ(stats.pushedUpdated, 1u);
  for (auto* db : {mine.get(), theirs.get()}) {
    auto s = snapshot(*db);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[key(doc)].subject, "Local 2");
    for (auto& [unid, note] : s) {
      if (unid == key(doc)) continue;
      EXPECT_TRUE(note.conflict);
      EXPECT_EQ(note.subject, "Server 1");
      ASSERT_TRUE(note.parent);
      EXPECT_EQ(key(*note.parent), key(doc));
      EXPECT_EQ(note.attachments, 1u);
    }
  }
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  expectMoved(stats, {0, 0, 0, 0, 0, 0});
}

TEST_P(ReplicationTest, WithoutHistoryOnlyEqualSequencesMakeAConflict) {
  auto mine = local();
  const UNID same = add(*mine, "Same base");
  const UNID ahead = add(*mine, "Ahead");
  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  auto theirs = server();
  write(*mine, [](store::Connection& c) { c.exec("DELETE FROM repl_seen"); });  // as after a file copy

  edit(*mine, same, "Mine");
  std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a distinct sequence time
  edit(*theirs, same, "Theirs");  // both at sequence 2
  edit(*mine, ahead, "Mine 2");
  edit(*mine, ahead, "Mine 3");
  edit(*theirs, ahead, "Theirs 2");  // sequence 3 against 2: the newer simply wins

  ASSERT_EQ(replicate(stats), HTSUCCESS) << message(stats.status);
  EXPECT_EQ(stats.conflicts, 1u);
  auto s = snapshot(*theirs);
  EXPECT_EQ(s.size(), 3u);
  EXPECT_EQ(s[key(ahead)].subject, "Mine 3");
  EXPECT_EQ(snapshot(*mine).size(), 3u);
}

TEST_P(ReplicationTest, AnEditThatWinsOverADeletionBringsTheDocumentBack) {
  auto mine = local();
  const UNID doc = add(*mine, "Draft");
  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  auto theirs = server();
  remove(*theirs, doc);           // sequence 2
  edit(*mine, doc, "Still needed");
  edit(*mine, doc, "Still needed!");  // sequence 3

  ASSERT_EQ(replicate(stats), HTSUCCESS) << message(stats.status);
  EXPECT_FALSE(snapshot(*theirs)[key(doc)].deleted);
  EXPECT_EQ(snapshot(*theirs)[key(doc)].subject, "Still needed!");

  // And a deletion that wins keeps the losing edit as a conflict document.
  edit(*theirs, doc, "Server edit");
  write(*mine, [&](store::Connection& c) {
    auto id = *store::findByUnid(c, doc);
    auto n = doc::loadNote(*mine, c, id);
    doc::saveNote(*mine, c, *n);
    doc::deleteNote(*mine, c, id);
  });
  ASSERT_EQ(replicate(stats), HTSUCCESS) << message(stats.status);
  EXPECT_EQ(stats.pushedDeleted, 1u);
  EXPECT_EQ(stats.conflicts, 1u);
  auto s = snapshot(*theirs);
  EXPECT_TRUE(s[key(doc)].deleted);
  int kept = 0;
  for (auto& [unid, n] : s) kept += n.conflict && n.subject == "Server edit";
  EXPECT_EQ(kept, 1);
  EXPECT_EQ(snapshot(*mine).size(), s.size());
}

TEST_P(ReplicationTest, OneDirectionAtATime) {
  auto mine = local();
  const UNID doc = add(*mine, "Shared");
  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  auto theirs = server();
  add(*mine, "Mine only");
  edit(*theirs, doc, "From the server");

  ASSERT_EQ(replicate(stats, 0x1), HTSUCCESS);  // pull only
  expectMoved(stats, {0, 1, 0, 0, 0, 0});
  EXPECT_EQ(snapshot(*theirs).size(), 1u);
  EXPECT_EQ(snapshot(*mine)[key(doc)].subject, "From the server");

  ASSERT_EQ(replicate(stats, 0x2), HTSUCCESS);  // push only
  expectMoved(stats, {0, 0, 0, 1, 0, 0});
  EXPECT_EQ(snapshot(*theirs).size(), 2u);
  EXPECT_EQ(replicate(stats, 0x3), HTFAIL_INVALID_ARGUMENT);
}

TEST_P(ReplicationTest, EveryDatabaseModeTakesOnlyThoseWithAReplica) {
  auto mine = local();
  add(*mine, "One");
  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  ASSERT_EQ(HTDatabaseCreate("", "other.nsf", "Other", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
  add(*mine, "Two");

  ASSERT_EQ(HTServerReplicate(hub_.c_str(), 0x400, 0, 0, nullptr, &stats), HTSUCCESS);
  EXPECT_EQ(stats.databases, 1u);
  EXPECT_EQ(stats.pushedAdded, 1u);
  EXPECT_FALSE(onHub("other.nsf"));
  // Two paths in one packed list, one of them empty.
  const char list[] = "other.nsf\0\0team.nsf";
  ASSERT_EQ(HTServerReplicate(hub_.c_str(), 0, 0, 3, list, &stats), HTSUCCESS);
  EXPECT_EQ(stats.databases, 2u);
  EXPECT_TRUE(onHub("other.nsf"));
}

TEST_P(ReplicationTest, FailuresAreReportedInTheStatusField) {
  HTREPLSTATS stats;
  std::memset(&stats, 0xAB, sizeof stats);
  EXPECT_EQ(replicate(stats, 0, "team.nsf", 1, "Nowhere"), HTFAIL_SERVER_NOT_FOUND);
  EXPECT_EQ(stats.status, HTFAIL_SERVER_NOT_FOUND);
  EXPECT_EQ(stats.databases, 0u);
  EXPECT_EQ(replicate(stats, 0, nullptr, 0), HTFAIL_NO_DATABASE_LIST);
  EXPECT_EQ(stats.status, HTFAIL_NO_DATABASE_LIST);
  EXPECT_EQ(replicate(stats, 0, "team.nsf", 1, "Local"), HTFAIL_BAD_SERVER);
  EXPECT_EQ(HTServerReplicate(hub_.c_str(), 0, 0, 1, "team.nsf", nullptr), HTFAIL_INVALID_ARGUMENT);

  // One missing database does not stop the others.
  const char list[] = "missing.nsf\0team.nsf";
  EXPECT_EQ(replicate(stats, 0, list, 2), HTFAIL_REPL_FAILED);
  EXPECT_EQ(stats.status, HTFAIL_DB_NOT_FOUND);
  EXPECT_EQ(stats.databases, 1u);
  EXPECT_EQ(stats.errors, 1u);
  EXPECT_NE(message(HTFAIL_DB_NOT_FOUND).find("missing.nsf"), std::string::npos);
  EXPECT_EQ(replicate(stats, 0, "..\\..\\etc\\passwd", 1), HTFAIL_REPL_FAILED);
  EXPECT_EQ(stats.status, HTFAIL_PATH_OUTSIDE);
  EXPECT_EQ(replicate(stats, 0, "mail.box", 1), HTFAIL_REPL_FAILED);
}

TEST_P(ReplicationTest, TheServerAclDecides) {
  auto mine = local();
  const UNID doc = add(*mine, "Policy");
  HTREPLSTATS stats;
  ASSERT_EQ(replicate(stats), HTSUCCESS);
  auto theirs = server();
  write(*theirs, [&](store::Connection& c) {
    store::acl::update(c, "-Default-", {"-Default-", HTACLLEVEL_READER, 0, {}});
  });

  actAs("Eve Other");  // not in the ACL: a Reader through -Default-
  edit(*mine, doc, "Changed by Eve");
  add(*theirs, "Visible to readers");
  EXPECT_EQ(replicate(stats), HTFAIL_REPL_FAILED);
  EXPECT_EQ(stats.status, HTFAIL_ACCESS_DENIED);
  EXPECT_EQ(stats.errors, 1u);
  EXPECT_EQ(stats.pulledAdded, 1u);  // reading still works
  EXPECT_EQ(snapshot(*theirs)[key(doc)].subject, "Policy");

  write(*theirs, [&](store::Connection& c) {
    store::acl::update(c, "-Default-", {"-Default-", HTACLLEVEL_NO_ACCESS, 0, {}});
  });
  EXPECT_EQ(replicate(stats), HTFAIL_REPL_FAILED);
  EXPECT_EQ(stats.status, HTFAIL_ACCESS_DENIED);
  EXPECT_EQ(stats.databases, 0u);

  actAsSelf();  // the owner pushes what Eve could not
  ASSERT_EQ(replicate(stats), HTSUCCESS) << message(stats.status);
  EXPECT_EQ(stats.pushedUpdated, 1u);
  EXPECT_EQ(snapshot(*theirs)[key(doc)].subject, "Changed by Eve");
}

QUIRE_BOTH_BACKENDS(ReplicationTest);

}  // namespace
}  // namespace quire::engine::test
