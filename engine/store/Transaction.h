// RAII transaction. Every API write runs in exactly one:
//
//   store::Transaction tx(conn);
//   ... statements ...
//   tx.commit();          // without it, the destructor rolls back
//
// Transactions nest: an inner Transaction on a connection that already has one open becomes
// a savepoint, so helpers that write can be called alone or from a larger write.
#pragma once

#include <string>

#include "engine/store/Storage.h"

namespace quire::engine::store {

class Transaction {
 public:
  explicit Transaction(Connection& conn);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void commit();

 private:
  Connection& conn_;
  int depth_;
  bool done_ = false;
  std::string savepoint_;
};

// Whether a Transaction is open on `conn` (caches that must not keep what an uncommitted
// transaction shows ask this).
bool inTransaction(const Connection& conn);

}  // namespace quire::engine::store
