// A picture of the components at work, kept as a build artefact for a person to look at: a
// form with a data control (as it shows while designed), a navigator bound to it, a server
// list filled from the engine, and the database dialog open on the local server. The test checks that every widget lies
// inside its window and drew something; the look is for the eye.
#include <QtCore/QDir>
#include <QtGui/QPainter>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListWidget>

#include "components/QRDBWin.h"
#include "components/QRNav.h"
#include "components/QRServls.h"
#include "tests/components/DataTestSupport.h"

namespace {

void AddServer(const char* name) {
  const std::string command = std::string("add server \"") + name + "\" " + name;
  char reply[256] = {};
  const HTSTATUS status = HTAPI.HTServerExecute("", command.c_str(), sizeof reply, reply);
  if (status != 0) qFatal("cannot add server %s: %s", name, GetNotesErrorText(status).c_str());
}

// Every visible child lies inside the window, and the window is not one flat colour.
void CheckRendered(QWidget& window, const QImage& image) {
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (child->isVisibleTo(&window) && child->parentWidget() == &window)
      QVERIFY2(window.rect().contains(child->geometry()), qPrintable(child->objectName()));
  }
  QVERIFY(!image.isNull());
  QCOMPARE(image.size(), window.size() * image.devicePixelRatio());
  int differing = 0;
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) differing += image.pixel(x, y) != first ? 1 : 0;
  QVERIFY(differing > 100);
}

QString ArtefactPath(const QString& name) {
  QDir().mkpath(QStringLiteral(QUIRE_ARTEFACT_DIR));
  return QStringLiteral(QUIRE_ARTEFACT_DIR "/") + name;
}

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void formWithTheComponents() {
    AddServer("Sales");
    AddServer("Support");
    datatest::CreateDatabase("mail\\archive");
    datatest::Fixture data("orders");
    for (const char* subject : {"Anchor bolts", "Brass fittings", "Copper pipe"}) data.Add(subject);
    data.MakeView("By subject", {datatest::Column("Subject", "Subject", HTCOLSORT_ASCEND)});

    QWidget form;
    form.setWindowTitle("Orders");
    form.resize(300, 150);
    auto* control = new TQuireDataCtrl(&form);
    control->setObjectName("NotesDataCtrl1");
    control->SetDBName(QString::fromStdString(data.path));
    control->SetViewName("By subject");
    control->SetDesigning(true);  // shown as on a form being designed
    control->move(12, 12);
    auto* subject = new QLabel(&form);
    subject->setObjectName("Subject");
    subject->setGeometry(48, 12, 240, 26);
    control->OnMove = [&](QObject*, int posn, const QString&, bool, bool, bool) {
      subject->setText(QStringLiteral("%1: %2").arg(posn).arg(control->GetItemAsString("Subject")));
    };
    auto* nav = new TNDBNavigator(&form);
    nav->setObjectName("NDBNavigator1");
    nav->SetNotesDataCtrl(control);
    nav->SetTabStop(true);
    nav->SetBounds(12, 50, 241, 25);
    auto* servers = new TQuireServerList(&form);
    servers->setObjectName("QuireServerList1");
    servers->SetMaster(control);
    servers->setGeometry(12, 90, 241, servers->sizeHint().height());

    control->SetActive(true);
    QVERIFY(control->OpenDatabase());
    QVERIFY(control->OpenRecordset());
    servers->SetActive(true);
    QVERIFY(servers->count() >= 2);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(nav->Button(qrbNext), Qt::LeftButton);  // takes the focus, marks Next
    QCOMPARE(control->GetItemAsString("Subject"), QString("Brass fittings"));

    const QImage formShot = form.grab().toImage();
    CheckRendered(form, formShot);
    QVERIFY(formShot.save(ArtefactPath("form.png")));

    TNDBWindow dialog(&form, control->Session());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.lstDBS->count() >= 2);
    const QImage dialogShot = dialog.grab().toImage();
    CheckRendered(dialog, dialogShot);
    QVERIFY(dialogShot.save(ArtefactPath("database-dialog.png")));

    // Both side by side in one picture.
    QImage both(formShot.width() + dialogShot.width() + 24, std::max(formShot.height(), dialogShot.height()) + 16,
                QImage::Format_RGB32);
    both.fill(Qt::darkGray);
    QPainter painter(&both);
    painter.drawImage(8, 8, formShot);
    painter.drawImage(formShot.width() + 16, 8, dialogShot);
    painter.end();
    QVERIFY(both.save(ArtefactPath("components.png")));
  }
};

QUIRE_QTEST_MAIN(ScreenshotTest)
#include "QRScreenshot_test.moc"
