// Index handles: the HTINDEXHANDLE of a document collection, a view or a folder.
//
// An `Index` is what an index handle stands for. It is opened on a database handle
// (HTIndexOpen) and keeps what it needs from that handle for its whole life, so closing the
// database handle does not pull the file from under it: the shared Database, the handle
// number (HTINDEX_DATABASE answers it), the server and path for messages, the user's
// effective access and the Readers filter (ReadAccess.h), all fixed at open.
//
// Everything that walks or searches rows goes through the index's `IndexCursor`. A fresh
// index holds a CollectionCursor (CollectionCursor.h) with no search run yet: it has no rows
// until HTIndexSearch selects documents by formula, but a full-text search on it searches the
// whole database (the library's database-wide FTSearch opens an index and full-text searches
// it straight away). HTIndexOpenViewFolder (engine/view) replaces the cursor with one over a
// view or folder through `setCursor`; the C entry points (engine/api/IndexApi.cpp) only
// dispatch to whichever cursor is installed.
//
// The cursor contract, shared by every kind of index:
//   - Positions are 1-based over the rows of the cursor; 0 means "before the first row" and
//     is where a fresh cursor, a new search and a full-text search or clear leave it.
//   - navigate(nav, flags) moves and reports the row it lands on. nav is an HTNAVIGATE value;
//     flags is the word the library passes: HTNAVFLAG_BACKWARD (2) reverses the direction
//     (HTNAV_END with it reaches the first row, HTNAV_NEXT with it the previous row),
//     HTNAVFLAG_DOCUMENTS (4) stops only on document rows, HTNAVFLAG_SKIP_EMPTY (8) skips rows
//     the reader may not see, HTNAVFLAG_PROBE (1) looks without moving. Cursors accept every
//     combination of these bits (the library passes 0, 2, 12, 14 and 1). Where there is no
//     row in that direction the result is HTFAIL_END_OF_LIST and the position stays.
//     A navigation kind a cursor has no notion of (siblings in a collection) answers as the
//     flat walk would: HTNAV_SIBLING and HTNAV_MAIN move like HTNAV_NEXT, HTNAV_CHILD and
//     HTNAV_PARENT end the list.
//   - Results are a stable snapshot: documents saved or deleted by anyone while the index is
//     open do not shift positions until refresh(). A row whose document was deleted since is
//     skipped by navigation, never reported and never an error.
//   - ftSearch(query, options, sort, maxDocs): options HTFTOPT_SEARCH (1, and 0 counts as 1)
//     narrows the rows to the documents matching `query`; HTFTOPT_SEARCH|HTFTOPT_REFINE (0x11)
//     narrows the current full-text result further; HTFTOPT_CLEAR (0x10000) restores the rows
//     held before the first full-text search. Sort is an HTFTSEARCHSORT; maxDocs 0 = all.
//     Malformed query: HTFAIL_FTQUERY_SYNTAX with the position recorded.
//   - Entry points a cursor does not support answer, by default: keySearch and cell calls
//     HTFAIL_NOT_A_VIEW, listKey HTFAIL_END_OF_LIST, view positions as position numbers.
//
// Thread use follows hitest.h convention 10: one thread at a time per index handle. Cursors
// take the database lock (db::Database::lock) around every storage access and never hold it
// between calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/db/Access.h"
#include "engine/db/Database.h"
#include "engine/index/ReadAccess.h"
#include "hitest/hitest.h"

namespace quire::engine::index {

// What an index keeps of the database handle it was opened on.
struct IndexEnv {
  std::shared_ptr<db::Database> database;
  HTDBHANDLE dbHandle = 0;  // as given to HTIndexOpen; may be closed later
  db::ServerRef server;
  std::string apiPath;
  db::Access access;        // effective access at open
  ReadAccess reader;        // who may read which document (Readers items)

  // "mail\abc.nsf" or "mail\abc.nsf on server X", for messages.
  std::string describe() const;
};

// HTFAIL_ACCESS_DENIED (recorded, naming `what`) unless the user may read documents.
HTSTATUS requireReader(const IndexEnv& env, std::string_view what);

// Builds the environment of an index opened on `handle` (number `dbHandle`).
std::shared_ptr<const IndexEnv> makeEnv(db::DbHandle& handle, HTDBHANDLE dbHandle);

// The row a navigation landed on: note ID (HTNOTEID_CATEGORY / HTNOTEID_TOTAL for view
// category and total rows) and the entry flags reported as the second out-value.
struct NavEntry {
  HTID note = 0;
  HTUINT entryFlags = 0;
};

class IndexCursor {
 public:
  virtual ~IndexCursor() = default;

  // HTINDEX_IS_VIEW_BASED; view and folder cursors answer true and their note ID.
  virtual bool isViewBased() const { return false; }
  virtual HTID viewId() const { return 0; }

  virtual uint32_t count() = 0;
  virtual uint32_t position() = 0;
  // 0 = before the first row. Beyond count(): each cursor documents what it does
  // (CollectionCursor clamps to the last row).
  virtual HTSTATUS setPosition(uint32_t position) = 0;
  virtual HTSTATUS navigate(HTINT navigation, HTUINT flags, NavEntry& out) = 0;

  // Opaque position text (HTIndexGetViewPosition/SetViewPosition). Default: the position
  // number in decimal; a malformed or out-of-range text gives HTFAIL_BAD_POSITION.
  virtual HTSTATUS viewPosition(std::string& out);
  virtual HTSTATUS setViewPosition(std::string_view text);

  // HTIndexSearch: select rows by formula. Collections only; a view cursor may refuse.
  virtual HTSTATUS search(std::string_view formula, HTUINT flags, HTUINT& matched) {
    return HTFAIL_NOT_IMPLEMENTED;
  }

  virtual HTSTATUS ftSearch(std::string_view query, HTUINT options, HTINT sort, HTUINT maxDocs) = 0;
  // HTINDEX_IS_FTSEARCH: a full-text search is in force.
  virtual bool ftActive() const = 0;
  // HTINDEX_FTSEARCH_SCORE: relevance of the current row, 0 to 100 (0 without a search).
  virtual uint32_t ftScore() { return 0; }

  virtual HTSTATUS keySearch(HTUINT keyCount, const HTKEYDESC* keys, HTUINT mode, HTUINT& matched) {
    return HTFAIL_NOT_A_VIEW;
  }
  virtual HTSTATUS listKey(HTINT listMode, HTKEYDESC& key) { return HTFAIL_END_OF_LIST; }
  // HTViewcellGetLength / HTViewcellFetch with the caller's arguments as given.
  virtual HTSTATUS cellLength(HTUINT column, HTINT* type, HTUINT* length) { return HTFAIL_NOT_A_VIEW; }
  virtual HTSTATUS cellFetch(HTUINT column, HTINT* type, HTUINT* length, void* buffer) {
    return HTFAIL_NOT_A_VIEW;
  }

  // HTIndexRefresh: bring the rows up to date (search again / re-read the view index).
  // Positions then name the rows now there; the position is kept when still in range.
  virtual HTSTATUS refresh() = 0;

  // Cursor-specific HTINDEX_* properties (view depth, title text, ...). The Index answers
  // IS_VIEW_BASED, ACTIVE_VIEW, IS_FTSEARCH, FTSEARCH_SCORE and DATABASE itself and asks
  // the cursor for the rest; HTFAIL_UNKNOWN_PROPERTY when it has no such property.
  virtual HTSTATUS property(HTINT property, void* value) { return HTFAIL_UNKNOWN_PROPERTY; }
  // HTIndexSetProperty; HTFAIL_UNKNOWN_PROPERTY for a property the cursor does not set.
  virtual HTSTATUS setProperty(HTINT property, const void* value) { return HTFAIL_UNKNOWN_PROPERTY; }
};

class Index {
 public:
  explicit Index(std::shared_ptr<const IndexEnv> env);

  const IndexEnv& env() const { return *env_; }
  const std::shared_ptr<const IndexEnv>& sharedEnv() const { return env_; }
  IndexCursor& cursor() { return *cursor_; }
  // Installs another cursor (HTIndexOpenViewFolder); the old one is dropped.
  void setCursor(std::unique_ptr<IndexCursor> cursor) { cursor_ = std::move(cursor); }

  HTSTATUS property(HTINT property, void* value);

 private:
  std::shared_ptr<const IndexEnv> env_;
  std::unique_ptr<IndexCursor> cursor_;
};

// The index of `handle`, or HTFAIL_INVALID_HANDLE (recorded) for a stale or foreign one.
HTSTATUS lookup(HTINDEXHANDLE handle, std::shared_ptr<Index>& out);

// Opens a new index (collection cursor, no search) on database handle `db`.
HTSTATUS open(HTDBHANDLE db, HTINDEXHANDLE& out);
HTSTATUS close(HTINDEXHANDLE handle);

}  // namespace quire::engine::index
