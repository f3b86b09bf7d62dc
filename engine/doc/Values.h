// Item values: rendering as text, parsing text, and converting between item types.
//
// One conversion rule serves both directions of the C API: HTItemFetch converts a stored item
// to the type the caller asks for, and HTItemPut converts the caller's value to the item's
// type, both with `convert`. The rules:
//   - anything renders as text: numbers in the shortest form that reads back exactly, with the
//     session's decimal separator; date-times with the session's date order, date and time
//     separators and clock (core/Config.h [International]), milliseconds only when not zero;
//     lists as their entries joined by "; " (kListSeparator); rich text as its plain text
//     (paragraphs separated by "\n");
//   - text parses into a number (decimal or '.' separator, thousands separator ignored) or a
//     date-time (the session's date order; a four-digit first field reads as year-month-day;
//     12- or 24-hour time); a text that does not parse is HTFAIL_TYPE_MISMATCH;
//   - a text becomes a text list of one entry, and the EMPTY text a list of NO entries (so
//     replacing a list by "" and appending entries leaves no stray empty first entry);
//   - a scalar becomes a one-entry list, a list's first entry a scalar (an empty list has no
//     scalar: HTFAIL_TYPE_MISMATCH);
//   - text becomes rich text of one paragraph per line; rich text becomes its plain text.
// Values are bytes: text is not re-encoded (UTF-8, or LMBCS when the caller translated).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/store/NoteStore.h"
#include "hitest/hitest.h"

namespace quire::engine::doc {

constexpr std::string_view kListSeparator = "; ";

// The session's international settings (read once per call that needs them).
HTINTERNATIONAL international();

// Whether converting a value of `fromType` to `toType` reads the international settings:
// only numbers and date-times are written as text or read from it by them. Fetching the
// settings looks at the settings file, so the per-item calls skip it when no conversion needs
// them.
bool usesSettings(HTINT fromType, HTINT toType);

std::string formatNumber(double value, const HTINTERNATIONAL& intl);
bool parseNumber(std::string_view text, const HTINTERNATIONAL& intl, double& out);
std::string formatDateTime(const HTDATETIME& value, const HTINTERNATIONAL& intl);
bool parseDateTime(std::string_view text, const HTINTERNATIONAL& intl, HTDATETIME& out);

// The item rendered as text.
std::string renderText(const store::StoredItem& item, const HTINTERNATIONAL& intl);

// The item's value converted to `toType` (0 = its own type) in stored form. Throws
// Error(HTFAIL_TYPE_MISMATCH) when there is no conversion, naming the item and both types.
store::Blob convert(const store::StoredItem& item, HTINT toType, const HTINTERNATIONAL& intl);
// The same with the session's settings, fetched only when usesSettings says so.
store::Blob convert(const store::StoredItem& item, HTINT toType);

// A caller's value (HTItemPut) as an item of type `valueType`. `length` 0 means a
// zero-terminated text for text and formula values and the natural size of fixed values.
// Throws HTFAIL_INVALID_ARGUMENT for an unknown type, a short or malformed value.
store::StoredItem fromCaller(std::string_view name, HTINT valueType, const void* value, size_t length);

// Whether `size` bytes at `data` are well-formed text-list data (every entry's length within
// the data and its terminator in place, nothing after the last entry).
bool isTextList(const void* data, size_t size);

// Appends `entry` to the text-list data `list` in place, without decoding the entries before
// it. Returns false, leaving `list` as it was, when `list` is malformed or cannot take another
// entry (count or entry length beyond 32 bits).
bool appendTextListEntry(store::Blob& list, std::string_view entry);

// "text", "number", ... for messages.
const char* typeName(HTINT type);

}  // namespace quire::engine::doc
