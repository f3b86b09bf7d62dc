// The engine's page cache: SQLite's contract for a page cache (pinned pages are never reused,
// content stays, rekey, truncate, shrink, caches that may not drop pages), the reason it
// exists (a sweep larger than the cache still finds pages), and real SQLite databases run
// through it with a cache small enough that it evicts all the time.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/store/PageCache.h"

namespace quire::engine::store {
namespace {

constexpr int kPageBytes = 4096;
constexpr int kExtraBytes = 48;

// One cache driven through the methods SQLite would call.
class Cache {
 public:
  Cache(int maxPages, bool purgeable = true) : m_(pageCacheMethods()) {
    c_ = m_.xCreate(kPageBytes, kExtraBytes, purgeable ? 1 : 0);
    m_.xCachesize(c_, maxPages);
  }
  ~Cache() { m_.xDestroy(c_); }
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;

  sqlite3_pcache_page* fetch(unsigned key, int mode) { return m_.xFetch(c_, key, mode); }
  void unpin(sqlite3_pcache_page* p, bool discard = false) { m_.xUnpin(c_, p, discard ? 1 : 0); }
  int count() { return m_.xPagecount(c_); }
  void rekey(sqlite3_pcache_page* p, unsigned from, unsigned to) { m_.xRekey(c_, p, from, to); }
  void truncate(unsigned limit) { m_.xTruncate(c_, limit); }
  void shrink() { m_.xShrink(c_); }
  void resize(int pages) { m_.xCachesize(c_, pages); }

  // Fetches or makes `key`, filled with its mark when made; returns whether it was cached.
  bool touch(unsigned key) {
    sqlite3_pcache_page* p = fetch(key, 0);
    const bool hit = p != nullptr;
    if (!hit) {
      p = fetch(key, 2);
      mark(p, key);
    } else {
      EXPECT_TRUE(marked(p, key)) << "page " << key << " lost its content";
    }
    unpin(p);
    return hit;
  }
  static void mark(sqlite3_pcache_page* p, unsigned key) {
    std::memset(p->pBuf, int(key & 0xFF), kPageBytes);
    std::memcpy(p->pBuf, &key, sizeof key);
  }
  static bool marked(sqlite3_pcache_page* p, unsigned key) {
    unsigned stored = 0;
    std::memcpy(&stored, p->pBuf, sizeof stored);
    const auto* bytes = static_cast<const unsigned char*>(p->pBuf);
    return stored == key && bytes[kPageBytes - 1] == (key & 0xFF);
  }

 private:
  const sqlite3_pcache_methods2& m_;
  sqlite3_pcache* c_;
};

bool extraCleared(sqlite3_pcache_page* p) { return *static_cast<void**>(p->pExtra) == nullptr; }

TEST(PageCache, PinnedPagesAreNeverReusedAndKeepTheirContent) {
  Cache cache(20);
  std::vector<sqlite3_pcache_page*> pinned;
  for (unsigned key = 1; key <= 20; ++key) {
    sqlite3_pcache_page* p = cache.fetch(key, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(extraCleared(p));
    *static_cast<void**>(p->pExtra) = p;  // as SQLite does once it set the page up
    Cache::mark(p, key);
    pinned.push_back(p);
  }
  // Full and every page held: an easy allocation is refused, an insistent one goes over.
  EXPECT_EQ(cache.fetch(21, 1), nullptr);
  sqlite3_pcache_page* extra = cache.fetch(21, 2);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(cache.count(), 21);
  for (unsigned key = 1; key <= 20; ++key) {
    EXPECT_TRUE(Cache::marked(pinned[key - 1], key));
    EXPECT_EQ(cache.fetch(key, 0), pinned[key - 1]) << "a held page is found again, not copied";
  }
  // Let go of while over the limit: that page goes, and the cache is back at its size.
  cache.unpin(extra);
  EXPECT_EQ(cache.count(), 20);
  EXPECT_EQ(cache.fetch(21, 0), nullptr);
  for (sqlite3_pcache_page* p : pinned) cache.unpin(p);
  // Unpinned pages are still there, set up as SQLite left them, until memory is needed.
  for (unsigned key = 1; key <= 20; ++key) {
    sqlite3_pcache_page* p = cache.fetch(key, 0);
    ASSERT_NE(p, nullptr) << key;
    EXPECT_TRUE(Cache::marked(p, key));
    EXPECT_EQ(*static_cast<void**>(p->pExtra), p);
    cache.unpin(p);
  }
  // A reused page comes back with its extra bytes cleared, so SQLite sets it up again.
  sqlite3_pcache_page* reused = cache.fetch(100, 1);
  ASSERT_NE(reused, nullptr);
  EXPECT_TRUE(extraCleared(reused));
  EXPECT_EQ(cache.count(), 20);
  cache.unpin(reused, true);
  EXPECT_EQ(cache.count(), 19);
  EXPECT_EQ(cache.fetch(100, 0), nullptr);
}

TEST(PageCache, RekeyTruncateAndShrink) {
  Cache cache(100);
  for (unsigned key = 1; key <= 50; ++key) cache.touch(key);
  // Rekey moves a page with its content; a page already at the new key is dropped.
  sqlite3_pcache_page* seven = cache.fetch(7, 0);
  ASSERT_NE(seven, nullptr);
  cache.rekey(seven, 7, 9);
  EXPECT_EQ(cache.count(), 49);
  EXPECT_EQ(cache.fetch(7, 0), nullptr);
  EXPECT_EQ(cache.fetch(9, 0), seven);
  EXPECT_TRUE(Cache::marked(seven, 7));
  cache.unpin(seven);
  cache.unpin(seven);
  cache.rekey(seven, 9, 200);
  EXPECT_EQ(cache.fetch(200, 0), seven);
  cache.unpin(seven);

  // Truncate drops every page from the limit on, held or not.
  sqlite3_pcache_page* held = cache.fetch(45, 0);
  ASSERT_NE(held, nullptr);
  cache.truncate(40);
  for (unsigned key : {40u, 45u, 50u, 200u}) EXPECT_EQ(cache.fetch(key, 0), nullptr) << key;
  EXPECT_EQ(cache.count(), 37);  // 1..39 less 7 and 9

  // Shrink frees what nobody holds and keeps what is held.
  sqlite3_pcache_page* kept = cache.fetch(3, 0);
  ASSERT_NE(kept, nullptr);
  cache.shrink();
  EXPECT_EQ(cache.count(), 1);
  EXPECT_EQ(cache.fetch(3, 0), kept);
  EXPECT_TRUE(Cache::marked(kept, 3));
  cache.unpin(kept);
  cache.unpin(kept);

  // A smaller cache size gives back pages at once; the lookup survives growth and removals.
  for (unsigned key = 1; key <= 5000; key += 3) cache.touch(key);
  EXPECT_EQ(cache.count(), 100);
  cache.resize(30);
  EXPECT_EQ(cache.count(), 30);
  int found = 0;
  for (unsigned key = 1; key <= 5000; ++key)
    if (sqlite3_pcache_page* p = cache.fetch(key, 0)) {
      EXPECT_TRUE(Cache::marked(p, key));
      cache.unpin(p);
      ++found;
    }
  EXPECT_EQ(found, 30);
}

// A cache for an in-memory or temporary database may not drop what it holds.
TEST(PageCache, CacheThatMayNotDropKeepsEveryPage) {
  Cache cache(10, false);
  for (unsigned key = 1; key <= 500; ++key) {
    sqlite3_pcache_page* p = cache.fetch(key, 1);
    ASSERT_NE(p, nullptr);
    Cache::mark(p, key);
  }
  EXPECT_EQ(cache.count(), 500);
  for (unsigned key = 1; key <= 500; ++key) {
    sqlite3_pcache_page* p = cache.fetch(key, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(Cache::marked(p, key));
  }
}

// The reason for the cache: pages asked for in a fixed scattered order, three times as many
// as fit, as a walk through a large view asks for notes. A least-recently-used cache finds
// none of them again; this one keeps a steady share. A page asked for again soon stays.
TEST(PageCache, SweepLargerThanTheCacheFindsAShareOfItsPages) {
  constexpr unsigned kFit = 1000, kSwept = 3000;
  Cache cache{int(kFit)};
  std::vector<unsigned> order(kSwept);
  std::iota(order.begin(), order.end(), 1u);
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  int hits = 0, asked = 0, hotMisses = 0;
  for (int round = 0; round < 12; ++round)
    for (size_t i = 0; i < order.size(); ++i) {
      const bool counted = round >= 8;
      const bool hit = cache.touch(order[i]);
      if (counted) {
        hits += hit;
        ++asked;
      }
      // A root page, read between every two others.
      if (!cache.touch(kSwept + 1) && round > 0) ++hotMisses;
    }
  const double share = double(hits) / asked;
  EXPECT_GT(share, 0.15) << "of " << kFit << " cached pages of " << kSwept;
  EXPECT_LE(share, double(kFit) / kSwept + 0.02);
  EXPECT_EQ(hotMisses, 0);
}

// Real databases, through SQLite, with a cache of a few pages so that nearly every step
// reuses one: a file in WAL mode with pages moved at commit (auto-vacuum), rolled-back
// savepoints and transactions, a second connection reading between writes, a vacuum, a
// temporary sort and an in-memory database. Whatever SQLite keeps in the cache must be exact.
// Runs in a fresh process, where the cache can be installed before SQLite starts.
std::string runDatabasesThroughTheCache(const std::string& dir) {
  if (!installPageCache()) {
    sqlite3_shutdown();
    if (!installPageCache()) return "cannot install the page cache";
  }
  const std::string file = dir + "/pc.db";
  sqlite3* db = nullptr;
  sqlite3* reader = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return "open";
  auto exec = [&](sqlite3* on, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(on, sql.c_str(), nullptr, nullptr, &err) == SQLITE_OK) return std::string();
    std::string m = sql + ": " + (err ? err : "?");
    sqlite3_free(err);
    return m;
  };
  for (const char* sql : {"PRAGMA auto_vacuum = FULL", "PRAGMA journal_mode = WAL", "PRAGMA cache_size = 12",
                          "CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB NOT NULL)", "CREATE INDEX t_v ON t(v)"})
    if (auto e = exec(db, sql); !e.empty()) return e;
  if (sqlite3_open(file.c_str(), &reader) != SQLITE_OK) return "open reader";
  if (auto e = exec(reader, "PRAGMA cache_size = 10"); !e.empty()) return e;

  std::map<int64_t, std::string> mirror;
  std::mt19937 rng(11);
  sqlite3_stmt* put = nullptr;
  sqlite3_stmt* del = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO t(k, v) VALUES(?1, ?2)", -1, &put, nullptr);
  sqlite3_prepare_v2(db, "DELETE FROM t WHERE k = ?1", -1, &del, nullptr);
  auto value = [&](int64_t k) {
    // From a few bytes to several pages, so overflow chains come and go.
    std::string v(size_t(20 + rng() % 9000), char('a' + k % 26));
    for (size_t i = 0; i < v.size(); i += 97) v[i] = char(rng());
    return v;
  };
  auto check = [&](sqlite3* on, const std::map<int64_t, std::string>& expected) -> std::string {
    sqlite3_stmt* all = nullptr;
    sqlite3_prepare_v2(on, "SELECT k, v FROM t ORDER BY k", -1, &all, nullptr);
    auto it = expected.begin();
    std::string problem;
    while (problem.empty() && sqlite3_step(all) == SQLITE_ROW) {
      const int64_t k = sqlite3_column_int64(all, 0);
      const auto* b = static_cast<const char*>(sqlite3_column_blob(all, 1));
      const std::string v(b ? b : "", size_t(sqlite3_column_bytes(all, 1)));
      if (it == expected.end() || it->first != k || it->second != v) problem = "row " + std::to_string(k) + " differs";
      else ++it;
    }
    sqlite3_finalize(all);
    if (problem.empty() && it != expected.end()) problem = "row " + std::to_string(it->first) + " missing";
    return problem;
  };

  for (int round = 0; round < 40; ++round) {
    const bool undo = round % 5 == 3;
    std::map<int64_t, std::string> before = mirror;
    exec(db, "BEGIN");
    for (int i = 0; i < 60; ++i) {
      const int64_t k = int64_t(rng() % 400);
      if (rng() % 4 == 0) {
        sqlite3_bind_int64(del, 1, k);
        sqlite3_step(del);
        sqlite3_reset(del);
        mirror.erase(k);
      } else {
        const std::string v = value(k);
        sqlite3_bind_int64(put, 1, k);
        sqlite3_bind_blob(put, 2, v.data(), int(v.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(put) != SQLITE_DONE) return std::string("insert: ") + sqlite3_errmsg(db);
        sqlite3_reset(put);
        mirror[k] = v;
      }
      if (i == 30) {
        // A savepoint whose writes are undone.
        exec(db, "SAVEPOINT s");
        exec(db, "DELETE FROM t WHERE k % 3 = 0");
        exec(db, "UPDATE t SET v = zeroblob(5000) WHERE k % 3 = 1");
        exec(db, "ROLLBACK TO s");
        exec(db, "RELEASE s");
      }
    }
    if (auto e = check(db, mirror); !e.empty()) return "inside the transaction: " + e;
    // The reader sees the last commit, not the open transaction.
    if (auto e = check(reader, before); !e.empty()) return "reader during a write: " + e;
    if (undo) {
      exec(db, "ROLLBACK");
      mirror = before;
    } else if (auto e = exec(db, "COMMIT"); !e.empty()) {
      return e;
    }
    if (auto e = check(reader, mirror); !e.empty()) return "reader after the write: " + e;
    if (round == 20) {
      exec(db, "PRAGMA shrink_memory");
      exec(db, "PRAGMA cache_size = 3");
    }
  }
  sqlite3_finalize(put);
  sqlite3_finalize(del);
  if (auto e = check(db, mirror); !e.empty()) return "at the end: " + e;
  // A sort too large for memory spills into a temporary file through the cache.
  if (auto e = exec(db, "PRAGMA cache_size = 20"); !e.empty()) return e;
  if (auto e = exec(db, "CREATE TEMP TABLE copy AS SELECT k, v FROM t ORDER BY v DESC"); !e.empty()) return e;
  sqlite3_stmt* same = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM copy JOIN t USING(k) WHERE copy.v = t.v", -1, &same, nullptr);
  const bool copied = sqlite3_step(same) == SQLITE_ROW && sqlite3_column_int64(same, 0) == int64_t(mirror.size());
  sqlite3_finalize(same);
  if (!copied) return "the temporary copy differs";
  sqlite3_close(reader);
  if (auto e = exec(db, "VACUUM"); !e.empty()) return e;
  if (auto e = check(db, mirror); !e.empty()) return "after VACUUM: " + e;
  sqlite3_stmt* integrity = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &integrity, nullptr);
  std::string verdict = sqlite3_step(integrity) == SQLITE_ROW
                            ? reinterpret_cast<const char*>(sqlite3_column_text(integrity, 0))
                            : "no answer";
  sqlite3_finalize(integrity);
  sqlite3_close(db);
  if (verdict != "ok") return "integrity: " + verdict;

  // An in-memory database keeps every page whatever its cache size.
  sqlite3* memory = nullptr;
  sqlite3_open(":memory:", &memory);
  exec(memory, "PRAGMA cache_size = 5");
  exec(memory, "CREATE TABLE m(k INTEGER PRIMARY KEY, v BLOB)");
  exec(memory, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
               "INSERT INTO m SELECT i, zeroblob(300 + i % 7) FROM n");
  sqlite3_stmt* total = nullptr;
  sqlite3_prepare_v2(memory, "SELECT count(*), sum(length(v)) FROM m", -1, &total, nullptr);
  int64_t bytes = 0;
  for (int i = 1; i <= 3000; ++i) bytes += 300 + i % 7;
  const bool whole = sqlite3_step(total) == SQLITE_ROW && sqlite3_column_int64(total, 0) == 3000 &&
                     sqlite3_column_int64(total, 1) == bytes;
  sqlite3_finalize(total);
  sqlite3_close(memory);
  return whole ? "" : "the in-memory database lost rows";
}

TEST(PageCache, RealDatabasesStayExactThroughIt) {
  char tmpl[] = "/tmp/quire-pcache-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string problem = runDatabasesThroughTheCache(dir);
        if (!problem.empty()) {
          std::fprintf(stderr, "%s\n", problem.c_str());
          std::_Exit(1);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace quire::engine::store
