// Shared support for the view and folder tests against the real engine: a fresh database per
// test opened through a session, documents saved through the object model, and views made
// through the C API as a designer's tool would make them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "objects/QRDbase.h"
#include "objects/Quiredoc.h"
#include "tests/objects/TestEnv.h"

namespace viewtest {

inline HTCOLUMNSPEC Column(const char* title, const char* item, HTCOLUMNSORT sort,
                           HTCOLUMNTOTAL total = HTCOLTOTAL_NONE, HTUINT flags = 0, HTINT width = 80,
                           HTINT fontSize = 0) {
  HTCOLUMNSPEC c{};
  c.title = title;
  c.itemName = item;
  c.sort = sort;
  c.total = total;
  c.flags = flags;
  c.width = width;
  c.justify = HTCOLJUSTIFY_LEFT;
  c.fontFace = HTFONT_SWISS;
  c.fontSize = fontSize;
  return c;
}

class ViewEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HTInitOK) << "the engine did not initialise";
    path_ = quiretest::UniquePath("views");
    ASSERT_EQ(quiretest::CreateDatabase(path_, "Views"), 0u);
    database_ = session_.GetDatabase("", path_);
    ASSERT_NE(database_, nullptr) << session_.GetNotesErrorString();
  }
  void TearDown() override { TranslateOn = false; }

  HTID MakeView(const char* name, std::vector<HTCOLUMNSPEC> columns, HTUINT flags = 0,
                const char* selection = "") {
    HTVIEWSPEC spec{};
    spec.name = name;
    spec.selection = selection;
    spec.flags = flags;
    spec.backgroundColor = 1;
    spec.alternateColor = 1;
    spec.columnCount = static_cast<HTUINT>(columns.size());
    spec.columns = columns.data();
    HTID id = 0;
    const HTSTATUS status = HTAPI.HTViewCreate(database_->DbHandle, &spec, &id);
    EXPECT_EQ(status, 0u) << GetNotesErrorText(status);
    return id;
  }

  // Saves a document with the given subject, category and amount; `parent` (a note ID)
  // makes it a response. Answers the note ID.
  HTID Add(const std::string& subject, const std::string& category = "", double amount = 0, HTID parent = 0,
           const std::string& body = "") {
    auto doc = database_->CreateDocument("");
    EXPECT_NE(doc, nullptr);
    if (!doc) return 0;
    doc->AppendTextItem("Form", "Memo");
    doc->AppendTextItem("Subject", subject);
    if (!category.empty()) doc->AppendTextItem("Category", category);
    doc->AppendNumberItem("Amount", amount);
    if (!body.empty()) doc->AppendTextItem("Body", body);
    if (parent != 0) {
      TQuireDocument main(database_->DbHandle, parent);
      EXPECT_TRUE(main.Loaded);
      doc->SetParentUNID(main.GetUniversalID());
      EXPECT_EQ(doc->LastError, 0u) << doc->GetNotesErrorString();
    }
    doc->Save();
    EXPECT_EQ(doc->LastError, 0u) << doc->GetNotesErrorString();
    return doc->DocID;
  }

  static HTID IdOf(const std::unique_ptr<TQuireDocument>& doc) { return doc ? doc->DocID : 0; }

  TQuireSession session_;
  std::string path_;
  std::unique_ptr<TQuireDatabase> database_;
};

}  // namespace viewtest
