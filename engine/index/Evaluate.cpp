#include "engine/index/Evaluate.h"

#include <optional>

#include "engine/core/Status.h"
#include "engine/db/Access.h"
#include "engine/index/NoteContext.h"
#include "engine/index/ReadAccess.h"
#include "engine/index/Selection.h"

namespace quire::engine::index {

HTSTATUS evaluate(db::DbHandle& handle, HTID note, std::string_view text, std::string& out) {
  if (HTSTATUS s = db::requireAccess(handle, HTACLLEVEL_READER, "evaluate formulas on documents")) return s;
  std::optional<formula::Formula> compiled;
  if (HTSTATUS s = compileFormula(text, compiled)) return s;
  NoteContext context;
  auto& database = *handle.database();
  auto lock = database.lock();
  std::optional<store::NoteHeader> header;
  if (note != 0) {
    header = store::readNote(database.conn(), note);
    if (!header) return fail(HTFAIL_NOTE_NOT_FOUND, "No document with ID " + std::to_string(note));
    if (header->deleted) return fail(HTFAIL_NOTE_DELETED, "Document " + std::to_string(note) + " was deleted");
    const ReadAccess reader = ReadAccess::forHandle(handle, db::effectiveAccess(handle));
    if (reader.restricted() && !reader.canRead(store::readItems(database.conn(), note)))
      return fail(HTFAIL_ACCESS_DENIED, "Document " + std::to_string(note) + " has a Readers item that leaves out " +
                                            db::userName());
    context.bindStored(database.conn(), *header);
  }
  auto value = compiled->evaluate(context);
  if (!value) return fail(HTFAIL_FORMULA_EVAL, value.error().message);
  out = renderValue(value.value(), context);
  return HTSUCCESS;
}

}  // namespace quire::engine::index
