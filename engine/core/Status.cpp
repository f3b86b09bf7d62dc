#include "engine/core/Status.h"

#include <array>

#include "engine/core/ThreadState.h"

namespace quire::engine {
namespace {

struct Entry {
  HTSTATUS code;
  HTINT severity;
  const char* text;
};

constexpr HTINT kWarn = HTERRSEV_WARNING;
constexpr HTINT kFail = HTERRSEV_NONFATAL;
constexpr HTINT kUsage = HTERRSEV_USAGE;
constexpr HTINT kFatal = HTERRSEV_FATAL;

// The one table of result codes. Texts are what a user reads in a message box: they say
// what failed, not which function noticed it.
constexpr std::array kTable = {
    Entry{HTFAIL_END_OF_LIST, kWarn, "No more entries"},
    Entry{HTFAIL_NOT_ON_SERVER, kWarn, "This program is not running on a server"},
    Entry{HTFAIL_NO_DATABASE_LIST, kUsage, "No list of databases was given for replication"},
    Entry{HTFAIL_BAD_SERVER, kUsage, "Replication needs the name of a remote server"},
    Entry{HTFAIL_VIEW_NOT_FOUND, kFail, "View or folder not found"},
    Entry{HTFAIL_SAVE_WARNING, kWarn, "The document was saved with a warning"},
    Entry{HTFAIL_NOT_IMPLEMENTED, kFail, "This function is not implemented by the engine"},
    Entry{HTFAIL_INVALID_HANDLE, kUsage, "Invalid handle: unknown, already closed or of the wrong kind"},
    Entry{HTFAIL_INVALID_ARGUMENT, kUsage, "Invalid argument"},
    Entry{HTFAIL_NOT_INITIALIZED, kUsage, "The API has not been initialised"},
    Entry{HTFAIL_BAD_VERSION, kUsage, "The engine does not support the requested API version"},
    Entry{HTFAIL_UNKNOWN_PROPERTY, kUsage, "Unknown or read-only property"},
    Entry{HTFAIL_TEXT_TOO_LONG, kUsage, "Text is too long"},
    Entry{HTFAIL_NO_MEMORY, kFatal, "Out of memory"},
    Entry{HTFAIL_IO_ERROR, kFail, "File input/output error"},
    Entry{HTFAIL_STORAGE_ERROR, kFail, "Database storage error"},
    Entry{HTFAIL_SCHEMA_TOO_NEW, kFail, "The database was written by a newer version of the engine"},
    Entry{HTFAIL_NOT_A_DATABASE, kFail, "The file is not a database"},
    Entry{HTFAIL_SERVER_NOT_FOUND, kFail, "Server not found"},
    Entry{HTFAIL_PATH_OUTSIDE, kUsage, "The path lies outside the server's data directory"},
    Entry{HTFAIL_DB_NOT_FOUND, kFail, "Database not found"},
    Entry{HTFAIL_DB_EXISTS, kFail, "A database already exists at that path"},
    Entry{HTFAIL_DB_IN_USE, kFail, "The database is in use"},
    Entry{HTFAIL_ACCESS_DENIED, kFail, "You are not authorised to perform that operation"},
    Entry{HTFAIL_NOT_MANAGER, kFail, "Only a Manager of the database may change its access control list"},
    Entry{HTFAIL_ENTRY_NOT_FOUND, kFail, "Entry not found"},
    Entry{HTFAIL_ENTRY_EXISTS, kFail, "An entry of that name already exists"},
    Entry{HTFAIL_BAD_ROLE, kUsage, "Role number must be between 1 and 80"},
    Entry{HTFAIL_NOTE_NOT_FOUND, kFail, "Document or design element not found"},
    Entry{HTFAIL_NOTE_DELETED, kFail, "The document has been deleted"},
    Entry{HTFAIL_ITEM_NOT_FOUND, kFail, "Item not found"},
    Entry{HTFAIL_TYPE_MISMATCH, kFail, "The value cannot be converted to the requested type"},
    Entry{HTFAIL_BUFFER_TOO_SMALL, kUsage, "The buffer is too small for the value"},
    Entry{HTFAIL_ATTACH_NOT_FOUND, kFail, "Attachment not found"},
    Entry{HTFAIL_FORMULA_SYNTAX, kFail, "Formula error"},
    Entry{HTFAIL_FORMULA_EVAL, kFail, "Formula evaluation error"},
    Entry{HTFAIL_FTQUERY_SYNTAX, kFail, "Full-text query error"},
    Entry{HTFAIL_NO_FTINDEX, kFail, "The database is not full-text indexed"},
    Entry{HTFAIL_NAME_EXISTS, kFail, "A design element of that name already exists"},
    Entry{HTFAIL_NOT_A_VIEW, kFail, "Not a view or folder"},
    Entry{HTFAIL_NO_POSITION, kFail, "There is no current entry"},
    Entry{HTFAIL_BAD_POSITION, kUsage, "Invalid position"},
    Entry{HTFAIL_NOT_FOUND, kFail, "Not found"},
    Entry{HTFAIL_BAD_FORMAT, kUsage, "Unknown import or export format"},
    Entry{HTFAIL_MAIL_NO_RECIPIENT, kUsage, "The message has no recipients"},
    Entry{HTFAIL_MAIL_NO_DIRECTORY, kFail, "The server has no directory database"},
    Entry{HTFAIL_REPL_FAILED, kFail, "Replication failed"},
    Entry{HTFAIL_CONFLICT, kFail, "The document was changed by someone else since it was opened"},
    Entry{HTFAIL_ENCRYPT_FAILED, kFail, "Encryption failed"},
    Entry{HTFAIL_NO_KEY, kFail, "You do not have the key to decrypt this document"},
    Entry{HTFAIL_READ_ONLY, kUsage, "The database or document was opened read-only"},
    Entry{HTFAIL_CONFIG_ERROR, kFatal, "The data directory or its settings file cannot be used"},
    Entry{HTFAIL_INTERNAL, kFatal, "Internal engine error"},
};

const Entry* find(HTSTATUS code) {
  for (const Entry& e : kTable) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

// The most recent failure of this thread. Its text goes away with the thread's other
// thread-locals; a failure recorded after that (an exit handler's HTTerm) keeps its code.
thread_local HTSTATUS tLastCode = 0;
struct DetailTag {};
std::string* lastDetail() { return threadState<std::string, DetailTag>(); }

}  // namespace

HTSTATUS fail(HTSTATUS code, std::string_view detail) {
  tLastCode = code;
  if (std::string* text = lastDetail()) text->assign(detail);
  return code;
}

void raise(HTSTATUS code, std::string detail) { throw Error(code, std::move(detail)); }

const char* tableText(HTSTATUS code) {
  const Entry* e = find(code);
  return e ? e->text : nullptr;
}

ErrorInfo errorText(HTSTATUS code) {
  ErrorInfo info;
  const Entry* e = find(code);
  if (!e) return info;
  info.known = true;
  info.severity = e->severity;
  const std::string* detail = code == tLastCode ? lastDetail() : nullptr;
  if (detail && !detail->empty()) {
    info.text = *detail;
  } else {
    info.text = e->text;
  }
  return info;
}

size_t errorTableSize() { return kTable.size(); }
HTSTATUS errorTableCode(size_t index) { return index < kTable.size() ? kTable[index].code : 0; }

}  // namespace quire::engine
