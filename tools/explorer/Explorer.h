// Explorer: the main window of quire-explorer, a desktop application made of the Quire
// components and the object model.
//
// The window is the Designer form ExplorerWindow.ui, read with the framework's form loader;
// its data control (dataCtrl), navigator (navigator), server list (cboServers) and send-mail
// component (sendMail) come from the form. The explorer wires them to the rest of the form:
// the views and folders of the open database in a side list, the chosen one as a tree read
// as it scrolls (RowModel, on a view object of its own over the same database), the current
// document's items and attachments in an editor panel, key and full-text search, mail and
// the access control list. The data control is the cursor: the navigator moves it, and its
// OnMove keeps the tree's selection and the item panel in step.
//
// Errors: every error the data control or the send-mail component reports goes to the status
// area at the foot of the window, and also to the same modal box ("errstr", a line break,
// the API's text) the component would show without a handler, through the runtime's
// message-box hook (SetShowErrorBoxes, on by default). The explorer's own
// refusals (a value that is not a number, no document to act on) go to the status area only.
//
// Questions the explorer asks a person (delete this document?) go through Confirm, which a
// test replaces. Ownership: the explorer owns the form and everything on it.
// Threads: the GUI thread only.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTreeView;
class QWidget;
class RowModel;
class TNDBNavigator;
class TQuireDatabase;
class TQuireDataCtrl;
class TQuireSendMail;
class TQuireServerList;

class Explorer : public QObject {
  Q_OBJECT

 public:
  // The columns of the item editor.
  enum ItemColumn { kItemName = 0, kItemType = 1, kItemValue = 2 };

  Explorer();
  ~Explorer() override;
  Explorer(const Explorer&) = delete;
  Explorer& operator=(const Explorer&) = delete;

  // The form failed to load (FormError says why); nothing else works then.
  bool Ok() const { return window_ != nullptr; }
  QString FormError() const { return formError_; }
  QWidget* Window() const { return window_.get(); }

  // Opens a database ("SERVER!!PATH", or a path on the local server), shows its views and
  // the first of them, and remembers it among the recent databases. False when it cannot be
  // opened (reported).
  bool Open(const QString& serverAndPath);
  bool Open(const QString& server, const QString& path);
  // Creates the sample database (as `quire demo` does) when it is missing, and opens it.
  bool OpenSample();
  // Shows the database dialog and opens what the user chose.
  void ChooseDatabase();

  // Shows the view or folder of that name; false when there is none.
  bool ShowView(const QString& name);
  // Key search on the first sorted column, by leading text; false when nothing matches.
  bool KeySearch(const QString& key);
  // Full-text search over the shown view or folder; the number of documents found.
  int FullTextSearch(const QString& query);
  void ClearFullText();
  // Sets the current document's item from the text a person typed, the way its type reads
  // it (number, date-time "yyyy-MM-dd HH:mm:ss", text list "a; b; c", text). Saved with the
  // navigator's Post button. False (and a status line) when the text does not fit the type.
  bool SetItemValue(const QString& name, const QString& text);
  // Adds an item to the current document (saved with Post): kind is the row of the form's
  // type box (text, number, date-time, text list, rich text).
  enum NewItemKind { kNewText = 0, kNewNumber, kNewDateTime, kNewTextList, kNewRichText };
  bool AddItem(const QString& name, int kind, const QString& text);
  // Asks (Confirm) and deletes the current document.
  bool DeleteCurrent();
  void ExtractAttachment(const QString& name, const QString& targetFile);
  void AttachFile(const QString& file);
  // Sends the current document's Subject and Body (or its items as text) through the
  // send-mail component; true when the component reported success.
  bool SendAsMail(const QString& recipients, const QString& subject, const QString& body,
                  const QStringList& attachments);
  // The ACL dialog, modeless while a test drives it; it edits only for a Manager.
  QWidget* ShowAclDialog();

  // A person's answer to a yes/no question; the default asks with a QMessageBox.
  std::function<bool(const QString& question)> Confirm;
  // Whether component errors also show the components' own modal boxes (off in tests that
  // count nothing but the status area).
  void SetShowErrorBoxes(bool on) { showErrorBoxes_ = on; }

  // The status area's lines, oldest first.
  QStringList StatusLines() const;
  void Status(const QString& line);

  // The form's parts, for tests and screenshots.
  TQuireDataCtrl* DataCtrl() const { return dataCtrl_; }
  TNDBNavigator* Navigator() const { return navigator_; }
  TQuireSendMail* SendMail() const { return sendMail_; }
  QTreeView* Tree() const { return tree_; }
  RowModel* Model() const { return model_; }
  QListWidget* Views() const { return views_; }
  QTableWidget* Items() const { return items_; }
  QListWidget* Attachments() const { return attachments_; }
  QComboBox* Recent() const { return recent_; }

  // Recent databases, newest first, as "SERVER!!PATH".
  static QStringList RecentDatabases();

 private:
  void FindParts();
  void Wire();
  void WireDataCtrl();
  void WireSendMail();
  void FillViews();
  void FitColumns();
  void ShowDatabaseInfo();
  void OnMoved(int position);
  void ShowCurrentDocument();
  void FollowTree(const class QModelIndex& current);
  void ItemEdited(QTableWidgetItem* item);
  void Remember(const QString& server, const QString& path);
  void FillRecent();
  void ComposeMail();
  void ChooseAttachmentToExtract();
  void ChooseFileToAttach();
  void CloseDatabase();
  // The user's mail file: the MailFile environment string, else the directory's Person
  // document of the user; "" when neither says.
  QString MailFileOfUser();

  std::unique_ptr<QWidget> window_;
  QString formError_;
  bool showErrorBoxes_ = true;
  bool following_ = false;  // the tree is being moved to follow the data control
  bool filling_ = false;    // the item editor is being filled, not edited
  bool mailSent_ = false;

  TQuireDataCtrl* dataCtrl_ = nullptr;
  TNDBNavigator* navigator_ = nullptr;
  TQuireSendMail* sendMail_ = nullptr;
  TQuireServerList* servers_ = nullptr;
  QListWidget* views_ = nullptr;
  QTreeView* tree_ = nullptr;
  QTableWidget* items_ = nullptr;
  QListWidget* attachments_ = nullptr;
  QLabel* database_ = nullptr;
  QLabel* info_ = nullptr;
  QLabel* document_ = nullptr;
  QLineEdit* keyText_ = nullptr;
  QLineEdit* ftText_ = nullptr;
  QComboBox* recent_ = nullptr;
  QPlainTextEdit* status_ = nullptr;
  RowModel* model_ = nullptr;
  // The tree's own handle on the open database, for its view objects.
  std::unique_ptr<TQuireDatabase> treeDatabase_;
  QString server_;
  QString path_;
};
