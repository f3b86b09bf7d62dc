#include "engine/index/ReadAccess.h"

#include <algorithm>
#include <unordered_map>

#include "engine/core/Text.h"
#include "engine/db/Directory.h"
#include "engine/db/Session.h"
#include "engine/store/AclStore.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"

namespace quire::engine::index {
namespace {

// "[Sales]" and "Sales" name the same role; roles are kept as "[sales]".
std::string roleKey(std::string_view name) {
  name = trim(name);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = trim(name.substr(1, name.size() - 2));
  return "[" + foldCase(name) + "]";
}

std::string entryKey(std::string_view name) {
  std::string_view t = trim(name);
  if (!t.empty() && t.front() == '[') return roleKey(t);
  return db::nameKey(t);
}

// The names an item lists (text or text list); empty for other types.
std::vector<std::string> listedNames(HTINT type, const store::Blob& value) {
  std::vector<std::string> out;
  if (type == HTTYPE_TEXT) {
    std::string text;
    if (store::codec::decodeText(value, text)) out.push_back(std::move(text));
  } else if (type == HTTYPE_TEXT_LIST) {
    store::codec::decodeTextList(value, out);
  }
  out.erase(std::remove_if(out.begin(), out.end(), [](const std::string& s) { return trim(s).empty(); }), out.end());
  return out;
}

}  // namespace

ReadAccess ReadAccess::forHandle(db::DbHandle& handle, const db::Access& access) {
  ReadAccess r;
  if (!access.enforced) return r;
  r.restricted_ = true;
  const std::string user = db::userName();
  r.keys_.push_back(db::nameKey(user));
  for (std::string& g : db::groupsOf(handle.server().root, user)) r.keys_.push_back(std::move(g));
  auto& database = *handle.database();
  auto lock = database.lock();
  for (int role = 1; role <= store::acl::kRoleCount; ++role) {
    if (!((access.roles[size_t(role - 1) / 8] >> ((role - 1) % 8)) & 1)) continue;
    std::string name = store::acl::roleName(database.conn(), role);
    if (!trim(name).empty()) r.keys_.push_back(roleKey(name));
  }
  return r;
}

ReadAccess ReadAccess::forNames(std::vector<std::string> nameKeys) {
  ReadAccess r;
  r.restricted_ = true;
  for (auto& k : nameKeys) r.keys_.push_back(entryKey(k));
  return r;
}

bool ReadAccess::admits(std::string_view name) const {
  if (!restricted_) return true;
  const std::string key = entryKey(name);
  return std::find(keys_.begin(), keys_.end(), key) != keys_.end();
}

bool ReadAccess::canRead(const std::vector<store::StoredItem>& items) const {
  if (!restricted_) return true;
  bool limited = false;
  bool admitted = false;
  for (const auto& item : items) {
    if (!(item.flags & (kItemReaders | kItemAuthors))) continue;
    for (const std::string& name : listedNames(item.type, item.value)) {
      if (item.flags & kItemReaders) limited = true;
      if (!admitted && admits(name)) admitted = true;
    }
  }
  return !limited || admitted;
}

std::unordered_set<HTID> ReadAccess::unreadable(store::Connection& conn) const {
  std::unordered_set<HTID> out;
  if (!restricted_) return out;
  struct State {
    bool limited = false;
    bool admitted = false;
  };
  std::unordered_map<HTID, State> notes;
  auto st = conn.prepare("SELECT note_id, items FROM notes WHERE (item_flags & ?1) != 0 AND deleted = 0");
  st->bind(1, int64_t(kItemReaders | kItemAuthors));
  while (st->step()) {
    const HTID note = HTID(st->int64(0));
    const store::Blob record = st->blob(1);
    State& s = notes[note];
    store::forEachItem(record.data(), record.size(), [&](const store::ItemRef& item) {
      if (!(item.flags & (kItemReaders | kItemAuthors))) return true;
      if (item.type != HTTYPE_TEXT && item.type != HTTYPE_TEXT_LIST) return true;
      for (const std::string& name : listedNames(item.type, store::Blob(item.value, item.value + item.size))) {
        if (item.flags & kItemReaders) s.limited = true;
        if (!s.admitted && admits(name)) s.admitted = true;
      }
      return true;
    });
  }
  for (const auto& [note, s] : notes)
    if (s.limited && !s.admitted) out.insert(note);
  return out;
}

std::unordered_set<HTID> ReadAccess::unreadable(const std::unordered_map<HTID, AccessNames>& access) const {
  std::unordered_set<HTID> out;
  if (!restricted_) return out;
  for (const auto& [note, a] : access) {
    if (!a.hasReaders) continue;
    if (std::none_of(a.names.begin(), a.names.end(), [&](const std::string& n) { return admits(n); })) out.insert(note);
  }
  return out;
}

}  // namespace quire::engine::index
