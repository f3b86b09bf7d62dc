// QRView: TQuireView, one view of an open database as an ordered, hierarchical index.
//
// Made by TQuireDatabase::GetView (or directly) from a view name and a database handle. The
// constructor never throws for API failures: it locates the view, opens an index bound to
// it, reads the sort keys, the columns and the view's display attributes, and leaves the
// outcome in Opened and LastError. The caller tests Opened; on success LastError holds the
// result of reading the view record, which need not be 0.
//
// Beyond what it shares with folders (TQuireViewBase), a view classifies every row it
// reaches (IsDoc, IsCategory, IsTotal), walks the hierarchy (siblings, children, parents,
// main documents) and tells whether the current row can be expanded. Query, cell and message
// texts cross the API in LMBCS while TranslateOn is set.
//
// Ownership: the view owns its index and columns and borrows the database handle, so it must
// be destroyed before its database; documents it returns belong to the caller. Threads: one
// thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "objects/QRViewBase.h"
#include "rtl/Export.h"

class QUIRE_API TQuireView : public TQuireViewBase {
 public:
  static constexpr size_t kFTSearchLimit = 500;  // characters FTSearch keeps of a query

  TQuireView(const std::string& viewName, HTDBHANDLE databaseHandle);
  ~TQuireView() override = default;

  // Hierarchical moves: NoteID, EntryFlags and LastError follow the navigation call.
  void MoveNextSibling();
  void MovePrevSibling();
  void MoveNextChild();
  void MoveNextParent();
  void MovePrevParent();
  void MoveNextMain();
  void MovePrevMain();

  // The same moves, handing out the document reached (nullptr when the move fails or the
  // document cannot be opened).
  std::unique_ptr<TQuireDocument> GetNextSiblingDocument();
  std::unique_ptr<TQuireDocument> GetPrevSiblingDocument();
  std::unique_ptr<TQuireDocument> GetNextChildDocument();
  std::unique_ptr<TQuireDocument> GetNextParentDocument();
  std::unique_ptr<TQuireDocument> GetPrevParentDocument();
  std::unique_ptr<TQuireDocument> GetNextMainDocument();
  std::unique_ptr<TQuireDocument> GetPrevMainDocument();

  // Classifies `noteID` into IsCategory, IsTotal and IsDoc; done after every navigation.
  void CheckFlags(HTID noteID);
  // Whether the current row has a child row. False without an API call for a flat view;
  // otherwise probes and puts the position back as it was (LastError: the restoring call).
  bool GetIsExpandable();

  HTID ViewID = 0;
  HTVIEWREC ViewRecord{};
  bool IsTotal = false;
  bool IsCategory = false;
  bool IsDoc = false;
  bool ViewFlag4000 = false;  // view record flag 0x4000
  bool ViewFlag0001 = false;  // view record flag 0x0001
  bool FlatIndex = false;     // view record flag 0x0002: responses not under their parents
  uint32_t BackgroundColor = 0xFFFFFF;  // 0x00BBGGRR
  uint32_t AlternateColor = 0xFFFFFF;   // 0x00BBGGRR
  uint32_t ViewAttr17 = 0;  // view record byte 17
  uint32_t ViewAttr24 = 0;  // view record 32-bit value at offset 24

 protected:
  void EntryChanged() override { CheckFlags(NoteID); }

 private:
  void Open(const std::string& viewName);
  void ReadViewRecord();
  std::unique_ptr<TQuireDocument> MoveToDocument(void (TQuireView::*move)());
};
