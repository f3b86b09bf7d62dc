// Index entry points: collections, and the calls views and folders share with them. Each
// dispatches to the index's cursor (engine/index/Index.h).
#include <cstring>

#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/index/Index.h"

using namespace quire::engine;

namespace {

template <typename F>
HTSTATUS withIndex(HTINDEXHANDLE handle, F&& body) {
  return guard([&]() -> HTSTATUS {
    std::shared_ptr<index::Index> idx;
    if (HTSTATUS s = index::lookup(handle, idx)) return s;
    return body(*idx);
  });
}

}  // namespace

HT_EXPORT HTSTATUS HTIndexOpen(HTDBHANDLE db, HTINDEXHANDLE* handle) {
  return guard([&] {
    HT_REQUIRE_ARG(handle);
    *handle = 0;
    return index::open(db, *handle);
  });
}

HT_EXPORT HTSTATUS HTIndexClose(HTINDEXHANDLE handle) {
  return guard([&] { return index::close(handle); });
}

HT_EXPORT HTSTATUS HTIndexGetProperty(HTINDEXHANDLE handle, HTINT property, void* value) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HT_REQUIRE_ARG(value);
    return idx.property(property, value);
  });
}

HT_EXPORT HTSTATUS HTIndexSetProperty(HTINDEXHANDLE handle, HTINT property, const void* value) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HT_REQUIRE_ARG(value);
    HTSTATUS s = idx.cursor().setProperty(property, value);
    if (s == HTFAIL_UNKNOWN_PROPERTY) return fail(s, "Index property " + std::to_string(property) + " cannot be set");
    return s;
  });
}

HT_EXPORT HTSTATUS HTIndexSearch(HTINDEXHANDLE handle, const char* formula, HTUINT flags, HTUINT* matched) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HTUINT n = 0;
    HTSTATUS s = idx.cursor().search(textArg(formula), flags, n);
    if (s == HTFAIL_NOT_IMPLEMENTED) return fail(s, "This index cannot be searched by formula");
    if (matched) *matched = s ? 0 : n;
    return s;
  });
}

HT_EXPORT HTUINT HTIndexGetCount(HTINDEXHANDLE handle) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    std::shared_ptr<index::Index> idx;
    if (index::lookup(handle, idx)) return 0;
    return idx->cursor().count();
  });
}

HT_EXPORT HTSTATUS HTIndexNavigate(HTINDEXHANDLE handle, HTINT navigation, HTUINT flags, HTID* note,
                                   HTUINT* entryFlags) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HT_REQUIRE_ARG(note);
    index::NavEntry entry;
    HTSTATUS s = idx.cursor().navigate(navigation, flags, entry);
    if (s) return s;
    *note = entry.note;
    // The library hands a second out-value that it never reads; a caller may pass none.
    if (entryFlags) *entryFlags = entry.entryFlags;
    return HTSUCCESS;
  });
}

HT_EXPORT HTUINT HTIndexGetPosition(HTINDEXHANDLE handle) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    std::shared_ptr<index::Index> idx;
    if (index::lookup(handle, idx)) return 0;
    return idx->cursor().position();
  });
}

HT_EXPORT HTSTATUS HTIndexSetPosition(HTINDEXHANDLE handle, HTUINT position) {
  return withIndex(handle, [&](index::Index& idx) { return idx.cursor().setPosition(position); });
}

HT_EXPORT HTSTATUS HTIndexGetViewPosition(HTINDEXHANDLE handle, HTUINT capacity, char* position) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HT_REQUIRE_ARG(position);
    if (capacity == 0) return fail(HTFAIL_INVALID_ARGUMENT, "The position buffer has no room");
    std::string text;
    if (HTSTATUS s = idx.cursor().viewPosition(text)) return s;
    if (!fits(text, capacity)) {
      copyText(position, capacity, "");
      return fail(HTFAIL_BUFFER_TOO_SMALL, "The position text needs " + std::to_string(text.size() + 1) + " bytes");
    }
    copyText(position, capacity, text);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTIndexSetViewPosition(HTINDEXHANDLE handle, const char* position) {
  return withIndex(handle, [&](index::Index& idx) { return idx.cursor().setViewPosition(textArg(position)); });
}

HT_EXPORT HTSTATUS HTIndexFTSearch(HTINDEXHANDLE handle, const char* query, HTUINT options, HTINT sort,
                                   HTUINT maxDocs) {
  return withIndex(handle, [&](index::Index& idx) { return idx.cursor().ftSearch(textArg(query), options, sort, maxDocs); });
}

HT_EXPORT HTSTATUS HTIndexListKey(HTINDEXHANDLE handle, HTINT listMode, HTKEYDESC* key) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HT_REQUIRE_ARG(key);
    return idx.cursor().listKey(listMode, *key);
  });
}

HT_EXPORT HTSTATUS HTIndexKeySearch(HTINDEXHANDLE handle, HTUINT keyCount, HTKEYDESC* keys, HTUINT mode,
                                    HTUINT* matched) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    if (keyCount > 0) HT_REQUIRE_ARG(keys);
    HTUINT n = 0;
    HTSTATUS s = idx.cursor().keySearch(keyCount, keys, mode, n);
    if (s == HTFAIL_NOT_A_VIEW) return fail(s, "Key searches need a view or folder index; this is a document collection");
    if (matched) *matched = s ? 0 : n;
    return s;
  });
}

HT_EXPORT HTSTATUS HTIndexRefresh(HTINDEXHANDLE handle) {
  return withIndex(handle, [&](index::Index& idx) { return idx.cursor().refresh(); });
}

HT_EXPORT HTSTATUS HTViewcellGetLength(HTINDEXHANDLE handle, HTUINT column, HTINT* type, HTUINT* length) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HTSTATUS s = idx.cursor().cellLength(column, type, length);
    if (s == HTFAIL_NOT_A_VIEW) return fail(s, "View cells need a view or folder index; this is a document collection");
    return s;
  });
}

HT_EXPORT HTSTATUS HTViewcellFetch(HTINDEXHANDLE handle, HTUINT column, HTINT* type, HTUINT* length, void* buffer) {
  return withIndex(handle, [&](index::Index& idx) -> HTSTATUS {
    HTSTATUS s = idx.cursor().cellFetch(column, type, length, buffer);
    if (s == HTFAIL_NOT_A_VIEW) return fail(s, "View cells need a view or folder index; this is a document collection");
    return s;
  });
}
