// The PostgreSQL backend (PgStorage.h).
//
// Statements are written for SQLite's dialect in the common subset (Storage.h); this file
// turns them into PostgreSQL's once per text: ?N becomes $N, and in schema scripts SQLite's
// column types become PostgreSQL's (INTEGER -> BIGINT, BLOB -> BYTEA, an INTEGER PRIMARY KEY
// -> an identity column). Prepared statements are made on the first run, when the parameter
// types are known (an integer goes as int8, a blob as bytea, text as "unknown" in binary so
// that it lands unchanged in a text or a bytea column), and reused by text and types.
//
// Writers. begin() takes a transaction-scoped advisory lock keyed on the database's schema,
// so writers of one database take turns as they do on a SQLite file: every write then runs
// in READ COMMITTED against the latest committed state, the sequence check of a save cannot
// be overtaken, and serialization failures do not arise between engine clients. A statement
// outside a transaction that still meets one (or a deadlock) is retried a few times.
//
// The writer turn. With several writers the lock is always wanted, so their rate is one over
// the time a save holds it, and that time is round trips. So the lock's round trip also
// brings the data version and the properties table (the change counter and the flags every
// save asks for, which another writer's commit has made stale), and a write marked
// atCommit() (the properties a save changed) goes in one pipeline with the commit. The same
// round trip also draws a note ID from the database's sequence, ahead of the lock and kept
// for the connection's next new note (takeNoteId), so a new note's INSERT needs no answer
// either and goes with the commit. A new document's save then holds the lock for two round
// trips: the lock and the commit. A sequence value does not depend on the lock (nextval is
// never rolled back), so an ID drawn early is as unique as one the INSERT would draw; only
// the order of note IDs no longer follows the order of commits, which nothing reads into
// (change numbers, taken under the lock, keep that order).
//
// Durability without serialising on the disk. Holding the lock through the commit's WAL flush
// would make every writer wait for every other writer's flush, so the write transaction
// commits without waiting for it (its lock goes at once) and, in the same round trip, a tiny
// transaction of the connection's own touches its row in quire.commit_marks and commits
// synchronously. The log is flushed in order, so that flush covers the earlier commit, and the
// flushes of concurrent writers are merged by the server. A save is acknowledged only after
// the second commit. Where quire.commit_marks cannot be written (a server set up by an older
// engine, where this role may not create it), commits stay synchronous under the lock.
//
// Batched reads. A statement marked with manyRows() (ManyRows.h) reads through a cursor, a
// batch of rows (about kBatchBytes) per round trip, so a scan of every document or of a view's
// stored index never holds the whole answer at once. Outside a transaction the cursor gets a
// read-only REPEATABLE READ one of its own, which ends with the last such cursor; a write
// begun meanwhile, or a commit, first fetches what the open cursors still hold, so their scans
// go on after it as a statement's would on SQLite.
//
// Read snapshots (beginRead) use the same kind of transaction, so every statement of a view
// open sees one committed state, as a SQLite read transaction shows it: its BEGIN waits for
// the first statement (none when everything was cached), and scans still open when the
// snapshot ends keep the transaction until they finish.
//
// Data version: every commit bumps quire_state.data_version in the same transaction; a
// connection subtracts its own commits, so the number it reports changes exactly when
// another connection committed (what SQLite's data_version promises). The row is only ever
// written under the lock, which the quick commit now releases together with the row, so it
// adds no waiting of its own. Inside a write transaction the number cannot change (other
// writers wait for the lock), so it is read once, with the lock, not per question.
#include "engine/store/PgStorage.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/store/LibPq.h"
#include "engine/store/ManyRows.h"

namespace quire::engine::store {
namespace {

namespace fs = std::filesystem;

const LibPq& pq() { return libpq(); }

constexpr Oid kInt8 = 20;
constexpr Oid kFloat8 = 701;
constexpr Oid kBytea = 17;
constexpr Oid kBool = 16;
constexpr int kLockClass = 0x5155;  // advisory-lock namespace of this engine ("QU")
constexpr int kRetries = 5;
// Batches of a manyRows() statement: the first small, so that a short answer costs little,
// the next sized from the rows seen so far to about kBatchBytes.
constexpr int kFirstBatch = 256;
constexpr int kMinBatch = 16;
constexpr int kMaxBatch = 16384;
constexpr size_t kBatchBytes = size_t(2) << 20;

// Shared by every Notes database of the server; made once, under an advisory lock so two
// first users do not race on it.
constexpr const char* kCatalogue = R"sql(
CREATE SCHEMA IF NOT EXISTS quire;
CREATE TABLE IF NOT EXISTS quire.databases(
  path TEXT PRIMARY KEY,
  schema_name TEXT NOT NULL UNIQUE
);
CREATE SEQUENCE IF NOT EXISTS quire.schema_ids;
{MARKS}
DO $$ BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_collation WHERE collname = 'nocase'
                 AND collnamespace = 'quire'::regnamespace) THEN
    CREATE COLLATION quire.nocase (provider = icu, locale = 'und-u-ks-level2', deterministic = false);
  END IF;
END $$;
)sql";

// One row per server process, touched by the commit that makes a save durable (see the file
// comment). A session may only see and touch its own row, so nobody can hold another's
// barrier up by locking its row.
constexpr const char* kCommitMarks = R"sql(
CREATE TABLE IF NOT EXISTS quire.commit_marks(
  pid INTEGER PRIMARY KEY,
  mark BIGINT NOT NULL
);
ALTER TABLE quire.commit_marks ENABLE ROW LEVEL SECURITY;
DO $$ BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_policies WHERE schemaname = 'quire' AND tablename = 'commit_marks') THEN
    CREATE POLICY own_mark ON quire.commit_marks USING (pid = pg_backend_pid()) WITH CHECK (pid = pg_backend_pid());
  END IF;
END $$;
GRANT SELECT, INSERT, UPDATE ON quire.commit_marks TO PUBLIC;
)sql";

constexpr const char* kMark =
    "INSERT INTO quire.commit_marks(pid, mark) VALUES(pg_backend_pid(), 1) "
    "ON CONFLICT(pid) DO UPDATE SET mark = quire.commit_marks.mark + 1";

// Read with the writer lock at begin(): every row, a large value left out (it is read when
// asked for), so a save's questions about the change counter and the full-text flag cost no
// round trip of their own while the lock is held.
constexpr const char* kPrefetchProperties =
    "; SELECT name, CASE WHEN octet_length(value) <= 256 THEN value END, "
    "value IS NULL OR octet_length(value) <= 256 FROM properties";

// Sent in the lock's round trip, ahead of the lock, so that a new note's INSERT needs no
// answer under the lock. A role that may not draw from the sequence (a reader, who will be
// refused the save anyway) draws nothing rather than failing the transaction's begin.
constexpr const char* kDrawNoteId =
    "SELECT CASE WHEN has_sequence_privilege('note_ids', 'USAGE, UPDATE') THEN nextval('note_ids') END; ";

struct Locator {
  std::string uri;   // scheme://authority/dbname
  std::string path;  // database path below the server, slash form, letter case folded
};

Locator parse(const std::string& text) {
  const size_t scheme = text.find("://");
  const size_t db = scheme == std::string::npos ? std::string::npos : text.find('/', scheme + 3);
  if (db == std::string::npos || text.find('?') != std::string::npos)
    raise(HTFAIL_SERVER_NOT_FOUND, "The server entry " + text + " is not of the form postgresql://host:port/dbname");
  const size_t rest = text.find('/', db + 1);
  Locator l;
  l.uri = text.substr(0, rest);
  if (rest != std::string::npos) l.path = text.substr(rest + 1);
  return l;
}

std::string sqlState(const PGresult* r) {
  const char* s = r ? pq().PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  return s ? s : "";
}

bool retryable(const std::string& state) { return state == "40001" || state == "40P01"; }

HTSTATUS codeFor(const std::string& state) {
  if (retryable(state)) return HTFAIL_CONFLICT;
  if (state == "42501") return HTFAIL_ACCESS_DENIED;
  if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0) return HTFAIL_SERVER_NOT_FOUND;
  return HTFAIL_STORAGE_ERROR;
}

std::string trimmed(const char* message) {
  std::string m = message ? message : "";
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  return m;
}

struct ResultFree {
  void operator()(PGresult* r) const { pq().PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// ?N -> $N outside literals, reserved column names quoted; in schema scripts also SQLite's
// column types.
std::string translate(std::string_view sql, bool ddl) {
  std::string out;
  out.reserve(sql.size() + 16);
  auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  auto wordAt = [&](size_t i, std::string_view w) {
    if (sql.size() - i < w.size()) return false;
    for (size_t k = 0; k < w.size(); ++k)
      if (std::toupper(static_cast<unsigned char>(sql[i + k])) != w[k]) return false;
    return i + w.size() == sql.size() || !isWord(sql[i + w.size()]);
  };
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const size_t end = sql.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? sql.size() : end + 1;
      out.append(sql.substr(i, stop - i));
      i = stop;
      continue;
    }
    if (c == '$' && i + 1 < sql.size() && sql[i + 1] == '$') {  // a function body passes as written
      const size_t end = sql.find("$$", i + 2);
      const size_t stop = end == std::string_view::npos ? sql.size() : end + 2;
      out.append(sql.substr(i, stop - i));
      i = stop;
      continue;
    }
    if (c == '?') {
      out += '$';
      ++i;
      continue;
    }
    if (isWord(c) && (i == 0 || !isWord(sql[i - 1]))) {
      // A column name that PostgreSQL reserves.
      if (wordAt(i, "COLLATION")) {
        out += "\"collation\"";
        i += 9;
        continue;
      }
      if (ddl && wordAt(i, "INTEGER")) {
        size_t j = i + 7;
        while (j < sql.size() && std::isspace(static_cast<unsigned char>(sql[j]))) ++j;
        if (wordAt(j, "PRIMARY")) {
          size_t k = j + 7;
          while (k < sql.size() && std::isspace(static_cast<unsigned char>(sql[k]))) ++k;
          if (wordAt(k, "KEY")) {
            size_t m = k + 3;
            size_t n = m;
            while (n < sql.size() && std::isspace(static_cast<unsigned char>(sql[n]))) ++n;
            if (wordAt(n, "AUTOINCREMENT")) m = n + 13;
            out += "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
            i = m;
            continue;
          }
        }
        out += "BIGINT";
        i += 7;
        continue;
      }
      if (ddl && wordAt(i, "BLOB")) {
        out += "BYTEA";
        i += 4;
        continue;
      }
      if (ddl && wordAt(i, "REAL")) {
        out += "DOUBLE PRECISION";
        i += 4;
        continue;
      }
      size_t j = i;
      while (j < sql.size() && isWord(sql[j])) ++j;
      out.append(sql.substr(i, j - i));
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

void decodeHex(const char* v, size_t n, Blob& out) {
  out.clear();
  if (n < 2 || v[0] != '\\' || v[1] != 'x') {
    out.assign(v, v + n);
    return;
  }
  auto nibble = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'a' && c <= 'f') return uint8_t(c - 'a' + 10);
    return uint8_t(c - 'A' + 10);
  };
  out.resize((n - 2) / 2);
  for (size_t k = 0; k < out.size(); ++k) out[k] = uint8_t(nibble(v[2 + 2 * k]) << 4 | nibble(v[3 + 2 * k]));
}

class PgConnection;

class PgStatement final : public Statement {
 public:
  // What running the statement does to the id lastInsertId() answers.
  enum class IdEffect {
    Answers,   // an INSERT given a RETURNING clause for the id its trigger assigned: those
               // rows are taken for lastInsertId() and not shown
    None,      // a SELECT
    Unknown,   // anything else may fire a trigger that sets it
  };
  PgStatement(PgConnection& conn, std::string sql, IdEffect effect) : conn_(conn), sql_(std::move(sql)), effect_(effect) {}

  Statement& bindNull(int i) override { return set(i, 'n', {}); }
  Statement& bind(int i, int64_t v) override { return set(i, 'i', std::to_string(v)); }
  Statement& bind(int i, double v) override {
    if (std::isnan(v)) return set(i, 'd', "NaN");
    if (std::isinf(v)) return set(i, 'd', v > 0 ? "Infinity" : "-Infinity");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return set(i, 'd', buf);
  }
  Statement& bind(int i, std::string_view t) override { return set(i, 't', std::string(t)); }
  Statement& bindBlob(int i, const void* d, size_t n) override {
    return set(i, 'b', n ? std::string(static_cast<const char*>(d), n) : std::string());
  }

  bool step() override;
  bool isNull(int c) override { return !valid(c) || pq().PQgetisnull(result_.get(), row_, c); }
  int64_t int64(int c) override {
    if (isNull(c)) return 0;
    const char* v = pq().PQgetvalue(result_.get(), row_, c);
    const Oid type = pq().PQftype(result_.get(), c);
    if (type == kBool) return v[0] == 't' ? 1 : 0;
    if (type == kBytea) {
      decodeHex(v, size_t(pq().PQgetlength(result_.get(), row_, c)), scratch_[c]);
      return std::strtoll(std::string(scratch_[c].begin(), scratch_[c].end()).c_str(), nullptr, 10);
    }
    return std::strtoll(v, nullptr, 10);
  }
  double real(int c) override { return isNull(c) ? 0.0 : std::strtod(pq().PQgetvalue(result_.get(), row_, c), nullptr); }
  std::string text(int c) override {
    const std::string_view v = blobView(c);
    return std::string(v);
  }
  Blob blob(int c) override {
    const std::string_view v = blobView(c);
    return Blob(v.begin(), v.end());
  }
  std::string_view blobView(int c) override {
    if (isNull(c)) return {};
    const char* v = pq().PQgetvalue(result_.get(), row_, c);
    const size_t n = size_t(pq().PQgetlength(result_.get(), row_, c));
    if (pq().PQftype(result_.get(), c) != kBytea) return {v, n};
    Blob& out = scratch_[c];
    decodeHex(v, n, out);
    return {reinterpret_cast<const char*>(out.data()), out.size()};
  }
  void reset() override {
    closeCursor();
    result_.reset();
    pending_.reset();
    lost_ = false;
    params_.clear();
    row_ = -1;
  }
  void markManyRows() { many_ = true; }
  void markAtCommit() { atCommit_ = true; }
  ~PgStatement() override { closeCursor(); }

  // Before the transaction holding the cursor ends: the rows it still holds are fetched, so the
  // scan goes on without it.
  void settle();
  // The transaction ended without settle(): the rest of the rows are gone.
  void lose() {
    if (cursor_.empty()) return;
    cursor_.clear();
    lost_ = true;
  }
  const std::string& cursor() const { return cursor_; }

 private:
  struct Param {
    char kind = 'n';
    std::string value;
  };
  void nextBatch();
  void closeCursor() noexcept;

  Statement& set(int i, char kind, std::string value) {
    if (i < 1 || i > 32766) raise(HTFAIL_STORAGE_ERROR, "Parameter " + std::to_string(i) + " is out of range");
    if (size_t(i) > params_.size()) params_.resize(size_t(i));
    params_[size_t(i) - 1] = {kind, std::move(value)};
    return *this;
  }
  bool valid(int c) const { return result_ && row_ >= 0 && row_ < pq().PQntuples(result_.get()) && c >= 0 && c < pq().PQnfields(result_.get()); }

  PgConnection& conn_;
  std::string sql_;
  IdEffect effect_ = IdEffect::Unknown;
  std::vector<Param> params_;
  Result result_;
  int row_ = -1;
  std::map<int, Blob> scratch_;
  bool many_ = false;
  bool atCommit_ = false;  // may be held back and sent with the commit (atCommit())
  std::string cursor_;  // the open cursor of a manyRows() statement, "" when none
  Result pending_;      // what settle() fetched, read once result_ is
  bool lost_ = false;
  int batch_ = kFirstBatch;
};

class PgConnection final : public Connection {
 public:
  PgConnection(PGconn* conn, Locator where) : conn_(conn), where_(std::move(where)) {}
  ~PgConnection() override { pq().PQfinish(conn_); }

  int interfaceVersion() const override { return 8; }
  Dialect dialect() const override { return Dialect::Postgres; }
  std::string name() const override { return where_.uri + "/" + where_.path; }

  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    std::string key(sql);
    auto it = translated_.find(key);
    if (it == translated_.end()) it = translated_.emplace(key, translateStatement(sql)).first;
    return std::make_unique<PgStatement>(*this, it->second.sql, it->second.effect);
  }

  void exec(std::string_view sql) override {
    insertIdKnown_ = false;
    simple(translate(sql, true), "statement failed");
  }

  // The id the INSERT triggers leave in quire.last_insert_id: taken from the INSERT's own
  // answer when it came through a statement of prepare() (no round trip of its own, while
  // the writer lock is held), asked for otherwise.
  int64_t lastInsertId() override {
    if (insertIdKnown_) return insertId_;
    Result r = run("SELECT current_setting('quire.last_insert_id', true)");
    return pq().PQgetisnull(r.get(), 0, 0) ? 0 : std::strtoll(pq().PQgetvalue(r.get(), 0, 0), nullptr, 10);
  }
  void forgetInsertId() { insertIdKnown_ = false; }
  void noteInsertId(const PGresult* r) {
    const int rows = pq().PQntuples(r);
    // No row (ON CONFLICT DO NOTHING) leaves the setting as a trigger may have left it.
    insertIdKnown_ = rows > 0;
    if (insertIdKnown_)
      insertId_ = pq().PQgetisnull(r, rows - 1, 0) ? 0 : std::strtoll(pq().PQgetvalue(r, rows - 1, 0), nullptr, 10);
  }
  int64_t changes() override { return changes_; }

  void begin() override {
    settleCursors();
    // The lock, the data version and the properties come in the same round trip as BEGIN; a
    // writer holding the lock across calls (delayed commit) is seen by others through
    // writersWaiting().
    if (!hasProperties_)
      hasProperties_ = number("SELECT (to_regclass('properties') IS NOT NULL AND to_regclass('note_ids') IS NOT NULL)::int") != 0;
    // A note ID for the next new note is drawn ahead, before the lock, unless one is waiting.
    const bool draw = hasProperties_ && !reservedId_;
    std::string sql = "BEGIN; ";
    if (draw) sql += kDrawNoteId;
    sql += "SELECT pg_advisory_xact_lock(" + std::to_string(kLockClass) + ", " + std::to_string(lockKey_) +
           "); SELECT data_version FROM quire_state";
    if (hasProperties_) sql += kPrefetchProperties;
    const size_t lock = draw ? 2 : 1;
    for (int attempt = 0;; ++attempt) {
      try {
        std::vector<Result> results = queryAll(sql, "cannot begin a transaction");
        if (results.size() < lock + (hasProperties_ ? 3u : 2u)) fail(nullptr, "cannot begin a transaction");
        if (draw) {
          const PGresult* id = results[1].get();
          if (pq().PQntuples(id) == 1 && !pq().PQgetisnull(id, 0, 0))
            reservedId_ = std::strtoll(pq().PQgetvalue(id, 0, 0), nullptr, 10);
        }
        const PGresult* version = results[lock + 1].get();
        lockedVersion_ = pq().PQntuples(version) ? std::strtoll(pq().PQgetvalue(version, 0, 0), nullptr, 10) : 0;
        versionLocked_ = true;
        if (hasProperties_) keepProperties(results[lock + 2].get());
        return;
      } catch (const Error&) {
        if (pq().PQtransactionStatus(conn_) != PQTRANS_IDLE) simple("ROLLBACK", "rollback failed");
        if (attempt + 1 >= kRetries || lastState_.empty() || !retryable(lastState_)) throw;
        backoff(attempt);
      }
    }
  }
  bool takeBeginProperties(std::vector<PropertyRow>& rows) override {
    if (!propertiesKept_) return false;
    propertiesKept_ = false;
    rows = std::move(properties_);
    properties_.clear();
    return true;
  }

  // The ID drawn with the lock's round trip. Only inside the write transaction begin() opened:
  // any other INSERT assigns its own.
  std::optional<int64_t> takeNoteId() override {
    if (!versionLocked_ || !reservedId_ || pq().PQtransactionStatus(conn_) != PQTRANS_INTRANS) return std::nullopt;
    const std::optional<int64_t> id = reservedId_;
    reservedId_.reset();
    return id;
  }

  void commit() override {
    settleCursors();
    versionLocked_ = false;
    propertiesKept_ = false;
    if (!marks_) {
      try {
        simple("UPDATE quire_state SET data_version = data_version + 1; COMMIT", "commit failed");
      } catch (...) {
        if (pq().PQtransactionStatus(conn_) != PQTRANS_IDLE) pq().PQclear(pq().PQexec(conn_, "ROLLBACK"));
        throw;
      }
      ++ownCommits_;
      return;
    }
    commitThenMark();
  }
  void rollback() override {
    deferred_.clear();
    loseCursors();
    versionLocked_ = false;
    propertiesKept_ = false;
    insertIdKnown_ = false;  // the setting is rolled back with the transaction
    if (pq().PQtransactionStatus(conn_) != PQTRANS_IDLE) simple("ROLLBACK", "rollback failed");
  }
  void savepoint(std::string_view n) override { simple("SAVEPOINT " + std::string(n), "savepoint failed"); }
  void release(std::string_view n) override { simple("RELEASE SAVEPOINT " + std::string(n), "release failed"); }
  void rollbackTo(std::string_view n) override {
    sendDeferred();  // written before the savepoint's end was asked for, undone with the rest
    insertIdKnown_ = false;
    simple("ROLLBACK TO SAVEPOINT " + std::string(n), "rollback failed");
  }

  // A read snapshot is the same read-only REPEATABLE READ transaction that cursors open for
  // themselves. Its BEGIN waits for the first statement, so a snapshot that finds everything
  // cached costs no round trip; one begun while a scan's own read transaction is open takes
  // that one over, since it already shows one state.
  bool beginRead() override {
    if (snapshotHeld_) return false;
    const PGTransactionStatusType status = pq().PQtransactionStatus(conn_);
    if (status == PQTRANS_IDLE) {
      readPending_ = true;
    } else if (!readTx_ || status != PQTRANS_INTRANS) {
      return false;  // a write transaction: reads see its own changes
    }
    snapshotHeld_ = true;
    return true;
  }
  // Scans still open keep the transaction (and so their rows) until the last one ends, as
  // they would had they opened it themselves.
  void endRead() noexcept override {
    snapshotHeld_ = false;
    readPending_ = false;
    if (readTx_ && cursors_.empty()) endReadTx();
  }

  bool writersWaiting() override {
    Result r = run("SELECT EXISTS(SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND classid = " +
                   std::to_string(kLockClass) + " AND objid = " + std::to_string(lockKey_) + " AND NOT granted)");
    return pq().PQgetvalue(r.get(), 0, 0)[0] == 't';
  }

  int schemaVersion() override { return int(number("SELECT schema_version FROM quire_state")); }
  void setSchemaVersion(int v) override {
    simple("UPDATE quire_state SET schema_version = " + std::to_string(v), "cannot set the schema version");
  }
  uint64_t spaceUsed() override {
    return uint64_t(number(
        "SELECT COALESCE(SUM(pg_total_relation_size(c.oid)), 0)::bigint FROM pg_class c "
        "WHERE c.relnamespace = current_schema()::regnamespace AND c.relkind IN ('r', 'm')"));
  }
  // The server reuses free space itself (vacuum); there is nothing a compaction would return.
  uint64_t spaceFree() override { return 0; }
  int64_t dataVersion() override {
    if (versionLocked_ && pq().PQtransactionStatus(conn_) == PQTRANS_INTRANS) return lockedVersion_ - ownCommits_;
    return number("SELECT data_version FROM quire_state") - ownCommits_;
  }

  // --- used by PgStatement and the free functions ---
  PGresult* execute(const std::string& sql, const std::vector<std::pair<char, const std::string*>>& params) {
    startPendingRead();
    sendDeferred();
    std::string types;
    for (const auto& p : params) types += p.first;
    const std::string key = types + '\x01' + sql;
    std::vector<const char*> values(params.size());
    std::vector<int> lengths(params.size()), formats(params.size());
    for (size_t k = 0; k < params.size(); ++k) {
      const char kind = params[k].first;
      values[k] = kind == 'n' ? nullptr : params[k].second->c_str();
      lengths[k] = kind == 'n' ? 0 : int(params[k].second->size());
      formats[k] = kind == 't' || kind == 'b' ? 1 : 0;
    }
    for (int attempt = 0;; ++attempt) {
      const std::string& name = prepared(key, sql, types);
      PGresult* r = pq().PQexecPrepared(conn_, name.c_str(), int(params.size()), values.data(), lengths.data(),
                                   formats.data(), 0);
      const ExecStatusType s = pq().PQresultStatus(r);
      if (s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK) {
        const char* n = pq().PQcmdTuples(r);
        changes_ = n && *n ? std::strtoll(n, nullptr, 10) : 0;
        return r;
      }
      Result owned(r);
      if (attempt + 1 < kRetries && recoverable(owned.get())) {
        backoff(attempt);
        continue;
      }
      fail(owned.get(), "statement failed (" + sql.substr(0, 120) + ")");
    }
  }

  Result run(const std::string& sql) {
    startPendingRead();
    sendDeferred();
    insertIdKnown_ = false;
    Result r(pq().PQexec(conn_, sql.c_str()));
    if (pq().PQresultStatus(r.get()) != PGRES_TUPLES_OK && pq().PQresultStatus(r.get()) != PGRES_COMMAND_OK)
      fail(r.get(), "statement failed");
    return r;
  }
  void simple(const std::string& sql, std::string_view what) { query(sql, what); }
  // Runs `sql` (one or more statements) and answers the last statement's result.
  Result query(const std::string& sql, std::string_view what) {
    startPendingRead();
    sendDeferred();
    insertIdKnown_ = false;
    Result r(pq().PQexec(conn_, sql.c_str()));
    const ExecStatusType s = pq().PQresultStatus(r.get());
    lastState_.clear();
    if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) {
      lastState_ = sqlState(r.get());
      fail(r.get(), what);
    }
    return r;
  }
  // Runs `sql` (several statements) and answers every statement's result; the first failure
  // is thrown once the connection has settled.
  std::vector<Result> queryAll(const std::string& sql, std::string_view what) {
    startPendingRead();
    sendDeferred();
    insertIdKnown_ = false;
    lastState_.clear();
    if (!pq().PQsendQuery(conn_, sql.c_str())) fail(nullptr, what);
    std::vector<Result> out;
    Result failed;
    while (PGresult* raw = pq().PQgetResult(conn_)) {
      Result r(raw);
      const ExecStatusType s = pq().PQresultStatus(r.get());
      if (s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK) out.push_back(std::move(r));
      else if (!failed) failed = std::move(r);
    }
    if (failed) {
      lastState_ = sqlState(failed.get());
      fail(failed.get(), what);
    }
    if (out.empty()) fail(nullptr, what);
    return out;
  }

  // The answer of kPrefetchProperties, kept for takeBeginProperties().
  void keepProperties(const PGresult* r) {
    properties_.clear();
    const int rows = pq().PQntuples(r);
    properties_.reserve(size_t(rows));
    for (int i = 0; i < rows; ++i) {
      PropertyRow row;
      row.name = pq().PQgetvalue(r, i, 0);
      row.fetched = pq().PQgetvalue(r, i, 2)[0] == 't';
      if (row.fetched && !pq().PQgetisnull(r, i, 1)) {
        row.value.emplace();
        decodeHex(pq().PQgetvalue(r, i, 1), size_t(pq().PQgetlength(r, i, 1)), *row.value);
      }
      properties_.push_back(std::move(row));
    }
    propertiesKept_ = true;
  }

  // A statement of atCommit(): kept, to go in the commit's round trip, when the commit will be
  // pipelined (commitThenMark); false when it must run now. Only a write transaction's: in a
  // read transaction (a snapshot's or a scan's) the statement must fail where it stands.
  bool deferToCommit(const std::string& sql, const std::vector<std::pair<char, const std::string*>>& params) {
    if (!marks_ || readTx_ || pq().PQtransactionStatus(conn_) != PQTRANS_INTRANS) return false;
    Deferred d;
    d.sql = sql;
    for (const auto& p : params) {
      d.types += p.first;
      d.values.push_back(*p.second);
    }
    d.name = prepared(d.types + '\x01' + sql, sql, d.types);
    deferred_.push_back(std::move(d));
    changes_ = 0;
    insertIdKnown_ = false;
    return true;
  }
  // Anything but the commit comes first: the statements held back run now, in order.
  void sendDeferred() {
    if (deferred_.empty()) return;
    std::vector<Deferred> held = std::move(deferred_);
    deferred_.clear();
    for (const Deferred& d : held) {
      std::vector<std::pair<char, const std::string*>> params;
      for (size_t k = 0; k < d.values.size(); ++k) params.emplace_back(d.types[k], &d.values[k]);
      const Result done(execute(d.sql, params));
    }
  }

  int64_t number(const std::string& sql) {
    Result r = run(sql);
    return pq().PQntuples(r.get()) && !pq().PQgetisnull(r.get(), 0, 0) ? std::strtoll(pq().PQgetvalue(r.get(), 0, 0), nullptr, 10) : 0;
  }

  [[noreturn]] void fail(const PGresult* r, std::string_view what) {
    const std::string state = sqlState(r);
    std::string msg = r ? trimmed(pq().PQresultErrorMessage(r)) : std::string();
    if (msg.empty()) msg = trimmed(pq().PQerrorMessage(conn_));
    raise(pq().PQstatus(conn_) == CONNECTION_BAD ? HTFAIL_SERVER_NOT_FOUND : codeFor(state),
          "Database " + name() + ": " + std::string(what) + ": " + msg);
  }

  // Called once the schema is known: every statement then names its tables unqualified.
  void enter(const std::string& schema) {
    schema_ = schema;
    const Result r = run("SET search_path TO " + quoted(schema) + ", quire");
    const Result found = run(
        "SELECT oid::bigint, COALESCE(has_schema_privilege('quire', 'USAGE') AND "
        "has_table_privilege(to_regclass('quire.commit_marks'), 'SELECT') AND "
        "has_table_privilege(to_regclass('quire.commit_marks'), 'INSERT') AND "
        "has_table_privilege(to_regclass('quire.commit_marks'), 'UPDATE'), false) "
        "FROM pg_namespace WHERE nspname = current_schema()");
    if (pq().PQntuples(found.get()) != 1) fail(nullptr, "schema " + schema + " is missing");
    lockKey_ = std::strtoll(pq().PQgetvalue(found.get(), 0, 0), nullptr, 10) & 0x7FFFFFFF;
    marks_ = pq().PQgetvalue(found.get(), 0, 1)[0] == 't';
  }
  std::string quoted(const std::string& identifier) {
    char* q = pq().PQescapeIdentifier(conn_, identifier.c_str(), identifier.size());
    if (!q) fail(nullptr, "bad identifier");
    std::string s = q;
    pq().PQfreemem(q);
    return s;
  }

  // --- batched reads (manyRows) ---
  // Declares a cursor for `st` and answers its first batch.
  PGresult* declare(PgStatement& st, const std::string& sql,
                    const std::vector<std::pair<char, const std::string*>>& params, std::string& name) {
    startPendingRead();
    if (pq().PQtransactionStatus(conn_) == PQTRANS_IDLE) beginReadTx();
    std::string taken;
    if (!freeNames_.empty()) {
      taken = std::move(freeNames_.back());
      freeNames_.pop_back();
    } else {
      taken = "quire_rows" + std::to_string(++cursorNames_);
    }
    try {
      // The name is one of a few reused ones, so the declaration is prepared once per scan text.
      const Result declared(execute("DECLARE " + taken + " NO SCROLL CURSOR FOR " + sql, params));
    } catch (...) {
      freeNames_.push_back(std::move(taken));
      if (readTx_ && cursors_.empty() && !snapshotHeld_) endReadTx();
      throw;
    }
    name = taken;
    cursors_.push_back(&st);
    return fetch(name, kFirstBatch);
  }
  PGresult* fetch(const std::string& cursor, int rows) {
    const std::string sql = rows > 0 ? "FETCH FORWARD " + std::to_string(rows) + " FROM " + cursor : "FETCH ALL FROM " + cursor;
    Result r(pq().PQexec(conn_, sql.c_str()));
    if (pq().PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail(r.get(), "cannot read the next rows");
    return r.release();
  }
  // The statement is done with its cursor (read to the end, reset or destroyed).
  void closeCursor(PgStatement& st) noexcept {
    const auto it = std::find(cursors_.begin(), cursors_.end(), &st);
    if (it == cursors_.end()) return;
    cursors_.erase(it);
    if (readTx_ && cursors_.empty() && !snapshotHeld_) {
      endReadTx();
      return;
    }
    // Inside a read snapshot the cursor goes with the snapshot's COMMIT, a round trip saved;
    // its name is free again only then.
    if (snapshotHeld_) return;
    const Result r(pq().PQexec(conn_, ("CLOSE " + st.cursor()).c_str()));
    // A cursor that could not be closed (the transaction failed) keeps its name until it ends.
    if (pq().PQresultStatus(r.get()) == PGRES_COMMAND_OK) freeNames_.push_back(st.cursor());
  }

  PGconn* raw() { return conn_; }
  const Locator& where() const { return where_; }
  const std::string& schema() const { return schema_; }
  bool unpublished = false;

 private:
  // Before a write transaction begins or one commits: open cursors read to their end.
  void settleCursors() {
    if (cursors_.empty()) return;
    const std::vector<PgStatement*> open = cursors_;
    for (PgStatement* st : open) st->settle();
    cursors_.clear();
    if (readTx_) endReadTx();
    freeAllNames();
  }
  void loseCursors() noexcept {
    for (PgStatement* st : cursors_) st->lose();
    cursors_.clear();
    readTx_ = false;
    freeAllNames();
  }
  void beginReadTx() {
    simple("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY", "cannot begin a read transaction");
    readTx_ = true;
  }
  void startPendingRead() {
    if (!readPending_) return;
    readPending_ = false;
    beginReadTx();
  }
  void endReadTx() noexcept {
    pq().PQclear(pq().PQexec(conn_, "COMMIT"));
    readTx_ = false;
    freeAllNames();
  }
  // Every cursor is gone with its transaction.
  void freeAllNames() noexcept {
    freeNames_.clear();
    for (int n = 1; n <= cursorNames_; ++n) {
      const std::string name = "quire_rows" + std::to_string(n);
      if (std::none_of(cursors_.begin(), cursors_.end(), [&](PgStatement* st) { return st->cursor() == name; }))
        freeNames_.push_back(name);
    }
  }

  const std::string& prepared(const std::string& key, const std::string& sql, const std::string& types) {
    auto it = prepared_.find(key);
    if (it != prepared_.end()) return it->second;
    std::vector<Oid> oids;
    for (char t : types) oids.push_back(t == 'i' ? kInt8 : t == 'd' ? kFloat8 : t == 'b' ? kBytea : 0);
    std::string name = "q" + std::to_string(prepared_.size() + 1);
    Result r(pq().PQprepare(conn_, name.c_str(), sql.c_str(), int(oids.size()), oids.data()));
    if (pq().PQresultStatus(r.get()) != PGRES_COMMAND_OK) fail(r.get(), "cannot prepare \"" + sql.substr(0, 200) + "\"");
    return prepared_.emplace(key, std::move(name)).first->second;
  }

  // A serialization failure or deadlock of a statement outside a transaction can run again
  // as it stands; inside one, the whole transaction is lost and the caller must hear of it.
  bool recoverable(const PGresult* r) {
    return retryable(sqlState(r)) && pq().PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }
  static void backoff(int attempt) { std::this_thread::sleep_for(std::chrono::milliseconds(2 << attempt)); }

  // The write transaction commits without waiting for the disk (its lock goes at once), then
  // the connection's mark commits synchronously in the same round trip: see the file comment.
  // The statements held for the commit (atCommit()) go first, in one pipeline with the rest,
  // so the lock covers no round trip of theirs.
  void commitThenMark() {
    lastState_.clear();
    std::vector<Deferred> held = std::move(deferred_);
    deferred_.clear();
    if (!pq().PQenterPipelineMode(conn_)) fail(nullptr, "commit failed");
    bool sent = true;
    for (const Deferred& d : held) {
      std::vector<const char*> values(d.values.size());
      std::vector<int> lengths(d.values.size()), formats(d.values.size());
      for (size_t k = 0; k < d.values.size(); ++k) {
        const char kind = d.types[k];
        values[k] = kind == 'n' ? nullptr : d.values[k].c_str();
        lengths[k] = kind == 'n' ? 0 : int(d.values[k].size());
        formats[k] = kind == 't' || kind == 'b' ? 1 : 0;
      }
      sent = sent && pq().PQsendQueryPrepared(conn_, d.name.c_str(), int(values.size()), values.data(),
                                              lengths.data(), formats.data(), 0);
    }
    auto send = [&](const char* sql) {
      sent = sent && pq().PQsendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0);
    };
    send("UPDATE quire_state SET data_version = data_version + 1");
    send("SET LOCAL synchronous_commit TO off");
    send("COMMIT");
    int syncs = 0;
    if (pq().PQpipelineSync(conn_)) ++syncs;
    send(kMark);
    if (sent && pq().PQpipelineSync(conn_)) ++syncs;
    // Answers: one per statement (each followed by a null), a sync mark after COMMIT and
    // after the mark. After a failure the rest up to the next sync come back aborted.
    const size_t commitAt = held.size() + 2;
    size_t query = 0;
    bool committed = false, marked = false;
    Result failed;
    for (int seen = 0; seen < syncs;) {
      PGresult* raw = pq().PQgetResult(conn_);
      if (!raw) {
        if (pq().PQstatus(conn_) == CONNECTION_BAD) break;
        ++query;
        continue;
      }
      Result r(raw);
      const ExecStatusType st = pq().PQresultStatus(r.get());
      if (st == PGRES_PIPELINE_SYNC) {
        ++seen;
        continue;
      }
      if (st == PGRES_TUPLES_OK || st == PGRES_COMMAND_OK) {
        if (query == commitAt) committed = true;
        if (query == commitAt + 1) marked = true;
      } else if (st != PGRES_PIPELINE_ABORTED && !failed) {
        failed = std::move(r);
      }
    }
    pq().PQexitPipelineMode(conn_);
    if (sent && committed && marked && !failed) {
      ++ownCommits_;
      return;
    }
    if (failed) lastState_ = sqlState(failed.get());
    if (pq().PQtransactionStatus(conn_) != PQTRANS_IDLE) pq().PQclear(pq().PQexec(conn_, "ROLLBACK"));
    // The transaction itself did not commit (or the connection broke before it could say).
    if (!committed) fail(failed.get(), "commit failed");
    // Committed, but the server could not confirm that it reached the disk: the caller must
    // not take the change as saved (nor as lost). The commit is left out of ownCommits_, so
    // this connection's caches see a change and read again what the caller may think undone.
    std::string msg = failed ? trimmed(pq().PQresultErrorMessage(failed.get())) : std::string();
    if (msg.empty()) msg = trimmed(pq().PQerrorMessage(conn_));
    throw UnconfirmedCommit(pq().PQstatus(conn_) == CONNECTION_BAD ? HTFAIL_SERVER_NOT_FOUND : codeFor(lastState_),
                            "Database " + name() +
                                ": the change was committed but the server did not confirm that it is on disk: " + msg);
  }

  struct Translated {
    std::string sql;
    PgStatement::IdEffect effect = PgStatement::IdEffect::Unknown;
  };
  // A single-row INSERT ... VALUES answers the id its trigger assigned (RETURNING is evaluated
  // after the row's BEFORE trigger ran); one fed by a SELECT is left alone, since it may
  // insert many rows.
  static Translated translateStatement(std::string_view sql) {
    Translated t{translate(sql, false)};
    auto has = [&](std::string_view word) {
      for (size_t at = t.sql.find(word); at != std::string::npos; at = t.sql.find(word, at + 1)) {
        const bool before = at == 0 || !std::isalnum(static_cast<unsigned char>(t.sql[at - 1]));
        const size_t end = at + word.size();
        if (before && (end == t.sql.size() || !std::isalnum(static_cast<unsigned char>(t.sql[end])))) return true;
      }
      return false;
    };
    const size_t first = t.sql.find_first_not_of(" \t\n");
    if (first == std::string::npos) return t;
    if (t.sql.compare(first, 7, "SELECT ") == 0) {
      t.effect = PgStatement::IdEffect::None;
    } else if (t.sql.compare(first, 12, "INSERT INTO ") == 0 && has("VALUES") && !has("SELECT") && !has("RETURNING") &&
               t.sql.find(';') == std::string::npos) {
      t.sql += " RETURNING current_setting('quire.last_insert_id', true)";
      t.effect = PgStatement::IdEffect::Answers;
    }
    return t;
  }

  PGconn* conn_;
  Locator where_;
  std::string schema_;
  int64_t lockKey_ = 0;
  bool insertIdKnown_ = false;  // insertId_ is what quire.last_insert_id holds now
  int64_t insertId_ = 0;
  bool marks_ = false;           // commits go through commitThenMark()
  bool hasProperties_ = false;   // the schema has its properties table (a new one has not yet)
  bool propertiesKept_ = false;  // properties_ holds what this transaction's begin() read
  std::vector<PropertyRow> properties_;
  std::optional<int64_t> reservedId_;  // drawn from note_ids by a begin(), not yet handed out
  struct Deferred {
    std::string sql, name, types;
    std::vector<std::string> values;
  };
  std::vector<Deferred> deferred_;  // atCommit() statements held for the commit
  bool versionLocked_ = false;   // lockedVersion_ holds for the open write transaction
  int64_t lockedVersion_ = 0;
  int64_t changes_ = 0;
  int64_t ownCommits_ = 0;
  std::string lastState_;
  std::map<std::string, Translated> translated_;
  std::map<std::string, std::string> prepared_;
  std::vector<PgStatement*> cursors_;  // statements with an open cursor
  bool readTx_ = false;                // a read transaction opened for cursors or a snapshot, not by a caller
  bool snapshotHeld_ = false;          // a read snapshot (beginRead) keeps readTx_ open
  bool readPending_ = false;           // the snapshot's BEGIN waits for its first statement
  int cursorNames_ = 0;
  std::vector<std::string> freeNames_;
};

bool PgStatement::step() {
  if (!result_) {
    std::vector<std::pair<char, const std::string*>> params;
    params.reserve(params_.size());
    for (const Param& p : params_) params.emplace_back(p.kind, &p.value);
    if (atCommit_ && !many_ && conn_.deferToCommit(sql_, params)) return false;
    if (many_) {
      batch_ = kFirstBatch;
      result_.reset(conn_.declare(*this, sql_, params, cursor_));
      if (pq().PQntuples(result_.get()) < kFirstBatch) closeCursor();
    } else {
      result_.reset(conn_.execute(sql_, params));
    }
    row_ = 0;
    if (effect_ == IdEffect::Answers) {
      conn_.noteInsertId(result_.get());
      row_ = pq().PQntuples(result_.get());
    } else if (effect_ == IdEffect::Unknown) {
      conn_.forgetInsertId();
    }
  } else if (row_ < pq().PQntuples(result_.get())) {
    ++row_;
  }
  while (row_ >= pq().PQntuples(result_.get())) {
    if (pending_) {
      result_ = std::move(pending_);
      row_ = 0;
      continue;
    }
    if (lost_)
      raise(HTFAIL_STORAGE_ERROR, "Database " + conn_.name() + ": the transaction ended while its rows were being read");
    if (cursor_.empty()) return false;
    nextBatch();
  }
  return true;
}

void PgStatement::nextBatch() {
  Result r(conn_.fetch(cursor_, batch_));
  const int rows = pq().PQntuples(r.get());
  if (rows < batch_) closeCursor();
  if (rows > 0) {
    size_t bytes = 0;
    const int columns = pq().PQnfields(r.get());
    for (int i = 0; i < rows; ++i)
      for (int c = 0; c < columns; ++c) bytes += size_t(pq().PQgetlength(r.get(), i, c)) + 8;
    batch_ = int(std::clamp<size_t>(kBatchBytes * size_t(rows) / std::max<size_t>(bytes, 1), kMinBatch, kMaxBatch));
  }
  result_ = std::move(r);
  row_ = 0;
}

void PgStatement::settle() {
  if (cursor_.empty()) return;
  pending_.reset(conn_.fetch(cursor_, 0));
  cursor_.clear();
}

void PgStatement::closeCursor() noexcept {
  if (cursor_.empty()) return;
  conn_.closeCursor(*this);
  cursor_.clear();
}

std::atomic<DefaultRoleFn> gDefaultRole{nullptr};

// The role to log in as, or "" to leave it to libpq: an entry or environment that names one
// is the deployment's explicit choice and wins.
std::string loginRole(const Locator& where) {
  const size_t authority = where.uri.find("://") + 3;
  const size_t end = where.uri.find('/', authority);
  if (where.uri.substr(authority, end - authority).find('@') != std::string::npos) return {};
  if (std::getenv("PGUSER") || std::getenv("PGSERVICE")) return {};
  const DefaultRoleFn role = gDefaultRole.load();
  return role ? role() : std::string();
}

std::unique_ptr<PgConnection> connect(const Locator& where) {
  const std::string role = loginRole(where);
  const char* keys[] = {"dbname", "application_name", "connect_timeout", role.empty() ? nullptr : "user", nullptr};
  const char* values[] = {where.uri.c_str(), "quire", "10", role.c_str(), nullptr};
  PGconn* raw = pq().PQconnectdbParams(keys, values, 1);
  if (!raw || pq().PQstatus(raw) != CONNECTION_OK) {
    const std::string msg = raw ? trimmed(pq().PQerrorMessage(raw)) : "out of memory";
    pq().PQfinish(raw);
    raise(HTFAIL_SERVER_NOT_FOUND, "Cannot connect to the server " + where.uri + ": " + msg);
  }
  // Notices (e.g. "schema already exists, skipping") are not for the user of an API.
  pq().PQsetNoticeProcessor(raw, [](void*, const char*) {}, nullptr);
  auto conn = std::make_unique<PgConnection>(raw, where);
  conn->run("SET client_min_messages TO warning");
  return conn;
}

void ensureCatalogue(PgConnection& conn) {
  const Result found = conn.run(
      "SELECT to_regclass('quire.databases') IS NOT NULL, to_regclass('quire.commit_marks') IS NOT NULL");
  const bool catalogue = pq().PQgetvalue(found.get(), 0, 0)[0] == 't';
  if (catalogue && pq().PQgetvalue(found.get(), 0, 1)[0] == 't') return;
  conn.run("BEGIN");
  try {
    conn.run("SELECT pg_advisory_xact_lock(" + std::to_string(kLockClass) + ", 0)");
    const std::string script = std::string(kCatalogue);
    const size_t at = script.find("{MARKS}");
    conn.run(catalogue ? std::string(kCommitMarks) : script.substr(0, at) + kCommitMarks + script.substr(at + 7));
    conn.run("COMMIT");
  } catch (const Error& e) {
    pq().PQclear(pq().PQexec(conn.raw(), "ROLLBACK"));
    // A catalogue made by an older engine, by a role that this one may not add to: its
    // commits then stay synchronous under the lock (PgConnection::enter).
    if (!catalogue || e.code() != HTFAIL_ACCESS_DENIED) throw;
  }
}

std::string literal(PgConnection& conn, const std::string& text) {
  char* q = pq().PQescapeLiteral(conn.raw(), text.c_str(), text.size());
  if (!q) raise(HTFAIL_STORAGE_ERROR, "Cannot quote " + text);
  std::string s = q;
  pq().PQfreemem(q);
  return s;
}

std::optional<std::string> schemaOf(PgConnection& conn, const std::string& path) {
  Result r = conn.run("SELECT schema_name FROM quire.databases WHERE path = " + literal(conn, path));
  if (pq().PQntuples(r.get()) == 0) return std::nullopt;
  return std::string(pq().PQgetvalue(r.get(), 0, 0));
}

PgConnection& pgOf(Connection& c) {
  auto* pg = dynamic_cast<PgConnection*>(&c);
  if (!pg) raise(HTFAIL_INTERNAL, "Not a PostgreSQL connection: " + c.name());
  return *pg;
}

}  // namespace

bool postgresAvailable() { return true; }

Statement& manyRows(Statement& st) {
  if (auto* pg = dynamic_cast<PgStatement*>(&st)) pg->markManyRows();
  return st;
}

Statement& atCommit(Statement& st) {
  if (auto* pg = dynamic_cast<PgStatement*>(&st)) pg->markAtCommit();
  return st;
}

bool isServerUri(std::string_view text) {
  return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

fs::path remoteLocator(const fs::path& root, std::string_view apiPath) {
  std::string path;
  for (char c : apiPath) path += c == '\\' ? '/' : c;
  std::string out = root.native();
  while (!out.empty() && out.back() == '/') out.pop_back();
  return fs::path(out + "/" + foldCase(path));
}

std::unique_ptr<Connection> openRemote(const fs::path& locator, const OpenOptions& options) {
  const Locator where = parse(locator.native());
  if (where.path.empty()) raise(HTFAIL_INVALID_ARGUMENT, "No database path given");
  auto conn = connect(where);
  ensureCatalogue(*conn);
  const std::optional<std::string> existing = schemaOf(*conn, where.path);
  if (!options.create) {
    if (!existing) raise(HTFAIL_DB_NOT_FOUND, "Database " + where.path + " not found on " + where.uri);
    conn->enter(*existing);
    if (options.readOnly) conn->run("SET default_transaction_read_only TO on");
    return conn;
  }
  if (existing) raise(HTFAIL_DB_EXISTS, "A database already exists at " + where.path + " on " + where.uri);
  const std::string schema = "nsf_" + std::to_string(conn->number("SELECT nextval('quire.schema_ids')"));
  conn->run("CREATE SCHEMA " + conn->quoted(schema));
  conn->enter(schema);
  conn->run(
      "CREATE TABLE quire_state(schema_version INTEGER NOT NULL, data_version BIGINT NOT NULL);"
      "INSERT INTO quire_state VALUES(0, 0)");
  conn->unpublished = true;
  return conn;
}

void publishRemote(Connection& created) {
  PgConnection& conn = pgOf(created);
  Result r(pq().PQexec(conn.raw(), ("INSERT INTO quire.databases(path, schema_name) VALUES(" +
                               literal(conn, conn.where().path) + ", " + literal(conn, conn.schema()) + ")")
                                  .c_str()));
  if (pq().PQresultStatus(r.get()) == PGRES_COMMAND_OK) {
    conn.unpublished = false;
    return;
  }
  if (sqlState(r.get()) != "23505") conn.fail(r.get(), "cannot enter the database in the catalogue");
  discardRemote(created);
  raise(HTFAIL_DB_EXISTS, "A database already exists at " + conn.where().path + " on " + conn.where().uri);
}

void discardRemote(Connection& created) noexcept {
  auto* conn = dynamic_cast<PgConnection*>(&created);
  if (!conn || !conn->unpublished) return;
  pq().PQclear(pq().PQexec(conn->raw(), "ROLLBACK"));
  pq().PQclear(pq().PQexec(conn->raw(), ("DROP SCHEMA IF EXISTS " + conn->quoted(conn->schema()) + " CASCADE").c_str()));
  conn->unpublished = false;
}

bool remoteExists(const fs::path& locator) {
  const Locator where = parse(locator.native());
  if (where.path.empty()) return false;
  auto conn = connect(where);
  if (!conn->number("SELECT (to_regclass('quire.databases') IS NOT NULL)::int")) return false;
  return schemaOf(*conn, where.path).has_value();
}

void removeRemote(const fs::path& locator) {
  const Locator where = parse(locator.native());
  auto conn = connect(where);
  ensureCatalogue(*conn);
  conn->run("BEGIN");
  try {
    Result r = conn->run("SELECT schema_name FROM quire.databases WHERE path = " + literal(*conn, where.path) +
                         " FOR UPDATE");
    if (pq().PQntuples(r.get()) == 0) raise(HTFAIL_DB_NOT_FOUND, "Database " + where.path + " not found on " + where.uri);
    const std::string schema = pq().PQgetvalue(r.get(), 0, 0);
    conn->run("DROP SCHEMA " + conn->quoted(schema) + " CASCADE");
    conn->run("DELETE FROM quire.databases WHERE path = " + literal(*conn, where.path));
    conn->run("COMMIT");
  } catch (...) {
    pq().PQclear(pq().PQexec(conn->raw(), "ROLLBACK"));
    throw;
  }
}

void setDefaultRole(DefaultRoleFn role) { gDefaultRole.store(role); }

std::unique_ptr<Connection> openServer(const fs::path& root) {
  Locator where = parse(root.native());
  where.path.clear();
  auto conn = connect(where);
  ensureCatalogue(*conn);
  conn->run("SET search_path TO quire");
  return conn;
}

std::vector<std::string> listRemote(const fs::path& root) {
  Locator where = parse(root.native());
  where.path.clear();
  auto conn = connect(where);
  std::vector<std::string> out;
  if (!conn->number("SELECT (to_regclass('quire.databases') IS NOT NULL)::int")) return out;
  Result r = conn->run("SELECT path FROM quire.databases ORDER BY path");
  for (int i = 0; i < pq().PQntuples(r.get()); ++i) out.emplace_back(pq().PQgetvalue(r.get(), i, 0));
  return out;
}

}  // namespace quire::engine::store
