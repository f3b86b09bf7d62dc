// QRSessn: TQuireSession, the root of the object model.
//
// A session checks, when it is made, that the API was initialised by Initialize() and
// re-applies the two session defaults; it then answers questions about the environment
// (versions, user, local server, environment strings, whether the program runs on a
// server), lists servers, databases and rich-text formats, opens databases, starts server
// replication, sets a server port, switches the process-wide translation flag and hands a
// password to the password reader. Any number of sessions may exist; a session owns nothing
// between calls, and a database it opens belongs to the caller (and may outlive it).
//
// Errors are result codes, never exceptions: every operation that calls the API stores the
// call's result in LastError, and GetNotesErrorString turns it into the API's message. Text
// getters answer a failed call with a fixed value ("Error!!", "Error" or ""). Texts longer
// than the fixed argument buffers are cut at the buffer's size, except a replication list
// that does not fit its buffer, which is refused (HTFAIL_TEXT_TOO_LONG).
//
// Threads: one thread at a time, like the rest of the object model.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "binding/Quire02.h"
#include "hitest/hitest.h"
#include "rtl/Export.h"

class TQuireDatabase;

// Replication priority of a database; the ordinals are HTREPLICAPRIORITY's.
enum TQRReplPriority : int32_t { qrLow = 0, qrNormal = 1, qrHigh = 2 };
static_assert(sizeof(TQRReplPriority) == 4);

// Class of a database listing; the ordinals are HTDBLISTCLASS's.
enum TQRDBList : int32_t {
  qrDatabase = 0,
  qrTemplate = 1,
  qrReplCandidate = 2,
  qrTemplCandidate = 3,
  qrDirectory = 4,
  qrModem = 5,
  qrVPC = 6,
  qrScript = 7,
  qrAll = 8,
};
static_assert(sizeof(TQRDBList) == 4);

class QUIRE_API TQuireSession {
 public:
  // Replication flags that ask for no database list (replicate everything the server has).
  static constexpr uint32_t kReplAllDatabases = 0x4;
  static constexpr uint32_t kReplAllDatabasesAlt = 0x400;
  // Capacity of the packed replication list: names, each followed by a zero byte.
  static constexpr size_t kReplListCapacity = 2001;

  // Never fails: Initialized tells whether the API can be used; when it cannot, LastError
  // holds HTGlobalErr (0 when the engine library was missing).
  TQuireSession();
  ~TQuireSession() = default;
  TQuireSession(const TQuireSession&) = delete;
  TQuireSession& operator=(const TQuireSession&) = delete;

  bool Initialized = false;
  uint32_t LastError = 0;

  // The API library's version text; the result code is not kept.
  std::string GetHTAPIVersion();
  // False when the API answers HTFAIL_NOT_ON_SERVER, whatever the value.
  bool GetIsOnServer();
  std::string GetNotesVersion();  // "Error!!" on failure
  std::string GetUserName();      // "" on failure
  std::string GetLocalServer();   // "Error" on failure
  void SetLocalServer(const std::string& name);  // cut to 127 bytes
  void SetEnvironmentString(const std::string& name, const std::string& value);
  std::string GetEnvironmentString(const std::string& name);  // "" on failure

  // Opens a database; nullptr when it cannot be opened, the reason in LastError.
  std::unique_ptr<TQuireDatabase> GetDatabase(const std::string& server, const std::string& filePath);

  // One step of the server list: qrFirst (or qrRefresh) then qrNext until "".
  std::string GetServerName(TQRList position);
  // One step of the rich-text export / import format lists; "" at the end or on failure.
  std::string RTListExport(TQRList position);
  std::string RTListImport(TQRList position);

  // One step of a listing of `directory` on `server`: listMode HTLIST_FIRST, then
  // HTLIST_NEXT until false. On true the out-values describe the entry (isDirectory true for
  // a directory); on false they are left as they were.
  bool DBList(const std::string& server, const std::string& directory, int32_t listMode, TQRDBList listClass,
              uint32_t options, bool& isDirectory, std::string& fileName, std::string& title);

  std::string GetErrorInfo(uint32_t code) const;
  std::string GetNotesErrorString() const;

  // The process-wide translation flag, shared with every other object.
  bool GetTranslate() const;
  void SetTranslate(bool on);

  // Replicates with `server`. `databases` is a comma-separated list of paths (empty pieces
  // kept); it is ignored when flags has bit 0x4 or 0x400. On failure LastError holds the
  // library's own code for a bad request, or the replication's status.
  bool ServerReplicate(const std::string& server, uint32_t extra, uint32_t flags, const std::string& databases);
  bool ServerReplicateEx(const std::string& server, uint32_t extra, uint32_t flags, const std::string& databases,
                         HTREPLSTATS& statistics);

  // Sets the port of `server`; returns the API's reply text ("" when it wrote none).
  std::string ServerSetPort(const std::string& server, const std::string& port);

  // Hands the password (cut to 254 characters) to the password reader through the shared
  // memory "QRPasswordMem". No API call; LastError unchanged. Throws rtl::ESharedMemoryError
  // when the block cannot be created.
  void SetPassword(const std::string& password);

 private:
  bool Replicate(const std::string& server, uint32_t extra, uint32_t flags, const std::string& databases,
                 HTREPLSTATS& statistics);
};
