// The engine's handle table: the 32-bit handles of the C API.
//
// A handle packs a kind tag (4 bits), a generation (8 bits) and a slot index (20 bits), and
// is never 0. Closing a handle frees its slot and bumps the slot's generation, so a stale
// handle, or one of another kind, fails lookup (HTFAIL_INVALID_HANDLE) instead of reaching a
// different object. Freed slots are reused oldest-first, which spreads generations out.
//
// The table holds a shared_ptr to each object: an object lives while its handle is open or
// while a caller holds the pointer from `get`. `clear` (HTTerm) closes every handle.
// Thread-safe: one mutex guards the table; objects themselves bring their own locking. Each
// thread remembers the last few handles it found, valid until the next close anywhere, so
// repeated calls on one handle (a walk's every step) skip the lock.
//
// Areas add a kind by picking an unused HandleKind value below; each value is one kind of
// object, always stored with the same C++ type.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "hitest/hitest.h"

namespace quire::engine {

enum class HandleKind : uint8_t {
  Database = 1,   // db::DbHandle
  Index = 2,      // collections, views, folders (engine/index, engine/view)
  Document = 3,   // engine/doc
  Composite = 4,  // rich text (engine/doc)
  // 5..15 free for later areas.
};

class HandleTable {
 public:
  static HandleTable& instance();

  // Registers `object` and returns its new handle; throws Error(HTFAIL_NO_MEMORY) when all
  // slots are taken.
  uint32_t add(HandleKind kind, std::shared_ptr<void> object);

  // The object of `handle` when it is open and of `kind`; nullptr otherwise.
  std::shared_ptr<void> find(HandleKind kind, uint32_t handle) const;

  template <typename T>
  std::shared_ptr<T> get(HandleKind kind, uint32_t handle) const {
    return std::static_pointer_cast<T>(find(kind, handle));
  }

  // Closes `handle`; returns the object it held (so the caller can finish closing it outside
  // the table's lock), or nullptr when the handle was not open or not of `kind`.
  std::shared_ptr<void> remove(HandleKind kind, uint32_t handle);

  // Closes every handle of `kind` whose object satisfies `pred` (e.g. all documents of one
  // database). Returns the objects removed.
  template <typename T, typename Pred>
  std::vector<std::shared_ptr<T>> removeIf(HandleKind kind, Pred pred) {
    std::vector<std::shared_ptr<T>> out;
    for (auto& obj : removeMatching(kind, [&](const std::shared_ptr<void>& p) {
           return pred(*static_cast<T*>(p.get()));
         })) {
      out.push_back(std::static_pointer_cast<T>(obj));
    }
    return out;
  }

  // Open handles of `kind`, for leak checks and HTTerm.
  size_t count(HandleKind kind) const;

  // Closes every handle. The objects are released after the lock is dropped, so their
  // destructors may use the table.
  void clear();

 private:
  struct Slot {
    std::shared_ptr<void> object;
    HandleKind kind{};
    uint8_t generation = 1;
  };
  std::vector<std::shared_ptr<void>> removeMatching(HandleKind kind,
                                                    const std::function<bool(const std::shared_ptr<void>&)>& match);

  mutable std::mutex mutex_;
  // Bumped by every close, under mutex_: a handle found before still means the same object
  // while this stays as it was.
  std::atomic<uint64_t> closes_{0};
  std::vector<Slot> slots_;     // index 0 unused: handles are never 0
  std::deque<uint32_t> free_;   // freed slot indexes, oldest first
};

}  // namespace quire::engine
