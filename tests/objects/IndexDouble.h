// A recording stand-in for the index, view, folder and document slots of HTAPI, for unit
// tests of the collection, view and folder classes whose behaviour cannot be provoked
// through the real engine (exact flag words, buffer limits, calls that must not happen).
//
// Making an IndexDouble saves HTAPI and replaces the slots below; destroying it puts the
// saved table back. Only one may exist at a time. The double models one flat index of
// `rows` (note IDs, position 1..N, 0 = before the first row) well enough for navigation
// to behave like an index, and records every call with its arguments.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "hitest/hitest.h"

namespace indexdouble {

struct Call {
  std::string fn;
  std::vector<uint64_t> args;  // the scalar arguments, in order
  std::string text;            // the text argument, when the call has one
};

constexpr HTINDEXHANDLE kIndex = 77;
constexpr HTDBHANDLE kDatabase = 5;
constexpr HTSTATUS kDocOpenFailure = HTFAIL_NOTE_NOT_FOUND;

class IndexDouble {
 public:
  // Scripted state.
  std::vector<HTID> rows;
  int position = 0;
  std::map<std::string, HTID> views;    // name -> id for HTViewLocateByName
  std::map<std::string, HTID> folders;  // name -> id for HTFolderLocateByName
  HTID createdFolder = 900;
  std::vector<HTCOLUMNREC> columns;
  int columnCount = -1;  // HTColumnGetCount's answer; -1: columns.size()
  int keyCount = 0;      // sort keys HTIndexListKey lists
  HTVIEWREC viewRecord{};
  HTSTATUS indexOpenStatus = 0;
  HTSTATUS openViewFolderStatus = 0;
  HTSTATUS viewFetchStatus = 0;
  HTSTATUS searchStatus = 0;
  HTSTATUS ftStatus = 0;
  int ftRows = -1;  // rows left by a successful search (not clear); -1: unchanged
  HTSTATUS keySearchStatus = 0;
  HTSTATUS hierarchyStatus = 0;  // sibling, parent and main moves
  bool hasChild = true;          // answer of the child probe, which (like a careless
                                 // engine) moves the position to show it is restored
  HTSTATUS folderCreateStatus = 0;
  HTSTATUS membershipStatus = 0;
  // Translation marks its output so a test can tell translated text from untranslated.
  bool markTranslation = true;

  std::vector<Call> calls;
  int keyCursor = 0;
  int columnCursor = 0;

  IndexDouble() : saved_(HTAPI) {
    current_ = this;
    Install();
  }
  ~IndexDouble() {
    HTAPI = saved_;
    current_ = nullptr;
  }
  IndexDouble(const IndexDouble&) = delete;
  IndexDouble& operator=(const IndexDouble&) = delete;

  static IndexDouble& Get() { return *current_; }

  int Count(const std::string& fn) const {
    int n = 0;
    for (const Call& c : calls) n += c.fn == fn;
    return n;
  }
  std::vector<Call> Only(const std::string& fn) const {
    std::vector<Call> out;
    for (const Call& c : calls)
      if (c.fn == fn) out.push_back(c);
    return out;
  }
  // The (navigation, flags) pairs of every HTIndexNavigate call.
  std::vector<std::pair<uint64_t, uint64_t>> Navigations() const {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (const Call& c : Only("HTIndexNavigate")) out.emplace_back(c.args[0], c.args[1]);
    return out;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.fn);
    return out;
  }
  void Record(std::string fn, std::vector<uint64_t> args = {}, std::string text = {}) {
    calls.push_back({std::move(fn), std::move(args), std::move(text)});
  }

  // A column record with the given size and flags and title.
  static HTCOLUMNREC Column(const char* title, uint8_t fontSize, uint32_t flags = 0) {
    HTCOLUMNREC r{};
    r.flags = flags;
    r.fontSize = fontSize;
    std::snprintf(r.title, sizeof r.title, "%s", title);
    return r;
  }

 private:
  THTAPITable saved_;
  static inline IndexDouble* current_ = nullptr;
  void Install();
};

inline std::string PositionText(int position) { return "1." + std::to_string(position); }

inline void IndexDouble::Install() {
  HTAPI.HTIndexOpen = [](HTDBHANDLE db, HTINDEXHANDLE* index) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexOpen", {db});
    if (d.indexOpenStatus == 0) *index = kIndex;
    return d.indexOpenStatus;
  };
  HTAPI.HTIndexClose = [](HTINDEXHANDLE index) -> HTSTATUS {
    Get().Record("HTIndexClose", {index});
    return 0;
  };
  HTAPI.HTIndexSearch = [](HTINDEXHANDLE index, const char* formula, HTUINT flags, HTUINT* matched) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexSearch", {index, flags}, formula);
    *matched = static_cast<HTUINT>(d.rows.size());
    return d.searchStatus;
  };
  HTAPI.HTIndexFTSearch = [](HTINDEXHANDLE index, const char* query, HTUINT options, HTINT sort,
                             HTUINT maxDocs) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexFTSearch", {index, options, static_cast<uint64_t>(sort), maxDocs}, query);
    if (d.ftStatus == 0 && options != HTFTOPT_CLEAR && d.ftRows >= 0) d.rows.resize(d.ftRows);
    return d.ftStatus;
  };
  HTAPI.HTIndexOpenViewFolder = [](HTINDEXHANDLE index, HTDBHANDLE designDb, HTID design, HTUINT flags) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexOpenViewFolder", {index, designDb, design, flags});
    return d.openViewFolderStatus;
  };
  HTAPI.HTIndexGetCount = [](HTINDEXHANDLE index) -> HTUINT {
    auto& d = Get();
    d.Record("HTIndexGetCount", {index});
    return static_cast<HTUINT>(d.rows.size());
  };
  HTAPI.HTIndexGetPosition = [](HTINDEXHANDLE index) -> HTUINT {
    auto& d = Get();
    d.Record("HTIndexGetPosition", {index});
    return static_cast<HTUINT>(d.position);
  };
  HTAPI.HTIndexSetPosition = [](HTINDEXHANDLE index, HTUINT position) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexSetPosition", {index, position});
    if (position > d.rows.size()) return HTFAIL_BAD_POSITION;
    d.position = static_cast<int>(position);
    return 0;
  };
  HTAPI.HTIndexNavigate = [](HTINDEXHANDLE index, HTINT navigation, HTUINT flags, HTID* note,
                             HTUINT* entryFlags) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexNavigate", {static_cast<uint64_t>(navigation), flags});
    const int n = static_cast<int>(d.rows.size());
    const bool backward = (flags & HTNAVFLAG_BACKWARD) != 0;
    int target = d.position;
    switch (navigation) {
      case HTNAV_NEXT:
        target = backward ? d.position - 1 : d.position + 1;
        break;
      case HTNAV_END:
        target = backward ? 1 : n;
        break;
      case HTNAV_CURRENT:
        break;
      case HTNAV_CHILD:
        if (!d.hasChild) return HTFAIL_END_OF_LIST;
        target = d.position + 1;
        break;
      default:
        if (d.hierarchyStatus != 0) return d.hierarchyStatus;
        break;
    }
    if (target < 1 || target > n) return navigation == HTNAV_CURRENT ? HTFAIL_NO_POSITION : HTFAIL_END_OF_LIST;
    d.position = target;
    *note = d.rows[static_cast<size_t>(target - 1)];
    *entryFlags = 0x55;
    return 0;
  };
  HTAPI.HTIndexGetViewPosition = [](HTINDEXHANDLE index, HTUINT capacity, char* buffer) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexGetViewPosition", {index, capacity});
    std::snprintf(buffer, capacity, "%s", PositionText(d.position).c_str());
    return 0;
  };
  HTAPI.HTIndexSetViewPosition = [](HTINDEXHANDLE index, const char* text) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexSetViewPosition", {index}, text);
    if (std::strncmp(text, "1.", 2) != 0) return HTFAIL_BAD_POSITION;
    d.position = std::atoi(text + 2);
    return 0;
  };
  HTAPI.HTIndexRefresh = [](HTINDEXHANDLE index) -> HTSTATUS {
    Get().Record("HTIndexRefresh", {index});
    return 0;
  };
  HTAPI.HTIndexListKey = [](HTINDEXHANDLE index, HTINT listMode, HTKEYDESC* key) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTIndexListKey", {index, static_cast<uint64_t>(listMode)});
    const int number = d.keyCursor = listMode == HTLIST_FIRST ? 0 : d.keyCursor + 1;
    if (number >= d.keyCount) return HTFAIL_END_OF_LIST;
    key->column = static_cast<uint32_t>(number + 1);
    key->sort = HTCOLSORT_ASCEND;
    return 0;
  };
  HTAPI.HTIndexKeySearch = [](HTINDEXHANDLE index, HTUINT keyCount, HTKEYDESC* keys, HTUINT mode,
                              HTUINT* matched) -> HTSTATUS {
    auto& d = Get();
    std::string values;
    for (HTUINT k = 0; k < keyCount; ++k) {
      if (k > 0) values += "|";
      values += std::to_string(keys[k].type) + ":" + static_cast<const char*>(keys[k].value);
    }
    d.Record("HTIndexKeySearch", {index, keyCount, mode}, values);
    *matched = 1;
    return d.keySearchStatus;
  };
  HTAPI.HTViewLocateByName = [](HTDBHANDLE db, const char* name) -> HTID {
    auto& d = Get();
    d.Record("HTViewLocateByName", {db}, name);
    auto it = d.views.find(name);
    return it == d.views.end() ? 0 : it->second;
  };
  HTAPI.HTFolderLocateByName = [](HTDBHANDLE db, const char* name) -> HTID {
    auto& d = Get();
    d.Record("HTFolderLocateByName", {db}, name);
    auto it = d.folders.find(name);
    return it == d.folders.end() ? 0 : it->second;
  };
  HTAPI.HTFolderCreateFromViewFolder = [](HTDBHANDLE db, HTDBHANDLE designDb, HTID view, HTUINT flags,
                                          const char* name, HTID* folder) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTFolderCreateFromViewFolder", {db, designDb, view, flags}, name);
    if (d.folderCreateStatus != 0) return d.folderCreateStatus;
    *folder = d.createdFolder;
    return 0;
  };
  HTAPI.HTFolderAddEntries = [](HTDBHANDLE db, HTID folder, HTUINT count, const HTID* notes) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTFolderAddEntries", {db, folder, count, notes[0]});
    return d.membershipStatus;
  };
  HTAPI.HTFolderRemoveEntries = [](HTDBHANDLE db, HTID folder, HTUINT count, const HTID* notes) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTFolderRemoveEntries", {db, folder, count, notes[0]});
    return d.membershipStatus;
  };
  HTAPI.HTFolderRemoveAllEntries = [](HTDBHANDLE db, HTID folder) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTFolderRemoveAllEntries", {db, folder});
    return d.membershipStatus;
  };
  HTAPI.HTColumnGetCount = [](HTDBHANDLE db, HTID view) -> HTUINT {
    auto& d = Get();
    d.Record("HTColumnGetCount", {db, view});
    return static_cast<HTUINT>(d.columnCount >= 0 ? d.columnCount : static_cast<int>(d.columns.size()));
  };
  HTAPI.HTColumnList = [](HTDBHANDLE db, HTID view, HTINT listMode, HTUINT* columnNumber,
                          HTCOLUMNREC* record) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTColumnList", {db, view, static_cast<uint64_t>(listMode)});
    const int number = d.columnCursor = listMode == HTLIST_FIRST ? 0 : d.columnCursor + 1;
    if (number >= static_cast<int>(d.columns.size())) return HTFAIL_END_OF_LIST;
    *columnNumber = static_cast<HTUINT>(number + 1);
    *record = d.columns[static_cast<size_t>(number)];
    return 0;
  };
  HTAPI.HTViewFetch = [](HTDBHANDLE db, HTID view, HTVIEWREC* record) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTViewFetch", {db, view});
    if (d.viewFetchStatus == 0) *record = d.viewRecord;
    return d.viewFetchStatus;
  };
  HTAPI.HTViewcellFetch = [](HTINDEXHANDLE index, HTUINT column, HTINT* type, HTUINT* length,
                             void* buffer) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTViewcellFetch", {index, column, static_cast<uint64_t>(*type), *length});
    std::snprintf(static_cast<char*>(buffer), *length + 1, "cell%u", column);
    return 0;
  };
  HTAPI.HTErrorGetInfo = [](HTSTATUS code, HTINT* severity, char* text) -> HTBOOL {
    Get().Record("HTErrorGetInfo", {code});
    *severity = 0;
    std::snprintf(text, HT_ERROR_TEXT_CAPACITY, "message %08X", code);
    return 1;
  };
  HTAPI.HTTranslate = [](HTINT mode, HTUINT length, const char* source, HTUINT capacity, char* buffer,
                         HTUINT* outLength) -> HTSTATUS {
    auto& d = Get();
    d.Record("HTTranslate", {static_cast<uint64_t>(mode), length}, std::string(source, length));
    const std::string out = d.markTranslation ? (mode == 0 ? "L:" : "N:") + std::string(source, length)
                                              : std::string(source, length);
    std::snprintf(buffer, capacity, "%s", out.c_str());
    *outLength = static_cast<HTUINT>(std::strlen(buffer));
    return 0;
  };
  HTAPI.HTDatabaseOpen = [](const char* server, const char* path, HTUINT flags, HTDBHANDLE* db) -> HTSTATUS {
    Get().Record("HTDatabaseOpen", {flags}, path);
    *db = kDatabase;
    return 0;
  };
  HTAPI.HTDatabaseClose = [](HTDBHANDLE db, HTUINT flags) -> HTSTATUS {
    Get().Record("HTDatabaseClose", {db, flags});
    return 0;
  };
  HTAPI.HTDocumentOpen = [](HTDBHANDLE db, HTID note, HTUINT flags, HTDOCHANDLE* doc) -> HTSTATUS {
    Get().Record("HTDocumentOpen", {db, note, flags});
    return kDocOpenFailure;
  };
  HTAPI.HTDocumentLocateByUnid = [](HTDBHANDLE db, const UNID* unid) -> HTID {
    Get().Record("HTDocumentLocateByUnid", {db, unid->words[0], unid->words[1], unid->words[2], unid->words[3]});
    return 0;
  };
  HTAPI.HTDocumentDelete = [](HTDBHANDLE db, HTID note, HTUINT flags) -> HTSTATUS {
    Get().Record("HTDocumentDelete", {db, note, flags});
    return HTFAIL_NOTE_NOT_FOUND;
  };
}

}  // namespace indexdouble
