// Who may read which document: the Readers items of a document, seen from one user.
//
// A document that has at least one non-empty Readers item (item flag kItemReaders) may be
// read only by the names its Readers and Authors items (kItemAuthors) list. A listed name
// admits the reader when it is the user's own name, a group the user belongs to (through
// the server's directory, db/Directory.h), or a role the user holds in the ACL, written
// "[Role]". Names compare as ACL names do (db::nameKey: abbreviated, case-folded).
//
// Readers items bind only where the ACL is enforced (db/Access.h): elsewhere the local user
// owns the file and reads everything, as with every other ACL rule.
//
// A ReadAccess is built once per index (or agent run) and is immutable afterwards, so it may
// be shared freely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/db/Access.h"
#include "engine/store/NoteStore.h"

namespace quire::engine::index {

// Item flag bits the index layer reads.
constexpr uint32_t kItemEncrypted = 0x0002;
constexpr uint32_t kItemAuthors = 0x0020;
constexpr uint32_t kItemReaders = 0x0400;

// What a document's Readers and Authors items list (kept only for documents with such items).
struct AccessNames {
  bool hasReaders = false;         // a non-empty Readers item: the document is restricted
  std::vector<std::string> names;  // every entry of its Readers and Authors items
};

class ReadAccess {
 public:
  // Reads everything (ACL not enforced).
  ReadAccess() = default;
  // The session user through `handle`, with groups and roles resolved now.
  static ReadAccess forHandle(db::DbHandle& handle, const db::Access& access);
  // An explicit reader (tests, agents run for another user).
  static ReadAccess forNames(std::vector<std::string> nameKeys);

  bool restricted() const { return restricted_; }

  // Whether `name` as written in a Readers or Authors item admits this reader.
  bool admits(std::string_view name) const;
  // Whether a note with these items may be read.
  bool canRead(const std::vector<store::StoredItem>& items) const;

  // Every live document of the database that this reader may NOT read. One query over the
  // Readers/Authors items; empty (and no query) when not restricted.
  std::unordered_set<HTID> unreadable(store::Connection& conn) const;
  // The same from names gathered beforehand (SummaryCache::access).
  std::unordered_set<HTID> unreadable(const std::unordered_map<HTID, AccessNames>& access) const;

 private:
  bool restricted_ = false;
  std::vector<std::string> keys_;  // name keys: the user, groups, "[role]"
};

}  // namespace quire::engine::index
