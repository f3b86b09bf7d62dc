// The data control's document and item operations: creating, saving and deleting with their
// cancellable events, items by index and by name, attachments and rich text, columns and
// cells, and the neutral values when nothing is there to act on.
#include <QtCore/QTemporaryDir>
#include <fstream>

#include "objects/QRDoccol.h"
#include "objects/QRItem.h"
#include "tests/components/DataTestSupport.h"

using datatest::Column;
using datatest::EventLog;
using datatest::Fixture;

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

int DocumentsIn(Fixture& data) {
  auto all = data.database->AllDocuments();
  return all ? all->GetCount() : 0;
}

// A control on a fresh database holding memos named in `subjects`, open on the flat view
// "Flat" (or on the collection of all documents).
struct Opened {
  explicit Opened(std::vector<std::string> subjects, TQRRecordsetType type = dView) : data("documents") {
    for (const auto& subject : subjects) unids.push_back(data.Add(subject, "", double(unids.size() + 1)));
    data.MakeView("Flat", {Column("Subject", "Subject", HTCOLSORT_ASCEND), Column("Amount", "Amount", HTCOLSORT_NONE)},
                  HTVIEWFLAG_FLAT);
    control.SetDBName(Q(data.path));
    control.SetViewName("Flat");
    control.SetFormula("SELECT @All");
    control.SetRecordsetType(type);
    control.SetActive(true);
    if (!control.OpenDatabase() || !control.OpenRecordset()) qFatal("cannot open the record set");
  }
  Fixture data;
  std::vector<std::string> unids;
  TQuireDataCtrl control;
};

}  // namespace

class DataDocumentsTest : public QObject {
  Q_OBJECT

 private slots:
  void aCancelledSaveRaisesNothingAndSavesNothing() {
    Opened o({"A"});
    EventLog log(o.control);
    o.control.SetItemAsString("Subject", "changed");
    log.Clear();
    o.control.OnSave = [](QObject*, bool& cancel) {
      QVERIFY(!cancel);
      cancel = true;
    };
    o.control.SaveDoc();
    QVERIFY(log.events.empty());
    o.control.Refresh();
    QCOMPARE(o.control.GetItemAsString("Subject"), QString("A"));

    o.control.OnSave = nullptr;
    o.control.SetItemAsString("Subject", "changed");
    log.Clear();
    o.control.SaveDoc();
    QCOMPARE(log.events, std::vector<std::string>({"busy", "idle"}));
    o.control.Refresh();
    QCOMPARE(o.control.GetItemAsString("Subject"), QString("changed"));
  }

  // Without a handler the current document is deleted; a view then stands on the entry now
  // at the same position, a collection on its first document.
  void deletingTheCurrentDocument() {
    Opened view({"A", "B", "C"});
    view.control.MoveNext();  // B
    EventLog log(view.control);
    view.control.DeleteCurrDoc();
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].posn, 2);
    QCOMPARE(view.control.GetItemAsString("Subject"), QString("C"));
    QCOMPARE(DocumentsIn(view.data), 2);
    QVERIFY(log.Balanced());

    Opened collection({"A", "B", "C"}, dDocCollection);
    collection.control.MoveLast();
    bool askedWithCancelFalse = false;
    EventLog collectionLog(collection.control);
    collection.control.OnDelete = [&](QObject*, bool& cancel) { askedWithCancelFalse = !cancel; };
    collection.control.DeleteCurrDoc();
    QVERIFY(askedWithCancelFalse);
    QCOMPARE(DocumentsIn(collection.data), 2);
    QCOMPARE(collectionLog.moves.back().posn, 1);
    QVERIFY(collection.control.DocLoaded());
  }

  void aCancelledDeleteEndsIdleAndKeepsTheDocument() {
    Opened o({"A"});
    EventLog log(o.control);
    o.control.OnDelete = [](QObject*, bool& cancel) { cancel = true; };
    o.control.DeleteCurrDoc();
    QCOMPARE(log.events, std::vector<std::string>({"busy", "idle"}));
    QCOMPARE(DocumentsIn(o.data), 1);
    log.Clear();
    o.control.DeleteDoc(Q(o.unids[0]));
    QVERIFY(log.events.empty());
    QCOMPARE(DocumentsIn(o.data), 1);
  }

  void aNewUnsavedDocumentIsNotDeleted() {
    Opened o({"A"});
    o.control.CreateNewDoc("");
    QVERIFY(o.control.GetDocIsNew());
    EventLog log(o.control);
    o.control.DeleteCurrDoc();
    QVERIFY(log.events.empty());
    QVERIFY(o.control.DocLoaded());
    QCOMPARE(DocumentsIn(o.data), 1);
  }

  // The control keeps the deleted current document until the next move; the engine refuses
  // to save it, so nothing comes back to life.
  void deletingTheCurrentDocumentByItsIdKeepsTheObject() {
    Opened o({"A", "B"});
    EventLog log(o.control);
    o.control.DeleteDoc(Q(o.unids[0]));
    QCOMPARE(DocumentsIn(o.data), 1);
    QVERIFY(o.control.DocLoaded());
    QVERIFY(o.control.GetDocHandle() != 0);
    o.control.SetItemAsString("Subject", "again");
    o.control.SaveDoc();
    QCOMPARE(DocumentsIn(o.data), 1);
    o.control.MoveNext();
    QCOMPARE(o.control.GetItemAsString("Subject"), QString("B"));
    QVERIFY(log.Balanced());
    QVERIFY(log.errors.empty());

    // A malformed ID is reported and nothing is deleted.
    o.control.DeleteDoc("ZZZZZZZZ0123456789ABCDEF01234567");
    QCOMPARE(log.errors.size(), size_t(1));
    QVERIFY(log.errors[0].startsWith("Invalid Universal ID: "));
    QCOMPARE(DocumentsIn(o.data), 1);
    QVERIFY(log.Balanced());
  }

  // A form name the object model refuses gives no document, and OnAdd all the same.
  void aRefusedNewDocumentStillRaisesOnAdd() {
    Opened o({"A"});
    EventLog log(o.control);
    o.control.CreateNewDoc(QString(300, 'F'));
    QCOMPARE(log.events, std::vector<std::string>({"busy", "add", "idle"}));
    QVERIFY(!o.control.DocLoaded());
    QVERIFY(!o.control.GetDocIsNew());
    QCOMPARE(o.control.GetDocHandle(), HTDOCHANDLE(0));
  }

  void aNewDocumentIsWrittenThroughTheControl() {
    Opened o({"A"});
    EventLog log(o.control);
    o.control.CreateNewDoc("Memo");
    QCOMPARE(log.Count("add"), 1);
    QVERIFY(log.moves.empty());
    QVERIFY(o.control.GetDocIsNew());
    o.control.DocAddTextItem("Subject", "Z new");
    o.control.DocAddNumberItem("Amount", 42.5);
    o.control.DocAddDateTimeItem("When", rtl::EncodeDateTime(2024, 2, 29, 13, 45, 0));
    o.control.DocAddTextListItem("Tags", "red, green");
    o.control.DocAddRichTextItem("Body", "plain words");
    o.control.SaveDoc();
    QVERIFY(!o.control.GetDocIsNew());
    QCOMPARE(o.control.GetItemAsNumber("Amount"), 42.5);
    QCOMPARE(o.control.GetItemAsDateTime("When"), rtl::EncodeDateTime(2024, 2, 29, 13, 45, 0));
    QCOMPARE(o.control.GetDocItemType("Amount"), qrTypeNumber);
    QCOMPARE(o.control.GetDocItemType("Tags"), qrTypeTextList);
    QCOMPARE(o.control.GetDocItemType("Body"), qrTypeComposite);
    QVERIFY(o.control.GetItemAsString("Body").contains("plain words"));
    QVERIFY(o.control.GetDocItemCount() >= 5);
    o.control.Refresh();  // re-reads the same position of the view, where the new one is not
    o.control.MoveLast();
    QCOMPARE(o.control.GetItemAsString("Subject"), QString("Z new"));
  }

  void itemsByIndexAndByName() {
    Opened o({"A"});
    const int count = o.control.GetDocItemCount();
    QVERIFY(count >= 3);
    int subject = -1;
    for (int i = 0; i < count; ++i)
      if (o.control.GetItemName(i) == "Subject") subject = i;
    QVERIFY(subject >= 0);
    QCOMPARE(o.control.GetItemText(subject), QString("A"));
    o.control.SetItemText(subject, "A2");
    QCOMPARE(o.control.GetItemAsString("subject"), QString("A2"));  // names ignore case
    QCOMPARE(o.control.GetItemLength("Subject"), 2);
    o.control.SetItemAsNumber("Amount", 7);
    QCOMPARE(o.control.GetItemAsNumber("Amount"), 7.0);
    o.control.SetItemAsString("Nothing", "x");  // not there: nothing written
    QCOMPARE(o.control.GetItemAsString("Nothing"), QString());
    QCOMPARE(o.control.GetItemText(count + 5), QString());
    QCOMPARE(o.control.GetItemName(-1), QString());
  }

  void textListsAreReadAndReplacedWholeThroughTheControl() {
    Opened o({"A"});
    o.control.DocAddTextListItem("Tags", "red");
    o.control.SetItemAsTextList("Tags", {"red", "green", "blue"});
    QCOMPARE(o.control.GetItemAsTextList("Tags"), QStringList({"red", "green", "blue"}));
    o.control.SetItemAsTextList("Subject", {"not a list"});  // a text item is left alone
    QCOMPARE(o.control.GetItemAsString("Subject"), QString("A"));
    QVERIFY(o.control.GetItemAsTextList("Subject").isEmpty());
    o.control.SaveDoc();
    QCOMPARE(o.control.GetDocLastError(), 0u);
    o.control.MoveFirst();  // read back from the database
    QCOMPARE(o.control.GetItemAsTextList("Tags"), QStringList({"red", "green", "blue"}));
    o.control.SetItemAsTextList("Tags", {});
    QVERIFY(o.control.GetItemAsTextList("Tags").isEmpty());
  }

  // SaveDoc reports nothing itself; the document's result code says whether it took.
  void aRefusedSaveShowsInTheDocumentsResult() {
    Opened o({"A", "B"});
    QCOMPARE(o.control.GetDocLastError(), 0u);
    o.control.DeleteDoc(Q(o.unids[0]));  // the current document's object stays
    o.control.SetItemAsString("Subject", "A2");
    o.control.SaveDoc();
    QVERIFY(o.control.GetDocLastError() != 0);
    TQuireDataCtrl none;
    QCOMPARE(none.GetDocLastError(), 0u);
    QVERIFY(none.GetItemAsTextList("Tags").isEmpty());
  }

  // With nothing to act on every operation answers its neutral value; only GetDocItemType
  // still raises its pair.
  void neutralValuesWithoutADocument() {
    TQuireDataCtrl control;
    EventLog log(control);
    QCOMPARE(control.GetItemAsDateTime("When"), 2.5);
    QCOMPARE(control.GetItemAsNumber("Amount"), 0.0);
    QCOMPARE(control.GetItemAsString("Subject"), QString());
    QCOMPARE(control.GetItemLength("Subject"), 0);
    QCOMPARE(control.GetDocItemCount(), 0);
    QCOMPARE(control.GetDocAttachCount(), 0);
    QCOMPARE(control.GetDocAttachName(0), QString());
    QCOMPARE(control.GetViewColumnCount(), 0);
    QVERIFY(!control.DocSend(false, false, false, "someone"));
    QVERIFY(!control.DocRTItemExport("Body", "TEXT", "/tmp/x"));
    QVERIFY(log.events.empty());
    QCOMPARE(control.GetDocItemType("Subject"), qrTypeInvalid);
    QCOMPARE(log.events, std::vector<std::string>({"busy", "idle"}));
  }

  void aMissingDateGivesNoonOnTheFirstOfJanuary1900() {
    Opened o({"A"});
    EventLog log(o.control);
    const rtl::TDateTime value = o.control.GetItemAsDateTime("Missing");
    QCOMPARE(value, 2.5);
    QCOMPARE(value, rtl::EncodeDateTime(1900, 1, 1, 12, 0, 0));
    QCOMPARE(log.events, std::vector<std::string>({"busy", "idle"}));
  }

  void columnTitlesCountFromZeroAndCellsFromOne() {
    Opened o({"A"});
    QCOMPARE(o.control.GetViewColumnCount(), 2);
    QCOMPARE(o.control.GetViewColumnTitle(0), QString("Subject"));
    QCOMPARE(o.control.GetViewColumnTitle(2), QString());
    QCOMPARE(o.control.GetViewCellText(0), QString());
    QCOMPARE(o.control.GetViewCellText(1), QString("A"));
    QCOMPARE(o.control.GetViewCellText(3), QString());

    Opened collection({"A"}, dDocCollection);
    QCOMPARE(collection.control.GetViewColumnCount(), 0);
    QCOMPARE(collection.control.GetViewCellText(1), QString());
  }

  // Only a rich-text item is exported or imported; its failure is reported with the item's
  // status, which GetNotesErrorString then explains.
  void richTextExportAndImport() {
    QTemporaryDir dir;
    Opened o({"A"});
    o.control.DocAddRichTextItem("Body", "first text");
    EventLog log(o.control);
    const QString out = dir.filePath("body.txt");
    QVERIFY(!o.control.DocRTItemExport("Subject", "TEXT", out));  // a text item: false, silent
    QVERIFY(log.errors.empty());
    QVERIFY(o.control.DocRTItemExport("Body", "TEXT", out));

    QVERIFY(!o.control.DocRTItemExport("Body", "NO-SUCH-FORMAT", out));
    QCOMPARE(log.errors, std::vector<QString>({"Export Failed"}));
    QVERIFY(o.control.LastError() != 0);
    QCOMPARE(o.control.GetNotesErrorString(), Q(GetNotesErrorText(o.control.LastError())));
    QVERIFY(!o.control.DocRTItemImport("Body", "TEXT", dir.filePath("missing.txt")));
    QCOMPARE(log.errors.back(), QString("Import Failed"));
    {
      std::ofstream write(dir.filePath("new.txt").toStdString());
      write << "imported words";
    }
    QVERIFY(o.control.DocRTItemImport("Body", "TEXT", dir.filePath("new.txt")));
    QVERIFY(o.control.GetItemAsString("Body").contains("imported words"));
    QVERIFY(log.Balanced());
  }
};

QUIRE_QTEST_MAIN(DataDocumentsTest)
#include "QRDataDocuments_test.moc"
