// The cursor of a document collection: the documents of a whole database selected by a
// formula (HTIndexSearch) and/or a full-text query (HTIndexFTSearch).
//
// Rows. A search evaluates the compiled formula over every live document the reader may
// read and keeps the selected note IDs in note ID order: the snapshot. Until the next search
// or refresh() the rows do not change; a document deleted since is skipped by navigation
// (the position moves past it), and one saved since is shown as it is now.
//
// Before any search the cursor has no rows; a full-text search then runs over the whole
// database (what the library's database-wide full-text search relies on).
//
// Positions: 0 is before the first row. setPosition beyond the count clamps to the last row
// (the library's MoveTo clamps too; GetNthDocument passes its argument unchecked, and the
// last row is the closest answer). HTNAV_CURRENT at position 0 gives HTFAIL_END_OF_LIST on
// an empty collection and HTFAIL_NO_POSITION otherwise.
//
// Full text. A search (options 1, or 0) narrows the rows to the matching documents,
// sorted as asked and cut to maxDocs; a refine (0x11) narrows the current full-text result;
// a clear (0x10000) brings back the rows held before the first full-text search. Each step
// leaves the position at 0. HTINDEX_FTSEARCH_SCORE is the relevance of the current row.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/index/FullText.h"
#include "engine/index/Index.h"

namespace quire::engine::index {

class CollectionCursor : public IndexCursor {
 public:
  explicit CollectionCursor(std::shared_ptr<const IndexEnv> env);

  uint32_t count() override { return uint32_t(rows_.size()); }
  uint32_t position() override { return position_; }
  HTSTATUS setPosition(uint32_t position) override;
  HTSTATUS navigate(HTINT navigation, HTUINT flags, NavEntry& out) override;

  HTSTATUS search(std::string_view formula, HTUINT flags, HTUINT& matched) override;
  HTSTATUS ftSearch(std::string_view query, HTUINT options, HTINT sort, HTUINT maxDocs) override;
  bool ftActive() const override { return ftActive_; }
  uint32_t ftScore() override;
  HTSTATUS refresh() override;

  // The rows, for tests and for agents.
  const std::vector<HTID>& rows() const { return rows_; }

 private:
  struct FtStep {
    std::string query;
    HTUINT options;
    HTINT sort;
    HTUINT maxDocs;
  };
  bool live(HTID note);
  HTSTATUS runFt(const FtStep& step);
  HTSTATUS allDocuments(std::vector<HTID>& out);
  // First live row at or after (forward) / at or before (backward) the 1-based `from`; 0 none.
  uint32_t seek(uint32_t from, bool forward);

  std::shared_ptr<const IndexEnv> env_;
  std::optional<std::string> formula_;      // the last formula searched; none before any
  std::vector<HTID> rows_;
  uint32_t position_ = 0;
  bool ftActive_ = false;
  std::vector<HTID> beforeFt_;              // rows before the first full-text search
  bool beforeFtAll_ = false;                // there was no formula search: "all documents"
  std::unordered_map<HTID, uint32_t> scores_;
  bool scoresKnown_ = false;                // scores_ filled (searches skip them unless sorting)
  std::vector<FtStep> ftSteps_;             // the full-text steps in force, for refresh()
};

}  // namespace quire::engine::index
