#include "engine/mail/MailDirectory.h"

#include <set>
#include <system_error>

#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Database.h"
#include "engine/db/Directory.h"
#include "engine/doc/Note.h"
#include "engine/mail/Message.h"
#include "engine/store/Locator.h"

namespace quire::engine::mail {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> entries(const doc::Note& note, const char* item) {
  std::vector<std::string> out;
  for (const std::string& entry : note.textList(item))
    for (std::string& name : splitAddresses(entry)) out.push_back(std::move(name));
  return out;
}

}  // namespace

MailDirectory::MailDirectory(const fs::path& serverRoot) {
  const fs::path file = serverRoot / db::kDirectoryFile;
  if (!store::exists(file)) return;
  available_ = true;
  auto database = db::openFile(file);
  auto lock = database->lock();
  store::Connection& conn = database->conn();
  auto st = conn.prepare(
      "SELECT note_id FROM notes WHERE note_class = ?1 AND deleted = 0 AND "
      "(form = 'Person' COLLATE NOCASE OR form = 'Group' COLLATE NOCASE) ORDER BY note_id");
  st->bind(1, int64_t(store::note_class::kDocument));
  std::vector<HTID> ids;
  while (st->step()) ids.push_back(HTID(st->int64(0)));

  for (HTID id : ids) {
    std::optional<doc::Note> note = doc::loadNote(*database, conn, id);
    if (!note) continue;
    if (equalsNoCase(note->header.form, kGroupForm)) {
      const std::string listName(trim(note->text("ListName")));
      if (listName.empty()) continue;
      Group& group = groups_[db::nameKey(listName)];
      if (group.name.empty()) group.name = listName;
      for (std::string& member : entries(*note, "Members")) group.members.push_back(std::move(member));
      continue;
    }
    const std::vector<std::string> fullNames = entries(*note, "FullName");
    if (fullNames.empty()) continue;
    Person person{fullNames.front(), std::string(trim(note->text("MailFile"))),
                  std::string(trim(note->text("MailServer")))};
    std::set<std::string> keys;
    for (const std::string& n : fullNames) {
      keys.insert(db::nameKey(n));
      const size_t slash = n.find('/');
      if (slash != std::string::npos) keys.insert(db::nameKey(n.substr(0, slash)));
    }
    for (const std::string& n : entries(*note, "ShortName")) keys.insert(db::nameKey(n));
    for (const std::string& n : entries(*note, "InternetAddress")) keys.insert(foldCase(trim(n)));
    const size_t index = people_.size();
    people_.push_back(std::move(person));
    for (const std::string& key : keys)
      if (!key.empty()) byKey_.emplace(key, index);
  }
}

MailDirectory::Match MailDirectory::find(std::string_view name) const {
  Match match;
  std::set<size_t> people;
  for (const std::string& key : {db::nameKey(name), foldCase(trim(name))}) {
    auto [first, last] = byKey_.equal_range(key);
    for (auto it = first; it != last; ++it) people.insert(it->second);
  }
  if (people.size() > 1) {
    match.kind = Kind::Ambiguous;
  } else if (people.size() == 1) {
    match.kind = Kind::Person;
    match.person = &people_[*people.begin()];
  } else if (auto it = groups_.find(db::nameKey(name)); it != groups_.end()) {
    match.kind = Kind::Group;
    match.group = &it->second;
  }
  return match;
}

}  // namespace quire::engine::mail
