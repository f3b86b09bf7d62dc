#include "engine/store/Transaction.h"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

#include "engine/core/Process.h"
#include "engine/core/Status.h"
#include "engine/store/PgStorage.h"
#include "engine/store/Properties.h"

namespace quire::engine::store {

using Clock = std::chrono::steady_clock;

// What is known about one connection: open Transactions and its batch. Fields other than
// the atomics are touched only by the thread holding the connection's database lock.
struct BatchState {
  int depth = 0;
  std::atomic<bool> open{false};
  std::atomic<int64_t> lastWrite{0};  // Clock ticks of the batch's latest write
  int writes = 0;
  Clock::time_point opened;
  Clock::time_point probed;  // when writersWaiting was last asked
  pid_t owner = 0;
  std::optional<Error> lost;  // a deferred flush's failure, thrown by the next write
};

namespace {

// Connections are used by one thread at a time (the database's mutex), but different
// databases are used from different threads, so the map itself needs a lock. Never
// destroyed: databases still flush from exit handlers after static destructors have run.
std::mutex& mapMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<const Connection*, BatchState>& states() {
  static auto* s = new std::map<const Connection*, BatchState>;
  return *s;
}

std::atomic<int> gLimitWrites{BatchLimits{}.writes};
std::atomic<int64_t> gLimitAgeMs{BatchLimits{}.age.count()};

const BatchState* find(const Connection& c) {
  auto it = states().find(&c);
  return it == states().end() ? nullptr : &it->second;
}

BatchState& enter(const Connection& c, int& depth) {
  std::lock_guard lock(mapMutex());
  BatchState& s = states()[&c];
  depth = s.depth++;
  return s;
}

// Forgets the connection's entry once nothing is open on it any more.
void release(const Connection& c) {
  std::lock_guard lock(mapMutex());
  auto it = states().find(&c);
  if (it == states().end()) return;
  const BatchState& s = it->second;
  if (s.depth <= 0 && !s.open && !s.lost) states().erase(it);
}

void leave(const Connection& c, BatchState& s) {
  {
    std::lock_guard lock(mapMutex());
    --s.depth;
  }
  release(c);
}

// The real COMMIT: values kept back for it are written first.
void commitNow(Connection& conn) {
  prop::writeLater(conn);
  conn.commit();
}

// After anything that undid writes: cached reads may show what is gone.
void rollBack(Connection& conn) {
  prop::forgetCached(conn);
  conn.rollback();
}

void rollBackTo(Connection& conn, const std::string& savepoint) {
  prop::forgetCached(conn);
  conn.rollbackTo(savepoint);
  conn.release(savepoint);
}

void closeBatch(BatchState& s) {
  s.open = false;
  s.writes = 0;
}

void noteWrite(BatchState& s) {
  ++s.writes;
  s.lastWrite = Clock::now().time_since_epoch().count();
}

std::string lostMessage(const BatchState& s, std::string_view why) {
  return std::to_string(s.writes) + " grouped write(s) were not committed and are lost: " + std::string(why);
}

// The batch could not be kept (its savepoint failed to roll back, or SQLite rolled the whole
// transaction back on an error): what it held is gone, which the next write must report.
void loseBatch(Connection& conn, BatchState& s, std::string_view why) {
  try {
    rollBack(conn);
  } catch (...) {
    // Nothing left to undo; the connection reports its state on the next statement.
  }
  s.lost.emplace(HTFAIL_STORAGE_ERROR, lostMessage(s, why));
  closeBatch(s);
}

// Commits the batch; on failure rolls it back and throws, naming how many writes were lost.
void commitBatch(Connection& conn, BatchState& s) {
  try {
    commitNow(conn);
  } catch (const Error& e) {
    // Committed after all, only not confirmed durable: "lost" would tell the caller to write
    // again what is most likely there.
    const std::string message =
        dynamic_cast<const UnconfirmedCommit*>(&e)
            ? std::to_string(s.writes) + " grouped write(s) are not confirmed: " + e.what()
            : lostMessage(s, e.what());
    try {
      rollBack(conn);
    } catch (...) {
      // Already rolled back by SQLite, or nothing more can be done.
    }
    closeBatch(s);
    throw Error(e.code(), message);
  }
  closeBatch(s);
}

bool batchDue(const BatchState& s) {
  return s.writes >= gLimitWrites.load() ||
         Clock::now() - s.opened >= std::chrono::milliseconds(gLimitAgeMs.load());
}

// Whether another process waits for the write lock the batch holds. Asked at most once a
// millisecond: it costs a system call, and a waiter is held up by a millisecond at most.
bool othersWait(Connection& conn, BatchState& s) {
  const auto now = Clock::now();
  if (now - s.probed < std::chrono::milliseconds(1)) return false;
  s.probed = now;
  return conn.writersWaiting();
}

void throwLost(BatchState& s) {
  if (!s.lost) return;
  Error e = *s.lost;
  s.lost.reset();
  throw e;
}

BatchState* lookup(const Connection& conn) {
  std::lock_guard lock(mapMutex());
  auto it = states().find(&conn);
  return it == states().end() ? nullptr : &it->second;
}

}  // namespace

BatchLimits batchLimits() {
  return {gLimitWrites.load(), std::chrono::milliseconds(gLimitAgeMs.load())};
}

void setBatchLimits(const BatchLimits& limits) {
  gLimitWrites = limits.writes < 1 ? 1 : limits.writes;
  gLimitAgeMs = limits.age.count() < 0 ? 0 : int64_t(limits.age.count());
}

bool inTransaction(const Connection& conn) {
  std::lock_guard lock(mapMutex());
  const BatchState* s = find(conn);
  return s && s->depth > 0;
}

bool batchOpen(const Connection& conn) {
  std::lock_guard lock(mapMutex());
  const BatchState* s = find(conn);
  return s && s->open;
}

bool holdsWriteLock(const Connection& conn) {
  std::lock_guard lock(mapMutex());
  const BatchState* s = find(conn);
  return s && (s->depth > 0 || (s->open && s->owner == currentProcess()));
}

bool batchIdle(const Connection& conn, std::chrono::milliseconds idle) {
  std::lock_guard lock(mapMutex());
  const BatchState* s = find(conn);
  if (!s || !s->open) return false;
  const Clock::time_point last{Clock::duration(s->lastWrite.load())};
  return Clock::now() - last >= idle;
}

bool batchWaitedFor(Connection& conn) {
  {
    std::lock_guard lock(mapMutex());
    const BatchState* s = find(conn);
    if (!s || !s->open) return false;
  }
  return conn.writersWaiting();
}

ReadSnapshot::ReadSnapshot(Connection& conn, Keep keep) : conn_(conn), keep_(keep) {
  if (conn.readSnapshot) return;
  began_ = conn.beginRead();
  if (!began_) return;
  conn.readSnapshot = true;
  ++conn.transactionSerial;
}

ReadSnapshot::~ReadSnapshot() {
  if (!began_) return;
  conn_.readSnapshot = false;
  if (keep_ == Keep::MayKeep)
    conn_.endReadKeeping();
  else
    conn_.endRead();
}

Transaction::Transaction(Connection& conn, Commit mode)
    : conn_(conn), state_(&enter(conn, depth_)), mode_(mode) {
  BatchState& s = *state_;
  try {
    if (conn.readSnapshot) {
      raise(HTFAIL_INTERNAL, "Database " + conn.name() + ": a write was begun inside a read snapshot");
    }
    if (depth_ > 0) {
      kind_ = Kind::Nested;
      savepoint_ = "sp" + std::to_string(depth_);
      conn_.savepoint(savepoint_);
      return;
    }
    throwLost(s);
    if (s.open) {
      kind_ = Kind::InBatch;
      savepoint_ = "batch_write";
      conn_.savepoint(savepoint_);
      return;
    }
    conn_.begin();
    ++conn_.transactionSerial;
    if (mode_ == Commit::Grouped) {
      kind_ = Kind::OpensBatch;
      s.opened = Clock::now();
      s.lastWrite = s.opened.time_since_epoch().count();
      s.writes = 0;
      s.owner = currentProcess();
      s.open = true;
    }
  } catch (...) {
    leave(conn_, s);
    throw;
  }
}

Transaction::~Transaction() {
  BatchState& s = *state_;
  if (!done_) {
    try {
      switch (kind_) {
        case Kind::Plain: rollBack(conn_); break;
        case Kind::OpensBatch:
          closeBatch(s);
          rollBack(conn_);
          break;
        case Kind::InBatch:
        case Kind::Nested: rollBackTo(conn_, savepoint_); break;
      }
    } catch (const std::exception& e) {
      // A failed rollback inside a batch means SQLite already dropped the whole
      // transaction; a nested one leaves that to the outer transaction.
      if (kind_ == Kind::InBatch) loseBatch(conn_, s, e.what());
    }
  }
  leave(conn_, s);
}

void Transaction::commit() {
  BatchState& s = *state_;
  switch (kind_) {
    case Kind::Nested: conn_.release(savepoint_); break;
    case Kind::Plain: commitNow(conn_); break;
    case Kind::InBatch:
      conn_.release(savepoint_);
      [[fallthrough]];
    case Kind::OpensBatch:
      // From here the write belongs to the batch: undoing it alone is no longer possible.
      done_ = true;
      noteWrite(s);
      if (mode_ == Commit::Now || batchDue(s) || othersWait(conn_, s)) commitBatch(conn_, s);
      return;
  }
  done_ = true;
}

void flushBatch(Connection& conn) {
  BatchState* s = lookup(conn);
  if (!s || s->depth > 0) return;
  if (s->open && s->owner == currentProcess()) {
    try {
      commitBatch(conn, *s);
    } catch (...) {
      release(conn);
      throw;
    }
  }
  try {
    throwLost(*s);
  } catch (...) {
    release(conn);
    throw;
  }
  release(conn);
}

bool flushBatchDeferred(Connection& conn, std::string* error) noexcept {
  BatchState* s = lookup(conn);
  if (!s || s->depth > 0 || !s->open || s->owner != currentProcess()) return true;
  try {
    commitBatch(conn, *s);
    release(conn);
    return true;
  } catch (const Error& e) {
    s->lost.emplace(e);
    if (error) *error = e.what();
  } catch (const std::exception& e) {
    s->lost.emplace(HTFAIL_STORAGE_ERROR, e.what());
    if (error) *error = e.what();
  }
  return false;
}

void forgetConnection(Connection& conn) noexcept {
  BatchState* s = lookup(conn);
  if (!s) return;
  if (s->open && s->owner == currentProcess()) {
    try {
      rollBack(conn);
    } catch (...) {
      // The connection is about to close, which ends the transaction anyway.
    }
  }
  std::lock_guard lock(mapMutex());
  states().erase(&conn);
}

}  // namespace quire::engine::store
