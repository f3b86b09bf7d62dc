#include "engine/core/Progress.h"
#include "engine/repl/Replicator.h"

#include <unistd.h>

#include <map>
#include <optional>
#include <random>
#include <set>
#include <system_error>

#include "engine/core/DateTime.h"
#include "engine/core/Files.h"
#include "engine/core/Paths.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Catalog.h"
#include "engine/doc/Document.h"
#include "engine/doc/Note.h"
#include "engine/mail/Router.h"
#include "engine/store/AclStore.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Properties.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"
#include "engine/store/Locator.h"

namespace quire::engine::repl {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kPull = 1;
constexpr int64_t kPush = 2;
constexpr const char* kConflictItem = "$Conflict";

// The versions both sides agreed on, per peer file and note.
const bool kSchemaRegistered = store::registerSchemaPart(
    {"repl", 1, [](store::Connection& c, int from) {
       if (from < 1)
         c.exec(
             "CREATE TABLE IF NOT EXISTS repl_seen("
             "  peer TEXT NOT NULL,"
             "  unid BLOB NOT NULL,"
             "  sequence INTEGER NOT NULL,"
             "  sequence_time INTEGER NOT NULL,"
             "  deleted INTEGER NOT NULL,"
             "  PRIMARY KEY(peer, unid))");
     }});

[[noreturn]] void raiseRecorded(HTSTATUS status) { raise(status, errorText(status).text); }

std::string hex(const store::Blob& bytes) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::string fileId(store::Connection& conn) { return hex(store::prop::getBlob(conn, store::prop::kDbId).value_or(store::Blob{})); }

store::Blob replicaIdOf(store::Connection& conn) {
  return store::prop::getBlob(conn, store::prop::kReplicaId).value_or(store::Blob{});
}

HTREPLICAID replicaWords(const store::Blob& b) {
  HTREPLICAID id{};
  for (size_t i = 0; i < b.size() && i < 8; ++i) id.words[i / 4] |= uint32_t(b[i]) << (8 * (i % 4));
  return id;
}

store::Blob randomBytes(size_t n) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  store::Blob b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

struct Version {
  int64_t sequence = 0;
  int64_t sequenceTime = 0;
  bool deleted = false;
};

Version versionOf(const store::NoteHeader& h) { return {h.sequence, h.sequenceTime, h.deleted}; }

bool same(const Version& a, const Version& b) {
  return a.sequence == b.sequence && a.sequenceTime == b.sequenceTime && a.deleted == b.deleted;
}

// True when `a` is the newer version. A full tie goes to `b` (callers pass the server's as b).
bool newer(const Version& a, const Version& b) {
  if (a.sequence != b.sequence) return a.sequence > b.sequence;
  return a.sequenceTime > b.sequenceTime;
}

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The UNID of the conflict document that keeps `loser`: the same for the same losing
// version, so a repeated run finds the one it made before.
UNID conflictUnid(const store::NoteHeader& loser) {
  uint64_t a = mix((uint64_t(loser.unid.words[0]) << 32 | loser.unid.words[1]) ^ mix(uint64_t(loser.sequence)));
  uint64_t b = mix((uint64_t(loser.unid.words[2]) << 32 | loser.unid.words[3]) ^ mix(uint64_t(loser.sequenceTime)) ^ a);
  return UNID{{uint32_t(a), uint32_t(a >> 32), uint32_t(b), uint32_t(b >> 32)}};
}

std::optional<store::NoteHeader> headerByUnid(store::Connection& conn, const UNID& unid) {
  auto id = store::findByUnid(conn, unid);
  if (!id) return std::nullopt;
  return store::readNote(conn, *id);
}

std::vector<UNID> unidsChangedSince(store::Connection& conn, int64_t mark) {
  auto st = conn.prepare("SELECT unid FROM notes WHERE change_seq > ?1 ORDER BY change_seq");
  st->bind(1, mark);
  std::vector<UNID> out;
  while (st->step()) out.push_back(store::unidFromBlob(st->blob(0)));
  return out;
}

int64_t historyMark(store::Connection& conn, const store::Blob& replica, const std::string& peer, int64_t direction) {
  auto st = conn.prepare(
      "SELECT last_change FROM replication_history WHERE peer_replica = ?1 AND peer_server = ?2 AND direction = ?3");
  st->bindBlob(1, replica).bind(2, peer).bind(3, direction);
  return st->step() ? st->int64(0) : 0;
}

void setHistory(store::Connection& conn, const store::Blob& replica, const std::string& peer, const std::string& path,
                int64_t direction, int64_t mark) {
  auto st = conn.prepare(
      "INSERT INTO replication_history(peer_replica, peer_server, peer_path, direction, last_change, last_time) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(peer_replica, peer_server, direction) DO UPDATE SET "
      "peer_path = excluded.peer_path, last_change = excluded.last_change, last_time = excluded.last_time");
  st->bindBlob(1, replica).bind(2, peer).bind(3, path).bind(4, direction).bind(5, mark).bind(6, dt::pack(dt::now()));
  st->run();
}

std::optional<Version> seenVersion(store::Connection& conn, const std::string& peer, const UNID& unid) {
  auto st = conn.prepare("SELECT sequence, sequence_time, deleted FROM repl_seen WHERE peer = ?1 AND unid = ?2");
  st->bind(1, peer).bindBlob(2, store::unidBlob(unid));
  if (!st->step()) return std::nullopt;
  return Version{st->int64(0), st->int64(1), st->int64(2) != 0};
}

void setSeen(store::Connection& conn, const std::string& peer, const UNID& unid, const Version& v) {
  auto st = conn.prepare(
      "INSERT INTO repl_seen(peer, unid, sequence, sequence_time, deleted) VALUES(?1, ?2, ?3, ?4, ?5) "
      "ON CONFLICT(peer, unid) DO UPDATE SET sequence = excluded.sequence, sequence_time = excluded.sequence_time, "
      "deleted = excluded.deleted");
  st->bind(1, peer).bindBlob(2, store::unidBlob(unid)).bind(3, v.sequence).bind(4, v.sequenceTime);
  st->bind(5, int64_t(v.deleted ? 1 : 0));
  st->run();
}

// One side of a pair while it is being replicated.
struct Side {
  db::Database& database;
  store::Connection& conn;
  db::DbHandle probe;  // the session user's access to this side
  bool local;
  const char* name() const { return local ? "local" : "server"; }
};

class PairRun {
 public:
  PairRun(Side& local, Side& remote, const Options& options, Outcome& outcome, std::string peer)
      : local_(local), remote_(remote), options_(options), outcome_(outcome), peer_(std::move(peer)) {}

  void note(const UNID& unid) {
    const std::optional<store::NoteHeader> l = headerByUnid(local_.conn, unid);
    const std::optional<store::NoteHeader> r = headerByUnid(remote_.conn, unid);
    if (l && r && same(versionOf(*l), versionOf(*r))) {
      setSeen(local_.conn, peer_, unid, versionOf(*l));
      return;
    }
    std::optional<doc::Note> ln = l ? load(local_, *l) : std::nullopt;
    std::optional<doc::Note> rn = r ? load(remote_, *r) : std::nullopt;
    if ((l && !ln) || (r && !rn)) return;  // not readable by this user on one side

    const std::optional<Version> seen = seenVersion(local_.conn, peer_, unid);
    const bool localChanged = l && (!seen || !same(versionOf(*l), *seen));
    const bool remoteChanged = r && (!seen || !same(versionOf(*r), *seen));
    bool localWins;
    bool conflict = false;
    if (!r) localWins = true;
    else if (!l) localWins = false;
    else if ((seen && localChanged && remoteChanged) ||
             (!seen && l->sequence == r->sequence && !l->deleted && !r->deleted)) {
      // Without a known agreed version, equal sequence numbers with different times still
      // show two edits of the same version.
      conflict = true;
      localWins = newer(versionOf(*l), versionOf(*r));
    } else {
      // One side changed, or nothing is known of their history: the newer version wins. (A
      // changed side is normally the newer one; where it is not, say a restored backup,
      // its older version must not overwrite the newer.)
      localWins = newer(versionOf(*l), versionOf(*r));
    }

    if (!conflict) {
      if (localWins && options_.push) {
        if (write(remote_, r, *ln)) setSeen(local_.conn, peer_, unid, versionOf(*l));
      } else if (!localWins && options_.pull) {
        if (write(local_, l, *rn)) setSeen(local_.conn, peer_, unid, versionOf(*r));
      }
      return;
    }

    // Both changed: the winner goes where it may, the loser is kept as a conflict document.
    const doc::Note& winner = localWins ? *ln : *rn;
    const doc::Note& loser = localWins ? *rn : *ln;
    bool ok = true;
    if (localWins && options_.push) ok = write(remote_, r, winner);
    if (!localWins && options_.pull) ok = write(local_, l, winner);
    if (!ok) return;
    if (!loser.header.deleted && loser.header.noteClass == store::note_class::kDocument) {
      doc::Note kept = conflictCopy(loser, winner.header.unid);
      if (options_.pull) ok = addOnce(local_, kept) && ok;
      if (options_.push) ok = addOnce(remote_, kept) && ok;
      ++outcome_.stats.conflicts;
    }
    if (!ok) return;
    // What both sides agree on now: the winner when it reached both; in one direction only,
    // the version of the side that was not written, so the next run in the other direction
    // carries the winner over without seeing a new conflict.
    const Version agreed = options_.pull && options_.push ? versionOf(winner.header)
                           : options_.pull                 ? versionOf(*r)
                                                           : versionOf(*l);
    setSeen(local_.conn, peer_, unid, agreed);
  }

  // Whether a write in that direction was refused: its mark then stays, so the note is
  // looked at again next time.
  bool pullRefused() const { return pullRefused_; }
  bool pushRefused() const { return pushRefused_; }

 private:
  // The note with its attachments' bytes; nullopt when the user may not read it.
  std::optional<doc::Note> load(Side& side, const store::NoteHeader& header) {
    std::optional<doc::Note> n = doc::loadNote(side.database, side.conn, header.id, true);
    if (!n) return std::nullopt;
    if (!n->header.deleted && !doc::canRead(side.probe, n->items)) return std::nullopt;
    for (doc::Attachment& a : n->attachments) a.id = 0;
    n->header.id = 0;
    return n;
  }

  void refused(HTSTATUS status, Side& side, const doc::Note& note) {
    (side.local ? pullRefused_ : pushRefused_) = true;
    ++outcome_.stats.errors;
    outcome_.failed(status, "Not replicated to the " + std::string(side.name()) + " database " + side.probe.apiPath() +
                                ": " + errorText(status).text);
  }

  void count(Side& to, uint32_t HTREPLSTATS::*pulled, uint32_t HTREPLSTATS::*pushed) {
    ++(outcome_.stats.*(to.local ? pulled : pushed));
  }

  // Makes `to`'s copy of the note equal to `source`. False when the user may not.
  bool write(Side& to, const std::optional<store::NoteHeader>& existing, const doc::Note& source) {
    const store::NoteHeader& h = source.header;
    if (h.deleted) {
      if (!existing) {
        store::NoteHeader stub = h;
        stub.id = 0;
        store::insertNote(to.conn, stub);
        return true;
      }
      if (!existing->deleted) {
        if (HTSTATUS s = doc::requireDelete(to.probe, *existing, store::readItems(to.conn, existing->id))) {
          refused(s, to, source);
          return false;
        }
        doc::deleteNote(to.database, to.conn, existing->id);
        count(to, &HTREPLSTATS::pulledDeleted, &HTREPLSTATS::pushedDeleted);
      }
      store::NoteHeader stub = *store::readNote(to.conn, existing->id);
      stub.sequence = h.sequence;
      stub.sequenceTime = h.sequenceTime;
      stub.modified = h.modified;
      stub.changeSeq = store::nextChange(to.conn);
      store::updateNote(to.conn, stub);
      return true;
    }
    const bool adding = !existing || existing->deleted;
    const HTSTATUS allowed = adding ? doc::requireCreate(to.probe, h.noteClass)
                                    : doc::requireChange(to.probe, *existing, store::readItems(to.conn, existing->id));
    if (allowed) {
      refused(allowed, to, source);
      return false;
    }
    doc::Note copy = source;
    copy.header.id = existing ? existing->id : 0;
    doc::saveNote(to.database, to.conn, copy, doc::SaveMode::Replica);
    if (adding) count(to, &HTREPLSTATS::pulledAdded, &HTREPLSTATS::pushedAdded);
    else count(to, &HTREPLSTATS::pulledUpdated, &HTREPLSTATS::pushedUpdated);
    return true;
  }

  // The conflict document depends on the losing version alone, not on when or where it was
  // made: a run that was interrupted after one side committed and is then run again makes
  // the very same document on the other side, which both sides then agree on, instead of a
  // second version of it that would itself conflict.
  static doc::Note conflictCopy(const doc::Note& loser, const UNID& winner) {
    doc::Note kept = loser;
    kept.header = doc::newNote(store::note_class::kDocument).header;
    kept.header.unid = conflictUnid(loser.header);
    kept.header.parent = winner;
    kept.header.form = loser.header.form;
    kept.header.sequence = 1;
    kept.header.created = kept.header.modified = kept.header.sequenceTime = loser.header.sequenceTime;
    kept.setText(kConflictItem, "");
    return kept;
  }

  // Saves the conflict document on `to` unless it is there from an earlier run.
  bool addOnce(Side& to, const doc::Note& kept) {
    if (store::findByUnid(to.conn, kept.header.unid)) return true;
    if (HTSTATUS s = doc::requireCreate(to.probe, kept.header.noteClass)) {
      refused(s, to, kept);
      return false;
    }
    doc::Note copy = kept;
    doc::saveNote(to.database, to.conn, copy, doc::SaveMode::Replica);
    return true;
  }

  Side& local_;
  Side& remote_;
  const Options& options_;
  Outcome& outcome_;
  std::string peer_;
  bool pullRefused_ = false;
  bool pushRefused_ = false;
};

bool sameFile(const fs::path& a, const fs::path& b) { return store::sameDatabase(a, b); }

bool isMailBox(const std::string& apiPath) {
  const size_t slash = apiPath.find_last_of("\\/");
  return equalsNoCase(slash == std::string::npos ? apiPath : apiPath.substr(slash + 1), mail::kMailBoxFile);
}

}  // namespace

void Outcome::failed(HTSTATUS status, const std::string& detail) {
  if (firstStatus != HTSUCCESS) return;
  firstStatus = status;
  firstError = detail;
}

void replicatePair(const Replica& local, const Replica& remote, const Options& options, Outcome& outcome) {
  if (local.database == remote.database) return;
  // Both locks, always in the same order, so two runs in opposite directions cannot deadlock.
  db::Database* first = local.database.get();
  db::Database* second = remote.database.get();
  if (second->file() < first->file()) std::swap(first, second);
  auto lockFirst = first->lock();
  auto lockSecond = second->lock();

  Side l{*local.database, local.database->conn(), db::DbHandle(local.database, local.server, local.apiPath, 0), true};
  Side r{*remote.database, remote.database->conn(), db::DbHandle(remote.database, remote.server, remote.apiPath, 0), false};
  if (HTSTATUS s = db::requireAccess(r.probe, HTACLLEVEL_READER, "replicate")) raiseRecorded(s);
  if (HTSTATUS s = db::requireAccess(l.probe, HTACLLEVEL_READER, "replicate")) raiseRecorded(s);
  const store::Blob replica = replicaIdOf(l.conn);
  if (replica != replicaIdOf(r.conn))
    raise(HTFAIL_INVALID_ARGUMENT, local.apiPath + " and " + remote.apiPath + " on " + remote.server.name + " are not replicas");

  store::Transaction remoteTx(r.conn);
  store::Transaction localTx(l.conn);
  const std::string remoteId = fileId(r.conn);
  const std::string localId = fileId(l.conn);
  const std::string peerInLocal = remote.server.name + "#" + remoteId;
  const std::string peerInRemote = db::settings().localServerName + "#" + localId;
  const int64_t pullMark = historyMark(l.conn, replica, peerInLocal, kPull);
  const int64_t pushMark = historyMark(l.conn, replica, peerInLocal, kPush);
  const int64_t localCounter = store::prop::getInt(l.conn, store::prop::kChangeCounter, 0);
  const int64_t remoteCounter = store::prop::getInt(r.conn, store::prop::kChangeCounter, 0);

  std::vector<UNID> candidates;
  std::set<store::Blob> seen;
  auto add = [&](const std::vector<UNID>& unids) {
    for (const UNID& u : unids)
      if (seen.insert(store::unidBlob(u)).second) candidates.push_back(u);
  };
  if (options.pull) add(unidsChangedSince(r.conn, pullMark));
  if (options.push) add(unidsChangedSince(l.conn, pushMark));

  PairRun run(l, r, options, outcome, remoteId);
  progress::Task task("replicate " + local.apiPath, candidates.size());
  for (const UNID& unid : candidates) {
    run.note(unid);
    task.advance();
  }

  if (options.pull && !run.pullRefused()) {
    setHistory(l.conn, replica, peerInLocal, remote.apiPath, kPull, remoteCounter);
    setHistory(r.conn, replica, peerInRemote, local.apiPath, kPush, remoteCounter);
  }
  if (options.push && !run.pushRefused()) {
    setHistory(l.conn, replica, peerInLocal, remote.apiPath, kPush, localCounter);
    setHistory(r.conn, replica, peerInRemote, local.apiPath, kPull, localCounter);
  }
  remoteTx.commit();
  localTx.commit();
}

// The new replica's properties and access-control list, from the database it copies.
void fillReplica(store::Connection& conn, db::Database& source) {
  store::applySchema(conn);
  store::Transaction tx(conn);
  const int64_t now = dt::pack(dt::now());
  auto lock = source.lock();
  store::Connection& from = source.conn();
  for (const char* name : {store::prop::kTitle, store::prop::kCategories, store::prop::kTemplateName,
                           store::prop::kDesignTemplate})
    if (auto text = store::prop::getText(from, name)) store::prop::set(conn, name, *text);
  for (const char* name : {store::prop::kCreated, store::prop::kClass, store::prop::kReplicaPriority,
                           store::prop::kUniformAccess, store::prop::kDocOpenDesign, store::prop::kDatabaseFlags,
                           store::prop::kReplFlags, store::prop::kReplicaCutoff})
    if (auto value = store::prop::getInt(from, name)) store::prop::set(conn, name, *value);
  store::prop::setBlob(conn, store::prop::kReplicaId, replicaIdOf(from));
  store::prop::setBlob(conn, store::prop::kDbId, randomBytes(8));
  store::prop::set(conn, store::prop::kDataModified, now);
  store::prop::set(conn, store::prop::kDesignModified, now);
  store::prop::set(conn, store::prop::kFtIndexed, int64_t(0));
  // A replica carries the access-control list of the database it was made from.
  for (const store::acl::Entry& entry : store::acl::list(from)) store::acl::insert(conn, entry);
  for (int role = 1; role <= store::acl::kRoleCount; ++role) {
    const std::string name = store::acl::roleName(from, role);
    if (!name.empty()) store::acl::setRoleName(conn, role, name);
  }
  tx.commit();
}

std::shared_ptr<db::Database> createRemoteReplica(db::Database& source, const paths::Resolved& target) {
  auto conn = store::openRemote(target.file, {.create = true});
  try {
    fillReplica(*conn, source);
    store::publishRemote(*conn);
  } catch (...) {
    store::discardRemote(*conn);
    throw;
  }
  conn.reset();
  return db::openFile(target.file);
}

std::shared_ptr<db::Database> createReplica(db::Database& source, const db::ServerRef& server, const std::string& apiPath) {
  paths::Resolved target;
  if (HTSTATUS s = paths::resolve(server.root, apiPath, target)) raiseRecorded(s);
  std::error_code ec;
  if (store::isRemote(target.file) ? store::remoteExists(target.file) : fs::exists(fs::symlink_status(target.file, ec)))
    raise(HTFAIL_DB_EXISTS, "Database " + apiPath + " on server " + server.name + " exists and is no replica of the local one");
  if (store::isRemote(target.file)) return createRemoteReplica(source, target);
  files::ensureDirectory(target.file.parent_path());
  fs::path tmp = target.file;
  tmp += ".creating." + std::to_string(::getpid()) + "." + hex(randomBytes(4));
  auto cleanUp = [&] {
    for (const char* suffix : {"", "-wal", "-shm", "-gate"}) ::unlink((tmp.string() + suffix).c_str());
  };
  try {
    fillReplica(*store::openSqlite(tmp, {.create = true}), source);
    if (::link(tmp.c_str(), target.file.c_str()) != 0) {
      if (errno == EEXIST) raise(HTFAIL_DB_EXISTS, "A database already exists at " + apiPath + " on server " + server.name);
      files::raiseErrno(errno, "Cannot create", target.file);
    }
  } catch (...) {
    cleanUp();
    throw;
  }
  cleanUp();
  return db::openFile(target.file);
}

void replicate(const db::ServerRef& server, const Options& options, bool all, const std::vector<std::string>& paths,
               Outcome& outcome) {
  db::ServerRef localRef;
  if (HTSTATUS s = db::resolveServer("", localRef)) raiseRecorded(s);

  // The server's databases by replica ID.
  std::map<std::pair<uint32_t, uint32_t>, std::vector<std::string>> onServer;
  for (const db::CatalogEntry& e : db::allDatabases(server))
    if (e.isDatabase) onServer[{e.replicaId.words[0], e.replicaId.words[1]}].push_back(e.apiPath);

  std::vector<std::string> wanted;
  if (all) {
    for (const db::CatalogEntry& e : db::allDatabases(localRef))
      if (e.isDatabase && !isMailBox(e.apiPath)) wanted.push_back(e.apiPath);
  } else {
    for (const std::string& p : paths)
      if (!trim(p).empty()) wanted.emplace_back(trim(p));
  }

  for (const std::string& path : wanted) {
    try {
      if (isMailBox(path)) raise(HTFAIL_INVALID_ARGUMENT, "mail.box is the router's queue and does not replicate");
      paths::Resolved resolved;
      if (HTSTATUS s = paths::resolve(localRef.root, path, resolved)) raiseRecorded(s);
      if (resolved.apiPath.empty() || !store::exists(resolved.file))
        raise(HTFAIL_DB_NOT_FOUND, "Local database " + path + " not found");
      Replica local{db::openFile(resolved.file), localRef, resolved.apiPath};
      HTREPLICAID id;
      {
        auto lock = local.database->lock();
        id = replicaWords(replicaIdOf(local.database->conn()));
      }
      Replica remote{nullptr, server, {}};
      auto found = onServer.find({id.words[0], id.words[1]});
      if (found != onServer.end()) {
        remote.apiPath = found->second.front();
        for (const std::string& candidate : found->second)
          if (equalsNoCase(candidate, resolved.apiPath)) remote.apiPath = candidate;
        paths::Resolved remoteFile;
        if (HTSTATUS s = paths::resolve(server.root, remote.apiPath, remoteFile)) raiseRecorded(s);
        if (sameFile(remoteFile.file, resolved.file)) continue;
        remote.database = db::openFile(remoteFile.file);
      } else if (all) {
        continue;
      } else {
        remote.apiPath = resolved.apiPath;
        remote.database = createReplica(*local.database, server, resolved.apiPath);
      }
      replicatePair(local, remote, options, outcome);
      ++outcome.stats.databases;
    } catch (const Error& e) {
      ++outcome.stats.errors;
      outcome.failed(e.code(), "Replication of " + path + " with " + server.name + " failed: " + e.what());
    } catch (const std::bad_alloc&) {
      ++outcome.stats.errors;
      outcome.failed(HTFAIL_NO_MEMORY, "Replication of " + path + " with " + server.name + " ran out of memory");
    } catch (const std::exception& e) {
      ++outcome.stats.errors;
      outcome.failed(HTFAIL_INTERNAL, "Replication of " + path + " with " + server.name + " failed: " + e.what());
    }
  }
}

}  // namespace quire::engine::repl
