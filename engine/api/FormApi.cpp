// Forms and their fields. A form is a design note (class form) whose items are its fields:
// items whose names begin with "$" are design items kept on the form alone, the others are
// the fields, whose values are the defaults a new document of the form receives
// (HTDocumentCreate). A form name may carry aliases after '|' ("Memo|M"); the form also gets
// a "$TITLE" item with the full name. Creating, copying and deleting forms needs Designer
// access; reading them Reader access.
#include <map>
#include <mutex>

#include "engine/api/EntryPoints.h"
#include "engine/core/Engine.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Design.h"
#include "engine/doc/Note.h"
#include "engine/doc/Values.h"
#include "engine/store/Transaction.h"

using namespace quire::engine;
namespace nc = quire::engine::store::note_class;

namespace {

constexpr size_t kMaxFormName = HT_LISTREC_NAME_CAPACITY - 1;

// Field-list cursors, per database handle and form; dropped when the engine stops. Never
// destroyed, since HTTerm may run from an exit handler after static destructors.
std::mutex gCursorsMutex;
std::map<std::pair<HTDBHANDLE, HTID>, ListCursor<HTITEMLISTREC>>& fieldCursors() {
  static auto* cursors = new std::map<std::pair<HTDBHANDLE, HTID>, ListCursor<HTITEMLISTREC>>;
  static const bool kCleared = (onStop([] {
                                  std::lock_guard lock(gCursorsMutex);
                                  fieldCursors().clear();
                                }),
                                true);
  (void)kCleared;
  return *cursors;
}

bool isField(const store::StoredItem& item) { return !item.name.empty() && item.name[0] != '$'; }

// The live form `id` of the database; HTFAIL_NOTE_NOT_FOUND otherwise.
HTSTATUS loadForm(db::DbHandle& h, HTID id, doc::Note& out) {
  if (HTSTATUS s = db::requireAccess(h, HTACLLEVEL_READER, "read the design")) return s;
  auto& database = *h.database();
  auto lock = database.lock();
  auto note = id ? doc::loadNote(database, database.conn(), id) : std::nullopt;
  if (!note || note->header.deleted || note->header.noteClass != nc::kForm)
    return fail(HTFAIL_NOTE_NOT_FOUND, "No form with ID " + std::to_string(id) + " in " + h.apiPath());
  out = std::move(*note);
  return HTSUCCESS;
}

void splitName(std::string_view full, std::string& name, std::string& alias) {
  const size_t bar = full.find('|');
  name = std::string(trim(full.substr(0, bar)));
  alias = bar == std::string_view::npos ? std::string() : std::string(trim(full.substr(bar + 1)));
}

// Saves `form` as a new form named `fullName` in the database of `h`.
HTSTATUS insertForm(db::DbHandle& h, std::string_view fullName, doc::Note& form, HTID& id) {
  if (HTSTATUS s = db::requireAccess(h, HTACLLEVEL_DESIGNER, "create forms")) return s;
  std::string name, alias;
  splitName(fullName, name, alias);
  if (name.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "A form needs a name");
  if (fullName.size() > kMaxFormName) return fail(HTFAIL_TEXT_TOO_LONG, "A form name may have at most 129 bytes");
  auto& database = *h.database();
  auto lock = database.lock();
  if (store::findDesign(database.conn(), nc::kForm, name, ""))
    return fail(HTFAIL_NAME_EXISTS, "A form named " + name + " already exists in " + h.apiPath());
  form.header = doc::newNote(nc::kForm).header;
  form.header.designName = name;
  form.header.designAlias = alias;
  form.setText("$TITLE", fullName);
  store::Transaction tx(database.conn());
  doc::saveNote(database, database.conn(), form);
  tx.commit();
  id = form.header.id;
  return HTSUCCESS;
}

HTSTATUS openDb(HTDBHANDLE handle, std::shared_ptr<db::DbHandle>& h) { return db::lookup(handle, h); }

}  // namespace

HT_EXPORT HTSTATUS HTFormCreate(HTDBHANDLE handle, const char* name, HTUINT itemCount, const HTFORMITEM* items, HTID* form) {
  return guard([&] {
    HT_REQUIRE_ARG(form);
    *form = 0;
    if (itemCount > 0 && !items) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: items");
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    doc::Note note;
    for (HTUINT i = 0; i < itemCount; ++i) {
      const HTFORMITEM& spec = items[i];
      std::string_view itemName = textArg(spec.name);
      if (itemName.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "Form item " + std::to_string(i + 1) + " has no name");
      if (itemName.size() > 255) return fail(HTFAIL_TEXT_TOO_LONG, "An item name may have at most 255 bytes");
      store::StoredItem item = doc::fromCaller(itemName, spec.type, spec.value, spec.length);
      item.flags = spec.flags;
      note.put(std::move(item));
    }
    return insertForm(*h, textArg(name), note, *form);
  });
}

HT_EXPORT HTSTATUS HTFormFetch(HTDBHANDLE handle, HTID id, HTLISTREC* record) {
  return guard([&] {
    HT_REQUIRE_ARG(record);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    doc::Note form;
    if (HTSTATUS s = loadForm(*h, id, form)) return s;
    *record = HTLISTREC{};
    record->id = id;
    record->noteClass = nc::kForm;
    record->flags = form.header.designFlags;
    copyText(record->name, sizeof record->name, form.header.designName);
    std::string_view alias = form.header.designAlias;
    copyText(record->secondName, sizeof record->secondName, trim(alias.substr(0, alias.find('|'))));
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTFormDelete(HTDBHANDLE handle, HTID id) {
  return guard([&] {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    doc::Note form;
    if (HTSTATUS s = loadForm(*h, id, form)) return s;
    if (HTSTATUS s = db::requireAccess(*h, HTACLLEVEL_DESIGNER, "delete forms")) return s;
    auto& database = *h->database();
    auto lock = database.lock();
    store::Transaction tx(database.conn());
    doc::deleteNote(database, database.conn(), id);
    tx.commit();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTFormCopy(HTDBHANDLE fromHandle, HTID id, HTDBHANDLE toHandle, const char* newName, HTID* newForm) {
  return guard([&] {
    HT_REQUIRE_ARG(newForm);
    *newForm = 0;
    std::shared_ptr<db::DbHandle> from, to;
    if (HTSTATUS s = openDb(fromHandle, from)) return s;
    if (HTSTATUS s = openDb(toHandle, to)) return s;
    doc::Note form;
    if (HTSTATUS s = loadForm(*from, id, form)) return s;
    {
      auto& source = *from->database();
      auto lock = source.lock();
      doc::prepareCopy(source.conn(), form);
    }
    std::string fullName(textArg(newName));
    if (fullName.empty()) {
      fullName = form.header.designName;
      if (!form.header.designAlias.empty()) fullName += "|" + form.header.designAlias;
    }
    return insertForm(*to, fullName, form, *newForm);
  });
}

HT_EXPORT HTUINT HTFieldGetCount(HTDBHANDLE handle, HTID id) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    std::shared_ptr<db::DbHandle> h;
    doc::Note form;
    if (openDb(handle, h) || loadForm(*h, id, form)) return 0;
    HTUINT n = 0;
    for (const store::StoredItem& item : form.items) n += isField(item) ? 1 : 0;
    return n;
  });
}

HT_EXPORT HTSTATUS HTFieldList(HTDBHANDLE handle, HTID id, HTINT listMode, HTITEMLISTREC* record) {
  return guard([&] {
    HT_REQUIRE_ARG(record);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    doc::Note form;
    if (HTSTATUS s = loadForm(*h, id, form)) return s;
    auto load = [&] {
      std::vector<HTITEMLISTREC> out;
      for (const store::StoredItem& item : form.items) {
        if (!isField(item)) continue;
        HTITEMLISTREC r{};
        r.type = item.type;
        copyText(r.name, sizeof r.name, item.name);
        out.push_back(r);
      }
      return out;
    };
    std::lock_guard lock(gCursorsMutex);
    return fieldCursors()[{handle, id}].step(listMode, load, *record);
  });
}

HT_EXPORT HTSTATUS HTFieldFetch(HTDBHANDLE handle, HTID id, const char* name, HTINT* type, HTUINT* flags) {
  return guard([&] {
    HT_REQUIRE_ARG(type);
    HT_REQUIRE_ARG(flags);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    doc::Note form;
    if (HTSTATUS s = loadForm(*h, id, form)) return s;
    const store::StoredItem* item = form.find(textArg(name));
    if (!item || !isField(*item))
      return fail(HTFAIL_ITEM_NOT_FOUND, "Form " + form.header.designName + " has no field " + std::string(textArg(name)));
    *type = item->type;
    *flags = item->flags;
    return HTSUCCESS;
  });
}
