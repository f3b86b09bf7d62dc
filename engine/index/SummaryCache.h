// An in-memory summary of a database's documents, so that formula searches do not read every
// document's items from the file each time.
//
// Per open database file (db::Database::serial) the cache holds the live documents in note ID
// order with the header values formulas ask for, and, per item name a search has asked for,
// a column with each document's decoded value. Columns load on first use (one pass over the
// documents, a B-tree seek each into the items index) and stay. The names listed by
// Readers and Authors items are gathered on first use as well (for ReadAccess).
//
// Freshness: every change of a note takes a new number from the database's change counter
// (store/NoteStore.h), whoever makes it, in this process or another. `sync` compares the
// counter with the one the cache last saw and re-reads just the notes changed since
// (changedSince); after a large batch of changes it reloads instead. So a search sees every
// committed change, and its own transaction's too. A state read inside a transaction (which
// may yet roll back) is used for that search only: the next sync outside reloads.
//
// Locking: use only while holding the database lock (db::Database::lock); the cache itself
// takes no lock beyond the registry's. Caches are dropped when the engine stops and when
// their database is closed for good.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/db/Database.h"
#include "engine/formula/Value.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/NoteStore.h"

namespace quire::engine::index {

struct DocRow {
  HTID id = 0;
  UNID unid{};
  bool response = false;
  int64_t created = 0;   // packed date-times
  int64_t modified = 0;
};

class SummaryCache {
 public:
  struct Column {
    std::string name;                    // as first asked for
    std::vector<formula::Value> values;  // aligned with docs(); absent items are Value()
    std::vector<uint8_t> present;        // 1 where the document has the item

    // The comparable form used by fast selections (FastSelect.h), built by compile():
    // per document its value type and a range of `numbers` or of `keys` (collation keys
    // of the text elements, formula/Collation.h).
    struct Cell {
      uint8_t type = 0;  // formula::ValueType
      uint32_t begin = 0, end = 0;
    };
    bool compiled = false;
    std::vector<Cell> cells;
    std::vector<double> numbers;
    std::vector<std::string> keys;
    size_t garbage = 0;  // elements of numbers/keys no cell points at any more
  };

  // The cache of `database`.
  static std::shared_ptr<SummaryCache> of(const std::shared_ptr<db::Database>& database);

  void sync(store::Connection& conn);
  const std::vector<DocRow>& docs() const { return docs_; }
  // The column of item `name` (compared without regard to case), loaded when new; nullptr
  // for a name with non-ASCII letters, which the store cannot match case-blind by itself.
  Column* column(store::Connection& conn, std::string_view name);
  // Builds the comparable form of a column (once; kept current by sync afterwards).
  void compile(Column& column);
  const std::unordered_map<HTID, AccessNames>& access(store::Connection& conn);
  // Documents whose item record a column load found damaged (their cells read as absent).
  const std::set<HTID>& damaged() const { return damaged_; }

 private:
  void reload(store::Connection& conn);
  void loadColumn(store::Connection& conn, Column& column);
  void refresh(store::Connection& conn, HTID id);
  void setCell(Column& column, size_t row);
  void readAccess(store::Connection& conn, HTID id);
  size_t rowOf(HTID id) const;  // docs_.size() when absent

  bool loaded_ = false;
  int64_t seen_ = -1;  // the change counter this state reflects
  bool provisional_ = false;  // synced inside a transaction: reload next time
  std::vector<DocRow> docs_;
  std::vector<std::unique_ptr<Column>> columns_;
  std::unordered_map<std::string, Column*> byName_;  // ASCII-lower-cased names
  std::set<HTID> damaged_;
  bool accessLoaded_ = false;
  std::unordered_map<HTID, AccessNames> access_;
};

}  // namespace quire::engine::index
