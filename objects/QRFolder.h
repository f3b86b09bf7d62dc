// QRFolder: TQuireFolder, an index over the documents a folder of the database holds.
//
// A folder offers what it shares with a view (TQuireViewBase: counting, positions, flat
// navigation, key and full-text search, cells and columns) and changes its own membership
// (AddDocument, RemoveDocument, RemoveAllDocuments). It has no hierarchy, no entry-kind
// flags and no view attributes, and it passes every text to and from the API untranslated;
// its full-text queries are cut to 255 characters.
//
// Made by TQuireDatabase::GetFolder (an existing folder, by name) or CreateFolderFromView (a
// new folder with a view's design, then opened). Construction never throws for API
// failures; the caller tests Opened. After a successful open LastError normally holds the
// end-of-list code of the sort-key listing, so only Opened tells success.
//
// Ownership: the folder owns its index and columns and borrows the database handle, so it
// must be destroyed before its database; documents it returns belong to the caller. A folder
// made by CreateFromView stays in the database whether or not it could then be opened.
// Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "objects/QRViewBase.h"
#include "rtl/Export.h"

class QUIRE_API TQuireFolder : public TQuireViewBase {
 public:
  static constexpr size_t kFTSearchLimit = 255;  // characters FTSearch keeps of a query
  // CreateFromView flag the database passes for a private folder.
  static constexpr uint32_t kPrivateFolder = 0x80000000u;

  // Opens the existing folder `folderName` (Init(folderName, false)).
  TQuireFolder(const std::string& folderName, HTDBHANDLE databaseHandle);
  ~TQuireFolder() override = default;

  // Makes a new folder `folderName` from the view (or folder) `viewName` and opens it.
  // `flags` reaches the API unchanged. Never nullptr: test Opened and LastError.
  static std::unique_ptr<TQuireFolder> CreateFromView(const std::string& folderName, const std::string& viewName,
                                                      uint32_t flags, HTDBHANDLE databaseHandle);

  // The opening sequence: locate `folderName` unless FolderID already names the folder,
  // open and bind the index, read keys and columns. Opening again first releases what a
  // previous opening held.
  void Init(const std::string& folderName, bool haveFolderID);

  // Membership; the API's result only in LastError. No open index is needed.
  void AddDocument(HTID noteID);
  void RemoveDocument(HTID noteID);
  void RemoveAllDocuments();

  HTID FolderID = 0;

 private:
  explicit TQuireFolder(HTDBHANDLE databaseHandle);
};
