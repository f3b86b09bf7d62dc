#include "tools/explorer/Explorer.h"

#include <QtCore/QDate>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtCore/QSettings>
#include <QtCore/QTime>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QTreeView>
#include <cmath>
#include <sstream>

#include "binding/Quire01.h"
#include "components/QRData.h"
#include "components/QRMail.h"
#include "components/QRNav.h"
#include "components/QRServls.h"
#include "framework/QRFormLoader.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRItem.h"
#include "objects/Quiredoc.h"
#include "objects/QRFolder.h"
#include "objects/QRView.h"
#include "rtl/MessageBox.h"
#include "tools/explorer/AclDialog.h"
#include "tools/explorer/RowModel.h"
#include "tools/sample/SampleData.h"

namespace {

constexpr char kSettingsGroup[] = "Explorer";
constexpr char kRecentKey[] = "recent";
constexpr int kRecentLimit = 8;
constexpr char kServerSeparator[] = "!!";
// Shown beside each name in the side list, so views and folders can share a name.
constexpr int kFolderRole = Qt::UserRole + 1;

// Days since 30 December 1899, the fraction the time of day, as the item holds them.
rtl::TDateTime ToCalendar(const QDateTime& value) {
  const qint64 days = QDate(1899, 12, 30).daysTo(value.date());
  return double(days) + double(value.time().msecsSinceStartOfDay()) / 86400000.0;
}

QDateTime FromCalendar(rtl::TDateTime value) {
  const double days = std::floor(value);
  const qint64 msecs = std::llround((value - days) * 86400000.0);
  return QDateTime(QDate(1899, 12, 30).addDays(qint64(days)), QTime(0, 0).addMSecs(int(msecs)));
}

constexpr char kDateFormat[] = "yyyy-MM-dd HH:mm:ss";

QString TypeName(TQRItemType type) {
  switch (type) {
    case qrTypeNumber: return QStringLiteral("Number");
    case qrTypeText: return QStringLiteral("Text");
    case qrTypeDateTime: return QStringLiteral("Date-time");
    case qrTypeTextList: return QStringLiteral("Text list");
    case qrTypeNumberList: return QStringLiteral("Number list");
    case qrTypeDateTimeList: return QStringLiteral("Date-time list");
    case qrTypeComposite: return QStringLiteral("Rich text");
    case qrTypeFormula: return QStringLiteral("Formula");
    case qrTypeInvalid: break;
  }
  return QStringLiteral("Other");
}

QString HumanSize(int64_t bytes) {
  if (bytes < 0) return QStringLiteral("unknown size");
  if (bytes < 10 * 1024) return QStringLiteral("%1 bytes").arg(bytes);
  if (bytes < 10 * 1024 * 1024) return QStringLiteral("%1 KB").arg(bytes / 1024);
  return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

template <class T>
T* Part(QWidget* window, const char* name) {
  return window->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace

// The form is compiled into the explorer's static library, whose resources a program only
// gets when something registers them.
static void LoadExplorerResources() { Q_INIT_RESOURCE(explorer); }

Explorer::Explorer() {
  LoadExplorerResources();
  Confirm = [this](const QString& question) {
    return QMessageBox::question(window_.get(), QStringLiteral("Quire Explorer"), question) == QMessageBox::Yes;
  };
  QRFormLoader loader;
  window_ = loader.Load(QStringLiteral(":/explorer/ExplorerWindow.ui"));
  if (!window_) {
    formError_ = loader.ErrorString();
    return;
  }
  FindParts();
  if (!window_) return;
  Wire();
  FillRecent();
}

Explorer::~Explorer() {
  // The components outlive this body for a moment (they go with the window): they must not
  // call back into an explorer being taken apart.
  if (dataCtrl_) {
    dataCtrl_->OnError = nullptr;
    dataCtrl_->OnMove = nullptr;
    dataCtrl_->OnDelete = nullptr;
    dataCtrl_->OnAdd = nullptr;
  }
  if (navigator_) navigator_->OnClick = nullptr;
  if (sendMail_) {
    sendMail_->OnError = nullptr;
    sendMail_->OnSuccess = nullptr;
  }
  window_.reset();
  // The tree's view object borrows the tree's database handle: it goes first.
  if (model_) model_->SetIndex(nullptr);
  treeDatabase_.reset();
}

void Explorer::FindParts() {
  QWidget* w = window_.get();
  dataCtrl_ = Part<TQuireDataCtrl>(w, "dataCtrl");
  navigator_ = Part<TNDBNavigator>(w, "navigator");
  sendMail_ = Part<TQuireSendMail>(w, "sendMail");
  servers_ = Part<TQuireServerList>(w, "cboServers");
  views_ = Part<QListWidget>(w, "lstViews");
  tree_ = Part<QTreeView>(w, "treeRows");
  items_ = Part<QTableWidget>(w, "tblItems");
  attachments_ = Part<QListWidget>(w, "lstAttachments");
  database_ = Part<QLabel>(w, "lblDatabase");
  info_ = Part<QLabel>(w, "lblInfo");
  document_ = Part<QLabel>(w, "lblDocument");
  keyText_ = Part<QLineEdit>(w, "txtKey");
  ftText_ = Part<QLineEdit>(w, "txtFullText");
  recent_ = Part<QComboBox>(w, "cboRecent");
  status_ = Part<QPlainTextEdit>(w, "txtStatus");
  const bool complete = dataCtrl_ && navigator_ && sendMail_ && servers_ && views_ && tree_ && items_ &&
                        attachments_ && database_ && info_ && document_ && keyText_ && ftText_ && recent_ && status_;
  if (!complete) {
    formError_ = QStringLiteral("the explorer's form lacks one of its parts");
    window_.reset();
  }
}

void Explorer::Wire() {
  QWidget* w = window_.get();
  if (auto* splitter = Part<QSplitter>(w, "splitter")) {
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({160, 640, 360});
  }
  model_ = new RowModel(this);
  tree_->setModel(model_);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { FollowTree(current); });

  items_->setHorizontalHeaderLabels({QStringLiteral("Item"), QStringLiteral("Type"), QStringLiteral("Value")});
  items_->horizontalHeader()->setStretchLastSection(true);
  items_->verticalHeader()->setVisible(false);
  items_->setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(items_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { ItemEdited(item); });

  connect(views_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
    if (item) ShowView(item->text());
  });
  connect(Part<QPushButton>(w, "cmdOpen"), &QPushButton::clicked, this, [this] { ChooseDatabase(); });
  connect(recent_, &QComboBox::activated, this, [this](int index) {
    if (index > 0) Open(recent_->itemData(index).toString());
  });
  auto keySearch = [this] { KeySearch(keyText_->text()); };
  connect(keyText_, &QLineEdit::returnPressed, this, keySearch);
  connect(Part<QPushButton>(w, "cmdKeySearch"), &QPushButton::clicked, this, keySearch);
  auto ftSearch = [this] { FullTextSearch(ftText_->text()); };
  connect(ftText_, &QLineEdit::returnPressed, this, ftSearch);
  connect(Part<QPushButton>(w, "cmdFTSearch"), &QPushButton::clicked, this, ftSearch);
  connect(Part<QPushButton>(w, "cmdFTClear"), &QPushButton::clicked, this, [this] { ClearFullText(); });
  connect(Part<QPushButton>(w, "cmdAcl"), &QPushButton::clicked, this, [this] {
    if (QWidget* dialog = ShowAclDialog()) static_cast<QDialog*>(dialog)->exec();
  });
  connect(Part<QPushButton>(w, "cmdMail"), &QPushButton::clicked, this, [this] { ComposeMail(); });
  connect(Part<QPushButton>(w, "cmdExtract"), &QPushButton::clicked, this, [this] { ChooseAttachmentToExtract(); });
  connect(Part<QPushButton>(w, "cmdAttach"), &QPushButton::clicked, this, [this] { ChooseFileToAttach(); });
  connect(Part<QPushButton>(w, "cmdAddItem"), &QPushButton::clicked, this, [this, w] {
    auto* name = Part<QLineEdit>(w, "txtNewItem");
    auto* type = Part<QComboBox>(w, "cboNewType");
    if (name && type && AddItem(name->text().trimmed(), type->currentIndex(), QString())) name->clear();
  });
  WireDataCtrl();
  WireSendMail();
}

void Explorer::WireDataCtrl() {
  dataCtrl_->OnError = [this](QObject*, const QString& errstr, int hterr, int, const QString& htmsg) {
    Status(QStringLiteral("Error: %1 %2 (0x%3)").arg(errstr, htmsg).arg(uint32_t(hterr), 8, 16, QLatin1Char('0')));
    if (showErrorBoxes_) rtl::ShowMessageBox((errstr + "\r\n" + htmsg).toStdString(), "Quire Explorer");
  };
  dataCtrl_->OnMove = [this](QObject*, int posn, const QString&, bool, bool, bool) { OnMoved(posn); };
  dataCtrl_->OnDelete = [this](QObject*, bool& cancel) {
    cancel = !Confirm(QStringLiteral("Delete the current document?"));
    if (cancel) Status(QStringLiteral("Deletion cancelled."));
  };
  dataCtrl_->OnAdd = [this](QObject*) {
    Status(QStringLiteral("New document (form \"%1\"); add items, then Post.").arg(dataCtrl_->Form()));
    ShowCurrentDocument();
  };
  navigator_->OnClick = [this](QObject*, TNDNavigateBtn button) {
    switch (button) {
      case qrbPost: {
        const uint32_t code = dataCtrl_->GetDocLastError();
        if (code != 0) {
          Status(QStringLiteral("Error: the document was not saved: %1").arg(QString::fromStdString(GetNotesErrorText(code))));
          return;
        }
        Status(QStringLiteral("Document saved."));
        model_->Reload();
        dataCtrl_->Refresh();
        break;
      }
      case qrbDelete:
      case qrbRefresh:
        model_->Reload();
        OnMoved(dataCtrl_->GetPosition());
        break;
      case qrbCancel: ShowCurrentDocument(); break;
      default: break;
    }
  };
}

void Explorer::WireSendMail() {
  sendMail_->OnError = [this](QObject*, const QString& errstr, int hterr, int, const QString& htmsg) {
    mailSent_ = false;
    Status(QStringLiteral("Mail error: %1 %2 (0x%3)").arg(errstr, htmsg).arg(uint32_t(hterr), 8, 16, QLatin1Char('0')));
    if (showErrorBoxes_) rtl::ShowMessageBox((errstr + "\r\n" + htmsg).toStdString(), "Quire Explorer");
  };
  sendMail_->OnSuccess = [this](QObject*) {
    mailSent_ = true;
    Status(QStringLiteral("Mail sent to %1.").arg(sendMail_->SendTo()));
  };
}

// ---- Status area

void Explorer::Status(const QString& line) {
  status_->appendPlainText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss  ")) + line);
}

QStringList Explorer::StatusLines() const {
  QStringList lines = status_->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (QString& line : lines) line = line.mid(10);
  return lines;
}

// ---- Opening

bool Explorer::Open(const QString& serverAndPath) {
  const int split = serverAndPath.indexOf(QLatin1String(kServerSeparator));
  if (split < 0) return Open(QString(), serverAndPath);
  return Open(serverAndPath.left(split), serverAndPath.mid(split + 2));
}

void Explorer::CloseDatabase() {
  model_->SetIndex(nullptr);
  treeDatabase_.reset();
  if (dataCtrl_->DBOpen()) dataCtrl_->CloseDatabase();
  views_->clear();
  items_->setRowCount(0);
  attachments_->clear();
}

bool Explorer::Open(const QString& serverName, const QString& path) {
  if (!window_) return false;
  // The server list and the database dialog name the local server "Local".
  const QString server = serverName.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0 ? QString() : serverName;
  CloseDatabase();
  if (!dataCtrl_->Active()) dataCtrl_->SetActive(true);
  if (!servers_->Active()) servers_->SetActive(true);
  dataCtrl_->SetServerName(server);
  dataCtrl_->SetDBName(path);
  if (!dataCtrl_->OpenDatabase()) {
    Status(QStringLiteral("Cannot open %1.").arg(path));
    return false;
  }
  TQuireSession* session = dataCtrl_->Session();
  treeDatabase_ = session ? session->GetDatabase(server.toStdString(), path.toStdString()) : nullptr;
  if (!treeDatabase_) {
    Status(QStringLiteral("Error: cannot open %1 for the view: %2")
               .arg(path, session ? QString::fromStdString(session->GetNotesErrorString()) : QString()));
    dataCtrl_->CloseDatabase();
    return false;
  }
  server_ = server;
  path_ = path;
  const int serverIndex = servers_->findText(server.isEmpty() ? QStringLiteral("Local") : server);
  if (serverIndex >= 0) servers_->setCurrentIndex(serverIndex);
  ShowDatabaseInfo();
  Remember(server, path);
  FillViews();
  Status(QStringLiteral("Opened %1%2.").arg(server.isEmpty() ? QString() : server + "!!", path));
  return true;
}

bool Explorer::OpenSample() {
  std::ostringstream log;
  try {
    TQuireSession session;
    quiresample::EnsureSampleDatabase(session, log);
  } catch (const quiresample::SampleFailure& failure) {
    Status(QStringLiteral("Error: %1").arg(QString::fromStdString(failure.what())));
    return false;
  }
  if (!log.str().empty()) Status(QString::fromStdString(log.str()).trimmed());
  return Open(QString(), QString::fromLatin1(quiresample::kSamplePath));
}

void Explorer::ChooseDatabase() {
  if (!dataCtrl_->Active()) dataCtrl_->SetActive(true);
  QString server = server_;
  const QString path = dataCtrl_->SelectDB(server);
  if (!path.isEmpty()) Open(server, path);
}

void Explorer::ShowDatabaseInfo() {
  const QString title = dataCtrl_->GetDBTitle();
  database_->setText(QStringLiteral("<b>%1</b> &nbsp; %2")
                         .arg(title.toHtmlEscaped(), (server_.isEmpty() ? QString() : server_ + "!!") + path_));
  info_->setText(QStringLiteral("%1 · replica %2 · full text %3")
                     .arg(HumanSize(dataCtrl_->GetDBSize()), dataCtrl_->GetReplicaID(),
                          dataCtrl_->GetDBIsFTIndexed() ? QStringLiteral("indexed") : QStringLiteral("not indexed")));
  window_->setWindowTitle(QStringLiteral("%1 - Quire Explorer").arg(title.isEmpty() ? path_ : title));
}

void Explorer::FillViews() {
  QSignalBlocker block(views_);
  views_->clear();
  for (QString name = dataCtrl_->DBListViews(qrFirst); !name.isEmpty(); name = dataCtrl_->DBListViews(qrNext))
    views_->addItem(name);
  for (QString name = dataCtrl_->DBListFolders(qrFirst); !name.isEmpty(); name = dataCtrl_->DBListFolders(qrNext)) {
    auto* item = new QListWidgetItem(QIcon::fromTheme(QStringLiteral("folder")), name, views_);
    item->setData(kFolderRole, true);
    item->setToolTip(QStringLiteral("Folder"));
  }
  block.unblock();
  if (views_->count() > 0) views_->setCurrentRow(0);
}

// ---- Recent databases

QStringList Explorer::RecentDatabases() {
  QSettings settings;
  settings.beginGroup(kSettingsGroup);
  return settings.value(kRecentKey).toStringList();
}

void Explorer::Remember(const QString& server, const QString& path) {
  const QString entry = server.isEmpty() ? path : server + kServerSeparator + path;
  QStringList recent = RecentDatabases();
  recent.removeAll(entry);
  recent.prepend(entry);
  while (recent.size() > kRecentLimit) recent.removeLast();
  QSettings settings;
  settings.beginGroup(kSettingsGroup);
  settings.setValue(kRecentKey, recent);
  FillRecent();
}

void Explorer::FillRecent() {
  QSignalBlocker block(recent_);
  recent_->clear();
  recent_->addItem(QStringLiteral("(recent databases)"));
  for (const QString& entry : RecentDatabases()) recent_->addItem(entry, entry);
}

// ---- Browsing

bool Explorer::ShowView(const QString& name) {
  if (!dataCtrl_->DBOpen() || !treeDatabase_) return false;
  const auto found = views_->findItems(name, Qt::MatchExactly);
  const bool folder = !found.isEmpty() && found.first()->data(kFolderRole).toBool();
  std::unique_ptr<TQuireViewBase> index;
  if (folder) index = treeDatabase_->GetFolder(name.toStdString());
  else index = treeDatabase_->GetView(name.toStdString());
  if (!index) {
    Status(QStringLiteral("Error: cannot open %1: %2")
               .arg(name, QString::fromStdString(treeDatabase_->GetNotesErrorString())));
    return false;
  }
  model_->SetIndex(std::move(index));
  dataCtrl_->CloseRecordset();
  dataCtrl_->SetRecordsetType(folder ? dFolder : dView);
  if (folder) dataCtrl_->SetFolderName(name);
  else dataCtrl_->SetViewName(name);
  if (!found.isEmpty() && views_->currentItem() != found.first()) {
    QSignalBlocker block(views_);
    views_->setCurrentItem(found.first());
  }
  ftText_->clear();
  const bool opened = dataCtrl_->OpenRecordset();  // moves to the first entry: OnMove selects it
  FitColumns();
  return opened;
}

void Explorer::FitColumns() {
  // The view's widths count twelve units to a character; here a character is the font's.
  // Titles, categories and totals are set in other fonts and must still show whole.
  const int character = tree_->fontMetrics().averageCharWidth();
  const int padding = 2 * character;
  for (int column = 0; column < model_->columnCount(); ++column) {
    int width = std::max(4 * character, model_->ColumnWidth(column) * character / 12);
    const QString title = model_->headerData(column, Qt::Horizontal).toString();
    width = std::max(width, tree_->header()->fontMetrics().horizontalAdvance(title) + padding);
    for (int row = 0; row < model_->rowCount(); ++row) {
      const QModelIndex cell = model_->index(row, column);
      if (RowModel::Kind(cell.data(RowModel::KindRole).toInt()) == RowModel::Kind::Document) continue;
      const QFontMetrics metrics(cell.data(Qt::FontRole).value<QFont>());
      const int indent = column == 0 ? tree_->indentation() : 0;
      width = std::max(width, metrics.horizontalAdvance(cell.data().toString()) + padding + indent);
    }
    tree_->setColumnWidth(column, width);
  }
}

void Explorer::OnMoved(int position) {
  if (!following_) {
    following_ = true;
    const QModelIndex row = model_->IndexOfPosition(position);
    if (row.isValid()) {
      tree_->setCurrentIndex(row);
      tree_->scrollTo(row);
    } else {
      tree_->clearSelection();
    }
    following_ = false;
  }
  ShowCurrentDocument();
}

void Explorer::FollowTree(const QModelIndex& current) {
  if (following_ || !current.isValid()) return;
  const int position = model_->PositionOf(current);
  if (position <= 0 || position == dataCtrl_->GetPosition()) return;
  // OnMove brings the selection to where the control lands, which for a category row is
  // its first document.
  dataCtrl_->MoveTo(position);
}

void Explorer::ShowCurrentDocument() {
  filling_ = true;
  items_->setRowCount(0);
  attachments_->clear();
  const int count = dataCtrl_->DocLoaded() ? dataCtrl_->GetDocItemCount() : 0;
  if (!dataCtrl_->DocLoaded()) {
    const QModelIndex row = tree_->currentIndex();
    const auto kind = RowModel::Kind(row.data(RowModel::KindRole).toInt());
    document_->setText(!row.isValid()                     ? QStringLiteral("No document")
                       : kind == RowModel::Kind::Category ? QStringLiteral("Category: %1").arg(row.data().toString())
                       : kind == RowModel::Kind::Total    ? QStringLiteral("Totals of the view")
                                                          : QStringLiteral("No document"));
  } else if (dataCtrl_->GetDocIsNew()) {
    document_->setText(QStringLiteral("New document, not saved yet"));
  } else {
    const QString form = dataCtrl_->GetItemAsString(QStringLiteral("Form"));
    if (!form.isEmpty()) dataCtrl_->SetForm(form);  // Insert makes another of the same kind
    document_->setText(QStringLiteral("Row %1 · form %2 · %3 items")
                           .arg(QString::number(dataCtrl_->GetPosition()), form.isEmpty() ? QStringLiteral("-") : form)
                           .arg(count));
  }
  items_->setRowCount(count);
  for (int i = 0; i < count; ++i) {
    const QString name = dataCtrl_->GetItemName(i);
    const TQRItemType type = dataCtrl_->GetDocItemType(name);
    QString value;
    bool editable = true;
    switch (type) {
      case qrTypeNumber: value = QString::number(dataCtrl_->GetItemAsNumber(name), 'g', 15); break;
      case qrTypeDateTime: value = FromCalendar(dataCtrl_->GetItemAsDateTime(name)).toString(kDateFormat); break;
      case qrTypeTextList: value = dataCtrl_->GetItemAsTextList(name).join(QStringLiteral("; ")); break;
      case qrTypeText: value = dataCtrl_->GetItemAsString(name); break;
      default:
        value = dataCtrl_->GetItemAsString(name);
        editable = false;  // rich text and the rest are shown as text, not written back as it
        break;
    }
    auto* nameCell = new QTableWidgetItem(name);
    nameCell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    auto* typeCell = new QTableWidgetItem(TypeName(type));
    typeCell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    auto* valueCell = new QTableWidgetItem(value);
    valueCell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | (editable ? Qt::ItemIsEditable : Qt::NoItemFlags));
    valueCell->setToolTip(value);
    items_->setItem(i, kItemName, nameCell);
    items_->setItem(i, kItemType, typeCell);
    items_->setItem(i, kItemValue, valueCell);
  }
  items_->resizeColumnToContents(kItemName);
  items_->resizeColumnToContents(kItemType);
  const int attachments = dataCtrl_->DocLoaded() ? dataCtrl_->GetDocAttachCount() : 0;
  for (int i = 0; i < attachments; ++i) attachments_->addItem(dataCtrl_->GetDocAttachName(i));
  filling_ = false;
}

// ---- Searching

bool Explorer::KeySearch(const QString& key) {
  if (!dataCtrl_->RSOpen() || key.isEmpty()) return false;
  if (model_->FTActive()) ClearFullText();
  dataCtrl_->SetKeyValue(1, key);
  if (dataCtrl_->KeySearch(1, false)) {
    Status(QStringLiteral("Found \"%1\" at row %2.").arg(key).arg(dataCtrl_->GetPosition()));
    return true;
  }
  Status(QStringLiteral("No entry begins with \"%1\".").arg(key));
  return false;
}

int Explorer::FullTextSearch(const QString& query) {
  if (!dataCtrl_->RSOpen() || query.trimmed().isEmpty()) return 0;
  if (ftText_->text() != query) ftText_->setText(query);
  // A fresh search each time, on both the control's record set and the tree's copy of it.
  dataCtrl_->RSFTClear();
  const int found = dataCtrl_->RSFTSearch(query, 0);
  model_->FTSearch(query);
  Status(QStringLiteral("Full text \"%1\": %2 documents.").arg(query).arg(found));
  dataCtrl_->MoveFirst();
  return found;
}

void Explorer::ClearFullText() {
  ftText_->clear();
  if (!dataCtrl_->RSOpen()) return;
  model_->FTClear();
  dataCtrl_->RSFTClear();  // moves to the first entry
  Status(QStringLiteral("Full-text search cleared."));
}

// ---- Editing

bool Explorer::SetItemValue(const QString& name, const QString& text) {
  if (!dataCtrl_->DocLoaded()) {
    Status(QStringLiteral("No document to edit."));
    return false;
  }
  const TQRItemType type = dataCtrl_->GetDocItemType(name);
  switch (type) {
    case qrTypeNumber: {
      bool ok = false;
      const double value = QLocale::c().toDouble(text.trimmed(), &ok);
      if (!ok) {
        Status(QStringLiteral("\"%1\" is not a number; %2 is unchanged.").arg(text, name));
        return false;
      }
      dataCtrl_->SetItemAsNumber(name, value);
      return true;
    }
    case qrTypeDateTime: {
      QDateTime value = QDateTime::fromString(text.trimmed(), kDateFormat);
      if (!value.isValid()) value = QDateTime(QDate::fromString(text.trimmed(), Qt::ISODate), QTime(0, 0));
      if (!value.isValid()) {
        Status(QStringLiteral("\"%1\" is not a date-time (%2); %3 is unchanged.").arg(text, kDateFormat, name));
        return false;
      }
      dataCtrl_->SetItemAsDateTime(name, ToCalendar(value));
      return true;
    }
    case qrTypeTextList: {
      QStringList entries = text.split(QLatin1Char(';'));
      for (QString& entry : entries) entry = entry.trimmed();
      entries.removeAll(QString());
      dataCtrl_->SetItemAsTextList(name, entries);
      return true;
    }
    case qrTypeText: dataCtrl_->SetItemAsString(name, text); return true;
    default:
      Status(QStringLiteral("%1 is %2 and shown as text only.").arg(name, TypeName(type)));
      return false;
  }
}

bool Explorer::AddItem(const QString& name, int kind, const QString& text) {
  if (!dataCtrl_->DocLoaded() || name.isEmpty()) {
    Status(name.isEmpty() ? QStringLiteral("Give the new item a name.") : QStringLiteral("No document to add to."));
    return false;
  }
  switch (kind) {
    case kNewNumber: dataCtrl_->DocAddNumberItem(name, QLocale::c().toDouble(text)); break;
    case kNewDateTime: dataCtrl_->DocAddDateTimeItem(name, ToCalendar(QDateTime::currentDateTime())); break;
    case kNewTextList: dataCtrl_->DocAddTextListItem(name, text); break;
    case kNewRichText: dataCtrl_->DocAddRichTextItem(name, text); break;
    default: dataCtrl_->DocAddTextItem(name, text); break;
  }
  ShowCurrentDocument();
  return true;
}

void Explorer::ItemEdited(QTableWidgetItem* item) {
  if (filling_ || item->column() != kItemValue) return;
  const QTableWidgetItem* name = items_->item(item->row(), kItemName);
  if (!name) return;
  if (SetItemValue(name->text(), item->text())) {
    Status(QStringLiteral("%1 changed; Post saves it.").arg(name->text()));
  } else {
    ShowCurrentDocument();  // the refused text goes, the stored value comes back
  }
}

bool Explorer::DeleteCurrent() {
  if (!dataCtrl_->DocLoaded() || dataCtrl_->GetDocIsNew()) {
    Status(QStringLiteral("No saved document to delete."));
    return false;
  }
  navigator_->BtnClick(qrbDelete);
  return dataCtrl_->GetDocLastError() == 0;
}

void Explorer::ExtractAttachment(const QString& name, const QString& targetFile) {
  if (!dataCtrl_->DocLoaded()) return;
  QFile::remove(targetFile);
  dataCtrl_->DocExtractFile(name, targetFile);
  if (QFileInfo::exists(targetFile)) Status(QStringLiteral("Extracted %1 to %2.").arg(name, targetFile));
  else Status(QStringLiteral("Error: cannot extract %1 to %2.").arg(name, targetFile));
}

void Explorer::AttachFile(const QString& file) {
  if (!dataCtrl_->DocLoaded()) {
    Status(QStringLiteral("No document to attach to."));
    return;
  }
  dataCtrl_->DocAttachFile(file);
  const uint32_t code = dataCtrl_->GetDocLastError();
  if (code != 0) {
    Status(QStringLiteral("Error: cannot attach %1: %2").arg(file, QString::fromStdString(GetNotesErrorText(code))));
    return;
  }
  Status(QStringLiteral("Attached %1; Post saves it.").arg(QFileInfo(file).fileName()));
  attachments_->addItem(QFileInfo(file).fileName());
}

void Explorer::ChooseAttachmentToExtract() {
  QListWidgetItem* current = attachments_->currentItem();
  if (!current) {
    Status(QStringLiteral("Choose an attachment to extract."));
    return;
  }
  const QString target = QFileDialog::getSaveFileName(window_.get(), QStringLiteral("Extract attachment"),
                                                      QDir::home().filePath(current->text()));
  if (!target.isEmpty()) ExtractAttachment(current->text(), target);
}

void Explorer::ChooseFileToAttach() {
  const QString file = QFileDialog::getOpenFileName(window_.get(), QStringLiteral("Attach a file"));
  if (!file.isEmpty()) AttachFile(file);
}

// ---- Mail

bool Explorer::SendAsMail(const QString& recipients, const QString& subject, const QString& body,
                          const QStringList& attachments) {
  if (recipients.trimmed().isEmpty()) {
    Status(QStringLiteral("Mail needs at least one recipient."));
    return false;
  }
  sendMail_->SetSendTo(recipients);
  sendMail_->SetSubject(subject);
  sendMail_->SetBody(body);
  sendMail_->SetAttachments(attachments);
  if (sendMail_->MailFile().isEmpty()) sendMail_->SetMailFile(MailFileOfUser());
  mailSent_ = false;
  sendMail_->Send(true, server_.isEmpty());
  return mailSent_;
}

QString Explorer::MailFileOfUser() {
  TQuireSession* session = dataCtrl_->Session();
  if (!session) return {};
  const QString configured = QString::fromStdString(session->GetEnvironmentString("MailFile"));
  if (!configured.isEmpty()) return configured;
  // The directory knows every person's mail file.
  auto directory = session->GetDatabase(server_.toStdString(), "names.nsf");
  if (!directory) return {};
  const std::string user = session->GetUserName();
  auto found = directory->Search("Form = \"Person\" & FullName = \"" + user + "\"");
  if (!found || found->GetCount() == 0) return {};
  auto person = found->GetFirstDocument();
  TQuireItem* item = person ? person->GetItemByName("MailFile") : nullptr;
  return item ? QString::fromStdString(item->GetText()) : QString();
}

void Explorer::ComposeMail() {
  if (!dataCtrl_->DocLoaded()) {
    Status(QStringLiteral("Choose a document to send."));
    return;
  }
  QDialog dialog(window_.get());
  dialog.setWindowTitle(QStringLiteral("Send as mail"));
  auto* form = new QFormLayout(&dialog);
  auto* to = new QLineEdit(&dialog);
  to->setPlaceholderText(QStringLiteral("names, separated by commas"));
  auto* subject = new QLineEdit(dataCtrl_->GetItemAsString(QStringLiteral("Subject")), &dialog);
  auto* body = new QPlainTextEdit(&dialog);
  QString text;
  for (int row = 0; row < items_->rowCount(); ++row)
    text += items_->item(row, kItemName)->text() + ": " + items_->item(row, kItemValue)->text() + "\n";
  body->setPlainText(text);
  auto* files = new QListWidget(&dialog);
  auto* add = new QPushButton(QStringLiteral("Attach file…"), &dialog);
  connect(add, &QPushButton::clicked, &dialog, [&] {
    const QString file = QFileDialog::getOpenFileName(&dialog, QStringLiteral("Attach a file"));
    if (!file.isEmpty()) files->addItem(file);
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
  buttons->addButton(QStringLiteral("Send"), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(QStringLiteral("To:"), to);
  form->addRow(QStringLiteral("Subject:"), subject);
  form->addRow(QStringLiteral("Body:"), body);
  form->addRow(QStringLiteral("Attachments:"), files);
  form->addRow(QString(), add);
  form->addRow(buttons);
  dialog.resize(480, 420);
  if (dialog.exec() != QDialog::Accepted) return;
  QStringList attachments;
  for (int i = 0; i < files->count(); ++i) attachments << files->item(i)->text();
  SendAsMail(to->text(), subject->text(), body->toPlainText(), attachments);
}

// ---- Access control

QWidget* Explorer::ShowAclDialog() {
  if (!treeDatabase_) {
    Status(QStringLiteral("Open a database first."));
    return nullptr;
  }
  auto* dialog = new AclDialog(window_.get(), *treeDatabase_, [this](const QString& line) { Status(line); });
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  return dialog;
}
