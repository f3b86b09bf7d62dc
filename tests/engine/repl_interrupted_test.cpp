// Replication killed part way -- in another process, at each disk sync of a run with
// conflicts in turn -- and then run again must end exactly where an uninterrupted run ends:
// no conflict document twice, nothing lost. The kill comes through SQLite's file seam: a VFS
// wrapping the default one ends the process at the chosen sync, before it is made.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "EngineFixture.h"
#include "engine/db/Database.h"
#include "engine/doc/Note.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;

// ---- a VFS that dies at the Nth sync -------------------------------------------------

sqlite3_vfs* gReal = nullptr;
int gSyncsBeforeDeath = -1;  // -1: never
int gSyncs = 0;

struct KillFile {
  sqlite3_file base;
  sqlite3_file* real;  // follows this struct in the same allocation
};

sqlite3_file* realOf(sqlite3_file* f) { return reinterpret_cast<KillFile*>(f)->real; }

int killSync(sqlite3_file* f, int flags) {
  if (gSyncsBeforeDeath >= 0 && ++gSyncs > gSyncsBeforeDeath) _exit(0);
  return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int killClose(sqlite3_file* f) { return realOf(f)->pMethods->xClose(realOf(f)); }
int killRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) { return realOf(f)->pMethods->xRead(realOf(f), b, n, o); }
int killWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
  return realOf(f)->pMethods->xWrite(realOf(f), b, n, o);
}
int killTruncate(sqlite3_file* f, sqlite3_int64 n) { return realOf(f)->pMethods->xTruncate(realOf(f), n); }
int killFileSize(sqlite3_file* f, sqlite3_int64* n) { return realOf(f)->pMethods->xFileSize(realOf(f), n); }
int killLock(sqlite3_file* f, int l) { return realOf(f)->pMethods->xLock(realOf(f), l); }
int killUnlock(sqlite3_file* f, int l) { return realOf(f)->pMethods->xUnlock(realOf(f), l); }
int killReserved(sqlite3_file* f, int* r) { return realOf(f)->pMethods->xCheckReservedLock(realOf(f), r); }
int killControl(sqlite3_file* f, int op, void* a) { return realOf(f)->pMethods->xFileControl(realOf(f), op, a); }
int killSector(sqlite3_file* f) { return realOf(f)->pMethods->xSectorSize(realOf(f)); }
int killDevice(sqlite3_file* f) { return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f)); }
int killShmMap(sqlite3_file* f, int i, int n, int e, void volatile** p) {
  return realOf(f)->pMethods->xShmMap(realOf(f), i, n, e, p);
}
int killShmLock(sqlite3_file* f, int o, int n, int fl) { return realOf(f)->pMethods->xShmLock(realOf(f), o, n, fl); }
void killShmBarrier(sqlite3_file* f) { realOf(f)->pMethods->xShmBarrier(realOf(f)); }
int killShmUnmap(sqlite3_file* f, int d) { return realOf(f)->pMethods->xShmUnmap(realOf(f), d); }

// Memory-mapped reads are left out (iVersion 2), so every page goes through xRead.
const sqlite3_io_methods kKillMethods = {2,           killClose,   killRead,     killWrite,    killTruncate,
                                         killSync,    killFileSize, killLock,    killUnlock,   killReserved,
                                         killControl, killSector,  killDevice,   killShmMap,   killShmLock,
                                         killShmBarrier, killShmUnmap, nullptr,   nullptr};

int killOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  auto* file = reinterpret_cast<KillFile*>(f);
  file->real = reinterpret_cast<sqlite3_file*>(file + 1);
  file->base.pMethods = nullptr;
  const int rc = gReal->xOpen(gReal, name, file->real, flags, outFlags);
  if (file->real->pMethods) file->base.pMethods = &kKillMethods;
  return rc;
}

// Installs the dying VFS as the default, in this (child) process only.
void dieAtSync(int n) {
  static sqlite3_vfs vfs;
  gReal = sqlite3_vfs_find(nullptr);
  vfs = *gReal;
  vfs.iVersion = gReal->iVersion;
  vfs.szOsFile = int(sizeof(KillFile)) + gReal->szOsFile;
  vfs.zName = "quire-die-at-sync";
  vfs.xOpen = killOpen;
  vfs.pAppData = nullptr;
  gSyncsBeforeDeath = n;
  gSyncs = 0;
  sqlite3_vfs_register(&vfs, 1);
}

// ---- the test ------------------------------------------------------------------------

// Every document of a database file as text: UNID, version, deletion, parent, items and
// attachments. Row IDs and change numbers are the file's own and left out.
std::map<std::string, std::string> contents(const fs::path& file) {
  std::map<std::string, std::string> out;
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << file;
    sqlite3_close(raw);
    return out;
  }
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(raw,
                     "SELECT hex(n.unid), n.sequence, n.sequence_time, n.deleted, hex(n.parent_unid), hex(n.items),"
                     " (SELECT group_concat(a.name || ':' || hex(a.bytes), ',') FROM attachments a"
                     "  WHERE a.note_id = n.note_id) FROM notes n WHERE n.note_class = 1",
                     -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int c = 1; c < 7; ++c) {
      const unsigned char* text = sqlite3_column_text(st, c);
      row += std::string(text ? reinterpret_cast<const char*>(text) : "") + "|";
    }
    out[reinterpret_cast<const char*>(sqlite3_column_text(st, 0))] = row;
  }
  sqlite3_finalize(st);
  sqlite3_close(raw);
  return out;
}

class InterruptedReplication : public EngineTest {
 protected:
  static constexpr int kDocuments = 6;

  template <typename F>
  static void write(db::Database& db, F&& change) {
    auto lock = db.lock();
    store::Transaction tx(db.conn());
    change(db.conn());
    tx.commit();
  }

  static void edit(db::Database& db, const UNID& unid, const std::string& subject) {
    write(db, [&](store::Connection& c) {
      auto note = doc::loadNote(db, c, *store::findByUnid(c, unid));
      note->setText("Subject", subject);
      doc::saveNote(db, c, *note);
    });
  }

  static HTSTATUS replicate() {
    HTREPLSTATS stats{};
    return HTServerReplicate("Hub", 0, 0, 1, "team.nsf", &stats);
  }

  // A replica on Hub, then every document changed on both sides: conflicts that the local
  // side wins, that the server wins, and one against a deletion.
  void makeConflicts() {
    char reply[200];
    ASSERT_EQ(HTServerExecute("", "add server Hub hub", sizeof reply, reply), HTSUCCESS);
    ASSERT_EQ(HTDatabaseCreate("", "team.nsf", "Team", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
    std::vector<UNID> docs;
    {
      auto mine = db::openFile(dataDir_ / "team.nsf");
      for (int i = 0; i < kDocuments; ++i) {
        doc::Note note = doc::newNote();
        write(*mine, [&](store::Connection& c) {
          note.setText("Form", "Topic");
          note.setText("Subject", "Original " + std::to_string(i));
          doc::Attachment a;
          a.name = "file.bin";
          a.bytes = std::make_shared<const store::Blob>(store::Blob{uint8_t(i), 0, 1});
          note.attachments.push_back(a);
          doc::saveNote(*mine, c, note);
        });
        docs.push_back(note.header.unid);
      }
    }
    ASSERT_EQ(replicate(), HTSUCCESS);
    auto mine = db::openFile(dataDir_ / "team.nsf");
    auto theirs = db::openFile(dataDir_ / "hub" / "team.nsf");
    for (int i = 0; i < kDocuments; ++i) {
      edit(*mine, docs[i], "Local " + std::to_string(i));
      edit(*theirs, docs[i], "Server " + std::to_string(i));
      edit(i % 2 ? *mine : *theirs, docs[i], "Again " + std::to_string(i));  // the side with more edits wins
    }
    write(*theirs, [&](store::Connection& c) { doc::deleteNote(*theirs, c, *store::findByUnid(c, docs[0])); });
  }

  // Runs replication with the engine on `data`; `dieAt` >= 0 runs it in a child process that
  // dies at that many syncs. Answers whether the run got to its end.
  bool run(const fs::path& data, int dieAt) {
    setenv("QUIRE_DATA", data.c_str(), 1);
    if (dieAt < 0) {
      EXPECT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
      EXPECT_EQ(replicate(), HTSUCCESS);
      HTTerm(0);
      return true;
    }
    const pid_t child = fork();
    if (child == 0) {
      dieAtSync(dieAt);
      if (_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr) != HTSUCCESS) _exit(2);
      const HTSTATUS status = replicate();
      HTTerm(0);
      _exit(status == HTSUCCESS ? 3 : 4);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2);
    return WEXITSTATUS(status) == 3;
  }

  static void copyTree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
  }
};

TEST_F(InterruptedReplication, KilledAtEverySyncAndRunAgainEndsAsAnUninterruptedRun) {
  makeConflicts();
  HTTerm(0);
  const fs::path pristine = dataDir_ / "pristine", reference = dataDir_ / "reference", work = dataDir_ / "work";
  fs::create_directory(pristine);
  for (const auto& entry : fs::directory_iterator(dataDir_))
    if (entry.path() != pristine) fs::copy(entry.path(), pristine / entry.path().filename(), fs::copy_options::recursive);

  copyTree(pristine, reference);
  ASSERT_TRUE(run(reference, -1));
  const auto local = contents(reference / "team.nsf");
  const auto server = contents(reference / "hub" / "team.nsf");
  ASSERT_EQ(local, server);
  // Every document left one conflict document beside its winner (the deleted one too: the
  // edit its deletion beat is kept).
  EXPECT_EQ(local.size(), size_t(2 * kDocuments));

  int kills = 0;
  for (int dieAt = 0; dieAt < 64; ++dieAt) {
    copyTree(pristine, work);
    if (run(work, dieAt)) break;  // it got through without reaching that sync
    ++kills;
    ASSERT_TRUE(run(work, -1));
    EXPECT_EQ(contents(work / "team.nsf"), local) << "killed at sync " << dieAt;
    EXPECT_EQ(contents(work / "hub" / "team.nsf"), server) << "killed at sync " << dieAt;
  }
  EXPECT_GE(kills, 2) << "the run made fewer syncs than expected";
  RecordProperty("kills", kills);
  setenv("QUIRE_DATA", dataDir_.c_str(), 1);
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);  // for TearDown's HTTerm
}

}  // namespace
}  // namespace quire::engine::test
