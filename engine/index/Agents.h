// Agents: named formulas stored in the database and run over its documents.
//
// An agent is a design note of class kAgent whose design name is the agent's name, with
// the items "$AgentFormula" (text: the formula run against each document), "$AgentDocuments"
// (number: HTAGENTDOCS_ALL, or HTAGENTDOCS_SELECTED_VIEW to run only on the documents that
// "$AgentSelection", a selection formula, selects) and "$AgentSelection". Both formulas are
// compiled when the agent is created, so a stored agent always compiles.
//
// Running (execute): the formula runs on every live document the user may read that the
// selection takes (all of them for HTAGENTDOCS_ALL), in note ID order; `processed` counts
// them. FIELD assignments change the document when the formula's outcome selects it (a
// formula without SELECT always does); a document whose items end up with different values
// is saved, and `changed` counts those. Everything happens in one transaction: the run is
// complete or, on any failure (a formula error on some document, a refused change), leaves
// no trace. Access is checked before anything is written: changing a document needs Editor
// access, or Author access and the user's name in one of its Authors items; a user whose
// access does not allow every change the run would make gets HTFAIL_ACCESS_DENIED.
//
// Saving goes through the document layer (doc::saveNote: new sequence and modified time,
// the Form column kept equal to the Form item, the note observers in the same transaction),
// so the full-text and view indexes follow.
#pragma once

#include <string>

#include "engine/db/Database.h"
#include "hitest/hitest.h"

namespace quire::engine::index::agents {

constexpr const char* kFormulaItem = "$AgentFormula";
constexpr const char* kDocumentsItem = "$AgentDocuments";
constexpr const char* kSelectionItem = "$AgentSelection";
constexpr size_t kMaxNameBytes = HT_LISTREC_NAME_CAPACITY - 1;

// Needs Designer access where the ACL is enforced. HTFAIL_NAME_EXISTS for a name (or alias)
// already used by another agent; HTFAIL_FORMULA_SYNTAX for a formula that does not compile.
HTSTATUS create(db::DbHandle& handle, const HTAGENTSPEC& spec, HTID& out);
HTSTATUS fetch(db::DbHandle& handle, HTID agent, HTLISTREC& out);
// Copies an agent into another database (`newName` empty: the same name).
HTSTATUS copy(db::DbHandle& from, HTID agent, db::DbHandle& to, std::string_view newName, HTID& out);

struct RunCounts {
  HTUINT processed = 0;
  HTUINT changed = 0;
};
HTSTATUS execute(db::DbHandle& handle, HTID agent, HTUINT flags, RunCounts& out);

}  // namespace quire::engine::index::agents
