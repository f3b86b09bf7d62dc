// Rich text (composite items): a flat sequence of records, as the HTCDRecord* calls see it.
//
// A composite is a font table and a list of records. An HTCD_PARAGRAPH record starts a
// paragraph; HTCD_TEXT records are the styled runs of text in it (text before the first
// paragraph record belongs to an implicit first paragraph). Record data, as HTCDRecordFetch
// gives it and HTCDRecordInsert/Update take it (integers little-endian):
//   HTCD_PARAGRAPH  4 bytes: justification (HTPABJUSTIFY), list format (HTPABLISTFORMAT),
//                   heading level (0 = body text, 1..6), 0
//   HTCD_TEXT       12-byte header, then the text's bytes (no terminator):
//                   [0] style bits (HTFONTSTYLE_BOLD/ITALIC/UNDERLINE/STRIKEOUT), [1] 0,
//                   [2..3] size in points (0 = default), [4..7] colour 0x00BBGGRR
//                   (kDefaultColor = default), [8..11] font ID (kDefaultFont, or an index
//                   into the font table: HTCompositePutFont/GetFont)
// Records of other types are kept as opaque bytes.
//
// Stored form (the item value of an HTTYPE_COMPOSITE item): "QRT1", u32 font count, per font
// u32 length + bytes, u32 record count, per record u32 type + u32 length + data.
//
// Import and export: plain text (one paragraph per line) and HTML (p, br, div, h1-h6, li, b,
// strong, i, em, u, s, strike, span and font with their common style attributes, entities).
// An HTML export imports back to the same records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store/Storage.h"
#include "hitest/hitest.h"

namespace quire::engine::doc {

constexpr uint32_t kDefaultColor = 0xFFFFFFFFu;
constexpr uint32_t kDefaultFont = 0xFFFFFFFFu;
constexpr size_t kTextHeaderSize = 12;

struct ParagraphStyle {
  uint8_t justify = HTPABJUSTIFY_LEFT;
  uint8_t list = HTPABLIST_NONE;
  uint8_t heading = 0;
  bool operator==(const ParagraphStyle&) const = default;
};

struct TextStyle {
  uint8_t style = 0;  // HTFONTSTYLE_* bits
  uint16_t size = 0;
  uint32_t color = kDefaultColor;
  uint32_t font = kDefaultFont;
  bool operator==(const TextStyle&) const = default;
};

struct CdRecord {
  HTINT type = HTCD_TEXT;
  store::Blob data;
  bool operator==(const CdRecord&) const = default;
};

class Composite {
 public:
  std::vector<std::string> fonts;
  std::vector<CdRecord> records;

  static Composite fromPlainText(std::string_view text);
  // False for a value that is not a well-formed stored composite.
  static bool decode(const store::Blob& blob, Composite& out);
  store::Blob encode() const;

  // Paragraphs joined by "\n".
  std::string plainText() const;

  void addParagraph(const ParagraphStyle& style);
  // Appends a run; merges with the previous run when it has the same style.
  void addText(std::string_view text, const TextStyle& style);
  // The font table index of `face` (added when new).
  uint32_t fontId(std::string_view face);
  std::string fontFace(uint32_t id) const;  // "" for kDefaultFont or an unknown id

  // Appends another composite's records (fonts remapped).
  void append(const Composite& other);

  bool operator==(const Composite&) const = default;
};

// Record data helpers.
store::Blob paragraphData(const ParagraphStyle& style);
store::Blob textData(std::string_view text, const TextStyle& style);
bool readParagraph(const store::Blob& data, ParagraphStyle& out);
bool readText(const store::Blob& data, TextStyle& style, std::string_view& text);
// False when `data` is not valid for a record of `type` (paragraph and text are checked).
bool validRecord(HTINT type, const store::Blob& data);

std::string toHtml(const Composite& composite);
Composite fromHtml(std::string_view html);

}  // namespace quire::engine::doc
