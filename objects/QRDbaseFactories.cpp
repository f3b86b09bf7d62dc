// The factories through which a database hands out collections, documents, views and
// folders. Each makes the child with the database's handle and tests the child's success
// flag: a child that did not succeed is freed and nullptr returned. Views and folders leave
// their failure in the database's LastError; collections and documents keep theirs.
#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRFolder.h"
#include "objects/QRView.h"
#include "objects/Quiredoc.h"

namespace {

std::unique_ptr<TQuireDocCollection> WithResult(std::unique_ptr<TQuireDocCollection> collection) {
  if (!collection->HasResult) return nullptr;
  return collection;
}

std::unique_ptr<TQuireDocument> IfLoaded(std::unique_ptr<TQuireDocument> document) {
  if (!document->Loaded) return nullptr;
  return document;
}

}  // namespace

std::unique_ptr<TQuireDocCollection> TQuireDatabase::AllDocuments() {
  return WithResult(std::make_unique<TQuireDocCollection>("", DbHandle, false, 0, 0, 0));
}

std::unique_ptr<TQuireDocCollection> TQuireDatabase::Search(const std::string& formula) {
  return WithResult(std::make_unique<TQuireDocCollection>(formula, DbHandle, false, 0, 1, 0));
}

std::unique_ptr<TQuireDocCollection> TQuireDatabase::FTSearch(const std::string& query, uint32_t maxDocs) {
  return WithResult(std::make_unique<TQuireDocCollection>(query, DbHandle, true, 0, 0, maxDocs));
}

std::unique_ptr<TQuireDocument> TQuireDatabase::CreateDocument(const std::string& formName) {
  auto document = TQuireDocument::CreateNewDoc(DbHandle, formName);
  if (!document) return nullptr;
  return IfLoaded(std::move(document));
}

std::unique_ptr<TQuireDocument> TQuireDatabase::GetDocumentByUNID(const std::string& unidText) {
  const UNID unid = StrToUNID(unidText);  // a malformed text throws to the caller
  const HTID documentID = HTAPI.HTDocumentLocateByUnid(DbHandle, &unid);
  if (documentID == 0) return nullptr;
  return IfLoaded(std::make_unique<TQuireDocument>(DbHandle, documentID));
}

bool TQuireDatabase::DeleteDocument(TQuireDocument* document) {
  if (document == nullptr) return false;
  LastError = HTAPI.HTDocumentDelete(DbHandle, document->DocID, 0);
  return LastError == 0;
}

std::unique_ptr<TQuireView> TQuireDatabase::GetView(const std::string& viewName) {
  if (viewName.empty()) return nullptr;
  auto view = std::make_unique<TQuireView>(viewName, DbHandle);
  if (view->Opened) return view;
  LastError = view->LastError;
  return nullptr;
}

std::unique_ptr<TQuireFolder> TQuireDatabase::GetFolder(const std::string& folderName) {
  if (folderName.empty()) return nullptr;
  auto folder = std::make_unique<TQuireFolder>(folderName, DbHandle);
  if (folder->Opened) return folder;
  LastError = folder->LastError;
  return nullptr;
}

std::unique_ptr<TQuireFolder> TQuireDatabase::CreateFolderFromView(const std::string& folderName,
                                                                   const std::string& viewName, bool isPrivate) {
  if (folderName.empty()) return nullptr;
  auto folder = TQuireFolder::CreateFromView(folderName, viewName, isPrivate ? TQuireFolder::kPrivateFolder : 0,
                                             DbHandle);
  if (folder->Opened) return folder;
  LastError = folder->LastError;
  return nullptr;
}
