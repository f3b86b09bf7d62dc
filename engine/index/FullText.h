// The full-text index of a database, and full-text search with or without it.
//
// Index. One table `ft_index` in the database, in the layout of engine/ftquery/FtQuery.h:
// on SQLite an FTS5 table (rowid = note ID; columns body and fields built by
// ftquery::buildFtsRow), on PostgreSQL tsvector columns under GIN indexes (ftquery::pgVectors),
// with documents too large for a tsvector marked to be matched row by row instead. It exists only between HTDatabaseCreateFTIndex and
// HTDatabaseDeleteFTIndex; the properties ft_indexed (0/1) and ft_last_indexed (time of the
// last build) record that. While it exists, a note observer (doc/NoteEvents.h) rewrites a
// document's row inside the transaction that saves it and removes it inside the one that
// deletes it, so the index never lags the documents.
//
// What is indexed, per live document: every item whose name does not start with '$' and
// that is not encrypted: text and text lists as they are, numbers in their shortest text
// form ("500", "12.5"), rich text as its plain text;
// date-times are not indexed (their text depends on the reader's settings). Attachments
// are indexed when they are text: at most kMaxAttachmentText bytes, valid UTF-8 without NUL
// bytes (HTML is indexed with its tags removed); each under the item name "$file:<name>".
//
// Search. `search` parses the query with ftquery (syntax there), finds the matching
// documents through the index when there is one, else by tokenising every document the
// same way and matching it (slower, same answer), and keeps only live documents the
// reader may read. Relevance: with the index, FTS5's bm25 (or PostgreSQL's ts_rank) mapped to
// 1..100 (higher is more relevant); without it, a term-frequency score on the same scale.
//
// All functions take the database lock themselves unless they take a Connection, in which
// case the caller holds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/db/Database.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/NoteStore.h"
#include "hitest/hitest.h"

namespace quire::engine::index::fulltext {

constexpr size_t kMaxAttachmentText = 4u << 20;
constexpr const char* kTable = "ft_index";

struct Hit {
  HTID note = 0;
  uint32_t score = 0;     // 1..100, when asked for (kScores)
  int64_t modified = 0;   // packed date-time, when asked for (kDates)
};

// What a search fills in besides the note IDs; an index search is fastest without them.
constexpr unsigned kScores = 1;
constexpr unsigned kDates = 2;

// Whether the database has a full-text index (on a locked connection).
bool indexed(store::Connection& conn);

// Builds (or, with `rebuild`, drops and rebuilds) the index; fills `stats` when given.
// An existing index without `rebuild` is brought up to date by a full rebuild as well:
// building is cheap compared with a search that would miss documents.
HTSTATUS create(db::Database& database, bool rebuild, HTFTSTATS* stats);
// Drops the index; no index is not an error.
HTSTATUS drop(db::Database& database);

// Documents matching `query`, in note ID order. `within`, when not null, limits the search to
// those notes. Records HTFAIL_FTQUERY_SYNTAX (message names the position) for a bad query.
HTSTATUS search(const std::shared_ptr<db::Database>& database, const ReadAccess& reader, std::string_view query,
                const std::unordered_set<HTID>* within, std::vector<Hit>& out, unsigned fill = kScores | kDates);
// The same without the summary cache (the Readers items are read for this search alone).
HTSTATUS search(db::Database& database, const ReadAccess& reader, std::string_view query,
                const std::unordered_set<HTID>* within, std::vector<Hit>& out, unsigned fill = kScores | kDates);
// The same, forcing the scan even when an index exists (tests, benchmarks).
HTSTATUS scan(const std::shared_ptr<db::Database>& database, const ReadAccess& reader, std::string_view query,
              const std::unordered_set<HTID>* within, std::vector<Hit>& out, unsigned fill = kScores | kDates);

// The relevance of `hits` for `query` (filled in place), for a search made without kScores.
HTSTATUS score(const std::shared_ptr<db::Database>& database, std::string_view query, std::vector<Hit>& hits);

// The sort an HTFTSEARCHSORT needs filled in.
unsigned fillFor(HTINT sort);

// Orders hits by an HTFTSEARCHSORT (NONE keeps the order given; ties keep it too) and cuts
// the list to `maxDocs` (0 = all) after sorting. HTFAIL_INVALID_ARGUMENT for another sort.
HTSTATUS order(std::vector<Hit>& hits, HTINT sort, HTUINT maxDocs);

}  // namespace quire::engine::index::fulltext
