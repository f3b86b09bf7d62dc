// QRViewBase: what a view (TQuireView) and a folder (TQuireFolder) have in common.
//
// Both wrap an index of the API bound to one view or folder design: they count and position
// its rows, walk it flat, search it by sort key and by full-text query, read cells of the
// current row, and hand out the documents of document rows. They differ in how they are
// opened, in the view's entry-kind flags and hierarchy, and in text handling: a view
// translates query, cell and message texts to and from LMBCS, a folder passes them as they
// are. This class holds the shared state and operations; it is never made on its own.
//
// Ownership: the index handle belongs to the object and is closed by its destructor; the
// database handle is borrowed, so the object must be destroyed before its database. Column
// objects belong to the object (Columns owns them); GetColumn hands out non-owning pointers
// valid as long as the object. Every returned TQuireDocument belongs to the caller.
//
// Errors: API failures never throw. Unless an operation says otherwise, it stores the
// result code of its last call in LastError; GetNotesErrorString turns it into text.
// Operations that need an open index do nothing (answering 0, nullptr or false) while
// IndexOpen is false, except SetPosition, GetViewPosition, SetViewPosition and Refresh,
// which pass the handle through and let the API judge it.
//
// Threads: one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "hitest/hitest.h"
#include "objects/QuireCol.h"
#include "objects/Quiredoc.h"
#include "rtl/Export.h"
#include "rtl/StringList.h"

class QUIRE_API TQuireViewBase {
 public:
  static constexpr int kMaxKeys = HT_MAX_KEYS;
  static constexpr size_t kKeyValueCapacity = 101;  // 100 characters and the terminator

  virtual ~TQuireViewBase();
  TQuireViewBase(const TQuireViewBase&) = delete;
  TQuireViewBase& operator=(const TQuireViewBase&) = delete;

  // Counting and positions; positions are 1-based.
  int GetCount();     // 0 when the index is not open; LastError untouched
  int GetPosition();  // 0 when the index is not open; LastError untouched
  void SetPosition(int position);
  // The opaque position text of the current row ("" on failure), untranslated.
  void GetViewPosition(std::string& text);
  void SetViewPosition(const std::string& text);  // cut to 255 characters
  void Refresh();

  // Columns, 0-based; nullptr or "" outside 0..ColumnCount-1. No API call.
  TQuireViewColumn* GetColumn(int index) const;
  void GetColumnTitles(int index, std::string& title) const;
  // The text of cell `column` (1-based) of the current row; "" outside 1..ColumnCount
  // (without an API call) or when the API fails.
  void GetCellText(int column, std::string& text);

  // Sort keys: GetKeys (re)reads the descriptors; SetKeyValue stores the text of key
  // 1..KeyCount, cut to 100 characters; KeySearch searches with the first min(count,
  // KeyCount) keys, exactly or by leading text, and positions on the match.
  void GetKeys();
  void SetKeyValue(int keyNumber, const std::string& value);
  bool KeySearch(int count, bool ExactMatch);

  // Flat moves: NoteID, EntryFlags and LastError follow the navigation call.
  void MoveFirst();
  void MoveLast();
  void MoveNext();
  void MovePrev();
  void MoveTo(int position);  // clamped to 0..GetCount()

  // Document-returning navigation: nullptr at either end, on failure, or when the row's
  // document cannot be opened (its LastError then becomes this object's).
  std::unique_ptr<TQuireDocument> GetFirstDocument();
  std::unique_ptr<TQuireDocument> GetLastDocument();
  std::unique_ptr<TQuireDocument> GetNextDocument();
  std::unique_ptr<TQuireDocument> GetPrevDocument();
  std::unique_ptr<TQuireDocument> GetCurrentDocument();
  std::unique_ptr<TQuireDocument> GetNthDocument(int position);  // position not clamped

  // Full text. FTSearch answers the number of rows the search left (0 on failure); with a
  // search already in force it first refines with the same query. FTRefine works only
  // while a search is in force. FTClear drops the search and returns to the position held
  // before the latest FTSearch or FTRefine; without a search in force it does nothing.
  int FTSearch(const std::string& query, int maxDocs);
  int FTRefine(const std::string& query, int maxDocs);
  void FTClear();

  // API colour number -> 0x00BBGGRR for numbers 0 to 25; white for every other number.
  static uint32_t TranslateColor(int index);

  // The API's message for LastError ("" when it has none).
  void GetNotesErrorString(std::string& text);

  HTDBHANDLE DatabaseHandle = 0;  // borrowed
  HTINDEXHANDLE IndexHandle = 0;  // owned while IndexOpen
  HTID NoteID = 0;                // the entry the last navigation reached
  uint32_t EntryFlags = 0;        // the second out-value of navigation; not interpreted
  int ColumnCount = 0;            // as HTColumnGetCount reported it
  rtl::TStringList Columns = rtl::TStringList::Owning<TQuireViewColumn>();  // title -> column
  bool Opened = false;     // bound to its view or folder: the database's test of success
  bool IndexOpen = false;  // IndexHandle is valid
  bool FTActive = false;   // a full-text search or refinement is in force
  int SavedPosition = 0;   // taken by FTSearch/FTRefine, restored by FTClear
  uint32_t LastError = 0;
  HTKEYDESC KeyDescriptors[kMaxKeys + 1] = {};    // one more than kMaxKeys: GetKeys' last probe
  char KeyValues[kMaxKeys][kKeyValueCapacity] = {};  // key k (1-based) is KeyValues[k - 1]
  int KeyCount = 0;                               // 0 to kMaxKeys

 protected:
  // `translatesTexts`: queries, cells and messages cross the API in LMBCS (a view) or
  // untouched (a folder). `ftSearchLimit`: the characters FTSearch keeps of a query.
  TQuireViewBase(HTDBHANDLE databaseHandle, bool translatesTexts, size_t ftSearchLimit);

  // Opens the index and binds it to `design`; false (LastError set) when either fails.
  bool BindIndex(HTID design);
  // Reads the column count and the columns of `design`, then gives every column the
  // average font size of the visible ones over all of them.
  void ReadColumns(HTID design);
  // Closes the index and forgets columns and keys, so the object can be opened again.
  void Release();

  // One navigation call into NoteID/EntryFlags/LastError; EntryChanged on success.
  HTSTATUS Navigate(int navigation, uint32_t flags);
  void Move(int navigation, uint32_t flags);
  std::unique_ptr<TQuireDocument> NavigateToDocument(int navigation, uint32_t flags);
  // The document of NoteID, or nullptr with its LastError taken over.
  std::unique_ptr<TQuireDocument> MakeDocument();

  // Called after every successful navigation; the view classifies the entry here.
  virtual void EntryChanged() {}

 private:
  int RunFTSearch(const std::string& query, size_t limit, uint32_t options, int maxDocs);
  std::string ToAPI(const std::string& text) const;

  const bool translatesTexts_;
  const size_t ftSearchLimit_;
};
