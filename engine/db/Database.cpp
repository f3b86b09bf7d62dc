#include "engine/db/Database.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/core/DateTime.h"
#include "engine/core/Files.h"
#include "engine/core/Handles.h"
#include "engine/core/Paths.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/ServerSecurity.h"
#include "engine/store/AclStore.h"
#include "engine/store/Locator.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Properties.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::db {
namespace {

namespace fs = std::filesystem;

std::mutex gRegistryMutex;
// Never destroyed: closing databases at HTTerm, which may run from the host's exit handler,
// still looks here after later-made statics are gone.
std::map<std::string, std::weak_ptr<Database>>& registry() {
  static auto* r = new std::map<std::string, std::weak_ptr<Database>>;
  return *r;
}
std::atomic<uint32_t> gSerial{0};

std::string key(const fs::path& file) {
  if (store::isRemote(file)) return file.native();
  std::error_code ec;
  fs::path c = fs::weakly_canonical(file, ec);
  return (ec ? file : c).string();
}

store::Blob randomBytes(size_t n) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  store::Blob b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

std::string describe(const ServerRef& server, std::string_view path) {
  return std::string(path) + (server.named ? " on server " + server.name : std::string());
}

HTSTATUS resolveDatabase(std::string_view server, std::string_view path, ServerRef& ref, paths::Resolved& resolved) {
  if (HTSTATUS s = resolveServer(server, ref)) return s;
  if (trim(path).empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No database path given");
  return paths::resolve(ref.root, path, resolved);
}

bool isDatabaseFile(const fs::path& file) { return store::exists(file); }

void initialise(store::Connection& conn, const CreateOptions& options, const ServerRef& server) {
  const int64_t now = dt::pack(dt::now());
  store::prop::set(conn, store::prop::kTitle, options.title);
  store::prop::setBlob(conn, store::prop::kReplicaId, randomBytes(8));
  store::prop::setBlob(conn, store::prop::kDbId, randomBytes(8));
  store::prop::set(conn, store::prop::kCreated, now);
  store::prop::set(conn, store::prop::kDataModified, now);
  store::prop::set(conn, store::prop::kDesignModified, now);
  store::prop::set(conn, store::prop::kClass, int64_t(options.dbClass));
  store::prop::set(conn, store::prop::kReplicaPriority, int64_t(HTREPLPRIORITY_MEDIUM));
  store::prop::set(conn, store::prop::kUniformAccess, int64_t(0));
  store::prop::set(conn, store::prop::kFtIndexed, int64_t(0));
  // The creator manages the new database. Everyone else may work in a local one; a server
  // database is closed to anyone not listed until its manager opens it up.
  store::acl::Entry manager{userName(), HTACLLEVEL_MANAGER, 0, {}};
  store::acl::Entry others{store::acl::kDefaultEntry, server.named ? HTACLLEVEL_NO_ACCESS : HTACLLEVEL_AUTHOR, 0, {}};
  store::acl::insert(conn, manager);
  store::acl::insert(conn, others);
}

void copyDesign(store::Connection& from, store::Connection& to) {
  auto st = from.prepare("SELECT note_id FROM notes WHERE note_class <> ?1 AND deleted = 0 ORDER BY note_id");
  st->bind(1, int64_t(store::note_class::kDocument));
  std::vector<HTID> ids;
  while (st->step()) ids.push_back(HTID(st->int64(0)));
  for (HTID id : ids) {
    auto note = store::readNote(from, id);
    if (!note) continue;
    store::NoteHeader copy = *note;
    copy.id = 0;
    copy.unid = UNID{};
    copy.created = copy.modified = copy.sequenceTime = 0;
    copy.sequence = 1;
    HTID newId = store::insertNote(to, copy);
    store::writeItems(to, newId, store::readItems(from, id));
  }
}

void fill(store::Connection& conn, const CreateOptions& options, const ServerRef& server,
          const std::shared_ptr<Database>& templ) {
  store::applySchema(conn);
  store::Transaction tx(conn);
  initialise(conn, options, server);
  if (templ) {
    auto lock = templ->lock();
    copyDesign(templ->conn(), conn);
  }
  tx.commit();
}

// On a PostgreSQL server the new database is a schema that enters the catalogue only once it
// is complete, for the same reason as the private file below.
void buildRemote(const fs::path& locator, const CreateOptions& options, const ServerRef& server,
                 const std::shared_ptr<Database>& templ) {
  auto conn = store::openRemote(locator, {.create = true});
  try {
    fill(*conn, options, server, templ);
    store::publishRemote(*conn);
  } catch (...) {
    store::discardRemote(*conn);
    throw;
  }
  // Only a catalogued database can have its grants applied; one whose grants cannot be is
  // taken away again, so that a failed create leaves nothing behind.
  try {
    store::Transaction tx(*conn);
    security::syncGrants(*conn, server.root);
    tx.commit();
  } catch (...) {
    conn.reset();
    try {
      store::removeRemote(locator);
    } catch (const Error&) {
    }
    throw;
  }
}

// Builds the new database in a private file, then links it into place, so no other process
// ever opens a half-made database and two creators cannot both win.
void buildAndPublish(const fs::path& file, const CreateOptions& options, const ServerRef& server,
                     const std::shared_ptr<Database>& templ) {
  fs::path tmp = file;
  tmp += ".creating." + std::to_string(::getpid()) + "." + std::to_string(std::random_device{}());
  try {
    {
      auto conn = store::openSqlite(tmp, {.create = true});
      fill(*conn, options, server, templ);
    }
    if (::link(tmp.c_str(), file.c_str()) != 0) {
      if (errno == EEXIST) raise(HTFAIL_DB_EXISTS, "A database already exists at " + file.string());
      files::raiseErrno(errno, "Cannot create", file);
    }
  } catch (...) {
    for (const char* suffix : {"", "-wal", "-shm", "-gate"}) ::unlink((tmp.string() + suffix).c_str());
    throw;
  }
  for (const char* suffix : {"", "-wal", "-shm", "-gate"}) ::unlink((tmp.string() + suffix).c_str());
}

// Every Database of the registry that is still alive.
std::vector<std::shared_ptr<Database>> openDatabases() {
  std::vector<std::shared_ptr<Database>> out;
  std::lock_guard lock(gRegistryMutex);
  for (auto& [k, weak] : registry())
    if (auto db = weak.lock()) out.push_back(std::move(db));
  return out;
}

// Commits a batch without a caller to report to (background, exit): the failure is kept for
// the Database's next write or close; the note on stderr is for a process that has none.
void flushUnattended(Database& db) {
  auto lock = db.tryLock();
  if (!lock.owns_lock()) return;  // its holder is writing and will commit the batch itself
  std::string error;
  if (!store::flushBatchDeferred(db.conn(), &error))
    std::fprintf(stderr, "quire: database %s: %s\n", db.file().c_str(), error.c_str());
}

// The background flusher: commits batches that nobody has written to for the batch age, so
// an idle writer does not hold the file's write lock against other processes. Its state is
// never destroyed, because the exit handler stops it after static destructors may have run.
struct Flusher {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;
  pid_t owner = 0;
};

Flusher& flusher() {
  static auto* f = new Flusher;
  return *f;
}

void sweep() {
  const auto idle = store::batchLimits().age;
  std::vector<std::shared_ptr<Database>> open;
  {
    // Only databases with a batch are held, and only briefly: holding others would make a
    // delete right after their close see them still open.
    std::lock_guard lock(gRegistryMutex);
    for (auto& [k, weak] : registry()) {
      auto db = weak.lock();
      if (db && (store::batchOpen(db->conn()) || db->conn().readKept())) open.push_back(std::move(db));
    }
  }
  // A batch whose writer paused gives way to another process's writer at once, not only
  // after the batch age. Asking whether anyone waits may use the connection (a PostgreSQL
  // server is asked over it), which only the holder of the database lock may touch.
  for (auto& db : open) {
    auto lock = db->tryLock();
    if (!lock.owns_lock()) continue;  // its holder is writing and will commit the batch itself
    // Nobody is reading just now: a read kept open for the next one would only hold back
    // checkpoints from here on.
    db->conn().endKeptRead();
    if (store::batchIdle(db->conn(), idle) || store::batchWaitedFor(db->conn())) flushUnattended(*db);
  }
}

void runFlusher() {
  Flusher& f = flusher();
  std::unique_lock lock(f.mutex);
  while (!f.stopping) {
    // Short enough that a changed batch age takes effect soon and that a writer of another
    // process waits little for a batch whose writer paused.
    const auto age = store::batchLimits().age;
    f.wake.wait_for(lock, std::clamp(age / 4, std::chrono::milliseconds(5), std::chrono::milliseconds(20)));
    if (f.stopping) break;
    lock.unlock();
    sweep();
    lock.lock();
  }
}

// At exit the handle table (never destroyed) still holds open databases: their batches are
// committed here. A forked child that exits this way has neither the parent's flusher thread
// nor its batches (flushBatch ignores them).
void atExit() {
  Flusher& f = flusher();
  if (f.owner == ::getpid()) {
    {
      std::lock_guard lock(f.mutex);
      f.stopping = true;
    }
    f.wake.notify_all();
    if (f.thread.joinable()) f.thread.join();
  }
  for (auto& db : openDatabases()) flushUnattended(*db);
}

}  // namespace

void startFlusher() {
  static std::once_flag once;
  std::call_once(once, [] {
    Flusher& f = flusher();
    f.owner = ::getpid();
    f.thread = std::thread(runFlusher);
    std::atexit(atExit);
  });
}

Database::Database(fs::path file, std::unique_ptr<store::Connection> conn)
    : file_(std::move(file)), conn_(std::move(conn)), serial_(++gSerial) {}

Database::~Database() {
  auto lock = this->lock();
  std::string error;
  // Close and HTTerm flush with a caller to tell; this is for holders that let go last
  // without one (a document outliving its database handle).
  if (!store::flushBatchDeferred(*conn_, &error))
    std::fprintf(stderr, "quire: database %s: %s\n", file_.c_str(), error.c_str());
  store::forgetConnection(*conn_);
}

void Database::flush() { store::flushBatch(*conn_); }

store::Commit commitMode(const DbHandle& h) {
  if (h.settings.delayCommit == 0 && settings().delayCommit == 0) return store::Commit::Now;
  startFlusher();
  return store::Commit::Grouped;
}

HTSTATUS flushAll() {
  HTSTATUS first = HTSUCCESS;
  std::string detail;
  for (auto& db : openDatabases()) {
    auto lock = db->lock();
    try {
      db->flush();
    } catch (const Error& e) {
      if (first == HTSUCCESS) {
        first = e.code();
        detail = e.what();
      }
    }
  }
  return first == HTSUCCESS ? HTSUCCESS : fail(first, detail);
}

std::shared_ptr<Database> findOpen(const fs::path& file) {
  std::lock_guard lock(gRegistryMutex);
  auto it = registry().find(key(file));
  if (it == registry().end()) return nullptr;
  auto db = it->second.lock();
  if (!db) registry().erase(it);
  return db;
}

std::shared_ptr<Database> openFile(const fs::path& file) {
  std::lock_guard lock(gRegistryMutex);
  const std::string k = key(file);
  if (auto it = registry().find(k); it != registry().end()) {
    if (auto db = it->second.lock()) return db;
  }
  auto conn = store::open(file, {});
  store::applySchema(*conn);
  auto db = std::make_shared<Database>(fs::path(k), std::move(conn));
  registry()[k] = db;
  return db;
}

HTSTATUS lookup(HTDBHANDLE handle, std::shared_ptr<DbHandle>& out) {
  out = HandleTable::instance().get<DbHandle>(HandleKind::Database, handle);
  if (!out) return fail(HTFAIL_INVALID_HANDLE, "Invalid database handle " + std::to_string(handle));
  return HTSUCCESS;
}

HTSTATUS open(std::string_view server, std::string_view path, HTUINT flags, HTDBHANDLE& out) {
  ServerRef ref;
  paths::Resolved resolved;
  if (HTSTATUS s = resolveDatabase(server, path, ref, resolved)) return s;
  if (!isDatabaseFile(resolved.file))
    return fail(HTFAIL_DB_NOT_FOUND, "Database " + describe(ref, path) + " not found");
  auto handle = std::make_shared<DbHandle>(openFile(resolved.file), ref, resolved.apiPath, flags);
  if (HTSTATUS s = requireAccess(*handle, HTACLLEVEL_DEPOSITOR, "open the database")) return s;
  out = HandleTable::instance().add(HandleKind::Database, handle);
  return HTSUCCESS;
}

HTSTATUS reopen(HTDBHANDLE handle, HTUINT flags, HTDBHANDLE& out) {
  std::shared_ptr<DbHandle> h;
  if (HTSTATUS s = lookup(handle, h)) return s;
  auto copy = std::make_shared<DbHandle>(h->database(), h->server(), h->apiPath(), flags);
  copy->settings = h->settings;
  out = HandleTable::instance().add(HandleKind::Database, copy);
  return HTSUCCESS;
}

HTSTATUS close(HTDBHANDLE handle) {
  auto h = std::static_pointer_cast<DbHandle>(HandleTable::instance().remove(HandleKind::Database, handle));
  if (!h) return fail(HTFAIL_INVALID_HANDLE, "Invalid database handle " + std::to_string(handle));
  std::shared_ptr<Database> db = h->database();
  h.reset();
  auto lock = db->lock();
  db->flush();
  return HTSUCCESS;
}

HTSTATUS create(std::string_view server, std::string_view path, const CreateOptions& options) {
  ServerRef ref;
  paths::Resolved resolved;
  if (HTSTATUS s = resolveDatabase(server, path, ref, resolved)) return s;
  if (resolved.apiPath.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No database path given");
  if (!fits(options.title, HT_TITLE_CAPACITY))
    return fail(HTFAIL_TEXT_TOO_LONG, "A database title may have at most 127 bytes");
  std::error_code ec;
  if (store::isRemote(resolved.file) ? store::remoteExists(resolved.file)
                                     : fs::exists(fs::symlink_status(resolved.file, ec)))
    return fail(HTFAIL_DB_EXISTS, "A database already exists at " + describe(ref, resolved.apiPath));
  std::shared_ptr<Database> templ;
  if (!trim(options.templatePath).empty()) {
    paths::Resolved t;
    if (HTSTATUS s = paths::resolve(ref.root, options.templatePath, t)) return s;
    if (!isDatabaseFile(t.file))
      return fail(HTFAIL_DB_NOT_FOUND, "Template " + describe(ref, options.templatePath) + " not found");
    templ = openFile(t.file);
  }
  if (store::isRemote(resolved.file)) {
    buildRemote(resolved.file, options, ref, templ);
    return HTSUCCESS;
  }
  files::ensureDirectory(resolved.file.parent_path());
  buildAndPublish(resolved.file, options, ref, templ);
  return HTSUCCESS;
}

HTSTATUS remove(std::string_view server, std::string_view path) {
  ServerRef ref;
  paths::Resolved resolved;
  if (HTSTATUS s = resolveDatabase(server, path, ref, resolved)) return s;
  if (!isDatabaseFile(resolved.file))
    return fail(HTFAIL_DB_NOT_FOUND, "Database " + describe(ref, path) + " not found");
  if (findOpen(resolved.file)) return fail(HTFAIL_DB_IN_USE, "Database " + describe(ref, path) + " is open");
  {
    // Opening checks that the file is one of ours; the check object is gone before unlinking.
    DbHandle probe(openFile(resolved.file), ref, resolved.apiPath, 0);
    if (HTSTATUS s = requireManager(probe, "delete the database")) return s;
  }
  if (findOpen(resolved.file)) return fail(HTFAIL_DB_IN_USE, "Database " + describe(ref, path) + " is open");
  if (store::isRemote(resolved.file)) {
    store::removeRemote(resolved.file);
    return HTSUCCESS;
  }
  if (::unlink(resolved.file.c_str()) != 0) files::raiseErrno(errno, "Cannot delete", resolved.file);
  for (const char* suffix : {"-wal", "-shm", "-gate"}) ::unlink((resolved.file.string() + suffix).c_str());
  return HTSUCCESS;
}

}  // namespace quire::engine::db
