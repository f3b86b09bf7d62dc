// View and folder designs: what a view or folder note says about its rows.
//
// A design is the selection formula, the columns (title, item or formula, sort, category,
// totals, display attributes) and the view's flags and colours. It is stored in the design
// note's items so that it travels with the note (copies, replication, templates):
//   $Selection          text      the selection formula ("" selects every document)
//   $ViewFlags          number    HTVIEWFLAG_* bits other than FOLDER and PRIVATE
//   $BackgroundColor    number    colour number
//   $AlternateColor     number    colour number
//   $ColumnCount        number
//   $Column1..$ColumnN  text list "key=value" entries (title, item, formula, sort, total,
//                                 flags, width, justify, headjustify, face, style, color,
//                                 size); unknown keys are ignored, so later fields can be
//                                 added without breaking older files
// The name and aliases live in the note row (design_name, design_alias) where the core's
// look-ups find them. Folders are notes of class kFolder with the same items; a folder's
// rows come from its membership, not from $Selection.
//
// `CompiledDesign` is the design ready for evaluation: formulas compiled once, the key
// layout (which columns sort, in which order, which are categories) worked out. It is
// immutable and shared between the index maintainer and open cursors.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/formula/Formula.h"
#include "engine/store/NoteStore.h"
#include "hitest/hitest.h"

namespace quire::engine::view {

constexpr size_t kMaxNameBytes = 127;       // HTVIEWREC name/alias hold 128 with the terminator
constexpr size_t kMaxTitleBytes = 80;       // HTCOLUMNREC title[81]
constexpr size_t kMaxItemNameBytes = 35;    // HTCOLUMNREC itemName[36]
constexpr size_t kMaxColumns = 250;
constexpr uint32_t kStoredViewFlags = 0xFFFFu & ~(HTVIEWFLAG_FOLDER | HTVIEWFLAG_PRIVATE);

struct ColumnDesign {
  std::string title;
  std::string itemName;
  std::string formula;
  int32_t sort = HTCOLSORT_NONE;
  int32_t total = HTCOLTOTAL_NONE;
  uint32_t flags = 0;
  int32_t width = 80;  // eighths of a character: ten characters
  int32_t justify = HTCOLJUSTIFY_LEFT;
  int32_t headingJustify = HTCOLJUSTIFY_LEFT;
  int32_t fontFace = HTFONT_SWISS;
  uint32_t fontStyle = 0;
  int32_t fontColor = 0;
  int32_t fontSize = 10;

  bool categorized() const { return sort == HTCOLSORT_CAT_ASCEND || sort == HTCOLSORT_CAT_DESCEND; }
  bool sorted() const { return sort != HTCOLSORT_NONE; }
  bool descending() const { return sort == HTCOLSORT_DESCEND || sort == HTCOLSORT_CAT_DESCEND; }
};

struct ViewDesign {
  std::string name;
  std::string alias;  // aliases joined with '|'
  std::string selection;
  uint32_t flags = 0;
  int32_t backgroundColor = 1;  // white
  int32_t alternateColor = 1;
  std::vector<ColumnDesign> columns;
};

// Checks a design from HTViewCreate (or the CLI): names, enumeration values, text sizes, and
// that every formula compiles. Throws Error (HTFAIL_INVALID_ARGUMENT, HTFAIL_TEXT_TOO_LONG,
// HTFAIL_FORMULA_SYNTAX naming the formula and the position).
void validate(const ViewDesign& design);

// The items that store `design` (name and alias excluded: they are row columns).
std::vector<store::StoredItem> toItems(const ViewDesign& design);
// Reads a design back from a note's header and items; absent items keep their defaults.
ViewDesign fromItems(const store::NoteHeader& header, const std::vector<store::StoredItem>& items);

// A design ready to evaluate.
struct CompiledColumn {
  ColumnDesign design;
  std::optional<formula::Formula> formula;  // none for an item column
  std::string field;                        // the item read directly (item column, or a
                                            // formula that is one field reference)
};

struct CompiledDesign {
  HTID id = 0;
  bool folder = false;
  int64_t sequence = 0;  // the design note's sequence the design was read from
  ViewDesign design;
  std::optional<formula::Formula> selection;  // none: every document
  std::vector<CompiledColumn> columns;
  // The sorted columns in key order (0-based column indexes): categorised columns first, in
  // column order, then the other sorted columns in column order.
  std::vector<size_t> keyColumns;
  size_t categoryLevels = 0;  // the first `categoryLevels` of keyColumns are categories
  bool hierarchical() const { return !folder && !(design.flags & HTVIEWFLAG_FLAT); }
  bool hasTotals() const;
};

// Compiles a stored design. A formula that no longer compiles (e.g. written by a newer
// engine) makes its column empty or, for the selection, selects nothing, rather than
// failing every document save.
std::shared_ptr<const CompiledDesign> compile(HTID id, const store::NoteHeader& header,
                                              const std::vector<store::StoredItem>& items);

// The design of the view or folder note `id`, compiled; nullptr when `id` is no live view
// or folder. Runs on a locked connection.
std::shared_ptr<const CompiledDesign> loadDesign(store::Connection& conn, HTID id);

}  // namespace quire::engine::view
