// Documents as JSON: what `doc export` writes (one document per line, JSON Lines), what
// `doc import` reads back, and what `doc show --json` prints. One line holds
//
//   {"unid": "...", "parent": "...", "created": "2026-12-09T01:07:08", "modified": "...",
//    "items": [{"name": "Subject", "type": "text", "value": "Order 12"},
//              {"name": "Amount", "type": "number", "value": 110.5},
//              {"name": "Due", "type": "date", "value": "2026-12-09T10:00:00.00", "raw": "..."},
//              {"name": "Tags", "type": "list", "value": ["a", "b"], "flags": 1024},
//              {"name": "Scores", "type": "numbers", "value": [1, 2.5]},
//              {"name": "Dates", "type": "dates", "value": ["..."], "raw": ["..."]},
//              {"name": "Body", "type": "rich", "value": "plain text", "data": "<base64>"},
//              {"name": "Rule", "type": "formula", "value": "Amount * 2"}],
//    "attachments": [{"name": "a.pdf", "size": 1234, "data": "<base64>"}]}
//
// Every value comes back exactly: numbers as JSON numbers with all their digits, date-times
// with their stored form in "raw" (16 hexadecimal digits; "value" is for reading), rich text
// with its stored form in "data", attachments with their bytes. "flags" (item flag bits) is
// written when not 0. "parent" is written for responses; "created" and "modified" are for
// reading and are not imported. Import keeps the UNID, so a database can be moved whole.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "hitest/hitest.h"
#include "tools/quire/Cli.h"

namespace quirecli {

using Json = nlohmann::ordered_json;

// The document open as `document`; attachments with their bytes only when asked.
Json DocumentToJson(HTDOCHANDLE document, bool withAttachments);

int ExportDocuments(Context& context, Arguments& arguments);
int ImportDocuments(Context& context, Arguments& arguments);

}  // namespace quirecli
