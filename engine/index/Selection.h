// Selecting documents by formula: the search behind HTIndexSearch and agents.
//
// `select` evaluates a compiled formula over every live document (class Document, not a
// deletion stub) that the reader may read, in note ID order, and returns the IDs of those
// it selects. A formula that selects everything whatever the document holds (the empty
// formula, SELECT @All) is answered without evaluating it.
//
// A formula that fails on one document (a type error on that document's values) does not
// select it; the search goes on. Only when it fails on every document it ran on is the
// search a failure (HTFAIL_FORMULA_EVAL with the first message), since then the formula,
// not the data, is at fault.
//
// Documents and the items the formula names come from the database's summary cache
// (SummaryCache.h), brought up to date first; formulas of the simple shape FastSelect.h
// describes are answered from its columns directly, others run the evaluator with fields
// from the cache. The database lock is held for the whole selection, so it sees one
// consistent state.
#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/db/Database.h"
#include "engine/formula/Formula.h"
#include "engine/index/NoteContext.h"
#include "engine/index/ReadAccess.h"

namespace quire::engine::index {

// Compiles `text`; HTFAIL_FORMULA_SYNTAX (message names the position) on a bad formula.
HTSTATUS compileFormula(std::string_view text, std::optional<formula::Formula>& out);

HTSTATUS select(const std::shared_ptr<db::Database>& database, const ReadAccess& reader,
                const formula::Formula& formula, std::vector<HTID>& out);

// Runs `visit` for every live, readable document, with a context bound to it whose items
// for the names of `preload` are read in the same pass (the rest lazily). The caller holds
// the database lock. `visit` returns false to stop.
void forEachDocument(store::Connection& conn, const ReadAccess& reader, const std::vector<std::string>& preload,
                     const std::function<bool(NoteContext& context, const store::NoteHeader& header)>& visit);

}  // namespace quire::engine::index
