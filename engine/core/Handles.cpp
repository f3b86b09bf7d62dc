#include "engine/core/Handles.h"

#include "engine/core/Status.h"

namespace quire::engine {
namespace {

constexpr uint32_t kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kMaxSlots = kIndexMask;  // slot 0 is never used

uint32_t pack(HandleKind kind, uint8_t generation, uint32_t index) {
  return (uint32_t(kind) << 28) | (uint32_t(generation) << kIndexBits) | index;
}

// A handle this thread found, and the close count then. A weak reference: remembering
// an object must not keep it alive after its handle is closed.
struct Remembered {
  const void* table = nullptr;
  uint32_t handle = 0;
  uint64_t closes = 0;
  std::weak_ptr<void> object;
};
constexpr uint32_t kRemembered = 4;  // by the slot index's low bits
thread_local Remembered tRemembered[kRemembered];

}  // namespace

HandleTable& HandleTable::instance() {
  // Never destroyed: a host may call HTTerm from its own exit handler, which can run after
  // the destructors of statics made after it was registered.
  static HandleTable* table = new HandleTable;
  return *table;
}

uint32_t HandleTable::add(HandleKind kind, std::shared_ptr<void> object) {
  std::lock_guard lock(mutex_);
  if (slots_.empty()) slots_.resize(1);
  uint32_t index;
  if (!free_.empty()) {
    index = free_.front();
    free_.pop_front();
  } else {
    if (slots_.size() > kMaxSlots) raise(HTFAIL_NO_MEMORY, "Too many open handles");
    index = uint32_t(slots_.size());
    slots_.emplace_back();
  }
  Slot& slot = slots_[index];
  slot.object = std::move(object);
  slot.kind = kind;
  return pack(kind, slot.generation, index);
}

std::shared_ptr<void> HandleTable::find(HandleKind kind, uint32_t handle) const {
  const uint32_t index = handle & kIndexMask;
  // The handle's own bits name its kind, so a remembered handle is of the kind asked for when
  // those bits say so.
  const bool ofKind = handle >> 28 == uint32_t(kind);
  Remembered& remembered = tRemembered[index % kRemembered];
  if (ofKind && remembered.handle == handle && remembered.table == this &&
      remembered.closes == closes_.load(std::memory_order_acquire)) {
    if (auto object = remembered.object.lock()) return object;
  }
  std::shared_ptr<void> object;
  uint64_t closes = 0;
  {
    std::lock_guard lock(mutex_);
    if (index == 0 || index >= slots_.size()) return nullptr;
    const Slot& slot = slots_[index];
    if (!slot.object || slot.kind != kind || pack(kind, slot.generation, index) != handle) return nullptr;
    object = slot.object;
    closes = closes_.load(std::memory_order_relaxed);
  }
  remembered.table = this;
  remembered.handle = handle;
  remembered.closes = closes;
  remembered.object = object;
  return object;
}

std::shared_ptr<void> HandleTable::remove(HandleKind kind, uint32_t handle) {
  std::shared_ptr<void> object;
  uint32_t index = handle & kIndexMask;
  std::lock_guard lock(mutex_);
  if (index == 0 || index >= slots_.size()) return nullptr;
  Slot& slot = slots_[index];
  if (!slot.object || slot.kind != kind || pack(kind, slot.generation, index) != handle) return nullptr;
  object = std::move(slot.object);
  slot.object.reset();
  closes_.fetch_add(1, std::memory_order_release);
  // Generation 0 is skipped so that no handle of slot 1 kind 0 could ever be 0.
  slot.generation = uint8_t(slot.generation == 255 ? 1 : slot.generation + 1);
  free_.push_back(index);
  return object;
}

std::vector<std::shared_ptr<void>> HandleTable::removeMatching(
    HandleKind kind, const std::function<bool(const std::shared_ptr<void>&)>& match) {
  std::vector<std::shared_ptr<void>> out;
  std::lock_guard lock(mutex_);
  for (uint32_t index = 1; index < slots_.size(); ++index) {
    Slot& slot = slots_[index];
    if (!slot.object || slot.kind != kind || !match(slot.object)) continue;
    out.push_back(std::move(slot.object));
    slot.object.reset();
    closes_.fetch_add(1, std::memory_order_release);
    slot.generation = uint8_t(slot.generation == 255 ? 1 : slot.generation + 1);
    free_.push_back(index);
  }
  return out;
}

size_t HandleTable::count(HandleKind kind) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const Slot& slot : slots_) n += (slot.object && slot.kind == kind) ? 1 : 0;
  return n;
}

void HandleTable::clear() {
  std::vector<std::shared_ptr<void>> released;
  {
    std::lock_guard lock(mutex_);
    for (uint32_t index = 1; index < slots_.size(); ++index) {
      Slot& slot = slots_[index];
      if (!slot.object) continue;
      released.push_back(std::move(slot.object));
      slot.object.reset();
      closes_.fetch_add(1, std::memory_order_release);
      slot.generation = uint8_t(slot.generation == 255 ? 1 : slot.generation + 1);
      free_.push_back(index);
    }
  }
  // Objects that hold others (a document holds its database) release in reverse order of
  // opening, so children go before parents.
  while (!released.empty()) released.pop_back();
}

}  // namespace quire::engine
