#include "objects/QRAttch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "objects/Quiredoc.h"
#include "tests/objects/DocEngineFixture.h"

namespace {


class QRAttchEngineTest : public docdouble::DocEngineTest {};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST_F(QRAttchEngineTest, ABinaryFileComesBackByteForByteAndASecondRemoveFails) {
  const std::filesystem::path directory = quiretest::DataDir();
  const auto source = directory / "Blob.BIN";
  std::string bytes;
  for (int round = 0; round < 300; ++round) {
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>((b * 31 + round) & 0xFF);
  }
  std::ofstream(source, std::ios::binary) << bytes;

  HTID id = 0;
  {
    auto doc = TQuireDocument::CreateNewDoc(db, "");
    ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
    doc->AppendTextItem("Subject", "with attachment");
    doc->AttachFile(source.string());
    ASSERT_EQ(doc->LastError, 0u) << doc->GetNotesErrorString();
    EXPECT_EQ(doc->AttachCount, 0);  // a snapshot: listed by a document made later
    doc->Save();
    ASSERT_EQ(doc->LastError, 0u) << doc->GetNotesErrorString();
    id = doc->DocID;
  }
  TQuireDocument doc(db, id);
  ASSERT_TRUE(doc.Loaded) << doc.GetNotesErrorString();
  ASSERT_EQ(doc.AttachCount, 1);
  TQuireAttachment* attachment = doc.GetAttachment("blob.bin");
  ASSERT_NE(attachment, nullptr);
  EXPECT_EQ(attachment, doc.GetAttach(0));
  EXPECT_EQ(attachment->Name, "Blob.BIN");
  EXPECT_EQ(attachment->ListValue2, bytes.size());

  const auto target = directory / "extracted.bin";
  attachment->ExtractFile(target.string());
  ASSERT_EQ(attachment->LastError, 0u) << attachment->GetNotesErrorString();
  EXPECT_TRUE(ReadFile(target) == bytes);

  attachment->Remove();
  EXPECT_EQ(attachment->LastError, 0u) << attachment->GetNotesErrorString();
  attachment->Remove();
  EXPECT_NE(attachment->LastError, 0u);
  EXPECT_NE(attachment->GetNotesErrorString(), "");
}

}  // namespace
