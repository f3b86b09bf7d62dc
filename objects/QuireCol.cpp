#include "objects/QuireCol.h"

#include <climits>
#include <cstring>

namespace {

TQuireColJustify MapJustify(uint32_t apiJustify) {
  switch (apiJustify) {
    case HTCOLJUSTIFY_RIGHT:
      return cjRight;
    case HTCOLJUSTIFY_CENTER:
      return cjCenter;
    default:
      return cjLeft;
  }
}

const char* FaceName(uint8_t faceCode) {
  switch (faceCode) {
    case HTFONT_ROMAN:
      return "Times Roman";
    case HTFONT_SWISS:
      return "Helvetica";
    case HTFONT_TYPEWRITER:
      return "Courier";
    default:
      return "Arial";
  }
}

}  // namespace

TQuireViewColumn::TQuireViewColumn(HTDBHANDLE databaseHandle, HTID viewID, uint32_t columnNumber,
                                   const HTCOLUMNREC& record)
    : DatabaseHandle(databaseHandle), ViewID(viewID), ColumnNumber(columnNumber), ColumnRecord(record) {
  const uint32_t flags = ColumnRecord.flags;
  Hidden = (flags & HTCOLFLAG_HIDDEN) != 0;
  ColumnFlag0010 = (flags & HTCOLFLAG_RESPONSE_ONLY) != 0;
  ColumnFlag0040 = (flags & HTCOLFLAG_ICON) != 0;
  ColumnFlag0400 = (flags & HTCOLFLAG_TWISTIE) != 0;
  Attr36Set = ColumnRecord.isFormula != 0;
  Category = ColumnRecord.sort > HTCOLSORT_DESCEND;
  Justify = MapJustify(ColumnRecord.justify);
  Justify2 = MapJustify(ColumnRecord.headingJustify);

  Font.Color = TranslateColor(ColumnRecord.fontColor);
  Font.Size = ColumnRecord.fontSize;
  FontSize = ColumnRecord.fontSize;
  Font.Name = FaceName(ColumnRecord.fontFace);
  const uint8_t style = ColumnRecord.fontStyle;
  Font.Bold = (style & HTFONTSTYLE_BOLD) != 0;
  Font.Italic = (style & HTFONTSTYLE_ITALIC) != 0;
  Font.Underline = (style & HTFONTSTYLE_UNDERLINE) != 0;
  Font.StrikeOut = (style & HTFONTSTYLE_STRIKEOUT) != 0;

  Attr96 = ColumnRecord.position;
}

int TQuireViewColumn::GetWidth() const {
  // A record width near INT32_MAX would overflow int once multiplied by 12.
  const int64_t width = static_cast<int64_t>(ColumnRecord.width / 8) * 12;
  if (width > INT_MAX) return INT_MAX;
  if (width < INT_MIN) return INT_MIN;
  return static_cast<int>(width);
}

void TQuireViewColumn::GetTitle(std::string& title) const {
  // The record comes from outside; a title without its zero stops at the field's end.
  title.assign(ColumnRecord.title, strnlen(ColumnRecord.title, sizeof ColumnRecord.title));
}

uint32_t TQuireViewColumn::TranslateColor(int index) {
  static constexpr uint32_t kColors[16] = {
      0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0xFF00FF, 0x00FFFF, 0xFFFF00,
      0x000080, 0x008000, 0x800000, 0x800080, 0x008080, 0x808000, 0x808080, 0xC0C0C0,
  };
  if (index < 0 || index >= 16) return 0xFFFFFF;
  return kColors[index];
}
