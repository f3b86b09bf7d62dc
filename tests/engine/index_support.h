// Shared by the index tests: documents written through the document layer's save path (so
// the note observers run as they do for HTDocumentSave), and walks over an index.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "EngineFixture.h"
#include "engine/db/Database.h"
#include "engine/doc/Note.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {

class IndexTest : public EngineTest {
 protected:
  using Fill = std::function<void(doc::Note&)>;

  static std::shared_ptr<db::Database> database(HTDBHANDLE db) {
    std::shared_ptr<db::DbHandle> h;
    EXPECT_EQ(db::lookup(db, h), HTSUCCESS);
    return h ? h->database() : nullptr;
  }

  static HTID addDocument(HTDBHANDLE db, const Fill& fill) {
    auto d = database(db);
    auto lock = d->lock();
    store::Transaction tx(d->conn());
    doc::Note note = doc::newNote();
    fill(note);
    doc::saveNote(*d, d->conn(), note);
    tx.commit();
    return note.header.id;
  }

  // A document of form `form` with Subject and Amount.
  static HTID addOrder(HTDBHANDLE db, const std::string& form, const std::string& subject, double amount) {
    return addDocument(db, [&](doc::Note& n) {
      n.setText("Form", form);
      n.setText("Subject", subject);
      n.setNumber("Amount", amount);
    });
  }

  static void updateDocument(HTDBHANDLE db, HTID id, const Fill& change) {
    auto d = database(db);
    auto lock = d->lock();
    store::Transaction tx(d->conn());
    auto note = doc::loadNote(*d, d->conn(), id);
    ASSERT_TRUE(note.has_value());
    change(*note);
    doc::saveNote(*d, d->conn(), *note);
    tx.commit();
  }

  static void deleteDocument(HTDBHANDLE db, HTID id) {
    auto d = database(db);
    auto lock = d->lock();
    store::Transaction tx(d->conn());
    doc::deleteNote(*d, d->conn(), id);
    tx.commit();
  }

  static std::string itemText(HTDBHANDLE db, HTID id, const char* item) {
    auto d = database(db);
    auto lock = d->lock();
    auto note = doc::loadNote(*d, d->conn(), id);
    return note ? note->text(item) : std::string();
  }

  static double number(HTDBHANDLE db, HTID id, const char* item) {
    auto d = database(db);
    auto lock = d->lock();
    auto note = doc::loadNote(*d, d->conn(), id);
    const store::StoredItem* i = note ? note->find(item) : nullptr;
    double value = -1;
    if (i == nullptr || !store::codec::decodeNumber(i->value, value)) return -1;
    return value;
  }

  // Every document from the current position on, walking with `flags` (0 forward, 2 back).
  static std::vector<HTID> walk(HTINDEXHANDLE index, HTUINT flags = 0) {
    std::vector<HTID> out;
    HTID note = 0;
    HTUINT entry = 0;
    while (HTIndexNavigate(index, HTNAV_NEXT, flags, &note, &entry) == HTSUCCESS) out.push_back(note);
    return out;
  }

  // A collection of the documents `formula` selects.
  static HTINDEXHANDLE search(HTDBHANDLE db, const char* formula) {
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db, &index), HTSUCCESS);
    HTUINT matched = 0;
    EXPECT_EQ(HTIndexSearch(index, formula, 0, &matched), HTSUCCESS) << message(HTFAIL_FORMULA_SYNTAX);
    return index;
  }
};

}  // namespace quire::engine::test
