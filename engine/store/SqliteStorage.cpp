// The SQLite backend of the storage interface.
//
// Durability: WAL journal with synchronous=FULL, so a transaction that committed survives
// kill -9 and power loss. Multi-process: a writer waits for the write lock (up to the busy
// timeout) instead of failing, and writers take turns through the file's WriterGate, so one
// that commits and begins again at once cannot starve the others. Prepared statements are
// cached per connection by SQL text.
//
// Reads kept open: in WAL mode every read transaction takes and drops a lock on the shared
// index file, two system calls that were a third of the cost of opening a document. A read
// snapshot that asks for it (endReadKeeping) is therefore kept open when it ends, and the next
// snapshot reuses it when the WAL index header -- which every commit of any connection
// rewrites before its COMMIT returns -- is what it was before the kept one began: then
// nothing was committed since and the kept snapshot shows the current state. Anything else run on the connection ends it first, it is
// never kept longer than kReadKeptAtMost, and the background flusher ends it once the
// connection is idle, so a checkpoint is held back briefly at most.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "engine/core/Status.h"
#include "engine/store/PageCache.h"
#include "engine/store/Schema.h"
#include "engine/store/SqliteFiles.h"
#include "engine/store/Storage.h"
#include "engine/store/WriterGate.h"

namespace quire::engine::store {
namespace {

// The page cache of each connection, in KiB. Walking a view of a million documents opens
// them in no order against the note table (about 200 MB of pages): the engine's cache keeps
// a share of those pages as large as its own share of them (PageCache.h), so a larger cache
// saves reads in proportion. Pages are taken only as they are read.
constexpr int kCacheKib = 65536;
// How long one read snapshot may serve consecutive reads.
constexpr std::chrono::milliseconds kReadKeptAtMost{50};
// The first words of the WAL index's header: version, unused, change counter, init flag with
// byte order and page size, last valid frame, page count, frame checksum, salts, checksum.
using WalHeader = std::array<uint32_t, 12>;
constexpr uint32_t kWalIndexVersion = 3007000;

using Clock = std::chrono::steady_clock;

class SqliteConnection;

// Prepared statements by SQL text. A statement in use is taken out of the map as a node and
// put back when it is done, so a statement used again costs neither a copy of its text nor
// an allocation.
using StatementCache = std::map<std::string, sqlite3_stmt*, std::less<>>;

[[noreturn]] void storageError(sqlite3* db, int rc, std::string_view what, const std::string& file) {
  std::string msg = "Database " + file + ": " + std::string(what) + ": ";
  msg += db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  HTSTATUS code = HTFAIL_STORAGE_ERROR;
  if (rc == SQLITE_NOTADB) code = HTFAIL_NOT_A_DATABASE;
  if (rc == SQLITE_NOMEM) code = HTFAIL_NO_MEMORY;
  raise(code, msg);
}

class SqliteStatement final : public Statement {
 public:
  SqliteStatement(SqliteConnection& conn, StatementCache::node_type node)
      : conn_(conn), stmt_(node.mapped()), node_(std::move(node)) {}
  ~SqliteStatement() override;

  Statement& bindNull(int i) override { return check(sqlite3_bind_null(stmt_, i)); }
  Statement& bind(int i, int64_t v) override { return check(sqlite3_bind_int64(stmt_, i, v)); }
  Statement& bind(int i, double v) override { return check(sqlite3_bind_double(stmt_, i, v)); }
  // An empty value is bound from a constant with no copy: SQLite gives every copied value
  // an allocation of its own, even an empty one, and most of a note's text columns are empty.
  Statement& bind(int i, std::string_view t) override {
    if (t.empty()) return check(sqlite3_bind_text64(stmt_, i, "", 0, SQLITE_STATIC, SQLITE_UTF8));
    return check(sqlite3_bind_text64(stmt_, i, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }
  Statement& bindBlob(int i, const void* d, size_t n) override {
    static const uint8_t kEmpty = 0;
    if (n == 0) return check(sqlite3_bind_blob64(stmt_, i, &kEmpty, 0, SQLITE_STATIC));
    return check(sqlite3_bind_blob64(stmt_, i, d, n, SQLITE_TRANSIENT));
  }
  bool step() override;
  bool isNull(int c) override { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
  int64_t int64(int c) override { return sqlite3_column_int64(stmt_, c); }
  double real(int c) override { return sqlite3_column_double(stmt_, c); }
  std::string text(int c) override {
    const unsigned char* t = sqlite3_column_text(stmt_, c);
    return t ? std::string(reinterpret_cast<const char*>(t), size_t(sqlite3_column_bytes(stmt_, c))) : std::string();
  }
  Blob blob(int c) override {
    const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, c));
    return b ? Blob(b, b + sqlite3_column_bytes(stmt_, c)) : Blob();
  }
  std::string_view blobView(int c) override {
    const auto* b = static_cast<const char*>(sqlite3_column_blob(stmt_, c));
    return b ? std::string_view(b, size_t(sqlite3_column_bytes(stmt_, c))) : std::string_view();
  }
  void reset() override {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

 private:
  Statement& check(int rc);
  SqliteConnection& conn_;
  sqlite3_stmt* stmt_;
  StatementCache::node_type node_;
};

class SqliteConnection final : public Connection {
 public:
  SqliteConnection(sqlite3* db, std::string file) : db_(db), file_(std::move(file)) {
    sqlite3_busy_handler(db_, &SqliteConnection::busyWait, this);
  }
  ~SqliteConnection() override {
    endKeptRead();
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    for (auto& [sql, stmt] : control_) sqlite3_finalize(stmt);
    sqlite3_finalize(dataVersion_);
    sqlite3_close_v2(db_);
  }

  int interfaceVersion() const override { return 6; }
  Dialect dialect() const override { return Dialect::Sqlite; }
  std::string name() const override { return file_; }

  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    if (!reading_) endKeptRead();
    auto it = cache_.find(sql);
    if (it == cache_.end()) {
      sqlite3_stmt* stmt = nullptr;
      int rc = sqlite3_prepare_v2(db_, sql.data(), int(sql.size()), &stmt, nullptr);
      if (rc != SQLITE_OK) fail(rc, "cannot prepare \"" + std::string(sql) + "\"");
      it = cache_.emplace(std::string(sql), stmt).first;
    }
    return std::make_unique<SqliteStatement>(*this, cache_.extract(it));
  }

  void exec(std::string_view sql) override {
    if (!reading_) endKeptRead();
    std::string s(sql);
    char* err = nullptr;
    int rc = sqlite3_exec(db_, s.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errstr(rc);
      sqlite3_free(err);
      if ((rc & 0xFF) == SQLITE_CORRUPT) msg += damageFindings(*this);
      raise(rc == SQLITE_NOTADB ? HTFAIL_NOT_A_DATABASE : HTFAIL_STORAGE_ERROR, "Database " + file_ + ": " + msg);
    }
  }

  int64_t lastInsertId() override { return sqlite3_last_insert_rowid(db_); }
  int64_t changes() override { return sqlite3_changes64(db_); }
  void begin() override {
    endKeptRead();
    const bool gated = gate_ && gate_->enter(busyTimeout());
    try {
      control("BEGIN IMMEDIATE");
    } catch (...) {
      if (gated) gate_->leave();
      throw;
    }
    if (gated) gate_->leave();
  }
  bool writersWaiting() override { return gate_ && gate_->othersWaiting(); }
  std::string checkStructure() override;
  void commit() override { control("COMMIT"); }
  void rollback() override {
    endKeptRead();
    if (!sqlite3_get_autocommit(db_)) control("ROLLBACK");
  }
  bool beginRead() override {
    if (kept_.load(std::memory_order_relaxed)) {
      WalHeader now;
      if (readWalHeader(now) && now == keptHeader_ && Clock::now() - readSince_ < kReadKeptAtMost) {
        kept_.store(false, std::memory_order_relaxed);
        reading_ = true;
        return true;
      }
      endKeptRead();
    }
    if (!sqlite3_get_autocommit(db_)) return false;
    // Read before the snapshot exists: a commit between the two makes the kept snapshot look
    // stale when it is not, never the other way round.
    keepable_ = gate_ && readWalHeader(keptHeader_);
    // Deferred: the snapshot is taken by the first statement, and no write lock is asked for.
    control("BEGIN");
    reading_ = true;
    readSince_ = Clock::now();
    return true;
  }
  void endRead() noexcept override {
    reading_ = false;
    commitRead();
  }
  void endReadKeeping() noexcept override {
    reading_ = false;
    if (sqlite3_get_autocommit(db_)) return;
    if (keepable_ && Clock::now() - readSince_ < kReadKeptAtMost) {
      kept_.store(true, std::memory_order_relaxed);
      return;
    }
    commitRead();
  }
  bool readKept() const override { return kept_.load(std::memory_order_relaxed); }
  void endKeptRead() noexcept override {
    if (!kept_.load(std::memory_order_relaxed)) return;
    kept_.store(false, std::memory_order_relaxed);
    commitRead();
  }
  void savepoint(std::string_view n) override {
    endKeptRead();
    control("SAVEPOINT " + std::string(n));
  }
  void release(std::string_view n) override { control("RELEASE " + std::string(n)); }
  void rollbackTo(std::string_view n) override { control("ROLLBACK TO " + std::string(n)); }

  int schemaVersion() override { return int(pragmaInt("PRAGMA user_version")); }
  void setSchemaVersion(int v) override { exec("PRAGMA user_version = " + std::to_string(v)); }
  uint64_t spaceUsed() override {
    return uint64_t(pragmaInt("PRAGMA page_count") - pragmaInt("PRAGMA freelist_count")) *
           uint64_t(pragmaInt("PRAGMA page_size"));
  }
  uint64_t spaceFree() override {
    return uint64_t(pragmaInt("PRAGMA freelist_count")) * uint64_t(pragmaInt("PRAGMA page_size"));
  }
  // Asked before nearly every cached read, so it keeps a statement of its own.
  int64_t dataVersion() override {
    if (!reading_) endKeptRead();
    if (!dataVersion_) {
      const int rc = sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &dataVersion_, nullptr);
      if (rc != SQLITE_OK) fail(rc, "cannot prepare \"PRAGMA data_version\"");
    }
    const int rc = sqlite3_step(dataVersion_);
    const int64_t version = rc == SQLITE_ROW ? sqlite3_column_int64(dataVersion_, 0) : 0;
    sqlite3_reset(dataVersion_);
    if (rc != SQLITE_ROW) fail(rc, "cannot read the data version");
    return version;
  }

  void compact(const Progress& progress) {
    // The count of virtual-machine steps shows that VACUUM moves.
    struct Ticks {
      const Progress* progress;
      uint64_t count = 0;
    } ticks{&progress};
    sqlite3_progress_handler(
        db_, 20'000,
        [](void* p) {
          auto* t = static_cast<Ticks*>(p);
          (*t->progress)(++t->count, 0);
          return 0;
        },
        &ticks);
    try {
      exec("VACUUM");
    } catch (...) {
      sqlite3_progress_handler(db_, 0, nullptr, nullptr);
      throw;
    }
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    // The rewritten pages sit in the write-ahead log until a checkpoint; only then does the
    // file shrink. Readers of other processes may hold it back, which is no failure.
    exec("PRAGMA wal_checkpoint(TRUNCATE)");
    progress(ticks.count, ticks.count);
  }

  int64_t pragmaInt(const char* sql) {
    auto st = prepare(sql);
    return st->step() ? st->int64(0) : 0;
  }

  [[noreturn]] void fail(int rc, std::string_view what) {
    std::string detail(what);
    if ((rc & 0xFF) == SQLITE_CORRUPT) {
      // The check reads the database and replaces the connection's error text: keep it first.
      const std::string message = sqlite3_errmsg(db_);
      const std::string findings = damageFindings(*this);
      raise(HTFAIL_STORAGE_ERROR, "Database " + file_ + ": " + detail + ": " + message + findings);
    }
    storageError(db_, rc, what, file_);
  }

  void giveBack(StatementCache::node_type node) {
    sqlite3_stmt* stmt = node.mapped();
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    // The same text in use twice at once came back as two statements: one is kept.
    if (cache_.size() >= 64 || !cache_.insert(std::move(node)).inserted) sqlite3_finalize(stmt);
  }

  sqlite3* handle() { return db_; }
  void useGate(std::unique_ptr<WriterGate> gate) { gate_ = std::move(gate); }

 private:
  // Polls often: a writer waiting at the gate's head gets the lock within a millisecond of
  // its release (SQLite's own handler sleeps up to 100 ms between tries).
  static int busyWait(void* self, int attempt) {
    auto& conn = *static_cast<SqliteConnection*>(self);
    const auto now = Clock::now();
    if (attempt == 0) conn.busySince_ = now;
    if (now - conn.busySince_ >= busyTimeout()) return 0;
    std::this_thread::sleep_for(std::chrono::microseconds(attempt < 4 ? 250 * (attempt + 1) : 1000));
    return 1;
  }

  // Ending a transaction that wrote nothing cannot lose anything; should COMMIT fail all the
  // same, the rollback still releases the read lock.
  void commitRead() noexcept {
    if (sqlite3_get_autocommit(db_)) return;
    try {
      control("COMMIT");
    } catch (...) {
      if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }

  // The header of the WAL index as the last commit of any connection left it, read from the
  // shared memory SQLite already mapped for this connection. False when there is none (not
  // in WAL mode, or a layout this code does not know): reads are then never kept.
  bool readWalHeader(WalHeader& out) {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
      return false;
    volatile void* region = nullptr;
    if (file->pMethods->xShmMap(file, 0, 32 * 1024, 0, &region) != SQLITE_OK || !region) return false;
    // A writer in another process rewrites these words; each is read whole, and a torn header
    // only ever differs from the remembered one.
    auto* words = static_cast<uint32_t*>(const_cast<void*>(region));
    for (size_t i = 0; i < out.size(); ++i) out[i] = __atomic_load_n(words + i, __ATOMIC_ACQUIRE);
    return out[0] == kWalIndexVersion;
  }

  // Transaction control runs once or twice per write; parsing it each time was a measurable
  // share of a small write. The texts are few (savepoint names are per nesting depth).
  void control(const std::string& sql) {
    sqlite3_stmt*& stmt = control_[sql];
    if (!stmt) {
      int rc = sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &stmt, nullptr);
      if (rc != SQLITE_OK) {
        control_.erase(sql);
        fail(rc, "cannot prepare \"" + sql + "\"");
      }
    }
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) {
      sqlite3_reset(stmt);
      return;
    }
    const std::string message = sqlite3_errmsg(db_);
    sqlite3_reset(stmt);
    if ((rc & 0xFF) == SQLITE_CORRUPT)
      raise(HTFAIL_STORAGE_ERROR, "Database " + file_ + ": " + sql + " failed: " + message + damageFindings(*this));
    raise(rc == SQLITE_NOTADB ? HTFAIL_NOT_A_DATABASE : rc == SQLITE_NOMEM ? HTFAIL_NO_MEMORY : HTFAIL_STORAGE_ERROR,
          "Database " + file_ + ": " + sql + " failed: " + message);
  }

  sqlite3* db_;
  std::string file_;
  StatementCache cache_;
  sqlite3_stmt* dataVersion_ = nullptr;
  std::map<std::string, sqlite3_stmt*> control_;
  std::unique_ptr<WriterGate> gate_;
  Clock::time_point busySince_;
  std::string structure_;  // what checkStructure found, once it ran
  // Read snapshots (beginRead/endRead): inside one, kept open after one, and whether the one
  // begun last may be kept (its WAL header was read before it began).
  bool reading_ = false;
  std::atomic<bool> kept_{false};
  bool keepable_ = false;
  WalHeader keptHeader_{};
  Clock::time_point readSince_;
};

std::string SqliteConnection::checkStructure() {
  if (!structure_.empty()) return structure_;
  // A few findings are enough to tell the kind of damage; the full list is for the
  // administrator's own tools.
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA quick_check(3)", -1, &stmt, nullptr) != SQLITE_OK) {
    structure_ = std::string("cannot run: ") + sqlite3_errmsg(db_);
    return structure_;
  }
  std::string found;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* line = sqlite3_column_text(stmt, 0);
    if (!found.empty()) found += "; ";
    std::string text = line ? reinterpret_cast<const char*>(line) : "";
    for (char& c : text)
      if (c == '\n') c = ' ';  // one line per message
    found += text;
  }
  if (rc != SQLITE_DONE) {
    if (!found.empty()) found += "; ";
    found += std::string("stopped: ") + sqlite3_errmsg(db_);
  }
  sqlite3_finalize(stmt);
  structure_ = found.empty() ? "no result" : found;
  return structure_;
}

SqliteStatement::~SqliteStatement() { conn_.giveBack(std::move(node_)); }

Statement& SqliteStatement::check(int rc) {
  if (rc != SQLITE_OK) conn_.fail(rc, "cannot bind a value");
  return *this;
}

bool SqliteStatement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  conn_.fail(rc, "statement failed");
}

// SQLite would create the file 0644 less the umask, and its -wal and -shm files take the
// database file's mode: made here first, owner-only, so a data directory inside a shared
// folder exposes nothing.
void createOwnerOnly(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int err = errno;
    raise(err == EEXIST ? HTFAIL_DB_EXISTS : HTFAIL_STORAGE_ERROR,
          "Cannot create database " + file + ": " + std::strerror(err));
  }
  const bool ok = ::fchmod(fd, 0600) == 0;
  const int err = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(file.c_str());
    raise(HTFAIL_STORAGE_ERROR, "Cannot create database " + file + ": " + std::strerror(err));
  }
}

// Copies every page of `from` into `to` in steps, reporting pages. A step that finds a lock
// held waits and tries again, for as long as the busy timeout allows.
void copyPages(sqlite3* from, sqlite3* to, const std::string& toName, const Progress& progress) {
  constexpr int kPagesPerStep = 256;
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) storageError(to, sqlite3_errcode(to), "cannot start the page copy", toName);
  int rc = SQLITE_OK;
  int waitedMs = 0;
  while (true) {
    rc = sqlite3_backup_step(backup, kPagesPerStep);
    const auto total = uint64_t(sqlite3_backup_pagecount(backup));
    progress(total - uint64_t(sqlite3_backup_remaining(backup)), total);
    if (rc == SQLITE_OK) continue;
    if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && waitedMs < busyTimeout().count()) {
      sqlite3_sleep(20);
      waitedMs += 20;
      continue;
    }
    break;
  }
  const int finished = sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) storageError(nullptr, rc, "page copy failed", toName);
  if (finished != SQLITE_OK) storageError(to, finished, "page copy failed", toName);
}

struct RawFile {
  sqlite3* db = nullptr;
  ~RawFile() { sqlite3_close_v2(db); }
};

}  // namespace

void backupSqlite(const std::filesystem::path& source, const std::filesystem::path& target, const Progress& progress) {
  auto from = openSqlite(source, {});
  auto& connection = static_cast<SqliteConnection&>(*from);
  // One read transaction around the whole copy: its snapshot is what the backup holds.
  connection.exec("BEGIN");
  connection.pragmaInt("SELECT count(*) FROM sqlite_schema");
  RawFile to;
  const std::string name = target.string();
  // A backup, a copy or a restored database holds what the source holds: owner-only like it.
  createOwnerOnly(name);
  const int rc = sqlite3_open_v2(name.c_str(), &to.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) storageError(to.db, rc, "cannot create the backup", name);
  copyPages(connection.handle(), to.db, name, progress);
  connection.exec("COMMIT");
}

void compactSqlite(Connection& conn, const Progress& progress) {
  auto* sqlite = dynamic_cast<SqliteConnection*>(&conn);
  if (!sqlite) raise(HTFAIL_NOT_IMPLEMENTED, "Compaction needs the SQLite storage backend");
  sqlite->compact(progress);
}

void restoreSqlite(const std::filesystem::path& source, const std::filesystem::path& target, const Progress& progress) {
  auto from = openSqlite(source, {});
  auto to = openSqlite(target, {});
  copyPages(static_cast<SqliteConnection&>(*from).handle(), static_cast<SqliteConnection&>(*to).handle(),
            to->name(), progress);
}

namespace {

// SQLite counts every allocation under a process-wide mutex unless told otherwise; nothing
// here reads those counts, and a save made some forty allocations. The page cache keeps a
// share of the pages of a sweep larger than itself (PageCache.h). Only possible before SQLite
// starts: when the host already started it, the counting and SQLite's own cache stay.
void configureSqliteOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    installPageCache();
    sqlite3_initialize();
  });
}

}  // namespace

std::unique_ptr<Connection> openSqlite(const std::filesystem::path& path, const OpenOptions& options) {
  configureSqliteOnce();
  const std::string file = path.string();
  int flags = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE;
  flags |= options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  if (options.create) {
    createOwnerOnly(file);
    flags |= SQLITE_OPEN_CREATE;
  }
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    sqlite3_close_v2(raw);
    raise(rc == SQLITE_CANTOPEN ? HTFAIL_DB_NOT_FOUND : HTFAIL_STORAGE_ERROR, "Cannot open database " + file + ": " + msg);
  }
  auto conn = std::make_unique<SqliteConnection>(raw, file);
  sqlite3_extended_result_codes(raw, 0);
  // Reading the header first tells a foreign file apart before anything is written to it.
  int64_t appId = conn->pragmaInt("PRAGMA application_id");
  if (!options.create && appId != kApplicationId) {
    raise(HTFAIL_NOT_A_DATABASE, "The file " + file + " is not a database");
  }
  if (options.create) conn->exec("PRAGMA application_id = " + std::to_string(kApplicationId));
  if (!options.readOnly) {
    conn->exec("PRAGMA journal_mode = WAL");
    conn->exec("PRAGMA synchronous = FULL");
    conn->useGate(std::make_unique<WriterGate>(path));
    // Freed pages are zeroed: what a document held before it was deleted, changed or
    // encrypted does not linger in the file's free space.
    conn->exec("PRAGMA secure_delete = ON");
  }
  conn->exec("PRAGMA foreign_keys = ON");
  // Opening documents in view order reads the note table in no order at all: with the
  // default cache of 2 MB nearly every open went to the file again once a database passed a
  // few thousand documents. Pages are taken only as they are read.
  conn->exec("PRAGMA cache_size = -" + std::to_string(kCacheKib));
  return conn;
}

}  // namespace quire::engine::store
