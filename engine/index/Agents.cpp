#include "engine/index/Agents.h"

#include <algorithm>
#include <optional>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Session.h"
#include "engine/doc/Document.h"
#include "engine/doc/Note.h"
#include "engine/doc/NoteEvents.h"
#include "engine/index/NoteContext.h"
#include "engine/index/ReadAccess.h"
#include "engine/index/Selection.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Transaction.h"

namespace quire::engine::index::agents {
namespace {

namespace nc = store::note_class;

struct Definition {
  store::NoteHeader header;
  std::string formula;
  HTINT documents = HTAGENTDOCS_ALL;
  std::string selection;
};

const store::StoredItem* item(const std::vector<store::StoredItem>& items, std::string_view name) {
  for (const auto& i : items)
    if (equalsNoCase(i.name, name)) return &i;
  return nullptr;
}

std::string textOf(const store::StoredItem* i) {
  std::string s;
  if (i != nullptr && i->type == HTTYPE_TEXT) store::codec::decodeText(i->value, s);
  return s;
}

HTSTATUS load(store::Connection& conn, HTID id, Definition& out) {
  auto note = store::readNote(conn, id);
  if (!note || note->deleted || note->noteClass != nc::kAgent)
    return fail(HTFAIL_NOTE_NOT_FOUND, "No agent with ID " + std::to_string(id));
  out.header = *note;
  const auto items = store::readItems(conn, id);
  out.formula = textOf(item(items, kFormulaItem));
  out.selection = textOf(item(items, kSelectionItem));
  double docs = HTAGENTDOCS_ALL;
  if (const auto* d = item(items, kDocumentsItem); d && d->type == HTTYPE_NUMBER) store::codec::decodeNumber(d->value, docs);
  out.documents = HTINT(docs);
  return HTSUCCESS;
}

std::vector<store::StoredItem> designItems(std::string_view formula, HTINT documents, std::string_view selection) {
  std::vector<store::StoredItem> items;
  items.push_back({kFormulaItem, HTTYPE_TEXT, 0, store::codec::encodeText(formula)});
  items.push_back({kDocumentsItem, HTTYPE_NUMBER, 0, store::codec::encodeNumber(double(documents))});
  items.push_back({kSelectionItem, HTTYPE_TEXT, 0, store::codec::encodeText(selection)});
  return items;
}

HTSTATUS insertAgent(db::Database& database, std::string_view name, std::string_view formula, HTINT documents,
                     std::string_view selection, HTID& out) {
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  if (store::findDesign(conn, nc::kAgent, name, "*"))
    return fail(HTFAIL_NAME_EXISTS, "An agent named '" + std::string(name) + "' already exists");
  store::Transaction tx(conn);
  doc::Note note = doc::newNote(nc::kAgent);
  note.header.designName = std::string(name);
  note.items = designItems(formula, documents, selection);
  doc::saveNote(database, conn, note);
  tx.commit();
  const HTID id = note.header.id;
  out = id;
  return HTSUCCESS;
}

}  // namespace

HTSTATUS create(db::DbHandle& handle, const HTAGENTSPEC& spec, HTID& out) {
  const std::string_view name = trim(textArg(spec.name));
  if (name.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "An agent needs a name");
  if (name.size() > kMaxNameBytes)
    return fail(HTFAIL_TEXT_TOO_LONG, "Agent names are at most " + std::to_string(kMaxNameBytes) + " bytes");
  if (spec.documents != HTAGENTDOCS_ALL && spec.documents != HTAGENTDOCS_SELECTED_VIEW)
    return fail(HTFAIL_INVALID_ARGUMENT, "Agents run on all documents (" + std::to_string(HTAGENTDOCS_ALL) +
                                             ") or on those a selection formula selects (" +
                                             std::to_string(HTAGENTDOCS_SELECTED_VIEW) + ")");
  if (HTSTATUS s = db::requireAccess(handle, HTACLLEVEL_DESIGNER, "create agent " + std::string(name))) return s;
  std::optional<formula::Formula> compiled;
  if (HTSTATUS s = compileFormula(textArg(spec.formula), compiled)) return s;
  const std::string_view selection = spec.documents == HTAGENTDOCS_ALL ? std::string_view() : textArg(spec.selection);
  if (HTSTATUS s = compileFormula(selection, compiled)) return s;
  return insertAgent(*handle.database(), name, textArg(spec.formula), spec.documents, selection, out);
}

HTSTATUS fetch(db::DbHandle& handle, HTID agent, HTLISTREC& out) {
  if (HTSTATUS s = db::requireAccess(handle, HTACLLEVEL_READER, "read the design")) return s;
  auto& database = *handle.database();
  auto lock = database.lock();
  Definition d;
  if (HTSTATUS s = load(database.conn(), agent, d)) return s;
  out = HTLISTREC{};
  out.id = d.header.id;
  out.noteClass = d.header.noteClass;
  out.flags = d.header.designFlags;
  copyText(out.name, sizeof out.name, d.header.designName);
  std::string_view alias = d.header.designAlias;
  copyText(out.secondName, sizeof out.secondName, trim(alias.substr(0, alias.find('|'))));
  return HTSUCCESS;
}

HTSTATUS copy(db::DbHandle& from, HTID agent, db::DbHandle& to, std::string_view newName, HTID& out) {
  if (HTSTATUS s = db::requireAccess(from, HTACLLEVEL_READER, "read the design")) return s;
  Definition d;
  {
    auto& database = *from.database();
    auto lock = database.lock();
    if (HTSTATUS s = load(database.conn(), agent, d)) return s;
  }
  const std::string name = trim(newName).empty() ? d.header.designName : std::string(trim(newName));
  if (name.size() > kMaxNameBytes)
    return fail(HTFAIL_TEXT_TOO_LONG, "Agent names are at most " + std::to_string(kMaxNameBytes) + " bytes");
  if (HTSTATUS s = db::requireAccess(to, HTACLLEVEL_DESIGNER, "create agent " + name)) return s;
  return insertAgent(*to.database(), name, d.formula, d.documents, d.selection, out);
}

HTSTATUS execute(db::DbHandle& handle, HTID agent, HTUINT flags, RunCounts& out) {
  out = RunCounts{};
  if (HTSTATUS s = db::requireAccess(handle, HTACLLEVEL_READER, "run agents")) return s;
  const db::Access access = db::effectiveAccess(handle);
  const ReadAccess reader = ReadAccess::forHandle(handle, access);
  auto& database = *handle.database();
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  // The formulas read the documents they change: reading inside the write keeps another
  // process's change from being overwritten with values computed from the one before it.
  store::Transaction tx(conn);

  Definition d;
  if (HTSTATUS s = load(conn, agent, d)) return s;
  std::optional<formula::Formula> formula, selection;
  if (HTSTATUS s = compileFormula(d.formula, formula)) return s;
  if (HTSTATUS s = compileFormula(d.documents == HTAGENTDOCS_ALL ? std::string() : d.selection, selection)) return s;

  std::vector<std::string> preload = selection->fieldsRead();
  for (const auto& f : formula->fieldsRead()) preload.push_back(f);

  struct Change {
    HTID id;
    std::vector<NoteContext::Assignment> assignments;
  };
  std::vector<Change> changes;
  HTSTATUS failure = HTSUCCESS;
  forEachDocument(conn, reader, preload, [&](NoteContext& context, const store::NoteHeader& header) {
    if (!selection->selectsAll()) {
      auto chosen = selection->selects(context);
      if (!chosen) {
        failure = fail(HTFAIL_FORMULA_EVAL, "Agent " + d.header.designName + ", selection, document " +
                                                std::to_string(header.id) + ": " + chosen.error().message);
        return false;
      }
      if (!chosen.value()) return true;
      context.clearAssignments();  // the formula starts afresh
    }
    ++out.processed;
    auto run = formula->run(context);
    if (!run) {
      failure = fail(HTFAIL_FORMULA_EVAL, "Agent " + d.header.designName + ", document " + std::to_string(header.id) +
                                              ": " + run.error().message);
      return false;
    }
    if (run.value().selected && !context.assignments().empty()) changes.push_back({header.id, context.assignments()});
    return true;
  });
  if (failure) {
    out = RunCounts{};
    return failure;
  }

  // Work out every change and check it is allowed before writing anything.
  std::vector<doc::Note> writes;
  for (auto& c : changes) {
    auto note = doc::loadNote(database, conn, c.id);
    if (!note || note->header.deleted) continue;
    const std::vector<store::StoredItem> stored = note->items;
    if (!NoteContext::applyAssignments(c.assignments, note->items)) continue;
    if (HTSTATUS s = doc::requireChange(handle, note->header, stored)) {
      out = RunCounts{};
      return s;
    }
    writes.push_back(std::move(*note));
  }

  // The document layer's save keeps sequence numbers, times, the Form column and the
  // indexes (note observers) right, all inside this one transaction.
  for (auto& note : writes) doc::saveNote(database, conn, note);
  tx.commit();
  out.changed = HTUINT(writes.size());
  (void)flags;  // how the agent was triggered does not change what it does
  return HTSUCCESS;
}

}  // namespace quire::engine::index::agents
