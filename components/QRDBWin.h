// QRDBWin: the database selection dialog (TNDBWindow) and the bitmap of its list items
// (TQRBitmap).
//
// A modal dialog in which the user picks a database: a combo box of the servers the session
// reaches, an owner-drawn list of the directories and databases of the chosen server (a
// directory is shown as its name in upper case after one blank, so directories sort first),
// browsing into directories and back up with "..", and Browse, a file dialog for a local
// database file. SelectedDB is what the user chose (empty when a directory is current or
// nothing is chosen); GetServer the server in the combo box. The data control's SelectDB is
// the usual way to show it.
//
// The dialog is built from the form TNDBWINDOW compiled into the library (a Designer .ui
// file): the controls keep the names the handlers below are named after. The edit box and
// SelectedDB follow the list's current item, whether the user clicked it or moved to it with
// the keyboard; a fresh listing has no current item, so it empties SelectedDB and shows the
// directory listed.
//
// Failures: a listing that fails just ends (the session keeps the code); a session listing
// no server leaves both lists empty; a double click without a current item does nothing.
// Nothing is reported and nothing throws.
//
// Ownership: the session is borrowed and must outlive the dialog. The dialog owns the bitmap
// of every list item. Whoever makes the dialog frees it (it is a QDialog child of its owner
// until then). Threads: the GUI thread only.
#pragma once

#include <QtGui/QPixmap>
#include <QtWidgets/QDialog>
#include <QtWidgets/QStyle>
#include <memory>
#include <vector>

class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QPainter;
class QPushButton;
class TQuireSession;

// A bitmap with the file or directory name the list item it belongs to stands for.
class TQRBitmap : public QPixmap {
 public:
  TQRBitmap() = default;
  explicit TQRBitmap(const QPixmap& picture) : QPixmap(picture) {}
  QString Path;
};

class TNDBWindow : public QDialog {
  Q_OBJECT

 public:
  // Item height of the database list, in pixels.
  static constexpr int kItemHeight = 18;
  // HTDatabaseList's options for the listing, passed as the API expects them.
  static constexpr uint32_t kListOptions = 0x8000;

  // CreateW: builds the form, lists the session's servers, selects the first and lists its
  // top level. `session` may be null: the lists stay empty.
  TNDBWindow(QWidget* owner, TQuireSession* session);
  // FormDestroy, then the dialog.
  ~TNDBWindow() override;
  TNDBWindow(const TNDBWindow&) = delete;
  TNDBWindow& operator=(const TNDBWindow&) = delete;

  QString GetServer() const;
  // Refills the database list with `directory` (relative to the server's data directory,
  // "" for the top level, "A\\.." for A's parent) of `server`.
  void GetList(const QString& server, const QString& directory);

  QString SelectedDB() const { return FSelectedDB; }
  QString CurrentDir() const { return FCurrentDir; }
  TQuireSession* Session() const { return FSession; }

  // ---- Handlers, connected to the form's controls by name.
  // The user picked a server: its top level is listed.
  void cboServersClick();
  // Enter in the server box does what a pick does; other keys are left to the box. True when
  // the key was taken.
  bool cboServersKeyDown(int key);
  // On the current item: a directory is entered, ".." goes up; a database does nothing.
  void lstDBSDblClick();
  // Draws item `index` into `rect`: the list's brush, the item's bitmap, its text. The
  // current item, drawn, also sets the edit box and SelectedDB.
  void lstDBSDrawItem(QPainter& canvas, int index, const QRect& rect, QStyle::State state);
  // Runs the file dialog; a chosen file becomes SelectedDB and the edit box's text, a cancel
  // empties the edit box and keeps SelectedDB.
  void cmdBrowseClick();
  // Frees every item's bitmap.
  void FormDestroy();

  // The form's controls.
  QLabel* Label1 = nullptr;
  QComboBox* cboServers = nullptr;
  QLabel* Label2 = nullptr;
  QListWidget* lstDBS = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QLineEdit* txtDBFile = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QPushButton* cmdBrowse = nullptr;
  QFileDialog* OpenDialog1 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class ItemDelegate;

  void LoadForm();
  void ConnectHandlers();
  void FillServers();
  void FollowItem(int index);

  QString FSelectedDB;
  TQuireSession* FSession = nullptr;
  QString FCurrentDir;
  std::vector<std::unique_ptr<TQRBitmap>> FBitmaps;
};

// The dialog while the data control's SelectDB shows it, otherwise null.
extern TNDBWindow* NDBWindow;
