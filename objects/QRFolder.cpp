#include "objects/QRFolder.h"

#include "binding/Quire01.h"
#include "objects/QRBuffer.h"

namespace {

constexpr size_t kNameCapacity = 256;

}  // namespace

TQuireFolder::TQuireFolder(HTDBHANDLE databaseHandle)
    : TQuireViewBase(databaseHandle, /*translatesTexts=*/false, kFTSearchLimit) {}

TQuireFolder::TQuireFolder(const std::string& folderName, HTDBHANDLE databaseHandle)
    : TQuireFolder(databaseHandle) {
  Init(folderName, false);
}

std::unique_ptr<TQuireFolder> TQuireFolder::CreateFromView(const std::string& folderName,
                                                           const std::string& viewName, uint32_t flags,
                                                           HTDBHANDLE databaseHandle) {
  std::unique_ptr<TQuireFolder> folder(new TQuireFolder(databaseHandle));
  folder->LastError = 0;
  const qrbuffer::In<kNameCapacity> view(viewName);
  const HTID viewID = HTAPI.HTViewLocateByName(databaseHandle, view.get());
  if (viewID == 0) {
    folder->LastError = HTFAIL_VIEW_NOT_FOUND;
    return folder;
  }
  const qrbuffer::In<kNameCapacity> name(folderName);
  folder->LastError =
      HTAPI.HTFolderCreateFromViewFolder(databaseHandle, 0, viewID, flags, name.get(), &folder->FolderID);
  if (folder->LastError != 0) return folder;
  folder->Init(folderName, true);
  return folder;
}

void TQuireFolder::Init(const std::string& folderName, bool haveFolderID) {
  Release();
  if (!haveFolderID) {
    const qrbuffer::In<kNameCapacity> name(folderName);
    FolderID = HTAPI.HTFolderLocateByName(DatabaseHandle, name.get());
    if (FolderID == 0) {
      LastError = HTFAIL_VIEW_NOT_FOUND;
      return;
    }
  }
  if (!BindIndex(FolderID)) return;
  // Only positions the index on its first entry; an empty folder is no failure.
  HTAPI.HTIndexNavigate(IndexHandle, HTNAV_NEXT, 0, &NoteID, &EntryFlags);
  GetKeys();
  Opened = true;
  ReadColumns(FolderID);
}

void TQuireFolder::AddDocument(HTID noteID) {
  const HTID ids[1] = {noteID};
  LastError = HTAPI.HTFolderAddEntries(DatabaseHandle, FolderID, 1, ids);
}

void TQuireFolder::RemoveDocument(HTID noteID) {
  const HTID ids[1] = {noteID};
  LastError = HTAPI.HTFolderRemoveEntries(DatabaseHandle, FolderID, 1, ids);
}

void TQuireFolder::RemoveAllDocuments() { LastError = HTAPI.HTFolderRemoveAllEntries(DatabaseHandle, FolderID); }
