// The database selection dialog on the real engine: its form, the servers and the owner-drawn
// list, walking into MAIL\ and back with "..", the edit box and SelectedDB following the
// current item, Browse, and the data control's SelectDB.
#include <QtCore/QTimer>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>
#include <memory>

#include "components/QRDBWin.h"
#include "framework/QRResources.h"
#include "tests/components/DataTestSupport.h"

namespace {

void Create(const char* server, const char* path, const char* title) {
  const HTSTATUS status = HTAPI.HTDatabaseCreate(server, path, title, "", HTDBCLASS_DATABASE);
  if (status != 0) qFatal("cannot create %s: %s", path, GetNotesErrorText(status).c_str());
}

QStringList Items(const QListWidget& list) {
  QStringList items;
  for (int i = 0; i < list.count(); ++i) items << list.item(i)->text();
  return items;
}

int Row(const QListWidget& list, const QString& text) {
  for (int i = 0; i < list.count(); ++i)
    if (list.item(i)->text() == text) return i;
  qFatal("no item %s", qPrintable(text));
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

class DatabaseDialogTest : public QObject {
  Q_OBJECT

  TQuireSession session_;

 private slots:
  void initTestCase() {
    char reply[256] = {};
    QCOMPARE(HTAPI.HTServerExecute("", "add server Other other", sizeof reply, reply), HTSUCCESS);
    Create("", "top.nsf", "Top");
    Create("", "mail\\abc.nsf", "Abc Mail");
    Create("", "mail\\zed.nsf", "zed");
    Create("", "mail\\deep\\inner.nsf", "Inner");
    Create("Other", "remote.nsf", "Remote");
  }

  void theFormHasItsControlsWhereTheyBelong() {
    TNDBWindow dialog(nullptr, &session_);
    QCOMPARE(dialog.objectName(), QString("NDBWindow"));
    QCOMPARE(dialog.windowTitle(), QString("Select Database"));
    QCOMPARE(dialog.size(), QSize(383, 280));
    QCOMPARE(dialog.font().pixelSize(), 11);
    QCOMPARE(dialog.font().family(), QString("MS Sans Serif"));
    QCOMPARE(dialog.Label1->geometry(), QRect(4, 4, 37, 13));
    QCOMPARE(dialog.Label1->text(), QString("Server :"));
    QCOMPARE(dialog.cboServers->geometry(), QRect(4, 20, 273, 21));
    QVERIFY(!dialog.cboServers->isEditable());
    QCOMPARE(dialog.Label2->geometry(), QRect(4, 48, 52, 13));
    QCOMPARE(dialog.Label2->text(), QString("Database :"));
    QCOMPARE(dialog.lstDBS->geometry(), QRect(4, 64, 273, 130));
    QVERIFY(dialog.lstDBS->isSortingEnabled());
    QCOMPARE(dialog.BitBtn1->geometry(), QRect(300, 16, 75, 29));
    QCOMPARE(dialog.BitBtn1->text(), QString("OK"));
    QVERIFY(!dialog.BitBtn1->icon().pixmap(16, 16, QIcon::Normal).isNull());
    QVERIFY(!dialog.BitBtn1->icon().pixmap(16, 16, QIcon::Disabled).isNull());
    QCOMPARE(dialog.txtDBFile->geometry(), QRect(4, 256, 273, 21));
    QCOMPARE(dialog.BitBtn2->geometry(), QRect(300, 56, 75, 29));
    QCOMPARE(dialog.BitBtn2->text(), QString("Cancel"));
    QCOMPARE(dialog.cmdBrowse->geometry(), QRect(300, 248, 75, 29));
    QCOMPARE(dialog.cmdBrowse->text(), QString("&Browse"));
    QCOMPARE(dialog.OpenDialog1->windowTitle(), QString("Select Database"));
    QCOMPARE(dialog.OpenDialog1->defaultSuffix(), QString("nsf"));
    QCOMPARE(dialog.OpenDialog1->nameFilters(), QStringList({"Notes Databases (*.nsf *.ntf)"}));
    QCOMPARE(dialog.OpenDialog1->fileMode(), QFileDialog::ExistingFile);

    // Tab order, starting at the server box, which has the focus.
    QCOMPARE(dialog.focusWidget(), dialog.cboServers);
    QList<QWidget*> order;
    QWidget* w = dialog.cboServers;
    for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
      while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
      order << w;
    }
    QCOMPARE(order, QList<QWidget*>({dialog.cboServers, dialog.lstDBS, dialog.BitBtn1, dialog.txtDBFile,
                                     dialog.BitBtn2, dialog.cmdBrowse}));
  }

  void serversAreListedAndTheFirstServersTopLevelShown() {
    TNDBWindow dialog(nullptr, &session_);
    QCOMPARE(dialog.cboServers->count(), 2);
    QCOMPARE(dialog.cboServers->itemText(1), QString("Other"));
    QCOMPARE(dialog.GetServer(), QString("Local"));
    // Directories, upper case after a blank, above every database; the server's own
    // directory "other" sits in the local data directory too.
    QCOMPARE(Items(*dialog.lstDBS), QStringList({" MAIL", " OTHER", "Top"}));
    QVERIFY(dialog.CurrentDir().isEmpty());
    QVERIFY(dialog.SelectedDB().isEmpty());
    QVERIFY(dialog.lstDBS->currentItem() == nullptr);
  }

  void walkingIntoMailAndBackWithDotDot() {
    TNDBWindow dialog(nullptr, &session_);
    QListWidget& list = *dialog.lstDBS;
    list.setCurrentRow(Row(list, " MAIL"));
    QCOMPARE(dialog.txtDBFile->text(), QString("mail"));
    QVERIFY(dialog.SelectedDB().isEmpty());

    dialog.lstDBSDblClick();
    QCOMPARE(dialog.CurrentDir(), QString("MAIL\\"));
    QCOMPARE(Items(list), QStringList({" ..", " DEEP", "Abc Mail", "zed"}));
    list.setCurrentRow(Row(list, "Abc Mail"));
    QCOMPARE(dialog.txtDBFile->text(), QString("MAIL\\abc.nsf"));
    QCOMPARE(dialog.SelectedDB(), QString("MAIL\\abc.nsf"));
    dialog.lstDBSDblClick();  // a database: nothing happens
    QCOMPARE(dialog.CurrentDir(), QString("MAIL\\"));
    QCOMPARE(dialog.SelectedDB(), QString("MAIL\\abc.nsf"));

    list.setCurrentRow(Row(list, " DEEP"));
    dialog.lstDBSDblClick();
    QCOMPARE(dialog.CurrentDir(), QString("MAIL\\DEEP\\"));
    QCOMPARE(Items(list), QStringList({" ..", "Inner"}));
    list.setCurrentRow(Row(list, "Inner"));
    QCOMPARE(dialog.SelectedDB(), QString("MAIL\\DEEP\\inner.nsf"));

    list.setCurrentRow(Row(list, " .."));
    dialog.lstDBSDblClick();
    QCOMPARE(dialog.CurrentDir(), QString("MAIL\\"));
    QVERIFY(dialog.SelectedDB().isEmpty());
    QCOMPARE(Items(list), QStringList({" ..", " DEEP", "Abc Mail", "zed"}));
    list.setCurrentRow(Row(list, " .."));
    dialog.lstDBSDblClick();
    QVERIFY(dialog.CurrentDir().isEmpty());
    QCOMPARE(Items(list), QStringList({" MAIL", " OTHER", "Top"}));

    // Without a current item a double click does nothing.
    list.setCurrentRow(-1);
    dialog.lstDBSDblClick();
    QCOMPARE(Items(list), QStringList({" MAIL", " OTHER", "Top"}));
  }

  void drawingAnItemPaintsItsBitmapAndOnlyTheCurrentOneIsChosen() {
    TNDBWindow dialog(nullptr, &session_);
    QListWidget& list = *dialog.lstDBS;
    const int mail = Row(list, " MAIL");
    const int top = Row(list, "Top");
    list.setCurrentRow(top);
    QCOMPARE(dialog.SelectedDB(), QString("top.nsf"));

    QImage image(200, 18, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
      QPainter painter(&image);
      dialog.lstDBSDrawItem(painter, mail, QRect(0, 0, 200, 18), QStyle::State_Enabled);
    }
    // Drawing another item leaves the choice alone.
    QCOMPARE(dialog.SelectedDB(), QString("top.nsf"));
    QCOMPARE(dialog.txtDBFile->text(), QString("top.nsf"));
    // The list's brush, then the directory bitmap at (2, 0), transparent where it has no
    // colour.
    const QImage dir = QRLoadBitmap("DIR").toImage();
    QCOMPARE(dir.size(), QSize(15, 14));
    const QRgb base = list.palette().base().color().rgb();
    QCOMPARE(image.pixel(0, 0), base);
    int checked = 0;
    for (int y = 0; y < dir.height(); ++y) {
      for (int x = 0; x < dir.width(); ++x) {
        const QRgb expected = qAlpha(dir.pixel(x, y)) == 255 ? dir.pixel(x, y) : base;
        QCOMPARE(image.pixel(x + 2, y) & 0xFFFFFF, expected & 0xFFFFFF);
        ++checked;
      }
    }
    QCOMPARE(checked, 15 * 14);
    QCOMPARE(QRLoadBitmap("NDB").size(), QSize(14, 14));

    // The current item, drawn, sets the choice again (after the user typed over it).
    dialog.txtDBFile->setText("typed");
    {
      QPainter painter(&image);
      dialog.lstDBSDrawItem(painter, top, QRect(0, 0, 200, 18), QStyle::State_Selected);
    }
    QCOMPARE(dialog.txtDBFile->text(), QString("top.nsf"));

    // A real repaint of the whole list keeps the current item's choice.
    dialog.show();
    list.grab();
    QCOMPARE(dialog.SelectedDB(), QString("top.nsf"));
  }

  void anotherServerIsListedOnPickOrEnter() {
    TNDBWindow dialog(nullptr, &session_);
    QListWidget& list = *dialog.lstDBS;
    list.setCurrentRow(Row(list, " MAIL"));
    dialog.lstDBSDblClick();
    dialog.cboServers->setCurrentIndex(1);
    QVERIFY(!dialog.cboServersKeyDown(Qt::Key_A));
    QCOMPARE(dialog.CurrentDir(), QString("MAIL\\"));
    QVERIFY(dialog.cboServersKeyDown(Qt::Key_Return));
    QVERIFY(dialog.CurrentDir().isEmpty());
    QCOMPARE(Items(list), QStringList({"Remote"}));
    QCOMPARE(dialog.GetServer(), QString("Other"));
    list.setCurrentRow(0);
    QCOMPARE(dialog.SelectedDB(), QString("remote.nsf"));

    // Through the widget: Enter in the box, and a pick.
    dialog.cboServers->setCurrentIndex(0);
    QTest::keyClick(dialog.cboServers, Qt::Key_Enter);
    QCOMPARE(Items(list), QStringList({" MAIL", " OTHER", "Top"}));
    dialog.cboServers->setCurrentIndex(1);
    emit dialog.cboServers->activated(1);
    QCOMPARE(Items(list), QStringList({"Remote"}));
  }

  void noServerOrNoSessionLeavesBothListsEmpty() {
    {
      NoServers none;
      TNDBWindow dialog(nullptr, &session_);
      QCOMPARE(dialog.cboServers->count(), 0);
      QCOMPARE(dialog.lstDBS->count(), 0);
      QCOMPARE(dialog.GetServer(), QString());
      dialog.lstDBSDblClick();
      QVERIFY(dialog.SelectedDB().isEmpty());
    }
    TNDBWindow dialog(nullptr, nullptr);
    QCOMPARE(dialog.cboServers->count(), 0);
    dialog.GetList("Local", "");
    QCOMPARE(dialog.lstDBS->count(), 0);
  }

  void browsingChoosesALocalFileAndCancellingKeepsTheChoice() {
    TNDBWindow dialog(nullptr, &session_);
    const QString file = QString::fromStdString(quireqt::DataDir() + "/top.nsf");
    QTimer::singleShot(0, &dialog, [&] {
      dialog.OpenDialog1->selectFile(file);
      static_cast<QDialog*>(dialog.OpenDialog1)->accept();
    });
    dialog.cmdBrowseClick();
    QCOMPARE(dialog.SelectedDB(), file);
    QCOMPARE(dialog.txtDBFile->text(), file);

    QTimer::singleShot(0, &dialog, [&] { dialog.OpenDialog1->reject(); });
    dialog.cmdBrowseClick();
    QVERIFY(dialog.txtDBFile->text().isEmpty());
    QCOMPARE(dialog.SelectedDB(), file);
  }

  void selectDBAnswersOnlyAfterOK() {
    TQuireDataCtrl control;
    QString server = "unchanged";
    QVERIFY(control.SelectDB(server).isEmpty());
    QCOMPARE(server, QString("unchanged"));
    QVERIFY(NDBWindow == nullptr);

    control.SetActive(true);
    control.SetServerName("S");
    control.SetDBName("D");
    QTimer::singleShot(0, [] {
      QVERIFY(NDBWindow != nullptr && NDBWindow->isModal() && NDBWindow->isVisible());
      QListWidget& list = *NDBWindow->lstDBS;
      list.setCurrentRow(Row(list, " MAIL"));
      NDBWindow->lstDBSDblClick();
      list.setCurrentRow(Row(list, "zed"));
      NDBWindow->BitBtn1->click();
    });
    QCOMPARE(control.SelectDB(server), QString("MAIL\\zed.nsf"));
    QCOMPARE(server, QString("Local"));
    QVERIFY(NDBWindow == nullptr);
    QCOMPARE(control.ServerName(), QString("S"));
    QCOMPARE(control.DBName(), QString("D"));
    QVERIFY(control.findChildren<TNDBWindow*>().isEmpty());

    server = "unchanged";
    QTimer::singleShot(0, [] {
      NDBWindow->lstDBS->setCurrentRow(Row(*NDBWindow->lstDBS, "Top"));
      NDBWindow->BitBtn2->click();
    });
    QVERIFY(control.SelectDB(server).isEmpty());
    QCOMPARE(server, QString("unchanged"));
  }
};

QUIRE_QTEST_MAIN(DatabaseDialogTest)
#include "QRDBWin_test.moc"
