// Item values below the C API: which conversions read the international settings, text-list
// data appended in place, and the append call on a list it cannot extend.
#include <cstring>

#include "doc_support.h"
#include "engine/core/Status.h"
#include "engine/doc/Document.h"
#include "engine/doc/Values.h"
#include "engine/store/ItemCodec.h"

namespace quire::engine::test {
namespace {

namespace codec = store::codec;

constexpr HTINT kTypes[] = {HTTYPE_NUMBER,      HTTYPE_TEXT,          HTTYPE_DATETIME,  HTTYPE_TEXT_LIST,
                            HTTYPE_NUMBER_LIST, HTTYPE_DATETIME_LIST, HTTYPE_COMPOSITE, HTTYPE_FORMULA};

HTINTERNATIONAL usSettings() {
  HTINTERNATIONAL s{};
  s.dateOrder = HTDATEORDER_MDY;
  std::strcpy(s.dateSeparator, "/");
  std::strcpy(s.timeSeparator, ":");
  std::strcpy(s.decimalSeparator, ".");
  std::strcpy(s.thousandsSeparator, ",");
  std::strcpy(s.amString, "AM");
  std::strcpy(s.pmString, "PM");
  return s;
}

HTINTERNATIONAL germanSettings() {
  HTINTERNATIONAL s{};
  s.dateOrder = HTDATEORDER_DMY;
  s.flags = HTINTL_24_HOUR;
  std::strcpy(s.dateSeparator, ".");
  std::strcpy(s.timeSeparator, ".");
  std::strcpy(s.decimalSeparator, ",");
  std::strcpy(s.thousandsSeparator, ".");
  return s;
}

// One value of every type, chosen so that rendering or parsing it depends on the settings
// wherever settings matter at all.
std::vector<store::StoredItem> sampleItems() {
  const HTDATETIME when{45'000'000, 2'460'000};
  std::vector<store::StoredItem> items = {
      {"N", HTTYPE_NUMBER, 0, codec::encodeNumber(1234.5)},
      {"T", HTTYPE_TEXT, 0, codec::encodeText("1,234.5")},
      {"TD", HTTYPE_TEXT, 0, codec::encodeText("03/04/2020 10:30:00")},
      {"E", HTTYPE_TEXT, 0, {}},
      {"D", HTTYPE_DATETIME, 0, codec::encodeDateTime(when)},
      {"TL", HTTYPE_TEXT_LIST, 0, codec::encodeTextList({"2.5", "", "x"})},
      {"NL", HTTYPE_NUMBER_LIST, 0, codec::encodeNumberList({0.25, -3})},
      {"DL", HTTYPE_DATETIME_LIST, 0, codec::encodeDateTimeList({when})},
      {"F", HTTYPE_FORMULA, 0, codec::encodeText("@Now")},
  };
  return items;
}

// The converted value, or the code of the failure.
std::pair<store::Blob, HTSTATUS> tryConvert(const store::StoredItem& item, HTINT to, const HTINTERNATIONAL& intl) {
  try {
    return {doc::convert(item, to, intl), HTSUCCESS};
  } catch (const Error& e) {
    return {{}, e.code()};
  }
}

TEST(ItemValues, ConversionsThatSkipTheSettingsGiveTheSameResultUnderAnySettings) {
  // The item calls fetch the settings only when usesSettings says a conversion reads them;
  // a conversion it wrongly excused would come out differently in another locale.
  int excused = 0;
  for (const store::StoredItem& item : sampleItems()) {
    for (HTINT to : kTypes) {
      if (doc::usesSettings(item.type, to)) continue;
      ++excused;
      const auto us = tryConvert(item, to, usSettings());
      const auto german = tryConvert(item, to, germanSettings());
      const auto none = tryConvert(item, to, HTINTERNATIONAL{});
      EXPECT_EQ(us, german) << item.name << " to type " << to;
      EXPECT_EQ(us, none) << item.name << " to type " << to;
    }
  }
  EXPECT_GT(excused, 20);
  // And the ones that do read them are really told apart by them.
  const store::StoredItem number = sampleItems()[0];
  EXPECT_TRUE(doc::usesSettings(HTTYPE_NUMBER, HTTYPE_TEXT));
  EXPECT_NE(tryConvert(number, HTTYPE_TEXT, usSettings()), tryConvert(number, HTTYPE_TEXT, germanSettings()));
  EXPECT_TRUE(doc::usesSettings(HTTYPE_TEXT, HTTYPE_DATETIME));
  EXPECT_TRUE(doc::usesSettings(HTTYPE_TEXT_LIST, HTTYPE_NUMBER_LIST));
  EXPECT_FALSE(doc::usesSettings(HTTYPE_TEXT, HTTYPE_TEXT_LIST));
  EXPECT_FALSE(doc::usesSettings(HTTYPE_DATETIME, 0));
}

TEST(ItemValues, TextBecomesAListOfItsOneEntryOrOfNone) {
  const store::StoredItem text{"T", HTTYPE_TEXT, 0, codec::encodeText("only")};
  EXPECT_EQ(doc::convert(text, HTTYPE_TEXT_LIST), codec::encodeTextList({"only"}));
  const store::StoredItem empty{"E", HTTYPE_TEXT, 0, {}};
  EXPECT_EQ(doc::convert(empty, HTTYPE_TEXT_LIST), codec::encodeTextList({}));
  const store::StoredItem formula{"F", HTTYPE_FORMULA, 0, codec::encodeText("1+1")};
  EXPECT_EQ(doc::convert(formula, HTTYPE_TEXT_LIST), codec::encodeTextList({"1+1"}));
}

TEST(ItemValues, AppendingInPlaceMatchesEncodingTheWholeList) {
  std::vector<std::string> entries;
  store::Blob list = codec::encodeTextList({});
  for (int i = 0; i < 50; ++i) {
    entries.push_back(i % 7 == 3 ? std::string() : "entry " + std::to_string(i));
    ASSERT_TRUE(doc::appendTextListEntry(list, entries.back()));
    ASSERT_EQ(list, codec::encodeTextList(entries)) << "after entry " << i;
  }
  // An entry with a zero byte inside keeps its full length.
  const std::string withZero("a\0b", 3);
  ASSERT_TRUE(doc::appendTextListEntry(list, withZero));
  entries.push_back(withZero);
  EXPECT_EQ(list, codec::encodeTextList(entries));
}

TEST(ItemValues, MalformedListDataIsRefusedAndLeftAlone) {
  const store::Blob good = codec::encodeTextList({"ab", "c"});
  ASSERT_TRUE(doc::isTextList(good.data(), good.size()));
  std::vector<store::Blob> bad = {
      {},                                          // no count
      {1, 0, 0},                                   // a short count
      store::Blob(good.begin(), good.end() - 1),   // the last terminator missing
      store::Blob(good.begin(), good.end() - 3),   // cut inside the last entry
  };
  store::Blob trailing = good;
  trailing.push_back('x');  // bytes after the last entry
  bad.push_back(trailing);
  store::Blob noTerminator = good;
  noTerminator[4 + 4 + 2] = 'z';  // the first entry's terminator overwritten
  bad.push_back(noTerminator);
  store::Blob hugeLength = good;
  std::memset(hugeLength.data() + 4, 0xFF, 4);  // a length far past the end
  bad.push_back(hugeLength);
  store::Blob hugeCount = good;
  std::memset(hugeCount.data(), 0xFF, 4);
  bad.push_back(hugeCount);

  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(doc::isTextList(bad[i].data(), bad[i].size())) << "case " << i;
    store::Blob copy = bad[i];
    EXPECT_FALSE(doc::appendTextListEntry(copy, "new")) << "case " << i;
    EXPECT_EQ(copy, bad[i]) << "case " << i;
  }
}

class TextListAppendTest : public OpenDocTest {
 protected:

  store::StoredItem* stored(const char* name) {
    std::shared_ptr<doc::Document> d;
    if (doc::lookupDocument(doc_, d) != HTSUCCESS) return nullptr;
    return d->note.find(name);
  }

};

TEST_F(TextListAppendTest, AppendKeepsTheStoredNameAndFlags) {
  const uint32_t flags = 0x5;
  ASSERT_EQ(HTItemPut(doc_, "Members", HTTYPE_TEXT_LIST, 0, HTTYPE_TEXT, "ann", flags), HTSUCCESS);
  ASSERT_EQ(HTItemAppendTextList(doc_, "MEMBERS", "bob", 0, 0x2), HTSUCCESS);
  HTITEMLISTREC record{};
  ASSERT_EQ(HTItemList(doc_, HTLIST_REFRESH, 0, &record), HTSUCCESS);
  EXPECT_STREQ(record.name, "Members");
  HTINT type = 0;
  HTUINT gotFlags = 0, length = 0;
  ASSERT_EQ(HTItemGetInfo(doc_, "members", &type, &gotFlags, &length), HTSUCCESS);
  EXPECT_EQ(type, HTTYPE_TEXT_LIST);
  EXPECT_EQ(gotFlags, flags);
  EXPECT_EQ(entries(doc_, "Members"), (std::vector<std::string>{"ann", "bob"}));
  // A new list takes the flags of the append that made it.
  ASSERT_EQ(HTItemAppendTextList(doc_, "Fresh", "x", 0, 0x2), HTSUCCESS);
  ASSERT_EQ(HTItemGetInfo(doc_, "Fresh", &type, &gotFlags, &length), HTSUCCESS);
  EXPECT_EQ(gotFlags, 0x2u);
}

TEST_F(TextListAppendTest, MalformedStoredListFailsInsteadOfLosingItsEntries) {
  ASSERT_EQ(HTItemAppendTextList(doc_, "Tags", "one", 0, 0), HTSUCCESS);
  ASSERT_EQ(HTItemAppendTextList(doc_, "Tags", "two", 0, 0), HTSUCCESS);
  store::StoredItem* item = stored("Tags");
  ASSERT_NE(item, nullptr);
  // Damage the second entry's terminator, as a corrupted file would.
  item->value.back() = 'x';
  const store::Blob damaged = item->value;

  EXPECT_EQ(HTItemAppendTextList(doc_, "Tags", "three", 0, 0), HTFAIL_STORAGE_ERROR);
  EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("Tags"), std::string::npos);
  EXPECT_EQ(stored("Tags")->value, damaged);
}

}  // namespace
}  // namespace quire::engine::test
