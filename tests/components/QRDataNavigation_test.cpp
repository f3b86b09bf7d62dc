// Walking a view, a folder and a collection through the data control: OnMove arguments, the
// ends of data under both EOFBehaviours, hierarchical moves, key and full-text searches,
// Refresh and DBGetDocByUNID, with busy and idle counted on every path.
#include <functional>

#include "tests/components/DataTestSupport.h"

using datatest::Column;
using datatest::EventLog;
using datatest::Fixture;

namespace {

// Five memos A to E (amounts 1 to 5) in two categories; D answers B. Views: "Flat" (Subject
// ascending), "Categories" (Category categorised, Subject ascending, Amount totalled),
// "Threads" (responses under their main documents), "Empty" (selects nothing); the folder
// "Picked" holds B, C and E.
struct Sample {
  Sample() : data("navigation") {
    a = data.Add("A", "North", 1);
    b = data.Add("B", "South", 2);
    c = data.Add("C", "North", 3);
    d = data.Add("D", "", 4, b);
    e = data.Add("E", "South", 5);
    data.MakeView("Flat", {Column("Subject", "Subject", HTCOLSORT_ASCEND)}, HTVIEWFLAG_FLAT);
    data.MakeView("Categories",
                  {Column("Category", "Category", HTCOLSORT_CAT_ASCEND), Column("Subject", "Subject", HTCOLSORT_ASCEND),
                   Column("Amount", "Amount", HTCOLSORT_NONE, HTCOLTOTAL_TOTAL)},
                  HTVIEWFLAG_FLAT, "SELECT Category != \"\"");
    data.MakeView("Threads", {Column("Subject", "Subject", HTCOLSORT_ASCEND)});
    data.MakeView("Empty", {Column("Subject", "Subject", HTCOLSORT_ASCEND)}, HTVIEWFLAG_FLAT,
                  "SELECT Subject = \"nothing\"");
    data.MakeFolder("Picked", "Flat", {b, c, e});
    data.database->CreateFTIndex(0);
  }
  Fixture data;
  std::string a, b, c, d, e;
};

// Made once for the program by initTestCase, freed by cleanupTestCase while the engine runs.
std::unique_ptr<Sample> g_sample;
Sample& Data() { return *g_sample; }

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A control opened on the sample database with the given record set.
std::unique_ptr<TQuireDataCtrl> Open(TQRRecordsetType type, const QString& name,
                                     TQREOFBehaviour eof = eoMoveFirstLast) {
  auto control = std::make_unique<TQuireDataCtrl>();
  control->SetDBName(Q(Data().data.path));
  control->SetRecordsetType(type);
  if (type == dView) control->SetViewName(name);
  if (type == dFolder) control->SetFolderName(name);
  if (type == dDocCollection) control->SetFormula(name);
  control->SetEOFBehaviour(eof);
  control->SetActive(true);
  if (!control->OpenDatabase() || !control->OpenRecordset()) qFatal("cannot open %s", qPrintable(name));
  return control;
}

}  // namespace

class DataNavigationTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { g_sample = std::make_unique<Sample>(); }
  void cleanupTestCase() { g_sample.reset(); }

  // A move that announces computes its position inside its own busy pair.
  void aMoveAnnouncesAfterItsNestedPositionPair() {
    auto control = Open(dView, "Flat");
    EventLog log(*control);
    control->MoveNext();
    QCOMPARE(log.events, std::vector<std::string>({"busy", "busy", "idle", "move", "idle"}));
    QCOMPARE(log.moves[0].posn, 2);
    QCOMPARE(log.moves[0].unid, Q(Data().b));
    QVERIFY(log.moves[0].isDoc && !log.moves[0].isCategory && !log.moves[0].isTotal);
    QCOMPARE(log.maxDepth, 2);

    // Without OnMove nothing is computed for it: one pair.
    control->OnMove = nullptr;
    log.Clear();
    control->MoveNext();
    QCOMPARE(log.events, std::vector<std::string>({"busy", "idle"}));
  }

  void theEndOfAViewMovesBackToTheLastEntry() {
    auto control = Open(dView, "Flat");
    control->MoveLast();
    EventLog log(*control);
    control->MoveNext();
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].unid, Q(Data().e));
    QCOMPARE(log.Count("eof"), 0);
    QVERIFY(log.Balanced());
    QCOMPARE(control->GetNotesErrorString(), Q(GetNotesErrorText(HTFAIL_END_OF_LIST)));
    QVERIFY(!control->GetNotesErrorString().isEmpty());

    control->MoveFirst();
    log.Clear();
    control->MovePrev();
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].unid, Q(Data().a));
    QCOMPARE(log.Count("bof"), 0);
  }

  void withEventsTheEndOfAViewIsAnnouncedEmpty() {
    auto control = Open(dView, "Flat", eoEvents);
    control->MoveLast();
    EventLog log(*control);
    control->MoveNext();
    QCOMPARE(log.Count("eof"), 1);
    QCOMPARE(log.moves.size(), size_t(1));
    QVERIFY(log.moves[0].unid.isEmpty());
    QVERIFY(!control->DocLoaded());
    QVERIFY(log.events[1] == "eof");  // before the announcement
    QVERIFY(log.Balanced());

    control->MoveFirst();
    log.Clear();
    control->MovePrev();
    QCOMPARE(log.Count("bof"), 1);
    QCOMPARE(log.moves.size(), size_t(1));
    QVERIFY(log.Balanced());
  }

  // A folder turns back at both ends whatever EOFBehaviour says.
  void aFolderTurnsBackAtBothEnds() {
    auto control = Open(dFolder, "Picked", eoEvents);
    EventLog log(*control);
    control->MovePrev();
    QCOMPARE(log.Count("bof") + log.Count("eof"), 0);
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].unid, Q(Data().b));
    QVERIFY(log.moves[0].isDoc && !log.moves[0].isCategory && !log.moves[0].isTotal);
    QCOMPARE(control->LastError(), 0u);  // a folder's MovePrev keeps it
    control->MoveLast();
    log.Clear();
    control->MoveNext();
    QCOMPARE(log.Count("eof"), 0);
    QCOMPARE(log.moves.back().unid, Q(Data().e));
    QCOMPARE(control->LastError(), HTFAIL_END_OF_LIST);
    QVERIFY(log.Balanced());
    QCOMPARE(control->GetDocCount(), 3);
  }

  void aCollectionAlwaysAnnouncesAndDoesNotWrap() {
    auto control = Open(dDocCollection, "SELECT Amount > 3");
    EventLog log(*control);
    control->MoveFirst();
    QCOMPARE(log.moves.size(), size_t(1));
    QVERIFY(log.moves[0].isDoc && !log.moves[0].isCategory && !log.moves[0].isTotal);
    const int count = control->GetDocCount();
    QCOMPARE(count, 2);
    control->MoveLast();
    const QString last = log.moves.back().unid;
    log.Clear();
    control->MoveNext();
    QCOMPARE(log.moves.size(), size_t(1));
    // The collection answers its last document again: the cursor does not wrap to the first.
    QCOMPARE(log.moves[0].unid, last);
    QCOMPARE(log.moves[0].posn, count);
    QVERIFY(log.Balanced());

    auto empty = Open(dDocCollection, "SELECT Subject = \"nothing\"");
    EventLog emptyLog(*empty);
    empty->MoveFirst();
    QCOMPARE(emptyLog.moves.size(), size_t(1));
    QVERIFY(emptyLog.moves[0].unid.isEmpty());
  }

  void anEmptyViewAnnouncesNothingOnMoveFirst() {
    auto control = Open(dView, "Empty");
    EventLog log(*control);
    control->MoveFirst();
    QVERIFY(log.moves.empty());
    QVERIFY(!control->DocLoaded());
    QVERIFY(log.Balanced());
  }

  // Flat moves stop on documents only; the hierarchy reaches categories and the total row,
  // which OnMove reports with an empty DocUnid.
  void aCategorisedViewReportsCategoriesAndTotals() {
    auto control = Open(dView, "Categories");
    EventLog log(*control);
    control->MoveFirst();
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].unid, Q(Data().a));
    QCOMPARE(log.moves[0].posn, 2);
    control->MovePrevParent();
    QVERIFY(log.moves[1].isCategory && !log.moves[1].isDoc && log.moves[1].unid.isEmpty());
    QCOMPARE(control->GetViewCellText(1), QString("North"));
    control->MoveNextSibling();
    QVERIFY(log.moves[2].isCategory);
    QCOMPARE(control->GetViewCellText(1), QString("South"));
    control->MoveNextSibling();
    QVERIFY(log.moves[3].isTotal && !log.moves[3].isCategory && !log.moves[3].isDoc);
    QCOMPARE(control->GetViewCellText(3).toDouble(), 11.0);  // A, B, C, E
    control->MoveNextSibling();
    QCOMPARE(log.moves.size(), size_t(4));
    QVERIFY(!control->DocLoaded());
    QVERIFY(log.Balanced());
    QCOMPARE(control->GetViewColumnCount(), 3);
    QCOMPARE(control->GetViewColumnTitle(0), QString("Category"));
  }

  void hierarchicalMoves() {
    auto folder = Open(dFolder, "Picked");
    EventLog folderLog(*folder);
    folder->MoveNextChild();
    QVERIFY(folderLog.events.empty());

    auto control = Open(dView, "Threads");  // A, B, D (under B), C, E
    control->MoveTo(2);
    EventLog log(*control);
    control->MoveNextChild();
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].unid, Q(Data().d));

    // D has no previous sibling: the move goes on to D's parent, and only that announces.
    log.Clear();
    control->MovePrevSibling();
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].unid, Q(Data().b));
    QCOMPARE(log.maxDepth, 3);  // the sibling's pair, the parent's inside, the position's inside that
    QVERIFY(log.Balanced());

    // At the end of data a hierarchical move stays silent and holds no document.
    control->MoveTo(2);
    log.Clear();
    control->MoveNextParent();
    QVERIFY(log.moves.empty());
    QVERIFY(!control->DocLoaded());
    QVERIFY(log.Balanced());
  }

  void keySearchMovesToTheMatch() {
    auto control = Open(dView, "Flat");
    EventLog log(*control);
    control->SetKeyValue(1, "C");
    QVERIFY(log.events.empty());
    QVERIFY(control->KeySearch(1, true));
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].unid, Q(Data().c));
    QCOMPARE(control->GetItemAsString("Subject"), QString("C"));
    control->SetKeyValue(1, "Q");
    QVERIFY(!control->KeySearch(1, true));
    QCOMPARE(control->GetItemAsString("Subject"), QString("C"));

    auto collection = Open(dDocCollection, "SELECT @All");
    collection->SetKeyValue(1, "C");
    QVERIFY(!collection->KeySearch(1, true));
  }

  void aDatabaseSearchReplacesTheView() {
    auto control = Open(dView, "Flat");
    EventLog log(*control);
    QCOMPARE(control->DBFTSearch("A OR C", 0), 2);
    QCOMPARE(control->RecordsetType(), dDocCollection);
    QVERIFY(control->RSOpen() && control->DocLoaded());
    QVERIFY(log.Balanced());
    QCOMPARE(control->GetDocCount(), 2);
    control->CloseRecordset();
    QCOMPARE(control->RecordsetType(), dDocCollection);

    log.Clear();
    QCOMPARE(control->DBFTSearch("(", 0), 0);
    QCOMPARE(log.errors, std::vector<QString>({"Full Text Search Failed :"}));
  }

  void recordSetSearchFiltersWithoutMoving() {
    auto control = Open(dView, "Flat");
    control->MoveTo(2);
    EventLog log(*control);
    QCOMPARE(control->RSFTSearch("E", 0), 1);
    QVERIFY(log.moves.empty());
    control->MoveFirst();
    QCOMPARE(log.moves.back().unid, Q(Data().e));
    control->RSFTClear();
    QVERIFY(log.Balanced());
    QCOMPARE(control->GetDocCount(), 5);

    log.Clear();
    control->RSFTSearch("(", 0);
    QCOMPARE(log.errors, std::vector<QString>({"Full Text Search Failed :"}));
    QVERIFY(log.Balanced());
  }

  // Refresh re-reads the entry at the same number, which may now be another document.
  void refreshKeepsTheNumericPosition() {
    Fixture data("refresh");
    data.Add("B");
    data.Add("C");
    data.MakeView("Flat", {Column("Subject", "Subject", HTCOLSORT_ASCEND)}, HTVIEWFLAG_FLAT);
    TQuireDataCtrl control;
    control.SetDBName(Q(data.path));
    control.SetViewName("Flat");
    control.SetActive(true);
    QVERIFY(control.OpenDatabase() && control.OpenRecordset());
    control.MoveNext();
    QCOMPARE(control.GetItemAsString("Subject"), QString("C"));
    const std::string a = data.Add("A");
    EventLog log(control);
    control.Refresh();
    QCOMPARE(log.moves.size(), size_t(1));
    QCOMPARE(log.moves[0].posn, 2);
    QCOMPARE(control.GetItemAsString("Subject"), QString("B"));
    QVERIFY(log.Balanced());
  }

  void documentsByUniversalId() {
    auto control = Open(dView, "Flat");
    EventLog log(*control);
    QVERIFY(!control->DBGetDocByUNID("0123456789ABCDEF0123456789ABCDEF"));
    QCOMPARE(control->GetItemAsString("Subject"), QString("A"));
    QVERIFY(control->DBGetDocByUNID(Q(Data().e)));
    QCOMPARE(control->GetItemAsString("Subject"), QString("E"));
    QVERIFY(log.moves.empty());
    QCOMPARE(control->GetPosition(), 1);  // the cursor stays

    // A malformed ID is reported, not thrown through the caller.
    log.Clear();
    QVERIFY(!control->DBGetDocByUNID("ZZZZZZZZ0123456789ABCDEF01234567"));
    QCOMPARE(log.errors.size(), size_t(1));
    QVERIFY(log.errors[0].startsWith("Invalid Universal ID: "));
    QCOMPARE(uint32_t(log.codes[0]), HTFAIL_INVALID_ARGUMENT);
    QCOMPARE(control->GetItemAsString("Subject"), QString("E"));
  }

  // Every operation ends idle, whatever path it took; moves on a closed record set are silent.
  void everyPathEndsIdle() {
    const std::vector<std::function<void(TQuireDataCtrl&)>> operations = {
        [](TQuireDataCtrl& c) { c.MoveFirst(); },        [](TQuireDataCtrl& c) { c.MovePrev(); },
        [](TQuireDataCtrl& c) { c.MovePrev(); },         [](TQuireDataCtrl& c) { c.MoveLast(); },
        [](TQuireDataCtrl& c) { c.MoveNext(); },         [](TQuireDataCtrl& c) { c.MoveNext(); },
        [](TQuireDataCtrl& c) { c.MoveTo(99); },         [](TQuireDataCtrl& c) { c.MoveNextChild(); },
        [](TQuireDataCtrl& c) { c.MovePrevSibling(); },  [](TQuireDataCtrl& c) { c.MoveNextMain(); },
        [](TQuireDataCtrl& c) { c.MovePrevMain(); },     [](TQuireDataCtrl& c) { c.MoveNextSibling(); },
        [](TQuireDataCtrl& c) { c.Refresh(); },          [](TQuireDataCtrl& c) { c.RSFTClear(); },
        [](TQuireDataCtrl& c) { c.GetPosition(); },      [](TQuireDataCtrl& c) { c.GetDocCount(); },
    };
    for (TQREOFBehaviour eof : {eoMoveFirstLast, eoEvents}) {
      for (auto [type, name] : {std::pair{dView, "Threads"}, std::pair{dFolder, "Picked"},
                                std::pair{dDocCollection, "SELECT @All"}, std::pair{dView, "Empty"}}) {
        auto control = Open(type, name, eof);
        EventLog log(*control);
        for (const auto& operation : operations) {
          log.Clear();
          operation(*control);
          QVERIFY2(log.Balanced(), name);
        }
        control->CloseRecordset();
        for (const auto& operation : operations) {
          log.Clear();
          operation(*control);
          QVERIFY2(log.events.empty(), name);
        }
      }
    }
  }
};

QUIRE_QTEST_MAIN(DataNavigationTest)
#include "QRDataNavigation_test.moc"
