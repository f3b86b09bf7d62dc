// RAII transaction. Every API write runs in exactly one:
//
//   store::Transaction tx(conn);
//   ... statements ...
//   tx.commit();          // without it, the destructor rolls back
//
// Transactions nest: an inner Transaction on a connection that already has one open becomes
// a savepoint, so helpers that write can be called alone or from a larger write.
//
// Grouped commits. A write made with Commit::Grouped does not end the SQLite transaction:
// it stays open as the connection's batch, and later writes run inside it, each as a
// savepoint, so a failing write still rolls back alone and leaves the rest of the batch. The
// batch is committed (one synced COMMIT) when
//   - a write ends that brings it to BatchLimits::writes writes, or that finds it older than
//     BatchLimits::age;
//   - a Commit::Now write ends on the connection: that write must be durable when it
//     returns, and so must everything written before it;
//   - flushBatch is called (close, turning delayed commit off, exit, and the background
//     flusher once the batch is idle or another process waits for it).
// Reads on the same connection see the batch; other connections and processes see it only
// once it is committed, and until then other writers wait for the write lock.
//
// A batch whose COMMIT fails is rolled back, so all its writes are lost: the error is thrown
// by the call that was committing. A flush that nobody waits for (flushBatchDeferred) keeps
// the error instead, and the next Transaction or flushBatch on the connection throws it, so
// the loss is never reported as success for later writes.
//
// Bookkeeping for the property helpers (store/Properties.h): every real BEGIN bumps the
// connection's transactionSerial, every real COMMIT first writes the values kept back with
// prop::setLater, and every rollback drops the cached property values.
//
// Threads: all of this is used by the thread that holds the connection's database lock;
// inTransaction, batchOpen and batchIdle may be asked from any thread.
#pragma once

#include <chrono>
#include <string>

#include "engine/store/Storage.h"

namespace quire::engine::store {

enum class Commit {
  Now,      // durable when commit() returns
  Grouped,  // joins the connection's batch, durable when the batch commits
};

struct BatchLimits {
  int writes = 1000;
  std::chrono::milliseconds age{200};
};

// Process-wide; setting is meant for tests that need small batches.
BatchLimits batchLimits();
void setBatchLimits(const BatchLimits& limits);

struct BatchState;

class Transaction {
 public:
  explicit Transaction(Connection& conn, Commit mode = Commit::Now);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Throws Error when the write (or, for a write that ends a batch, the batch) could not be
  // committed; nothing of this write is then kept.
  void commit();

 private:
  enum class Kind { Plain, OpensBatch, InBatch, Nested };

  Connection& conn_;
  int depth_;  // set while state_ is initialised, so declared before it
  BatchState* state_;
  Commit mode_;
  Kind kind_ = Kind::Plain;
  bool done_ = false;
  std::string savepoint_;
};

// Several reads as one: the statements run while it lives see one committed state, and the
// connection takes its read lock once for all of them (opening a document read its record and
// then checked a property, each statement taking and dropping the lock on its own). Does
// nothing when a transaction or batch is already open on `conn`: that one holds the lock.
// Nothing may be written while it lives; a Transaction opened meanwhile throws. Used by the
// thread holding the connection's database lock.
class ReadSnapshot {
 public:
  // May the connection keep the read open after this snapshot, for a next one to reuse while
  // nothing is committed (Connection::endReadKeeping)? Only for callers that also start the
  // background flusher, which ends a kept read once the connection is idle.
  enum class Keep { No, MayKeep };
  explicit ReadSnapshot(Connection& conn, Keep keep = Keep::No);
  ~ReadSnapshot();
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

 private:
  Connection& conn_;
  bool began_ = false;
  Keep keep_;
};

// Whether a Transaction is open on `conn` (caches that must not keep what an uncommitted
// transaction shows ask this). Between the writes of a batch this is false: what the batch
// holds is only lost if its COMMIT fails.
bool inTransaction(const Connection& conn);

// Whether `conn` has an uncommitted batch.
bool batchOpen(const Connection& conn);
// Whether `conn` holds the write lock: a Transaction is open on it, or this process's batch.
// No other connection can commit meanwhile, so what `conn` read stays current.
bool holdsWriteLock(const Connection& conn);
// Whether `conn` has a batch whose last write is at least `idle` old.
bool batchIdle(const Connection& conn, std::chrono::milliseconds idle);
// Whether `conn` has a batch and another connection waits for the write lock it holds. Only
// while the database lock is held: a backend may ask its server over the connection.
bool batchWaitedFor(Connection& conn);

// Commits the batch of `conn`, if any. Throws the commit's error, or the error a deferred
// flush kept. Does nothing while a Transaction is open on `conn` (that transaction's own end
// decides) and in a forked child, whose batch belongs to the parent.
void flushBatch(Connection& conn);
// As flushBatch, but keeps a failure for the next write instead of throwing; false when the
// batch was lost (the message is in `error` when given).
bool flushBatchDeferred(Connection& conn, std::string* error = nullptr) noexcept;

// Drops everything known about `conn` before it is destroyed; an open batch is rolled back.
// Call after flushBatch.
void forgetConnection(Connection& conn) noexcept;

}  // namespace quire::engine::store
