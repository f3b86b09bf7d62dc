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

  // Durability of the next commits, only while lock() is held. Normally every commit is
  // synced to disk (it survives power loss); with delayed commit it reaches the write-ahead
  // log without a sync, which still survives the process being killed but not a power cut.
  void setDelayedCommit(bool delayed);
  // Only while lock() is held.
  store::Connection& conn() { return *conn_; }

 private:
  std::filesystem::path file_;
  std::unique_ptr<store::Connection> conn_;
  std::recursive_mutex mutex_;
  uint32_t serial_;
  bool delayedCommit_ = false;
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

// The handle's object, or HTFAIL_INVALID_HANDLE (recorded) for a stale or foreign handle.
HTSTATUS lookup(HTDBHANDLE handle, std::shared_ptr<DbHandle>& out);

// Opening. `server` as in resolveServer; `path` in API form. Open checks that the session
// user has at least Depositor access where the ACL is enforced.
HTSTATUS open(std::string_view server, std::string_view path, HTUINT flags, HTDBHANDLE& out);
HTSTATUS reopen(HTDBHANDLE handle, HTUINT flags, HTDBHANDLE& out);
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
