#include "engine/db/Directory.h"

#include <map>
#include <mutex>
#include <set>

#include "engine/core/Engine.h"
#include "engine/core/Files.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Database.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Locator.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::db {
namespace {

namespace fs = std::filesystem;

struct Cached {
  files::Stamp main, wal;
  std::map<std::string, std::vector<std::string>> groups;  // group key -> member keys
};

std::mutex gMutex;
std::map<std::string, Cached> gCache;
// A directory on a PostgreSQL server has no file to stat: a read-only connection of its own
// stays open and tells by the data version whether anyone changed it since it was read.
struct RemoteCached {
  std::unique_ptr<store::Connection> conn;
  int64_t version = -1;
  std::map<std::string, std::vector<std::string>> groups;
};
std::map<std::string, RemoteCached> gRemoteCache;

const bool kDropAtStop = [] {
  onStop([] {
    std::lock_guard lock(gMutex);
    gCache.clear();
    gRemoteCache.clear();
  });
  return true;
}();

std::vector<std::string> splitMembers(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  for (char c : text + ",") {
    if (c == ',' || c == ';' || c == '\n' || c == '\r') {
      if (!trim(current).empty()) out.emplace_back(trim(current));
      current.clear();
    } else {
      current += c;
    }
  }
  return out;
}

std::string itemText(const store::StoredItem& item) {
  std::vector<std::string> list;
  if (item.type == HTTYPE_TEXT_LIST && store::codec::decodeTextList(item.value, list))
    return list.empty() ? std::string() : list.front();
  return std::string(item.value.begin(), item.value.end());
}

std::vector<std::string> itemTexts(const store::StoredItem& item) {
  std::vector<std::string> list;
  if (item.type == HTTYPE_TEXT_LIST && store::codec::decodeTextList(item.value, list)) return list;
  return splitMembers(std::string(item.value.begin(), item.value.end()));
}

std::map<std::string, std::vector<std::string>> readGroups(store::Connection& conn) {
  std::map<std::string, std::vector<std::string>> groups;
  auto st = conn.prepare("SELECT form, items FROM notes WHERE note_class = ?1 AND deleted = 0 AND items IS NOT NULL");
  st->bind(1, int64_t(store::note_class::kDocument));
  std::vector<store::StoredItem> items;
  while (st->step()) {
    const store::Blob record = st->blob(1);
    store::ItemRef ref;
    if (!store::findItem(record, "ListName", ref)) continue;
    std::string form = st->text(0), listName;
    std::vector<std::string> members;
    if (!store::decodeItems(record, items)) continue;
    for (const auto& item : items) {
      if (equalsNoCase(item.name, "Form")) form = itemText(item);
      else if (equalsNoCase(item.name, "ListName")) listName = itemText(item);
      else if (equalsNoCase(item.name, "Members")) members = itemTexts(item);
    }
    if (!equalsNoCase(form, "Group") || trim(listName).empty()) continue;
    auto& keys = groups[nameKey(listName)];
    for (const auto& m : members) keys.push_back(nameKey(m));
  }
  return groups;
}

std::map<std::string, std::vector<std::string>> readGroups(const fs::path& file) {
  auto conn = store::openSqlite(file, {.readOnly = true});
  if (!store::checkSchemaVersion(*conn)) {
    // Written by an older engine: convert it once (as opening it would), then read.
    conn = store::openSqlite(file, {});
    store::applySchema(*conn);
  }
  return readGroups(*conn);
}

std::map<std::string, std::vector<std::string>> remoteGroups(const fs::path& file) {
  std::lock_guard lock(gMutex);
  RemoteCached& c = gRemoteCache[file.native()];
  try {
    if (!c.conn) {
      c.conn = store::openRemote(file, {.readOnly = true});
      c.version = -1;
    }
    const int64_t version = c.conn->dataVersion();
    if (version != c.version) {
      c.groups = readGroups(*c.conn);
      c.version = version;
    }
  } catch (const std::exception&) {
    // Missing or unreachable: no group access, and the next call looks again.
    c.conn.reset();
    c.groups.clear();
  }
  return c.groups;
}

// Groups are read through a connection of their own, which sees committed writes only: a
// batch of delayed commits this process holds open on the directory is committed first. A
// failure stays with that database for its next write or close.
void commitOpenBatch(const fs::path& file) {
  auto db = findOpen(file);
  if (!db || !store::batchOpen(db->conn())) return;
  auto lock = db->tryLock();
  if (lock.owns_lock()) store::flushBatchDeferred(db->conn());
}

std::map<std::string, std::vector<std::string>> currentGroups(const fs::path& root) {
  const fs::path file = root / kDirectoryFile;
  commitOpenBatch(file);
  if (store::isRemote(file)) return remoteGroups(file);
  files::Stamp main = files::stamp(file), wal = files::stamp(file.string() + "-wal");
  std::lock_guard lock(gMutex);
  Cached& c = gCache[file.string()];
  if (!(c.main == main) || !(c.wal == wal)) {
    try {
      c.groups = main.size < 0 ? decltype(c.groups){} : readGroups(file);
    } catch (const std::exception&) {
      // An unreadable directory grants no group access; entries by name still work.
      c.groups.clear();
    }
    c.main = main;
    c.wal = wal;
  }
  return c.groups;
}

}  // namespace

std::vector<std::string> groupsOf(const fs::path& serverRoot, const std::string& user) {
  auto groups = currentGroups(serverRoot);
  if (groups.empty()) return {};
  std::set<std::string> found;
  std::vector<std::string> pending{nameKey(user)};
  while (!pending.empty()) {
    std::string member = pending.back();
    pending.pop_back();
    for (const auto& [group, members] : groups) {
      if (found.count(group)) continue;
      for (const auto& m : members) {
        if (m == member) {
          found.insert(group);
          pending.push_back(group);
          break;
        }
      }
    }
  }
  return {found.begin(), found.end()};
}

}  // namespace quire::engine::db
