#include "engine/view/ViewSnapshot.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>

#include "engine/core/Engine.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"
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
    s_.rowCount_ = uint32_t(s_.rows_.size());
  }

  void addMain(uint32_t entry) {
    const Entry& e = s_.entries_[entry];
    splitKey(std::string_view(s_.keys_).substr(e.keyOffset, e.keyLength), parts_);
    const auto& parts = parts_;
    for (size_t k = 0; k < parts.size() && k < s_.keyTypes_.size(); ++k) s_.keyTypes_[k] |= keyTypeBit(parts[k]);
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

// Rows from the chunk summaries of a view's last build, as Builder would make them from its
// entries: the same categories (a run's path against the open categories), the same counts
// and totals, and document rows as numbered stretches of entries.
class ViewSnapshot::OutlineBuilder {
 public:
  OutlineBuilder(ViewSnapshot& s) : s_(s), levels_(s.design_->categoryLevels) {}

  void build(BaseOutline& outline) {
    s_.lazy_ = true;
    s_.build_ = outline.build;
    for (size_t c = 0; c < s_.design_->columns.size(); ++c)
      if (s_.design_->columns[c].design.total != HTCOLTOTAL_NONE) s_.totalColumns_.push_back(c);
    s_.grand_.assign(s_.totalColumns_.size(), 0);
    s_.keyTypes_.assign(s_.design_->keyColumns.size(), 0);
    open_.assign(levels_, kNone);
    openPath_.assign(levels_, nullptr);
    ordinals_.push_back(0);  // the top
    uint32_t entry = 0;
    for (BaseSummary& chunk : outline.chunks) {
      s_.chunkFirst_.push_back(entry);
      s_.chunkKeys_.push_back(std::move(chunk.firstKey));
      for (size_t k = 0; k < chunk.keyTypes.size() && k < s_.keyTypes_.size(); ++k) s_.keyTypes_[k] |= chunk.keyTypes[k];
      for (const BaseSummary::Run& run : chunk.runs) {
        addRun(run, entry);
        entry += run.entries;
      }
    }
    s_.chunkFirst_.push_back(entry);
    closeCategories(0);
    if (!s_.totalColumns_.empty() && rows_ > 0) {
      Row total;
      total.note = HTNOTEID_TOTAL;
      total.kind = RowKind::Total;
      total.end = rows_ + 1;
      addExplicit(total, 0);
    }
    link();
    s_.rowCount_ = rows_;
    s_.loaded_ = std::make_unique<std::atomic<const LoadedChunk*>[]>(outline.chunks.size());
    s_.owned_.resize(outline.chunks.size());
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  void addRun(const BaseSummary::Run& run, uint32_t entry) {
    size_t level = 0;
    while (level < levels_ && open_[level] != kNone && *openPath_[level] == run.path[level]) ++level;
    closeCategories(level);
    for (; level < levels_; ++level) {
      Row cat;
      cat.note = HTNOTEID_CATEGORY;
      cat.kind = RowKind::Category;
      cat.depth = uint16_t(level);
      cat.data = uint32_t(s_.categories_.size());
      s_.categories_.push_back({entry, uint32_t(level), uint32_t(s_.totals_.size()), 0});
      s_.totals_.resize(s_.totals_.size() + s_.totalColumns_.size(), 0);
      open_[level] = addExplicit(cat, level == 0 ? 0 : open_[level - 1] + 1);
      openPath_[level] = &run.path[level];
    }
    if (run.entries == 0) return;
    const uint32_t slot = levels_ ? open_[levels_ - 1] + 1 : 0;
    Segment* last = s_.segments_.empty() ? nullptr : &s_.segments_.back();
    if (last && last->documents && last->parent == parentRow(slot) && last->data + last->count == entry) {
      last->count += run.entries;
      ordinals_[slot] += run.entries;
    } else {
      Segment seg;
      seg.count = run.entries;
      seg.data = entry;
      seg.depth = uint16_t(levels_);
      seg.documents = true;
      addSegment(seg, slot, run.entries);
      s_.documentSegments_.push_back(uint32_t(s_.segments_.size() - 1));
    }
    rows_ += run.entries;
    s_.grandDocuments_ += run.entries;
    for (size_t l = 0; l < levels_; ++l) s_.categories_[s_.explicit_[open_[l]].data].documents += run.entries;
    for (size_t t = 0; t < s_.totalColumns_.size(); ++t) {
      s_.grand_[t] += run.sums[t];
      for (size_t l = 0; l < levels_; ++l) s_.totals_[s_.categories_[s_.explicit_[open_[l]].data].totals + t] += run.sums[t];
    }
  }

  uint32_t parentRow(uint32_t slot) const { return slot == 0 ? kNoRow : explicitRow_[slot - 1]; }

  // Adds a category or total row as the next row under parent slot `slot` (0 the top, k + 1
  // the explicit row k); returns its index in explicit_.
  uint32_t addExplicit(Row row, uint32_t slot) {
    const uint32_t index = uint32_t(s_.explicit_.size());
    row.parent = parentRow(slot);
    row.ordinal = ordinals_[slot] + 1;
    Segment seg;
    seg.count = 1;
    seg.data = index;
    seg.depth = row.depth;
    s_.explicit_.push_back(row);
    explicitRow_.push_back(rows_);
    ordinals_.push_back(0);
    addSegment(seg, slot, 1);
    ++rows_;
    return index;
  }

  void addSegment(Segment seg, uint32_t slot, uint32_t ordinals) {
    seg.firstRow = rows_;
    seg.parent = parentRow(slot);
    seg.ordinal = ordinals_[slot] + 1;
    ordinals_[slot] += ordinals;
    s_.segments_.push_back(seg);
    pending_.push_back({slot, ChildItem{uint32_t(s_.segments_.size() - 1), seg.ordinal}});
  }

  void closeCategories(size_t from) {
    for (size_t level = levels_; level-- > from;) {
      if (open_[level] == kNone) continue;
      s_.explicit_[open_[level]].end = rows_;
      open_[level] = kNone;
    }
  }

  // Child items grouped by parent, in row order within each.
  void link() {
    std::vector<uint32_t> start(ordinals_.size() + 1, 0);
    for (const auto& p : pending_) ++start[p.first + 1];
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    s_.items_.resize(pending_.size());
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (const auto& p : pending_) s_.items_[fill[p.first]++] = p.second;
    s_.topFirstItem_ = start[0];
    s_.topItems_ = start[1] - start[0];
    s_.topCount_ = ordinals_[0];
    s_.explicitItems_.resize(s_.explicit_.size());
    for (size_t k = 0; k < s_.explicit_.size(); ++k) {
      Row& r = s_.explicit_[k];
      r.firstChild = start[k + 1];
      s_.explicitItems_[k] = start[k + 2] - start[k + 1];
      r.childCount = ordinals_[k + 1];
    }
  }

  ViewSnapshot& s_;
  const size_t levels_;
  uint32_t rows_ = 0;
  std::vector<uint32_t> open_;                // open category by level: index into explicit_
  std::vector<const std::string*> openPath_;  // their key components
  std::vector<uint32_t> ordinals_;            // children so far, by parent slot
  std::vector<uint32_t> explicitRow_;         // row number of each explicit row
  std::vector<std::pair<uint32_t, ChildItem>> pending_;
};

namespace {

// Whether the summaries can stand for every entry this reader sees, with the rows the
// design asks for: no responses (their places depend on other entries), no entry a
// restricted reader must be checked against, keys with every category component.
bool outlineServes(const BaseOutline& outline, const CompiledDesign& design, const index::ReadAccess& reader) {
  for (const BaseSummary& chunk : outline.chunks) {
    if (!chunk.matches(design)) return false;
    if (chunk.flags & (BaseSummary::kHasParents | BaseSummary::kShortKey)) return false;
    if (reader.restricted() && (chunk.flags & BaseSummary::kHasReaders)) return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<const ViewSnapshot> ViewSnapshot::acquire(db::Database& database, HTID viewId,
                                                          const index::ReadAccess& reader) {
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  // Everything below reads one committed state: the outline, the chunks and the rows of a
  // view read apart could each come from another writer's commit. Inside a write transaction
  // the snapshot is that transaction, so its own changes show.
  std::optional<store::ReadSnapshot> reading(std::in_place, conn);
  bool current = false;
  auto design = currentDesign(database, conn, viewId, current);
  if (!current) {
    reading.reset();
    ensureCurrent(database, conn, viewId);
    reading.emplace(conn);
    design = designOf(database, conn, viewId);
  }
  if (!design) return nullptr;
  const int64_t counter = store::prop::getInt(conn, store::prop::kChangeCounter, 0);
  const CacheKey key{database.serial(), viewId};
  if (!reader.restricted()) {
    std::lock_guard cacheLock(gCacheMutex);
    if (auto cached = cache()[key].lock(); cached && cached->changeCounter_ == counter && cached->stillStored(conn))
      return cached;
  }
  auto snapshot = std::make_shared<ViewSnapshot>();
  snapshot->design_ = std::move(design);
  snapshot->changeCounter_ = counter;
  BaseOutline outline;
  if (!snapshot->design_->folder && readBaseOutline(conn, viewId, outline) &&
      outlineServes(outline, *snapshot->design_, reader)) {
    snapshot->database_ = &database;
    OutlineBuilder(*snapshot).build(outline);
  } else {
    Builder(*snapshot).load(conn, reader);
  }
  if (!reader.restricted()) {
    std::lock_guard cacheLock(gCacheMutex);
    cache()[key] = snapshot;
  }
  return snapshot;
}

// A build leaves the change counter as it is: a snapshot reading its chunks on demand must
// also find its own build still stored to be handed out again.
bool ViewSnapshot::stillStored(store::Connection& conn) const {
  if (!lazy_) return true;
  auto st = conn.prepare("SELECT build FROM view_base_summaries WHERE view_id = ?1 AND chunk = 0");
  st->bind(1, int64_t(design_->id));
  return (st->step() ? st->int64(0) : 0) == build_;
}

Row ViewSnapshot::lazyRow(uint32_t i) const {
  const Segment& seg = segments_[segmentOf(i)];
  if (!seg.documents) return explicit_[seg.data];
  Row r;
  const uint32_t offset = i - seg.firstRow;
  r.data = seg.data + offset;
  r.note = lazyEntry(r.data).note();
  r.parent = seg.parent;
  r.end = i + 1;
  r.ordinal = seg.ordinal + offset;
  r.depth = seg.depth;
  return r;
}

uint32_t ViewSnapshot::segmentOf(uint32_t row) const {
  auto within = [&](uint32_t k) {
    return k < segments_.size() && segments_[k].firstRow <= row && row - segments_[k].firstRow < segments_[k].count;
  };
  const uint32_t hint = segmentHint_.load(std::memory_order_relaxed);
  if (within(hint)) return hint;
  if (within(hint + 1)) {
    segmentHint_.store(hint + 1, std::memory_order_relaxed);
    return hint + 1;
  }
  auto it = std::upper_bound(segments_.begin(), segments_.end(), row,
                             [](uint32_t r, const Segment& seg) { return r < seg.firstRow; });
  const uint32_t k = uint32_t(it - segments_.begin()) - 1;
  segmentHint_.store(k, std::memory_order_relaxed);
  return k;
}

uint32_t ViewSnapshot::chunkOf(uint32_t entry) const {
  const size_t chunks = chunkFirst_.size() - 1;
  auto within = [&](uint32_t c) { return c < chunks && chunkFirst_[c] <= entry && entry < chunkFirst_[c + 1]; };
  const uint32_t hint = chunkHint_.load(std::memory_order_relaxed);
  if (within(hint)) return hint;
  if (within(hint + 1)) {
    chunkHint_.store(hint + 1, std::memory_order_relaxed);
    return hint + 1;
  }
  // Chunks are never empty, so the last chunk starting at or before `entry` holds it.
  auto it = std::upper_bound(chunkFirst_.begin(), chunkFirst_.end() - 1, entry);
  const uint32_t c = uint32_t(it - chunkFirst_.begin()) - 1;
  chunkHint_.store(c, std::memory_order_relaxed);
  return c;
}

const ViewSnapshot::LoadedChunk& ViewSnapshot::chunk(uint32_t c) const {
  if (const LoadedChunk* ready = loaded_[c].load(std::memory_order_acquire)) return *ready;
  // The database lock first, as every other reader of the file takes it.
  auto lock = database_->lock();
  std::lock_guard guard(loadMutex_);
  if (const LoadedChunk* ready = loaded_[c].load(std::memory_order_acquire)) return *ready;
  auto fresh = std::make_unique<LoadedChunk>();
  readBaseChunk(database_->conn(), design_->id, int64_t(c), build_, chunkFirst_[c + 1] - chunkFirst_[c], fresh->bytes,
                fresh->entries);
  owned_[c] = std::move(fresh);
  loaded_[c].store(owned_[c].get(), std::memory_order_release);
  return *owned_[c];
}

ChunkEntry ViewSnapshot::lazyEntry(uint32_t entry) const {
  const uint32_t c = chunkOf(entry);
  return chunk(c).entries[entry - chunkFirst_[c]];
}

HTID ViewSnapshot::entryNote(uint32_t entry) const { return lazy_ ? lazyEntry(entry).note() : entries_[entry].note; }

std::string_view ViewSnapshot::entryKey(uint32_t entry) const {
  if (lazy_) return lazyEntry(entry).key();
  const Entry& e = entries_[entry];
  return std::string_view(keys_).substr(e.keyOffset, e.keyLength);
}

std::string_view ViewSnapshot::entryCells(uint32_t entry) const {
  if (lazy_) return lazyEntry(entry).cells();
  const Entry& e = entries_[entry];
  return std::string_view(cells_).substr(e.cellOffset, e.cellLength);
}

uint32_t ViewSnapshot::mainCount() const { return lazy_ ? chunkFirst_.back() : uint32_t(mainRows_.size()); }

uint32_t ViewSnapshot::mainRow(uint32_t i) const {
  if (!lazy_) return mainRows_[i];
  // Every entry is a main document here: find the stretch of rows that holds entry i.
  auto it = std::upper_bound(documentSegments_.begin(), documentSegments_.end(), i,
                             [&](uint32_t e, uint32_t k) { return e < segments_[k].data; });
  const Segment& seg = segments_[*(it - 1)];
  return seg.firstRow + (i - seg.data);
}

uint32_t ViewSnapshot::mainLowerBound(std::string_view key) const {
  if (!lazy_) {
    auto it = std::lower_bound(mainRows_.begin(), mainRows_.end(), key,
                               [&](uint32_t row, std::string_view k) { return this->key(row) < k; });
    return uint32_t(it - mainRows_.begin());
  }
  // The chunks' first keys narrow it to one chunk: only that one is read.
  auto firstNotBelow = std::lower_bound(chunkKeys_.begin(), chunkKeys_.end(), key,
                                        [](const std::string& first, std::string_view k) { return first < k; });
  if (firstNotBelow == chunkKeys_.begin()) return 0;
  const uint32_t c = uint32_t(firstNotBelow - chunkKeys_.begin()) - 1;
  const auto& entries = chunk(c).entries;
  auto it = std::lower_bound(entries.begin(), entries.end(), key,
                             [](const ChunkEntry& e, std::string_view k) { return e.key() < k; });
  return chunkFirst_[c] + uint32_t(it - entries.begin());
}

uint32_t ViewSnapshot::child(uint32_t parent, uint32_t ordinal) const {
  if (ordinal == 0) return kNoRow;
  if (!lazy_) {
    if (parent == kNoRow) return ordinal <= topRows_.size() ? topRows_[ordinal - 1] : kNoRow;
    const Row& p = rows_[parent];
    return ordinal <= p.childCount ? children_[p.firstChild + ordinal - 1] : kNoRow;
  }
  uint32_t first = topFirstItem_, count = topItems_, ordinals = topCount_;
  if (parent != kNoRow) {
    const Segment& seg = segments_[segmentOf(parent)];
    if (seg.documents) return kNoRow;
    first = explicit_[seg.data].firstChild;
    count = explicitItems_[seg.data];
    ordinals = explicit_[seg.data].childCount;
  }
  if (ordinal > ordinals) return kNoRow;
  auto it = std::upper_bound(items_.begin() + first, items_.begin() + first + count, ordinal,
                             [](uint32_t o, const ChildItem& item) { return o < item.ordinal; });
  const ChildItem& item = *(it - 1);
  return segments_[item.segment].firstRow + (ordinal - item.ordinal);
}

uint32_t ViewSnapshot::childCount(uint32_t parent) const {
  if (parent == kNoRow) return lazy_ ? topCount_ : uint32_t(topRows_.size());
  return row(parent).childCount;
}

std::string_view ViewSnapshot::key(uint32_t row) const {
  const Row r = this->row(row);
  if (r.kind != RowKind::Document) return {};
  return entryKey(r.data);
}

int ViewSnapshot::totalSlot(size_t column) const {
  for (size_t t = 0; t < totalColumns_.size(); ++t)
    if (totalColumns_[t] == column) return int(t);
  return -1;
}

double ViewSnapshot::sumOf(uint32_t row, size_t slot) const {
  if (row == kNoRow) return grand_[slot];
  const Row r = this->row(row);
  if (r.kind == RowKind::Total) return grand_[slot];
  if (r.kind == RowKind::Category) return totals_[categories_[r.data].totals + slot];
  return 0;
}

uint32_t ViewSnapshot::documentsOf(uint32_t row) const {
  if (row == kNoRow) return grandDocuments_;
  const Row r = this->row(row);
  if (r.kind == RowKind::Total) return grandDocuments_;
  return categories_[r.data].documents;
}

ViewSnapshot::Aggregate ViewSnapshot::aggregate(uint32_t row, size_t column) const {
  Aggregate a;
  const int slot = totalSlot(column);
  if (slot < 0) return a;
  const double sum = sumOf(row, size_t(slot));
  const Row r = this->row(row);
  a.present = true;
  switch (design_->columns[column].design.total) {
    case HTCOLTOTAL_DOCUMENT_AVG: {
      const uint32_t docs = documentsOf(row);
      a.value = docs ? sum / docs : 0;
      break;
    }
    case HTCOLTOTAL_CHILD_AVG: {
      const uint32_t children = r.kind == RowKind::Total ? childCount(kNoRow) - 1 : r.childCount;
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
      const uint32_t parent = r.kind == RowKind::Total ? kNoRow : r.parent;
      const double whole = r.kind == RowKind::Total ? grand_[size_t(slot)] : sumOf(parent, size_t(slot));
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
  if (row >= rowCount_ || column >= design_->columns.size()) return formula::Value();
  const Row r = this->row(row);
  switch (r.kind) {
    case RowKind::Document: {
      if ((design_->columns[column].design.flags & HTCOLFLAG_RESPONSE_ONLY) && !r.response) return formula::Value();
      return decodeCell(entryCells(r.data), column);
    }
    case RowKind::Category: {
      const Category& c = categories_[r.data];
      if (design_->keyColumns[c.level] == column) return decodeCell(entryCells(c.entry), column);
      [[fallthrough]];
    }
    case RowKind::Total: {
      const Aggregate a = aggregate(row, column);
      return a.present ? formula::Value(a.value) : formula::Value();
    }
  }
  return formula::Value();
}

bool ViewSnapshot::documentCells(const Row& r, std::string_view& cells) const {
  if (r.kind != RowKind::Document) return false;
  cells = entryCells(r.data);
  return true;
}

std::string ViewSnapshot::cellText(uint32_t row, size_t column) const {
  return cellText(row, column, cellValue(row, column));
}

std::string ViewSnapshot::cellText(uint32_t row, size_t column, const formula::Value& value) const {
  if (row >= rowCount_ || column >= design_->columns.size()) return {};
  const Row r = this->row(row);
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
