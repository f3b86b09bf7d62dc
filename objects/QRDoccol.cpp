#include "objects/QRDoccol.h"

#include "binding/Quire01.h"
#include "objects/QRBuffer.h"

namespace {

constexpr uint32_t kForward = 0;
constexpr uint32_t kBackward = HTNAVFLAG_BACKWARD;
constexpr uint32_t kFTSearch = HTFTOPT_SEARCH;
constexpr uint32_t kFTRefine = HTFTOPT_SEARCH | HTFTOPT_REFINE;

// `text` cut to at most `limit` characters, as a zero-terminated buffer of limit + 1 bytes
// would hold it.
std::string Bounded(const std::string& text, size_t limit) {
  return text.substr(0, qrbuffer::FittingLength(text, limit + 1));
}

std::string ToLMBCS(const std::string& text) {
  std::string translated;
  Translate_From_Native(text.c_str(), translated);
  return translated;
}

}  // namespace

TQuireDocCollection::TQuireDocCollection(const std::string& Query, HTDBHANDLE DbHandle, bool IsFTSearch,
                                         uint32_t FTOptions, int32_t FTSort, uint32_t FTMaxDocs)
    : DbHandle(DbHandle), Query(Query) {
  LastError = HTAPI.HTIndexOpen(DbHandle, &IndexHandle);
  if (LastError != 0) return;
  IndexOpen = true;

  // Cut before translating, and again after: translation may lengthen the text, and the
  // API must never see more than the buffer would have held.
  const std::string query = Bounded(ToLMBCS(Bounded(Query, kQueryLimit)), kQueryLimit);
  if (IsFTSearch) {
    LastError = HTAPI.HTIndexFTSearch(IndexHandle, query.c_str(), FTOptions, FTSort, FTMaxDocs);
  } else {
    HTUINT matched = 0;
    LastError = HTAPI.HTIndexSearch(IndexHandle, query.c_str(), 0, &matched);
  }
  if (LastError != 0) return;

  HTID document = 0;
  Navigate(HTNAV_NEXT, kForward, document);
  HasResult = LastError == 0 || LastError == HTFAIL_END_OF_LIST;
}

TQuireDocCollection::~TQuireDocCollection() {
  if (IndexOpen) HTAPI.HTIndexClose(IndexHandle);
}

int TQuireDocCollection::GetCount() {
  if (!IndexOpen) return 0;
  return static_cast<int>(HTAPI.HTIndexGetCount(IndexHandle));
}

int TQuireDocCollection::GetPosition() {
  if (!IndexOpen) return 0;
  return static_cast<int>(HTAPI.HTIndexGetPosition(IndexHandle));
}

HTSTATUS TQuireDocCollection::Navigate(int navigation, uint32_t direction, HTID& document) {
  HTUINT unused = 0;
  LastError = HTAPI.HTIndexNavigate(IndexHandle, navigation, direction, &document, &unused);
  return LastError;
}

std::unique_ptr<TQuireDocument> TQuireDocCollection::MakeDocument(HTSTATUS status, HTID document) {
  if (status != 0) return nullptr;
  HasResult = true;
  auto made = std::make_unique<TQuireDocument>(DbHandle, document);
  if (made->Loaded) return made;
  LastError = made->LastError;
  return nullptr;
}

std::unique_ptr<TQuireDocument> TQuireDocCollection::GetFirstDocument() {
  if (!IndexOpen) return nullptr;
  HTAPI.HTIndexSetPosition(IndexHandle, 1);
  HTID document = 0;
  const HTSTATUS status = Navigate(HTNAV_CURRENT, kForward, document);
  return MakeDocument(status, document);
}

std::unique_ptr<TQuireDocument> TQuireDocCollection::GetCurrentDocument() {
  if (!IndexOpen) return nullptr;
  HTID document = 0;
  const HTSTATUS status = Navigate(HTNAV_CURRENT, kForward, document);
  return MakeDocument(status, document);
}

std::unique_ptr<TQuireDocument> TQuireDocCollection::GetNextDocument() {
  if (!IndexOpen) return nullptr;
  HTID document = 0;
  HTSTATUS status = Navigate(HTNAV_NEXT, kForward, document);
  // Past the end the caller stays on, and gets again, the last document.
  if (status == HTFAIL_END_OF_LIST) status = Navigate(HTNAV_END, kForward, document);
  return MakeDocument(status, document);
}

std::unique_ptr<TQuireDocument> TQuireDocCollection::GetPrevDocument() {
  if (!IndexOpen) return nullptr;
  HTID document = 0;
  HTSTATUS status = Navigate(HTNAV_NEXT, kBackward, document);
  if (status == HTFAIL_END_OF_LIST) status = Navigate(HTNAV_END, kBackward, document);
  return MakeDocument(status, document);
}

std::unique_ptr<TQuireDocument> TQuireDocCollection::GetLastDocument() {
  if (!IndexOpen) return nullptr;
  HTID document = 0;
  const HTSTATUS status = Navigate(HTNAV_END, kForward, document);
  return MakeDocument(status, document);
}

std::unique_ptr<TQuireDocument> TQuireDocCollection::GetNthDocument(int N) {
  if (!IndexOpen) return nullptr;
  LastError = HTAPI.HTIndexSetPosition(IndexHandle, static_cast<HTUINT>(N));
  HTID document = 0;
  const HTSTATUS status = Navigate(HTNAV_CURRENT, kForward, document);
  return MakeDocument(status, document);
}

void TQuireDocCollection::Move(int navigation, uint32_t direction) {
  if (!IndexOpen) return;
  HTID document = 0;
  Navigate(navigation, direction, document);
}

void TQuireDocCollection::MoveFirst() {
  if (!IndexOpen) return;
  LastError = HTAPI.HTIndexSetPosition(IndexHandle, 1);
  Move(HTNAV_CURRENT, kForward);
}

void TQuireDocCollection::MovePrev() { Move(HTNAV_NEXT, kBackward); }
void TQuireDocCollection::MoveNext() { Move(HTNAV_NEXT, kForward); }
void TQuireDocCollection::MoveLast() { Move(HTNAV_END, kForward); }

void TQuireDocCollection::MoveTo(int N) {
  if (!IndexOpen) return;
  const int count = GetCount();
  if (N > count) N = count;
  LastError = HTAPI.HTIndexSetPosition(IndexHandle, static_cast<HTUINT>(N));
  Move(HTNAV_CURRENT, kForward);
}

int TQuireDocCollection::FTSearch(const std::string& Query, int MaxDocs) {
  if (!IndexOpen) return 0;
  if (FTActive) FTRefine(Query, MaxDocs);
  SavedPosition = GetPosition();
  const std::string query = Bounded(ToLMBCS(Bounded(Query, kFTQueryLimit)), kFTQueryLimit);
  LastError = HTAPI.HTIndexFTSearch(IndexHandle, query.c_str(), kFTSearch, HTFTSORT_SCORE_ASCEND,
                                    static_cast<HTUINT>(MaxDocs));
  if (LastError != 0) return 0;
  FTActive = true;
  return GetCount();
}

int TQuireDocCollection::FTRefine(const std::string& Query, int MaxDocs) {
  if (!IndexOpen || !FTActive) return 0;
  SavedPosition = GetPosition();
  // A refinement goes to the API untranslated.
  const std::string query = Bounded(Query, kFTQueryLimit);
  LastError = HTAPI.HTIndexFTSearch(IndexHandle, query.c_str(), kFTRefine, HTFTSORT_SCORE_ASCEND,
                                    static_cast<HTUINT>(MaxDocs));
  if (LastError != 0) return 0;
  return GetCount();
}

void TQuireDocCollection::FTClear() {
  if (!IndexOpen || !FTActive) return;
  LastError = HTAPI.HTIndexFTSearch(IndexHandle, "", HTFTOPT_CLEAR, HTFTSORT_NONE, 0);
  if (LastError == 0) FTActive = false;
  MoveTo(SavedPosition);
}

std::string TQuireDocCollection::GetNotesErrorString() const { return GetNotesErrorText(LastError); }
