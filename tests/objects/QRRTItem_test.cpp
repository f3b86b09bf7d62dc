#include "objects/QRRTItem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "objects/Quiredoc.h"
#include "tests/objects/DocApiDouble.h"
#include "tests/objects/DocEngineFixture.h"

namespace {

using docdouble::DocApiDouble;
using Lines = std::vector<std::string>;
constexpr HTDOCHANDLE kDoc = DocApiDouble::kDoc;


TEST(QRRTItemTest, ANewItemIsWrittenAsRichTextAndItsCompositeClosedWithIt) {
  DocApiDouble api;
  {
    TQuireRTItem item(kDoc, "Body", "text", true);
    EXPECT_EQ(item.CompositeHandle, 100u);
    EXPECT_EQ(item.RTLastError, 0u);
  }
  EXPECT_EQ(api.Log, (Lines{"HTItemPut(Body,2,0,2,text,0)", "HTItemPut(Body,7,0,2,text,0)", "HTCompositeOpen(Body)",
                            "HTCompositeClose(100,0)"}));
}

TEST(QRRTItemTest, AnImportReplacesTheCompositeAndAFailedOneKeepsIt) {
  DocApiDouble api;
  TQuireRTItem item(kDoc, "Body", "", false);
  ASSERT_EQ(item.CompositeHandle, 100u);
  api.Log.clear();
  EXPECT_TRUE(item.FileImport("/tmp/in.txt", "text"));
  EXPECT_EQ(item.CompositeHandle, 101u);
  EXPECT_EQ(api.Log, (Lines{"HTCompositeImport(Body,/tmp/in.txt,text)", "HTCompositeClose(100,0)"}));

  api.Log.clear();
  api.Fail["HTCompositeImport"] = HTFAIL_IO_ERROR;
  EXPECT_FALSE(item.FileImport("/tmp/in.txt", "text"));
  EXPECT_EQ(item.CompositeHandle, 101u);
  EXPECT_EQ(item.RTLastError, HTFAIL_IO_ERROR);
  EXPECT_TRUE(api.Calls("HTCompositeClose").empty());

  EXPECT_TRUE(item.FileExport("/tmp/out.txt", "text"));
  EXPECT_EQ(api.Calls("HTCompositeExport"), Lines{"HTCompositeExport(101,/tmp/out.txt,text)"});
}

TEST(QRRTItemTest, AFailedOpenLeavesNothingToCloseAndLongNamesAreRefused) {
  DocApiDouble api;
  api.Fail["HTCompositeOpen"] = HTFAIL_ITEM_NOT_FOUND;
  {
    TQuireRTItem item(kDoc, "Body", "", false);
    EXPECT_EQ(item.RTLastError, HTFAIL_ITEM_NOT_FOUND);
    EXPECT_EQ(item.CompositeHandle, 0u);
    api.Log.clear();
    EXPECT_FALSE(item.FileExport(std::string(256, 'f'), "text"));
    EXPECT_FALSE(item.FileImport("in", std::string(256, 't')));
    EXPECT_EQ(item.RTLastError, HTFAIL_TEXT_TOO_LONG);
    EXPECT_EQ(item.LastError, HTFAIL_ITEM_NOT_FOUND);  // the base reports its own calls
  }
  EXPECT_TRUE(api.Log.empty());
}

// ---- Through the real engine ------------------------------------------------------------

class QRRTItemEngineTest : public docdouble::DocEngineTest {
 protected:
  std::filesystem::path Scratch(const std::string& name) {
    return std::filesystem::path(quiretest::DataDir()) / name;
  }
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST_F(QRRTItemEngineTest, ImportAndExportGoThroughFiles) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  doc->AppendRTItem("Body", "rich text body");
  auto* body = dynamic_cast<TQuireRTItem*>(doc->GetItemByName("Body"));
  ASSERT_NE(body, nullptr);
  ASSERT_EQ(body->RTLastError, 0u) << body->GetNotesErrorString();
  EXPECT_EQ(body->GetText(), "rich text body");

  const auto out = Scratch("rt-export.txt");
  ASSERT_TRUE(body->FileExport(out.string(), "text")) << body->GetNotesErrorString();
  EXPECT_NE(ReadFile(out).find("rich text body"), std::string::npos);

  const auto in = Scratch("rt-import.txt");
  std::ofstream(in) << "imported line\n";
  ASSERT_TRUE(body->FileImport(in.string(), "text")) << body->GetNotesErrorString();
  EXPECT_NE(body->GetText().find("imported line"), std::string::npos);
  ASSERT_TRUE(body->FileExport(out.string(), "text")) << body->GetNotesErrorString();
  EXPECT_NE(ReadFile(out).find("imported line"), std::string::npos);

  // Replacing the item closes the old composite without writing it over the new value.
  doc->AppendRTItem("BODY", "replacement");
  EXPECT_EQ(doc->GetItemByName("Body")->GetText(), "replacement");
}

TEST_F(QRRTItemEngineTest, AnExportThatCannotBeWrittenFailsWithTheApisMessage) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  doc->AppendRTItem("Body", "x");
  auto* body = dynamic_cast<TQuireRTItem*>(doc->GetItemByName("Body"));
  ASSERT_NE(body, nullptr);
  EXPECT_FALSE(body->FileExport("/nonexistent-dir/sub/out.txt", "text"));
  EXPECT_NE(body->RTLastError, 0u);
  EXPECT_NE(body->GetNotesErrorString(), "");
  EXPECT_EQ(body->GetNotesErrorString(), GetNotesErrorText(body->RTLastError));
}

}  // namespace
