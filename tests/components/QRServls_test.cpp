// The server list filled from its data control's session, against the real engine and its
// configured servers.
#include <QtCore/QBuffer>
#include <memory>

#include "components/QRServls.h"
#include "framework/QRFormLoader.h"
#include "framework/QRPalette.h"
#include "tests/components/DataTestSupport.h"

namespace {

// Adds a named server to the local engine's configuration.
void AddServer(const char* name) {
  const std::string command = std::string("add server \"") + name + "\" " + name;
  char reply[256] = {};
  const HTSTATUS status = HTAPI.HTServerExecute("", command.c_str(), sizeof reply, reply);
  if (status != 0) qFatal("cannot add server %s: %s", name, GetNotesErrorText(status).c_str());
}

QStringList Items(const QComboBox& box) {
  QStringList items;
  for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
  return items;
}

// While it lives, the API's server list answers "end of list" at once.
class NoServers {
 public:
  NoServers() : saved_(HTAPI.HTServerList) {
    HTAPI.HTServerList = [](HTINT, char* server) -> HTSTATUS {
      server[0] = '\0';
      return TQuireDataCtrl::kEndOfData;
    };
  }
  ~NoServers() { HTAPI.HTServerList = saved_; }
  NoServers(const NoServers&) = delete;
  NoServers& operator=(const NoServers&) = delete;

 private:
  HT_HTServerList_fn saved_;
};

}  // namespace

class ServerListTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    AddServer("Alpha");
    AddServer("Beta");
  }

  void createdAsAnInactivePickOnlyList() {
    TQuireServerList list;
    QVERIFY(!list.Active());
    QVERIFY(list.MasterCtrl() == nullptr);
    QVERIFY(!list.isEditable());
    QCOMPARE(list.count(), 0);
  }

  void activatingWithoutAMasterChangesNothing() {
    TQuireServerList list;
    list.addItem("kept");
    list.SetActive(true);
    QVERIFY(!list.Active());
    QCOMPARE(Items(list), QStringList({"kept"}));
  }

  void activatingActivatesTheMasterAndListsEveryServer() {
    TQuireDataCtrl control;
    TQuireServerList list;
    list.addItem("stale");
    list.SetMaster(&control);
    QVERIFY(!control.Active());
    list.SetActive(true);
    QVERIFY(control.Active());
    QVERIFY(list.Active());
    QCOMPARE(Items(list), QStringList({"Local", "Alpha", "Beta"}));
    QCOMPARE(list.currentIndex(), 0);

    // Off keeps the items; a second on with the same value does nothing.
    list.SetActive(false);
    QVERIFY(!list.Active());
    QCOMPARE(list.count(), 3);
  }

  void refreshReadsTheServersAgain() {
    TQuireDataCtrl control;
    TQuireServerList list;
    list.SetMaster(&control);
    list.SetActive(true);
    QCOMPARE(list.count(), 3);
    AddServer("Gamma");
    list.SetActive(true);  // already active: not read again
    QCOMPARE(list.count(), 3);
    list.Refresh();
    QVERIFY(list.Active());
    QCOMPARE(Items(list), QStringList({"Local", "Alpha", "Beta", "Gamma"}));
  }

  void aSessionListingNoServerLeavesAnEmptyActiveList() {
    TQuireDataCtrl control;
    TQuireServerList list;
    list.addItem("stale");
    list.SetMaster(&control);
    NoServers none;
    list.SetActive(true);
    QVERIFY(list.Active());
    QCOMPARE(list.count(), 0);
  }

  void aMasterThatCannotBeActivatedLeavesTheListInactive() {
    TQuireDataCtrl control;
    TQuireServerList list;
    list.SetMaster(&control);
    quireqt::MessageRecorder recorder;
    // The data control refuses to activate without an initialised API.
    const bool saved = HTInitOK;
    HTInitOK = false;
    list.SetActive(true);
    HTInitOK = saved;
    QVERIFY(!control.Active());
    QVERIFY(!list.Active());
    QCOMPARE(list.count(), 0);
    QCOMPARE(recorder.messages.size(), size_t(1));  // the control's own report
  }

  void changingTheMasterDoesNotRefill() {
    TQuireDataCtrl first;
    TQuireDataCtrl second;
    TQuireServerList list;
    list.SetMaster(&first);
    list.SetActive(true);
    const int count = list.count();
    list.SetMaster(&second);
    QVERIFY(list.Active());
    QVERIFY(!second.Active());
    QCOMPARE(list.count(), count);
    QCOMPARE(list.MasterCtrl(), &second);
  }

  void freeingTheMasterDropsItAndDeactivates() {
    // On the same form, and on another form.
    for (bool sameForm : {true, false}) {
      QWidget form;
      QWidget otherForm;
      auto* control = new TQuireDataCtrl(sameForm ? &form : &otherForm);
      auto* list = new TQuireServerList(&form);
      list->SetMaster(control);
      list->SetActive(true);
      QVERIFY(list->Active());
      const int count = list->count();
      delete control;
      QVERIFY(list->MasterCtrl() == nullptr);
      QVERIFY(!list->Active());
      QCOMPARE(list->count(), count);
    }
  }

  void aStoredActiveIsNotAppliedWhenTheFormLoads() {
    const QByteArray ui = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>Form</class>
 <widget class="QWidget" name="Form">
  <widget class="TQuireDataCtrl" name="Data"/>
  <widget class="TQuireServerList" name="Servers">
   <property name="Active"><bool>true</bool></property>
   <property name="MasterCtrl"><string>Data</string></property>
  </widget>
 </widget>
</ui>)";
    QBuffer buffer;
    buffer.setData(ui);
    buffer.open(QIODevice::ReadOnly);
    QRFormLoader loader;
    std::unique_ptr<QWidget> form = loader.Load(buffer);
    QVERIFY2(form != nullptr, qPrintable(loader.ErrorString()));
    auto* list = form->findChild<TQuireServerList*>("Servers");
    auto* data = form->findChild<TQuireDataCtrl*>("Data");
    QVERIFY(list != nullptr && data != nullptr);
    QCOMPARE(list->MasterCtrl(), data);
    QVERIFY(!list->Active());
    QVERIFY(!data->Active());
    QCOMPARE(list->count(), 0);
  }

  void registersOnThePageQuire() {
    ClearPalette();
    QRServls::Register();
    QCOMPARE(PaletteEntries().size(), size_t(1));
    QCOMPARE(PaletteEntries()[0].page, QString("Quire"));
    QCOMPARE(PaletteEntries()[0].metaObject, &TQuireServerList::staticMetaObject);
    ClearPalette();
  }
};

QUIRE_QTEST_MAIN(ServerListTest)
#include "QRServls_test.moc"
