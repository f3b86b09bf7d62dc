#include "components/QRDBWin.h"

#include <QtCore/QFile>
#include <QtCore/QPointer>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtUiTools/QUiLoader>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyledItemDelegate>

#include "components/QRData.h"
#include "framework/QRResources.h"
#include "objects/QRSessn.h"

TNDBWindow* NDBWindow = nullptr;

namespace {

constexpr char kFormPath[] = ":/quire/forms/TNDBWINDOW";
constexpr int kListFirst = 2;  // HTLIST_FIRST
constexpr int kListNext = 4;   // HTLIST_NEXT

// Builds the form's top-level widget into the dialog itself, so the dialog is the form.
class FormInto : public QUiLoader {
 public:
  explicit FormInto(QDialog* form) : form_(form) {}
  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    if (parent == nullptr && !used_) {
      used_ = true;
      form_->setObjectName(name);
      return form_;
    }
    return QUiLoader::createWidget(className, parent, name);
  }

 private:
  QDialog* form_;
  bool used_ = false;
};

// A list entry: its bitmap (owned by the dialog) and a sort that ignores letter case.
class DBListItem : public QListWidgetItem {
 public:
  DBListItem(const QString& text, TQRBitmap* bitmap) : QListWidgetItem(text), Bitmap(bitmap) {}
  bool operator<(const QListWidgetItem& other) const override {
    return text().compare(other.text(), Qt::CaseInsensitive) < 0;
  }
  TQRBitmap* Bitmap;
};

DBListItem* ItemOf(QListWidget* list, int index) { return static_cast<DBListItem*>(list->item(index)); }

// The control of that name on the form; a bare one when the form lacks it, so that a damaged
// form shows an incomplete dialog instead of crashing it.
template <class T>
T* Control(QDialog* form, const char* name) {
  if (T* found = form->findChild<T*>(QString::fromLatin1(name))) return found;
  T* made = new T(form);
  made->setObjectName(QString::fromLatin1(name));
  return made;
}

// A directory's parent in the dialog's form: A\B\ gives A\, A\ gives the top level.
QString ParentDir(const QString& directory) {
  QString trimmed = directory;
  if (trimmed.endsWith(QLatin1Char('\\'))) trimmed.chop(1);
  const int slash = trimmed.lastIndexOf(QLatin1Char('\\'));
  return slash < 0 ? QString() : trimmed.left(slash + 1);
}

}  // namespace

// Hands the drawing of each list item to the dialog's handler.
class TNDBWindow::ItemDelegate : public QStyledItemDelegate {
 public:
  explicit ItemDelegate(TNDBWindow* window) : QStyledItemDelegate(window), window_(window) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    window_->lstDBSDrawItem(*painter, index.row(), option.rect, option.state);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
  }

 private:
  TNDBWindow* window_;
};

// ---------------------------------------------------------------------------------------
// Construction

TNDBWindow::TNDBWindow(QWidget* owner, TQuireSession* session) : QDialog(owner), FSession(session) {
  LoadForm();
  ConnectHandlers();
  FillServers();
  if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  cboServers->setFocus();
}

TNDBWindow::~TNDBWindow() { FormDestroy(); }

void TNDBWindow::LoadForm() {
  QFile file(QString::fromLatin1(kFormPath));
  if (file.open(QIODevice::ReadOnly)) {
    FormInto loader(this);
    loader.load(&file, nullptr);
  }
  Label1 = Control<QLabel>(this, "Label1");
  cboServers = Control<QComboBox>(this, "cboServers");
  Label2 = Control<QLabel>(this, "Label2");
  lstDBS = Control<QListWidget>(this, "lstDBS");
  BitBtn1 = Control<QPushButton>(this, "BitBtn1");
  txtDBFile = Control<QLineEdit>(this, "txtDBFile");
  BitBtn2 = Control<QPushButton>(this, "BitBtn2");
  cmdBrowse = Control<QPushButton>(this, "cmdBrowse");

  // What a Designer form cannot say: a font height in pixels, the title bar, the fixed size.
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  lstDBS->setItemDelegate(new ItemDelegate(this));
  lstDBS->setSortingEnabled(true);
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

  OpenDialog1 = new QFileDialog(this, QStringLiteral("Select Database"));
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  OpenDialog1->setDefaultSuffix(QStringLiteral("nsf"));
  OpenDialog1->setNameFilter(QStringLiteral("Notes Databases (*.nsf *.ntf)"));
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
}

void TNDBWindow::ConnectHandlers() {
  connect(cboServers, &QComboBox::activated, this, [this] { cboServersClick(); });
  cboServers->installEventFilter(this);
  connect(lstDBS, &QListWidget::itemDoubleClicked, this, [this] { lstDBSDblClick(); });
  connect(lstDBS, &QListWidget::currentRowChanged, this, [this](int row) { FollowItem(row); });
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowseClick(); });
}

void TNDBWindow::FillServers() {
  if (FSession == nullptr) return;
  for (std::string name = FSession->GetServerName(qrFirst); !name.empty(); name = FSession->GetServerName(qrNext))
    cboServers->addItem(QString::fromStdString(name));
  // Without a server there is nothing to list: an empty name would mean the local one.
  if (cboServers->count() == 0) return;
  cboServers->setCurrentIndex(0);
  GetList(cboServers->itemText(0), QString());
}

// ---------------------------------------------------------------------------------------
// Listing

QString TNDBWindow::GetServer() const { return cboServers->currentText(); }

void TNDBWindow::GetList(const QString& server, const QString& directory) {
  // The items point at the bitmaps: the list goes first.
  lstDBS->clear();
  FBitmaps.clear();
  if (FSession != nullptr) {
    const std::string serverText = server.toStdString();
    const std::string directoryText = directory.toStdString();
    bool isDirectory = false;
    std::string fileName;
    std::string title;
    int mode = kListFirst;
    while (FSession->DBList(serverText, directoryText, mode, qrDatabase, kListOptions, isDirectory, fileName, title)) {
      mode = kListNext;
      auto bitmap = std::make_unique<TQRBitmap>(QRLoadBitmap(isDirectory ? QStringLiteral("DIR") : QStringLiteral("NDB")));
      bitmap->Path = QString::fromStdString(fileName);
      const QString text = isDirectory ? QLatin1Char(' ') + QString::fromStdString(fileName).toUpper()
                                       : QString::fromStdString(title);
      lstDBS->addItem(new DBListItem(text, bitmap.get()));
      FBitmaps.push_back(std::move(bitmap));
    }
  }
  // A fresh listing has nothing chosen in it yet.
  lstDBS->setCurrentRow(-1);
  FSelectedDB.clear();
  txtDBFile->setText(FCurrentDir);
}

// ---------------------------------------------------------------------------------------
// Handlers

void TNDBWindow::cboServersClick() {
  FCurrentDir.clear();
  GetList(cboServers->currentText(), QString());
}

bool TNDBWindow::cboServersKeyDown(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  cboServersClick();
  return true;
}

bool TNDBWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cboServers && event->type() == QEvent::KeyPress)
    return cboServersKeyDown(static_cast<QKeyEvent*>(event)->key());
  return QDialog::eventFilter(watched, event);
}

void TNDBWindow::lstDBSDblClick() {
  const int index = lstDBS->currentRow();
  if (index < 0) return;
  const QString text = lstDBS->item(index)->text();
  if (!text.startsWith(QLatin1Char(' '))) return;
  FSelectedDB.clear();
  const QString name = text.trimmed();
  if (name == QLatin1String("..")) {
    // The API resolves A\B\.. itself; CurrentDir keeps the dialog's own, shorter form.
    const QString request = FCurrentDir + name;
    FCurrentDir = ParentDir(FCurrentDir);
    GetList(cboServers->currentText(), request);
    return;
  }
  FCurrentDir += name + QLatin1Char('\\');
  GetList(cboServers->currentText(), FCurrentDir);
}

void TNDBWindow::lstDBSDrawItem(QPainter& canvas, int index, const QRect& rect, QStyle::State state) {
  DBListItem* item = ItemOf(lstDBS, index);
  if (item == nullptr) return;
  const bool selected = state.testFlag(QStyle::State_Selected);
  const QPalette& colours = lstDBS->palette();
  canvas.fillRect(rect, selected ? colours.highlight() : colours.base());
  int offset = 2;
  if (item->Bitmap != nullptr && !item->Bitmap->isNull()) {
    // Transparent pixels show the brush just laid, as a brush-copy would.
    canvas.drawPixmap(rect.left() + 2, rect.top(), *item->Bitmap);
    offset = item->Bitmap->width() + 6;
  }
  canvas.setPen(selected ? colours.color(QPalette::HighlightedText) : colours.color(QPalette::Text));
  canvas.drawText(rect.adjusted(offset, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, item->text());
  if (state.testFlag(QStyle::State_HasFocus)) {
    QStyleOptionFocusRect focus;
    focus.rect = rect;
    focus.state = state;
    lstDBS->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &canvas, lstDBS);
  }
  // Only the current item decides what is chosen: items are drawn in whatever order the
  // view repaints them, and the last one drawn need not be the one the user picked.
  if (index == lstDBS->currentRow()) FollowItem(index);
}

void TNDBWindow::FollowItem(int index) {
  DBListItem* item = ItemOf(lstDBS, index);
  if (item == nullptr) return;
  txtDBFile->setText(FCurrentDir + (item->Bitmap != nullptr ? item->Bitmap->Path : QString()));
  if (item->text().startsWith(QLatin1Char(' ')))
    FSelectedDB.clear();
  else
    FSelectedDB = txtDBFile->text();
}

void TNDBWindow::cmdBrowseClick() {
  QString chosen;
  if (OpenDialog1->exec() == QDialog::Accepted && !OpenDialog1->selectedFiles().isEmpty()) {
    chosen = OpenDialog1->selectedFiles().constFirst();
    FSelectedDB = chosen;
  }
  QCoreApplication::processEvents();
  txtDBFile->setText(chosen);
}

void TNDBWindow::FormDestroy() {
  if (lstDBS != nullptr) lstDBS->clear();
  FBitmaps.clear();
}

// ---------------------------------------------------------------------------------------
// The data control's database selection

QString TQuireDataCtrl::SelectDB(QString& server) {
  if (!FActive || FSession == nullptr) return {};
  QPointer<TQuireDataCtrl> self(this);
  // The dialog is the control's child: should the control go while the dialog runs, the
  // dialog goes with it and neither is touched again.
  QPointer<TNDBWindow> dialog = new TNDBWindow(this, FSession);
  NDBWindow = dialog;
  const int result = dialog->exec();
  NDBWindow = nullptr;
  QString selected;
  if (dialog && self) {
    if (result == QDialog::Accepted) {
      selected = dialog->SelectedDB();
      server = dialog->GetServer();
    }
    delete dialog;
  }
  return selected;
}
