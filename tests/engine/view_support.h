// Shared by the view tests: views made through HTViewCreate, documents saved through the
// document layer (so the view observer runs as it does for HTDocumentSave), and rows read
// back through the index entry points as "position kind cell|cell|...".
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/store/Locator.h"
#include "engine/view/ViewCursor.h"
#include "index_support.h"

namespace quire::engine::test {

struct Column {
  const char* title = "";
  const char* item = "";
  const char* formula = "";
  HTINT sort = HTCOLSORT_NONE;
  HTINT total = HTCOLTOTAL_NONE;
  HTUINT flags = 0;
};

class ViewTest : public BackendTestOf<IndexTest> {
 protected:
  void SetUp() override {
    BackendTestOf<IndexTest>::SetUp();
    if (IsSkipped()) return;
    db_ = createAndOpen("views.nsf", "Views");
  }
  void TearDown() override {
    for (HTINDEXHANDLE index : open_) HTIndexClose(index);
    if (db_) HTDatabaseClose(db_, 0);
    BackendTestOf<IndexTest>::TearDown();
  }

  static HTSTATUS createView(HTDBHANDLE db, const char* name, const char* selection, const std::vector<Column>& columns,
                             HTUINT flags, HTID& id, const char* alias = nullptr) {
    std::vector<HTCOLUMNSPEC> specs;
    for (const Column& c : columns) {
      HTCOLUMNSPEC s{};
      s.title = c.title;
      s.itemName = c.item;
      s.formula = c.formula;
      s.sort = c.sort;
      s.total = c.total;
      s.flags = c.flags;
      s.width = 80;
      specs.push_back(s);
    }
    HTVIEWSPEC spec{};
    spec.name = name;
    spec.alias = alias;
    spec.selection = selection;
    spec.flags = flags;
    spec.backgroundColor = 1;
    spec.alternateColor = 1;
    spec.columnCount = HTUINT(specs.size());
    spec.columns = specs.data();
    return HTViewCreate(db, &spec, &id);
  }

  HTID view(const char* name, const char* selection, const std::vector<Column>& columns, HTUINT flags = 0) {
    HTID id = 0;
    EXPECT_EQ(createView(db_, name, selection, columns, flags, id), HTSUCCESS) << message(HTFAIL_FORMULA_SYNTAX);
    return id;
  }

  HTINDEXHANDLE open(HTID viewId, HTDBHANDLE db = 0) {
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db ? db : db_, &index), HTSUCCESS);
    EXPECT_EQ(HTIndexOpenViewFolder(index, 0, viewId, 0), HTSUCCESS);
    open_.push_back(index);
    return index;
  }

  HTID doc(const std::string& category, const std::string& subject, double amount) {
    return addDocument(db_, [&](doc::Note& n) {
      n.setText("Form", "Item");
      n.setText("Category", category);
      n.setText("Subject", subject);
      n.setNumber("Amount", amount);
    });
  }

  HTID response(HTID parent, const std::string& subject, double amount = 0) {
    UNID unid{};
    {
      auto d = database(db_);
      auto lock = d->lock();
      unid = store::readNote(d->conn(), parent)->unid;
    }
    return addDocument(db_, [&](doc::Note& n) {
      n.setText("Form", "Reply");
      n.setText("Subject", subject);
      n.setNumber("Amount", amount);
      n.header.parent = unid;
    });
  }

  static std::string cell(HTINDEXHANDLE index, HTUINT column) {
    char buffer[256] = {};
    HTINT type = HTTYPE_TEXT;
    HTUINT length = 255;
    if (HTViewcellFetch(index, column, &type, &length, buffer) != HTSUCCESS) return "<error>";
    return std::string(buffer, length);
  }

  static std::string position(HTINDEXHANDLE index) {
    char buffer[256] = {};
    if (HTIndexGetViewPosition(index, 255, buffer) != HTSUCCESS) return "<error>";
    return buffer;
  }

  // The current row: its position text, its kind (C category, T total, D document) and its
  // cells joined by '|'.
  static std::string row(HTINDEXHANDLE index, HTID note, HTUINT columns) {
    std::string out = position(index) + " ";
    out += note == HTNOTEID_CATEGORY ? "C " : note == HTNOTEID_TOTAL ? "T " : "D ";
    for (HTUINT c = 1; c <= columns; ++c) out += (c > 1 ? "|" : "") + cell(index, c);
    return out;
  }

  // Rows met by repeating one navigation until it fails.
  static std::vector<std::string> rows(HTINDEXHANDLE index, HTINT nav, HTUINT flags, HTUINT columns) {
    std::vector<std::string> out;
    HTID note = 0;
    HTUINT entry = 0;
    while (HTIndexNavigate(index, nav, flags, &note, &entry) == HTSUCCESS) out.push_back(row(index, note, columns));
    return out;
  }

  HTDBHANDLE db_ = 0;
  std::vector<HTINDEXHANDLE> open_;
};

}  // namespace quire::engine::test
