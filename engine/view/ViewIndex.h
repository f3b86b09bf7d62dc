// The persistent view indexes: one sorted entry per document row of every view and folder,
// kept in the database file and changed in the same transaction as the documents.
//
// Tables (schema part "view"):
//   view_entries(entry_id, view_id, sort_key, note_id, parent_id, cells, readers)
//       One row per document row of a view: the entry's sort key (EntryCodec.h), the
//       document, its parent document when the view shows it as a response (0 otherwise),
//       the column values, and the names that may read it (a text list of its Readers and
//       Authors names; NULL when it has no Readers item). A document whose categorised column
//       holds several values has one entry per value. Indexed by (view_id, sort_key, note_id)
//       for ordered walks and key seeks, and by (note_id, view_id) for maintenance.
//   view_base(view_id, max_note, entries), view_base_chunks(view_id, chunk, entries),
//   view_base_overrides(view_id, note_id), view_base_summaries(view_id, chunk, build, summary)
//       A view built from nothing keeps the entries of that build in chunks of about 64 KB,
//       in index order, instead of one row each: a build writes a few hundred rows instead
//       of a hundred thousand with two index entries each, and streams them out chunk by
//       chunk; a reader holds one chunk at a time. view_base holds max_note, the highest note
//       ID in the base (its `entries` is empty; older files kept the whole base there as one
//       record, split into chunks when such a file is opened). Later changes go to
//       view_entries as usual; a document changed since the build is listed in
//       view_base_overrides and its base entries no longer count (max_note spares new
//       documents that bookkeeping), so a save never rewrites a chunk. Responses still
//       waiting for their parent stay rows (so their parent's save finds them), and folders
//       always use rows (their entries follow membership). `forEachStoredEntry` merges base
//       and rows. Each chunk of a build has its summary (BaseSummary.h), all with the build's
//       random number, so that opening a view reads only those while the base is all there is
//       of it (no rows, no overrides) and chunks are read when a row in them is first touched.
//   view_meta(view_id, design_sequence, collation)
//       What each view's entries were built from: the design note's sequence and the sort-key
//       format (ICU collator version + key format). Either differing means "rebuild".
//   folder_members(folder_id, note_id)
//       Folder membership; a folder's entries are its members' rows.
// Category and total rows are not stored: they follow from the sorted entries and are made
// when an index is opened (ViewSnapshot.h), so that a document change touches only its own
// entries and each reader gets categories and totals of the documents they may read.
//
// Maintenance. A note observer (doc/NoteEvents.h) re-evaluates a saved document against every
// view and folder (selection formula or membership, then the columns) and replaces its
// entries; a deleted document loses its entries and memberships; a saved view or folder
// design whose sequence differs from view_meta is rebuilt from nothing; a deleted one loses
// its entries. The property "view.indexed_change" records the change number the indexes
// reflect (-1 while the database has no view or folder, when saves maintain nothing), so
// changes written without notification (another tool, an older engine) are caught up by
// `ensureCurrent` before an index is read.
//
// All functions run on a connection whose database lock the caller holds; the writing ones
// inside the caller's transaction unless they say they open their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <memory>
#include <string>
#include <vector>

#include "engine/db/Database.h"
#include "engine/view/BaseSummary.h"
#include "engine/view/ViewDesign.h"

namespace quire::engine::view {

// Per open database: a counter of note changes seen in this process, which open cursors
// compare to notice deletions without asking the file.
struct DatabaseState {
  std::atomic<uint64_t> generation{0};
};
DatabaseState& stateOf(const db::Database& database);
// The same, for a reader that keeps it (it stays valid however long it is kept).
std::shared_ptr<DatabaseState> sharedStateOf(const db::Database& database);

// The key format and collator version the stored keys depend on.
const std::string& collationVersion();

// Every live view and folder design of the database, compiled (cached per database and
// recompiled when a design note's sequence changes).
std::vector<std::shared_ptr<const CompiledDesign>> designs(db::Database& database, store::Connection& conn);

// The compiled design of one live view or folder (from the same cache); nullptr when none.
std::shared_ptr<const CompiledDesign> designOf(db::Database& database, store::Connection& conn, HTID viewId);

// Builds the entries of `design` from nothing (drops the old ones first).
void rebuild(db::Database& database, store::Connection& conn, const CompiledDesign& design);

// The entries of a view or folder as stored, base and rows merged, in index order (sort key,
// then note ID). `readers` is null for an entry without Readers names. The views of an entry
// are valid only during its visit. A damaged chunk fails with HTFAIL_STORAGE_ERROR.
struct StoredEntry {
  HTID note = 0;
  int64_t parent = 0;
  std::string_view key;
  std::string_view cells;
  const store::Blob* readers = nullptr;
};
void forEachStoredEntry(store::Connection& conn, HTID viewId, const std::function<void(const StoredEntry&)>& visit);

// The base of a built view as an open needs it (ViewSnapshot.h): one summary per chunk, in
// chunk order, all of one build. False when the view cannot be opened from its summaries:
// it has rows or overridden entries beside its base, a chunk has no summary (a base written
// before summaries were kept, or split from an older file) or a damaged one, or the
// summaries are not of one build. The caller then reads every entry (forEachStoredEntry).
struct BaseOutline {
  int64_t build = 0;
  std::vector<BaseSummary> chunks;
};
bool readBaseOutline(store::Connection& conn, HTID viewId, BaseOutline& out);

// One entry of a chunk as read by readBaseChunk: where its stored form starts in the chunk's
// bytes (every length checked when the chunk was read), read in place, so that a walk
// touches the chunk's bytes alone and in order.
class ChunkEntry {
 public:
  explicit ChunkEntry(const char* at = nullptr) : at_(at) {}
  HTID note() const { return u32(0); }
  std::string_view key() const { return {at_ + kHeader, u32(8)}; }
  std::string_view cells() const { return {at_ + kHeader + u32(8), u32(12)}; }

 private:
  static constexpr size_t kHeader = 20;  // note, parent and three lengths
  uint32_t u32(size_t offset) const {
    const auto* b = reinterpret_cast<const uint8_t*>(at_ + offset);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }
  const char* at_;
};
// Chunk `chunk` of build `build` of a view's base: its bytes into `bytes` and its entries, in
// index order, into `entries` (views into `bytes`). Fails with HTFAIL_STORAGE_ERROR when the
// chunk is missing or damaged or holds other than `expected` entries, and with
// HTFAIL_CONFLICT when the view was built again since (that build is no longer stored).
void readBaseChunk(store::Connection& conn, HTID viewId, int64_t chunk, int64_t build, uint32_t expected,
                   std::string& bytes, std::vector<ChunkEntry>& entries);

// Drops every entry, the meta row and the memberships of a view or folder.
void drop(store::Connection& conn, HTID viewId);

// The design of view `viewId` (nullptr when it is no live view or folder) and, in `current`,
// whether its stored index is up to date, so that ensureCurrent would write nothing. Only
// reads, so it may run inside a read snapshot.
std::shared_ptr<const CompiledDesign> currentDesign(db::Database& database, store::Connection& conn, HTID viewId,
                                                    bool& current);

// Before reading view `viewId`: rebuilds it when its design or key format changed, and
// catches up changes made without notification. Opens its own transaction when it writes.
void ensureCurrent(db::Database& database, store::Connection& conn, HTID viewId);

// Re-evaluates one document against every view and folder (used by the observer, folder
// membership changes and catch-up). A deleted or missing note loses its entries.
void reindexNote(db::Database& database, store::Connection& conn, HTID noteId);

// Folder membership (the caller checked access and that the notes are documents).
// Returns the number of notes whose membership changed.
size_t addMembers(db::Database& database, store::Connection& conn, const CompiledDesign& folder,
                  const std::vector<HTID>& notes);
size_t removeMembers(store::Connection& conn, HTID folderId, const std::vector<HTID>& notes);
void removeAllMembers(store::Connection& conn, HTID folderId);

// Tells cursors of this database that documents changed (bumps the generation).
void noteChanged(const db::Database& database);

}  // namespace quire::engine::view
