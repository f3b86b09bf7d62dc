#include "engine/store/PageCache.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace quire::engine::store {
namespace {

// One page in this many leaving the window takes the place of a main page. Lower keeps the
// main part steadier under sweeps; higher lets it follow a working set that moves.
constexpr uint64_t kAdmitOneIn = 16;
// The window's share of the cache, and its least size.
constexpr unsigned kWindowShare = 32;
constexpr unsigned kWindowAtLeast = 8;
// Random picks tried for an unpinned main page before looking at every one.
constexpr int kRandomTries = 8;
// A cache_size below this is taken as this: one statement may hold several pages at once.
constexpr unsigned kPagesAtLeast = 10;

struct Page {
  sqlite3_pcache_page handed;  // first: SQLite gives this address back
  unsigned key = 0;
  bool pinned = false;
  bool inWindow = false;
  uint32_t slot = 0;      // index in the main part, when not in the window
  Page* older = nullptr;  // window neighbours, when in the window
  Page* newer = nullptr;
};

// The page header is followed by the page's buffer and SQLite's extra bytes, in one block.
constexpr size_t kHeaderBytes = (sizeof(Page) + 15) & ~size_t(15);

// The look-up table holds each key beside its page: a miss, the common case in a sweep,
// reads one line of the table instead of every page header along a chain.
struct Slot {
  unsigned key = 0;
  Page* page = nullptr;  // null: empty
};

class Cache {
 public:
  Cache(int pageBytes, int extraBytes, bool purgeable)
      : blockBytes_(kHeaderBytes + size_t(pageBytes) + size_t(extraBytes)),
        pageBytes_(size_t(pageBytes)),
        purgeable_(purgeable),
        random_(0x9E3779B97F4A7C15ull ^ reinterpret_cast<uintptr_t>(this)) {
    slots_.resize(256);
    setMaxPages(purgeable ? 100 : 0);
  }
  ~Cache() {
    for (const Slot& slot : slots_) std::free(slot.page);
  }
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;

  void setMaxPages(int pages) {
    if (!purgeable_) {
      maxPages_ = UINT32_MAX;
      windowMax_ = UINT32_MAX;
      return;
    }
    maxPages_ = pages < int(kPagesAtLeast) ? kPagesAtLeast : unsigned(pages);
    windowMax_ = maxPages_ / kWindowShare < kWindowAtLeast ? kWindowAtLeast : maxPages_ / kWindowShare;
    while (count_ > maxPages_) {
      Page* victim = unpinnedVictim();
      if (!victim) break;
      drop(victim);
    }
  }

  unsigned count() const { return count_; }

  sqlite3_pcache_page* fetch(unsigned key, int mode) {
    if (Page* page = find(key)) {
      page->pinned = true;
      if (page->inWindow) makeNewest(page);
      return &page->handed;
    }
    if (mode == 0) return nullptr;
    Page* page = count_ >= maxPages_ ? reclaim() : nullptr;
    if (!page) {
      // Over the limit only when SQLite insists (every page pinned, nothing to spill).
      if (count_ >= maxPages_ && mode == 1) return nullptr;
      if ((count_ + 1) * size_t(2) > slots_.size() && !grow()) return nullptr;
      void* block = std::malloc(blockBytes_);
      if (!block) return nullptr;
      page = new (block) Page;
      auto* bytes = static_cast<unsigned char*>(block);
      page->handed.pBuf = bytes + kHeaderBytes;
      page->handed.pExtra = bytes + kHeaderBytes + pageBytes_;
      ++count_;
    }
    page->key = key;
    page->pinned = true;
    // SQLite tells a page it has not set up yet by a null first word in the extra bytes.
    *static_cast<void**>(page->handed.pExtra) = nullptr;
    hashIn(page);
    pushWindow(page);
    settleWindow();
    return &page->handed;
  }

  void unpin(Page* page, bool discard) {
    if (discard || count_ > maxPages_) {
      drop(page);
      return;
    }
    page->pinned = false;
  }

  void rekey(Page* page, unsigned from, unsigned to) {
    if (from == to) return;
    if (Page* there = find(to)) drop(there);
    hashOut(page);
    page->key = to;
    hashIn(page);
  }

  // Drops every page whose key is `limit` or more, pinned or not (SQLite no longer holds them).
  void truncate(unsigned limit) {
    dropWhere([limit](const Page& page) { return page.key >= limit; });
  }

  void shrink() {
    dropWhere([](const Page& page) { return !page.pinned; });
  }

 private:
  uint64_t nextRandom() {
    random_ ^= random_ >> 12;
    random_ ^= random_ << 25;
    random_ ^= random_ >> 27;
    return random_ * 0x2545F4914F6CDD1Dull;
  }

  size_t home(unsigned key) const { return (key * 0x9E3779B1u) & (slots_.size() - 1); }

  Page* find(unsigned key) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = home(key);; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (!slot.page) return nullptr;
      if (slot.key == key) return slot.page;
    }
  }
  void hashIn(Page* page) {
    const size_t mask = slots_.size() - 1;
    size_t i = home(page->key);
    while (slots_[i].page) i = (i + 1) & mask;
    slots_[i] = {page->key, page};
  }
  // Linear probing: the slots after the emptied one that would no longer be found move up.
  void hashOut(Page* page) {
    const size_t mask = slots_.size() - 1;
    size_t hole = home(page->key);
    while (slots_[hole].page != page) hole = (hole + 1) & mask;
    for (size_t i = (hole + 1) & mask; slots_[i].page; i = (i + 1) & mask) {
      const size_t want = home(slots_[i].key);
      // Movable when its home is not within (hole, i], cyclically.
      if (((i - want) & mask) >= ((i - hole) & mask)) {
        slots_[hole] = slots_[i];
        hole = i;
      }
    }
    slots_[hole] = Slot{};
  }
  // False when there is no memory for it: SQLite is told of no page, never an exception.
  bool grow() noexcept {
    std::vector<Slot> old;
    try {
      old.resize(slots_.size() * 2);
    } catch (const std::bad_alloc&) {
      return false;
    }
    old.swap(slots_);
    for (const Slot& slot : old)
      if (slot.page) hashIn(slot.page);
    return true;
  }

  // Allocates nothing, so it cannot fail. Going down the main part, the page moved into a
  // dropped page's place has been looked at already.
  template <typename Pred>
  void dropWhere(Pred pred) {
    for (size_t i = main_.size(); i-- > 0;)
      if (pred(*main_[i])) drop(main_[i]);
    for (Page* page = oldest_; page;) {
      Page* newer = page->newer;
      if (pred(*page)) drop(page);
      page = newer;
    }
  }

  void pushWindow(Page* page) {
    page->inWindow = true;
    page->older = newest_;
    page->newer = nullptr;
    if (newest_) newest_->newer = page;
    else oldest_ = page;
    newest_ = page;
    ++windowCount_;
  }
  void unlinkWindow(Page* page) {
    if (page->older) page->older->newer = page->newer;
    else oldest_ = page->newer;
    if (page->newer) page->newer->older = page->older;
    else newest_ = page->older;
    page->older = page->newer = nullptr;
    page->inWindow = false;
    --windowCount_;
  }
  void makeNewest(Page* page) {
    if (page == newest_) return;
    unlinkWindow(page);
    pushWindow(page);
  }
  void unlinkMain(Page* page) {
    Page* last = main_.back();
    main_[page->slot] = last;
    last->slot = page->slot;
    main_.pop_back();
  }
  // Out of the window or the main part, whichever holds it; the hash is the caller's.
  void unlinkPlace(Page* page) {
    if (page->inWindow) unlinkWindow(page);
    else unlinkMain(page);
  }

  // Forgets a page and frees its memory.
  void drop(Page* page) {
    hashOut(page);
    unlinkPlace(page);
    std::free(page);
    --count_;
  }

  Page* oldestUnpinnedInWindow() const {
    for (Page* page = oldest_; page; page = page->newer)
      if (!page->pinned) return page;
    return nullptr;
  }
  Page* unpinnedInMain() {
    if (main_.empty()) return nullptr;
    for (int i = 0; i < kRandomTries; ++i) {
      Page* page = main_[nextRandom() % main_.size()];
      if (!page->pinned) return page;
    }
    const size_t start = nextRandom() % main_.size();
    for (size_t i = 0; i < main_.size(); ++i) {
      Page* page = main_[(start + i) % main_.size()];
      if (!page->pinned) return page;
    }
    return nullptr;
  }
  Page* unpinnedVictim() {
    Page* page = oldestUnpinnedInWindow();
    return page ? page : unpinnedInMain();
  }

  // The cache is full: the memory of one unpinned page, taken out of every structure, for the
  // page about to be read. The window's oldest page gives its memory, unless it is let into the
  // main part, whose page at a random place then gives its memory instead.
  Page* reclaim() {
    Page* leaving = oldestUnpinnedInWindow();
    if (!leaving) {
      Page* victim = unpinnedInMain();
      if (!victim) return nullptr;
      hashOut(victim);
      unlinkMain(victim);
      return victim;
    }
    if (!main_.empty() && nextRandom() % kAdmitOneIn == 0) {
      if (Page* victim = unpinnedInMain()) {
        hashOut(victim);
        unlinkWindow(leaving);
        leaving->slot = victim->slot;
        main_[victim->slot] = leaving;
        return victim;
      }
    }
    hashOut(leaving);
    unlinkWindow(leaving);
    return leaving;
  }

  // While the cache is not full, pages leaving the window all go into the main part. Without
  // memory to list them there they stay in the window, which only makes it longer.
  void settleWindow() noexcept {
    while (windowCount_ > windowMax_) {
      Page* leaving = oldestUnpinnedInWindow();
      if (!leaving) return;
      if (main_.size() == main_.capacity()) {
        try {
          main_.reserve(main_.size() * 2 + 64);
        } catch (const std::bad_alloc&) {
          return;
        }
      }
      unlinkWindow(leaving);
      leaving->slot = uint32_t(main_.size());
      main_.push_back(leaving);
    }
  }

  const size_t blockBytes_;
  const size_t pageBytes_;
  const bool purgeable_;
  unsigned maxPages_ = 0;
  unsigned windowMax_ = 0;
  unsigned count_ = 0;
  unsigned windowCount_ = 0;
  std::vector<Slot> slots_;
  std::vector<Page*> main_;
  Page* oldest_ = nullptr;
  Page* newest_ = nullptr;
  uint64_t random_;
};

Cache* cacheOf(sqlite3_pcache* p) { return reinterpret_cast<Cache*>(p); }
Page* pageOf(sqlite3_pcache_page* p) { return reinterpret_cast<Page*>(p); }

int cacheInit(void*) { return SQLITE_OK; }
void cacheShutdown(void*) {}
sqlite3_pcache* cacheCreate(int pageBytes, int extraBytes, int purgeable) {
  try {
    return reinterpret_cast<sqlite3_pcache*>(new Cache(pageBytes, extraBytes, purgeable != 0));
  } catch (const std::bad_alloc&) {
    return nullptr;  // SQLite reports it as out of memory
  }
}
void cacheSize(sqlite3_pcache* p, int pages) { cacheOf(p)->setMaxPages(pages); }
int cachePageCount(sqlite3_pcache* p) { return int(cacheOf(p)->count()); }
sqlite3_pcache_page* cacheFetch(sqlite3_pcache* p, unsigned key, int mode) { return cacheOf(p)->fetch(key, mode); }
void cacheUnpin(sqlite3_pcache* p, sqlite3_pcache_page* page, int discard) {
  cacheOf(p)->unpin(pageOf(page), discard != 0);
}
void cacheRekey(sqlite3_pcache* p, sqlite3_pcache_page* page, unsigned from, unsigned to) {
  cacheOf(p)->rekey(pageOf(page), from, to);
}
void cacheTruncate(sqlite3_pcache* p, unsigned limit) { cacheOf(p)->truncate(limit); }
void cacheDestroy(sqlite3_pcache* p) { delete cacheOf(p); }
void cacheShrink(sqlite3_pcache* p) { cacheOf(p)->shrink(); }

const sqlite3_pcache_methods2 kMethods = {1,           nullptr,      cacheInit,     cacheShutdown, cacheCreate,
                                          cacheSize,   cachePageCount, cacheFetch,  cacheUnpin,    cacheRekey,
                                          cacheTruncate, cacheDestroy, cacheShrink};

}  // namespace

const sqlite3_pcache_methods2& pageCacheMethods() { return kMethods; }

bool installPageCache() { return sqlite3_config(SQLITE_CONFIG_PCACHE2, &kMethods) == SQLITE_OK; }

}  // namespace quire::engine::store
