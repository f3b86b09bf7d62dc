// The storage interface: everything above engine/store reaches a database file only through
// these classes, so a backend other than SQLite (e.g. a PostgreSQL server shared by many
// machines) can replace it without a change above.
//
// The interface is SQL-level: a Connection runs statements written in the common subset of
// SQL that both SQLite and PostgreSQL accept (parameters as ?1..?N, INTEGER/REAL/TEXT/BLOB
// columns, ON CONFLICT ... DO UPDATE, no backend-specific functions). Code that needs a
// backend feature (FTS5) asks `dialect()` first and offers a fallback.
//
// Versioning (like a VFS's iVersion): `interfaceVersion()` tells which methods a backend
// implements. Version 1 is everything below. A method added later gets a default
// implementation here that falls back on version-1 methods, and its comment names the
// version that introduced it. Version 2 added Statement::blobView, version 3
// Connection::writersWaiting, version 4 checkStructure, version 5 beginRead and endRead,
// version 6 endReadKeeping, readKept and endKeptRead, version 7 takeBeginProperties, version 8
// takeNoteId.
//
// Errors: every method throws Error (core/Status.h) with HTFAIL_STORAGE_ERROR (or
// HTFAIL_NOT_A_DATABASE / HTFAIL_SCHEMA_TOO_NEW when opening) and a message naming the file.
// "No row" is not an error: step() returns false.
//
// Threads: a Connection and its Statements are used by one thread at a time; db::Database
// serialises access with its mutex. Statements must not outlive their Connection.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quire::engine::store {

enum class Dialect { Sqlite, Postgres };

using Blob = std::vector<uint8_t>;

class Statement {
 public:
  virtual ~Statement() = default;

  // Parameters are numbered from 1. Binding returns *this so calls chain.
  virtual Statement& bindNull(int index) = 0;
  virtual Statement& bind(int index, int64_t value) = 0;
  virtual Statement& bind(int index, double value) = 0;
  virtual Statement& bind(int index, std::string_view text) = 0;
  virtual Statement& bindBlob(int index, const void* data, size_t size) = 0;
  Statement& bind(int index, int value) { return bind(index, int64_t(value)); }
  Statement& bind(int index, uint32_t value) { return bind(index, int64_t(value)); }
  Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
  Statement& bind(int index, const std::string& text) { return bind(index, std::string_view(text)); }
  Statement& bindBlob(int index, const Blob& blob) { return bindBlob(index, blob.data(), blob.size()); }

  // Runs the statement or advances to its next row: true while a row is available.
  virtual bool step() = 0;
  // Runs a statement that returns no rows.
  void run() {
    while (step()) {
    }
  }

  // Columns of the current row, numbered from 0. A NULL reads as 0, 0.0, "" or no bytes.
  virtual bool isNull(int column) = 0;
  virtual int64_t int64(int column) = 0;
  virtual double real(int column) = 0;
  virtual std::string text(int column) = 0;
  virtual Blob blob(int column) = 0;
  // Interface version 2: the column's bytes without a copy, valid until the statement steps,
  // is reset or destroyed. The default copies them into the statement.
  virtual std::string_view blobView(int column) {
    viewScratch_ = blob(column);
    return {reinterpret_cast<const char*>(viewScratch_.data()), viewScratch_.size()};
  }

  // Makes the statement runnable again with new bindings (old bindings are cleared).
  virtual void reset() = 0;

 private:
  Blob viewScratch_;
};

class Connection {
 public:
  static constexpr int kInterfaceVersion = 8;

  virtual ~Connection() = default;
  virtual int interfaceVersion() const { return 1; }
  virtual Dialect dialect() const = 0;
  // The file (or a description of the remote database) for messages.
  virtual std::string name() const = 0;

  virtual std::unique_ptr<Statement> prepare(std::string_view sql) = 0;
  // Runs one or more statements that return no rows (schema scripts).
  virtual void exec(std::string_view sql) = 0;
  virtual int64_t lastInsertId() = 0;
  virtual int64_t changes() = 0;

  // Transactions; use store::Transaction rather than calling these directly. begin() takes
  // the write lock at once, so two writers never deadlock on a lock upgrade.
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  virtual void savepoint(std::string_view name) = 0;
  virtual void release(std::string_view name) = 0;
  virtual void rollbackTo(std::string_view name) = 0;

  // Interface version 3: whether another connection (another process) is waiting for the
  // write lock, so that one holding it across calls gives way. The default knows of none.
  virtual bool writersWaiting() { return false; }

  // Interface version 4: after an error that suggests the database is damaged, what the
  // backend's own structural check finds ("ok" when it finds nothing), so a message can tell
  // a damaged file from a record damaged on its own. Empty when the backend has no such
  // check. Never throws; may read the whole database, so backends run it once per connection.
  virtual std::string checkStructure() { return {}; }

  // Interface version 5: a read transaction, so that several statements see one committed
  // state and the backend takes its read lock once for all of them instead of once per
  // statement. Use store::ReadSnapshot rather than calling these. beginRead() answers false,
  // and starts nothing, when a transaction is already open on the connection or the backend
  // has no such thing (the default); endRead() is then not called. Nothing may be written
  // between the two.
  virtual bool beginRead() { return false; }
  virtual void endRead() noexcept {}

  // Interface version 6: endReadKeeping() ends a read like endRead() but lets the backend
  // keep its read transaction open, so that the next beginRead() reuses it instead of taking
  // the read lock again, provided nothing was committed to the database since it began; any
  // other use of the connection ends it first. While kept it holds back the backend's
  // housekeeping (a SQLite checkpoint cannot pass it), so only a caller that also starts the
  // background flusher (db::startFlusher) asks for it: the flusher calls endKeptRead() once
  // the connection falls idle. readKept() may be asked from any thread without the lock.
  virtual void endReadKeeping() noexcept { endRead(); }
  virtual bool readKept() const { return false; }
  virtual void endKeptRead() noexcept {}

  // Interface version 7: the rows of the `properties` table, when the backend read them in
  // the same round trip as the write lock of the transaction begin() just opened (a server
  // backend, where every statement made under the lock keeps other writers waiting). Handed
  // over once: true and every row of the table, in `rows`; a value the backend chose not to
  // fetch (a large one) comes as `fetched` false. False when it read none (the default), or
  // when they were already taken in this transaction.
  struct PropertyRow {
    std::string name;
    bool fetched = true;
    std::optional<Blob> value;  // nullopt: SQL NULL (or not fetched)
  };
  virtual bool takeBeginProperties(std::vector<PropertyRow>& rows) {
    (void)rows;
    return false;
  }

  // Interface version 8: a note ID for the next new note of the open write transaction, when
  // the backend drew one from the database's note sequence before it took the write lock (a
  // server backend: a new note's INSERT then needs no answer and can go with the commit).
  // Handed over once and never again, whether or not the transaction commits; an ID drawn
  // but not taken waits for a later transaction of this connection. Nothing (the default)
  // when the backend has none: the INSERT then assigns the ID itself.
  virtual std::optional<int64_t> takeNoteId() { return std::nullopt; }

  // The schema version of the core tables (store/Schema.h).
  virtual int schemaVersion() = 0;
  virtual void setSchemaVersion(int version) = 0;

  // Bytes in use by the data and bytes allocated but free (what compaction would return).
  virtual uint64_t spaceUsed() = 0;
  virtual uint64_t spaceFree() = 0;

  // A number that changes whenever another connection commits a change to this database,
  // so caches can tell that they are stale.
  virtual int64_t dataVersion() = 0;

  // Bookkeeping of the typed helpers above the interface, kept with the connection so it
  // lives and dies with it: store::Transaction counts outermost transactions here,
  // store/Properties.cpp keeps its cache of property values and store/AclStore.cpp its ACL.
  uint64_t transactionSerial = 0;  // bumped at every outermost begin() and beginRead()
  bool readSnapshot = false;       // a store::ReadSnapshot's read transaction is open
  std::shared_ptr<void> propertyCache;
  std::shared_ptr<void> aclCache;  // store/AclStore.cpp's entries, trusted per ACL generation
};

// "; quick check: ..." with what checkStructure finds, or "" when the backend has no check:
// appended to the message of an error raised for damaged data.
inline std::string damageFindings(Connection& conn) {
  const std::string found = conn.checkStructure();
  return found.empty() ? std::string() : "; quick check: " + found;
}

struct OpenOptions {
  bool create = false;    // create a new, empty file (fails when it exists)
  bool readOnly = false;  // never write (used to peek at titles while listing)
};

// Opens (or creates) the SQLite file at `path`. Checks that it is a database of this engine
// (HTFAIL_NOT_A_DATABASE otherwise) but does not apply the schema: see store/Schema.h.
std::unique_ptr<Connection> openSqlite(const std::filesystem::path& path, const OpenOptions& options);

}  // namespace quire::engine::store
