// The string helpers and the library's own enumerations.
#include "binding/QRPort.h"

#include <gtest/gtest.h>

#include <cmath>

#include "binding/Quire02.h"

namespace {

TEST(QRPort, LeftAndRightStrClampTheCount) {
  EXPECT_EQ(LeftStr("abc", 2), "ab");
  EXPECT_EQ(LeftStr("abc", 5), "abc");
  EXPECT_EQ(LeftStr("abc", 0), "");
  EXPECT_EQ(LeftStr("abc", -3), "");
  EXPECT_EQ(LeftStr("", 2), "");
  EXPECT_EQ(RightStr("abc", 2), "bc");
  EXPECT_EQ(RightStr("abc", 5), "abc");
  EXPECT_EQ(RightStr("abc", 0), "");
  EXPECT_EQ(RightStr("abc", -1), "");
  EXPECT_EQ(RightStr("", 2), "");
}

TEST(QRPort, SpaceIsCappedAt255) {
  EXPECT_EQ(Space(3), "   ");
  EXPECT_EQ(Space(255), std::string(255, ' '));
  EXPECT_EQ(Space(300), std::string(255, ' '));
  EXPECT_EQ(Space(0), "");
  EXPECT_EQ(Space(-4), "");
}

TEST(QRPort, ReverseStr) {
  EXPECT_EQ(ReverseStr("abc"), "cba");
  EXPECT_EQ(ReverseStr("a"), "a");
  EXPECT_EQ(ReverseStr(""), "");
}

TEST(QRPort, NewPowerUsesExtendedPrecision) {
  EXPECT_EQ(NewPower(2.0L, 10.0L), 1024.0L);
  EXPECT_EQ(NewPower(2.0L, -2.0L), 0.25L);
  EXPECT_EQ(NewPower(5.0L, 0.0L), 1.0L);
  EXPECT_NEAR(static_cast<double>(NewPower(2.0L, 0.5L)), std::sqrt(2.0), 1e-15);
  EXPECT_TRUE(std::isnan(NewPower(-8.0L, 0.5L)));
}

TEST(Quire02, ItemTypesAndListPositionsTravelAsTheAPIValues) {
  static_assert(sizeof(TQRItemType) == 4 && sizeof(TQRList) == 4);
  const std::pair<int, int> types[] = {
      {qrTypeInvalid, HTTYPE_INVALID},       {qrTypeNumber, HTTYPE_NUMBER},
      {qrTypeText, HTTYPE_TEXT},             {qrTypeDateTime, HTTYPE_DATETIME},
      {qrTypeTextList, HTTYPE_TEXT_LIST},    {qrTypeNumberList, HTTYPE_NUMBER_LIST},
      {qrTypeDateTimeList, HTTYPE_DATETIME_LIST}, {qrTypeComposite, HTTYPE_COMPOSITE},
      {qrTypeFormula, HTTYPE_FORMULA}};
  for (const auto& [ours, api] : types) EXPECT_EQ(ours, api);
  const std::pair<int, int> positions[] = {{qrDummy, HTLIST_DUMMY}, {qrRefresh, HTLIST_REFRESH},
                                           {qrFirst, HTLIST_FIRST}, {qrLast, HTLIST_LAST},
                                           {qrNext, HTLIST_NEXT},   {qrPrev, HTLIST_PREVIOUS},
                                           {qrCurrent, HTLIST_CURRENT}};
  for (const auto& [ours, api] : positions) EXPECT_EQ(ours, api);
}

}  // namespace
