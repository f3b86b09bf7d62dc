// The page cache SQLite keeps for every connection in this process, in place of its own
// least-recently-used cache, when the engine is the one that starts SQLite.
//
// Why: walking a view opens its documents in view order, which is no order at all against
// the note table. Once the table is larger than the cache, a least-recently-used cache keeps
// no page long enough to be asked for again (each is pushed out by the other pages of the
// sweep before its turn comes back), so every open read its page from the file. This cache
// keeps the pages used last in a small least-recently-used window, which serves pages asked
// for again soon (b-tree interior pages, a page read twice by one statement), and the rest in
// a main part. A page leaving the window enters the main part only now and then, at random,
// in place of a random page there; otherwise its memory goes to the next page read. A sweep
// larger than the cache thereby finds a steady share of its pages (about the cache's share of
// what it touches) instead of none. A cache large enough for its work evicts nothing and
// behaves as any other.
//
// Contract: the methods follow sqlite3_pcache_methods2. A page SQLite holds (pinned) is never
// reused or freed except by truncation or discard, which SQLite asks for; a page's content
// stays as SQLite left it while it is cached. Memory is taken with malloc as pages are first
// needed, up to the connection's cache_size (SQLite may ask for more when every page is
// pinned), and freed on discard, truncation, shrink or destroy. Allocation failure returns
// no page, which SQLite reports as out of memory. Threads: each cache belongs to one
// connection, whose calls SQLite serialises; caches share nothing, so none is locked.
#pragma once

#include <sqlite3.h>

namespace quire::engine::store {

// Installs the cache for every connection opened from now on. Only possible before SQLite
// starts (sqlite3_initialize, or the first open); false when it had already started, and
// SQLite's own cache stays.
bool installPageCache();

// The methods themselves, for tests that drive a cache directly.
const sqlite3_pcache_methods2& pageCacheMethods();

}  // namespace quire::engine::store
