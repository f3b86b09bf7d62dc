// Hints a backend may act on to save round trips; SQLite ignores both.
//
// For the statements of scans that may answer more rows than should be held at once (every
// document of a database, a view's whole stored index):
// manyRows(st), called before the first step of a SELECT, lets a backend that would otherwise
// receive the whole answer before the first row fetch it in batches instead: the PostgreSQL
// backend reads it through a cursor. SQLite steps row by row anyway and ignores the hint.
// Other statements, writes and whole write transactions included, may run on the connection
// between the scan's steps; a transaction committed meanwhile does not cut the scan short,
// while one rolled back under it makes its next step throw Error rather than end early. The
// mark is kept across reset(). Same threads as the statement (Storage.h).
#pragma once

#include "engine/store/Storage.h"

namespace quire::engine::store {

// Marks `st` and returns it, so the call chains with bind().
Statement& manyRows(Statement& st);

// atCommit(st), called before the first step of a write made just before its transaction's
// commit whose answer nobody reads (no rows, changes() or lastInsertId()), lets a server
// backend send it in the commit's round trip instead of one of its own while the writer lock
// is held. Any other statement run first sends it at once, and in order. Its failure is then
// reported by commit(), which rolls the whole transaction back; a rollback drops it. Outside
// a transaction it runs at once. Marks `st` and returns it.
Statement& atCommit(Statement& st);

}  // namespace quire::engine::store
