// Attachments: bytes kept exactly, stored with the save, names and dates, file errors named,
// deletion and copying.
#include <sys/stat.h>

#include "doc_support.h"

namespace quire::engine::test {
namespace {

class AttachmentTest : public DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    if (IsSkipped()) return;
    doc_ = create();
    binary_.resize(1024 * 1024 + 13);
    for (size_t i = 0; i < binary_.size(); ++i) binary_[i] = char((i * 131 + i / 256) & 0xFF);  // every byte value
    source_ = tempPath("photo.bin");
    writeFile(source_, binary_);
  }
  void TearDown() override {
    HTDocumentClose(doc_, 0);
    DocTest::TearDown();
  }

  static std::vector<HTATTACHREC> list(HTDOCHANDLE doc) {
    std::vector<HTATTACHREC> out;
    HTATTACHREC rec{};
    for (HTSTATUS s = HTAttachmentList(doc, HTLIST_FIRST, &rec); s == HTSUCCESS; s = HTAttachmentList(doc, HTLIST_NEXT, &rec))
      out.push_back(rec);
    return out;
  }

  HTDOCHANDLE doc_ = 0;
  std::string binary_;
  std::string source_;
};

TEST_P(AttachmentTest, BinaryFileIsKeptByteForByteWithNameSizeAndDates) {
  ASSERT_EQ(HTAttachmentAttach(doc_, source_.c_str(), nullptr, HTATTHOST_LOCAL, 0), HTSUCCESS);
  auto before = list(doc_);
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0].attachmentId, 0u);  // not stored until the save
  EXPECT_STREQ(before[0].name, "photo.bin");
  save(doc_);
  writeFile(source_, "changed afterwards");  // the attached bytes were taken at attach time
  HTDOCHANDLE again = open(idOf(doc_));
  HTUINT count = 0;
  ASSERT_EQ(HTDocumentGetProperty(again, HTDOCUMENT_ATTACH_COUNT, &count), HTSUCCESS);
  EXPECT_EQ(count, 1u);
  auto after = list(again);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after[0].attachmentId, 0u);
  EXPECT_EQ(after[0].size, binary_.size());
  EXPECT_STREQ(after[0].name, "photo.bin");
  HTDATETIME now{};
  HTDatetimeGetCurrent(&now);
  HTINT minutes = 99;
  ASSERT_EQ(HTDatetimeGetDiff(&now, &after[0].created, HTDTUNIT_MINUTE, &minutes), HTSUCCESS);
  EXPECT_LE(std::abs(minutes), 1);
  ASSERT_EQ(HTDatetimeGetDiff(&now, &after[0].modified, HTDTUNIT_MINUTE, &minutes), HTSUCCESS);
  EXPECT_LE(std::abs(minutes), 1);

  const std::string out = tempPath("extracted.bin");
  ASSERT_EQ(HTAttachmentExtract(again, "PHOTO.BIN", out.c_str()), HTSUCCESS);
  EXPECT_TRUE(readFile(out) == binary_);
  HTDocumentClose(again, 0);
}

TEST_P(AttachmentTest, UnsavedAttachmentsAreDroppedWithTheDocument) {
  save(doc_);
  const HTID id = idOf(doc_);
  ASSERT_EQ(HTAttachmentAttach(doc_, source_.c_str(), "kept.bin", HTATTHOST_LOCAL, 0), HTSUCCESS);
  // Extracting works before the save too.
  ASSERT_EQ(HTAttachmentExtract(doc_, "kept.bin", tempPath("early.bin").c_str()), HTSUCCESS);
  EXPECT_TRUE(readFile(tempPath("early.bin")) == binary_);
  HTDocumentClose(doc_, 0);
  doc_ = open(id);
  EXPECT_TRUE(list(doc_).empty());
}

TEST_P(AttachmentTest, NamesReplaceAndSecondDeleteFails) {
  ASSERT_EQ(HTAttachmentAttach(doc_, source_.c_str(), "a.bin", HTATTHOST_MSDOS, 0), HTSUCCESS);
  writeFile(tempPath("small.txt"), "small");
  ASSERT_EQ(HTAttachmentAttach(doc_, tempPath("small.txt").c_str(), "A.BIN", HTATTHOST_LOCAL, 0), HTSUCCESS);
  ASSERT_EQ(HTAttachmentAttach(doc_, tempPath("small.txt").c_str(), "", HTATTHOST_LOCAL, 0), HTSUCCESS);
  save(doc_);
  auto records = list(doc_);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_STREQ(records[0].name, "A.BIN");
  EXPECT_EQ(records[0].size, 5u);
  EXPECT_STREQ(records[1].name, "small.txt");

  ASSERT_EQ(HTAttachmentDelete(doc_, "a.bin"), HTSUCCESS);
  EXPECT_EQ(HTAttachmentDelete(doc_, "a.bin"), HTFAIL_ATTACH_NOT_FOUND);
  EXPECT_EQ(HTAttachmentDelete(doc_, ""), HTFAIL_ATTACH_NOT_FOUND);
  save(doc_);
  HTDOCHANDLE again = open(idOf(doc_));
  records = list(again);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].name, "small.txt");
  HTDocumentClose(again, 0);
  EXPECT_EQ(HTAttachmentAttach(doc_, source_.c_str(), nullptr, 99, 0), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTAttachmentAttach(doc_, source_.c_str(), std::string(256, 'x').c_str(), 0, 0), HTFAIL_TEXT_TOO_LONG);
}

TEST_P(AttachmentTest, FileErrorsNameTheFile) {
  const std::string missing = tempPath("missing.pdf");
  EXPECT_EQ(HTAttachmentAttach(doc_, missing.c_str(), nullptr, 0, 0), HTFAIL_IO_ERROR);
  EXPECT_NE(message(HTFAIL_IO_ERROR).find(missing), std::string::npos) << message(HTFAIL_IO_ERROR);
  EXPECT_EQ(HTAttachmentAttach(doc_, dataDir_.c_str(), "dir", 0, 0), HTFAIL_IO_ERROR);
  ASSERT_EQ(HTAttachmentAttach(doc_, source_.c_str(), nullptr, 0, 0), HTSUCCESS);
  const std::string unwritable = tempPath("nowhere/out.bin");
  EXPECT_EQ(HTAttachmentExtract(doc_, "photo.bin", unwritable.c_str()), HTFAIL_IO_ERROR);
  EXPECT_NE(message(HTFAIL_IO_ERROR).find(unwritable), std::string::npos) << message(HTFAIL_IO_ERROR);
  EXPECT_EQ(HTAttachmentExtract(doc_, "other.bin", tempPath("x").c_str()), HTFAIL_ATTACH_NOT_FOUND);
  EXPECT_EQ(list(doc_).size(), 1u);
}

TEST_P(AttachmentTest, CopyCarriesTheBytesIntoAnotherDatabase) {
  ASSERT_EQ(HTAttachmentAttach(doc_, source_.c_str(), nullptr, 0, 0), HTSUCCESS);
  save(doc_);
  HTDOCHANDLE stored = open(idOf(doc_));  // its attachment is only in the store
  HTDBHANDLE other = createAndOpen("other.nsf");
  HTDOCHANDLE target = 0;
  ASSERT_EQ(HTDocumentCreate(other, 0, &target), HTSUCCESS);
  ASSERT_EQ(HTAttachmentCopy(stored, "photo.bin", target), HTSUCCESS);
  EXPECT_EQ(HTAttachmentCopy(stored, "nothing", target), HTFAIL_ATTACH_NOT_FOUND);
  save(target);
  HTDOCHANDLE reopened = open(idOf(target), other);
  ASSERT_EQ(HTAttachmentExtract(reopened, "photo.bin", tempPath("copy.bin").c_str()), HTSUCCESS);
  EXPECT_TRUE(readFile(tempPath("copy.bin")) == binary_);
  // Saving again keeps the stored attachment (it is not written twice or lost).
  putText(reopened, "Subject", "touched");
  save(reopened);
  ASSERT_EQ(HTAttachmentExtract(reopened, "photo.bin", tempPath("copy2.bin").c_str()), HTSUCCESS);
  EXPECT_TRUE(readFile(tempPath("copy2.bin")) == binary_);
  for (HTDOCHANDLE d : {stored, target, reopened}) HTDocumentClose(d, 0);
}


QUIRE_BOTH_BACKENDS(AttachmentTest);

}  // namespace
}  // namespace quire::engine::test
