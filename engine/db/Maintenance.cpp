#include "engine/db/Maintenance.h"

#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

#include "engine/core/Files.h"
#include "engine/core/Paths.h"
#include "engine/core/Progress.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Database.h"
#include "engine/store/Properties.h"
#include "engine/store/Schema.h"
#include "engine/store/SqliteFiles.h"
#include "engine/store/Storage.h"
#include "engine/store/Transaction.h"

namespace quire::engine::db {

namespace {

namespace fs = std::filesystem;

// A database of a server, resolved for one operation.
struct Target {
  ServerRef server;
  paths::Resolved resolved;

  std::string describe() const {
    return resolved.apiPath + (server.named ? " on server " + server.name : std::string());
  }
};

HTSTATUS resolve(std::string_view server, std::string_view path, Target& out) {
  if (HTSTATUS s = resolveServer(server, out.server)) return s;
  if (trim(path).empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No database path given");
  return paths::resolve(out.server.root, path, out.resolved);
}

bool occupied(const fs::path& file) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(file, ec));
}

HTSTATUS requireExisting(const Target& target) {
  std::error_code ec;
  if (!fs::is_regular_file(target.resolved.file, ec))
    return fail(HTFAIL_DB_NOT_FOUND, "Database " + target.describe() + " not found");
  return HTSUCCESS;
}

// Opens the database (which checks that it is ours), checks Manager access for `what`, and
// commits this process's open batch of delayed commits.
HTSTATUS prepareSource(const Target& target, std::string_view what) {
  if (HTSTATUS s = requireExisting(target)) return s;
  DbHandle probe(openFile(target.resolved.file), target.server, target.resolved.apiPath, 0);
  if (HTSTATUS s = requireManager(probe, what)) return s;
  auto& database = *probe.database();
  auto lock = database.lock();
  database.flush();
  return HTSUCCESS;
}

// A private name beside `file`, removed with its journal files when the object goes.
struct Scratch {
  fs::path path;
  explicit Scratch(const fs::path& file) {
    path = file;
    path += ".copying." + std::to_string(::getpid()) + "." + std::to_string(std::random_device{}());
  }
  ~Scratch() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path.string() + suffix).c_str());
  }
};

// Links the finished scratch file into place; never replaces a file that appeared meanwhile.
void publish(const Scratch& scratch, const fs::path& file, const std::string& name) {
  if (::link(scratch.path.c_str(), file.c_str()) == 0) return;
  if (errno == EEXIST) raise(HTFAIL_DB_EXISTS, "A database already exists at " + name);
  files::raiseErrno(errno, "Cannot create", file);
}

store::Blob randomBytes(size_t n) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  store::Blob b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

store::Progress reporter(progress::Task& task) {
  return [&task](uint64_t done, uint64_t total) {
    task.setTotal(total);
    task.set(done);
  };
}

}  // namespace

HTSTATUS copy(std::string_view fromServer, std::string_view fromPath, std::string_view toServer,
              std::string_view toPath, HTUINT flags) {
  Target from, to;
  if (HTSTATUS s = resolve(fromServer, fromPath, from)) return s;
  if (HTSTATUS s = resolve(toServer, toPath, to)) return s;
  if (to.resolved.apiPath.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No database path given");
  if (occupied(to.resolved.file)) return fail(HTFAIL_DB_EXISTS, "A database already exists at " + to.describe());
  if (HTSTATUS s = prepareSource(from, "copy the database")) return s;
  files::ensureDirectory(to.resolved.file.parent_path());
  Scratch scratch(to.resolved.file);
  {
    progress::Task task("copy " + from.resolved.apiPath, 0);
    store::backupSqlite(from.resolved.file, scratch.path, reporter(task));
  }
  if (!(flags & HTDBCOPY_REPLICA)) {
    // A copy is a database of its own: it replicates with nothing.
    auto conn = store::openSqlite(scratch.path, {});
    store::Transaction tx(*conn);
    store::prop::setBlob(*conn, store::prop::kReplicaId, randomBytes(8));
    conn->exec("DELETE FROM replication_history");
    store::prop::setBlob(*conn, store::prop::kDbId, randomBytes(8));
    tx.commit();
  } else {
    auto conn = store::openSqlite(scratch.path, {});
    store::Transaction tx(*conn);
    store::prop::setBlob(*conn, store::prop::kDbId, randomBytes(8));
    tx.commit();
  }
  publish(scratch, to.resolved.file, to.describe());
  return HTSUCCESS;
}

HTSTATUS compact(std::string_view server, std::string_view path) {
  Target target;
  if (HTSTATUS s = resolve(server, path, target)) return s;
  if (HTSTATUS s = requireExisting(target)) return s;
  DbHandle probe(openFile(target.resolved.file), target.server, target.resolved.apiPath, 0);
  if (HTSTATUS s = requireManager(probe, "compact the database")) return s;
  auto& database = *probe.database();
  auto lock = database.lock();
  database.flush();
  progress::Task task("compact " + target.resolved.apiPath, 0);
  store::compactSqlite(database.conn(), reporter(task));
  return HTSUCCESS;
}

HTSTATUS backup(std::string_view server, std::string_view path, const fs::path& file) {
  Target source;
  if (HTSTATUS s = resolve(server, path, source)) return s;
  if (file.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No backup file given");
  if (occupied(file)) return fail(HTFAIL_DB_EXISTS, "The backup file " + file.string() + " already exists");
  if (HTSTATUS s = prepareSource(source, "back up the database")) return s;
  Scratch scratch(file);
  {
    progress::Task task("backup " + source.resolved.apiPath, 0);
    store::backupSqlite(source.resolved.file, scratch.path, reporter(task));
  }
  publish(scratch, file, file.string());
  return HTSUCCESS;
}

HTSTATUS restore(const fs::path& file, std::string_view server, std::string_view path, HTUINT flags) {
  Target target;
  if (HTSTATUS s = resolve(server, path, target)) return s;
  if (target.resolved.apiPath.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No database path given");
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return fail(HTFAIL_DB_NOT_FOUND, "No backup file " + file.string());
  {
    // Checks that the file is one of ours and not from a newer engine before anything is replaced.
    auto peek = store::openSqlite(file, {});
    store::checkSchemaVersion(*peek);
  }
  progress::Task task("restore " + target.resolved.apiPath, 0);
  if (!occupied(target.resolved.file)) {
    files::ensureDirectory(target.resolved.file.parent_path());
    Scratch scratch(target.resolved.file);
    store::backupSqlite(file, scratch.path, reporter(task));
    publish(scratch, target.resolved.file, target.describe());
    return HTSUCCESS;
  }
  if (!(flags & HTQUIRE_RESTORE_REPLACE))
    return fail(HTFAIL_DB_EXISTS, "A database already exists at " + target.describe());
  if (findOpen(target.resolved.file)) return fail(HTFAIL_DB_IN_USE, "Database " + target.describe() + " is open");
  {
    DbHandle probe(openFile(target.resolved.file), target.server, target.resolved.apiPath, 0);
    if (HTSTATUS s = requireManager(probe, "replace the database")) return s;
  }
  if (findOpen(target.resolved.file)) return fail(HTFAIL_DB_IN_USE, "Database " + target.describe() + " is open");
  store::restoreSqlite(file, target.resolved.file, reporter(task));
  return HTSUCCESS;
}

}  // namespace quire::engine::db
