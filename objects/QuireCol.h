// QuireCol: one column of a view or folder.
//
// A TQuireViewColumn is a decoded copy of the 188-byte column record the API listed when its
// view or folder was opened; it makes no API call of its own. The owning TQuireView or
// TQuireFolder keeps every column in its Columns list, frees them when it is destroyed, and
// hands them out as non-owning pointers: a column must not outlive its owner. Apart from
// FontSize, which the owner overwrites once with the average of its columns, a column is
// immutable after construction. Single-threaded, like its owner.
#pragma once

#include <cstdint>
#include <string>

#include "hitest/hitest.h"
#include "rtl/Export.h"

// Column justification. The order differs from the API's HTCOLUMNJUSTIFY (where 1 is right
// and 2 centre); the column maps one onto the other.
enum TQuireColJustify : int32_t {
  cjLeft = 0,
  cjCenter = 1,
  cjRight = 2,
};
static_assert(sizeof(TQuireColJustify) == 4);

// The font of a column, without any GUI type: components turn it into their toolkit's font.
struct QUIRE_API TQuireFont {
  std::string Name;
  int Size = 0;          // points
  uint32_t Color = 0;    // 0x00BBGGRR
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
};

class QUIRE_API TQuireViewColumn {
 public:
  // Decodes `record`, which is copied: the caller's buffer may be reused at once.
  TQuireViewColumn(HTDBHANDLE databaseHandle, HTID viewID, uint32_t columnNumber, const HTCOLUMNREC& record);

  // Display width: the record's width in eighths of a character, divided by 8 (toward
  // zero), times 12. Saturates at the limits of int instead of overflowing.
  int GetWidth() const;
  // The title at offset 104, up to its first zero (at most 81 characters), untranslated.
  void GetTitle(std::string& title) const;

  // API colour number -> 0x00BBGGRR: numbers 0 to 15 have their colours, every other
  // number (negative ones included) is white.
  static uint32_t TranslateColor(int index);

  HTDBHANDLE DatabaseHandle;  // the owner's database; not owned
  HTID ViewID;                // the owner's view or folder
  uint32_t ColumnNumber;      // as the API returned it with the record
  HTCOLUMNREC ColumnRecord;   // the copy everything else is decoded from

  bool ColumnFlag0040;  // flag bit 0x0040
  bool Hidden;          // flag bit 0x0008
  bool ColumnFlag0010;  // flag bit 0x0010
  bool ColumnFlag0400;  // flag bit 0x0400
  bool Category;        // sort code above HTCOLSORT_DESCEND (a categorised sort)
  bool Attr36Set;       // the 32-bit value at offset 36 is not 0
  TQuireColJustify Justify;   // from offset 44
  TQuireColJustify Justify2;  // from offset 52
  TQuireFont Font;
  int32_t FontSize;  // the record's size until the owner replaces it with the average
  uint32_t Attr96;   // the 32-bit value at offset 96
};
