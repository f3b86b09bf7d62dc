// Shared by the document-layer tests: a database per test and short helpers over the item
// calls, so each test reads as the behaviour it checks.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EngineFixture.h"
#include "engine/api/EntryPoints.h"

namespace quire::engine::test {

class DocTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    db_ = createAndOpen("docs.nsf");
    ASSERT_NE(db_, 0u);
  }

  HTDOCHANDLE create(HTID form = 0) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentCreate(db_, form, &doc), HTSUCCESS) << message(HTFAIL_ACCESS_DENIED);
    return doc;
  }

  HTDOCHANDLE open(HTID id, HTDBHANDLE db = 0) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentOpen(db ? db : db_, id, 0, &doc), HTSUCCESS);
    return doc;
  }

  static HTID idOf(HTDOCHANDLE doc) {
    HTID id = 0;
    EXPECT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id), HTSUCCESS);
    return id;
  }

  static void putText(HTDOCHANDLE doc, const char* name, const std::string& value, HTINT type = HTTYPE_TEXT,
                      HTUINT flags = 0) {
    EXPECT_EQ(HTItemPut(doc, name, type, 0, HTTYPE_TEXT, value.c_str(), flags), HTSUCCESS) << name;
  }

  // The item as text the way the library reads it: length, then a buffer of length + 1.
  static std::string text(HTDOCHANDLE doc, const char* name) {
    HTUINT length = 0;
    HTINT want = HTTYPE_TEXT;
    if (HTItemGetLength(doc, name, nullptr, &want, &length) != HTSUCCESS) return "<missing>";
    std::vector<char> buf(length + 1, '#');
    HTUINT room = length + 1;
    HTINT type = 0;
    EXPECT_EQ(HTItemFetch(doc, name, &type, &room, &want, buf.data()), HTSUCCESS) << name;
    EXPECT_EQ(room, length);
    EXPECT_EQ(buf[length], '\0');
    return std::string(buf.data(), length);
  }

  static std::vector<std::string> entries(HTDOCHANDLE doc, const char* name) {
    const void* list = nullptr;
    HTINT type = HTTYPE_TEXT_LIST, want = HTTYPE_TEXT_LIST;
    HTUINT zero = 0;
    EXPECT_EQ(HTItemGetPointer(doc, name, &type, &zero, &want, &list), HTSUCCESS) << name;
    std::vector<std::string> out;
    for (HTUINT i = 1; i <= HTTextListGetCount(list); ++i) {
      std::vector<char> buf(HTTextListGetLength(list, i) + 1);
      EXPECT_NE(HTTextListFetch(list, i, HTUINT(buf.size()), buf.data()), 0u);
      out.emplace_back(buf.data());
    }
    return out;
  }

  static void save(HTDOCHANDLE doc) { ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS) << message(HTFAIL_ACCESS_DENIED); }

  std::string tempPath(const std::string& name) const { return (dataDir_ / name).string(); }

  static void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  HTDBHANDLE db_ = 0;
};

// A DocTest with one new, unsaved document open as doc_ for the test's length.
class OpenDocTest : public DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    if (IsSkipped()) return;
    doc_ = create();
  }
  void TearDown() override {
    HTDocumentClose(doc_, 0);
    DocTest::TearDown();
  }

  HTDOCHANDLE doc_ = 0;
};

}  // namespace quire::engine::test
