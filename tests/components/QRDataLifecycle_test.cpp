// The data control's published properties, activation, opening and closing, the error path
// and the design-time appearance, against the real engine.
#include <QtCore/QBuffer>
#include <QtCore/QMetaEnum>
#include <QtGui/QImage>

#include "framework/QRFormLoader.h"
#include "framework/QRResources.h"
#include "tests/components/DataTestSupport.h"

using datatest::EventLog;
using datatest::Fixture;

class DataLifecycleTest : public QObject {
  Q_OBJECT

 private slots:
  void initialValuesAndRegisteredEnumerations() {
    TQuireDataCtrl control;
    QVERIFY(!control.Active());
    QVERIFY(control.ServerName().isEmpty() && control.DBName().isEmpty() && control.ViewName().isEmpty());
    QVERIFY(control.FolderName().isEmpty() && control.Formula().isEmpty() && control.Form().isEmpty());
    QVERIFY(control.MasterCtrl() == nullptr);
    QCOMPARE(control.RecordsetType(), dView);
    QCOMPARE(control.EOFBehaviour(), eoMoveFirstLast);
    QVERIFY(!control.isVisible());
    QCOMPARE(control.size(), QSize(24, 24));
    QVERIFY(!control.DBOpen() && !control.RSOpen() && !control.DocLoaded());
    QCOMPARE(control.GetNotesErrorString(), QString::fromStdString(GetNotesErrorText(0)));

    // Published in the specified order, the enumerations with their ordinals.
    const QMetaObject& meta = TQuireDataCtrl::staticMetaObject;
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) names << meta.property(i).name();
    QCOMPARE(names, QStringList({"Active", "ServerName", "DBName", "ViewName", "FolderName", "Formula", "Form",
                                 "MasterCtrl", "RecordsetType", "EOFBehaviour"}));
    const QMetaEnum type = meta.property(meta.indexOfProperty("RecordsetType")).enumerator();
    QCOMPARE(type.keyToValue("dView"), 0);
    QCOMPARE(type.keyToValue("dFolder"), 1);
    QCOMPARE(type.keyToValue("dDocCollection"), 2);
    const QMetaEnum eof = meta.property(meta.indexOfProperty("EOFBehaviour")).enumerator();
    QCOMPARE(eof.keyToValue("eoMoveFirstLast"), 0);
    QCOMPARE(eof.keyToValue("eoEvents"), 1);
  }

  void openingWhileInactiveIsReported() {
    TQuireDataCtrl control;
    EventLog log(control);
    QVERIFY(!control.OpenDatabase());
    QVERIFY(!control.OpenRecordset());
    QCOMPARE(log.errors, std::vector<QString>({"Data Control Not Active", "Data Control Not Active"}));
    QCOMPARE(log.codes, std::vector<int>({0, 0}));
    QCOMPARE(log.busy, 0);
  }

  void openDatabaseRaisesOpenInsideTheBusyPairAndOnlyOnce() {
    Fixture data("open");
    TQuireDataCtrl control;
    control.SetDBName(QString::fromStdString(data.path));
    control.SetActive(true);
    QVERIFY(control.Active());
    QVERIFY(control.OwnsSession());
    EventLog log(control);
    QVERIFY(control.OpenDatabase());
    QCOMPARE(log.events, std::vector<std::string>({"busy", "open", "idle"}));
    log.Clear();
    QVERIFY(!control.OpenDatabase());
    QVERIFY(log.events.empty());
    QCOMPARE(control.GetDBTitle(), QString("Data control"));
    QCOMPARE(control.GetDBHandle(), control.GetDBHandle());
    QVERIFY(control.GetDBHandle() != 0);
    QVERIFY(control.GetDBSize() > 0);
    QVERIFY(!control.GetReplicaID().isEmpty());

    log.Clear();
    control.CloseDatabase();
    QCOMPARE(log.events, std::vector<std::string>({"busy", "idle", "close"}));
    log.Clear();
    QCOMPARE(control.GetDBTitle(), QString());
    QCOMPARE(control.GetDBSize(), int64_t(0));
    QVERIFY(log.events.empty());
    control.CloseDatabase();  // nothing happens
    QVERIFY(log.events.empty());
  }

  // Without a handler the message box shows the control's message, a line break and the
  // engine's text for the code; with one, no box and severity 0.
  void theErrorPathUsesTheHandlerOrTheMessageBox() {
    TQuireDataCtrl control;
    control.SetDBName("no\\such-database.nsf");
    control.SetActive(true);
    {
      quireqt::MessageRecorder recorder;
      QVERIFY(!control.OpenDatabase());
      QCOMPARE(recorder.messages.size(), size_t(1));
      const std::string expected =
          "Database Open Failed!\r\n" + control.Session()->GetErrorInfo(control.Session()->LastError);
      QCOMPARE(recorder.messages[0].text, expected);
      QVERIFY(control.Session()->LastError != 0);
      QCOMPARE(recorder.messages[0].flags, rtl::kMbOk);
    }
    {
      quireqt::MessageRecorder recorder;
      EventLog log(control);
      QVERIFY(!control.OpenDatabase());
      QVERIFY(recorder.messages.empty());
      QCOMPARE(log.errors, std::vector<QString>({"Database Open Failed!"}));
      QCOMPARE(log.severities, std::vector<int>({0}));
      QCOMPARE(uint32_t(log.codes[0]), control.Session()->LastError);
      QVERIFY(!log.messages[0].isEmpty());
      QVERIFY(log.Balanced());
    }
    QVERIFY(!control.DBOpen());
  }

  void aMissingNameIsReportedBeforeTheFailedOpen() {
    Fixture data("names");
    TQuireDataCtrl control;
    control.SetDBName(QString::fromStdString(data.path));
    control.SetActive(true);
    QVERIFY(control.OpenDatabase());
    EventLog log(control);
    QVERIFY(!control.OpenRecordset());
    QCOMPARE(log.errors, std::vector<QString>({"View Property not set!!", "View Open Failed!"}));
    QCOMPARE(log.codes[0], -3);
    control.SetRecordsetType(dFolder);
    log.Clear();
    QVERIFY(!control.OpenRecordset());
    QCOMPARE(log.errors, std::vector<QString>({"Folder Property not set!!", "Folder Open Failed!"}));
    QCOMPARE(log.codes[0], -3);
    control.SetRecordsetType(dDocCollection);
    control.SetFormula("SELECT (");  // no collection comes back, and nothing is said
    log.Clear();
    QVERIFY(!control.OpenRecordset());
    QVERIFY(log.errors.empty());
    QVERIFY(log.Balanced());
    QVERIFY(!control.RSOpen());
  }

  void recordsetTypeCannotChangeWhileOpen() {
    Fixture data("rstype");
    data.Add("one");
    data.MakeView("All", {datatest::Column("Subject", "Subject", HTCOLSORT_ASCEND)});
    TQuireDataCtrl control;
    control.SetDBName(QString::fromStdString(data.path));
    control.SetViewName("All");
    control.SetActive(true);
    QVERIFY(control.OpenDatabase());
    QVERIFY(control.OpenRecordset());
    EventLog log(control);
    control.SetRecordsetType(dFolder);
    QCOMPARE(log.errors, std::vector<QString>({"Cannot change RecordsetType while Recordset Open"}));
    QCOMPARE(log.codes, std::vector<int>({-1}));
    QCOMPARE(control.RecordsetType(), dView);
    control.CloseRecordset();
    control.SetRecordsetType(dFolder);
    QCOMPARE(control.RecordsetType(), dFolder);
  }

  // Deactivation frees everything once; activating again opens again.
  void deactivateAndActivateAgain() {
    Fixture data("again");
    data.Add("one");
    TQuireDataCtrl control;
    control.SetDBName(QString::fromStdString(data.path));
    control.SetRecordsetType(dDocCollection);
    control.SetFormula("SELECT @All");
    control.SetActive(true);
    QVERIFY(control.OpenDatabase());
    QVERIFY(control.OpenRecordset());
    QVERIFY(control.DocLoaded());
    QCOMPARE(control.GetDocCount(), 1);
    control.CloseRecordset();  // the collection goes here ...
    EventLog log(control);
    control.SetActive(false);  // ... and not again here
    QVERIFY(!control.Active() && !control.DBOpen() && !control.RSOpen() && control.Session() == nullptr);
    QCOMPARE(log.Count("close"), 0);
    control.SetActive(true);
    QVERIFY(control.OpenDatabase());
    QVERIFY(control.OpenRecordset());
    QCOMPARE(control.GetDocCount(), 1);
  }

  void atDesignTimeTheControlIsASquareWithItsBitmap() {
    QWidget form;
    auto* control = new TQuireDataCtrl(&form);
    control->setGeometry(5, 5, 80, 40);
    QVERIFY(!control->isVisible());
    control->SetDesigning(true);
    form.show();
    QVERIFY(control->isVisible());
    const QImage shot = control->grab().toImage();
    QCOMPARE(control->size(), QSize(26, 26));
    QCOMPARE(control->pos(), QPoint(5, 5));
    const QImage bitmap = QRLoadBitmap("TQUIREDATACTRL").toImage();
    int differing = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 24; ++x)
        if (qAlpha(bitmap.pixel(x, y)) == 255 && shot.pixel(x + 1, y + 1) != bitmap.pixel(x, y)) ++differing;
    QCOMPARE(differing, 0);
    control->SetDesigning(false);
    QVERIFY(!control->isVisible());
  }

  // A stored Active true is not applied; the master is found by name; the enumerations and
  // texts arrive as stored.
  void aFormLoadsInactiveWithItsMasterResolved() {
    Fixture data("form");
    const QString form = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ui version=\"4.0\"><class>Form</class>"
        "<widget class=\"QWidget\" name=\"Form\">"
        " <widget class=\"TQuireDataCtrl\" name=\"Detail\">"
        "  <property name=\"Active\"><bool>true</bool></property>"
        "  <property name=\"MasterCtrl\"><string>Orders</string></property>"
        "  <property name=\"RecordsetType\"><enum>QRData::dFolder</enum></property>"
        "  <property name=\"EOFBehaviour\"><enum>eoEvents</enum></property>"
        " </widget>"
        " <widget class=\"TQuireDataCtrl\" name=\"Orders\">"
        "  <property name=\"Active\"><bool>true</bool></property>"
        "  <property name=\"DBName\"><string>%1</string></property>"
        "  <property name=\"ViewName\"><string>By Customer</string></property>"
        " </widget>"
        "</widget></ui>")
                             .arg(QString::fromStdString(data.path));
    QByteArray xml = form.toUtf8();
    QBuffer buffer(&xml);
    buffer.open(QIODevice::ReadOnly);
    QRFormLoader loader;
    auto loaded = loader.Load(buffer);
    QVERIFY2(loaded, qPrintable(loader.ErrorString()));
    auto* detail = loaded->findChild<TQuireDataCtrl*>("Detail");
    auto* orders = loaded->findChild<TQuireDataCtrl*>("Orders");
    QVERIFY(detail && orders);
    QVERIFY(!detail->Active() && !orders->Active());
    QVERIFY(!detail->IsLoading() && !orders->IsLoading());
    QCOMPARE(detail->MasterCtrl(), static_cast<TQuireCtrl*>(orders));
    QCOMPARE(orders->Slaves().size(), size_t(1));
    QCOMPARE(orders->Slaves()[0].Name, QString("Detail"));
    QCOMPARE(detail->RecordsetType(), dFolder);
    QCOMPARE(detail->EOFBehaviour(), eoEvents);
    QCOMPARE(orders->ViewName(), QString("By Customer"));

    detail->SetActive(true);  // at run time: through the master
    QVERIFY(orders->Active() && detail->Active());
    QCOMPARE(detail->Session(), orders->Session());
    QVERIFY(orders->OpenDatabase());
  }

  void setPasswordKeepsNothingAndReportsNothing() {
    TQuireDataCtrl control;
    EventLog log(control);
    control.SetPassword("secret");
    QVERIFY(log.errors.empty());
  }
};

QUIRE_QTEST_MAIN(DataLifecycleTest)
#include "QRDataLifecycle_test.moc"
