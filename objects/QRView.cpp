#include "objects/QRView.h"

#include "binding/Quire01.h"
#include "objects/QRBuffer.h"

namespace {

constexpr uint32_t kForward = 0;
constexpr uint32_t kBackward = HTNAVFLAG_BACKWARD;
constexpr uint32_t kDocuments = HTNAVFLAG_DOCUMENTS | HTNAVFLAG_SKIP_EMPTY;
constexpr size_t kNameCapacity = 256;

}  // namespace

TQuireView::TQuireView(const std::string& viewName, HTDBHANDLE databaseHandle)
    : TQuireViewBase(databaseHandle, /*translatesTexts=*/true, kFTSearchLimit) {
  Open(viewName);
}

void TQuireView::Open(const std::string& viewName) {
  LastError = 0;
  FTActive = false;
  const qrbuffer::In<kNameCapacity> name(viewName);
  ViewID = HTAPI.HTViewLocateByName(DatabaseHandle, name.get());
  if (ViewID == 0) {
    LastError = HTFAIL_VIEW_NOT_FOUND;
    return;
  }
  if (!BindIndex(ViewID)) return;

  const HTSTATUS first = HTAPI.HTIndexNavigate(IndexHandle, HTNAV_NEXT, kDocuments, &NoteID, &EntryFlags);
  GetKeys();
  if (first == 0) CheckFlags(NoteID);
  Opened = true;
  ReadColumns(ViewID);
  ReadViewRecord();
}

void TQuireView::ReadViewRecord() {
  LastError = HTAPI.HTViewFetch(DatabaseHandle, ViewID, &ViewRecord);
  if (LastError != 0) {
    BackgroundColor = AlternateColor = 0xFFFFFF;
    return;
  }
  const uint16_t flags = ViewRecord.flags;
  ViewAttr17 = ViewRecord.linesPerRow;
  BackgroundColor = TranslateColor(static_cast<int>(ViewRecord.backgroundColor));
  ViewFlag0001 = (flags & HTVIEWFLAG_DEFAULT) != 0;
  FlatIndex = (flags & HTVIEWFLAG_FLAT) != 0;
  AlternateColor = (flags & HTVIEWFLAG_ALTERNATE_ROWS) != 0
                       ? TranslateColor(static_cast<int>(ViewRecord.alternateColor))
                       : BackgroundColor;
  ViewFlag4000 = (flags & HTVIEWFLAG_COLLAPSED) != 0;
  ViewAttr24 = ViewRecord.openAt;
}

void TQuireView::CheckFlags(HTID noteID) {
  IsCategory = noteID == HTNOTEID_CATEGORY;
  IsTotal = noteID == HTNOTEID_TOTAL;
  IsDoc = (noteID & 0x80000000u) == 0;
}

bool TQuireView::GetIsExpandable() {
  if (!IndexOpen || FlatIndex) return false;
  std::string saved;
  GetViewPosition(saved);
  // The probe must leave the current entry and its classification alone.
  HTID child = 0;
  HTUINT childFlags = 0;
  const bool expandable =
      HTAPI.HTIndexNavigate(IndexHandle, HTNAV_CHILD, HTNAVFLAG_PROBE, &child, &childFlags) == 0;
  SetViewPosition(saved);
  return expandable;
}

void TQuireView::MoveNextSibling() { Move(HTNAV_SIBLING, kForward); }
void TQuireView::MovePrevSibling() { Move(HTNAV_SIBLING, kBackward); }
void TQuireView::MoveNextChild() { Move(HTNAV_CHILD, kForward); }
void TQuireView::MoveNextParent() { Move(HTNAV_PARENT, kForward); }
void TQuireView::MovePrevParent() { Move(HTNAV_PARENT, kBackward); }
void TQuireView::MoveNextMain() { Move(HTNAV_MAIN, kForward); }
void TQuireView::MovePrevMain() { Move(HTNAV_MAIN, kBackward); }

std::unique_ptr<TQuireDocument> TQuireView::MoveToDocument(void (TQuireView::*move)()) {
  if (!IndexOpen) return nullptr;
  (this->*move)();
  if (LastError != 0) return nullptr;
  return MakeDocument();
}

std::unique_ptr<TQuireDocument> TQuireView::GetNextSiblingDocument() {
  return MoveToDocument(&TQuireView::MoveNextSibling);
}
std::unique_ptr<TQuireDocument> TQuireView::GetPrevSiblingDocument() {
  return MoveToDocument(&TQuireView::MovePrevSibling);
}
std::unique_ptr<TQuireDocument> TQuireView::GetNextChildDocument() {
  return MoveToDocument(&TQuireView::MoveNextChild);
}
std::unique_ptr<TQuireDocument> TQuireView::GetNextParentDocument() {
  return MoveToDocument(&TQuireView::MoveNextParent);
}
std::unique_ptr<TQuireDocument> TQuireView::GetPrevParentDocument() {
  return MoveToDocument(&TQuireView::MovePrevParent);
}
std::unique_ptr<TQuireDocument> TQuireView::GetNextMainDocument() {
  return MoveToDocument(&TQuireView::MoveNextMain);
}
std::unique_ptr<TQuireDocument> TQuireView::GetPrevMainDocument() {
  return MoveToDocument(&TQuireView::MovePrevMain);
}
