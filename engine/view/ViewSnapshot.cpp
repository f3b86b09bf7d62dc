#include "engine/view/ViewSnapshot.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "engine/core/Engine.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Properties.h"
#include "engine/view/EntryCodec.h"
#include "engine/view/ViewIndex.h"

namespace quire::engine::view {
namespace {

// Responses nested deeper than this are not shown: it bounds the walk of a reply chain that a
// replication conflict may have turned into a loop.
constexpr uint16_t kMaxDepth = 64;

struct CacheKey {
  uint32_t database;
  HTID view;
  bool operator<(const CacheKey& o) const { return database != o.database ? database < o.database : view < o.view; }
};

std::mutex gCacheMutex;
// Never destroyed: HTTerm may run from an exit handler after function statics are gone.
std::map<CacheKey, std::weak_ptr<const ViewSnapshot>>& cache() {
  static auto* map = new std::map<CacheKey, std::weak_ptr<const ViewSnapshot>>;
  return *map;
}

const bool kStopHook = [] {
  onStop([] {
    std::lock_guard lock(gCacheMutex);
    cache().clear();
  });
  return true;
}();

uint8_t tagBit(std::string_view component) {
  if (component.empty()) return 0;
  uint8_t tag = uint8_t(component[0]);
  if (tag > 0x7F) tag = uint8_t(~tag);
  switch (tag) {
    case kTagNumber: return 1;
    case kTagDateTime: return 2;
    case kTagText: return 4;
    default: return 0;
  }
}

bool admitted(const index::ReadAccess& reader, const store::Blob& names) {
  std::vector<std::string> list;
  if (!store::codec::decodeTextList(names, list)) return false;
  for (const auto& name : list)
    if (reader.admits(name)) return true;
  return false;
}

}  // namespace

class ViewSnapshot::Builder {
 public:
  Builder(ViewSnapshot& s) : s_(s), levels_(s.design_->categoryLevels) {}

  void load(store::Connection& conn, const index::ReadAccess& reader) {
    std::vector<uint32_t> mains;
    forEachStoredEntry(conn, s_.design_->id, [&](const StoredEntry& stored) {
      if (reader.restricted() && stored.readers && !admitted(reader, *stored.readers)) return;
      if (stored.parent < 0) return;  // a response waiting for its parent
      Entry e{stored.note, uint32_t(s_.keys_.size()), uint32_t(stored.key.size()), uint32_t(s_.cells_.size()),
              uint32_t(stored.cells.size())};
      s_.keys_.append(stored.key);
      s_.cells_.append(stored.cells);
      const uint32_t index = uint32_t(s_.entries_.size());
      s_.entries_.push_back(e);
      if (stored.parent == 0) mains.push_back(index); else responses_[HTID(stored.parent)].push_back(index);
    });
    build(mains);
  }

 private:
  void build(const std::vector<uint32_t>& mains) {
    for (size_t c = 0; c < s_.design_->columns.size(); ++c)
      if (s_.design_->columns[c].design.total != HTCOLTOTAL_NONE) s_.totalColumns_.push_back(c);
    s_.grand_.assign(s_.totalColumns_.size(), 0);
    s_.keyTypes_.assign(s_.design_->keyColumns.size(), 0);
    s_.rows_.reserve(mains.size() + mains.size() / 8 + 2);
    s_.mainRows_.reserve(mains.size());
    open_.assign(levels_, kNoRow);
    openKey_.assign(levels_, std::string_view());
    for (uint32_t e : mains) addMain(e);
    closeCategories(0);
    if (!s_.totalColumns_.empty() && !s_.rows_.empty()) {
      Row total;
      total.note = HTNOTEID_TOTAL;
      total.kind = RowKind::Total;
      total.end = uint32_t(s_.rows_.size() + 1);
      s_.rows_.push_back(total);
    }
    linkChildren();
  }

  void addMain(uint32_t entry) {
    const Entry& e = s_.entries_[entry];
    splitKey(std::string_view(s_.keys_).substr(e.keyOffset, e.keyLength), parts_);
    const auto& parts = parts_;
    for (size_t k = 0; k < parts.size() && k < s_.keyTypes_.size(); ++k) s_.keyTypes_[k] |= tagBit(parts[k]);
    size_t level = 0;
    while (level < levels_ && open_[level] != kNoRow && level < parts.size() && openKey_[level] == parts[level]) ++level;
    closeCategories(level);
    for (; level < levels_; ++level) {
      Row cat;
      cat.note = HTNOTEID_CATEGORY;
      cat.kind = RowKind::Category;
      cat.parent = level == 0 ? kNoRow : open_[level - 1];
      cat.depth = uint16_t(level);
      cat.data = uint32_t(s_.categories_.size());
      s_.categories_.push_back({entry, uint32_t(level), uint32_t(s_.totals_.size()), 0});
      s_.totals_.resize(s_.totals_.size() + s_.totalColumns_.size(), 0);
      open_[level] = uint32_t(s_.rows_.size());
      openKey_[level] = level < parts.size() ? parts[level] : std::string_view();
      s_.rows_.push_back(cat);
    }
    const uint32_t row = addDocument(entry, levels_ ? open_[levels_ - 1] : kNoRow, uint16_t(levels_), false);
    s_.mainRows_.push_back(row);
    chain_.clear();
    chain_.push_back(e.note);
    addResponses(row, e.note, uint16_t(levels_ + 1));
    s_.rows_[row].end = uint32_t(s_.rows_.size());
  }

  uint32_t addDocument(uint32_t entry, uint32_t parent, uint16_t depth, bool response) {
    Row doc;
    doc.note = s_.entries_[entry].note;
    doc.parent = parent;
    doc.depth = depth;
    doc.data = entry;
    doc.response = response;
    const uint32_t row = uint32_t(s_.rows_.size());
    doc.end = row + 1;
    s_.rows_.push_back(doc);
    accumulate(entry);
    return row;
  }

  void addResponses(uint32_t parentRow, HTID parentNote, uint16_t depth) {
    auto it = responses_.find(parentNote);
    if (it == responses_.end() || depth > kMaxDepth) return;
    for (uint32_t entry : it->second) {
      const HTID note = s_.entries_[entry].note;
      if (std::find(chain_.begin(), chain_.end(), note) != chain_.end()) continue;
      const uint32_t row = addDocument(entry, parentRow, depth, true);
      chain_.push_back(note);
      addResponses(row, note, uint16_t(depth + 1));
      chain_.pop_back();
      s_.rows_[row].end = uint32_t(s_.rows_.size());
    }
  }

  void accumulate(uint32_t entry) {
    ++s_.grandDocuments_;
    for (size_t level = 0; level < levels_; ++level)
      if (open_[level] != kNoRow) ++s_.categories_[s_.rows_[open_[level]].data].documents;
    if (s_.totalColumns_.empty()) return;
    const Entry& e = s_.entries_[entry];
    const std::string_view cells = std::string_view(s_.cells_).substr(e.cellOffset, e.cellLength);
    for (size_t t = 0; t < s_.totalColumns_.size(); ++t) {
      const double v = cellNumberSum(cells, s_.totalColumns_[t]);
      s_.grand_[t] += v;
      for (size_t level = 0; level < levels_; ++level)
        if (open_[level] != kNoRow) s_.totals_[s_.categories_[s_.rows_[open_[level]].data].totals + t] += v;
    }
  }

  void closeCategories(size_t from) {
    for (size_t level = levels_; level-- > from;) {
      if (open_[level] == kNoRow) continue;
      s_.rows_[open_[level]].end = uint32_t(s_.rows_.size());
      open_[level] = kNoRow;
    }
  }

  // Ordinals and child lists, once every row has its parent.
  void linkChildren() {
    auto& rows = s_.rows_;
    for (auto& r : rows)
      if (r.parent != kNoRow) ++rows[r.parent].childCount;
    uint32_t offset = 0;
    for (auto& r : rows) {
      r.firstChild = offset;
      offset += r.childCount;
      r.childCount = 0;
    }
    s_.children_.resize(offset);
    for (uint32_t i = 0; i < rows.size(); ++i) {
      Row& r = rows[i];
      if (r.parent == kNoRow) {
        s_.topRows_.push_back(i);
        r.ordinal = uint32_t(s_.topRows_.size());
      } else {
        Row& p = rows[r.parent];
        s_.children_[p.firstChild + p.childCount] = i;
        r.ordinal = ++p.childCount;
      }
    }
  }

  ViewSnapshot& s_;
  const size_t levels_;
  std::unordered_map<HTID, std::vector<uint32_t>> responses_;
  std::vector<uint32_t> open_;
  std::vector<std::string_view> openKey_;
  std::vector<std::string_view> parts_;  // the key components of the entry being added
  std::vector<HTID> chain_;
};

std::shared_ptr<const ViewSnapshot> ViewSnapshot::acquire(db::Database& database, HTID viewId,
                                                          const index::ReadAccess& reader) {
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  ensureCurrent(database, conn, viewId);
  auto design = designOf(database, conn, viewId);
  if (!design) return nullptr;
  const int64_t counter = store::prop::getInt(conn, store::prop::kChangeCounter, 0);
  const CacheKey key{database.serial(), viewId};
  if (!reader.restricted()) {
    std::lock_guard cacheLock(gCacheMutex);
    if (auto cached = cache()[key].lock(); cached && cached->changeCounter_ == counter) return cached;
  }
  auto snapshot = std::make_shared<ViewSnapshot>();
  snapshot->design_ = std::move(design);
  snapshot->changeCounter_ = counter;
  Builder(*snapshot).load(conn, reader);
  if (!reader.restricted()) {
    std::lock_guard cacheLock(gCacheMutex);
    cache()[key] = snapshot;
  }
  return snapshot;
}

uint32_t ViewSnapshot::child(uint32_t parent, uint32_t ordinal) const {
  if (ordinal == 0) return kNoRow;
  if (parent == kNoRow) return ordinal <= topRows_.size() ? topRows_[ordinal - 1] : kNoRow;
  const Row& p = rows_[parent];
  return ordinal <= p.childCount ? children_[p.firstChild + ordinal - 1] : kNoRow;
}

uint32_t ViewSnapshot::childCount(uint32_t parent) const {
  return parent == kNoRow ? uint32_t(topRows_.size()) : rows_[parent].childCount;
}

std::string_view ViewSnapshot::key(uint32_t row) const {
  const Row& r = rows_[row];
  if (r.kind != RowKind::Document) return {};
  const Entry& e = entries_[r.data];
  return std::string_view(keys_).substr(e.keyOffset, e.keyLength);
}

int ViewSnapshot::totalSlot(size_t column) const {
  for (size_t t = 0; t < totalColumns_.size(); ++t)
    if (totalColumns_[t] == column) return int(t);
  return -1;
}

double ViewSnapshot::sumOf(uint32_t row, size_t slot) const {
  if (row == kNoRow || rows_[row].kind == RowKind::Total) return grand_[slot];
  const Row& r = rows_[row];
  if (r.kind == RowKind::Category) return totals_[categories_[r.data].totals + slot];
  return 0;
}

uint32_t ViewSnapshot::documentsOf(uint32_t row) const {
  if (row == kNoRow || rows_[row].kind == RowKind::Total) return grandDocuments_;
  return categories_[rows_[row].data].documents;
}

ViewSnapshot::Aggregate ViewSnapshot::aggregate(uint32_t row, size_t column) const {
  Aggregate a;
  const int slot = totalSlot(column);
  if (slot < 0) return a;
  const double sum = sumOf(row, size_t(slot));
  a.present = true;
  switch (design_->columns[column].design.total) {
    case HTCOLTOTAL_DOCUMENT_AVG: {
      const uint32_t docs = documentsOf(row);
      a.value = docs ? sum / docs : 0;
      break;
    }
    case HTCOLTOTAL_CHILD_AVG: {
      const uint32_t children = rows_[row].kind == RowKind::Total ? uint32_t(topRows_.size() - 1) : rows_[row].childCount;
      a.value = children ? sum / children : 0;
      break;
    }
    case HTCOLTOTAL_VIEW_PCT: {
      const double whole = grand_[size_t(slot)];
      a.value = whole != 0 ? sum / whole * 100 : 0;
      a.percent = true;
      break;
    }
    case HTCOLTOTAL_PARENT_PCT: {
      const uint32_t parent = rows_[row].kind == RowKind::Total ? kNoRow : rows_[row].parent;
      const double whole = rows_[row].kind == RowKind::Total ? grand_[size_t(slot)] : sumOf(parent, size_t(slot));
      a.value = whole != 0 ? sum / whole * 100 : 0;
      a.percent = true;
      break;
    }
    default:
      a.value = sum;
      return a;
  }
  // Averages and shares are read, not summed further: two decimals are enough.
  a.value = std::round(a.value * 100) / 100;
  return a;
}

formula::Value ViewSnapshot::cellValue(uint32_t row, size_t column) const {
  if (row >= rows_.size() || column >= design_->columns.size()) return formula::Value();
  const Row& r = rows_[row];
  switch (r.kind) {
    case RowKind::Document: {
      if ((design_->columns[column].design.flags & HTCOLFLAG_RESPONSE_ONLY) && !r.response) return formula::Value();
      const Entry& e = entries_[r.data];
      return decodeCell(std::string_view(cells_).substr(e.cellOffset, e.cellLength), column);
    }
    case RowKind::Category: {
      const Category& c = categories_[r.data];
      if (design_->keyColumns[c.level] == column) {
        const Entry& e = entries_[c.entry];
        return decodeCell(std::string_view(cells_).substr(e.cellOffset, e.cellLength), column);
      }
      [[fallthrough]];
    }
    case RowKind::Total: {
      const Aggregate a = aggregate(row, column);
      return a.present ? formula::Value(a.value) : formula::Value();
    }
  }
  return formula::Value();
}

bool ViewSnapshot::documentCell(uint32_t row, size_t column, CellRef& out) const {
  if (row >= rows_.size() || column >= design_->columns.size()) return false;
  const Row& r = rows_[row];
  if (r.kind != RowKind::Document) return false;
  if ((design_->columns[column].design.flags & HTCOLFLAG_RESPONSE_ONLY) && !r.response) return false;
  const Entry& e = entries_[r.data];
  return findCell(std::string_view(cells_).substr(e.cellOffset, e.cellLength), column, out);
}

std::string ViewSnapshot::cellText(uint32_t row, size_t column) const {
  return cellText(row, column, cellValue(row, column));
}

std::string ViewSnapshot::cellText(uint32_t row, size_t column, const formula::Value& value) const {
  if (row >= rows_.size() || column >= design_->columns.size()) return {};
  const Row& r = rows_[row];
  if (r.kind == RowKind::Category && design_->keyColumns[categories_[r.data].level] == column) {
    const std::string text = renderValue(value);
    return text.empty() ? kNotCategorized : text;
  }
  if (r.kind != RowKind::Document) {
    const Aggregate a = aggregate(row, column);
    if (!a.present) return {};
    return renderNumber(a.value) + (a.percent ? "%" : "");
  }
  return renderValue(value);
}

}  // namespace quire::engine::view
