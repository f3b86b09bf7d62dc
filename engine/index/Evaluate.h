// One formula evaluated against one document (or none), with the result as text: the
// engine's HTQuireEvaluate, behind `quire eval`.
//
// `note` 0 evaluates without a document. Otherwise the note must be a live note the user
// may read (HTFAIL_NOTE_NOT_FOUND, HTFAIL_NOTE_DELETED, HTFAIL_ACCESS_DENIED). Reading needs
// Reader access where the ACL is enforced. FIELD assignments are evaluated but not saved.
// The value is rendered with list entries joined by "; ", numbers in shortest form and
// date-times as "MM/DD/YYYY HH:MM:SS".
#pragma once

#include <string>
#include <string_view>

#include "engine/core/Export.h"
#include "engine/db/Database.h"
#include "hitest/hitest.h"

namespace quire::engine::index {

HTSTATUS evaluate(db::DbHandle& handle, HTID note, std::string_view formula, std::string& out);

}  // namespace quire::engine::index

// The exported extension (hitest.h HT_HTQuireEvaluate_fn), declared here so that its
// definition in api/AgentApi.cpp is checked against this prototype.
HT_EXPORT HTSTATUS HTQuireEvaluate(HTDBHANDLE db, HTID note, const char* formula, HTUINT capacity, char* result);
