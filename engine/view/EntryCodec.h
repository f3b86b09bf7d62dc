// The byte forms of a view entry: its sort key and its column values ("cells").
//
// Sort key. The concatenation of one component per sorted column, in key order. Each
// component is self-delimiting and compares with memcmp in the column's order, so SQLite
// orders entries by the key blob alone and a key search is a prefix seek:
//   number     0x10, then the double's bits made order-preserving, big-endian (8 bytes)
//   date-time  0x20, then days and milliseconds, each sign-flipped big-endian (8 bytes);
//              a missing date or time sorts before every present one
//   text       0x30, then the ICU collation key (formula/Collation.h; never holds 0x00),
//              then 0x00
// so numbers sort before date-times and date-times before texts. A descending column
// inverts every byte of its component (tag and terminator included), which reverses its
// order and keeps it self-delimiting.
//
// Cells. Every column's value, in column order: a type byte (0 text, 1 number, 2 date-time),
// a varint count, then the elements (text: varint length + bytes; number: 8-byte LE double;
// date-time: days and ms as 4-byte LE integers). Decoders never read past the blob: a
// malformed blob yields empty values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formula/Value.h"
#include "engine/store/Storage.h"

namespace quire::engine::view {

constexpr uint8_t kTagNumber = 0x10;
constexpr uint8_t kTagDateTime = 0x20;
constexpr uint8_t kTagText = 0x30;

// Appends the component of element `index` of `value`.
void appendKey(std::string& key, const formula::Value& value, size_t index, bool descending);
void appendNumberKey(std::string& key, double number, bool descending);
void appendDateTimeKey(std::string& key, const formula::DateTime& dt, bool descending);
void appendTextKey(std::string& key, std::string_view text, bool descending);
// The bytes of a text component up to (not including) the collation key's first level
// separator: every text whose leading characters equal `prefix` (letter case ignored) has a
// component starting with these bytes.
std::string textPrefixKey(std::string_view prefix, bool descending);

// The byte length of the component at the start of `key`; 0 when it is malformed.
size_t componentLength(std::string_view key);
// Splits a key into its components (views into `key`); stops at a malformed component.
std::vector<std::string_view> splitKey(std::string_view key);
// The same into `parts` (cleared first), whose room is reused: loading a view splits every key.
void splitKey(std::string_view key, std::vector<std::string_view>& parts);

std::string encodeCells(const std::vector<formula::Value>& values);
// Appends one column's value to a cells blob being built; appendCellElement appends element
// `index` of `value` alone (a category row's value), as if it were a one-element value.
void appendCell(std::string& out, const formula::Value& value);
void appendCellElement(std::string& out, const formula::Value& value, size_t index);
// A one-element text or number value, as appendCell writes it, from the element alone.
void appendTextCell(std::string& out, std::string_view text);
void appendNumberCell(std::string& out, double number);
// Column `column` (0-based) alone; the empty value when the blob has no such column.
formula::Value decodeCell(std::string_view cells, size_t column);

// One cell as stored, read in place: its type (0 text, 1 number, 2 date-time), element
// count and the bytes of its elements. Reading cells while walking a view this way costs no
// allocation; decodeCell builds the value instead.
struct CellRef {
  uint8_t type = 0;
  size_t count = 0;
  std::string_view body;
};
// False when the blob has no such column or is malformed up to it.
bool findCell(std::string_view cells, size_t column, CellRef& out);
// The cell at the front of `cells`, which then starts at the next one: reading several cells
// of one entry passes each once. False (and `cells` as it was) when it is malformed or absent.
bool nextCell(std::string_view& cells, CellRef& out);
// Appends the text a person reads in `cell` (as renderValue); false for a malformed body.
bool appendCellText(std::string& out, const CellRef& cell);
bool cellFirstText(const CellRef& cell, std::string_view& out);  // element 0 of a text cell
double cellNumber(const CellRef& cell);           // element 0 of a number cell
formula::DateTime cellDateTime(const CellRef& cell);  // element 0 of a date-time cell

// The sum of column `column`'s numbers (0 for a text or date-time value), without building
// the value: totals read this for every document of a view.
double cellNumberSum(std::string_view cells, size_t column);

// The text a person reads in a cell: numbers in shortest exact form, date-times with the
// session's international settings, list elements joined by ", ".
std::string renderValue(const formula::Value& value);
std::string renderNumber(double number);
std::string renderDateTime(const formula::DateTime& dt);

}  // namespace quire::engine::view
