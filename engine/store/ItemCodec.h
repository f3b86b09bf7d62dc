// The stored form of item values (items.value), per HTTYPE. All integers little-endian.
//
//   HTTYPE_TEXT            the text's bytes as the caller gave them (UTF-8, or LMBCS when the
//                          caller translated), without a terminator
//   HTTYPE_NUMBER          8-byte IEEE double
//   HTTYPE_DATETIME        8 bytes: lo (uint32), hi (uint32) of HTDATETIME
//   HTTYPE_TEXT_LIST       uint32 count, then per entry: uint32 length, the bytes, one 0 byte
//                          (so an entry can be handed out as a C string in place). This is the
//                          text-list data of HTItemGetPointer that the HTTextList* calls read.
//   HTTYPE_NUMBER_LIST     uint32 count, then count doubles
//   HTTYPE_DATETIME_LIST   uint32 count, then count 8-byte date-times
//   HTTYPE_COMPOSITE       defined by engine/doc (rich text)
//   HTTYPE_FORMULA         the formula text's bytes
//
// Decoders validate lengths and return false for a malformed value instead of reading past it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store/Storage.h"
#include "hitest/hitest.h"

namespace quire::engine::store::codec {

Blob encodeText(std::string_view text);
Blob encodeNumber(double value);
Blob encodeDateTime(const HTDATETIME& value);
Blob encodeTextList(const std::vector<std::string>& entries);
Blob encodeNumberList(const std::vector<double>& values);
Blob encodeDateTimeList(const std::vector<HTDATETIME>& values);

bool decodeText(const Blob& blob, std::string& out);
bool decodeNumber(const Blob& blob, double& out);
bool decodeDateTime(const Blob& blob, HTDATETIME& out);
bool decodeTextList(const void* data, size_t size, std::vector<std::string>& out);
bool decodeTextList(const Blob& blob, std::vector<std::string>& out);
bool decodeNumberList(const Blob& blob, std::vector<double>& out);
bool decodeDateTimeList(const Blob& blob, std::vector<HTDATETIME>& out);

// Walks text-list data of unknown size (the HTTextList* calls get only a pointer): entry
// `index` (0-based) of `list`, or false when there is no such entry.
uint32_t textListCount(const void* list);
bool textListEntry(const void* list, uint32_t index, const char*& text, uint32_t& length);

}  // namespace quire::engine::store::codec
