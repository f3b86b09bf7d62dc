// Items of open documents, and the text-list data calls.
//
// Names compare without regard to case; calls on a name act on the first item of that name,
// except HTItemDelete, which removes every item of it. Item names have at most 255 bytes.
//
// Value types (the `valueType` arguments) follow engine/doc/Values.h: 0 asks for the item's
// own form; any other type converts, and a value that cannot be converted gives
// HTFAIL_TYPE_MISMATCH.
//
// HTItemGetLength answers the length of the value in the form asked for (text: without a
// terminator, so a buffer of length + 1 holds it). HTItemFetch: `*length` on the way in is
// the room in `buffer`, on the way out the bytes of the value written (text: without the
// terminator). Text asked for as HTTYPE_TEXT needs room for the terminator; the item's own
// form needs room for its bytes and gets a terminator when there is room for one. A value
// asked for as HTTYPE_NUMBER or HTTYPE_DATETIME is written as an 8-byte double or HTDATETIME
// whatever `*length` says, since callers pass the value's own address. A value that does not
// fit gives HTFAIL_BUFFER_TOO_SMALL with `*length` set to the length needed; nothing is
// written then. `*type`, when given, receives the item's type; a `*valueType` of 0 receives it
// too.
//
// HTItemGetPointer hands out the value in the form asked for (text lists: the data the
// HTTextList* calls read), owned by the document handle and valid until the next
// HTItemGetPointer on it or until it is closed. It is followed by a zero byte.
//
// HTItemPut: an item type of 0 keeps the existing item's type (a new item takes the value's
// type); the flags word is stored as given; a length of 0 means a zero-terminated text (and
// the natural size of numbers and date-times).
//
// HTTextListFetch returns the bytes written INCLUDING the terminator, so an empty entry
// answers 1 and is told apart from a failure (0: no such entry, no buffer, no room).
#include <cstring>

#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/doc/Document.h"
#include "engine/doc/Values.h"
#include "engine/store/ItemCodec.h"

using namespace quire::engine;
using doc::Document;
namespace codec = quire::engine::store::codec;

namespace {

constexpr size_t kMaxNameBytes = 255;

HTSTATUS checkName(const char* name) {
  std::string_view n = textArg(name);
  if (n.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "An item name is required");
  if (n.size() > kMaxNameBytes) return fail(HTFAIL_TEXT_TOO_LONG, "An item name may have at most 255 bytes");
  return HTSUCCESS;
}

// The first item of that name, readable (not sealed); fails with a recorded reason.
HTSTATUS findItem(Document& d, const char* name, const store::StoredItem*& out) {
  if (HTSTATUS s = checkName(name)) return s;
  out = d.note.find(name);
  if (!out) return fail(HTFAIL_ITEM_NOT_FOUND, "The document has no item " + std::string(name));
  if (d.note.isSealed(name))
    return fail(HTFAIL_NO_KEY, "Item " + std::string(name) + " is encrypted and this user has no key for it");
  return HTSUCCESS;
}

bool validType(HTINT type) { return type >= HTTYPE_NUMBER && type <= HTTYPE_FORMULA; }

HTSTATUS badType(HTINT type) { return fail(HTFAIL_INVALID_ARGUMENT, "Unknown item type " + std::to_string(type)); }

// What the calls that read a value share: the open document, its readable item of that name
// and the form asked for (`valueType` absent or 0: the item's own).
struct ReadRequest {
  std::shared_ptr<Document> document;
  const store::StoredItem* item = nullptr;
  HTINT wanted = 0;
};

HTSTATUS readRequest(HTDOCHANDLE handle, const char* name, const HTINT* valueType, ReadRequest& out) {
  if (HTSTATUS s = doc::lookupDocument(handle, out.document)) return s;
  if (HTSTATUS s = findItem(*out.document, name, out.item)) return s;
  out.wanted = valueType ? *valueType : 0;
  if (out.wanted != 0 && !validType(out.wanted)) return badType(out.wanted);
  return HTSUCCESS;
}

}  // namespace

HT_EXPORT HTUINT HTItemGetCount(HTDOCHANDLE handle) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    std::shared_ptr<Document> d;
    if (doc::lookupDocument(handle, d)) return 0;
    return HTUINT(d->note.items.size());
  });
}

HT_EXPORT HTSTATUS HTItemList(HTDOCHANDLE handle, HTINT listMode, HTUINT flags, HTITEMLISTREC* record) {
  return guard([&] {
    HT_REQUIRE_ARG(record);
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    auto load = [&] {
      std::vector<HTITEMLISTREC> records;
      records.reserve(d->note.items.size());
      for (const store::StoredItem& item : d->note.items) {
        HTITEMLISTREC r{};
        r.type = item.type;
        copyText(r.name, sizeof r.name, item.name);
        records.push_back(r);
      }
      return records;
    };
    return d->itemCursor.step(listMode, load, *record);
  });
}

HT_EXPORT HTSTATUS HTItemGetInfo(HTDOCHANDLE handle, const char* name, HTINT* type, HTUINT* flags, HTUINT* length) {
  return guard([&] {
    HT_REQUIRE_ARG(type);
    HT_REQUIRE_ARG(flags);
    HT_REQUIRE_ARG(length);
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (HTSTATUS s = checkName(name)) return s;
    const store::StoredItem* item = d->note.find(name);
    if (!item) return fail(HTFAIL_ITEM_NOT_FOUND, "The document has no item " + std::string(name));
    *type = item->type;
    *flags = item->flags;
    *length = HTUINT(std::min<size_t>(item->value.size(), UINT32_MAX));
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTItemGetLength(HTDOCHANDLE handle, const char* name, HTUINT* reserved, HTINT* valueType,
                                   HTUINT* length) {
  return guard([&] {
    HT_REQUIRE_ARG(length);
    ReadRequest r;
    if (HTSTATUS s = readRequest(handle, name, valueType, r)) return s;
    const store::StoredItem* item = r.item;
    const HTINT wanted = r.wanted;
    const size_t size = doc::convert(*item, wanted).size();
    if (size >= UINT32_MAX) return fail(HTFAIL_TEXT_TOO_LONG, "Item " + std::string(name) + " is larger than 4 GB");
    *length = HTUINT(size);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTItemFetch(HTDOCHANDLE handle, const char* name, HTINT* type, HTUINT* length, HTINT* valueType,
                               void* buffer) {
  return guard([&] {
    HT_REQUIRE_ARG(length);
    HT_REQUIRE_ARG(buffer);
    ReadRequest r;
    if (HTSTATUS s = readRequest(handle, name, valueType, r)) return s;
    const store::StoredItem* item = r.item;
    const HTINT wanted = r.wanted;
    const store::Blob value = doc::convert(*item, wanted);
    const HTINT form = wanted ? wanted : item->type;
    const bool textual = form == HTTYPE_TEXT || form == HTTYPE_FORMULA;
    const bool fixed = wanted == HTTYPE_NUMBER || wanted == HTTYPE_DATETIME;
    const size_t room = fixed ? value.size() : *length;
    const size_t needed = value.size() + (textual && wanted != 0 ? 1 : 0);
    if (room < needed) {
      *length = HTUINT(std::min<size_t>(value.size(), UINT32_MAX));
      return fail(HTFAIL_BUFFER_TOO_SMALL, "Item " + std::string(name) + " needs " + std::to_string(needed) +
                                               " bytes; the buffer has " + std::to_string(room));
    }
    if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
    if (textual && room > value.size()) static_cast<char*>(buffer)[value.size()] = '\0';
    *length = HTUINT(value.size());
    if (type) *type = item->type;
    if (valueType && *valueType == 0) *valueType = item->type;
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTItemGetPointer(HTDOCHANDLE handle, const char* name, HTINT* type, HTUINT* reserved,
                                    HTINT* valueType, const void** pointer) {
  return guard([&] {
    HT_REQUIRE_ARG(pointer);
    *pointer = nullptr;
    ReadRequest r;
    if (HTSTATUS s = readRequest(handle, name, valueType, r)) return s;
    const store::StoredItem* item = r.item;
    const HTINT wanted = r.wanted;
    Document& d = *r.document;
    d.pointerData = doc::convert(*item, wanted);
    d.pointerData.push_back(0);
    *pointer = d.pointerData.data();
    if (type) *type = item->type;
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTItemPut(HTDOCHANDLE handle, const char* name, HTINT itemType, HTUINT length, HTINT valueType,
                             const void* value, HTUINT flags) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (HTSTATUS s = checkName(name)) return s;
    if (!validType(valueType)) return badType(valueType);
    if (itemType != 0 && !validType(itemType)) return badType(itemType);
    store::StoredItem* existing = d->note.find(name);
    const HTINT target = itemType ? itemType : existing ? existing->type : valueType;
    store::StoredItem item = doc::fromCaller(name, valueType, value, length);
    if (target != valueType) item.value = doc::convert(item, target);
    item.type = target;
    item.flags = flags;
    d->note.put(std::move(item), existing);
    d->changed();
    return HTSUCCESS;
  });
}

// Appends in place: the entries before are only checked, never decoded and written again.
HT_EXPORT HTSTATUS HTItemAppendTextList(HTDOCHANDLE handle, const char* name, const char* entry, HTUINT length,
                                        HTUINT flags) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (HTSTATUS s = checkName(name)) return s;
    const std::string_view text = length == 0 ? textArg(entry) : std::string_view(entry ? entry : "", entry ? strnlen(entry, length) : 0);
    store::StoredItem* item = d->note.find(name);
    if (!item) {
      store::Blob list = codec::encodeTextList({});
      if (!doc::appendTextListEntry(list, text)) return fail(HTFAIL_TEXT_TOO_LONG, "A text-list entry is too long");
      d->note.put({name, HTTYPE_TEXT_LIST, flags, std::move(list)});
      d->changed();
      return HTSUCCESS;
    }
    if (d->note.isSealed(name)) return fail(HTFAIL_NO_KEY, "Item " + std::string(name) + " is encrypted");
    if (item->type != HTTYPE_TEXT_LIST && item->type != HTTYPE_TEXT)
      return fail(HTFAIL_TYPE_MISMATCH, "Item " + std::string(name) + " is a " + doc::typeName(item->type) +
                                            ", not a text list");
    if (item->type == HTTYPE_TEXT) {
      store::Blob list = doc::convert(*item, HTTYPE_TEXT_LIST);
      if (!doc::appendTextListEntry(list, text)) return fail(HTFAIL_TEXT_TOO_LONG, "A text-list entry is too long");
      item->type = HTTYPE_TEXT_LIST;
      item->value = std::move(list);
    } else if (!doc::appendTextListEntry(item->value, text)) {
      // Rebuilding a list that does not decode would silently drop the entries after the fault.
      if (!doc::isTextList(item->value.data(), item->value.size()))
        return fail(HTFAIL_STORAGE_ERROR, "Item " + std::string(name) + " holds a malformed text list");
      return fail(HTFAIL_TEXT_TOO_LONG, "Item " + std::string(name) + " cannot take another entry");
    }
    // Changed in place, so the stored spelling of the name and the item's flags stay.
    d->changed();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTItemCopy(HTDOCHANDLE fromHandle, const char* name, HTDOCHANDLE toHandle) {
  return guard([&] {
    std::shared_ptr<Document> from, to;
    if (HTSTATUS s = doc::lookupDocument(fromHandle, from)) return s;
    if (HTSTATUS s = doc::lookupDocument(toHandle, to)) return s;
    const store::StoredItem* item;
    if (HTSTATUS s = findItem(*from, name, item)) return s;
    store::StoredItem copy = *item;
    if (to->note.find(name)) copy.name = to->note.find(name)->name;
    to->note.put(std::move(copy));
    to->changed();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTItemDelete(HTDOCHANDLE handle, const char* name) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (HTSTATUS s = checkName(name)) return s;
    if (!d->note.remove(name)) return fail(HTFAIL_ITEM_NOT_FOUND, "The document has no item " + std::string(name));
    d->changed();
    return HTSUCCESS;
  });
}

// ---- text-list data ----------------------------------------------------------------------

HT_EXPORT HTUINT HTTextListGetCount(const void* list) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT { return codec::textListCount(list); });
}

HT_EXPORT HTUINT HTTextListGetLength(const void* list, HTUINT entry) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    const char* text;
    uint32_t length;
    if (entry == 0 || !codec::textListEntry(list, entry - 1, text, length)) return 0;
    return length;
  });
}

HT_EXPORT HTUINT HTTextListFetch(const void* list, HTUINT entry, HTUINT capacity, char* buffer) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    const char* text;
    uint32_t length;
    if (!buffer || capacity == 0 || entry == 0 || !codec::textListEntry(list, entry - 1, text, length)) return 0;
    return HTUINT(copyText(buffer, capacity, std::string_view(text, length)) + 1);
  });
}

HT_EXPORT HTSTATUS HTTextListGetPointer(const void* list, HTUINT entry, const char** text, HTUINT* length) {
  return guard([&] {
    HT_REQUIRE_ARG(list);
    HT_REQUIRE_ARG(text);
    HT_REQUIRE_ARG(length);
    const char* t;
    uint32_t len;
    if (entry == 0 || !codec::textListEntry(list, entry - 1, t, len))
      return fail(HTFAIL_ENTRY_NOT_FOUND, "The text list has no entry " + std::to_string(entry));
    *text = t;
    *length = len;
    return HTSUCCESS;
  });
}
