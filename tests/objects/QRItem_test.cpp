#include "objects/QRItem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "objects/Quiredoc.h"
#include "rtl/DateTime.h"
#include "rtl/FormatSettings.h"
#include "tests/objects/DocApiDouble.h"
#include "tests/objects/DocEngineFixture.h"

namespace {

using docdouble::DocApiDouble;
using docdouble::FakeItem;
constexpr HTDOCHANDLE kDoc = DocApiDouble::kDoc;


// ---- Through the recording double ----------------------------------------------------

TEST(QRItemTest, NewNumberItemWithTextWritesNothingAndStaysValid) {
  DocApiDouble api;
  TQuireItem item(kDoc, "N", "12", 3.5, true, qrTypeNumber);
  EXPECT_TRUE(item.Valid);
  EXPECT_TRUE(api.Log.empty());
  TQuireItem written(kDoc, "M", "", 3.5, true, qrTypeNumber);
  EXPECT_EQ(api.Log, std::vector<std::string>{"HTItemPut(M,1,0,1,3.5,0)"});
}

TEST(QRItemTest, FlagsOfAReadItemSetOnlyTheirBooleansAndTheLowByteIsTheType) {
  DocApiDouble api;
  api.Docs[kDoc].items.push_back(FakeItem{"F", 0x0104, 0x0420, "v"});
  TQuireItem item(kDoc, "F", "", 0.0, false, qrTypeInvalid);
  ASSERT_TRUE(item.Valid);
  EXPECT_TRUE(item.IsAuthors);
  EXPECT_TRUE(item.IsReaders);
  EXPECT_FALSE(item.IsSigned || item.IsEncrypted || item.IsNames || item.IsProtected);
  EXPECT_EQ(item.ItemType, qrTypeTextList);
  EXPECT_EQ(item.InfoType, 0x0104);

  TQuireItem missing(kDoc, "absent", "", 0.0, false, qrTypeInvalid);
  EXPECT_FALSE(missing.Valid);
  EXPECT_EQ(missing.LastError, HTFAIL_ITEM_NOT_FOUND);
}

TEST(QRItemTest, FlagSetterWithTheCurrentValueMakesNoCallAndAChangeRewritesTheValue) {
  DocApiDouble api;
  api.Docs[kDoc].items.push_back(FakeItem{"S", HTTYPE_TEXT, 0x0021, "v"});
  TQuireItem item(kDoc, "S", "", 0.0, false, qrTypeInvalid);
  api.Log.clear();
  item.SetIsSigned(true);
  EXPECT_TRUE(api.Log.empty());
  item.SetIsSigned(false);
  EXPECT_EQ(item.Flags, 0x0020u);
  EXPECT_EQ(api.Calls("HTItemPut"), std::vector<std::string>{"HTItemPut(S,0,1,2,v,32)"});
}

TEST(QRItemTest, WriteFlagsPutsNothingWhenTheValueCannotBeFetched) {
  DocApiDouble api;
  api.Docs[kDoc].items.push_back(FakeItem{"S", HTTYPE_TEXT, 0, "v"});
  TQuireItem item(kDoc, "S", "", 0.0, false, qrTypeInvalid);
  api.Fail["HTItemFetch"] = HTFAIL_BUFFER_TOO_SMALL;
  item.SetIsNames(true);
  EXPECT_TRUE(api.Calls("HTItemPut").empty());
  EXPECT_EQ(item.LastError, HTFAIL_BUFFER_TOO_SMALL);
}

TEST(QRItemTest, ReadersGiveTheBufferTheirOwnSizeAsRoom) {
  DocApiDouble api;
  TQuireItem item(kDoc, "X", "", 0.0, true, qrTypeText);
  item.Length = 500;  // left over from an earlier read; must not become the room
  api.Fail["HTItemFetch"] = HTFAIL_ITEM_NOT_FOUND;
  item.GetAsNumber();
  item.GetAsDate();
  EXPECT_EQ(api.Calls("HTItemFetch"),
            (std::vector<std::string>{"HTItemFetch(X,0,8,1)", "HTItemFetch(X,0,8,3)"}));
}

TEST(QRItemTest, NamesLongerThan255BytesNeverReachTheApi) {
  DocApiDouble api;
  const std::string name(256, 'n');
  TQuireItem item(kDoc, name, "v", 0.0, true, qrTypeText);
  EXPECT_FALSE(item.Valid);
  EXPECT_EQ(item.LastError, HTFAIL_TEXT_TOO_LONG);
  item.SetText("w");
  EXPECT_EQ(item.GetText(), "");
  EXPECT_TRUE(api.Log.empty());
  TQuireItem fits(kDoc, std::string(255, 'n'), "v", 0.0, true, qrTypeText);
  EXPECT_EQ(api.Calls("HTItemPut").size(), 1u);
}

TEST(QRItemTest, DateTimeToHTDATETIMEFillsTheNineParts) {
  DocApiDouble api;
  TQuireItem item(kDoc, "D", "", 0.0, true, qrTypeText);
  HTDATETIME datetime{};
  item.DateTimeToHTDATETIME(datetime, 35065.5);
  ASSERT_EQ(item.LastError, 0u);
  EXPECT_EQ(api.Datetimes.back(), (std::vector<HTINT>{1996, 1, 1, 0, 12, 0, 0, 0, 0}));
  EXPECT_EQ(api.Calls("HTDatetimeCreate"), std::vector<std::string>{"HTDatetimeCreate(1)"});

  item.DateTimeToHTDATETIME(datetime, rtl::EncodeDateTime(2001, 2, 3, 4, 5, 6, 789));
  EXPECT_EQ(api.Datetimes.back(), (std::vector<HTINT>{2001, 2, 3, 0, 4, 5, 6, 789, 0}));
}

TEST(QRItemTest, CalendarValuesSurviveTheRoundTripToTheMillisecondAtEveryHour) {
  DocApiDouble api;
  TQuireItem item(kDoc, "D", "", 0.0, true, qrTypeText);
  for (int hour = 0; hour < 24; ++hour) {
    for (rtl::TDateTime date : {rtl::EncodeDate(2024, 2, 29), rtl::EncodeDate(1850, 7, 1), 0.0}) {
      const rtl::TDateTime value =
          date < 0 ? date - rtl::EncodeTime(hour, 59, 58, 999) : date + rtl::EncodeTime(hour, 59, 58, 999);
      HTDATETIME datetime{};
      item.DateTimeToHTDATETIME(datetime, value);
      rtl::TDateTime back = -1;
      item.HTDATETIMEToDateTime(back, datetime);
      EXPECT_EQ(back, value) << "hour " << hour << " date " << date;
    }
  }
}

TEST(QRItemTest, AbsentPartsGiveJustTheTimeOrJustTheDate) {
  DocApiDouble api;
  TQuireItem item(kDoc, "D", "", 0.0, true, qrTypeText);
  const std::vector<std::pair<std::vector<HTINT>, rtl::TDateTime>> cases = {
      {{0, 0, 0, 0, 0, 30, 15, 250, 0}, rtl::EncodeTime(0, 30, 15, 250)},   // time only, first hour
      {{2020, 5, 17, 1, -1, -1, -1, -1, 0}, rtl::EncodeDate(2020, 5, 17)},  // date only
      {{0, 0, 0, 0, -1, -1, -1, -1, 0}, 0.0},                              // neither
      {{1899, 12, 29, 1, 6, 0, 0, 0, 0}, -1.25},                           // before the epoch
  };
  for (const auto& [parts, expected] : cases) {
    api.Datetimes.push_back(parts);
    rtl::TDateTime value = -7;
    item.HTDATETIMEToDateTime(value, HTDATETIME{static_cast<uint32_t>(api.Datetimes.size() - 1), 0});
    EXPECT_EQ(value, expected);
    EXPECT_EQ(item.LastError, 0u);
  }
}

TEST(QRItemTest, FailedOrMeaninglessDateTimesGiveTheFallbackWithAStatus) {
  DocApiDouble api;
  TQuireItem item(kDoc, "D", "", 0.0, true, qrTypeText);
  api.Datetimes.push_back({2020, 13, 1, 0, 0, 0, 0, 0, 0});
  rtl::TDateTime value = 0;
  item.HTDATETIMEToDateTime(value, HTDATETIME{0, 0});
  EXPECT_EQ(value, kQuireDateFallback);
  EXPECT_EQ(item.LastError, HTFAIL_INVALID_ARGUMENT);

  api.Fail["HTDatetimeFetch"] = HTFAIL_INVALID_ARGUMENT + 1;
  value = 0;
  item.HTDATETIMEToDateTime(value, HTDATETIME{0, 0});
  EXPECT_EQ(value, 2.5);
  EXPECT_EQ(item.LastError, HTFAIL_INVALID_ARGUMENT + 1);

  api.Log.clear();
  item.SetAsDate(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(item.LastError, HTFAIL_INVALID_ARGUMENT);
  EXPECT_TRUE(api.Log.empty());
}

// ---- Through the real engine ------------------------------------------------------------

class QRItemEngineTest : public docdouble::DocEngineTest {};

TEST_F(QRItemEngineTest, TextNumberAndDateValuesReadBackAsWritten) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  doc->AppendTextItem("Subject", "hello");
  doc->AppendNumberItem("Amount", 3.25);
  TQuireItem* subject = doc->GetItemByName("subject");
  TQuireItem* amount = doc->GetItemByName("Amount");
  ASSERT_NE(subject, nullptr);
  ASSERT_NE(amount, nullptr);
  EXPECT_TRUE(subject->Valid);
  EXPECT_EQ(subject->GetText(), "hello");
  EXPECT_DOUBLE_EQ(amount->GetAsNumber(), 3.25);
  amount->SetAsNumber(-1e300);
  EXPECT_EQ(amount->GetAsNumber(), -1e300);
  EXPECT_GT(amount->GetLength(), 0);

  for (int hour = 0; hour < 24; ++hour) {
    const rtl::TDateTime value = rtl::EncodeDateTime(1999, 12, 31, hour, 0, 1, 7);
    subject->SetAsDate(value);
    ASSERT_EQ(subject->LastError, 0u) << subject->GetNotesErrorString();
    EXPECT_EQ(subject->GetAsDate(), value) << "hour " << hour;
  }
}

TEST_F(QRItemEngineTest, DatesFromTextAndTheirFallbacks) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  TQuireItem bad(doc->DocHandle, "Bad", "not a date", 0.0, true, qrTypeDateTime);
  ASSERT_TRUE(bad.Valid) << bad.GetNotesErrorString();
  EXPECT_EQ(bad.GetAsDate(), kQuireNewDateDefault);

  TQuireItem good(doc->DocHandle, "Good", rtl::DateTimeToStr(rtl::EncodeDateTime(2010, 6, 5, 14, 3, 2)), 0.0, true,
                  qrTypeDateTime);
  EXPECT_EQ(good.GetAsDate(), rtl::EncodeDateTime(2010, 6, 5, 14, 3, 2));

  TQuireItem missing(doc->DocHandle, "Missing", "", 0.0, false, qrTypeInvalid);
  EXPECT_FALSE(missing.Valid);
  EXPECT_EQ(missing.GetAsDate(), 2.5);
  EXPECT_NE(missing.LastError, 0u);
  EXPECT_EQ(missing.GetText(), "");
}

TEST_F(QRItemEngineTest, FlagsAreRewrittenWithoutChangingTheValue) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  doc->AppendNumberItem("Owner", 42.5);
  TQuireItem* owner = doc->GetItemByName("Owner");
  ASSERT_NE(owner, nullptr);
  owner->SetIsAuthors(true);
  owner->SetIsNames(true);
  TQuireItem reread(doc->DocHandle, "Owner", "", 0.0, false, qrTypeInvalid);
  EXPECT_TRUE(reread.IsAuthors);
  EXPECT_TRUE(reread.IsNames);
  EXPECT_EQ(reread.Flags & (kItemFlagAuthors | kItemFlagNames), kItemFlagAuthors | kItemFlagNames);
  EXPECT_EQ(reread.ItemType, qrTypeNumber);
  EXPECT_EQ(reread.GetAsNumber(), 42.5);
}

TEST_F(QRItemEngineTest, NonAsciiTextTravelsAsLmbcsWhileTranslationIsOn) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  const std::string text = "Grüße, €10 — naïve ½";
  TranslateOn = true;
  doc->AppendTextItem("Greeting", text);
  TQuireItem* greeting = doc->GetItemByName("Greeting");
  ASSERT_NE(greeting, nullptr);
  EXPECT_EQ(greeting->GetText(), text);
  TranslateOn = false;
  // Stored in LMBCS, the bytes are not the UTF-8 ones.
  EXPECT_NE(greeting->GetText(), text);
}

TEST_F(QRItemEngineTest, AMultiMegabyteTextReadsBackExactly) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  std::string big(3 * 1024 * 1024 + 17, ' ');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i * 7 % 26);
  doc->AppendTextItem("Big", big);
  TQuireItem* item = doc->GetItemByName("Big");
  ASSERT_NE(item, nullptr);
  ASSERT_TRUE(item->Valid) << item->GetNotesErrorString();
  EXPECT_TRUE(item->GetText() == big);
}

}  // namespace
