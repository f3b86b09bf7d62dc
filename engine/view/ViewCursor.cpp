#include "engine/view/ViewCursor.h"

#include <algorithm>
#include <chrono>
#include <charconv>
#include <cstring>
#include <ctime>
#include <limits>

#include "engine/core/DateTime.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/formula/Collation.h"
#include "engine/formula/NumberText.h"
#include "engine/view/EntryCodec.h"
#include "engine/view/KeyMatch.h"
#include "engine/view/ViewIndex.h"

namespace quire::engine::view {
namespace {

constexpr uint64_t kUnseen = std::numeric_limits<uint64_t>::max();

HTSTATUS endOfList() { return fail(HTFAIL_END_OF_LIST); }

std::chrono::nanoseconds asDuration(const timespec& t) {
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// Every move asks whether it is time to look for other processes' deletions. On a virtual
// machine's clock source the precise clock costs about as much as the rest of a move, the
// coarse one a few nanoseconds; it lags by up to one tick, which the interval test allows for.
std::chrono::nanoseconds coarseNow() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return asDuration(t);
}

std::chrono::nanoseconds coarseTick() {
  static const std::chrono::nanoseconds tick = [] {
    timespec t{};
    return clock_getres(CLOCK_MONOTONIC_COARSE, &t) == 0 ? asDuration(t) : std::chrono::milliseconds(10);
  }();
  return tick;
}

}  // namespace

ViewCursor::ViewCursor(std::shared_ptr<const index::IndexEnv> env, std::shared_ptr<const ViewSnapshot> snapshot)
    : env_(std::move(env)), snap_(std::move(snapshot)), seenGeneration_(kUnseen) {}

uint32_t ViewCursor::count() { return ftActive_ ? uint32_t(ftRows_.size()) : snap_->size(); }

uint32_t ViewCursor::rowAt(uint32_t p) const {
  if (p == 0) return kNoRow;
  if (ftActive_) return p <= ftRows_.size() ? ftRows_[p - 1] : kNoRow;
  return p <= snap_->size() ? p - 1 : kNoRow;
}

// The documents deleted since the snapshot, re-read only when this process saw a change
// (generation, free to read) or another connection committed one (data version, a query:
// asked at most every kForeignCheckInterval, since a deletion by another process races with
// any reader anyway).
void ViewCursor::updateDeleted() {
  db::Database& database = *env_->database;
  if (!state_) state_ = sharedStateOf(database);
  const uint64_t generation = state_->generation.load();
  const auto now = coarseNow();
  // Both readings may lag by a tick: ask once the interval may have passed.
  const bool askForeign = seenGeneration_ == kUnseen || now - foreignChecked_ + coarseTick() >= kForeignCheckInterval;
  if (generation == seenGeneration_ && !askForeign) return;
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  const int64_t dataVersion = askForeign ? conn.dataVersion() : seenDataVersion_;
  if (askForeign) foreignChecked_ = now;
  if (generation == seenGeneration_ && dataVersion == seenDataVersion_) return;
  auto st = conn.prepare("SELECT note_id FROM notes WHERE change_seq > ?1 AND deleted = 1");
  st->bind(1, snap_->changeCounter());
  deleted_.clear();
  while (st->step()) deleted_.insert(HTID(st->int64(0)));
  seenGeneration_ = generation;
  seenDataVersion_ = dataVersion;
}

bool ViewCursor::deleted(HTID note) { return !deleted_.empty() && deleted_.count(note) != 0; }

// A walk asks for the same row several times (the move, its flags, each cell read): it is
// made once.
const Row& ViewCursor::rowOf(uint32_t row) {
  if (row != rowIndex_) {
    row_ = snap_->row(row);
    rowIndex_ = row;
  }
  return row_;
}

bool ViewCursor::accepts(uint32_t row, HTUINT flags) {
  if (row >= snap_->size()) return false;
  return accepts(snap_->row(row), flags);
}

bool ViewCursor::accepts(const Row& r, HTUINT flags) {
  if (r.kind == RowKind::Document) return !deleted(r.note);
  return !(flags & HTNAVFLAG_DOCUMENTS);
}

HTUINT ViewCursor::entryFlags(const Row& r) const {
  HTUINT flags = 0;
  if (!ftActive_ && r.childCount) flags |= kEntryHasChildren;
  if (r.kind == RowKind::Category) flags |= kEntryCategory;
  if (r.kind == RowKind::Total) flags |= kEntryTotal;
  if (r.response) flags |= kEntryResponse;
  return flags;
}

uint32_t ViewCursor::scan(uint32_t from, bool forward, HTUINT flags, bool mainOnly) {
  const uint32_t n = snap_->size();
  for (uint32_t r = from; r < n; r = forward ? r + 1 : r - 1) {
    const Row& row = rowOf(r);
    if (!accepts(row, flags)) continue;
    if (mainOnly && (row.kind != RowKind::Document || row.response)) continue;
    return r;
  }
  return kNoRow;  // also reached when `r - 1` wraps below 0
}

uint32_t ViewCursor::siblingFrom(uint32_t row, bool forward, HTUINT flags) {
  const Row& r = snap_->row(row);
  for (uint32_t o = forward ? r.ordinal + 1 : r.ordinal - 1;; o = forward ? o + 1 : o - 1) {
    const uint32_t s = snap_->child(r.parent, o);
    if (s == kNoRow) return kNoRow;
    if (accepts(s, flags)) return s;
  }
}

uint32_t ViewCursor::treeMove(HTINT navigation, HTUINT flags, HTSTATUS& status) {
  const bool forward = !(flags & HTNAVFLAG_BACKWARD);
  const uint32_t cur = currentRow();
  const uint32_t n = snap_->size();
  switch (navigation) {
    case HTNAV_NEXT:
      if (forward) return scan(cur == kNoRow ? 0 : cur + 1, true, flags, false);
      return cur == kNoRow ? kNoRow : scan(cur - 1, false, flags, false);
    case HTNAV_END:
      return forward ? scan(n - 1, false, flags, false) : scan(0, true, flags, false);
    case HTNAV_SIBLING:
      if (cur != kNoRow) return siblingFrom(cur, forward, flags);
      if (!forward) return kNoRow;
      for (uint32_t o = 1; o <= snap_->childCount(kNoRow); ++o)
        if (const uint32_t s = snap_->child(kNoRow, o); accepts(s, flags)) return s;
      return kNoRow;
    case HTNAV_CHILD: {
      if (cur == kNoRow) return kNoRow;
      const uint32_t children = snap_->childCount(cur);
      for (uint32_t i = 1; i <= children; ++i) {
        const uint32_t c = snap_->child(cur, forward ? i : children + 1 - i);
        if (accepts(c, flags)) return c;
      }
      return kNoRow;
    }
    case HTNAV_PARENT: {
      if (cur == kNoRow) return kNoRow;
      uint32_t p = snap_->row(cur).parent;
      if (p == kNoRow) return kNoRow;
      if (forward) return siblingFrom(p, true, flags);
      while (p != kNoRow && !accepts(p, flags)) p = snap_->row(p).parent;
      return p;
    }
    case HTNAV_MAIN:
      if (forward) return scan(cur == kNoRow ? 0 : cur + 1, true, flags, true);
      return cur == kNoRow ? kNoRow : scan(cur - 1, false, flags, true);
    case HTNAV_CURRENT:
      if (cur == kNoRow) {
        status = n == 0 ? HTFAIL_END_OF_LIST : HTFAIL_NO_POSITION;
        return kNoRow;
      }
      return accepts(cur, flags) ? cur : scan(cur + 1, true, flags, false);
    default:
      status = fail(HTFAIL_INVALID_ARGUMENT, "Unknown navigation " + std::to_string(navigation));
      return kNoRow;
  }
}

// Full-text results are flat: positions are the result's own numbers.
uint32_t ViewCursor::flatMove(HTINT navigation, HTUINT flags, HTSTATUS& status) {
  const bool forward = !(flags & HTNAVFLAG_BACKWARD);
  const uint32_t n = uint32_t(ftRows_.size());
  auto walk = [&](uint32_t from) -> uint32_t {
    for (uint32_t p = from; p >= 1 && p <= n; p = forward ? p + 1 : p - 1)
      if (accepts(ftRows_[p - 1], flags)) return p;
    return 0;
  };
  switch (navigation) {
    case HTNAV_NEXT:
    case HTNAV_SIBLING:
    case HTNAV_MAIN:
      return forward ? walk(pos_ + 1) : (pos_ <= 1 ? 0 : walk(pos_ - 1));
    case HTNAV_END:
      // END without the backward flag is the last row: walk in from the far end.
      for (uint32_t i = 1; i <= n; ++i) {
        const uint32_t p = forward ? n + 1 - i : i;
        if (accepts(ftRows_[p - 1], flags)) return p;
      }
      return 0;
    case HTNAV_CHILD:
    case HTNAV_PARENT:
      return 0;
    case HTNAV_CURRENT:
      if (pos_ == 0) {
        status = n == 0 ? HTFAIL_END_OF_LIST : HTFAIL_NO_POSITION;
        return 0;
      }
      if (accepts(ftRows_[pos_ - 1], flags)) return pos_;
      for (uint32_t p = pos_ + 1; p <= n; ++p)
        if (accepts(ftRows_[p - 1], flags)) return p;
      return 0;
    default:
      status = fail(HTFAIL_INVALID_ARGUMENT, "Unknown navigation " + std::to_string(navigation));
      return 0;
  }
}

HTSTATUS ViewCursor::navigate(HTINT navigation, HTUINT flags, index::NavEntry& out) {
  updateDeleted();
  HTSTATUS status = HTSUCCESS;
  uint32_t target = 0;
  if (ftActive_) {
    target = flatMove(navigation, flags, status);
  } else {
    const uint32_t row = treeMove(navigation, flags, status);
    target = row == kNoRow ? 0 : row + 1;
  }
  if (target == 0) return status ? fail(status) : endOfList();
  if (!(flags & HTNAVFLAG_PROBE)) pos_ = target;
  const Row& row = rowOf(rowAt(target));
  out.note = row.note;
  out.entryFlags = entryFlags(row);
  return HTSUCCESS;
}

HTSTATUS ViewCursor::setPosition(uint32_t position) {
  pos_ = std::min(position, count());
  return HTSUCCESS;
}

HTSTATUS ViewCursor::viewPosition(std::string& out) {
  if (pos_ == 0 || ftActive_) {
    out = std::to_string(pos_);
    return HTSUCCESS;
  }
  std::vector<uint32_t> ordinals;
  for (uint32_t r = currentRow(); r != kNoRow; r = snap_->row(r).parent) ordinals.push_back(snap_->row(r).ordinal);
  out.clear();
  for (size_t i = ordinals.size(); i-- > 0;) {
    out += std::to_string(ordinals[i]);
    if (i) out += '.';
  }
  return HTSUCCESS;
}

HTSTATUS ViewCursor::setViewPosition(std::string_view text) {
  const std::string_view t = trim(text);
  auto bad = [&] {
    return fail(HTFAIL_BAD_POSITION, "'" + std::string(text) + "' is not a position of this view");
  };
  if (t == "0") {
    pos_ = 0;
    return HTSUCCESS;
  }
  uint32_t row = kNoRow;
  uint32_t flat = 0;
  size_t start = 0;
  bool first = true;
  while (true) {
    const size_t dot = t.find('.', start);
    const std::string_view part = t.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    uint32_t ordinal = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), ordinal);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size() || ordinal == 0) return bad();
    if (ftActive_) {
      if (!first || dot != std::string_view::npos || ordinal > ftRows_.size()) return bad();
      flat = ordinal;
    } else {
      row = snap_->child(first ? kNoRow : row, ordinal);
      if (row == kNoRow) return bad();
    }
    first = false;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  pos_ = ftActive_ ? flat : row + 1;
  return HTSUCCESS;
}

// ---- Full text ------------------------------------------------------------------------

HTSTATUS ViewCursor::runFtQuery(const FtQuery& q, bool refine) {
  if (q.sort < HTFTSORT_NONE || q.sort > HTFTSORT_DATE_ASCEND)
    return fail(HTFAIL_INVALID_ARGUMENT, "Unknown full-text sort " + std::to_string(q.sort));
  std::unordered_set<HTID> within;
  if (refine)
    for (uint32_t r : ftRows_) within.insert(snap_->row(r).note);
  std::vector<index::fulltext::Hit> hits;
  if (HTSTATUS s = index::fulltext::search(*env_->database, env_->reader, q.query, refine ? &within : nullptr, hits))
    return s;
  std::unordered_map<HTID, uint32_t> scores;
  for (const auto& h : hits) scores[h.note] = h.score;
  // The first row of each matching document, in view order.
  std::unordered_map<HTID, uint32_t> firstRow;
  std::vector<uint32_t> rows;
  auto consider = [&](uint32_t r) {
    const Row& row = snap_->row(r);
    if (row.kind != RowKind::Document || !scores.count(row.note) || firstRow.count(row.note)) return;
    firstRow[row.note] = r;
    rows.push_back(r);
  };
  if (refine) {
    for (uint32_t r : ftRows_) consider(r);
  } else {
    for (uint32_t r = 0; r < snap_->size(); ++r) consider(r);
  }
  if (q.sort != HTFTSORT_NONE) {
    std::vector<index::fulltext::Hit> shown;
    for (const auto& h : hits)
      if (firstRow.count(h.note)) shown.push_back(h);
    if (HTSTATUS s = index::fulltext::order(shown, q.sort, q.maxDocs)) return s;
    rows.clear();
    for (const auto& h : shown) rows.push_back(firstRow[h.note]);
  } else if (q.maxDocs && rows.size() > q.maxDocs) {
    rows.resize(q.maxDocs);
  }
  ftRows_ = std::move(rows);
  ftScores_.clear();
  for (uint32_t r : ftRows_) ftScores_.push_back(scores[snap_->row(r).note]);
  return HTSUCCESS;
}

HTSTATUS ViewCursor::ftSearch(std::string_view query, HTUINT options, HTINT sort, HTUINT maxDocs) {
  if (options & HTFTOPT_CLEAR) {
    ftActive_ = false;
    ftRows_.clear();
    ftScores_.clear();
    ftChain_.clear();
    pos_ = 0;
    return HTSUCCESS;
  }
  const bool refine = (options & HTFTOPT_REFINE) && ftActive_;
  FtQuery q{std::string(query), sort, maxDocs};
  if (HTSTATUS s = runFtQuery(q, refine)) return s;
  if (!refine) ftChain_.clear();
  ftChain_.push_back(std::move(q));
  ftActive_ = true;
  pos_ = 0;
  return HTSUCCESS;
}

uint32_t ViewCursor::ftScore() {
  if (!ftActive_ || pos_ == 0 || pos_ > ftScores_.size()) return 0;
  return ftScores_[pos_ - 1];
}

// ---- Refresh ----------------------------------------------------------------------------

HTSTATUS ViewCursor::refresh() {
  const HTID id = snap_->design().id;
  auto fresh = ViewSnapshot::acquire(*env_->database, id, env_->reader);
  if (!fresh) return fail(HTFAIL_NOT_A_VIEW, "The view or folder " + std::to_string(id) + " no longer exists");
  snap_ = std::move(fresh);
  rowIndex_ = kNoRow;
  cellsRow_ = kNoRow;
  deleted_.clear();
  seenGeneration_ = kUnseen;
  // The search and its refinements run again over the new rows.
  for (size_t i = 0; ftActive_ && i < ftChain_.size(); ++i) {
    if (HTSTATUS s = runFtQuery(ftChain_[i], i > 0)) {
      ftRows_.clear();
      ftScores_.clear();
      pos_ = 0;
      return s;
    }
  }
  pos_ = std::min(pos_, count());
  return HTSUCCESS;
}

// ---- Keys -------------------------------------------------------------------------------

HTSTATUS ViewCursor::listKey(HTINT listMode, HTKEYDESC& key) {
  const auto& columns = snap_->design().keyColumns;
  size_t next = keyCursor_;
  switch (listMode) {
    case HTLIST_FIRST:
    case HTLIST_REFRESH: next = 0; break;
    case HTLIST_NEXT: next = keyStarted_ ? keyCursor_ + 1 : 0; break;
    case HTLIST_PREVIOUS:
      if (!keyStarted_ || keyCursor_ == 0) return endOfList();
      next = keyCursor_ - 1;
      break;
    case HTLIST_LAST: next = columns.empty() ? 0 : columns.size() - 1; break;
    case HTLIST_CURRENT:
      if (!keyStarted_) return endOfList();
      break;
    default: return fail(HTFAIL_INVALID_ARGUMENT, "Unknown list mode " + std::to_string(listMode));
  }
  keyStarted_ = true;
  keyCursor_ = std::min(next, columns.size());
  if (keyCursor_ >= columns.size()) return endOfList();
  const size_t column = columns[keyCursor_];
  key.column = uint32_t(column + 1);
  key.sort = uint32_t(snap_->design().columns[column].design.sort);
  return HTSUCCESS;
}

HTSTATUS ViewCursor::keySearch(HTUINT keyCount, const HTKEYDESC* keys, HTUINT mode, HTUINT& matched) {
  matched = 0;
  if (!keys) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: keys");
  if (mode != HTKEYSEARCH_EXACT && mode != HTKEYSEARCH_PARTIAL)
    return fail(HTFAIL_INVALID_ARGUMENT, "Unknown key search mode " + std::to_string(mode));
  const size_t available = snap_->design().keyColumns.size();
  if (keyCount == 0 || keyCount > HT_MAX_KEYS || keyCount > available)
    return fail(HTFAIL_INVALID_ARGUMENT, "A key search of this view takes 1 to " +
                                             std::to_string(std::min<size_t>(available, HT_MAX_KEYS)) + " keys, not " +
                                             std::to_string(keyCount));
  std::vector<KeyValue> values;
  for (HTUINT k = 0; k < keyCount; ++k) {
    KeyValue v;
    if (HTSTATUS s = readKey(keys[k], v)) return s;
    values.push_back(std::move(v));
  }
  updateDeleted();
  KeyMatcher matcher(*snap_, values, mode == HTKEYSEARCH_PARTIAL);
  // The first match the reader can reach: a live document, and in the full-text result when
  // one is in force.
  std::unordered_map<uint32_t, uint32_t> ftPosition;
  if (ftActive_)
    for (uint32_t p = 0; p < ftRows_.size(); ++p) ftPosition.emplace(ftRows_[p], p + 1);
  uint32_t best = 0;
  size_t bestMain = std::numeric_limits<size_t>::max();
  matcher.forEachMatch([&](size_t mainIndex, uint32_t row) {
    if (deleted(snap_->row(row).note)) return;
    if (ftActive_ && !ftPosition.count(row)) return;
    ++matched;
    if (mainIndex < bestMain) {
      bestMain = mainIndex;
      best = ftActive_ ? ftPosition[row] : row + 1;
    }
  });
  if (best == 0) return fail(HTFAIL_NOT_FOUND, "No document of the view matches the key");
  pos_ = best;
  return HTSUCCESS;
}

// ---- Cells ------------------------------------------------------------------------------

namespace {

// Failures are built out of line: the reads that succeed, a walk's every cell, then carry no
// message-building frame.
[[gnu::cold, gnu::noinline]] HTSTATUS notAColumn(HTUINT column, size_t columns) {
  return fail(HTFAIL_INVALID_ARGUMENT, "Column " + std::to_string(column) + " is not a column of this view (1 to " +
                                           std::to_string(columns) + ")");
}

[[gnu::cold, gnu::noinline]] HTSTATUS typeMismatch(HTUINT column) {
  return fail(HTFAIL_TYPE_MISMATCH, "Column " + std::to_string(column) + " does not hold that type in this row");
}

}  // namespace

HTSTATUS ViewCursor::currentCell(HTUINT column, uint32_t& row, size_t& index) {
  row = currentRow();
  if (row == kNoRow) return fail(HTFAIL_NO_POSITION, "The index has no current row to read a cell of");
  const size_t columns = snap_->design().columns.size();
  if (column == 0 || column > columns) return notAColumn(column, columns);
  index = column - 1;
  return HTSUCCESS;
}

namespace {

// The form a cell is handed out in: its own number or date-time when asked for (or when the
// caller asks for the native form, type 0), else its text.
HTINT cellType(HTINT wanted, const formula::Value& value) {
  const bool single = value.size() == 1;
  if ((wanted == HTTYPE_NUMBER || wanted == HTTYPE_INVALID) && single && value.isNumber()) return HTTYPE_NUMBER;
  if ((wanted == HTTYPE_DATETIME || wanted == HTTYPE_INVALID) && single && value.isDateTime()) return HTTYPE_DATETIME;
  return HTTYPE_TEXT;
}

}  // namespace

HTSTATUS ViewCursor::cellLength(HTUINT column, HTINT* type, HTUINT* length) {
  if (!type || !length) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: type or length");
  uint32_t row = 0;
  size_t index = 0;
  if (HTSTATUS s = currentCell(column, row, index)) return s;
  const formula::Value value = snap_->cellValue(row, index);
  const HTINT out = cellType(*type, value);
  if ((*type == HTTYPE_NUMBER || *type == HTTYPE_DATETIME) && out != *type) return typeMismatch(column);
  *type = out;
  *length = out == HTTYPE_TEXT ? HTUINT(snap_->cellText(row, index, value).size()) : 8u;
  return HTSUCCESS;
}

// Cell `index` of document row `row` as stored; nullptr when the general path must answer
// (a category or total row, a response-only column of a main document, a damaged entry).
const CellRef* ViewCursor::storedCell(uint32_t row, size_t index) {
  if (row != cellsRow_) {
    // Reading the row may throw (its chunk unreadable): the next read then tries again.
    cellsRow_ = kNoRow;
    cells_.clear();
    cellsStored_ = snap_->documentCells(rowOf(row), cellsRest_);
    cellsRow_ = row;
  }
  if (!cellsStored_) return nullptr;
  if ((snap_->design().columns[index].design.flags & HTCOLFLAG_RESPONSE_ONLY) && !rowOf(row).response) return nullptr;
  while (cells_.size() <= index) {
    if (!nextCell(cellsRest_, cells_.emplace_back())) {
      cells_.pop_back();
      return nullptr;
    }
  }
  return &cells_[index];
}

// A document row's cell read in place, without building its value: walks read cells of every
// row. Answers exactly as the general path below does; false when that path must answer.
bool ViewCursor::fetchStoredCell(const CellRef& cell, HTUINT column, HTINT* type, HTUINT* length, void* buffer,
                                 HTSTATUS& status) {
  const bool single = cell.count == 1;
  const HTINT wanted = *type;
  HTINT out = HTTYPE_TEXT;
  if ((wanted == HTTYPE_NUMBER || wanted == HTTYPE_INVALID) && single && cell.type == 1) out = HTTYPE_NUMBER;
  else if ((wanted == HTTYPE_DATETIME || wanted == HTTYPE_INVALID) && single && cell.type == 2) out = HTTYPE_DATETIME;
  if ((wanted == HTTYPE_NUMBER || wanted == HTTYPE_DATETIME) && out != wanted) {
    status = typeMismatch(column);
    return true;
  }
  const HTUINT capacity = *length;
  if (out != HTTYPE_TEXT) {
    if (capacity < 8) {
      status = fail(HTFAIL_BUFFER_TOO_SMALL, "A cell value needs 8 bytes");
      return true;
    }
    if (out == HTTYPE_NUMBER) {
      const double d = cellNumber(cell);
      std::memcpy(buffer, &d, 8);
    } else {
      const formula::DateTime v = cellDateTime(cell);
      const HTDATETIME dt = dt::fromSerial(v.date, v.ms);
      std::memcpy(buffer, &dt, 8);
    }
    *type = out;
    *length = 8;
    status = HTSUCCESS;
    return true;
  }
  if (capacity == 0) {
    status = fail(HTFAIL_BUFFER_TOO_SMALL, "The cell buffer has no room");
    return true;
  }
  // One text or one number, the usual cells, go to the buffer without an intermediate string.
  std::string_view text;
  char digits[formula::kNumberTextCapacity];
  if (single && cell.type == 0) {
    if (!cellFirstText(cell, text)) return false;
  } else if (single && cell.type == 1) {
    text = std::string_view(digits, formula::numberText(cellNumber(cell), digits));
  } else {
    cellText_.clear();
    if (!appendCellText(cellText_, cell)) return false;
    text = cellText_;
  }
  *type = HTTYPE_TEXT;
  *length = HTUINT(copyText(static_cast<char*>(buffer), capacity, text));
  status = HTSUCCESS;
  return true;
}

HTSTATUS ViewCursor::cellFetch(HTUINT column, HTINT* type, HTUINT* length, void* buffer) {
  if (!type || !length || !buffer) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: type, length or buffer");
  uint32_t row = 0;
  size_t index = 0;
  if (HTSTATUS s = currentCell(column, row, index)) return s;
  HTSTATUS status = HTSUCCESS;
  if (const CellRef* cell = storedCell(row, index); cell && fetchStoredCell(*cell, column, type, length, buffer, status))
    return status;
  const formula::Value value = snap_->cellValue(row, index);
  const HTINT out = cellType(*type, value);
  if ((*type == HTTYPE_NUMBER || *type == HTTYPE_DATETIME) && out != *type) return typeMismatch(column);
  const HTUINT capacity = *length;
  if (out == HTTYPE_NUMBER || out == HTTYPE_DATETIME) {
    if (capacity < 8) return fail(HTFAIL_BUFFER_TOO_SMALL, "A cell value needs 8 bytes");
    if (out == HTTYPE_NUMBER) {
      const double d = value.numbers()[0];
      std::memcpy(buffer, &d, 8);
    } else {
      const auto& v = value.dateTimes()[0];
      const HTDATETIME dt = dt::fromSerial(v.date, v.ms);
      std::memcpy(buffer, &dt, 8);
    }
    *type = out;
    *length = 8;
    return HTSUCCESS;
  }
  // `length` is the buffer's size, terminator included; a longer text is cut to fit.
  if (capacity == 0) return fail(HTFAIL_BUFFER_TOO_SMALL, "The cell buffer has no room");
  *type = HTTYPE_TEXT;
  *length = HTUINT(copyText(static_cast<char*>(buffer), capacity, snap_->cellText(row, index, value)));
  return HTSUCCESS;
}

HTSTATUS ViewCursor::property(HTINT property, void* value) {
  if (property != HTINDEX_VIEW_DEPTH) return HTFAIL_UNKNOWN_PROPERTY;
  if (!value) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: value");
  const uint32_t row = currentRow();
  const uint32_t depth = row == kNoRow || ftActive_ ? 0 : uint32_t(snap_->row(row).depth) + 1;
  std::memcpy(value, &depth, sizeof depth);
  return HTSUCCESS;
}

}  // namespace quire::engine::view
