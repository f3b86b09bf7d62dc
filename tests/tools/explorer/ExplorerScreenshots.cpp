// explorer_screenshots DIR: pictures of the explorer for a person to look at, written to DIR
// (scripts/explorer-screenshots.sh runs it under Xvfb): the main window on the sample's
// categorised view with its totals, the database dialog, and the access control dialog.
// Each picture is checked for the faults an eye would catch first: a part lying outside its
// window, a text wider than the room it was given, a window of one flat colour.
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QTreeView>

#include "components/QRData.h"
#include "components/QRDBWin.h"
#include "components/QRNav.h"
#include "tests/framework/QtTestSupport.h"
#include "tools/explorer/AclDialog.h"
#include "tools/explorer/Explorer.h"
#include "tools/explorer/RowModel.h"

namespace {

QString gDirectory;

// Labels and buttons show their whole text; every visible part lies inside the window.
void CheckLaidOut(QWidget& window) {
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (!child->isVisibleTo(&window) || child->width() == 0) continue;
    const QRect inWindow(child->mapTo(&window, QPoint(0, 0)), child->size());
    QVERIFY2(window.rect().contains(inWindow), qPrintable(child->objectName() + " lies outside the window"));
    QString text;
    if (auto* label = qobject_cast<QLabel*>(child); label && label->textFormat() != Qt::RichText && !label->wordWrap())
      text = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(child)) text = button->text();
    if (text.isEmpty()) continue;
    const int needed = child->fontMetrics().horizontalAdvance(text);
    if (needed <= child->contentsRect().width() + 2) continue;
    const QString clipped = QStringLiteral("%1 clips \"%2\" (%3 of %4 pixels)")
                                .arg(child->objectName(), text)
                                .arg(needed)
                                .arg(child->contentsRect().width());
    // A layout gives every part the room it asks for; a part placed by hand keeps the
    // size its form gives it, and is only reported.
    QVERIFY2(!child->parentWidget()->layout(), qPrintable(clipped));
    qWarning("%s", qPrintable(clipped));
  }
}

void Shoot(QWidget& window, const QString& name) {
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QTest::qWait(50);
  CheckLaidOut(window);
  const QImage image = window.grab().toImage();
  QVERIFY(!image.isNull());
  int differing = 0;
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) differing += image.pixel(x, y) != first ? 1 : 0;
  QVERIFY(differing > 100);
  QVERIFY(image.save(QDir(gDirectory).filePath(name)));
}

}  // namespace

class ExplorerScreenshots : public QObject {
  Q_OBJECT

  std::unique_ptr<Explorer> explorer_;
  QTemporaryDir config_;

 private slots:
  void initTestCase() {
    // Settings away from the data directory, which the database dialog lists.
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    QDir().mkpath(gDirectory);
    explorer_ = std::make_unique<Explorer>();
    QVERIFY2(explorer_->Ok(), qPrintable(explorer_->FormError()));
    explorer_->Window()->resize(1180, 720);
    explorer_->Window()->show();
    QVERIFY(explorer_->OpenSample());
  }

  void cleanupTestCase() { explorer_.reset(); }

  void mainWindowOnTheCategorisedView() {
    QVERIFY(explorer_->ShowView("By Customer"));
    QVERIFY(explorer_->KeySearch("Fjord"));
    QTreeView& tree = *explorer_->Tree();
    RowModel& model = *explorer_->Model();
    for (int row = 0; row + 1 < model.rowCount(); ++row) {
      if (model.index(row, 0).data().toString() != "Fjord Shipping") tree.collapse(model.index(row, 0));
    }
    explorer_->Navigator()->BtnClick(qrbLast);  // the last order, just above the totals
    Shoot(*explorer_->Window(), "explorer-main.png");
    // Every customer folded to its subtotal, above the grand total.
    tree.collapseAll();
    Shoot(*explorer_->Window(), "explorer-categories.png");
  }

  void databaseDialog() {
    TNDBWindow dialog(explorer_->Window(), explorer_->DataCtrl()->Session());
    dialog.show();
    QVERIFY(dialog.lstDBS->count() > 0);
    Shoot(dialog, "explorer-database-dialog.png");
  }

  void accessControlDialog() {
    std::unique_ptr<AclDialog> dialog(static_cast<AclDialog*>(explorer_->ShowAclDialog()));
    QVERIFY(dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->show();
    QVERIFY(dialog->Editable());
    Shoot(*dialog, "explorer-acl-dialog.png");
  }
};

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: explorer_screenshots DIRECTORY [QTest options]\n");
    return 2;
  }
  gDirectory = QString::fromLocal8Bit(argv[1]);
  argv[1] = argv[0];
  return quireqt::RunQtTest<ExplorerScreenshots>(argc - 1, argv + 1);
}

#include "ExplorerScreenshots.moc"
