// The items of a note as stored: one record per note (notes.items), not one row per item.
//
// A note is almost always read and written whole (open, save, replicate, index), so keeping
// its items together costs one row per save instead of one per item plus an index entry
// each, and a view or selection reads one value per document instead of joining rows.
// Look-ups of a single item by name walk the record without copying it.
//
// Layout (little-endian): byte 1 (the format), uint32 item count, then per item:
//   uint16 name length, the name's bytes, uint16 type, uint32 flags,
//   uint32 value length, the value's bytes (store/ItemCodec.h forms).
// An empty record (no bytes) is a note without items. Decoding validates every length and
// reports a malformed record instead of reading past it.
//
// notes.item_flags holds the OR of every item's flags, so "notes with a Readers item" is a
// filter on one column.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/store/NoteStore.h"

namespace quire::engine::store {

// One item inside a record; the views point into the record's bytes.
struct ItemRef {
  std::string_view name;
  HTINT type = HTTYPE_TEXT;
  uint32_t flags = 0;
  const uint8_t* value = nullptr;
  size_t size = 0;

  StoredItem copy() const { return {std::string(name), type, flags, Blob(value, value + size)}; }
};

Blob encodeItems(const std::vector<StoredItem>& items);
// False (and `out` holding the items before the fault) for a malformed record.
bool decodeItems(const void* data, size_t size, std::vector<StoredItem>& out);
inline bool decodeItems(const Blob& blob, std::vector<StoredItem>& out) {
  return decodeItems(blob.data(), blob.size(), out);
}

// Walks the record, calling `visit(const ItemRef&)` for each item in order until it returns
// false. False for a malformed record (the items before the fault were visited).
template <typename Visit>
bool forEachItem(const void* data, size_t size, Visit&& visit);

// The first item of that name (compared as item names are: without regard to case).
bool findItem(const void* data, size_t size, std::string_view name, ItemRef& out);
inline bool findItem(const Blob& blob, std::string_view name, ItemRef& out) {
  return findItem(blob.data(), blob.size(), name, out);
}

// OR of the flags of `items` (notes.item_flags).
uint32_t itemFlags(const std::vector<StoredItem>& items);

// Item names compare without regard to case; nearly all are ASCII, compared without folding.
bool sameItemName(std::string_view a, std::string_view b);

// ---- implementation ----

namespace items_detail {
// Reads the item at `pos`; false when the bytes run out.
bool readItem(const uint8_t* p, size_t size, size_t& pos, ItemRef& out);
// Checks the format byte and reads the count; false when the record is malformed.
bool readHead(const uint8_t* p, size_t size, size_t& pos, uint32_t& count);
}  // namespace items_detail

template <typename Visit>
bool forEachItem(const void* data, size_t size, Visit&& visit) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t pos = 0;
  uint32_t count = 0;
  if (!items_detail::readHead(p, size, pos, count)) return false;
  ItemRef ref;
  for (uint32_t k = 0; k < count; ++k) {
    if (!items_detail::readItem(p, size, pos, ref)) return false;
    if (!visit(static_cast<const ItemRef&>(ref))) return true;
  }
  return true;
}

}  // namespace quire::engine::store
