// QRDbase: TQuireDatabase, one open database.
//
// A database opens itself when it is made (Opened tells whether that worked) and closes its
// handle when it is destroyed. It reads and writes the database's properties, lists its
// views, folders and agents, runs agents, deletes folders, creates and deletes the full-text
// index, and hands out the objects that live inside it: the access-control list, documents,
// document collections, views and folders. Every object it hands out belongs to the caller
// and holds the database's handle without owning it, so it must be destroyed before the
// database.
//
// Errors are result codes, never exceptions: each operation stores the API's result in
// LastError (GetNotesErrorString gives the message), and getters answer a failure with a
// fixed value ("", "Error!", "0/0/0000 00:00:00", -1 or false). A failed open still leaves
// a usable object whose calls fail cleanly. The one exception that reaches a caller is the
// rtl::EConvertError of GetDocumentByUNID for a malformed UNID text. Texts longer than an
// argument buffer are cut at its size.
//
// Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "binding/Quire02.h"
#include "hitest/hitest.h"
#include "objects/QRSessn.h"
#include "rtl/Export.h"

class TQuireACL;
class TQuireDocCollection;
class TQuireDocument;
class TQuireFolder;
class TQuireView;

class QUIRE_API TQuireDatabase {
 public:
  // Opens filePath (backslash form, e.g. "mail\abc.nsf") on server ("" or "Local": this
  // machine). Never throws; test Opened.
  TQuireDatabase(const std::string& server, const std::string& filePath);
  // A second handle on a database already open through `existingHandle`; test Opened.
  static std::unique_ptr<TQuireDatabase> CreateShared(HTDBHANDLE existingHandle);
  ~TQuireDatabase();
  TQuireDatabase(const TQuireDatabase&) = delete;
  TQuireDatabase& operator=(const TQuireDatabase&) = delete;

  bool Opened = false;
  HTDBHANDLE DbHandle = 0;
  bool CloseOnDestroy = false;
  uint32_t LastError = 0;

  // Properties.
  std::string GetTitle();  // "" on failure
  void SetTitle(const std::string& title);  // cut to 127 bytes
  std::string GetServer();    // "Error!" on failure
  std::string GetFilename();  // the path after its last backslash; "Error!" on failure
  std::string GetFilePath();  // the path up to and including its last backslash; "Error!"
  // Space used plus space free, in bytes; -1 when the space used cannot be read. Wider than
  // the API's 32-bit values so that their sum cannot wrap.
  int64_t GetSize();
  bool GetIsFTIndexed();
  bool GetDelayCommit();
  void SetDelayCommit(bool on);
  TQRReplPriority GetReplPriority();  // -1 on failure
  void SetReplPriority(TQRReplPriority priority);  // values outside qrLow..qrHigh are ignored
  std::string GetReplicaID();  // "HHHHHHHH:HHHHHHHH" (W1:W0); "" on failure
  // The creation date as date, blank, h:m:s; the date part follows HTDateFormat (month/day/
  // year, day/month/year, year/month/day; none for other values). "0/0/0000 00:00:00" on
  // failure.
  std::string GetCreated();

  // Deletes the folder of that name; nothing happens (LastError kept) when there is none.
  void DeleteFolder(const std::string& folderName);
  // One step of a design listing: qrFirst, then qrNext until "".
  std::string ListViews(TQRList position);
  std::string ListViewsMN(TQRList position);  // the second name (alias) of each view
  std::string ListFolders(TQRList position);
  std::string AgentList(TQRList position);
  // Runs the named agent; value1 and value2 receive the API's two counts (0 before the call).
  // False, LastError kept, when no agent has that name.
  bool AgentExecute(const std::string& agentName, uint32_t& value1, uint32_t& value2);
  bool CreateFTIndex(uint32_t options);
  bool DeleteFTIndex();
  std::string GetNotesErrorString() const;

  // Factories: each result belongs to the caller; nullptr is "none".
  // A new list object on every call, read from the database now.
  std::unique_ptr<TQuireACL> GetACL();
  // For the next six, a failure leaves the reason in the discarded child, LastError as it was.
  std::unique_ptr<TQuireDocCollection> AllDocuments();
  std::unique_ptr<TQuireDocCollection> Search(const std::string& formula);
  std::unique_ptr<TQuireDocCollection> FTSearch(const std::string& query, uint32_t maxDocs);
  std::unique_ptr<TQuireDocument> CreateDocument(const std::string& formName);
  // Throws rtl::EConvertError for a malformed UNID text.
  std::unique_ptr<TQuireDocument> GetDocumentByUNID(const std::string& unidText);
  // False for nullptr; the document object stays the caller's.
  bool DeleteDocument(TQuireDocument* document);
  // nullptr for an empty name without an API call; otherwise a failure copies the child's
  // LastError into this database's.
  std::unique_ptr<TQuireView> GetView(const std::string& viewName);
  std::unique_ptr<TQuireFolder> GetFolder(const std::string& folderName);
  std::unique_ptr<TQuireFolder> CreateFolderFromView(const std::string& folderName, const std::string& viewName,
                                                     bool isPrivate);

 private:
  struct SharedTag {};
  TQuireDatabase(SharedTag, HTDBHANDLE existingHandle);

  // The stored file path; false (LastError set) when it cannot be read.
  bool ReadFilePath(std::string& path);
  std::string ListName(HTSTATUS (*list)(HTDBHANDLE, HTINT, HTLISTREC*), TQRList position, bool secondName);
};
