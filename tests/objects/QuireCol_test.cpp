// A column is decoded from its record alone, so these tests build records by hand.
#include "objects/QuireCol.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "objects/QRView.h"

namespace {

HTCOLUMNREC Record() {
  HTCOLUMNREC r{};
  std::strcpy(r.title, "Subject");
  return r;
}

TQuireViewColumn Make(const HTCOLUMNREC& r) { return TQuireViewColumn(5, 9, 3, r); }

TEST(QuireColTest, KeepsIdentityAndACopyOfTheRecord) {
  HTCOLUMNREC r = Record();
  r.position = 0xABCD;
  r.isFormula = 7;
  TQuireViewColumn column(5, 9, 3, r);
  std::strcpy(r.title, "changed");
  EXPECT_EQ(column.DatabaseHandle, 5u);
  EXPECT_EQ(column.ViewID, 9u);
  EXPECT_EQ(column.ColumnNumber, 3u);
  EXPECT_EQ(column.Attr96, 0xABCDu);
  EXPECT_TRUE(column.Attr36Set);
  std::string title;
  column.GetTitle(title);
  EXPECT_EQ(title, "Subject");
}

TEST(QuireColTest, FlagBitsMapToTheirBooleans) {
  HTCOLUMNREC r = Record();
  r.flags = 0x0008 | 0x0400;
  TQuireViewColumn a = Make(r);
  EXPECT_TRUE(a.Hidden);
  EXPECT_TRUE(a.ColumnFlag0400);
  EXPECT_FALSE(a.ColumnFlag0010);
  EXPECT_FALSE(a.ColumnFlag0040);
  EXPECT_FALSE(a.Attr36Set);

  r.flags = 0x0010 | 0x0040 | 0x0001;
  TQuireViewColumn b = Make(r);
  EXPECT_FALSE(b.Hidden);
  EXPECT_TRUE(b.ColumnFlag0010);
  EXPECT_TRUE(b.ColumnFlag0040);
  EXPECT_FALSE(b.ColumnFlag0400);
}

TEST(QuireColTest, OnlyCategorisedSortCodesMakeACategory) {
  const struct {
    uint32_t sort;
    bool category;
  } cases[] = {{0, false}, {1, false}, {3, false}, {4, true}, {7, true}, {0xFFFFFFFF, true}};
  for (const auto& c : cases) {
    HTCOLUMNREC r = Record();
    r.sort = c.sort;
    EXPECT_EQ(Make(r).Category, c.category) << "sort code " << c.sort;
  }
}

TEST(QuireColTest, JustificationIsMappedNotCopied) {
  const struct {
    uint32_t api;
    TQuireColJustify expected;
  } cases[] = {{0, cjLeft}, {1, cjRight}, {2, cjCenter}, {3, cjLeft}, {0xFFFFFFFF, cjLeft}};
  for (const auto& c : cases) {
    HTCOLUMNREC r = Record();
    r.justify = c.api;
    r.headingJustify = c.api;
    TQuireViewColumn column = Make(r);
    EXPECT_EQ(column.Justify, c.expected) << "justification " << c.api;
    EXPECT_EQ(column.Justify2, c.expected) << "justification " << c.api;
  }
  HTCOLUMNREC r = Record();
  r.justify = 1;
  r.headingJustify = 2;
  TQuireViewColumn mixed = Make(r);
  EXPECT_EQ(mixed.Justify, cjRight);
  EXPECT_EQ(mixed.Justify2, cjCenter);
}

TEST(QuireColTest, FontFromFaceStyleColourAndSize) {
  const struct {
    uint8_t face;
    const char* name;
  } faces[] = {{0, "Times Roman"}, {1, "Helvetica"}, {2, "Arial"}, {3, "Arial"}, {4, "Courier"}, {255, "Arial"}};
  for (const auto& f : faces) {
    HTCOLUMNREC r = Record();
    r.fontFace = f.face;
    EXPECT_EQ(Make(r).Font.Name, f.name) << "face code " << int(f.face);
  }

  HTCOLUMNREC r = Record();
  r.fontStyle = 0x13;
  r.fontColor = 2;
  r.fontSize = 14;
  TQuireViewColumn column = Make(r);
  EXPECT_TRUE(column.Font.Bold);
  EXPECT_TRUE(column.Font.Italic);
  EXPECT_FALSE(column.Font.Underline);
  EXPECT_FALSE(column.Font.StrikeOut);
  EXPECT_EQ(column.Font.Color, 0x0000FFu);
  EXPECT_EQ(column.Font.Size, 14);
  EXPECT_EQ(column.FontSize, 14);

  r.fontStyle = 0x0C;
  r.fontColor = 200;  // beyond the column's table
  r.fontSize = 255;
  TQuireViewColumn other = Make(r);
  EXPECT_FALSE(other.Font.Bold);
  EXPECT_FALSE(other.Font.Italic);
  EXPECT_TRUE(other.Font.Underline);
  EXPECT_TRUE(other.Font.StrikeOut);
  EXPECT_EQ(other.Font.Color, 0xFFFFFFu);
  EXPECT_EQ(other.FontSize, 255);  // the size byte is unsigned
}

TEST(QuireColTest, WidthIsWholeCharactersTimesTwelve) {
  const struct {
    int32_t eighths;
    int width;
  } cases[] = {{100, 144}, {7, 0}, {8, 12}, {0, 0}, {-9, -12}, {-7, 0},
               {INT32_MAX, INT_MAX}, {INT32_MIN, INT_MIN}};  // saturates instead of wrapping
  for (const auto& c : cases) {
    HTCOLUMNREC r = Record();
    r.width = c.eighths;
    EXPECT_EQ(Make(r).GetWidth(), c.width) << "width " << c.eighths;
  }
}

TEST(QuireColTest, TitleOfEightyCharactersIsWholeAndAnUnterminatedOneStopsAtTheField) {
  HTCOLUMNREC r = Record();
  const std::string eighty(80, 'T');
  std::memcpy(r.title, eighty.c_str(), 81);
  std::string title;
  Make(r).GetTitle(title);
  EXPECT_EQ(title, eighty);

  std::memset(r.title, 'U', sizeof r.title);  // no terminator at all
  std::memset(r.reserved3, 'V', sizeof r.reserved3);
  Make(r).GetTitle(title);
  EXPECT_EQ(title, std::string(81, 'U'));
}

TEST(QuireColTest, ColumnAndViewColourTablesAgreeOnSixteenAndDifferAbove) {
  const uint32_t table[16] = {0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0xFF00FF, 0x00FFFF, 0xFFFF00,
                              0x000080, 0x008000, 0x800000, 0x800080, 0x008080, 0x808000, 0x808080, 0xC0C0C0};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(TQuireViewColumn::TranslateColor(i), table[i]) << i;
    EXPECT_EQ(TQuireView::TranslateColor(i), table[i]) << i;
  }
  const uint32_t viewAbove[10] = {0xFFFFFF, 0xC1FFFF, 0xC1FFFF, 0xC1FFFF, 0xE1FF82,
                                  0xE1FF82, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  for (int i = 16; i <= 25; ++i) {
    EXPECT_EQ(TQuireViewColumn::TranslateColor(i), 0xFFFFFFu) << i;
    EXPECT_EQ(TQuireView::TranslateColor(i), viewAbove[i - 16]) << i;
  }
  for (int i : {-1, 26, INT_MIN, INT_MAX}) {
    EXPECT_EQ(TQuireViewColumn::TranslateColor(i), 0xFFFFFFu) << i;
    EXPECT_EQ(TQuireView::TranslateColor(i), 0xFFFFFFu) << i;
  }
}

}  // namespace
