#include "engine/view/Designs.h"

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Session.h"
#include "engine/doc/Document.h"
#include "engine/doc/Note.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Transaction.h"
#include "engine/view/ViewIndex.h"

namespace quire::engine::view {
namespace {

namespace nc = store::note_class;

std::vector<std::string> splitAliases(std::string_view aliases) {
  std::vector<std::string> out;
  while (!aliases.empty()) {
    const size_t bar = aliases.find('|');
    const std::string_view one = trim(aliases.substr(0, bar));
    if (!one.empty()) out.emplace_back(one);
    aliases = bar == std::string_view::npos ? std::string_view() : aliases.substr(bar + 1);
  }
  return out;
}

std::string joinAliases(const std::vector<std::string>& aliases) {
  std::string out;
  for (const auto& a : aliases) out += (out.empty() ? "" : "|") + a;
  return out;
}

// The names a design answers to, case-folded.
std::vector<std::string> foldedNames(std::string_view name, std::string_view aliases) {
  std::vector<std::string> out{foldCase(trim(name))};
  for (const auto& a : splitAliases(aliases)) out.push_back(foldCase(a));
  return out;
}

// Throws HTFAIL_NAME_EXISTS when a design the new one would share its name space with
// already answers to one of its names. `privateOwner` empty: a shared design.
void checkNameFree(store::Connection& conn, std::string_view name, std::string_view aliases,
                   const std::string& privateOwner) {
  const auto wanted = foldedNames(name, aliases);
  std::vector<store::DesignEntry> others;
  if (privateOwner.empty()) {
    for (uint32_t cls : {nc::kView, nc::kFolder})
      for (auto& e : store::listDesign(conn, cls, "")) others.push_back(std::move(e));
  } else {
    for (auto& e : store::listDesign(conn, nc::kFolder, privateOwner))
      if (e.flags & store::kDesignFlagPrivate) others.push_back(std::move(e));
  }
  for (const auto& e : others) {
    for (const auto& taken : foldedNames(e.name, e.alias)) {
      for (const auto& w : wanted) {
        if (w == taken)
          raise(HTFAIL_NAME_EXISTS, "The database already has a view or folder named '" + std::string(trim(name)) +
                                        "'" + (w == wanted.front() ? "" : " (alias)"));
      }
    }
  }
}

bool visibleTo(const store::NoteHeader& h, const std::string& user) {
  if (!(h.designFlags & store::kDesignFlagPrivate)) return true;
  return !user.empty() && equalsNoCase(h.owner, user);
}

std::optional<store::NoteHeader> liveDesign(store::Connection& conn, HTID id, uint32_t wanted) {
  auto h = store::readNote(conn, id);
  if (!h || h->deleted) return std::nullopt;
  if (h->noteClass != nc::kView && h->noteClass != nc::kFolder) return std::nullopt;
  if (wanted && h->noteClass != wanted) return std::nullopt;
  if (!visibleTo(*h, db::userName())) return std::nullopt;
  return h;
}

HTSTATUS notAView(HTID id) {
  return fail(HTFAIL_NOT_A_VIEW, "Identifier " + std::to_string(id) + " names no view or folder of this database");
}

HTSTATUS saveDesign(db::DbHandle& h, uint32_t noteClass, const ViewDesign& design, uint32_t designFlags,
                    const std::string& owner, HTID& out) {
  db::Database& database = *h.database();
  auto lock = database.lock();
  store::Transaction tx(database.conn());
  checkNameFree(database.conn(), design.name, design.alias, owner);
  doc::Note note = doc::newNote(noteClass);
  note.header.designName = std::string(trim(design.name));
  note.header.designAlias = joinAliases(splitAliases(design.alias));
  note.header.designFlags = designFlags;
  note.header.owner = owner;
  note.items = toItems(design);
  doc::saveNote(database, database.conn(), note);
  tx.commit();
  out = note.header.id;
  return HTSUCCESS;
}

// Whether the user may keep private folders: Designer, or the personal-folders flag.
HTSTATUS requirePrivateFolders(db::DbHandle& h) {
  const db::Access access = db::effectiveAccess(h);
  if (!access.enforced || access.level >= HTACLLEVEL_DESIGNER) return HTSUCCESS;
  if (access.level >= HTACLLEVEL_READER && (access.flags & HTACLFLAG_PERSONAL_FOLDERS)) return HTSUCCESS;
  return fail(HTFAIL_ACCESS_DENIED, "User " + db::userName() + " may not create personal folders in " + h.apiPath());
}

HTSTATUS requireMembershipChange(db::DbHandle& h, const CompiledDesign& folder) {
  if (folder.design.flags & store::kDesignFlagPrivate) return HTSUCCESS;  // only its owner sees it
  return db::requireAccess(h, HTACLLEVEL_AUTHOR, "change the folder " + folder.design.name);
}

// Every note must be a live document the user may read; fails before anything changes.
HTSTATUS checkDocuments(db::DbHandle& h, store::Connection& conn, const std::vector<HTID>& notes) {
  for (HTID id : notes) {
    auto header = store::readNote(conn, id);
    if (!header || header->deleted || header->noteClass != nc::kDocument || !doc::canRead(h, store::readItems(conn, id)))
      return fail(HTFAIL_NOTE_NOT_FOUND, "Note " + std::to_string(id) + " is no document of this database");
  }
  return HTSUCCESS;
}

template <typename Change>
HTSTATUS changeMembership(db::DbHandle& h, HTID folderId, const std::vector<HTID>& notes, Change change) {
  std::shared_ptr<const CompiledDesign> folder;
  if (HTSTATUS s = findDesign(h, folderId, folder)) return s;
  if (!folder->folder) return fail(HTFAIL_NOT_A_VIEW, "'" + folder->design.name + "' is a view, not a folder");
  if (HTSTATUS s = requireMembershipChange(h, *folder)) return s;
  db::Database& database = *h.database();
  auto lock = database.lock();
  store::Transaction tx(database.conn());
  if (HTSTATUS s = checkDocuments(h, database.conn(), notes)) return s;
  change(database, database.conn(), *folder);
  tx.commit();
  noteChanged(database);
  return HTSUCCESS;
}

}  // namespace

HTSTATUS findDesign(db::DbHandle& h, HTID id, std::shared_ptr<const CompiledDesign>& out) {
  if (HTSTATUS s = db::requireAccess(h, HTACLLEVEL_READER, "read the design")) return s;
  db::Database& database = *h.database();
  auto lock = database.lock();
  store::ReadSnapshot snapshot(database.conn());  // the header and the items of one save
  auto header = liveDesign(database.conn(), id, 0);
  if (!header) return notAView(id);
  out = compile(id, *header, store::readItems(database.conn(), id));
  // The compiled design keeps the row's private flag so callers can tell private folders.
  auto copy = std::make_shared<CompiledDesign>(*out);
  copy->design.flags |= header->designFlags & store::kDesignFlagPrivate;
  out = std::move(copy);
  return HTSUCCESS;
}

HTSTATUS createView(db::DbHandle& h, const ViewDesign& design, HTID& out) {
  validate(design);
  if (HTSTATUS s = db::requireAccess(h, HTACLLEVEL_DESIGNER, "create the view " + design.name)) return s;
  return saveDesign(h, nc::kView, design, design.flags & kStoredViewFlags, "", out);
}

HTSTATUS deleteView(db::DbHandle& h, HTID view) {
  db::Database& database = *h.database();
  {
    auto lock = database.lock();
    if (!liveDesign(database.conn(), view, nc::kView)) return notAView(view);
  }
  if (HTSTATUS s = db::requireAccess(h, HTACLLEVEL_DESIGNER, "delete a view")) return s;
  auto lock = database.lock();
  store::Transaction tx(database.conn());
  doc::deleteNote(database, database.conn(), view);
  tx.commit();
  return HTSUCCESS;
}

HTSTATUS copyView(db::DbHandle& from, HTID view, db::DbHandle& to, std::string_view newName, HTID& out) {
  std::shared_ptr<const CompiledDesign> source;
  if (HTSTATUS s = findDesign(from, view, source)) return s;
  if (source->folder) return fail(HTFAIL_NOT_A_VIEW, "'" + source->design.name + "' is a folder, not a view");
  ViewDesign design = source->design;
  design.flags &= kStoredViewFlags;
  if (!trim(newName).empty()) {
    design.name = std::string(trim(newName));
    design.alias.clear();  // the aliases stay with the original
  }
  validate(design);
  if (HTSTATUS s = db::requireAccess(to, HTACLLEVEL_DESIGNER, "create the view " + design.name)) return s;
  return saveDesign(to, nc::kView, design, design.flags, "", out);
}

HTSTATUS fetchView(db::DbHandle& h, HTID view, HTVIEWREC& out) {
  std::shared_ptr<const CompiledDesign> d;
  if (HTSTATUS s = findDesign(h, view, d)) return s;
  out = HTVIEWREC{};
  out.flags = uint16_t((d->design.flags & 0xFFFF) | (d->folder ? HTVIEWFLAG_FOLDER : 0));
  out.view = view;
  out.columnCount = uint32_t(d->design.columns.size());
  out.linesPerRow = 1;
  out.backgroundColor = uint32_t(d->design.backgroundColor);
  out.alternateColor = uint32_t(d->design.alternateColor);
  copyText(out.name, sizeof out.name, d->design.name);
  const auto aliases = splitAliases(d->design.alias);
  copyText(out.alias, sizeof out.alias, aliases.empty() ? "" : aliases.front());
  return HTSUCCESS;
}

HTCOLUMNREC columnRecord(const ColumnDesign& c, size_t position) {
  HTCOLUMNREC r{};
  r.flags = c.flags;
  r.sort = uint32_t(c.sort);
  r.total = uint32_t(c.total);
  r.isFormula = c.formula.empty() ? 0 : 1;
  r.width = c.width;
  r.justify = uint32_t(c.justify);
  r.headingJustify = uint32_t(c.headingJustify);
  r.fontFace = uint8_t(c.fontFace);
  r.fontStyle = uint8_t(c.fontStyle);
  r.fontColor = uint8_t(c.fontColor);
  r.fontSize = uint8_t(c.fontSize);
  copyText(r.itemName, sizeof r.itemName, c.itemName);
  r.position = uint32_t(position);
  copyText(r.title, sizeof r.title, c.title);
  return r;
}

HTSTATUS createFolder(db::DbHandle& h, db::DbHandle& designDb, HTID source, HTUINT flags, std::string_view name,
                      HTID& out) {
  std::shared_ptr<const CompiledDesign> d;
  if (HTSTATUS s = findDesign(designDb, source, d)) return s;
  const bool isPrivate = (flags & kFolderPrivate) != 0;
  ViewDesign design = d->design;
  design.name = std::string(trim(name));
  design.alias.clear();
  design.flags &= kStoredViewFlags;
  validate(design);
  if (isPrivate) {
    if (HTSTATUS s = requirePrivateFolders(h)) return s;
  } else if (HTSTATUS s = db::requireAccess(h, HTACLLEVEL_DESIGNER, "create the folder " + design.name)) {
    return s;
  }
  const std::string owner = isPrivate ? db::userName() : "";
  if (isPrivate && trim(owner).empty()) return fail(HTFAIL_INVALID_ARGUMENT, "A private folder needs a user name");
  return saveDesign(h, nc::kFolder, design, design.flags | (isPrivate ? store::kDesignFlagPrivate : 0), owner, out);
}

HTSTATUS addToFolder(db::DbHandle& h, HTID folder, const std::vector<HTID>& notes) {
  return changeMembership(h, folder, notes, [&](db::Database& database, store::Connection& conn, const CompiledDesign& f) {
    addMembers(database, conn, f, notes);
  });
}

HTSTATUS removeFromFolder(db::DbHandle& h, HTID folder, const std::vector<HTID>& notes) {
  return changeMembership(h, folder, notes, [&](db::Database&, store::Connection& conn, const CompiledDesign& f) {
    removeMembers(conn, f.id, notes);
  });
}

HTSTATUS clearFolder(db::DbHandle& h, HTID folder) {
  return changeMembership(h, folder, {}, [&](db::Database&, store::Connection& conn, const CompiledDesign& f) {
    removeAllMembers(conn, f.id);
  });
}

HTSTATUS folderCount(db::DbHandle& h, HTID folderId, HTUINT& out) {
  std::shared_ptr<const CompiledDesign> folder;
  if (HTSTATUS s = findDesign(h, folderId, folder)) return s;
  if (!folder->folder) return fail(HTFAIL_NOT_A_VIEW, "'" + folder->design.name + "' is a view, not a folder");
  const index::ReadAccess reader = index::ReadAccess::forHandle(h, db::effectiveAccess(h));
  db::Database& database = *h.database();
  auto lock = database.lock();
  auto st = database.conn().prepare(
      "SELECT m.note_id, (SELECT readers FROM view_entries e WHERE e.view_id = m.folder_id AND e.note_id = m.note_id "
      "LIMIT 1) FROM folder_members m JOIN notes n ON n.note_id = m.note_id AND n.deleted = 0 WHERE m.folder_id = ?1");
  st->bind(1, int64_t(folderId));
  out = 0;
  while (st->step()) {
    if (reader.restricted() && !st->isNull(1)) {
      std::vector<std::string> names;
      store::codec::decodeTextList(st->blob(1), names);
      bool admitted = false;
      for (const auto& n : names) admitted = admitted || reader.admits(n);
      if (!admitted) continue;
    }
    ++out;
  }
  return HTSUCCESS;
}

}  // namespace quire::engine::view
