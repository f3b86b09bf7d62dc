#include "objects/QRViewBase.h"

#include <algorithm>

#include "binding/Quire01.h"
#include "objects/QRBuffer.h"

namespace {

constexpr uint32_t kForward = 0;
constexpr uint32_t kBackward = HTNAVFLAG_BACKWARD;
// Every navigation that hands out a document asks for document rows the user may read.
constexpr uint32_t kDocuments = HTNAVFLAG_DOCUMENTS | HTNAVFLAG_SKIP_EMPTY;

constexpr size_t kPositionCapacity = 256;
constexpr size_t kCellCapacity = 256;
constexpr size_t kRefineLimit = 255;
constexpr uint32_t kFTSearch = HTFTOPT_SEARCH;
constexpr uint32_t kFTRefine = HTFTOPT_SEARCH | HTFTOPT_REFINE;

}  // namespace

TQuireViewBase::TQuireViewBase(HTDBHANDLE databaseHandle, bool translatesTexts, size_t ftSearchLimit)
    : DatabaseHandle(databaseHandle), translatesTexts_(translatesTexts), ftSearchLimit_(ftSearchLimit) {}

TQuireViewBase::~TQuireViewBase() { Release(); }

void TQuireViewBase::Release() {
  if (IndexOpen) HTAPI.HTIndexClose(IndexHandle);
  IndexOpen = false;
  Opened = false;
  FTActive = false;
  Columns.Clear();
  ColumnCount = 0;
  KeyCount = 0;
}

bool TQuireViewBase::BindIndex(HTID design) {
  LastError = HTAPI.HTIndexOpen(DatabaseHandle, &IndexHandle);
  if (LastError != 0) {
    IndexOpen = false;
    return false;
  }
  IndexOpen = true;
  LastError = HTAPI.HTIndexOpenViewFolder(IndexHandle, 0, design, 0);
  return LastError == 0;
}

void TQuireViewBase::ReadColumns(HTID design) {
  ColumnCount = static_cast<int>(HTAPI.HTColumnGetCount(DatabaseHandle, design));
  Columns.Clear();
  int64_t visibleSizes = 0;
  HTUINT columnNumber = 0;
  HTCOLUMNREC record{};
  // The column calls' results are not kept: the first failure (normally the end of the
  // list) only ends the list.
  HTSTATUS status = HTAPI.HTColumnList(DatabaseHandle, design, HTLIST_FIRST, &columnNumber, &record);
  while (status == 0) {
    auto column = std::make_unique<TQuireViewColumn>(DatabaseHandle, design, columnNumber, record);
    if (!column->Hidden) visibleSizes += record.fontSize;
    std::string title;
    column->GetTitle(title);
    Columns.AddObject(title, column.release());
    status = HTAPI.HTColumnList(DatabaseHandle, design, HTLIST_NEXT, &columnNumber, &record);
  }
  if (Columns.Count() == 0) return;
  // Hidden columns count in the divisor though not in the sum.
  const auto average = static_cast<int32_t>(visibleSizes / Columns.Count());
  for (int i = 0; i < Columns.Count(); ++i) Columns.ObjectAs<TQuireViewColumn>(i)->FontSize = average;
}

int TQuireViewBase::GetCount() {
  if (!IndexOpen) return 0;
  return static_cast<int>(HTAPI.HTIndexGetCount(IndexHandle));
}

int TQuireViewBase::GetPosition() {
  if (!IndexOpen) return 0;
  return static_cast<int>(HTAPI.HTIndexGetPosition(IndexHandle));
}

void TQuireViewBase::SetPosition(int position) {
  LastError = HTAPI.HTIndexSetPosition(IndexHandle, static_cast<HTUINT>(position));
}

void TQuireViewBase::GetViewPosition(std::string& text) {
  qrbuffer::Out<kPositionCapacity> buffer;
  LastError = HTAPI.HTIndexGetViewPosition(IndexHandle, kPositionCapacity - 1, buffer.get());
  text = LastError == 0 ? buffer.text() : std::string();
}

void TQuireViewBase::SetViewPosition(const std::string& text) {
  const qrbuffer::In<kPositionCapacity> buffer(text);
  LastError = HTAPI.HTIndexSetViewPosition(IndexHandle, buffer.get());
}

void TQuireViewBase::Refresh() { LastError = HTAPI.HTIndexRefresh(IndexHandle); }

TQuireViewColumn* TQuireViewBase::GetColumn(int index) const {
  if (index < 0 || index > ColumnCount - 1 || index >= Columns.Count()) return nullptr;
  return Columns.ObjectAs<TQuireViewColumn>(index);
}

void TQuireViewBase::GetColumnTitles(int index, std::string& title) const {
  if (index < 0 || index > ColumnCount - 1 || index >= Columns.Count()) {
    title.clear();
    return;
  }
  title = Columns.Strings(index);
}

void TQuireViewBase::GetCellText(int column, std::string& text) {
  text.clear();
  if (!IndexOpen || column < 1 || column > ColumnCount) return;
  HTINT type = HTTYPE_TEXT;
  HTUINT length = kCellCapacity - 1;
  qrbuffer::Out<kCellCapacity> buffer;
  LastError = HTAPI.HTViewcellFetch(IndexHandle, static_cast<HTUINT>(column), &type, &length, buffer.get());
  if (LastError != 0) return;
  const std::string cell = buffer.text();
  if (translatesTexts_) {
    Translate_To_Native(cell.c_str(), text);
  } else {
    text = cell;
  }
}

void TQuireViewBase::GetKeys() {
  KeyCount = 0;
  if (!IndexOpen) return;
  LastError = HTAPI.HTIndexListKey(IndexHandle, HTLIST_FIRST, &KeyDescriptors[0]);
  while (LastError == 0 && KeyCount < kMaxKeys) {
    ++KeyCount;
    LastError = HTAPI.HTIndexListKey(IndexHandle, HTLIST_NEXT, &KeyDescriptors[KeyCount]);
  }
}

void TQuireViewBase::SetKeyValue(int keyNumber, const std::string& value) {
  if (keyNumber < 1 || keyNumber > KeyCount) return;
  qrbuffer::Fill(KeyValues[keyNumber - 1], value);
}

bool TQuireViewBase::KeySearch(int count, bool ExactMatch) {
  if (!IndexOpen || KeyCount == 0 || count < 1) return false;
  const int keys = std::min(KeyCount, count);
  const HTUINT mode = ExactMatch ? HTKEYSEARCH_EXACT : HTKEYSEARCH_PARTIAL;
  for (int k = 0; k < keys; ++k) {
    KeyDescriptors[k].type = HTTYPE_TEXT;
    KeyDescriptors[k].value = KeyValues[k];
  }
  HTUINT matched = 0;
  LastError = HTAPI.HTIndexKeySearch(IndexHandle, static_cast<HTUINT>(keys), KeyDescriptors, mode, &matched);
  return LastError == 0;
}

HTSTATUS TQuireViewBase::Navigate(int navigation, uint32_t flags) {
  LastError = HTAPI.HTIndexNavigate(IndexHandle, navigation, flags, &NoteID, &EntryFlags);
  if (LastError == 0) EntryChanged();
  return LastError;
}

void TQuireViewBase::Move(int navigation, uint32_t flags) {
  if (!IndexOpen) return;
  Navigate(navigation, flags);
}

void TQuireViewBase::MoveFirst() {
  if (!IndexOpen) return;
  LastError = HTAPI.HTIndexSetPosition(IndexHandle, 1);
  Navigate(HTNAV_CURRENT, kForward);
}

void TQuireViewBase::MoveLast() { Move(HTNAV_END, kForward); }
void TQuireViewBase::MoveNext() { Move(HTNAV_NEXT, kForward); }
void TQuireViewBase::MovePrev() { Move(HTNAV_NEXT, kBackward); }

void TQuireViewBase::MoveTo(int position) {
  if (!IndexOpen) return;
  position = std::clamp(position, 0, std::max(GetCount(), 0));
  LastError = HTAPI.HTIndexSetPosition(IndexHandle, static_cast<HTUINT>(position));
  Navigate(HTNAV_CURRENT, kForward);
}

std::unique_ptr<TQuireDocument> TQuireViewBase::MakeDocument() {
  Opened = true;
  auto document = std::make_unique<TQuireDocument>(DatabaseHandle, NoteID);
  if (document->Loaded) return document;
  LastError = document->LastError;
  return nullptr;
}

std::unique_ptr<TQuireDocument> TQuireViewBase::NavigateToDocument(int navigation, uint32_t flags) {
  if (!IndexOpen) return nullptr;
  if (Navigate(navigation, flags) != 0) return nullptr;
  return MakeDocument();
}

std::unique_ptr<TQuireDocument> TQuireViewBase::GetFirstDocument() {
  return NavigateToDocument(HTNAV_END, kDocuments | kBackward);
}

std::unique_ptr<TQuireDocument> TQuireViewBase::GetLastDocument() { return NavigateToDocument(HTNAV_END, kDocuments); }

std::unique_ptr<TQuireDocument> TQuireViewBase::GetNextDocument() {
  return NavigateToDocument(HTNAV_NEXT, kDocuments);
}

std::unique_ptr<TQuireDocument> TQuireViewBase::GetPrevDocument() {
  return NavigateToDocument(HTNAV_NEXT, kDocuments | kBackward);
}

std::unique_ptr<TQuireDocument> TQuireViewBase::GetCurrentDocument() {
  return NavigateToDocument(HTNAV_CURRENT, kDocuments);
}

std::unique_ptr<TQuireDocument> TQuireViewBase::GetNthDocument(int position) {
  if (!IndexOpen) return nullptr;
  LastError = HTAPI.HTIndexSetPosition(IndexHandle, static_cast<HTUINT>(position));
  return NavigateToDocument(HTNAV_CURRENT, kDocuments);
}

std::string TQuireViewBase::ToAPI(const std::string& text) const {
  if (!translatesTexts_) return text;
  std::string translated;
  Translate_From_Native(text.c_str(), translated);
  return translated;
}

int TQuireViewBase::RunFTSearch(const std::string& query, size_t limit, uint32_t options, int maxDocs) {
  SavedPosition = GetPosition();
  // The query is translated first and then cut, so the API never receives more than the
  // buffer it would have had.
  const std::string text = ToAPI(query);
  const std::string bounded = text.substr(0, qrbuffer::FittingLength(text, limit + 1));
  LastError = HTAPI.HTIndexFTSearch(IndexHandle, bounded.c_str(), options, HTFTSORT_SCORE_ASCEND,
                                    static_cast<HTUINT>(maxDocs));
  if (LastError != 0) return 0;
  FTActive = true;
  return GetCount();
}

int TQuireViewBase::FTSearch(const std::string& query, int maxDocs) {
  if (!IndexOpen) return 0;
  if (FTActive) FTRefine(query, maxDocs);
  return RunFTSearch(query, ftSearchLimit_, kFTSearch, maxDocs);
}

int TQuireViewBase::FTRefine(const std::string& query, int maxDocs) {
  if (!IndexOpen || !FTActive) return 0;
  return RunFTSearch(query, kRefineLimit, kFTRefine, maxDocs);
}

void TQuireViewBase::FTClear() {
  if (!IndexOpen || !FTActive) return;
  LastError = HTAPI.HTIndexFTSearch(IndexHandle, "", HTFTOPT_CLEAR, HTFTSORT_NONE, 0);
  if (LastError == 0) FTActive = false;
  SetPosition(SavedPosition);
}

uint32_t TQuireViewBase::TranslateColor(int index) {
  static constexpr uint32_t kColors[26] = {
      0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0xFF00FF, 0x00FFFF, 0xFFFF00, 0x000080,
      0x008000, 0x800000, 0x800080, 0x008080, 0x808000, 0x808080, 0xC0C0C0, 0xFFFFFF, 0xC1FFFF,
      0xC1FFFF, 0xC1FFFF, 0xE1FF82, 0xE1FF82, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
  };
  if (index < 0 || index >= 26) return 0xFFFFFF;
  return kColors[index];
}

void TQuireViewBase::GetNotesErrorString(std::string& text) {
  text.clear();
  if (!translatesTexts_) {
    text = GetNotesErrorText(LastError);
    return;
  }
  HTINT severity = 0;
  qrbuffer::Out<HT_ERROR_TEXT_CAPACITY> buffer;
  if (HTAPI.HTErrorGetInfo(LastError, &severity, buffer.get()) == 0) return;
  Translate_To_Native(buffer.text().c_str(), text);
}
