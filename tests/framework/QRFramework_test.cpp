// The component framework: notifications among the components of a form, the form loader
// (loading state, references by name, Loaded, load errors), the QMessageBox hook and the
// bitmaps compiled into the library.
#include <QtCore/QBuffer>
#include <QtCore/QTimer>
#include <QtGui/QImage>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QWidget>
#include <memory>
#include <set>
#include <thread>
#include <utility>

#include "framework/QRComponent.h"
#include "framework/QRFormLoader.h"
#include "framework/QRMessages.h"
#include "framework/QRPalette.h"
#include "framework/QRResources.h"
#include "tests/framework/QtTestSupport.h"

// A component that records what the framework tells it. Its Peer is a component reference,
// Tag an ordinary property whose setter notes whether it ran under the loading state.
class Probe : public QWidget, public QRComponent {
  Q_OBJECT
  Q_PROPERTY(Probe* Peer READ Peer WRITE SetPeer)
  Q_PROPERTY(QString Tag READ Tag WRITE SetTag)

 public:
  explicit Probe(QWidget* parent = nullptr) : QWidget(parent), QRComponent(this) {}

  Probe* Peer() const { return peer_; }
  void SetPeer(Probe* peer) {
    peer_ = peer;
    peerSetWhileLoading = IsLoading();
  }
  QString Tag() const { return tag_; }
  void SetTag(const QString& tag) {
    tag_ = tag;
    tagSetWhileLoading = IsLoading();
  }

  std::vector<std::pair<QObject*, TOperation>> notes;
  int loadedCalls = 0;
  bool loadingInLoaded = true;
  bool peerResolvedInLoaded = false;
  bool peerSetWhileLoading = false;
  bool tagSetWhileLoading = false;
  std::function<void(QObject*)> onRemove;

 protected:
  void Notification(QObject* component, TOperation operation) override {
    notes.emplace_back(component, operation);
    if (operation == opRemove && component == peer_) peer_ = nullptr;
    if (operation == opRemove && onRemove) onRemove(component);
  }
  void Loaded() override {
    ++loadedCalls;
    loadingInLoaded = IsLoading();
    peerResolvedInLoaded = peer_ != nullptr;
  }

 private:
  Probe* peer_ = nullptr;
  QString tag_;
};

namespace {

int Count(const Probe& probe, QObject* component, TOperation operation) {
  int n = 0;
  for (const auto& [who, what] : probe.notes) n += who == component && what == operation;
  return n;
}

const char* const kFormHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\">\n<class>Form</class>\n"
    "<widget class=\"QWidget\" name=\"Form\">\n";
const char* const kFormTail = "</widget>\n</ui>\n";

std::unique_ptr<QWidget> LoadForm(QRFormLoader& loader, const QString& body) {
  QByteArray xml = QByteArray(kFormHead) + body.toUtf8() + kFormTail;
  QBuffer buffer(&xml);
  buffer.open(QIODevice::ReadOnly);
  return loader.Load(buffer);
}

}  // namespace

class FrameworkTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QRRegisterComponentClass<Probe>(); }

  void insertAndRemoveReachTheComponentsOfTheSameOwnerOnly() {
    QWidget form;
    QWidget other;
    auto* first = new Probe(&form);
    auto* stranger = new Probe(&other);
    auto* inGroup = new Probe(new QWidget(&form));  // deeper on the same form
    QCOMPARE(Count(*first, inGroup, opInsert), 1);
    QCOMPARE(Count(*stranger, inGroup, opInsert), 0);

    QObject* const dying = inGroup;
    delete inGroup;
    QCOMPARE(Count(*first, dying, opRemove), 1);
    QCOMPARE(Count(*stranger, dying, opRemove), 0);
    QCOMPARE(first->Owner(), &form);
  }

  void freeNotificationCrossesOwnersAndEndsWithEitherComponent() {
    QWidget formA;
    QWidget formB;
    auto* a = new Probe(&formA);
    auto* b = new Probe(&formB);
    auto* c = new Probe(&formB);
    a->FreeNotification(b);
    a->FreeNotification(b);  // twice is once
    a->SetPeer(b);
    QObject* const dyingB = b;
    delete b;
    QCOMPARE(Count(*a, dyingB, opRemove), 1);
    QVERIFY(a->Peer() == nullptr);

    // A link ended by the death of one side leaves nothing dangling on the other.
    c->FreeNotification(a);
    QObject* const dyingC = c;
    delete c;
    QCOMPARE(Count(*a, dyingC, opRemove), 1);
    QObject* const dyingA = a;
    delete a;
    Q_UNUSED(dyingA);
  }

  // A handler that destroys another component of the form while a removal is being told must
  // not make the framework reach the destroyed one.
  void aHandlerMayDestroyAnotherComponentDuringNotification() {
    QWidget form;
    auto* first = new Probe(&form);
    auto* second = new Probe(&form);
    auto* third = new Probe(&form);
    second->onRemove = [&](QObject*) { delete std::exchange(third, nullptr); };
    delete first;
    QVERIFY(third == nullptr);
    QCOMPARE(second->notes.back().second, opRemove);
  }

  void theFormLoaderResolvesReferencesByNameThenCallsLoaded() {
    QRFormLoader loader;
    // Left refers to Right, which the form defines after it.
    auto form = LoadForm(loader,
                         "<widget class=\"Probe\" name=\"Left\">\n"
                         "  <property name=\"Peer\"><string>Right</string></property>\n"
                         "  <property name=\"Tag\"><string>left tag</string></property>\n"
                         "</widget>\n"
                         "<widget class=\"Probe\" name=\"Right\">\n"
                         "  <property name=\"Peer\"><string></string></property>\n"
                         "</widget>\n");
    QVERIFY2(form, qPrintable(loader.ErrorString()));
    QVERIFY(loader.ErrorString().isEmpty());
    auto* left = form->findChild<Probe*>("Left");
    auto* right = form->findChild<Probe*>("Right");
    QVERIFY(left && right);
    QCOMPARE(left->Peer(), right);
    QVERIFY(right->Peer() == nullptr);
    QCOMPARE(left->Tag(), QString("left tag"));
    QVERIFY(left->tagSetWhileLoading);
    QVERIFY(left->peerSetWhileLoading);
    for (Probe* probe : {left, right}) {
      QCOMPARE(probe->loadedCalls, 1);
      QVERIFY(!probe->loadingInLoaded);
      QVERIFY(!probe->IsLoading());
    }
    QVERIFY(left->peerResolvedInLoaded);
  }

  void loadErrorsAreReportedNotThrown_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unknown name") << "<widget class=\"Probe\" name=\"Left\">"
                                     "<property name=\"Peer\"><string>Nobody</string></property></widget>"
                                  << "names 'Nobody', which is not on the form";
    QTest::newRow("wrong class") << "<widget class=\"Probe\" name=\"Left\">"
                                    "<property name=\"Peer\"><string>Label</string></property></widget>"
                                    "<widget class=\"QLabel\" name=\"Label\"/>"
                                 << "names 'Label', which is a QLabel, not a Probe";
    QTest::newRow("not a name") << "<widget class=\"Probe\" name=\"Left\">"
                                   "<property name=\"Peer\"><bool>true</bool></property></widget>"
                                << "property 'Peer' of 'Left' (Probe) must name a component";
    QTest::newRow("broken xml") << "<widget class=\"Probe\" name=\"Left\">" << "line ";
  }
  void loadErrorsAreReportedNotThrown() {
    QFETCH(QString, body);
    QFETCH(QString, expected);
    QRFormLoader loader;
    auto form = LoadForm(loader, body);
    QVERIFY(!form);
    QVERIFY2(loader.ErrorString().contains(expected), qPrintable(loader.ErrorString()));
  }

  void aMissingFileIsALoadError() {
    QRFormLoader loader;
    QVERIFY(!loader.Load(QStringLiteral("/nonexistent/form.ui")));
    QVERIFY(loader.ErrorString().startsWith("/nonexistent/form.ui: "));
  }

  // The hook shows a critical box with one OK button and the text as given; closing it ends
  // the call with the OK answer.
  void theMessageBoxHookShowsACriticalBoxWithOneButton() {
    QString seenText;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      seenText = box->text();
      seenIcon = box->icon();
      buttons = int(box->buttons().size());
      box->accept();
    });
    QRInstallMessageBoxHandler();
    const int answer = rtl::ShowMessageBox("Database Open Failed!\r\nno such file", "Error");
    rtl::SetMessageBoxHandler(nullptr);
    QCOMPARE(answer, rtl::kIdOk);
    QCOMPARE(seenText, QString("Database Open Failed!\r\nno such file"));
    QCOMPARE(seenIcon, QMessageBox::Critical);
    QCOMPARE(buttons, 1);
  }

  // Off the GUI thread there is nobody to answer a dialog: the hook writes to stderr instead.
  void theHookDoesNotBlockOffTheGuiThread() {
    int answer = 0;
    std::thread worker([&] { answer = QRShowMessageBox("from a worker", "Error", rtl::kMbOk); });
    worker.join();
    QCOMPARE(answer, rtl::kIdOk);
  }

  void thePaletteKeepsCallOrderAndOneEntryPerClassAndPage() {
    ClearPalette();
    RegisterComponents("QUIRE", {&Probe::staticMetaObject});
    RegisterComponents("QUIRE", {&QWidget::staticMetaObject});
    RegisterComponents("Quire", {&Probe::staticMetaObject});  // same page, other spelling
    RegisterComponents("Other", {&Probe::staticMetaObject});
    QCOMPARE(PaletteEntries().size(), size_t(3));
    const auto quire = PaletteEntriesOnPage("quire");
    QCOMPARE(quire.size(), size_t(2));
    QCOMPARE(quire[0].metaObject, &Probe::staticMetaObject);
    QCOMPARE(quire[1].metaObject, &QWidget::staticMetaObject);
    QCOMPARE(quire[0].page, QString("QUIRE"));
    QCOMPARE(PaletteEntriesOnPage("Other").size(), size_t(1));
    ClearPalette();
    QVERIFY(PaletteEntries().empty());
  }

  void theDataControlBitmapIsTwentyFourSquareInSixteenColours() {
    const QPixmap bitmap = QRLoadBitmap("TQUIREDATACTRL");
    QVERIFY(!bitmap.isNull());
    QCOMPARE(bitmap.size(), QSize(24, 24));
    const QImage image = bitmap.toImage();
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
    QVERIFY(colours.size() <= 16);
    QVERIFY(QRLoadBitmap("NO_SUCH_BITMAP").isNull());
  }
};

QUIRE_QTEST_MAIN(FrameworkTest)
#include "QRFramework_test.moc"
