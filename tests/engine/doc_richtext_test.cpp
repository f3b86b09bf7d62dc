// Rich text: import and export round trips (plain text and HTML), the HTML reader on
// hand-written input, the format lists, file errors, the record calls and whole-document
// conversion.
#include <cstring>

#include "doc_support.h"
#include "engine/doc/Composite.h"

namespace quire::engine::test {
namespace {

using doc::Composite;
using doc::ParagraphStyle;
using doc::TextStyle;

class RichTextTest : public OpenDocTest {
 protected:

  static std::string listText(HTCOMPHANDLE comp) {
    HTUINT length = 0;
    EXPECT_EQ(HTCompositeListText(comp, 0, nullptr, &length), HTSUCCESS);
    std::vector<char> buf(length + 1);
    EXPECT_EQ(HTCompositeListText(comp, HTUINT(buf.size()), buf.data(), &length), HTSUCCESS);
    return std::string(buf.data(), length);
  }

  // The composite of an item as stored in the document.
  Composite stored(const char* item) {
    HTUINT length = 0;
    HTINT own = 0, type = 0;
    EXPECT_EQ(HTItemGetLength(doc_, item, nullptr, &own, &length), HTSUCCESS);
    store::Blob blob(length);
    EXPECT_EQ(HTItemFetch(doc_, item, &type, &length, &own, blob.data()), HTSUCCESS);
    EXPECT_EQ(type, HTTYPE_COMPOSITE);
    Composite c;
    EXPECT_TRUE(Composite::decode(blob, c));
    return c;
  }

};

Composite styledSample() {
  Composite c;
  TextStyle bold;
  bold.style = HTFONTSTYLE_BOLD;
  TextStyle fancy;
  fancy.style = HTFONTSTYLE_ITALIC | HTFONTSTYLE_UNDERLINE;
  fancy.size = 14;
  fancy.color = 0x000080FF;  // orange, as 0x00BBGGRR
  fancy.font = c.fontId("Courier New");
  c.addParagraph({HTPABJUSTIFY_LEFT, HTPABLIST_NONE, 1});
  c.addText("A heading", {});
  c.addParagraph({});
  c.addText("Plain, ", {});
  c.addText("bold", bold);
  c.addText(" and <fancy> & \"quoted\"", fancy);
  c.addParagraph({HTPABJUSTIFY_CENTER, HTPABLIST_NONE, 0});
  c.addText("  centred with  spaces\tand tab ", {});
  c.addParagraph({});  // an empty paragraph
  c.addParagraph({HTPABJUSTIFY_LEFT, HTPABLIST_BULLET, 0});
  c.addText("first point", {});
  c.addParagraph({HTPABJUSTIFY_LEFT, HTPABLIST_BULLET, 0});
  c.addText("second point", {});
  c.addParagraph({HTPABJUSTIFY_LEFT, HTPABLIST_NUMBER, 0});
  c.addText("Grüße ½", {});
  return c;
}

TEST(CompositeModel, HtmlExportReadsBackToTheSameRecords) {
  const Composite original = styledSample();
  const std::string html = doc::toHtml(original);
  EXPECT_NE(html.find("&lt;fancy&gt; &amp; &quot;quoted&quot;"), std::string::npos) << html;
  const Composite back = doc::fromHtml(html);
  EXPECT_EQ(back.records.size(), original.records.size()) << html;
  EXPECT_TRUE(back == original) << html << "\n" << doc::toHtml(back);
}

TEST(CompositeModel, HtmlReaderHandlesEverydayMarkup) {
  const Composite c = doc::fromHtml(
      "<html><head><title>ignored</title><style>p{color:red}</style></head><body>\n"
      "<!-- a comment --><h2>Title &amp; more</h2>\n"
      "<div><p>One   <B>two <i>three</i></b>\n four&nbsp;five&#33;&#x21;</p></div>"
      "<p>left<br>right<span style='font-weight:bold;color:#00ff00'>green</span></p>"
      "<script>document.write('no')</script><font face=\"Arial, sans\" size=5>big</font>"
      "<p>unclosed <u>underline");
  EXPECT_EQ(c.plainText(), "Title & more\nOne two three four\xC2\xA0" "five!!\nleft\nrightgreen\nbig\nunclosed underline");
  // Styles of the runs of "One two three four five": plain, bold, bold+italic, plain.
  std::vector<uint8_t> styles;
  std::vector<std::string> texts;
  for (const doc::CdRecord& r : c.records) {
    TextStyle s;
    std::string_view t;
    if (r.type == HTCD_TEXT && doc::readText(r.data, s, t)) {
      styles.push_back(s.style);
      texts.emplace_back(t);
    }
  }
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts[1], "One ");
  EXPECT_EQ(styles[2], HTFONTSTYLE_BOLD);
  EXPECT_EQ(texts[3], "three");
  EXPECT_EQ(styles[3], HTFONTSTYLE_BOLD | HTFONTSTYLE_ITALIC);
  ParagraphStyle heading;
  ASSERT_TRUE(doc::readParagraph(c.records[0].data, heading));
  EXPECT_EQ(heading.heading, 2);
  EXPECT_EQ(c.fonts, std::vector<std::string>{"Arial"});
  EXPECT_TRUE(doc::fromHtml("").records.empty());
  EXPECT_EQ(doc::fromHtml("a < b > c &bogus; &#99999999;").plainText(), "a < b > c &bogus; \xEF\xBF\xBD");
}

TEST(CompositeModel, MalformedStoredValuesAreRefused) {
  store::Blob good = styledSample().encode();
  Composite c;
  EXPECT_TRUE(Composite::decode(good, c));
  for (size_t cut : {size_t(0), size_t(3), size_t(9), good.size() - 1}) {
    store::Blob shorter(good.begin(), good.begin() + long(cut));
    EXPECT_FALSE(Composite::decode(shorter, c)) << cut;
  }
  good.push_back(0);
  EXPECT_FALSE(Composite::decode(good, c));
}

TEST_F(RichTextTest, PlainTextAndHtmlFilesRoundTrip) {
  const std::string textFile = tempPath("in.txt");
  writeFile(textFile, "first line\r\n\r\nthird line\n");
  HTCOMPHANDLE comp = 0;
  ASSERT_EQ(HTCompositeImport(doc_, "Body", textFile.c_str(), "TEXT", 0, &comp), HTSUCCESS);
  EXPECT_EQ(listText(comp), "first line\n\nthird line");
  const std::string outText = tempPath("out.txt");
  ASSERT_EQ(HTCompositeExport(comp, outText.c_str(), "text"), HTSUCCESS);
  EXPECT_EQ(readFile(outText), "first line\n\nthird line\n");
  HTCompositeClose(comp, 0);

  // HTML out and in again through files keeps every style.
  const Composite sample = styledSample();
  const store::Blob value = sample.encode();
  ASSERT_EQ(HTItemPut(doc_, "Rich", HTTYPE_COMPOSITE, HTUINT(value.size()), HTTYPE_COMPOSITE, value.data(), 0), HTSUCCESS);
  ASSERT_EQ(HTCompositeOpen(doc_, "Rich", &comp), HTSUCCESS);
  const std::string html = tempPath("out.htm");
  ASSERT_EQ(HTCompositeExport(comp, html.c_str(), ""), HTSUCCESS);  // format from the extension
  HTCOMPHANDLE imported = 0;
  ASSERT_EQ(HTCompositeImport(doc_, "Copy", html.c_str(), "HTML", 0, &imported), HTSUCCESS);
  save(doc_);
  HTDOCHANDLE again = open(idOf(doc_));
  HTDocumentClose(doc_, 0);
  doc_ = again;
  EXPECT_TRUE(stored("Copy") == sample);
  EXPECT_EQ(HTCompositeClose(comp, 0), HTFAIL_INVALID_HANDLE);  // closed with its document
}

TEST_F(RichTextTest, FilesThatCannotBeReadOrWrittenAreNamedInTheMessage) {
  putText(doc_, "Body", "some text", HTTYPE_COMPOSITE);
  HTCOMPHANDLE comp = 0;
  ASSERT_EQ(HTCompositeOpen(doc_, "Body", &comp), HTSUCCESS);
  const std::string bad = tempPath("no/such/dir/out.txt");
  EXPECT_EQ(HTCompositeExport(comp, bad.c_str(), "TEXT"), HTFAIL_IO_ERROR);
  EXPECT_NE(message(HTFAIL_IO_ERROR).find(bad), std::string::npos) << message(HTFAIL_IO_ERROR);
  const std::string missing = tempPath("missing.html");
  HTCOMPHANDLE other = 0;
  EXPECT_EQ(HTCompositeImport(doc_, "Body", missing.c_str(), "HTML", 0, &other), HTFAIL_IO_ERROR);
  EXPECT_NE(message(HTFAIL_IO_ERROR).find(missing), std::string::npos);
  EXPECT_EQ(HTCompositeImport(doc_, "Body", dataDir_.c_str(), "HTML", 0, &other), HTFAIL_IO_ERROR);
  EXPECT_EQ(HTCompositeExport(comp, tempPath("x.doc").c_str(), "Word"), HTFAIL_BAD_FORMAT);
  EXPECT_EQ(HTCompositeExport(comp, tempPath("x.doc").c_str(), ""), HTFAIL_BAD_FORMAT);
  EXPECT_EQ(listText(comp), "some text");  // unchanged by the failures
}

TEST_F(RichTextTest, FormatListsNameExactlyWhatImportAndExportAccept) {
  for (auto list : {HTCompositeListImport, HTCompositeListExport}) {
    char name[151], ext[153];
    ASSERT_EQ(list(HTLIST_FIRST, name, ext), HTSUCCESS);
    EXPECT_STREQ(name, "TEXT");
    EXPECT_STREQ(ext, "txt");
    ASSERT_EQ(list(HTLIST_NEXT, name, ext), HTSUCCESS);
    EXPECT_STREQ(name, "HTML");
    EXPECT_STREQ(ext, "html,htm");
    ASSERT_EQ(list(HTLIST_CURRENT, name, ext), HTSUCCESS);
    EXPECT_STREQ(name, "HTML");
    EXPECT_EQ(list(HTLIST_NEXT, name, ext), HTFAIL_END_OF_LIST);
    ASSERT_EQ(list(HTLIST_REFRESH, name, nullptr), HTSUCCESS);
    EXPECT_STREQ(name, "TEXT");
  }
}

TEST_F(RichTextTest, RecordCallsEditTheItemAndTheEditIsSaved) {
  HTCOMPHANDLE comp = 0;
  ASSERT_EQ(HTCompositeCreate(doc_, "Body", &comp), HTSUCCESS);
  EXPECT_EQ(HTCDRecordGetCount(comp), 0u);
  const store::Blob para = doc::paragraphData({});
  TextStyle bold;
  bold.style = HTFONTSTYLE_BOLD;
  HTUINT font = 99;
  ASSERT_EQ(HTCompositePutFont(comp, "Helvetica", &font), HTSUCCESS);
  EXPECT_EQ(font, 0u);
  bold.font = font;
  const store::Blob run = doc::textData("hello", bold);
  ASSERT_EQ(HTCDRecordInsert(comp, 0, HTCD_PARAGRAPH, HTUINT(para.size()), para.data()), HTSUCCESS);
  ASSERT_EQ(HTCDRecordInsert(comp, 0, HTCD_TEXT, HTUINT(run.size()), run.data()), HTSUCCESS);
  const store::Blob first = doc::textData("say: ", {});
  ASSERT_EQ(HTCDRecordInsert(comp, 2, HTCD_TEXT, HTUINT(first.size()), first.data()), HTSUCCESS);
  EXPECT_EQ(listText(comp), "say: hello");

  const store::Blob badFont = doc::textData("x", TextStyle{0, 0, doc::kDefaultColor, 5});
  EXPECT_EQ(HTCDRecordInsert(comp, 0, HTCD_TEXT, HTUINT(badFont.size()), badFont.data()), HTFAIL_INVALID_ARGUMENT);
  const uint8_t shortText[3] = {0, 0, 0};
  EXPECT_EQ(HTCDRecordInsert(comp, 0, HTCD_TEXT, 3, shortText), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTCDRecordInsert(comp, 9, HTCD_PARAGRAPH, HTUINT(para.size()), para.data()), HTFAIL_ENTRY_NOT_FOUND);

  HTUINT index = 0;
  HTINT type = 0;
  std::vector<HTINT> types;
  for (HTSTATUS s = HTCDRecordList(comp, HTLIST_FIRST, &index, &type); s == HTSUCCESS;
       s = HTCDRecordList(comp, HTLIST_NEXT, &index, &type))
    types.push_back(type);
  EXPECT_EQ(types, (std::vector<HTINT>{HTCD_PARAGRAPH, HTCD_TEXT, HTCD_TEXT}));
  HTUINT length = 0;
  ASSERT_EQ(HTCDRecordGetInfo(comp, 3, &type, &length), HTSUCCESS);
  EXPECT_EQ(length, run.size());
  store::Blob fetched(length);
  EXPECT_EQ(HTCDRecordFetch(comp, 3, length - 1, fetched.data()), HTFAIL_BUFFER_TOO_SMALL);
  ASSERT_EQ(HTCDRecordFetch(comp, 3, length, fetched.data()), HTSUCCESS);
  EXPECT_EQ(fetched, run);
  char face[32];
  ASSERT_EQ(HTCompositeGetFont(comp, 0, sizeof face, face), HTSUCCESS);
  EXPECT_STREQ(face, "Helvetica");

  const store::Blob changed = doc::textData("world", bold);
  ASSERT_EQ(HTCDRecordUpdate(comp, 3, HTUINT(changed.size()), changed.data()), HTSUCCESS);
  ASSERT_EQ(HTCDRecordDelete(comp, 2), HTSUCCESS);
  EXPECT_EQ(HTCDRecordDelete(comp, 3), HTFAIL_ENTRY_NOT_FOUND);
  HTUINT dirty = 0;
  ASSERT_EQ(HTCompositeGetProperty(comp, HTCOMPOSITE_IS_DIRTY, &dirty), HTSUCCESS);
  EXPECT_EQ(dirty, 1u);
  save(doc_);
  HTDOCHANDLE again = open(idOf(doc_));
  HTCOMPHANDLE reopened = 0;
  ASSERT_EQ(HTCompositeOpen(again, "body", &reopened), HTSUCCESS);
  EXPECT_EQ(listText(reopened), "world");
  char item[80];
  ASSERT_EQ(HTCompositeGetProperty(reopened, HTCOMPOSITE_ITEMNAME, item), HTSUCCESS);
  EXPECT_STREQ(item, "Body");
  HTDocumentClose(again, 0);
  EXPECT_EQ(HTCDRecordGetCount(reopened), 0u);  // its document is closed
}

TEST_F(RichTextTest, ConvertDocumentRendersEveryVisibleItem) {
  putText(doc_, "Subject", "Quarterly");
  const double n = 42;
  ASSERT_EQ(HTItemPut(doc_, "Amount", HTTYPE_NUMBER, 8, HTTYPE_NUMBER, &n, 0), HTSUCCESS);
  putText(doc_, "$Hidden", "design");
  putText(doc_, "Body", "para one\npara two", HTTYPE_COMPOSITE);
  HTCOMPHANDLE comp = 0;
  ASSERT_EQ(HTCompositeConvertDocument(doc_, doc_, 0, &comp), HTSUCCESS);
  EXPECT_EQ(listText(comp), "Subject: Quarterly\nAmount: 42\nBody:\npara one\npara two");
  EXPECT_EQ(HTItemGetCount(doc_), 4u);  // nothing was written into the document
  const std::string out = tempPath("doc.html");
  ASSERT_EQ(HTCompositeExport(comp, out.c_str(), "HTML"), HTSUCCESS);
  EXPECT_NE(readFile(out).find("<b>Subject: </b>Quarterly"), std::string::npos) << readFile(out);
  ASSERT_EQ(HTCompositeClose(comp, 0), HTSUCCESS);
  EXPECT_EQ(HTCompositeClose(comp, 0), HTFAIL_INVALID_HANDLE);
}

}  // namespace
}  // namespace quire::engine::test
