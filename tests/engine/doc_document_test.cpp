// Documents through the C API: identity across saves, sequence numbers, deletion stubs,
// properties, forms' default items, concurrent handles, and the access rules.
#include <cstring>

#include "doc_support.h"
#include "engine/db/Database.h"
#include "engine/doc/Document.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Properties.h"

namespace quire::engine::test {
namespace {

using DocumentTest = DocTest;

UNID unidOf(HTDOCHANDLE doc) {
  UNID u{};
  EXPECT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_UNID, &u), HTSUCCESS);
  return u;
}

bool operator==(const UNID& a, const UNID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::optional<store::NoteHeader> header(HTDBHANDLE db, HTID id) {
  std::shared_ptr<db::DbHandle> h;
  EXPECT_EQ(db::lookup(db, h), HTSUCCESS);
  auto lock = h->database()->lock();
  return store::readNote(h->database()->conn(), id);
}

TEST_P(DocumentTest, UnidIsAssignedAtCreationAndKeptAcrossSavesWhileSequenceGrows) {
  HTDOCHANDLE doc = create();
  const UNID before = unidOf(doc);
  EXPECT_FALSE(before == UNID{});
  putText(doc, "Subject", "first");
  save(doc);
  const HTID id = idOf(doc);
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(unidOf(doc) == before);
  EXPECT_EQ(header(db_, id)->sequence, 1);
  putText(doc, "Subject", "second");
  save(doc);
  save(doc);
  EXPECT_EQ(header(db_, id)->sequence, 3);
  ASSERT_EQ(HTDocumentClose(doc, 0x20000), HTSUCCESS);

  EXPECT_EQ(HTDocumentLocateByUnid(db_, &before), id);
  HTDOCHANDLE again = open(id);
  EXPECT_TRUE(unidOf(again) == before);
  EXPECT_EQ(text(again, "Subject"), "second");
  HTDATETIME created{}, modified{};
  ASSERT_EQ(HTDocumentGetProperty(again, HTDOCUMENT_CREATED, &created), HTSUCCESS);
  ASSERT_EQ(HTDocumentGetProperty(again, HTDOCUMENT_LAST_MODIFIED, &modified), HTSUCCESS);
  EXPECT_LE(HTDatetimeCompare(&created, &modified), 0);
  HTDocumentClose(again, 0);
}

TEST_P(DocumentTest, CloseWithoutSaveDiscardsChanges) {
  HTDOCHANDLE doc = create();
  putText(doc, "Subject", "kept");
  save(doc);
  const HTID id = idOf(doc);
  putText(doc, "Subject", "discarded");
  HTUINT dirty = 0;
  ASSERT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_IS_DIRTY, &dirty), HTSUCCESS);
  EXPECT_EQ(dirty, 1u);
  HTDocumentClose(doc, 0);
  EXPECT_EQ(HTItemGetCount(doc), 0u);  // stale handle
  HTDOCHANDLE again = open(id);
  EXPECT_EQ(text(again, "Subject"), "kept");
  HTDocumentClose(again, 0);

  HTDOCHANDLE unsaved = create();
  putText(unsaved, "Subject", "never");
  const UNID u = unidOf(unsaved);
  HTDocumentClose(unsaved, 0);
  EXPECT_EQ(HTDocumentLocateByUnid(db_, &u), 0u);
}

TEST_P(DocumentTest, DeleteLeavesAStubWithUnidAndSequence) {
  HTDOCHANDLE doc = create();
  putText(doc, "Subject", "gone soon");
  save(doc);
  const HTID id = idOf(doc);
  const UNID u = unidOf(doc);
  HTDocumentClose(doc, 0);

  ASSERT_EQ(HTDocumentDelete(db_, id, 0), HTSUCCESS);
  auto stub = header(db_, id);
  ASSERT_TRUE(stub.has_value());
  EXPECT_TRUE(stub->deleted);
  EXPECT_TRUE(stub->unid == u);
  EXPECT_EQ(stub->sequence, 2);
  EXPECT_EQ(HTDocumentLocateByUnid(db_, &u), 0u);
  HTDOCHANDLE none = 0;
  EXPECT_EQ(HTDocumentOpen(db_, id, 0, &none), HTFAIL_NOTE_DELETED);
  EXPECT_EQ(HTDocumentDelete(db_, id, 0), HTFAIL_NOTE_DELETED);
  EXPECT_EQ(HTDocumentDelete(db_, 987654, 0), HTFAIL_NOTE_NOT_FOUND);
  EXPECT_EQ(HTDocumentOpen(db_, 987654, 0, &none), HTFAIL_NOTE_NOT_FOUND);
  EXPECT_EQ(none, 0u);
}

TEST_P(DocumentTest, TwoHandlesOnOneDocumentDoNotLoseAnUpdate) {
  HTDOCHANDLE doc = create();
  putText(doc, "Subject", "base");
  save(doc);
  const HTID id = idOf(doc);
  HTDocumentClose(doc, 0);

  HTDOCHANDLE a = open(id), b = open(id);
  ASSERT_NE(a, b);
  putText(a, "Subject", "from a");
  EXPECT_EQ(text(b, "Subject"), "base");  // independent copies
  save(a);
  putText(b, "Subject", "from b");
  EXPECT_EQ(HTDocumentSave(b, 0), HTFAIL_CONFLICT);
  EXPECT_NE(message(HTFAIL_CONFLICT).find("changed by someone else"), std::string::npos);
  HTDocumentClose(b, 0);
  HTDOCHANDLE c = open(id);
  EXPECT_EQ(text(c, "Subject"), "from a");
  save(c);  // the reopened copy saves normally
  HTDocumentClose(a, 0);
  HTDocumentClose(c, 0);
}

TEST_P(DocumentTest, ParentUnidMakesAResponse) {
  HTDOCHANDLE parent = create();
  save(parent);
  const UNID p = unidOf(parent);
  HTDOCHANDLE child = create();
  UNID got{};
  EXPECT_EQ(HTDocumentGetProperty(child, HTDOCUMENT_PARENT_UNID, &got), HTFAIL_NOTE_NOT_FOUND);
  ASSERT_EQ(HTDocumentSetProperty(child, HTDOCUMENT_PARENT_UNID, &p), HTSUCCESS);
  save(child);
  const HTID id = idOf(child);
  HTDocumentClose(child, 0);
  HTDOCHANDLE again = open(id);
  HTUINT isResponse = 0;
  ASSERT_EQ(HTDocumentGetProperty(again, HTDOCUMENT_IS_RESPONSE, &isResponse), HTSUCCESS);
  EXPECT_EQ(isResponse, 1u);
  ASSERT_EQ(HTDocumentGetProperty(again, HTDOCUMENT_PARENT_UNID, &got), HTSUCCESS);
  EXPECT_TRUE(got == p);
  const UNID self = unidOf(again);
  EXPECT_EQ(HTDocumentSetProperty(again, HTDOCUMENT_PARENT_UNID, &self), HTFAIL_INVALID_ARGUMENT);
  HTDocumentClose(again, 0);
  HTDocumentClose(parent, 0);
}

TEST_P(DocumentTest, StrictBindReadsOnlyTheFirstByteAndUnknownPropertiesFail) {
  HTDOCHANDLE doc = create();
  // A one-byte Boolean at the end of a page would fault if four bytes were read; here the
  // bytes after it are garbage that must not count.
  const uint8_t on[4] = {1, 0xAA, 0xBB, 0xCC};
  const uint8_t off[4] = {0, 0xAA, 0xBB, 0xCC};
  HTUINT value = 7;
  ASSERT_EQ(HTDocumentSetProperty(doc, HTDOCUMENT_STRICT_BIND, on), HTSUCCESS);
  ASSERT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_STRICT_BIND, &value), HTSUCCESS);
  EXPECT_EQ(value, 1u);
  ASSERT_EQ(HTDocumentSetProperty(doc, HTDOCUMENT_STRICT_BIND, off), HTSUCCESS);
  ASSERT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_STRICT_BIND, &value), HTSUCCESS);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(HTDocumentGetProperty(doc, 99, &value), HTFAIL_UNKNOWN_PROPERTY);
  EXPECT_EQ(HTDocumentSetProperty(doc, HTDOCUMENT_DOCID, &value), HTFAIL_UNKNOWN_PROPERTY);
  EXPECT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_UNID, nullptr), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTDocumentGetProperty(0, HTDOCUMENT_UNID, &value), HTFAIL_INVALID_HANDLE);
  HTDocumentClose(doc, 0);
}

TEST_P(DocumentTest, FormDefaultsGoIntoNewDocumentsButDesignItemsStayOnTheForm) {
  const double amount = 12.5;
  const HTFORMITEM items[] = {
      {"Status", HTTYPE_TEXT, 0, "Open", 0},
      {"Amount", HTTYPE_NUMBER, 0, &amount, 8},
      {"$Body", HTTYPE_TEXT, 0, "layout", 0},
  };
  HTID form = 0;
  ASSERT_EQ(HTFormCreate(db_, "Order|O", 3, items, &form), HTSUCCESS);
  HTID duplicate = 0;
  EXPECT_EQ(HTFormCreate(db_, "order", 0, nullptr, &duplicate), HTFAIL_NAME_EXISTS);
  EXPECT_EQ(HTFormLocateByName(db_, "O"), form);
  EXPECT_EQ(HTFieldGetCount(db_, form), 2u);
  HTINT type = 0;
  HTUINT flags = 0;
  EXPECT_EQ(HTFieldFetch(db_, form, "amount", &type, &flags), HTSUCCESS);
  EXPECT_EQ(type, HTTYPE_NUMBER);
  EXPECT_EQ(HTFieldFetch(db_, form, "$Body", &type, &flags), HTFAIL_ITEM_NOT_FOUND);
  HTITEMLISTREC rec{};
  std::vector<std::string> fields;
  for (HTSTATUS s = HTFieldList(db_, form, HTLIST_FIRST, &rec); s == HTSUCCESS;
       s = HTFieldList(db_, form, HTLIST_NEXT, &rec))
    fields.emplace_back(rec.name);
  EXPECT_EQ(fields, (std::vector<std::string>{"Status", "Amount"}));

  HTDOCHANDLE doc = create(form);
  EXPECT_EQ(HTItemGetCount(doc), 3u);  // Form, Status, Amount
  EXPECT_EQ(text(doc, "Form"), "Order");
  EXPECT_EQ(text(doc, "Status"), "Open");
  EXPECT_EQ(text(doc, "Amount"), "12.5");
  EXPECT_EQ(text(doc, "$Body"), "<missing>");
  char formName[HT_TITLE_CAPACITY];
  ASSERT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_FORM, formName), HTSUCCESS);
  EXPECT_STREQ(formName, "Order");
  HTDocumentClose(doc, 0);

  HTDOCHANDLE bad = 0;
  EXPECT_EQ(HTDocumentCreate(db_, 424242, &bad), HTFAIL_NOTE_NOT_FOUND);

  // The form itself opens by its ID (as the send-mail path opens "Person").
  HTDOCHANDLE formDoc = open(form);
  EXPECT_EQ(text(formDoc, "$Body"), "layout");
  HTDocumentClose(formDoc, 0);
}

TEST_P(DocumentTest, CopyMakesANewDocumentInAnotherDatabase) {
  HTDBHANDLE other = createAndOpen("other.nsf");
  HTDOCHANDLE doc = create();
  putText(doc, "Subject", "travelling");
  save(doc);
  HTID copied = 0;
  ASSERT_EQ(HTDocumentCopy(doc, other, &copied), HTSUCCESS);
  HTDOCHANDLE copy = open(copied, other);
  EXPECT_EQ(text(copy, "Subject"), "travelling");
  EXPECT_FALSE(unidOf(copy) == unidOf(doc));
  HTDocumentClose(copy, 0);
  HTDocumentClose(doc, 0);
}

// ---- access --------------------------------------------------------------------------------

// Opening reads the document and the access rules in one read transaction; a change of the
// rules committed by another connection (another process, as far as the engine can tell)
// must still count from the very next open, in both directions.
TEST_F(DocumentTest, AccessRulesChangedElsewhereCountAtTheNextOpen) {
  HTACLENTRY none{};
  std::strncpy(none.name, "-Default-", sizeof none.name - 1);
  none.level = HTACLLEVEL_NO_ACCESS;
  ASSERT_EQ(HTACLUpdate(db_, &none, &none, HTACLUPDATE_LEVEL), HTSUCCESS);
  HTDOCHANDLE doc = create();
  save(doc);
  const HTID id = idOf(doc);
  HTDocumentClose(doc, 0);
  actAs("Someone Else");
  HTDocumentClose(open(id), 0);  // the ACL is not enforced yet: the local user owns the file

  auto other = store::openSqlite(dataDir_ / "docs.nsf", {});
  store::prop::set(*other, store::prop::kUniformAccess, int64_t(1));
  HTDOCHANDLE refused = 0;
  EXPECT_EQ(HTDocumentOpen(db_, id, 0, &refused), HTFAIL_ACCESS_DENIED);
  EXPECT_EQ(refused, 0u);
  store::prop::set(*other, store::prop::kUniformAccess, int64_t(0));
  HTDocumentClose(open(id), 0);
}

class DocumentAccessTest : public DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    if (IsSkipped()) return;
    addEntry("Ed Editor", HTACLLEVEL_EDITOR, 0);
    addEntry("Ann Author", HTACLLEVEL_AUTHOR, 0);
    addEntry("Bob Author", HTACLLEVEL_AUTHOR, 0);
    addEntry("Nora NoCreate", HTACLLEVEL_AUTHOR, HTACLFLAG_NO_CREATE_DOCS);
    addEntry("Rita Reader", HTACLLEVEL_READER, 0);
    ASSERT_EQ(HTACLSetACLProperty(db_, HTACL_UNIFORM_ACL, 1), HTSUCCESS);
  }

  void addEntry(const char* name, HTINT level, HTUINT flags) {
    HTACLENTRY e{};
    std::strncpy(e.name, name, sizeof e.name - 1);
    e.level = level;
    e.flags = flags;
    ASSERT_EQ(HTACLAdd(db_, &e), HTSUCCESS);
  }

  // A document saved by `user`, listing `authors` in an Authors item.
  HTID saveAs(const char* user, const char* authors, const char* readers = nullptr) {
    actAs(user);
    HTDOCHANDLE doc = create();
    putText(doc, "Subject", "by " + std::string(user));
    if (authors) putText(doc, "DocAuthors", authors, HTTYPE_TEXT_LIST, 0x0020);
    if (readers) putText(doc, "DocReaders", readers, HTTYPE_TEXT_LIST, 0x0400);
    EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS) << message(HTFAIL_ACCESS_DENIED);
    HTID id = idOf(doc);
    HTDocumentClose(doc, 0);
    return id;
  }

  HTSTATUS editAs(const char* user, HTID id) {
    actAs(user);
    HTDOCHANDLE doc = 0;
    if (HTSTATUS s = HTDocumentOpen(db_, id, 0, &doc)) return s;
    putText(doc, "Subject", "edited");
    HTSTATUS s = HTDocumentSave(doc, 0);
    HTDocumentClose(doc, 0);
    return s;
  }
};

TEST_P(DocumentAccessTest, AuthorsChangeOnlyDocumentsThatNameThem) {
  const HTID ann = saveAs("Ann Author", "Ann Author");
  EXPECT_EQ(editAs("Ann Author", ann), HTSUCCESS);
  EXPECT_EQ(editAs("Bob Author", ann), HTFAIL_ACCESS_DENIED);
  EXPECT_NE(message(HTFAIL_ACCESS_DENIED).find("Bob Author"), std::string::npos);
  EXPECT_EQ(editAs("Ed Editor", ann), HTSUCCESS);
  EXPECT_EQ(editAs("Rita Reader", ann), HTFAIL_ACCESS_DENIED);
  actAs("Bob Author");
  EXPECT_EQ(HTDocumentDelete(db_, ann, 0), HTFAIL_ACCESS_DENIED);
  actAs("Ann Author");
  EXPECT_EQ(HTDocumentDelete(db_, ann, 0), HTSUCCESS);
}

TEST_P(DocumentAccessTest, CreatingNeedsAuthorWithoutTheNoCreateFlag) {
  HTDOCHANDLE doc = 0;
  actAs("Rita Reader");
  EXPECT_EQ(HTDocumentCreate(db_, 0, &doc), HTFAIL_ACCESS_DENIED);
  actAs("Nora NoCreate");
  EXPECT_EQ(HTDocumentCreate(db_, 0, &doc), HTFAIL_ACCESS_DENIED);
  EXPECT_EQ(doc, 0u);
  actAs("Ann Author");
  EXPECT_EQ(HTDocumentCreate(db_, 0, &doc), HTSUCCESS);
  HTDocumentClose(doc, 0);
}

TEST_P(DocumentAccessTest, ReadersItemsHideDocumentsFromEveryoneElse) {
  const HTID secret = saveAs("Ed Editor", nullptr, "Ann Author");
  actAs("Ann Author");
  HTDOCHANDLE doc = 0;
  EXPECT_EQ(HTDocumentOpen(db_, secret, 0, &doc), HTSUCCESS);
  HTDocumentClose(doc, 0);
  actAs("Bob Author");
  EXPECT_EQ(HTDocumentOpen(db_, secret, 0, &doc), HTFAIL_ACCESS_DENIED);
  EXPECT_NE(message(HTFAIL_ACCESS_DENIED).find("Readers"), std::string::npos);
  std::shared_ptr<db::DbHandle> h;
  ASSERT_EQ(db::lookup(db_, h), HTSUCCESS);
  std::vector<store::StoredItem> items;
  {
    auto lock = h->database()->lock();
    items = store::readItems(h->database()->conn(), secret);
  }
  EXPECT_FALSE(doc::canRead(*h, items));
  actAs("Ann Author");
  EXPECT_TRUE(doc::canRead(*h, items));
}

// Its note ID would tell a user left out of its Readers that the document exists.
TEST_P(DocumentAccessTest, LocatingAHiddenDocumentByUnidAnswersAsForAMissingOne) {
  const HTID secret = saveAs("Ed Editor", nullptr, "Ann Author");
  actAs("Ann Author");
  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTDocumentOpen(db_, secret, 0, &doc), HTSUCCESS);
  UNID unid{};
  ASSERT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_UNID, &unid), HTSUCCESS);
  HTDocumentClose(doc, 0);
  EXPECT_EQ(HTDocumentLocateByUnid(db_, &unid), secret);
  actAs("Bob Author");
  EXPECT_EQ(HTDocumentLocateByUnid(db_, &unid), 0u);
  UNID missing = unid;
  missing.words[0] ^= 1;
  EXPECT_EQ(HTDocumentLocateByUnid(db_, &missing), 0u);
}


QUIRE_BOTH_BACKENDS(DocumentTest);

QUIRE_BOTH_BACKENDS(DocumentAccessTest);

}  // namespace
}  // namespace quire::engine::test
