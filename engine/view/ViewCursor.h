// The cursor of an index bound to a view or folder (HTIndexOpenViewFolder).
//
// Rows come from a ViewSnapshot taken when the cursor is made and replaced only by
// refresh(): saves and deletions by anyone else never shift, skip or repeat rows meanwhile.
// A document deleted since the snapshot is passed over by navigation (never reported, never
// an error); its row still counts in positions until refresh(). Deletions in this process are
// seen at once; those committed by another process within kForeignCheckInterval, since
// asking the file on every step would cost more than the step itself.
//
// Positions are row numbers over all rows, categories and totals included (1-based, 0 before
// the first row). setPosition beyond the count clamps to the last row, as the collection
// cursor does. Position texts are the ordinals from the top joined by '.', "2.1.3" being
// the third child of the first child of the second top-level row; "0" is "before the first
// row". They survive as long as the snapshot; a malformed or absent one is
// HTFAIL_BAD_POSITION and leaves the position as it was.
//
// Navigation (nav with flags; HTNAVFLAG_BACKWARD reverses, HTNAVFLAG_DOCUMENTS skips category
// and total rows, HTNAVFLAG_SKIP_EMPTY is accepted (unreadable rows are never in the
// snapshot), HTNAVFLAG_PROBE reports where the move would land without moving):
//   NEXT     the following (preceding) row in display order
//   END      the last row, or the first one backward
//   SIBLING  the next (previous) row with the same parent; from before the first row, the
//            first top-level row
//   CHILD    the first (backward: last) child of the current row
//   PARENT   the nearest row at the parent's level in that direction: backward that is the
//            parent itself, forward the parent's next sibling
//   MAIN     the next (previous) main document: a document row that is not a response
//   CURRENT  the current row; on a row the flags refuse (a category with DOCUMENTS, a
//            deleted document), the next row they accept
// With no row in that direction: HTFAIL_END_OF_LIST and the position stays. CURRENT before
// the first row: HTFAIL_END_OF_LIST when there are no rows, HTFAIL_NO_POSITION otherwise.
// The entry flags out-value describes the row reached (kEntry* below).
//
// Key search compares keys with the sorted columns in key order (ViewDesign.h): a text key
// against a number or date-time column is read as a number or a date (international
// settings) where it parses; mode HTKEYSEARCH_EXACT matches collation-equal texts,
// HTKEYSEARCH_PARTIAL matches text keys as leading text (letter case ignored). It searches
// main documents and positions on the first match in view order.
//
// Full-text search narrows the rows to the matching documents, flat (no categories, totals
// or hierarchy: sibling and main move like next, child and parent end), in view order with
// HTFTSORT_NONE or in the requested order otherwise; each document once.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/index/FullText.h"
#include "engine/index/Index.h"
#include "engine/view/ViewIndex.h"
#include "engine/view/ViewSnapshot.h"

namespace quire::engine::view {

// Entry flags reported by navigation.
constexpr HTUINT kEntryHasChildren = 0x0001;
constexpr HTUINT kEntryCategory = 0x0002;
constexpr HTUINT kEntryTotal = 0x0004;
constexpr HTUINT kEntryResponse = 0x0008;

class ViewCursor : public index::IndexCursor {
 public:
  static constexpr std::chrono::milliseconds kForeignCheckInterval{20};

  ViewCursor(std::shared_ptr<const index::IndexEnv> env, std::shared_ptr<const ViewSnapshot> snapshot);

  bool isViewBased() const override { return true; }
  HTID viewId() const override { return snap_->design().id; }

  uint32_t count() override;
  uint32_t position() override { return pos_; }
  HTSTATUS setPosition(uint32_t position) override;
  HTSTATUS navigate(HTINT navigation, HTUINT flags, index::NavEntry& out) override;
  HTSTATUS viewPosition(std::string& out) override;
  HTSTATUS setViewPosition(std::string_view text) override;

  HTSTATUS ftSearch(std::string_view query, HTUINT options, HTINT sort, HTUINT maxDocs) override;
  bool ftActive() const override { return ftActive_; }
  uint32_t ftScore() override;

  HTSTATUS keySearch(HTUINT keyCount, const HTKEYDESC* keys, HTUINT mode, HTUINT& matched) override;
  HTSTATUS listKey(HTINT listMode, HTKEYDESC& key) override;
  HTSTATUS cellLength(HTUINT column, HTINT* type, HTUINT* length) override;
  HTSTATUS cellFetch(HTUINT column, HTINT* type, HTUINT* length, void* buffer) override;
  HTSTATUS refresh() override;
  HTSTATUS property(HTINT property, void* value) override;

  const ViewSnapshot& snapshot() const { return *snap_; }

 private:
  struct FtQuery {
    std::string query;
    HTINT sort;
    HTUINT maxDocs;
  };
  struct Move;

  // Snapshot row of position p (1-based) of the active rows; kNoRow for 0 or out of range.
  uint32_t rowAt(uint32_t p) const;
  uint32_t currentRow() const { return rowAt(pos_); }
  const Row& rowOf(uint32_t row);
  bool accepts(uint32_t row, HTUINT flags);
  bool accepts(const Row& row, HTUINT flags);
  bool deleted(HTID note);
  void updateDeleted();

  uint32_t treeMove(HTINT navigation, HTUINT flags, HTSTATUS& status);
  uint32_t flatMove(HTINT navigation, HTUINT flags, HTSTATUS& status);
  uint32_t scan(uint32_t from, bool forward, HTUINT flags, bool mainOnly);
  uint32_t siblingFrom(uint32_t row, bool forward, HTUINT flags);
  HTUINT entryFlags(const Row& row) const;

  HTSTATUS runFtQuery(const FtQuery& q, bool refine);
  HTSTATUS currentCell(HTUINT column, uint32_t& row, size_t& index);
  const CellRef* storedCell(uint32_t row, size_t index);
  bool fetchStoredCell(const CellRef& cell, HTUINT column, HTINT* type, HTUINT* length, void* buffer,
                       HTSTATUS& status);

  std::shared_ptr<const index::IndexEnv> env_;
  std::shared_ptr<const ViewSnapshot> snap_;
  uint32_t pos_ = 0;
  size_t keyCursor_ = 0;
  bool keyStarted_ = false;

  bool ftActive_ = false;
  std::vector<uint32_t> ftRows_;      // snapshot rows of the full-text result, in order
  std::vector<uint32_t> ftScores_;    // parallel to ftRows_
  std::vector<FtQuery> ftChain_;      // the search and its refinements, for refresh()

  std::unordered_set<HTID> deleted_;  // documents deleted since the snapshot
  // The database's change counter, looked up once: every move reads it.
  std::shared_ptr<DatabaseState> state_;
  uint64_t seenGeneration_ = 0;
  int64_t seenDataVersion_ = 0;
  std::chrono::nanoseconds foreignChecked_{};  // the coarse monotonic clock's reading
  std::string cellText_;  // reused by cell reads that join list elements
  uint32_t rowIndex_ = kNoRow;  // the row last made by rowOf, of snap_
  Row row_;
  // The stored cells of row cellsRow_ (of snap_), split as far as cells were asked for: a
  // walk reads several cells of each row, and finding each one from the start of the entry
  // would pass those before it again.
  uint32_t cellsRow_ = kNoRow;
  bool cellsStored_ = false;     // a document row: its cells are read in place
  std::string_view cellsRest_;   // the cells not split yet
  std::vector<CellRef> cells_;
};

}  // namespace quire::engine::view
