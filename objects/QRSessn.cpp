#include "objects/QRSessn.h"

#include <string_view>

#include "binding/Quire01.h"
#include "objects/QRBuffer.h"
#include "objects/QRDbase.h"
#include "objects/QRUtil.h"

using qrbuffer::In;
using qrbuffer::Out;

namespace {

// The session's list positions go to the API one to one, except the filler, which asks
// for the current entry.
HTINT ServerListMode(TQRList position) {
  return position >= qrRefresh && position <= qrCurrent ? static_cast<HTINT>(position) : HTLIST_CURRENT;
}

// The format lists have no "last" step; it and the filler ask for the current entry.
HTINT FormatListMode(TQRList position) {
  switch (position) {
    case qrRefresh: return HTLIST_REFRESH;
    case qrFirst: return HTLIST_FIRST;
    case qrNext: return HTLIST_NEXT;
    case qrPrev: return HTLIST_PREVIOUS;
    default: return HTLIST_CURRENT;
  }
}

void ApplySessionDefaults() {
  const uint32_t strictBind = 0;
  HTAPI.HTSetProperty(HTSESSION_STRICT_BIND, &strictBind);
  const In<16> local("Local");
  HTAPI.HTSetProperty(HTSESSION_LOCAL_SERVER_NAME, local.get());
}

// Packs the comma-separated `databases` as zero-terminated names one after another.
// False when the packed list would not fit the API's buffer.
bool PackDatabaseList(const std::string& databases, std::string& packed, uint32_t& count) {
  packed.clear();
  count = 0;
  std::string_view rest = databases;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view piece = rest.substr(0, comma);
    // A trailing comma ends the list instead of adding an empty last name.
    if (comma == std::string_view::npos && piece.empty() && count > 0) break;
    packed.append(piece);
    packed.push_back('\0');
    ++count;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return packed.size() <= TQuireSession::kReplListCapacity;
}

}  // namespace

TQuireSession::TQuireSession() {
  if (HTInitOK) {
    ApplySessionDefaults();
    Initialized = true;
    LastError = 0;
  } else {
    Initialized = false;
    LastError = HTGlobalErr;
  }
}

std::string TQuireSession::GetHTAPIVersion() {
  Out<84> version;
  HTAPI.HTGetAPILibraryVersion(version.get());
  return version.text();
}

bool TQuireSession::GetIsOnServer() {
  uint32_t value = 0;
  LastError = HTAPI.HTGetProperty(HTSESSION_IS_ON_SERVER, &value);
  if (LastError == HTFAIL_NOT_ON_SERVER) return false;
  return value != 0;
}

std::string TQuireSession::GetNotesVersion() {
  Out<84> version;
  LastError = HTAPI.HTGetProperty(HTSESSION_NOTES_VERSION, version.get());
  if (LastError != 0) return "Error!!";
  return qrbuffer::Text(version.data, 82);
}

std::string TQuireSession::GetUserName() {
  Out<260> name;
  LastError = HTAPI.HTGetProperty(HTSESSION_USER_NAME, name.get());
  return LastError == 0 ? name.text() : std::string();
}

std::string TQuireSession::GetLocalServer() {
  Out<132> name;
  LastError = HTAPI.HTGetProperty(HTSESSION_LOCAL_SERVER_NAME, name.get());
  return LastError == 0 ? name.text() : std::string("Error");
}

void TQuireSession::SetLocalServer(const std::string& name) {
  // Cut to the contract's server-name capacity (127 characters), one below the classic 128.
  const In<HT_SERVER_NAME_CAPACITY> buffer(name);
  LastError = HTAPI.HTSetProperty(HTSESSION_LOCAL_SERVER_NAME, buffer.get());
}

void TQuireSession::SetEnvironmentString(const std::string& name, const std::string& value) {
  const In<256> nameBuffer(name);
  const In<256> valueBuffer(value);
  LastError = HTAPI.HTSetEnvironmentString(nameBuffer.get(), valueBuffer.get(), 1);
}

std::string TQuireSession::GetEnvironmentString(const std::string& name) {
  const In<152> nameBuffer(name);
  Out<152> value;
  LastError = HTAPI.HTGetEnvironmentString(nameBuffer.get(), 151, value.get());
  return LastError == 0 ? value.text() : std::string();
}

std::unique_ptr<TQuireDatabase> TQuireSession::GetDatabase(const std::string& server, const std::string& filePath) {
  auto database = std::make_unique<TQuireDatabase>(server, filePath);
  if (database->Opened) return database;
  LastError = database->LastError;
  return nullptr;
}

std::string TQuireSession::GetServerName(TQRList position) {
  Out<132> name;
  LastError = HTAPI.HTServerList(ServerListMode(position), name.get());
  return LastError == 0 ? name.text() : std::string();
}

std::string TQuireSession::RTListExport(TQRList position) {
  Out<151> name;
  Out<153> extensions;
  LastError = HTAPI.HTCompositeListExport(FormatListMode(position), name.get(), extensions.get());
  return LastError == 0 ? name.text() : std::string();
}

std::string TQuireSession::RTListImport(TQRList position) {
  Out<151> name;
  Out<153> extensions;
  LastError = HTAPI.HTCompositeListImport(FormatListMode(position), name.get(), extensions.get());
  return LastError == 0 ? name.text() : std::string();
}

bool TQuireSession::DBList(const std::string& server, const std::string& directory, int32_t listMode,
                           TQRDBList listClass, uint32_t options, bool& isDirectory, std::string& fileName,
                           std::string& title) {
  const In<256> serverBuffer(server);
  const In<1001> directoryBuffer(directory);
  HTUINT isDatabase = 0;
  Out<128> titleBuffer;
  Out<256> fileBuffer;
  LastError = HTAPI.HTDatabaseList(serverBuffer.get(), directoryBuffer.get(), listClass, options, listMode,
                                   &isDatabase, titleBuffer.get(), fileBuffer.get());
  if (LastError != 0) return false;
  title = titleBuffer.text();
  fileName = fileBuffer.text();
  // The API's flag is 1 for a database; only its lowest bit speaks.
  isDirectory = ((isDatabase & 0xFF) ^ 1) & 1;
  return true;
}

std::string TQuireSession::GetErrorInfo(uint32_t code) const { return GetNotesErrorText(code); }

std::string TQuireSession::GetNotesErrorString() const { return GetNotesErrorText(LastError); }

bool TQuireSession::GetTranslate() const { return TranslateOn; }

void TQuireSession::SetTranslate(bool on) { TranslateOn = on; }

bool TQuireSession::ServerReplicate(const std::string& server, uint32_t extra, uint32_t flags,
                                    const std::string& databases) {
  HTREPLSTATS statistics{};
  return Replicate(server, extra, flags, databases, statistics);
}

bool TQuireSession::ServerReplicateEx(const std::string& server, uint32_t extra, uint32_t flags,
                                      const std::string& databases, HTREPLSTATS& statistics) {
  return Replicate(server, extra, flags, databases, statistics);
}

bool TQuireSession::Replicate(const std::string& server, uint32_t extra, uint32_t flags, const std::string& databases,
                              HTREPLSTATS& statistics) {
  const bool allDatabases = (flags & (kReplAllDatabases | kReplAllDatabasesAlt)) != 0;
  if (databases.empty() && !allDatabases) {
    LastError = HTFAIL_NO_DATABASE_LIST;
    return false;
  }
  if (server.empty() || server == "Local") {
    LastError = HTFAIL_BAD_SERVER;
    return false;
  }
  std::string packed;
  uint32_t count = 0;
  if (!allDatabases && !PackDatabaseList(databases, packed, count)) {
    LastError = HTFAIL_TEXT_TOO_LONG;
    return false;
  }
  const In<256> serverBuffer(server);
  statistics = HTREPLSTATS{};
  const HTSTATUS result = HTAPI.HTServerReplicate(serverBuffer.get(), flags, extra, count,
                                                  allDatabases ? nullptr : packed.data(), &statistics);
  if (result == 0) {
    LastError = 0;
    return true;
  }
  // The status says why replication stopped; a call refused before it started leaves the
  // status empty, and then the call's own code is the reason.
  LastError = statistics.status != 0 ? statistics.status : result;
  return false;
}

std::string TQuireSession::ServerSetPort(const std::string& server, const std::string& port) {
  const In<128> serverBuffer(server);
  const In<32> portBuffer(port);
  Out<128> reply;
  LastError = HTAPI.HTServerSetPort(serverBuffer.get(), portBuffer.get(), reply.get());
  return reply.text();
}

void TQuireSession::SetPassword(const std::string& password) { QRSetPassword(password); }
