#include "objects/QRDbase.h"

#include <cstdio>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRBuffer.h"

using qrbuffer::In;
using qrbuffer::Out;

namespace {

HTINT ListMode(TQRList position) {
  return position >= qrRefresh && position <= qrCurrent ? static_cast<HTINT>(position) : HTLIST_CURRENT;
}

std::string FormatCreated(const HTINT (&parts)[HTDATETIME_PART_COUNT], int32_t dateOrder) {
  const int year = parts[HTDTUNIT_YEAR];
  const int month = parts[HTDTUNIT_MONTH];
  const int day = parts[HTDTUNIT_DAY];
  char date[48] = {};
  switch (dateOrder) {
    case HTDATEORDER_MDY: std::snprintf(date, sizeof date, "%d/%d/%d", month, day, year); break;
    case HTDATEORDER_DMY: std::snprintf(date, sizeof date, "%d/%d/%d", day, month, year); break;
    case HTDATEORDER_YMD: std::snprintf(date, sizeof date, "%d/%d/%d", year, month, day); break;
    default: break;
  }
  char time[48] = {};
  std::snprintf(time, sizeof time, "%d:%d:%d", parts[HTDTUNIT_HOUR], parts[HTDTUNIT_MINUTE],
                parts[HTDTUNIT_SECOND]);
  return std::string(date) + " " + time;
}

}  // namespace

TQuireDatabase::TQuireDatabase(const std::string& server, const std::string& filePath) {
  const In<256> serverBuffer(server);
  const In<256> pathBuffer(filePath);
  LastError = HTAPI.HTDatabaseOpen(serverBuffer.get(), pathBuffer.get(), 0, &DbHandle);
  Opened = CloseOnDestroy = LastError == 0;
}

TQuireDatabase::TQuireDatabase(SharedTag, HTDBHANDLE existingHandle) {
  LastError = HTAPI.HTDatabaseReOpen(existingHandle, 0, &DbHandle);
  Opened = CloseOnDestroy = LastError == 0;
}

std::unique_ptr<TQuireDatabase> TQuireDatabase::CreateShared(HTDBHANDLE existingHandle) {
  return std::unique_ptr<TQuireDatabase>(new TQuireDatabase(SharedTag{}, existingHandle));
}

TQuireDatabase::~TQuireDatabase() {
  if (CloseOnDestroy) HTAPI.HTDatabaseClose(DbHandle, 0);
}

std::string TQuireDatabase::GetTitle() {
  Out<132> title;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_TITLE, title.get());
  return LastError == 0 ? title.text() : std::string();
}

void TQuireDatabase::SetTitle(const std::string& title) {
  // The contract's title capacity (127 characters) is one below the classic 128.
  const In<HT_TITLE_CAPACITY> buffer(title);
  LastError = HTAPI.HTDatabaseSetProperty(DbHandle, HTDATABASE_TITLE, buffer.get());
}

std::string TQuireDatabase::GetServer() {
  Out<132> server;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_SERVER_NAME, server.get());
  return LastError == 0 ? server.text() : std::string("Error!");
}

bool TQuireDatabase::ReadFilePath(std::string& path) {
  Out<260> buffer;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_FILEPATH, buffer.get());
  if (LastError != 0) return false;
  path = buffer.text();
  return true;
}

std::string TQuireDatabase::GetFilename() {
  std::string path;
  if (!ReadFilePath(path)) return "Error!";
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TQuireDatabase::GetFilePath() {
  std::string path;
  if (!ReadFilePath(path)) return "Error!";
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int64_t TQuireDatabase::GetSize() {
  uint32_t used = 0;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_SPACE_USED, &used);
  if (LastError != 0) return -1;
  uint32_t free = 0;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_SPACE_FREE, &free);
  if (LastError != 0) return used;
  return static_cast<int64_t>(used) + free;
}

bool TQuireDatabase::GetIsFTIndexed() {
  uint32_t value = 0;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_IS_FTINDEXED, &value);
  return LastError == 0 && (value & 0xFF) != 0;
}

bool TQuireDatabase::GetDelayCommit() {
  uint32_t value = 0;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_DELAY_COMMIT, &value);
  return LastError == 0 && (value & 0xFF) != 0;
}

void TQuireDatabase::SetDelayCommit(bool on) {
  const uint32_t value = on ? 1 : 0;
  LastError = HTAPI.HTDatabaseSetProperty(DbHandle, HTDATABASE_DELAY_COMMIT, &value);
}

TQRReplPriority TQuireDatabase::GetReplPriority() {
  int32_t value = 0;
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_REPLICA_PRIORITY, &value);
  return static_cast<TQRReplPriority>(LastError == 0 ? value : -1);
}

void TQuireDatabase::SetReplPriority(TQRReplPriority priority) {
  if (priority < qrLow || priority > qrHigh) return;
  const int32_t value = priority;
  LastError = HTAPI.HTDatabaseSetProperty(DbHandle, HTDATABASE_REPLICA_PRIORITY, &value);
}

std::string TQuireDatabase::GetReplicaID() {
  HTREPLICAID id{};
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_REPLICAID, &id);
  if (LastError != 0) return std::string();
  char text[18];
  std::snprintf(text, sizeof text, "%08X:%08X", id.words[1], id.words[0]);
  return text;
}

std::string TQuireDatabase::GetCreated() {
  static const char kNoDate[] = "0/0/0000 00:00:00";
  HTDATETIME created{};
  LastError = HTAPI.HTDatabaseGetProperty(DbHandle, HTDATABASE_CREATED, &created);
  if (LastError != 0) return kNoDate;
  HTINT parts[HTDATETIME_PART_COUNT] = {};
  LastError = HTAPI.HTDatetimeFetch(&created, parts);
  if (LastError != 0) return kNoDate;
  return FormatCreated(parts, HTDateFormat);
}

void TQuireDatabase::DeleteFolder(const std::string& folderName) {
  const In<256> name(folderName);
  const HTID folder = HTAPI.HTFolderLocateByName(DbHandle, name.get());
  if (folder == 0) return;
  LastError = HTAPI.HTFolderDelete(DbHandle, folder);
}

std::string TQuireDatabase::ListName(HTSTATUS (*list)(HTDBHANDLE, HTINT, HTLISTREC*), TQRList position,
                                     bool secondName) {
  HTLISTREC record{};
  LastError = list(DbHandle, ListMode(position), &record);
  if (LastError != 0) return std::string();
  return secondName ? qrbuffer::Text(record.secondName) : qrbuffer::Text(record.name);
}

std::string TQuireDatabase::ListViews(TQRList position) { return ListName(HTAPI.HTViewList, position, false); }

std::string TQuireDatabase::ListViewsMN(TQRList position) { return ListName(HTAPI.HTViewList, position, true); }

std::string TQuireDatabase::ListFolders(TQRList position) { return ListName(HTAPI.HTFolderList, position, false); }

std::string TQuireDatabase::AgentList(TQRList position) { return ListName(HTAPI.HTAgentList, position, false); }

bool TQuireDatabase::AgentExecute(const std::string& agentName, uint32_t& value1, uint32_t& value2) {
  value1 = 0;
  value2 = 0;
  const In<256> name(agentName);
  const HTID agent = HTAPI.HTAgentLocateByName(DbHandle, name.get());
  if (agent == 0) return false;
  LastError = HTAPI.HTAgentExecute(DbHandle, agent, 0, &value1, &value2);
  return LastError == 0;
}

bool TQuireDatabase::CreateFTIndex(uint32_t options) {
  HTFTSTATS statistics{};
  LastError = HTAPI.HTDatabaseCreateFTIndex(DbHandle, options, 0, &statistics);
  return LastError == 0;
}

bool TQuireDatabase::DeleteFTIndex() {
  LastError = HTAPI.HTDatabaseDeleteFTIndex(DbHandle);
  return LastError == 0;
}

std::string TQuireDatabase::GetNotesErrorString() const { return GetNotesErrorText(LastError); }

std::unique_ptr<TQuireACL> TQuireDatabase::GetACL() { return std::make_unique<TQuireACL>(DbHandle); }
