// QRData: the data control (TQuireDataCtrl) and its declared base for references (TQuireCtrl).
//
// A data control binds a form to one database and one record set inside it: a view, a folder
// or the documents a formula selects. It holds a session (its own, or its master's when
// MasterCtrl names another data control), the database, the record-set object and the
// current document; it walks the record set like a cursor, reads and edits the current
// document, and reports through events. At design time it is a 26 x 26 square showing its
// bitmap; at run time it is invisible.
//
// Using it: set Active true, then call OpenDatabase and OpenRecordset (perhaps from OnDBOpen).
// Opening a record set moves to its first entry. Every operation that reaches the database
// raises OnDBBusy before and OnDBIdle after, on every path; operations nest (a move that
// computes its position raises the position's pair inside its own), so a handler that counts
// must count. Failures are reported through OnError(Sender, errstr, hterr, severity, htmsg)
// or, without a handler, through a modal message box "errstr\r\nhtmsg"; no operation throws.
// An operation whose precondition fails (no database, no record set, no document) returns
// its neutral value ("", 0, false, 2.5 for a date) and raises nothing.
//
// Ownership: the control owns its session (not a master's), its database, its record-set
// object and its current document; it never hands them out. Every move frees the previous
// document. GetDBHandle and GetDocHandle give raw engine handles, valid until the next move
// or close. A slave shares its master's session and active state, nothing else; a master
// serves its slaves in the order they linked. Removing (destroying) a master deactivates its
// slaves and clears their MasterCtrl; removing a slave takes it off its master's list.
//
// Events are std::function members: a callable set means "assigned". The control also emits
// Qt signals for the notification events, for Designer's signal/slot editor; the callables
// are the specified path and come first. Events are raised synchronously; a handler may call
// the control again (a master's OnMove driving a slave's KeySearch).
//
// Texts are UTF-8 QStrings at this boundary, passed to the object model unchanged.
// Threads: the GUI thread only.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtWidgets/QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "binding/Quire02.h"
#include "framework/QRComponent.h"
#include "hitest/hitest.h"
#include "objects/QRSessn.h"
#include "rtl/DateTime.h"

class TQuireDatabase;
class TQuireDocCollection;
class TQuireDocument;
class TQuireFolder;
class TQuireItem;
class TQuireView;
class TQuireViewBase;

// The data control's enumerations, registered with Qt's meta-object system (for forms and
// Designer) under the namespace QRData; their ordinals are the specified ones.
namespace QRData {
Q_NAMESPACE
enum TQRRecordsetType : int32_t { dView = 0, dFolder = 1, dDocCollection = 2 };
Q_ENUM_NS(TQRRecordsetType)
enum TQREOFBehaviour : int32_t { eoMoveFirstLast = 0, eoEvents = 1 };
Q_ENUM_NS(TQREOFBehaviour)
}  // namespace QRData
using QRData::TQRRecordsetType;
using QRData::dView;
using QRData::dFolder;
using QRData::dDocCollection;
using QRData::TQREOFBehaviour;
using QRData::eoMoveFirstLast;
using QRData::eoEvents;

// Event types; the parameter names and order are the published interface.
using TQuireDataErr = std::function<void(QObject* Sender, const QString& errstr, int hterr, int severity,
                                         const QString& htmsg)>;
using TQuireDataPos = std::function<void(QObject* Sender, int posn, const QString& DocUnid, bool IsDoc,
                                         bool IsCategory, bool IsTotal)>;
using TQuireDataDB = std::function<void(QObject* Sender)>;
using TQuireDataDelete = std::function<void(QObject* Sender, bool& cancel)>;
using TQuireDataSave = std::function<void(QObject* Sender, bool& cancel)>;

// The declared type of MasterCtrl: a windowed control of this package that other data
// controls may name. It adds nothing of its own.
class TQuireCtrl : public QWidget, public QRComponent {
  Q_OBJECT

 public:
  explicit TQuireCtrl(QWidget* owner = nullptr);
  ~TQuireCtrl() override;
};

class TQuireDataCtrl : public TQuireCtrl {
  Q_OBJECT
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(QString ServerName READ ServerName WRITE SetServerName)
  Q_PROPERTY(QString DBName READ DBName WRITE SetDBName)
  Q_PROPERTY(QString ViewName READ ViewName WRITE SetViewName)
  Q_PROPERTY(QString FolderName READ FolderName WRITE SetFolderName)
  Q_PROPERTY(QString Formula READ Formula WRITE SetFormula)
  Q_PROPERTY(QString Form READ Form WRITE SetForm)
  Q_PROPERTY(TQuireCtrl* MasterCtrl READ MasterCtrl WRITE SetMaster)
  Q_PROPERTY(QRData::TQRRecordsetType RecordsetType READ RecordsetType WRITE SetRecordsetType)
  Q_PROPERTY(QRData::TQREOFBehaviour EOFBehaviour READ EOFBehaviour WRITE SetEOFBehaviour)

 public:
  // The error codes of the control's own reports.
  static constexpr int kRecordsetTypeRefused = -1;
  static constexpr int kNameMissing = -3;
  static constexpr int kFormulaMissing = -4;
  // The result code that ends a list or navigation.
  static constexpr uint32_t kEndOfData = 0x80000107u;

  // An entry of FSlaves: the slave's component name when it linked, and the slave.
  struct SlaveEntry {
    QString Name;
    TQuireDataCtrl* Control;
  };

  explicit TQuireDataCtrl(QWidget* owner = nullptr);
  // Deactivates (which deactivates the slaves) and frees everything still held.
  ~TQuireDataCtrl() override;
  TQuireDataCtrl(const TQuireDataCtrl&) = delete;
  TQuireDataCtrl& operator=(const TQuireDataCtrl&) = delete;

  // ---- Published properties.
  bool Active() const { return FActive; }
  // True: obtains a session (or, as a slave, activates the master and receives its
  // session); ignored while loading from a form. False: deactivates the slaves, frees the
  // document, record set and database, and frees the session unless it was borrowed.
  void SetActive(bool Value);
  QString ServerName() const { return FServerName; }
  void SetServerName(const QString& Value) { FServerName = Value; }
  QString DBName() const { return FDBName; }
  void SetDBName(const QString& Value) { FDBName = Value; }
  QString ViewName() const { return FViewName; }
  void SetViewName(const QString& Value) { FViewName = Value; }
  QString FolderName() const { return FFolderName; }
  void SetFolderName(const QString& Value) { FFolderName = Value; }
  QString Formula() const { return FFormula; }
  void SetFormula(const QString& Value) { FFormula = Value; }
  QString Form() const { return FForm; }
  void SetForm(const QString& Value) { FForm = Value; }
  TQuireCtrl* MasterCtrl() const { return FMasterCtrl; }
  // Links this control to a master (Value) or unlinks it (nullptr). Linking to itself or to
  // the current master does nothing; leaving a master deactivates this control first.
  void SetMaster(TQuireCtrl* Value);
  TQRRecordsetType RecordsetType() const { return FRecordsetType; }
  // Refused with "Cannot change RecordsetType while Recordset Open" (-1) while a record set
  // is open.
  void SetRecordsetType(TQRRecordsetType Value);
  TQREOFBehaviour EOFBehaviour() const { return FEOFBehaviour; }
  void SetEOFBehaviour(TQREOFBehaviour Value) { FEOFBehaviour = Value; }

  // ---- Published events.
  TQuireDataErr OnError;
  TQuireDataPos OnMove;
  TQuireDataDB OnDBOpen;
  TQuireDataDB OnDBClose;
  TQuireDataDB OnDBBusy;
  TQuireDataDB OnDBIdle;
  TQuireDataDelete OnDelete;
  TQuireDataDB OnAdd;
  TQuireDataSave OnSave;
  TNotifyEvent OnBOF;
  TNotifyEvent OnEOF;

  // ---- State, read-only.
  bool DBOpen() const { return FDBOpen; }
  bool RSOpen() const { return FRSOpen; }
  bool DocLoaded() const { return FDocLoaded; }
  // The session held (own or the master's), or nullptr; other components of the package
  // (the server list) list servers through it. Valid while the control stays active.
  TQuireSession* Session() const { return FSession; }
  bool OwnsSession() const { return FSession != nullptr && FSession == FOwnedSession.get(); }
  const std::vector<SlaveEntry>& Slaves() const { return FSlaves; }
  uint32_t LastError() const { return FLastError; }

  // ---- Database and record set. True when this call opened it; a failure is reported.
  bool OpenDatabase();
  void CloseDatabase();
  bool OpenRecordset();
  void CloseRecordset();
  bool OpenView();
  bool OpenFolder();
  bool OpenDocColl();
  void CloseView();
  void CloseFolder();
  void CloseDocColl();

  // ---- Database and session accessors (busy/idle when the precondition holds).
  QString GetDBTitle();
  // Space used plus space free, in bytes; -1 when the engine cannot tell; 0 without a
  // database. Wider than 32 bits so that a large database does not wrap.
  int64_t GetDBSize();
  bool GetDBIsFTIndexed();
  TQRReplPriority GetReplicationPriority();
  void SetReplicationPriority(TQRReplPriority Value);
  QString GetReplicaID();
  HTDBHANDLE GetDBHandle();
  int GetDocCount();
  // Shows the database dialog (QRDBWin.h) on this control's session. After OK: the chosen
  // database, and its server in `server`; otherwise, or when the control is not active, ""
  // with `server` unchanged. ServerName and DBName are left to the application.
  QString SelectDB(QString& server);

  // ---- Pass-through operations (no events).
  QString GetUserName();
  bool GetTranslate();
  void SetTranslate(bool Value);
  bool ServerReplicate(const QString& server, uint32_t extra, uint32_t flags, const QString& databases);
  bool ServerReplicateEx(const QString& server, uint32_t extra, uint32_t flags, const QString& databases,
                         HTREPLSTATS& statistics);
  QString ServerSetPort(const QString& server, const QString& port);
  QString RTListExport(TQRList position);
  QString RTListImport(TQRList position);
  QString DBListViews(TQRList position);
  QString DBListFolders(TQRList position);
  QString AgentList(TQRList position);
  bool AgentExecute(const QString& agentName, uint32_t& value1, uint32_t& value2);
  bool DBCreateFTIndex(uint32_t options);
  // Hands the password to the password reader through the shared memory "QRPasswordMem";
  // keeps nothing. A block that cannot be made is reported through the error path.
  void SetPassword(const QString& password);

  // ---- Navigation. Each move does nothing without a record set; OnMove follows it.
  void MoveFirst();
  void MovePrev();
  void MoveNext();
  void MoveLast();
  void MoveTo(int position);
  // Hierarchical moves: a view record set only.
  void MovePrevSibling();
  void MovePrevParent();
  void MovePrevMain();
  void MoveNextSibling();
  void MoveNextChild();
  void MoveNextParent();
  void MoveNextMain();
  int GetPosition();
  void SetPosition(int position);  // no effect: MoveTo positions
  void SetKeyValue(int index, const QString& value);
  bool KeySearch(int count, bool ExactMatch);
  // Closes the record set and opens the documents found as a collection record set.
  int DBFTSearch(const QString& query, int maxDocs);
  int RSFTSearch(const QString& query, int maxDocs);
  void RSFTClear();
  void Refresh();
  // Makes the document of that universal ID current. A malformed ID is reported through the
  // error path and answers false.
  bool DBGetDocByUNID(const QString& unid);

  // ---- Documents.
  void CreateNewDoc(const QString& form);
  void SaveDoc();
  // Deletes the document of that universal ID (a malformed ID is reported). The record set
  // and the current document are left alone, even when it is the one deleted: that object
  // stays until the next move, and the engine refuses to save it.
  void DeleteDoc(const QString& unid);
  void DeleteCurrDoc();
  bool DocSend(bool StoreForm, bool Switch8, bool Switch2, const QString& recipients);
  HTDOCHANDLE GetDocHandle();
  bool GetDocIsNew();
  // The result code of the current document's last call (its Save, Send, attach or
  // delete), 0 without a document: SaveDoc and its kind report nothing themselves, so an
  // application that must know whether a save took reads it here.
  uint32_t GetDocLastError();
  int GetDocItemCount();
  int GetDocAttachCount();
  QString GetDocAttachName(int index);
  TQRItemType GetDocItemType(const QString& name);

  // ---- Items by index, then by name.
  QString GetItemText(int index);
  void SetItemText(int index, const QString& value);
  QString GetItemName(int index);
  int GetItemLength(const QString& name);
  QString GetItemAsString(const QString& name);
  void SetItemAsString(const QString& name, const QString& value);
  double GetItemAsNumber(const QString& name);
  void SetItemAsNumber(const QString& name, double value);
  rtl::TDateTime GetItemAsDateTime(const QString& name);  // 2.5 when there is none
  void SetItemAsDateTime(const QString& name, rtl::TDateTime value);
  // The entries of a text-list item, and their replacement (written to the document, saved
  // with SaveDoc). Empty, and nothing written, when the item is not a text list.
  QStringList GetItemAsTextList(const QString& name);
  void SetItemAsTextList(const QString& name, const QStringList& entries);

  // ---- Adding items, attachments, rich text, mail.
  void DocAddRichTextItem(const QString& name, const QString& text);
  void DocAddTextItem(const QString& name, const QString& text);
  void DocAddTextListItem(const QString& name, const QString& text);
  void DocAddNumberItem(const QString& name, double value);
  void DocAddDateTimeItem(const QString& name, rtl::TDateTime value);
  void DocExtractFile(const QString& attachment, const QString& targetFile);
  void DocRemoveFile(const QString& attachment);
  void DocAttachFile(const QString& file);
  bool DocRTItemExport(const QString& item, const QString& format, const QString& file);
  bool DocRTItemImport(const QString& item, const QString& format, const QString& file);

  // ---- Columns and cells of the current entry (view or folder).
  int GetViewColumnCount();
  QString GetViewColumnTitle(int index);  // 0 to count-1
  QString GetViewCellText(int column);    // 1 to count

  // ---- Master/detail linking.
  void RegSlave(TQuireDataCtrl* slave);
  void SlaveActive();
  void MasterActive(TQuireSession* session);
  void MasterInActive();

  // ---- Events and errors.
  void DBBusy();
  void DBIdle();
  void HandleError(const QString& message, int code);
  QString GetNotesErrorString();

 signals:
  void error(const QString& errstr, int hterr, int severity, const QString& htmsg);
  void moved(int posn, const QString& DocUnid, bool IsDoc, bool IsCategory, bool IsTotal);
  void dbOpened();
  void dbClosed();
  void dbBusy();
  void dbIdle();
  void documentAdded();
  void beginOfData();
  void endOfData();

 protected:
  void Notification(QObject* component, TOperation operation) override;
  void DesigningChanged() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  class BusyScope;
  enum class HierMove { PrevSibling, PrevParent, PrevMain, NextSibling, NextChild, NextParent, NextMain };

  void Deactivate();
  void ReleaseObjects();
  void ReplaceDocument(std::unique_ptr<TQuireDocument> document);
  void ReleaseDocument();
  void Announce();
  bool AnnounceWanted() const;
  void HierarchicalMove(HierMove move);
  TQuireViewBase* ViewOrFolder() const;
  TQuireItem* ItemByIndex(int index) const;
  TQuireItem* ItemByName(const QString& name) const;
  bool HasDocument() const { return FDocLoaded && FDocument != nullptr; }

  // Published state.
  bool FActive = false;
  QString FServerName;
  QString FDBName;
  QString FViewName;
  QString FFolderName;
  QString FFormula;
  QString FForm;
  TQuireCtrl* FMasterCtrl = nullptr;
  TQRRecordsetType FRecordsetType = dView;
  TQREOFBehaviour FEOFBehaviour = eoMoveFirstLast;

  // Held objects. FSession is FOwnedSession or a master's session; a borrowed one belongs to
  // the master that lent it and is only ever dropped.
  std::unique_ptr<TQuireSession> FOwnedSession;
  TQuireSession* FSession = nullptr;
  std::unique_ptr<TQuireDatabase> FDatabase;
  std::unique_ptr<TQuireView> FView;
  std::unique_ptr<TQuireFolder> FFolder;
  std::unique_ptr<TQuireDocCollection> FDocColl;
  std::unique_ptr<TQuireDocument> FDocument;
  bool FDBOpen = false;
  bool FDocLoaded = false;
  bool FRSOpen = false;
  std::vector<SlaveEntry> FSlaves;
  uint32_t FLastError = 0;
};
