// Master/detail linking: shared sessions and active state, and what happens when a master or
// a slave leaves the form. Run under AddressSanitizer, a session freed by the wrong control or
// a slave reached after its end fails these tests.
#include "tests/components/DataTestSupport.h"

using datatest::EventLog;
using datatest::Fixture;

class DataMasterTest : public QObject {
  Q_OBJECT

 private slots:
  void linkingToItselfDoesNothing() {
    TQuireDataCtrl control;
    control.SetMaster(&control);
    QVERIFY(control.MasterCtrl() == nullptr);
    QVERIFY(control.Slaves().empty());
  }

  // Activating a slave activates the master, which hands its session to every slave in the
  // order they linked.
  void activatingASlaveActivatesTheMasterAndEverySlave() {
    QWidget form;
    auto* master = new TQuireDataCtrl(&form);
    auto* first = new TQuireDataCtrl(&form);
    auto* second = new TQuireDataCtrl(&form);
    first->setObjectName("First");
    second->setObjectName("Second");
    second->SetMaster(master);
    first->SetMaster(master);
    QCOMPARE(master->Slaves().size(), size_t(2));
    QCOMPARE(master->Slaves()[0].Name, QString("Second"));
    QCOMPARE(master->Slaves()[1].Control, first);

    first->SetActive(true);
    QVERIFY(master->Active() && first->Active() && second->Active());
    QVERIFY(master->OwnsSession());
    QCOMPARE(first->Session(), master->Session());
    QCOMPARE(second->Session(), master->Session());
    QVERIFY(!first->OwnsSession());

    // A slave letting go drops the shared session; the master's stays usable.
    first->SetActive(false);
    QVERIFY(!first->Active() && first->Session() == nullptr);
    QVERIFY(master->Active());
    QCOMPARE(master->GetUserName(), QString(quireqt::kTestUser));

    master->SetActive(false);
    QVERIFY(!second->Active() && second->Session() == nullptr);
    QVERIFY(!master->Active() && master->Session() == nullptr);
  }

  void removingTheMasterDeactivatesAndUnlinksItsSlaves() {
    Fixture data("master");
    QWidget form;
    auto* master = new TQuireDataCtrl(&form);
    auto* slave = new TQuireDataCtrl(&form);
    slave->SetDBName(QString::fromStdString(data.path));
    slave->SetMaster(master);
    slave->SetActive(true);
    QVERIFY(slave->OpenDatabase());
    delete master;
    QVERIFY(slave->MasterCtrl() == nullptr);
    QVERIFY(!slave->Active() && !slave->DBOpen() && slave->Session() == nullptr);
    // It stands on its own now.
    slave->SetActive(true);
    QVERIFY(slave->OwnsSession());
    QVERIFY(slave->OpenDatabase());
  }

  void removingASlaveTakesEveryEntryOffItsMaster() {
    QWidget form;
    auto* master = new TQuireDataCtrl(&form);
    auto* slave = new TQuireDataCtrl(&form);
    auto* other = new TQuireDataCtrl(&form);
    slave->SetMaster(master);
    other->SetMaster(master);
    master->RegSlave(slave);  // linked twice
    QCOMPARE(master->Slaves().size(), size_t(3));
    master->SetActive(true);
    delete slave;
    QCOMPARE(master->Slaves().size(), size_t(1));
    QCOMPARE(master->Slaves()[0].Control, other);
    QVERIFY(master->Active() && other->Active());
    master->SetActive(false);  // reaches only the live slave
    master->SetActive(true);
    QVERIFY(other->Active());
  }

  // A slave on another form still hears of its master's end, and the other way round.
  void linksAcrossFormsAreKeptSafe() {
    auto formA = std::make_unique<QWidget>();
    auto formB = std::make_unique<QWidget>();
    auto* master = new TQuireDataCtrl(formA.get());
    auto* slave = new TQuireDataCtrl(formB.get());
    auto* slave2 = new TQuireDataCtrl(formB.get());
    slave->SetMaster(master);
    slave2->SetMaster(master);
    master->SetActive(true);
    QVERIFY(slave->Active());
    formB.reset();  // both slaves go with their form
    QVERIFY(master->Slaves().empty());
    master->SetActive(false);

    auto formC = std::make_unique<QWidget>();
    auto* slave3 = new TQuireDataCtrl(formC.get());
    slave3->SetMaster(master);
    slave3->SetActive(true);
    formA.reset();
    QVERIFY(slave3->MasterCtrl() == nullptr);
    QVERIFY(!slave3->Active());
  }

  // A control active with its own session when it is linked keeps that session, and frees it
  // when it is deactivated: as a slave it must not simply drop it.
  void aSessionOfItsOwnIsFreedEvenWhenLinked() {
    QWidget form;
    auto* master = new TQuireDataCtrl(&form);
    auto* control = new TQuireDataCtrl(&form);
    control->SetActive(true);
    TQuireSession* own = control->Session();
    control->SetMaster(master);
    QCOMPARE(control->Session(), own);
    QVERIFY(control->OwnsSession());
    master->SetActive(true);
    QCOMPARE(control->Session(), own);  // already active: the master's is not taken
    control->SetActive(false);          // LeakSanitizer sees a session that was only dropped
    QVERIFY(control->Session() == nullptr);
  }

  // The old master keeps its entry after a relink and may lend its session again; when the
  // new master is removed, the control must drop, not free, the old master's session.
  void aSessionLentByAFormerMasterIsNeverFreedByTheSlave() {
    QWidget form;
    auto* oldMaster = new TQuireDataCtrl(&form);
    auto* newMaster = new TQuireDataCtrl(&form);
    auto* slave = new TQuireDataCtrl(&form);
    slave->SetMaster(oldMaster);
    slave->SetMaster(newMaster);
    QCOMPARE(oldMaster->Slaves().size(), size_t(1));
    oldMaster->SetActive(true);
    QCOMPARE(slave->Session(), oldMaster->Session());
    delete newMaster;
    QVERIFY(!slave->Active() && slave->Session() == nullptr);
    QVERIFY(oldMaster->Active());
    QCOMPARE(oldMaster->GetUserName(), QString(quireqt::kTestUser));
  }

  void unlinkingDeactivatesTheSlaveOnly() {
    QWidget form;
    auto* master = new TQuireDataCtrl(&form);
    auto* slave = new TQuireDataCtrl(&form);
    slave->SetMaster(master);
    slave->SetActive(true);
    slave->SetMaster(nullptr);
    QVERIFY(!slave->Active());
    QVERIFY(master->Active());
    QVERIFY(slave->MasterCtrl() == nullptr);
  }
};

QUIRE_QTEST_MAIN(DataMasterTest)
#include "QRDataMaster_test.moc"
