#include "engine/store/Transaction.h"

#include <map>
#include <mutex>

#include "engine/store/Properties.h"

namespace quire::engine::store {
namespace {

// Open transaction depth per connection. Connections are used by one thread at a time (the
// database's mutex), but different databases are used from different threads, so the map
// itself needs a lock.
std::mutex gDepthMutex;
std::map<const Connection*, int> gDepth;

int enter(const Connection& c) {
  std::lock_guard lock(gDepthMutex);
  return gDepth[&c]++;
}

void leave(const Connection& c) {
  std::lock_guard lock(gDepthMutex);
  if (--gDepth[&c] <= 0) gDepth.erase(&c);
}

}  // namespace

bool inTransaction(const Connection& conn) {
  std::lock_guard lock(gDepthMutex);
  return gDepth.count(&conn) != 0;
}

Transaction::Transaction(Connection& conn) : conn_(conn), depth_(enter(conn)) {
  try {
    if (depth_ == 0) {
      conn_.begin();
      ++conn_.transactionSerial;
    } else {
      savepoint_ = "sp" + std::to_string(depth_);
      conn_.savepoint(savepoint_);
    }
  } catch (...) {
    leave(conn_);
    throw;
  }
}

Transaction::~Transaction() {
  if (!done_) {
    prop::forgetCached(conn_);
    try {
      if (depth_ == 0) {
        conn_.rollback();
      } else {
        conn_.rollbackTo(savepoint_);
        conn_.release(savepoint_);
      }
    } catch (...) {
      // A failed rollback leaves nothing better to do; the connection reports the next
      // error itself.
    }
  }
  leave(conn_);
}

void Transaction::commit() {
  if (depth_ == 0) {
    prop::writeLater(conn_);
    conn_.commit();
  } else {
    conn_.release(savepoint_);
  }
  done_ = true;
}

}  // namespace quire::engine::store
