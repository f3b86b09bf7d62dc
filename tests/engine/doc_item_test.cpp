// Items through the C API: types and their conversions, buffer contracts, big values, text
// lists, copying between databases and LMBCS text.
#include <cstring>

#include "doc_support.h"
#include "engine/doc/Note.h"
#include "engine/store/ItemCodec.h"

namespace quire::engine::test {
namespace {

class ItemTest : public OpenDocTest {
 protected:

  void putNumber(const char* name, double v) {
    ASSERT_EQ(HTItemPut(doc_, name, HTTYPE_NUMBER, 8, HTTYPE_NUMBER, &v, 0), HTSUCCESS);
  }

  HTDATETIME date(int y, int mo, int d, int h = -1, int mi = -1, int s = -1, int ms = -1) {
    const HTINT parts[HTDATETIME_PART_COUNT] = {y, mo, d, 0, h, mi, s, ms, 0};
    HTDATETIME v{};
    EXPECT_EQ(HTDatetimeCreate(parts, 1, &v), HTSUCCESS);
    return v;
  }

  // Day-month-year, '.' and ',' separators, 24-hour clock.
  void useEuropeanSettings() {
    HTINTERNATIONAL intl{};
    ASSERT_EQ(HTGetInternational(&intl), HTSUCCESS);
    intl.dateOrder = HTDATEORDER_DMY;
    std::strcpy(intl.dateSeparator, ".");
    std::strcpy(intl.decimalSeparator, ",");
    std::strcpy(intl.thousandsSeparator, ".");
    intl.flags |= HTINTL_24_HOUR;
    ASSERT_EQ(HTSetInternational(&intl), HTSUCCESS);
  }

};

TEST_P(ItemTest, EveryTypeRendersAsTextWithTheSessionsSettings) {
  useEuropeanSettings();
  putNumber("Price", 1234.5);
  const HTDATETIME when = date(2024, 12, 31, 13, 30, 5, 250);
  ASSERT_EQ(HTItemPut(doc_, "When", HTTYPE_DATETIME, 0, HTTYPE_DATETIME, &when, 0), HTSUCCESS);
  const HTDATETIME day = date(1999, 2, 3);
  ASSERT_EQ(HTItemPut(doc_, "Day", HTTYPE_DATETIME, 0, HTTYPE_DATETIME, &day, 0), HTSUCCESS);
  ASSERT_EQ(HTItemAppendTextList(doc_, "Tags", "red", 0, 0), HTSUCCESS);
  ASSERT_EQ(HTItemAppendTextList(doc_, "Tags", "green", 0, 0), HTSUCCESS);
  putText(doc_, "Body", "line one\nline two", HTTYPE_COMPOSITE);

  EXPECT_EQ(text(doc_, "Price"), "1234,5");
  EXPECT_EQ(text(doc_, "When"), "31.12.2024 13:30:05,250");
  EXPECT_EQ(text(doc_, "Day"), "03.02.1999");
  EXPECT_EQ(text(doc_, "Tags"), "red; green");
  EXPECT_EQ(text(doc_, "Body"), "line one\nline two");
}

TEST_P(ItemTest, TextPutIntoTypedItemsParsesOrFailsWithoutChangingThem) {
  useEuropeanSettings();
  putNumber("Count", 1);
  ASSERT_EQ(HTItemPut(doc_, "Count", 0, 0, HTTYPE_TEXT, "2.500,25", 0), HTSUCCESS);
  double d = 0;
  HTUINT len = 0;  // the library passes a stale or zero length for fixed-size values
  HTINT want = HTTYPE_NUMBER, type = 0;
  ASSERT_EQ(HTItemFetch(doc_, "Count", &type, &len, &want, &d), HTSUCCESS);
  EXPECT_EQ(type, HTTYPE_NUMBER);
  EXPECT_DOUBLE_EQ(d, 2500.25);
  EXPECT_EQ(HTItemPut(doc_, "Count", 0, 0, HTTYPE_TEXT, "twelve", 0), HTFAIL_TYPE_MISMATCH);
  EXPECT_NE(message(HTFAIL_TYPE_MISMATCH).find("twelve"), std::string::npos);
  EXPECT_EQ(text(doc_, "Count"), "2500,25");

  const HTDATETIME start = date(2000, 1, 1, 0, 0, 0, 0);
  ASSERT_EQ(HTItemPut(doc_, "Due", HTTYPE_DATETIME, 0, HTTYPE_DATETIME, &start, 0), HTSUCCESS);
  ASSERT_EQ(HTItemPut(doc_, "Due", 0, 0, HTTYPE_TEXT, "05.04.2023 00:15:30", 0), HTSUCCESS);
  HTDATETIME got{};
  want = HTTYPE_DATETIME;
  len = 0;
  ASSERT_EQ(HTItemFetch(doc_, "Due", &type, &len, &want, &got), HTSUCCESS);
  HTINT parts[HTDATETIME_PART_COUNT];
  ASSERT_EQ(HTDatetimeFetch(&got, parts), HTSUCCESS);
  EXPECT_EQ(parts[HTDTUNIT_YEAR], 2023);
  EXPECT_EQ(parts[HTDTUNIT_MONTH], 4);
  EXPECT_EQ(parts[HTDTUNIT_DAY], 5);
  EXPECT_EQ(parts[HTDTUNIT_HOUR], 0);  // the first hour keeps its minutes and seconds
  EXPECT_EQ(parts[HTDTUNIT_MINUTE], 15);
  EXPECT_EQ(parts[HTDTUNIT_SECOND], 30);
  EXPECT_EQ(HTItemPut(doc_, "Due", 0, 0, HTTYPE_TEXT, "31.02.2023", 0), HTFAIL_TYPE_MISMATCH);
  EXPECT_EQ(HTItemPut(doc_, "Due", 0, 0, HTTYPE_TEXT, "not a date", 0), HTFAIL_TYPE_MISMATCH);

  // 12-hour input is understood whatever the session's clock.
  ASSERT_EQ(HTItemPut(doc_, "Due", 0, 0, HTTYPE_TEXT, "2023-04-05 12:05 AM", 0), HTSUCCESS);
  ASSERT_EQ(HTItemFetch(doc_, "Due", &type, &len, &want, &got), HTSUCCESS);
  ASSERT_EQ(HTDatetimeFetch(&got, parts), HTSUCCESS);
  EXPECT_EQ(parts[HTDTUNIT_HOUR], 0);
  EXPECT_EQ(parts[HTDTUNIT_MINUTE], 5);

  // A number put into a text item becomes text; an item type of 0 on a new item takes the
  // value's type.
  putText(doc_, "Note", "x");
  const double pi = 3.5;
  ASSERT_EQ(HTItemPut(doc_, "Note", 0, 8, HTTYPE_NUMBER, &pi, 0), HTSUCCESS);
  HTINT itemType = 0;
  HTUINT flags = 0, size = 0;
  ASSERT_EQ(HTItemGetInfo(doc_, "Note", &itemType, &flags, &size), HTSUCCESS);
  EXPECT_EQ(itemType, HTTYPE_TEXT);
  EXPECT_EQ(text(doc_, "Note"), "3,5");
  ASSERT_EQ(HTItemPut(doc_, "Fresh", 0, 8, HTTYPE_NUMBER, &pi, 0), HTSUCCESS);
  ASSERT_EQ(HTItemGetInfo(doc_, "Fresh", &itemType, &flags, &size), HTSUCCESS);
  EXPECT_EQ(itemType, HTTYPE_NUMBER);
  EXPECT_EQ(size, 8u);
}

TEST_P(ItemTest, FetchNeverWritesPastTheRoomItIsGiven) {
  putText(doc_, "Subject", "hello world");
  HTUINT length = 0;
  HTINT want = HTTYPE_TEXT, type = 0;
  ASSERT_EQ(HTItemGetLength(doc_, "Subject", nullptr, &want, &length), HTSUCCESS);
  EXPECT_EQ(length, 11u);
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  HTUINT room = length;  // no room for the terminator
  EXPECT_EQ(HTItemFetch(doc_, "Subject", &type, &room, &want, buf), HTFAIL_BUFFER_TOO_SMALL);
  EXPECT_EQ(room, 11u);
  EXPECT_EQ(buf[0], '#');
  room = length + 1;
  ASSERT_EQ(HTItemFetch(doc_, "Subject", &type, &room, &want, buf), HTSUCCESS);
  EXPECT_STREQ(buf, "hello world");
  EXPECT_EQ(buf[12], '#');

  // The item's own form of a text needs no terminator.
  HTINT own = 0;
  room = 11;
  std::memset(buf, '#', sizeof buf);
  ASSERT_EQ(HTItemFetch(doc_, "Subject", &type, &room, &own, buf), HTSUCCESS);
  EXPECT_EQ(std::string(buf, 11), "hello world");
  EXPECT_EQ(buf[11], '#');
  EXPECT_EQ(own, HTTYPE_TEXT);

  EXPECT_EQ(HTItemFetch(doc_, "Missing", &type, &room, &want, buf), HTFAIL_ITEM_NOT_FOUND);
  EXPECT_EQ(HTItemFetch(doc_, "", &type, &room, &want, buf), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTItemFetch(doc_, "Subject", &type, nullptr, &want, buf), HTFAIL_INVALID_ARGUMENT);
  HTINT bogus = 42;
  EXPECT_EQ(HTItemFetch(doc_, "Subject", &type, &room, &bogus, buf), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTItemPut(doc_, std::string(256, 'n').c_str(), HTTYPE_TEXT, 0, HTTYPE_TEXT, "v", 0), HTFAIL_TEXT_TOO_LONG);
}

TEST_P(ItemTest, MultiMegabyteValueStoresAndReadsBackExactly) {
  std::string big(6 * 1024 * 1024 + 7, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(1 + (i * 7919) % 255);  // no zero byte
  ASSERT_EQ(HTItemPut(doc_, "Big", HTTYPE_TEXT, HTUINT(big.size()), HTTYPE_TEXT, big.data(), 0), HTSUCCESS);
  save(doc_);
  const HTID id = idOf(doc_);
  HTDOCHANDLE again = open(id);
  HTUINT length = 0;
  HTINT own = 0, type = 0;
  ASSERT_EQ(HTItemGetLength(again, "Big", nullptr, &own, &length), HTSUCCESS);
  ASSERT_EQ(length, big.size());
  std::string back(length, '\0');
  ASSERT_EQ(HTItemFetch(again, "Big", &type, &length, &own, back.data()), HTSUCCESS);
  EXPECT_TRUE(back == big);
  HTDocumentClose(again, 0);
}

TEST_P(ItemTest, TextListsOfManyEntriesEmptyEntriesAndTheEmptyPut) {
  // The library's write-back: replace by the empty text, then append every entry.
  ASSERT_EQ(HTItemPut(doc_, "Names", HTTYPE_TEXT_LIST, 0, HTTYPE_TEXT, "", 1), HTSUCCESS);
  EXPECT_TRUE(entries(doc_, "Names").empty());
  std::vector<std::string> expected;
  for (int i = 0; i < 300; ++i) {
    expected.push_back(i == 7 ? "" : "entry " + std::to_string(i));
    ASSERT_EQ(HTItemAppendTextList(doc_, "Names", expected.back().c_str(), 0, 0), HTSUCCESS);
  }
  save(doc_);
  HTDOCHANDLE again = open(idOf(doc_));
  EXPECT_EQ(entries(again, "Names"), expected);
  HTINT type = 0;
  HTUINT flags = 0, size = 0;
  ASSERT_EQ(HTItemGetInfo(again, "Names", &type, &flags, &size), HTSUCCESS);
  EXPECT_EQ(type, HTTYPE_TEXT_LIST);
  EXPECT_EQ(flags, 1u);  // the put's flags survive the appends

  const void* list = nullptr;
  HTINT want = HTTYPE_TEXT_LIST;
  ASSERT_EQ(HTItemGetPointer(again, "Names", &type, nullptr, &want, &list), HTSUCCESS);
  uint32_t count = 0;
  std::memcpy(&count, list, 4);
  EXPECT_EQ(count, 300u);  // counted in 32 bits
  char buf[32];
  EXPECT_EQ(HTTextListFetch(list, 8, sizeof buf, buf), 1u);  // an empty entry is not a failure
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(HTTextListFetch(list, 301, sizeof buf, buf), 0u);
  EXPECT_EQ(HTTextListFetch(list, 0, sizeof buf, buf), 0u);
  EXPECT_EQ(HTTextListFetch(list, 2, 4, buf), 4u);  // cut to the room given, terminated
  EXPECT_STREQ(buf, "ent");
  const char* entry = nullptr;
  HTUINT entryLength = 0;
  ASSERT_EQ(HTTextListGetPointer(list, 300, &entry, &entryLength), HTSUCCESS);
  EXPECT_EQ(std::string(entry, entryLength), "entry 299");
  EXPECT_EQ(HTTextListGetPointer(list, 301, &entry, &entryLength), HTFAIL_ENTRY_NOT_FOUND);
  EXPECT_EQ(HTTextListGetCount(nullptr), 0u);
  HTDocumentClose(again, 0);
}

TEST_P(ItemTest, AppendCreatesOrExtendsButNeverTurnsANumberIntoAList) {
  ASSERT_EQ(HTItemAppendTextList(doc_, "SendTo", "a", 0, 0), HTSUCCESS);
  ASSERT_EQ(HTItemAppendTextList(doc_, "sendto", "b", 0, 0), HTSUCCESS);
  EXPECT_EQ(entries(doc_, "SendTo"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(HTItemGetCount(doc_), 1u);
  putText(doc_, "Single", "first");
  ASSERT_EQ(HTItemAppendTextList(doc_, "Single", "second", 0, 0), HTSUCCESS);
  EXPECT_EQ(entries(doc_, "Single"), (std::vector<std::string>{"first", "second"}));
  putNumber("Amount", 3);
  EXPECT_EQ(HTItemAppendTextList(doc_, "Amount", "x", 0, 0), HTFAIL_TYPE_MISMATCH);
  // An explicit length takes that many bytes.
  ASSERT_EQ(HTItemAppendTextList(doc_, "Cut", "abcdef", 3, 0), HTSUCCESS);
  EXPECT_EQ(entries(doc_, "Cut"), (std::vector<std::string>{"abc"}));
}

TEST_P(ItemTest, CopyAcrossDatabasesDeleteAndList) {
  HTDBHANDLE other = createAndOpen("other.nsf");
  HTDOCHANDLE target = 0;
  ASSERT_EQ(HTDocumentCreate(other, 0, &target), HTSUCCESS);
  putText(doc_, "Subject", "copied", HTTYPE_TEXT, 0x0020);
  ASSERT_EQ(HTItemCopy(doc_, "subject", target), HTSUCCESS);
  EXPECT_EQ(text(target, "Subject"), "copied");
  HTINT type = 0;
  HTUINT flags = 0, size = 0;
  ASSERT_EQ(HTItemGetInfo(target, "Subject", &type, &flags, &size), HTSUCCESS);
  EXPECT_EQ(flags, 0x0020u);
  EXPECT_EQ(HTItemCopy(doc_, "Nothing", target), HTFAIL_ITEM_NOT_FOUND);

  putText(target, "A", "1");
  putText(target, std::string(100, 'L').c_str(), "long name");
  HTITEMLISTREC rec{};
  std::vector<std::string> names;
  for (HTSTATUS s = HTItemList(target, HTLIST_REFRESH, 0, &rec); s == HTSUCCESS; s = HTItemList(target, HTLIST_NEXT, 0, &rec))
    names.emplace_back(rec.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Subject", "A", std::string(79, 'L')}));
  EXPECT_EQ(HTItemList(target, HTLIST_NEXT, 0, &rec), HTFAIL_END_OF_LIST);

  ASSERT_EQ(HTItemDelete(target, "a"), HTSUCCESS);
  EXPECT_EQ(HTItemDelete(target, "A"), HTFAIL_ITEM_NOT_FOUND);
  EXPECT_EQ(HTItemGetCount(target), 2u);
  HTDocumentClose(target, 0);
}

TEST_P(ItemTest, LmbcsTextRoundTripsThroughTranslateAndTheStore) {
  const std::string native = "Grüße aus Zürich: 5 € — ½ Ω";
  char lmbcs[256];
  HTUINT n = 0;
  ASSERT_EQ(HTTranslate(HTTRANSLATE_NATIVE_TO_LMBCS, HTUINT(native.size()), native.c_str(), sizeof lmbcs, lmbcs, &n),
            HTSUCCESS);
  EXPECT_NE(std::string(lmbcs, n), native);  // really translated
  ASSERT_EQ(HTItemPut(doc_, "Greeting", HTTYPE_TEXT, 0, HTTYPE_TEXT, lmbcs, 0), HTSUCCESS);
  ASSERT_EQ(HTItemAppendTextList(doc_, "List", lmbcs, 0, 0), HTSUCCESS);
  save(doc_);
  HTDOCHANDLE again = open(idOf(doc_));
  for (const char* name : {"Greeting", "List"}) {
    const std::string stored = name == std::string("List") ? entries(again, name).at(0) : text(again, name);
    char back[256];
    ASSERT_EQ(HTTranslate(HTTRANSLATE_LMBCS_TO_NATIVE, HTUINT(stored.size()), stored.c_str(), sizeof back, back, &n),
              HTSUCCESS);
    EXPECT_EQ(std::string(back, n), native) << name;
  }
  HTDocumentClose(again, 0);
}

}  // namespace
}  // namespace quire::engine::test

namespace quire::engine::test {
namespace {

// Names are found through an index once a document has many items: it must answer as the
// plain comparison does (case, non-ASCII folding, the first of repeated names) however the
// items were changed, and survive copies of the note.
using NoteItems = EngineTest;  // renders values with the session's settings

TEST_F(NoteItems, ManyItemsAreFoundByNameAsWithFew) {
  doc::Note note = doc::newNote();
  for (int i = 0; i < 3000; ++i) note.setText("Item" + std::to_string(i), "v" + std::to_string(i));
  note.setText("Größe", "umlaut");
  ASSERT_EQ(note.items.size(), 3001u);
  ASSERT_NE(note.find("ITEM2999"), nullptr);
  EXPECT_EQ(note.find("item2999")->name, "Item2999");
  ASSERT_NE(note.find("GRÖSSE"), nullptr);  // full case folding: ß and SS
  EXPECT_EQ(note.find("nope"), nullptr);

  note.setText("ITEM10", "replaced");  // replaces in place, keeps the stored spelling
  EXPECT_EQ(note.items.size(), 3001u);
  EXPECT_EQ(note.items[10].name, "Item10");
  EXPECT_EQ(note.text("item10"), "replaced");

  EXPECT_TRUE(note.remove("Item5"));
  EXPECT_EQ(note.find("Item5"), nullptr);
  EXPECT_EQ(note.text("Item6"), "v6");  // positions after the removed one moved
  note.items.push_back({"Pushed", HTTYPE_TEXT, 0, store::codec::encodeText("direct")});
  EXPECT_EQ(note.text("pushed"), "direct");
  note.items.front().name = "Renamed";  // changed in place, behind the index's back
  EXPECT_EQ(note.find("Item0"), nullptr);
  EXPECT_EQ(note.text("renamed"), "v0");

  doc::Note copy = note;
  copy.setText("OnlyInCopy", "x");
  EXPECT_EQ(note.find("OnlyInCopy"), nullptr);
  EXPECT_EQ(copy.text("item2999"), "v2999");

  note.items.push_back({"item2999", HTTYPE_TEXT, 0, store::codec::encodeText("second")});
  EXPECT_EQ(note.text("Item2999"), "v2999");  // the first of two of that name
}

// A small note is searched name by name, most names rejected by their first letter alone: a
// first letter that differs only in case, or that is not ASCII, must still reach the full
// comparison.
TEST_F(NoteItems, FewItemsAreFoundByNameWhateverTheirFirstLetter) {
  doc::Note note = doc::newNote();
  note.setText("amount", "a");
  note.setText("Ärger", "umlaut");
  note.setText("Status", "s");
  note.setText("ßig", "sharp s");
  note.setText("", "unnamed");
  ASSERT_LT(note.items.size(), 16u);
  EXPECT_EQ(note.text("AMOUNT"), "a");
  EXPECT_EQ(note.text("äRGER"), "umlaut");
  EXPECT_EQ(note.text("\u017Ftatus"), "s");  // long s folds to s
  EXPECT_EQ(note.text("SSIG"), "sharp s");
  EXPECT_EQ(note.find("Amounts"), nullptr);
  EXPECT_EQ(note.find("Bmount"), nullptr);
  ASSERT_NE(note.find(""), nullptr);
  EXPECT_EQ(note.text(""), "unnamed");
}


QUIRE_BOTH_BACKENDS(ItemTest);

}  // namespace
}  // namespace quire::engine::test
