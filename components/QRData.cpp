#include "components/QRData.h"

#include <QtCore/QMetaMethod>
#include <QtGui/QPainter>
#include <algorithm>

#include "binding/Quire01.h"
#include "framework/QRFormLoader.h"
#include "framework/QRResources.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRFolder.h"
#include "objects/QRItem.h"
#include "objects/QRRTItem.h"
#include "objects/QRTLItem.h"
#include "objects/QRUtil.h"
#include "objects/QRView.h"
#include "objects/Quiredoc.h"
#include "rtl/Errors.h"
#include "rtl/MessageBox.h"

namespace {

constexpr int kDesignSize = 26;
constexpr int kInitialSize = 24;

std::string Std(const QString& text) { return text.toStdString(); }
QString QStr(const std::string& text) { return QString::fromStdString(text); }

[[maybe_unused]] const bool kRegistered = [] {
  QRRegisterComponentClass<TQuireDataCtrl>();
  return true;
}();

}  // namespace

// Raises OnDBBusy now and OnDBIdle when the scope ends, so that every return path is idle.
class TQuireDataCtrl::BusyScope {
 public:
  explicit BusyScope(TQuireDataCtrl& control) : control_(control) { control_.DBBusy(); }
  ~BusyScope() { control_.DBIdle(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TQuireDataCtrl& control_;
};

// ---------------------------------------------------------------------------------------
// TQuireCtrl

TQuireCtrl::TQuireCtrl(QWidget* owner) : QWidget(owner), QRComponent(this) {}

TQuireCtrl::~TQuireCtrl() = default;

// ---------------------------------------------------------------------------------------
// Construction and destruction

TQuireDataCtrl::TQuireDataCtrl(QWidget* owner) : TQuireCtrl(owner) {
  resize(kInitialSize, kInitialSize);
  setVisible(false);
}

TQuireDataCtrl::~TQuireDataCtrl() {
  if (FActive) Deactivate();
  ReleaseObjects();
  FSlaves.clear();
  FSession = nullptr;
  FOwnedSession.reset();
}

// ---------------------------------------------------------------------------------------
// Activation

void TQuireDataCtrl::SetActive(bool Value) {
  if (!Value) {
    Deactivate();
    return;
  }
  // The value stored in a form is not applied: the application activates at run time.
  if (IsLoading()) return;
  if (FMasterCtrl != nullptr) {
    if (auto* master = qobject_cast<TQuireDataCtrl*>(FMasterCtrl)) master->SlaveActive();
    return;
  }
  if (FSession == nullptr) {
    BusyScope busy(*this);
    FOwnedSession = std::make_unique<TQuireSession>();
    FSession = FOwnedSession.get();
    if (!FSession->Initialized) {
      HandleError(QStringLiteral("Hitest Session failed"), static_cast<int>(FSession->LastError));
      FSession = nullptr;
      FOwnedSession.reset();
      return;
    }
  }
  FActive = true;
  // A slave's handler may unlink or destroy slaves: serve a copy, each still listed.
  const std::vector<SlaveEntry> slaves = FSlaves;
  for (const SlaveEntry& entry : slaves) {
    const bool listed = std::any_of(FSlaves.begin(), FSlaves.end(),
                                    [&](const SlaveEntry& e) { return e.Control == entry.Control; });
    if (listed && FActive) entry.Control->MasterActive(FSession);
  }
}

void TQuireDataCtrl::Deactivate() {
  const std::vector<SlaveEntry> slaves = FSlaves;
  for (const SlaveEntry& entry : slaves) {
    const bool listed = std::any_of(FSlaves.begin(), FSlaves.end(),
                                    [&](const SlaveEntry& e) { return e.Control == entry.Control; });
    if (listed) entry.Control->MasterInActive();
  }
  ReleaseObjects();
  // Only a session of our own is freed; a master's stays with the master.
  FSession = nullptr;
  FOwnedSession.reset();
  FActive = false;
}

// Children before the database whose handle they hold.
void TQuireDataCtrl::ReleaseObjects() {
  FDocument.reset();
  FDocColl.reset();
  FView.reset();
  FFolder.reset();
  FDatabase.reset();
  FDBOpen = false;
  FRSOpen = false;
  FDocLoaded = false;
}

// ---------------------------------------------------------------------------------------
// Database and record set

bool TQuireDataCtrl::OpenDatabase() {
  if (FDBOpen) return false;
  if (!FActive) {
    HandleError(QStringLiteral("Data Control Not Active"), 0);
    return false;
  }
  BusyScope busy(*this);
  FDatabase = FSession->GetDatabase(Std(FServerName), Std(FDBName));
  if (!FDatabase) {
    HandleError(QStringLiteral("Database Open Failed!"), static_cast<int>(FSession->LastError));
    return false;
  }
  FDBOpen = true;
  if (OnDBOpen) OnDBOpen(this);
  emit dbOpened();
  return true;
}

void TQuireDataCtrl::CloseDatabase() {
  if (!FDBOpen) return;
  {
    BusyScope busy(*this);
    CloseRecordset();
    // A document made by CreateNewDoc without a record set goes before its database.
    FDocument.reset();
    FDocLoaded = false;
    FDocColl.reset();
    FView.reset();
    FFolder.reset();
    FDatabase.reset();
    FRSOpen = false;
    FDBOpen = false;
  }
  if (OnDBClose) OnDBClose(this);
  emit dbClosed();
}

bool TQuireDataCtrl::OpenRecordset() {
  if (!FActive) {
    HandleError(QStringLiteral("Data Control Not Active"), 0);
    return false;
  }
  if (FRSOpen) return false;
  switch (FRecordsetType) {
    case dView: return OpenView();
    case dFolder: return OpenFolder();
    case dDocCollection: return OpenDocColl();
  }
  return false;
}

void TQuireDataCtrl::CloseRecordset() {
  if (!FRSOpen) return;
  switch (FRecordsetType) {
    case dView: CloseView(); break;
    case dFolder: CloseFolder(); break;
    case dDocCollection: CloseDocColl(); break;
  }
  FRSOpen = false;
}

bool TQuireDataCtrl::OpenView() {
  if (FRSOpen) return true;
  if (FViewName.isEmpty()) HandleError(QStringLiteral("View Property not set!!"), kNameMissing);
  if (!FDBOpen) return false;
  FView = FDatabase->GetView(Std(FViewName));
  if (!FView) {
    HandleError(QStringLiteral("View Open Failed!"), static_cast<int>(FDatabase->LastError));
    return false;
  }
  FRSOpen = true;
  MoveFirst();
  return true;
}

bool TQuireDataCtrl::OpenFolder() {
  if (FRSOpen) return true;
  if (FFolderName.isEmpty()) HandleError(QStringLiteral("Folder Property not set!!"), kNameMissing);
  if (!FDBOpen) return false;
  FFolder = FDatabase->GetFolder(Std(FFolderName));
  if (!FFolder) {
    HandleError(QStringLiteral("Folder Open Failed!"), static_cast<int>(FDatabase->LastError));
    return false;
  }
  FRSOpen = true;
  MoveFirst();
  return true;
}

bool TQuireDataCtrl::OpenDocColl() {
  if (FRSOpen) return true;
  if (FFormula.isEmpty()) HandleError(QStringLiteral("Formula Property not set!!"), kFormulaMissing);
  if (!FDBOpen) return false;
  BusyScope busy(*this);
  FDocColl = FDatabase->Search(Std(FFormula));
  if (!FDocColl) return false;
  FRSOpen = true;
  MoveFirst();
  return true;
}

void TQuireDataCtrl::CloseView() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  ReleaseDocument();
  FView.reset();
  FRSOpen = false;
}

void TQuireDataCtrl::CloseFolder() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  ReleaseDocument();
  FFolder.reset();
  FRSOpen = false;
}

void TQuireDataCtrl::CloseDocColl() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  ReleaseDocument();
  FDocColl.reset();
  FRSOpen = false;
}

// ---------------------------------------------------------------------------------------
// Database and session accessors

QString TQuireDataCtrl::GetDBTitle() {
  if (!FDBOpen) return {};
  BusyScope busy(*this);
  return QStr(FDatabase->GetTitle());
}

int64_t TQuireDataCtrl::GetDBSize() {
  if (!FDBOpen) return 0;
  BusyScope busy(*this);
  return FDatabase->GetSize();
}

bool TQuireDataCtrl::GetDBIsFTIndexed() {
  if (!FDBOpen) return false;
  BusyScope busy(*this);
  return FDatabase->GetIsFTIndexed();
}

TQRReplPriority TQuireDataCtrl::GetReplicationPriority() {
  if (!FDBOpen) return TQRReplPriority(0);
  BusyScope busy(*this);
  return FDatabase->GetReplPriority();
}

void TQuireDataCtrl::SetReplicationPriority(TQRReplPriority Value) {
  if (!FDBOpen) return;
  BusyScope busy(*this);
  FDatabase->SetReplPriority(Value);
}

QString TQuireDataCtrl::GetReplicaID() {
  if (!FDBOpen) return {};
  BusyScope busy(*this);
  return QStr(FDatabase->GetReplicaID());
}

HTDBHANDLE TQuireDataCtrl::GetDBHandle() {
  if (!FDBOpen) return 0;
  BusyScope busy(*this);
  return FDatabase->DbHandle;
}

int TQuireDataCtrl::GetDocCount() {
  if (!FRSOpen) return 0;
  BusyScope busy(*this);
  if (FDocColl) return FDocColl->GetCount();
  if (TQuireViewBase* index = ViewOrFolder()) return index->GetCount();
  return 0;
}

// ---------------------------------------------------------------------------------------
// Pass-through operations

QString TQuireDataCtrl::GetUserName() { return FActive && FSession ? QStr(FSession->GetUserName()) : QString(); }

bool TQuireDataCtrl::GetTranslate() { return FSession ? FSession->GetTranslate() : false; }

void TQuireDataCtrl::SetTranslate(bool Value) {
  if (FSession) FSession->SetTranslate(Value);
}

bool TQuireDataCtrl::ServerReplicate(const QString& server, uint32_t extra, uint32_t flags,
                                     const QString& databases) {
  return FSession ? FSession->ServerReplicate(Std(server), extra, flags, Std(databases)) : false;
}

bool TQuireDataCtrl::ServerReplicateEx(const QString& server, uint32_t extra, uint32_t flags,
                                       const QString& databases, HTREPLSTATS& statistics) {
  return FSession ? FSession->ServerReplicateEx(Std(server), extra, flags, Std(databases), statistics) : false;
}

QString TQuireDataCtrl::ServerSetPort(const QString& server, const QString& port) {
  return FSession ? QStr(FSession->ServerSetPort(Std(server), Std(port))) : QString();
}

QString TQuireDataCtrl::RTListExport(TQRList position) {
  return FActive && FSession ? QStr(FSession->RTListExport(position)) : QString();
}

QString TQuireDataCtrl::RTListImport(TQRList position) {
  return FActive && FSession ? QStr(FSession->RTListImport(position)) : QString();
}

QString TQuireDataCtrl::DBListViews(TQRList position) {
  return FDBOpen ? QStr(FDatabase->ListViews(position)) : QString();
}

QString TQuireDataCtrl::DBListFolders(TQRList position) {
  return FDBOpen ? QStr(FDatabase->ListFolders(position)) : QString();
}

QString TQuireDataCtrl::AgentList(TQRList position) {
  return FDBOpen ? QStr(FDatabase->AgentList(position)) : QString();
}

bool TQuireDataCtrl::AgentExecute(const QString& agentName, uint32_t& value1, uint32_t& value2) {
  return FDBOpen ? FDatabase->AgentExecute(Std(agentName), value1, value2) : false;
}

bool TQuireDataCtrl::DBCreateFTIndex(uint32_t options) { return FDBOpen ? FDatabase->CreateFTIndex(options) : false; }

// The block can be refused by the system; that must not leave through a GUI event handler.
void TQuireDataCtrl::SetPassword(const QString& password) {
  try {
    QRSetPassword(Std(password));
  } catch (const rtl::ESharedMemoryError& e) {
    HandleError(QString::fromUtf8(e.what()), e.Code());
  }
}

// ---------------------------------------------------------------------------------------
// Common steps of the moves

TQuireViewBase* TQuireDataCtrl::ViewOrFolder() const {
  if (FRecordsetType == dView && FView) return FView.get();
  if (FRecordsetType == dFolder && FFolder) return FFolder.get();
  return nullptr;
}

void TQuireDataCtrl::ReleaseDocument() {
  FDocument.reset();
  FDocLoaded = false;
}

void TQuireDataCtrl::ReplaceDocument(std::unique_ptr<TQuireDocument> document) {
  ReleaseDocument();
  FDocument = std::move(document);
  FDocLoaded = FDocument != nullptr;
}

bool TQuireDataCtrl::AnnounceWanted() const {
  static const QMetaMethod movedSignal = QMetaMethod::fromSignal(&TQuireDataCtrl::moved);
  return OnMove != nullptr || isSignalConnected(movedSignal);
}

void TQuireDataCtrl::Announce() {
  if (!AnnounceWanted()) return;
  const QString unid = FDocument ? QStr(FDocument->GetUniversalID()) : QString();
  const int posn = GetPosition();
  bool isDoc = true;
  bool isCategory = false;
  bool isTotal = false;
  if (FRecordsetType == dView && FView) {
    isDoc = FView->IsDoc;
    isCategory = FView->IsCategory;
    isTotal = FView->IsTotal;
  }
  if (OnMove) OnMove(this, posn, unid, isDoc, isCategory, isTotal);
  emit moved(posn, unid, isDoc, isCategory, isTotal);
}

// ---------------------------------------------------------------------------------------
// Navigation

int TQuireDataCtrl::GetPosition() {
  if (!FRSOpen) return 0;
  BusyScope busy(*this);
  if (FDocColl) return FDocColl->GetPosition();
  if (TQuireViewBase* index = ViewOrFolder()) return index->GetPosition();
  return 0;
}

void TQuireDataCtrl::SetPosition(int) {}

void TQuireDataCtrl::MoveFirst() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  if (FRecordsetType == dDocCollection) {
    ReplaceDocument(FDocColl ? FDocColl->GetFirstDocument() : nullptr);
    Announce();
    return;
  }
  TQuireViewBase* index = ViewOrFolder();
  if (!index) return;
  ReplaceDocument(index->GetFirstDocument());
  if (FDocument) Announce();
}

void TQuireDataCtrl::MoveNext() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  if (FRecordsetType == dDocCollection) {
    ReplaceDocument(FDocColl ? FDocColl->GetNextDocument() : nullptr);
    Announce();
    return;
  }
  TQuireViewBase* index = ViewOrFolder();
  if (!index) return;
  ReplaceDocument(index->GetNextDocument());
  if (index->LastError == kEndOfData) {
    FLastError = index->LastError;
    if (FRecordsetType == dFolder || FEOFBehaviour == eoMoveFirstLast) {
      MoveLast();
      return;
    }
    if (OnEOF) OnEOF(this);
    emit endOfData();
  }
  Announce();
}

void TQuireDataCtrl::MovePrev() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  if (FRecordsetType == dDocCollection) {
    ReplaceDocument(FDocColl ? FDocColl->GetPrevDocument() : nullptr);
    Announce();
    return;
  }
  TQuireViewBase* index = ViewOrFolder();
  if (!index) return;
  ReplaceDocument(index->GetPrevDocument());
  if (index->LastError == kEndOfData) {
    if (FRecordsetType == dFolder) {
      MoveFirst();
      return;
    }
    FLastError = index->LastError;
    if (FEOFBehaviour == eoMoveFirstLast) {
      MoveFirst();
      return;
    }
    if (OnBOF) OnBOF(this);
    emit beginOfData();
  }
  Announce();
}

void TQuireDataCtrl::MoveLast() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  if (FDocColl) ReplaceDocument(FDocColl->GetLastDocument());
  else if (TQuireViewBase* index = ViewOrFolder()) ReplaceDocument(index->GetLastDocument());
  Announce();
}

void TQuireDataCtrl::MoveTo(int position) {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  if (FDocColl) ReplaceDocument(FDocColl->GetNthDocument(position));
  else if (TQuireViewBase* index = ViewOrFolder()) ReplaceDocument(index->GetNthDocument(position));
  Announce();
}

void TQuireDataCtrl::HierarchicalMove(HierMove move) {
  if (!FRSOpen || FRecordsetType != dView || !FView) return;
  BusyScope busy(*this);
  ReleaseDocument();
  TQuireView& view = *FView;
  std::unique_ptr<TQuireDocument> document;
  switch (move) {
    case HierMove::PrevSibling: document = view.GetPrevSiblingDocument(); break;
    case HierMove::PrevParent: document = view.GetPrevParentDocument(); break;
    case HierMove::PrevMain: document = view.GetPrevMainDocument(); break;
    case HierMove::NextSibling: document = view.GetNextSiblingDocument(); break;
    case HierMove::NextChild: document = view.GetNextChildDocument(); break;
    case HierMove::NextParent: document = view.GetNextParentDocument(); break;
    case HierMove::NextMain: document = view.GetNextMainDocument(); break;
  }
  if (view.LastError == kEndOfData) {
    // The end leaves the control without a document; only a missing previous sibling goes on
    // to the parent.
    document.reset();
    if (move == HierMove::PrevSibling) MovePrevParent();
    return;
  }
  ReplaceDocument(std::move(document));
  Announce();
}

void TQuireDataCtrl::MovePrevSibling() { HierarchicalMove(HierMove::PrevSibling); }
void TQuireDataCtrl::MovePrevParent() { HierarchicalMove(HierMove::PrevParent); }
void TQuireDataCtrl::MovePrevMain() { HierarchicalMove(HierMove::PrevMain); }
void TQuireDataCtrl::MoveNextSibling() { HierarchicalMove(HierMove::NextSibling); }
void TQuireDataCtrl::MoveNextChild() { HierarchicalMove(HierMove::NextChild); }
void TQuireDataCtrl::MoveNextParent() { HierarchicalMove(HierMove::NextParent); }
void TQuireDataCtrl::MoveNextMain() { HierarchicalMove(HierMove::NextMain); }

void TQuireDataCtrl::SetKeyValue(int index, const QString& value) {
  if (!FRSOpen) return;
  if (TQuireViewBase* view = ViewOrFolder()) view->SetKeyValue(index, Std(value));
}

bool TQuireDataCtrl::KeySearch(int count, bool ExactMatch) {
  if (!FRSOpen) return false;
  TQuireViewBase* index = ViewOrFolder();
  if (!index || !index->KeySearch(count, ExactMatch)) return false;
  ReplaceDocument(index->GetCurrentDocument());
  Announce();
  return true;
}

int TQuireDataCtrl::DBFTSearch(const QString& query, int maxDocs) {
  if (!FDBOpen) return 0;
  CloseRecordset();
  BusyScope busy(*this);
  if (!FDBOpen) return 0;  // closed by a busy or idle handler
  auto found = FDatabase->FTSearch(Std(query), static_cast<uint32_t>(maxDocs));
  if (!found) {
    HandleError(QStringLiteral("Full Text Search Failed :"), static_cast<int>(FDatabase->LastError));
    return 0;
  }
  FDocColl = std::move(found);
  FRecordsetType = dDocCollection;
  FRSOpen = true;
  const int count = FDocColl->GetCount();
  MoveFirst();
  return count;
}

int TQuireDataCtrl::RSFTSearch(const QString& query, int maxDocs) {
  if (!FRSOpen) return 0;
  BusyScope busy(*this);
  if (FDocColl) return FDocColl->FTSearch(Std(query), maxDocs);
  TQuireViewBase* index = ViewOrFolder();
  if (!index) return 0;
  const int result = index->FTSearch(Std(query), maxDocs);
  if (index->LastError != 0)
    HandleError(QStringLiteral("Full Text Search Failed :"), static_cast<int>(index->LastError));
  return result;
}

void TQuireDataCtrl::RSFTClear() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  if (FDocColl) FDocColl->FTClear();
  else if (TQuireViewBase* index = ViewOrFolder()) index->FTClear();
  MoveFirst();
}

void TQuireDataCtrl::Refresh() {
  if (!FRSOpen) return;
  BusyScope busy(*this);
  if (ViewOrFolder()) {
    const int position = GetPosition();
    // Asked again: the position's own busy and idle handlers may have closed the record set.
    if (TQuireViewBase* index = ViewOrFolder()) {
      ReleaseDocument();
      index->Refresh();
      ReplaceDocument(index->GetNthDocument(position));
    }
  }
  Announce();
}

bool TQuireDataCtrl::DBGetDocByUNID(const QString& unid) {
  if (!FDBOpen || !FRSOpen) return false;
  std::unique_ptr<TQuireDocument> document;
  try {
    document = FDatabase->GetDocumentByUNID(Std(unid));
  } catch (const rtl::EConvertError& e) {
    HandleError(QStringLiteral("Invalid Universal ID: ") + QString::fromUtf8(e.what()),
                static_cast<int>(HTFAIL_INVALID_ARGUMENT));
    return false;
  }
  if (!document) return false;
  ReplaceDocument(std::move(document));
  return true;
}

// ---------------------------------------------------------------------------------------
// Documents

void TQuireDataCtrl::CreateNewDoc(const QString& form) {
  if (!FDBOpen) return;
  BusyScope busy(*this);
  ReplaceDocument(FDatabase->CreateDocument(Std(form)));
  if (OnAdd) OnAdd(this);
  emit documentAdded();
}

void TQuireDataCtrl::SaveDoc() {
  if (!HasDocument()) return;
  bool cancel = false;
  if (OnSave) OnSave(this, cancel);
  if (cancel || !HasDocument()) return;
  BusyScope busy(*this);
  FDocument->Save();
}

void TQuireDataCtrl::DeleteDoc(const QString& unid) {
  if (!FDBOpen) return;
  bool cancel = false;
  if (OnDelete) OnDelete(this, cancel);
  if (cancel || !FDBOpen) return;
  BusyScope busy(*this);
  std::unique_ptr<TQuireDocument> document;
  try {
    document = FDatabase->GetDocumentByUNID(Std(unid));
  } catch (const rtl::EConvertError& e) {
    HandleError(QStringLiteral("Invalid Universal ID: ") + QString::fromUtf8(e.what()),
                static_cast<int>(HTFAIL_INVALID_ARGUMENT));
    return;
  }
  if (document) FDatabase->DeleteDocument(document.get());
}

void TQuireDataCtrl::DeleteCurrDoc() {
  if (!FDBOpen || !HasDocument() || !FRSOpen || FDocument->IsNew) return;
  BusyScope busy(*this);
  bool cancel = false;
  if (OnDelete) OnDelete(this, cancel);
  // The handler may have moved, closed or deactivated the control.
  if (cancel || !FDBOpen || !HasDocument()) return;
  FDatabase->DeleteDocument(FDocument.get());
  ReleaseDocument();
  if (FRecordsetType == dDocCollection) MoveFirst();
  else Refresh();
}

bool TQuireDataCtrl::DocSend(bool StoreForm, bool Switch8, bool Switch2, const QString& recipients) {
  if (!FDocument) return false;
  BusyScope busy(*this);
  return FDocument->Send(StoreForm, Switch8, Switch2, Std(recipients));
}

HTDOCHANDLE TQuireDataCtrl::GetDocHandle() { return FDocument ? FDocument->DocHandle : 0; }

bool TQuireDataCtrl::GetDocIsNew() { return FDocument ? FDocument->IsNew : false; }

uint32_t TQuireDataCtrl::GetDocLastError() { return FDocument ? FDocument->LastError : 0; }

int TQuireDataCtrl::GetDocItemCount() {
  if (!HasDocument()) return 0;
  BusyScope busy(*this);
  return FDocument->GetITemCount();
}

int TQuireDataCtrl::GetDocAttachCount() {
  if (!HasDocument()) return 0;
  BusyScope busy(*this);
  return FDocument->AttachCount;
}

QString TQuireDataCtrl::GetDocAttachName(int index) {
  if (!HasDocument()) return {};
  BusyScope busy(*this);
  const TQuireAttachment* attachment = FDocument->GetAttach(index);
  return attachment ? QStr(attachment->Name) : QString();
}

TQRItemType TQuireDataCtrl::GetDocItemType(const QString& name) {
  BusyScope busy(*this);
  const TQuireItem* item = ItemByName(name);
  if (!item) return qrTypeInvalid;
  const int type = item->ItemType;
  return type >= qrTypeInvalid && type <= qrTypeFormula ? TQRItemType(type) : qrTypeInvalid;
}

// ---------------------------------------------------------------------------------------
// Items

TQuireItem* TQuireDataCtrl::ItemByIndex(int index) const { return HasDocument() ? FDocument->GetItem(index) : nullptr; }

TQuireItem* TQuireDataCtrl::ItemByName(const QString& name) const {
  return HasDocument() ? FDocument->GetFirstItem(Std(name)) : nullptr;
}

QString TQuireDataCtrl::GetItemText(int index) {
  if (!HasDocument()) return {};
  BusyScope busy(*this);
  TQuireItem* item = ItemByIndex(index);
  return item ? QStr(item->GetText()) : QString();
}

void TQuireDataCtrl::SetItemText(int index, const QString& value) {
  if (!HasDocument()) return;
  BusyScope busy(*this);
  if (TQuireItem* item = ItemByIndex(index)) item->SetText(Std(value));
}

QString TQuireDataCtrl::GetItemName(int index) {
  if (!HasDocument()) return {};
  BusyScope busy(*this);
  const TQuireItem* item = ItemByIndex(index);
  return item ? QStr(item->Name) : QString();
}

int TQuireDataCtrl::GetItemLength(const QString& name) {
  if (!HasDocument()) return 0;
  BusyScope busy(*this);
  TQuireItem* item = ItemByName(name);
  return item ? item->GetLength() : 0;
}

QString TQuireDataCtrl::GetItemAsString(const QString& name) {
  if (!HasDocument()) return {};
  BusyScope busy(*this);
  TQuireItem* item = ItemByName(name);
  return item ? QStr(item->GetText()) : QString();
}

void TQuireDataCtrl::SetItemAsString(const QString& name, const QString& value) {
  if (!HasDocument()) return;
  BusyScope busy(*this);
  if (TQuireItem* item = ItemByName(name)) item->SetText(Std(value));
}

double TQuireDataCtrl::GetItemAsNumber(const QString& name) {
  if (!HasDocument()) return 0.0;
  BusyScope busy(*this);
  TQuireItem* item = ItemByName(name);
  return item ? item->GetAsNumber() : 0.0;
}

void TQuireDataCtrl::SetItemAsNumber(const QString& name, double value) {
  if (!HasDocument()) return;
  BusyScope busy(*this);
  if (TQuireItem* item = ItemByName(name)) item->SetAsNumber(value);
}

// 1 January 1900 12:00:00 as a calendar value: the same under every locale.
rtl::TDateTime TQuireDataCtrl::GetItemAsDateTime(const QString& name) {
  if (!HasDocument()) return kQuireDateFallback;
  BusyScope busy(*this);
  TQuireItem* item = ItemByName(name);
  return item ? item->GetAsDate() : kQuireDateFallback;
}

void TQuireDataCtrl::SetItemAsDateTime(const QString& name, rtl::TDateTime value) {
  if (!HasDocument()) return;
  BusyScope busy(*this);
  if (TQuireItem* item = ItemByName(name)) item->SetAsDate(value);
}

QStringList TQuireDataCtrl::GetItemAsTextList(const QString& name) {
  if (!HasDocument()) return {};
  BusyScope busy(*this);
  QStringList entries;
  if (auto* list = dynamic_cast<TQuireTextListItem*>(ItemByName(name))) {
    for (int i = 0; i < list->GetCount(); ++i) entries.push_back(QStr(list->GetEntry(i)));
  }
  return entries;
}

void TQuireDataCtrl::SetItemAsTextList(const QString& name, const QStringList& entries) {
  if (!HasDocument()) return;
  BusyScope busy(*this);
  auto* list = dynamic_cast<TQuireTextListItem*>(ItemByName(name));
  if (!list) return;
  rtl::TStringList strings;
  for (const QString& entry : entries) strings.Add(Std(entry));
  list->ReplaceEntries(strings);
}

// ---------------------------------------------------------------------------------------
// Adding items, attachments, rich text

void TQuireDataCtrl::DocAddRichTextItem(const QString& name, const QString& text) {
  if (!FDBOpen || !HasDocument()) return;
  BusyScope busy(*this);
  FDocument->AppendRTItem(Std(name), Std(text));
}

void TQuireDataCtrl::DocAddTextItem(const QString& name, const QString& text) {
  if (!FDBOpen || !HasDocument()) return;
  BusyScope busy(*this);
  FDocument->AppendTextItem(Std(name), Std(text));
}

void TQuireDataCtrl::DocAddTextListItem(const QString& name, const QString& text) {
  if (!FDBOpen || !HasDocument()) return;
  BusyScope busy(*this);
  FDocument->AppendTextListItem(Std(name), Std(text));
}

void TQuireDataCtrl::DocAddNumberItem(const QString& name, double value) {
  if (!FDBOpen || !HasDocument()) return;
  BusyScope busy(*this);
  FDocument->AppendNumberItem(Std(name), value);
}

void TQuireDataCtrl::DocAddDateTimeItem(const QString& name, rtl::TDateTime value) {
  if (!FDBOpen || !HasDocument()) return;
  BusyScope busy(*this);
  FDocument->AppendDateTimeItem(Std(name), value);
}

void TQuireDataCtrl::DocExtractFile(const QString& attachment, const QString& targetFile) {
  if (!FDBOpen || !HasDocument()) return;
  BusyScope busy(*this);
  if (TQuireAttachment* found = FDocument->GetAttachment(Std(attachment))) found->ExtractFile(Std(targetFile));
}

void TQuireDataCtrl::DocRemoveFile(const QString& attachment) {
  if (!FDBOpen || !HasDocument()) return;
  BusyScope busy(*this);
  if (TQuireAttachment* found = FDocument->GetAttachment(Std(attachment))) found->Remove();
}

void TQuireDataCtrl::DocAttachFile(const QString& file) {
  if (!FDBOpen || !HasDocument() || !FRSOpen) return;
  BusyScope busy(*this);
  FDocument->AttachFile(Std(file));
}

bool TQuireDataCtrl::DocRTItemExport(const QString& item, const QString& format, const QString& file) {
  if (!FDBOpen || !HasDocument()) return false;
  BusyScope busy(*this);
  auto* richText = dynamic_cast<TQuireRTItem*>(ItemByName(item));
  if (!richText || richText->ItemType != qrTypeComposite) return false;
  const bool done = richText->FileExport(Std(file), Std(format));
  FLastError = richText->RTLastError;
  if (!done) HandleError(QStringLiteral("Export Failed"), static_cast<int>(FLastError));
  return done;
}

bool TQuireDataCtrl::DocRTItemImport(const QString& item, const QString& format, const QString& file) {
  if (!FDBOpen || !HasDocument()) return false;
  BusyScope busy(*this);
  auto* richText = dynamic_cast<TQuireRTItem*>(ItemByName(item));
  if (!richText || richText->ItemType != qrTypeComposite) return false;
  const bool done = richText->FileImport(Std(file), Std(format));
  FLastError = richText->RTLastError;
  if (!done) HandleError(QStringLiteral("Import Failed"), static_cast<int>(FLastError));
  return done;
}

// ---------------------------------------------------------------------------------------
// Columns and cells

int TQuireDataCtrl::GetViewColumnCount() {
  if (!FDBOpen || !FRSOpen) return 0;
  BusyScope busy(*this);
  const TQuireViewBase* index = ViewOrFolder();
  return index ? index->ColumnCount : 0;
}

QString TQuireDataCtrl::GetViewColumnTitle(int index) {
  if (!FDBOpen || !FRSOpen) return {};
  BusyScope busy(*this);
  const TQuireViewBase* view = ViewOrFolder();
  if (!view || index < 0 || index >= view->ColumnCount) return {};
  std::string title;
  view->GetColumnTitles(index, title);
  return QStr(title);
}

QString TQuireDataCtrl::GetViewCellText(int column) {
  if (!FDBOpen || !FRSOpen) return {};
  BusyScope busy(*this);
  TQuireViewBase* view = ViewOrFolder();
  if (!view || column < 1 || column > view->ColumnCount) return {};
  std::string text;
  view->GetCellText(column, text);
  return QStr(text);
}

// ---------------------------------------------------------------------------------------
// Master/detail linking

void TQuireDataCtrl::SetMaster(TQuireCtrl* Value) {
  if (Value == this || Value == FMasterCtrl) return;
  if (FMasterCtrl != nullptr) {
    SetActive(false);
    FMasterCtrl = nullptr;
  }
  FMasterCtrl = Value;
  if (auto* master = qobject_cast<TQuireDataCtrl*>(Value)) master->RegSlave(this);
  // A master on another form must still tell this control when it goes.
  else if (QRComponent* component = Value) FreeNotification(component);
}

void TQuireDataCtrl::RegSlave(TQuireDataCtrl* slave) {
  if (slave == nullptr) return;
  FSlaves.push_back({slave->objectName(), slave});
  // Master and slave may sit on different forms; each must hear of the other's end.
  FreeNotification(slave);
}

void TQuireDataCtrl::SlaveActive() { SetActive(true); }

void TQuireDataCtrl::MasterActive(TQuireSession* session) {
  if (FActive) return;
  FSession = nullptr;
  FOwnedSession.reset();
  FSession = session;
  FActive = session != nullptr;
}

void TQuireDataCtrl::MasterInActive() { SetActive(false); }

void TQuireDataCtrl::Notification(QObject* component, TOperation operation) {
  if (operation != opRemove || component == this) return;
  if (FMasterCtrl != nullptr && static_cast<QObject*>(FMasterCtrl) == component) {
    FMasterCtrl = nullptr;
    SetActive(false);
    return;
  }
  // Every entry goes: one left behind would be served after the slave is gone.
  FSlaves.erase(std::remove_if(FSlaves.begin(), FSlaves.end(),
                               [&](const SlaveEntry& entry) { return static_cast<QObject*>(entry.Control) == component; }),
                FSlaves.end());
}

void TQuireDataCtrl::SetRecordsetType(TQRRecordsetType Value) {
  if (FRSOpen) {
    HandleError(QStringLiteral("Cannot change RecordsetType while Recordset Open"), kRecordsetTypeRefused);
    return;
  }
  FRecordsetType = Value;
}

// ---------------------------------------------------------------------------------------
// Events and errors

void TQuireDataCtrl::DBBusy() {
  if (OnDBBusy) OnDBBusy(this);
  emit dbBusy();
}

void TQuireDataCtrl::DBIdle() {
  if (OnDBIdle) OnDBIdle(this);
  emit dbIdle();
}

void TQuireDataCtrl::HandleError(const QString& message, int code) {
  const QString htmsg = FSession ? QStr(FSession->GetErrorInfo(static_cast<uint32_t>(code))) : QString();
  emit error(message, code, 0, htmsg);
  if (OnError) {
    OnError(this, message, code, 0, htmsg);
    return;
  }
  rtl::ShowMessageBox(Std(message + QStringLiteral("\r\n") + htmsg), "Error", rtl::kMbOk);
}

QString TQuireDataCtrl::GetNotesErrorString() {
  std::string native;
  Translate_To_Native(GetNotesErrorText(FLastError).c_str(), native);
  return QStr(native);
}

// ---------------------------------------------------------------------------------------
// Design time

void TQuireDataCtrl::DesigningChanged() {
  if (IsDesigning()) resize(kDesignSize, kDesignSize);
  setVisible(IsDesigning());
}

void TQuireDataCtrl::paintEvent(QPaintEvent*) {
  if (!IsDesigning()) return;
  if (width() != kDesignSize || height() != kDesignSize) resize(kDesignSize, kDesignSize);
  QPainter painter(this);
  painter.drawPixmap(1, 1, QRLoadBitmap(QStringLiteral("TQUIREDATACTRL")));
}
