// The rows of one view as one reader sees them at one moment: an immutable, compact tree
// built from the stored entries (ViewIndex.h) in one ordered scan.
//
// Rows are kept in display order (pre-order): a category row, then its sub-categories or
// documents; a document, then its responses (hierarchical views only); at the end a grand
// total row when any column totals. For every row the snapshot knows its parent, its ordinal
// among its siblings, where its subtree ends and its children, so every navigation is a few
// array reads, numeric positions are row numbers, and a position text ("1.2.3", the
// ordinals from the top) resolves in as many steps as it has parts.
//
// What the reader may not read is left out at load: entries whose Readers names do not
// admit the reader, so a category all of whose documents are unreadable never appears, and
// totals count only readable documents. A response whose parent is not in the view is not
// shown (its place is under its parent).
//
// Category rows carry the category's value in the categorised column of their level and the
// totals of their documents in total columns (sum, averages, percentages as the column asks).
// An empty category value shows as "(Not categorized)".
//
// A view whose stored index is its last build alone (no document changed since) opens from
// the build's chunk summaries (BaseSummary.h): category and total rows are made at once,
// document rows are numbered but read from their chunk the first time one of them is
// touched, so opening costs a few bytes per chunk however many documents there are. Any
// other view, and a reader kept from documents by Readers names in a view that has them,
// gets every entry read at open. Both answer the same. A snapshot made from summaries reads
// its chunks through the database it was made on, which must outlive it (the cursor holding
// it holds the database); should the view be built again meanwhile, reading a row not yet
// read fails with HTFAIL_CONFLICT (the index is refreshed to go on).
//
// Snapshots are shared: a snapshot for a reader without restrictions is cached per database
// and view and handed to every index opened while nothing in the database changed.
// Thread-safe once built (immutable but for chunks read on demand, under a lock). Readers
// throw Error when a chunk cannot be read.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/db/Database.h"
#include "engine/formula/Value.h"
#include "engine/index/ReadAccess.h"
#include "engine/view/EntryCodec.h"
#include "engine/view/ViewDesign.h"
#include "engine/view/ViewIndex.h"

namespace quire::engine::view {

constexpr uint32_t kNoRow = 0xFFFFFFFFu;
constexpr const char* kNotCategorized = "(Not categorized)";

enum class RowKind : uint8_t { Document, Category, Total };

struct Row {
  HTID note = 0;               // document, HTNOTEID_CATEGORY or HTNOTEID_TOTAL
  uint32_t parent = kNoRow;    // kNoRow at the top level
  uint32_t end = 0;            // one past the last row of the subtree
  uint32_t ordinal = 0;        // 1-based among its siblings
  uint32_t firstChild = 0;     // into the children array, when childCount > 0
  uint32_t childCount = 0;
  uint32_t data = 0;           // document: entry index; category: category index
  uint16_t depth = 0;
  RowKind kind = RowKind::Document;
  bool response = false;
};

class ViewSnapshot {
 public:
  // The snapshot of view `viewId` for `reader`: cached when possible, else loaded. Brings the
  // stored index up to date first (ViewIndex.h ensureCurrent). Takes the database lock.
  // nullptr when `viewId` is no live view or folder.
  static std::shared_ptr<const ViewSnapshot> acquire(db::Database& database, HTID viewId,
                                                     const index::ReadAccess& reader);

  const CompiledDesign& design() const { return *design_; }
  // Made from chunk summaries, reading document rows on demand (see above).
  bool readsOnDemand() const { return lazy_; }
  int64_t changeCounter() const { return changeCounter_; }

  uint32_t size() const { return rowCount_; }
  Row row(uint32_t i) const { return lazy_ ? lazyRow(i) : rows_[i]; }
  // Child `ordinal` (1-based) of `parent` (kNoRow: the top level); kNoRow when none.
  uint32_t child(uint32_t parent, uint32_t ordinal) const;
  uint32_t childCount(uint32_t parent) const;

  // Main document rows (documents that are not shown as responses), in key order: how many,
  // the row of the i-th, and the first whose key is not below `key`.
  uint32_t mainCount() const;
  uint32_t mainRow(uint32_t i) const;
  uint32_t mainLowerBound(std::string_view key) const;
  std::string_view key(uint32_t row) const;
  // Which value types occur at key component `k` (bit 0 number, 1 date-time, 2 text).
  uint8_t keyTypes(size_t k) const { return k < keyTypes_.size() ? keyTypes_[k] : 0; }

  // The value of cell `column` (0-based) of row `row`, and its text as a person reads it.
  formula::Value cellValue(uint32_t row, size_t column) const;
  std::string cellText(uint32_t row, size_t column) const;
  // The same for a value already read with cellValue (one decode instead of two).
  std::string cellText(uint32_t row, size_t column, const formula::Value& value) const;
  // The stored cells of a document row made with row(), read in place (EntryCodec.h
  // findCell, nextCell); they live as long as the snapshot. False for category and total
  // rows, whose cells cellValue makes.
  bool documentCells(const Row& row, std::string_view& cells) const;

 private:
  struct Entry {
    HTID note;
    uint32_t keyOffset, keyLength, cellOffset, cellLength;
  };
  struct Category {
    uint32_t entry;   // the first entry under it: its cells hold the category value
    uint32_t level;
    uint32_t totals;  // offset into totals_
    uint32_t documents;
  };
  struct Aggregate {
    double value = 0;
    bool percent = false;
    bool present = false;
  };

  // Read when first touched (summary-made snapshots only).
  struct LoadedChunk {
    std::string bytes;
    std::vector<ChunkEntry> entries;
  };
  // A stretch of rows of a summary-made snapshot: one category or total row, or documents
  // that are consecutive entries under one parent.
  struct Segment {
    uint32_t firstRow = 0;
    uint32_t count = 0;
    uint32_t parent = kNoRow;
    uint32_t ordinal = 0;  // of its first row
    uint32_t data = 0;     // documents: the first entry; else index into explicit_
    uint16_t depth = 0;
    bool documents = false;
  };
  // A child of a summary-made row or of the top: a segment, its first row's ordinal.
  struct ChildItem {
    uint32_t segment;
    uint32_t ordinal;
  };

  class Builder;
  friend class Builder;
  class OutlineBuilder;
  friend class OutlineBuilder;

  bool stillStored(store::Connection& conn) const;
  Row lazyRow(uint32_t i) const;
  HTID entryNote(uint32_t entry) const;
  std::string_view entryKey(uint32_t entry) const;
  std::string_view entryCells(uint32_t entry) const;
  ChunkEntry lazyEntry(uint32_t entry) const;
  const LoadedChunk& chunk(uint32_t c) const;
  uint32_t segmentOf(uint32_t row) const;
  uint32_t chunkOf(uint32_t entry) const;

  Aggregate aggregate(uint32_t row, size_t column) const;
  double sumOf(uint32_t row, size_t totalSlot) const;
  uint32_t documentsOf(uint32_t row) const;
  int totalSlot(size_t column) const;

  std::shared_ptr<const CompiledDesign> design_;
  int64_t changeCounter_ = 0;
  std::vector<Row> rows_;
  std::vector<uint32_t> topRows_;
  std::vector<uint32_t> children_;
  std::vector<Entry> entries_;
  std::string keys_;
  std::string cells_;
  std::vector<Category> categories_;
  std::vector<double> totals_;      // per category, one sum per total column
  std::vector<double> grand_;       // one sum per total column
  uint32_t grandDocuments_ = 0;
  std::vector<size_t> totalColumns_;
  std::vector<uint32_t> mainRows_;
  std::vector<uint8_t> keyTypes_;
  uint32_t rowCount_ = 0;

  // Summary-made snapshots (lazy_): rows as segments, entries read by chunk.
  bool lazy_ = false;
  db::Database* database_ = nullptr;
  int64_t build_ = 0;
  std::vector<Segment> segments_;
  std::vector<Row> explicit_;            // category and total rows; childCount in ordinals
  std::vector<uint32_t> explicitItems_;  // per explicit_ row: its child items
  std::vector<ChildItem> items_;         // grouped by parent; Row::firstChild indexes here
  uint32_t topFirstItem_ = 0, topItems_ = 0, topCount_ = 0;
  std::vector<uint32_t> documentSegments_;  // the document segments, in entry order
  std::vector<uint32_t> chunkFirst_;        // first entry of each chunk, then the entry count
  std::vector<std::string> chunkKeys_;      // first key of each chunk
  mutable std::unique_ptr<std::atomic<const LoadedChunk*>[]> loaded_;
  mutable std::vector<std::unique_ptr<LoadedChunk>> owned_;
  mutable std::mutex loadMutex_;
  // Where the last look-ups landed: walks touch neighbouring rows.
  mutable std::atomic<uint32_t> segmentHint_{0};
  mutable std::atomic<uint32_t> chunkHint_{0};
};

}  // namespace quire::engine::view
