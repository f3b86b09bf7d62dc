// Open databases and their handles.
//
// A `Database` is the in-process object of one database file, shared by every handle open on
// that file (reference-counted; HTDatabaseReopen adds a handle to the same object). It owns
// the storage connection and a mutex that serialises all use of it:
//
//   auto db = handle->database();
//   auto lock = db->lock();                 // hold while using db->conn()
//   store::Transaction tx(db->conn());      // every write in one transaction
//   ...
//   tx.commit();
//
// A `DbHandle` is what an HTDBHANDLE stands for: the database, the server it was opened
// through (which decides whether the ACL is enforced, db/Access.h), the per-handle settings
// and the list cursors of the handle. Other areas look a handle up with `lookup` and keep the
// shared_ptr<Database> in their own objects (a document holds its database, not the handle,
// so closing the database handle does not pull the file from under an open document).
//
// Delayed commit (HTDATABASE_DELAY_COMMIT on the handle, or HTSESSION_DELAY_COMMIT): writes
// made through such a handle use commitMode() == store::Commit::Grouped, so they collect in
// one open SQLite transaction per Database (store/Transaction.h) and are committed together:
// after store::batchLimits().writes writes, at the first write once the batch is older than
// store::batchLimits().age, at the first write that finds another process waiting for the
// write lock, by a background flusher once the batch has been idle that long or another
// process waits for it (so a writer elsewhere is held up by one write, or a pause of the
// flusher's period, not by the batch age), when any write without delayed commit ends on
// the Database, when delayed commit is turned off, when a handle of the Database closes, at
// HTTerm and at process exit.
//
// Durability contract: without delayed commit every write is a synced commit before its call
// returns (it survives kill -9 and power loss). With delayed commit a write is durable once
// its batch commits -- at most about the batch age later, or at close; a process killed
// before that loses the writes of the open batch, whole writes only, and never damages the
// file. A batch that fails to commit is lost as a whole, and its error is returned by the call
// that committed it (a save, a close, HTTerm), or, when the background flusher hit it, by the
// next write or close on that Database; it is never reported as success. In-process readers
// share the connection and see the open batch at once.
//
// Thread-safe: the registry and each Database have their own mutex; a DbHandle is used by one
// thread at a time (hitest.h convention 10).
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/core/ListCursor.h"
#include "engine/db/Session.h"
#include "engine/store/Storage.h"
#include "engine/store/Transaction.h"
#include "hitest/hitest.h"

namespace quire::engine::db {

class Database {
 public:
  Database(std::filesystem::path file, std::unique_ptr<store::Connection> conn);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::filesystem::path& file() const { return file_; }
  // A process-unique number for this open file (HTDatabaseGetNotesHandle).
  uint32_t serial() const { return serial_; }

  std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock(mutex_); }
  // The lock when no other thread holds it (the flusher and exit never wait for a writer).
  std::unique_lock<std::recursive_mutex> tryLock() { return std::unique_lock(mutex_, std::try_to_lock); }

  // Commits the open batch of delayed commits, only while lock() is held. Throws Error with
  // the commit's failure, or with the failure the background flusher met since the last call.
  void flush();
  // Only while lock() is held.
  store::Connection& conn() { return *conn_; }

 private:
  std::filesystem::path file_;
  std::unique_ptr<store::Connection> conn_;
  std::recursive_mutex mutex_;
  uint32_t serial_;
};

// Per-handle settings (HTDATABASE_* properties that are not stored in the file).
struct HandleSettings {
  uint32_t summaryLimit = 0;
  uint32_t delayCommit = 0;
  uint32_t strictBind = 0;
  uint32_t fetchDesignFormula = 0;
  uint32_t viewCacheRows = 0;
};

class DbHandle {
 public:
  DbHandle(std::shared_ptr<Database> db, ServerRef server, std::string apiPath, HTUINT flags)
      : db_(std::move(db)), server_(std::move(server)), apiPath_(std::move(apiPath)), flags_(flags) {}

  const std::shared_ptr<Database>& database() const { return db_; }
  const ServerRef& server() const { return server_; }
  // The path relative to the server's directory, backslash form ("mail\abc.nsf").
  const std::string& apiPath() const { return apiPath_; }
  HTUINT openFlags() const { return flags_; }

  HandleSettings settings;
  // List cursors of the design lists (key: note class) and of the ACL.
  std::map<uint32_t, ListCursor<HTLISTREC>> designCursors;
  ListCursor<HTACLENTRY> aclCursor;

 private:
  std::shared_ptr<Database> db_;
  ServerRef server_;
  std::string apiPath_;
  HTUINT flags_;
};

// How a write through `h` commits: grouped while the handle or the session asks for delayed
// commit (this also starts the background flusher), else at once.
store::Commit commitMode(const DbHandle& h);
// Starts (once per process) the background flusher, which also ends the read transactions
// a connection keeps open between reads (store::Connection::readKept) once it falls idle.
// Whoever may leave a read kept calls it.
void startFlusher();

// Commits the open batch of every Database of this process. Returns the first failure
// (recorded), after trying them all.
HTSTATUS flushAll();

// The handle's object, or HTFAIL_INVALID_HANDLE (recorded) for a stale or foreign handle.
HTSTATUS lookup(HTDBHANDLE handle, std::shared_ptr<DbHandle>& out);

// Opening. `server` as in resolveServer; `path` in API form. Open checks that the session
// user has at least Depositor access where the ACL is enforced.
HTSTATUS open(std::string_view server, std::string_view path, HTUINT flags, HTDBHANDLE& out);
HTSTATUS reopen(HTDBHANDLE handle, HTUINT flags, HTDBHANDLE& out);
// Closes the handle and commits its Database's open batch; a failed commit is returned, the
// handle is closed all the same.
HTSTATUS close(HTDBHANDLE handle);

struct CreateOptions {
  std::string title;
  std::string templatePath;  // API path on the same server; its design notes are copied
  HTINT dbClass = HTDBCLASS_DATABASE;
};
HTSTATUS create(std::string_view server, std::string_view path, const CreateOptions& options);
// Refuses (HTFAIL_DB_IN_USE) while any handle or object of this process has the file open;
// needs Manager access where the ACL is enforced.
HTSTATUS remove(std::string_view server, std::string_view path);

// The shared Database of `file` if this process has it open.
std::shared_ptr<Database> findOpen(const std::filesystem::path& file);

// Opens `file` for engine-internal use (e.g. mail routing into another database), sharing
// the Database object with API handles. No access check: the caller decides.
std::shared_ptr<Database> openFile(const std::filesystem::path& file);

}  // namespace quire::engine::db
