// QRDoccol: TQuireDocCollection, the result set of a search over a whole database.
//
// A collection holds an index of the API opened on the database and run once through a
// formula (the empty formula selects every document) or a full-text query. It hands out the
// documents of the set one at a time, moves its position without making documents, and
// narrows or clears a full-text search on the set. TQuireDatabase makes collections for
// AllDocuments, Search and FTSearch and returns one only when HasResult is set.
//
// Construction never throws for API failures: the outcome is in IndexOpen, HasResult and
// LastError. Every operation does nothing (answering 0 or nullptr) while IndexOpen is false.
// Navigation failures stay in LastError; the document-returning operations then answer
// nullptr. Queries longer than their buffers are cut: 500 characters at construction, 255
// for FTSearch and FTRefine.
//
// Ownership: the collection owns its index (closed by the destructor) and borrows the
// database handle, so it must be destroyed before its database. Every document it returns
// belongs to the caller. Threads: one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "hitest/hitest.h"
#include "objects/Quiredoc.h"
#include "rtl/Export.h"

class QUIRE_API TQuireDocCollection {
 public:
  static constexpr size_t kQueryLimit = 500;    // characters kept of the construction query
  static constexpr size_t kFTQueryLimit = 255;  // characters kept by FTSearch and FTRefine

  // Opens an index on `DbHandle` and runs `Query`: as a full-text query with the three FT
  // values when `IsFTSearch`, else as a formula (the FT values are then unused).
  TQuireDocCollection(const std::string& Query, HTDBHANDLE DbHandle, bool IsFTSearch, uint32_t FTOptions,
                      int32_t FTSort, uint32_t FTMaxDocs);
  ~TQuireDocCollection();
  TQuireDocCollection(const TQuireDocCollection&) = delete;
  TQuireDocCollection& operator=(const TQuireDocCollection&) = delete;

  int GetCount();     // documents in the set; 0 when the index is not open
  int GetPosition();  // 1-based; 0 when the index is not open

  // Past the last document GetNextDocument answers the last one again, and before the first
  // GetPrevDocument the first one again. GetNthDocument passes N to the API unchecked.
  std::unique_ptr<TQuireDocument> GetFirstDocument();
  std::unique_ptr<TQuireDocument> GetPrevDocument();
  std::unique_ptr<TQuireDocument> GetCurrentDocument();
  std::unique_ptr<TQuireDocument> GetNextDocument();
  std::unique_ptr<TQuireDocument> GetLastDocument();
  std::unique_ptr<TQuireDocument> GetNthDocument(int N);

  // Moves without making a document; the result only in LastError. MoveTo clamps N to
  // GetCount().
  void MoveFirst();
  void MovePrev();
  void MoveNext();
  void MoveLast();
  void MoveTo(int N);

  // FTSearch answers the documents left (0 on failure); with a search in force it first
  // refines with the same query. FTRefine needs a search in force. FTClear drops the search
  // and moves back to the position held before the latest FTSearch or FTRefine.
  int FTSearch(const std::string& Query, int MaxDocs);
  int FTRefine(const std::string& Query, int MaxDocs);
  void FTClear();

  // The API's message for LastError ("" when it has none).
  std::string GetNotesErrorString() const;

  HTDBHANDLE DbHandle = 0;        // borrowed; also given to every document made
  HTINDEXHANDLE IndexHandle = 0;  // owned while IndexOpen
  bool HasResult = false;         // the search ran and its first step succeeded or met the end
  bool IndexOpen = false;
  std::string Query;
  bool FTActive = false;  // a search made by FTSearch/FTRefine is in force
  int SavedPosition = 0;  // taken by FTSearch/FTRefine, restored by FTClear
  uint32_t LastError = 0;

 private:
  HTSTATUS Navigate(int navigation, uint32_t direction, HTID& document);
  std::unique_ptr<TQuireDocument> MakeDocument(HTSTATUS status, HTID document);
  void Move(int navigation, uint32_t direction);
};
