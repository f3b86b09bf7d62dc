// quire search, ftsearch, eval, agent and ftindex: selecting documents by formula and by
// full-text query, evaluating a formula, agents and the full-text index.
#include <algorithm>
#include <cctype>
#include <ostream>

#include <nlohmann/json.hpp>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRItem.h"
#include "objects/Quiredoc.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kSearchUsage[] = "  quire search PATH FORMULA [--server SERVER] [--json]\n";
constexpr char kFtSearchUsage[] = "  quire ftsearch PATH QUERY [--max N] [--server SERVER] [--json]\n";
constexpr char kEvalUsage[] = "  quire eval PATH FORMULA [UNID] [--server SERVER]\n";
constexpr char kAgentUsage[] =
    "  quire agent create PATH NAME FORMULA [--select FORMULA] [--server SERVER]\n"
    "  quire agent run PATH NAME [--server SERVER]\n"
    "  quire agent list PATH [--server SERVER] [--json]\n"
    "  quire agent delete PATH NAME [--server SERVER]\n";
constexpr char kFtIndexUsage[] = "  quire ftindex create|delete PATH [--server SERVER]\n";

// The object model keeps the reason a collection could not be made inside the discarded
// collection; the same call through the API tells it.
uint32_t SearchFailure(HTDBHANDLE database, const std::string& text, bool fullText, uint32_t maxDocs) {
  HTINDEXHANDLE index = 0;
  uint32_t status = HTAPI.HTIndexOpen(database, &index);
  if (status != 0) return status;
  HTUINT matched = 0;
  status = fullText ? HTAPI.HTIndexFTSearch(index, text.c_str(), 0, HTFTSORT_NONE, maxDocs)
                    : HTAPI.HTIndexSearch(index, text.c_str(), 0, &matched);
  HTAPI.HTIndexClose(index);
  return status;
}

// One line per document (its UNID and Form), then the count; or a JSON list of them.
int PrintCollection(Context& context, TQuireDocCollection& collection, bool json) {
  const int count = collection.GetCount();
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (int n = 1; n <= count; ++n) {
    auto document = n == 1 ? collection.GetFirstDocument() : collection.GetNextDocument();
    if (!document) Check(collection.LastError ? collection.LastError : HTFAIL_INTERNAL, "cannot open a document");
    TQuireItem* form = document->GetItemByName("Form");
    const std::string formName = form ? form->GetText() : std::string();
    if (json) list.push_back({{"unid", document->GetUniversalID()}, {"form", formName}});
    else context.out << document->GetUniversalID() << "  " << formName << "\n";
  }
  if (json) context.out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  else context.out << count << (count == 1 ? " document\n" : " documents\n");
  return kExitOk;
}

int RunSearch(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  const std::string formula = arguments.Next("FORMULA");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  auto collection = database->Search(formula);
  if (!collection) Check(SearchFailure(database->DbHandle, formula, false, 0), "search failed");
  if (!collection) throw Failure("search failed");
  return PrintCollection(context, *collection, json);
}

int RunFtSearch(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string max = arguments.TakeOption("--max", "0");
  const std::string path = arguments.Next("PATH");
  const std::string query = arguments.Next("QUERY");
  arguments.ExpectEnd();
  uint32_t maxDocs = 0;
  try {
    const long value = std::stol(max);
    if (value < 0) throw std::out_of_range("negative");
    maxDocs = static_cast<uint32_t>(value);
  } catch (const std::exception&) {
    throw UsageError("--max takes a number of documents (0 = all)");
  }
  auto database = OpenDatabase(context, server, path);
  auto collection = database->FTSearch(query, maxDocs);
  if (!collection) Check(SearchFailure(database->DbHandle, query, true, maxDocs), "full-text search failed");
  if (!collection) throw Failure("full-text search failed");
  return PrintCollection(context, *collection, json);
}

int RunEval(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string formula = arguments.Next("FORMULA");
  const std::string unidText = arguments.NextOr("");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  HTID note = 0;
  if (!unidText.empty()) {
    const bool wellFormed = unidText.size() == 32 && std::all_of(unidText.begin(), unidText.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
    if (!wellFormed) throw UsageError("'" + unidText + "' is not a universal ID (32 hexadecimal digits)");
    std::string upper = unidText;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    UNID unid = StrToUNID(upper);
    note = HTAPI.HTDocumentLocateByUnid(database->DbHandle, &unid);
    if (note == 0) throw Failure("no document " + unidText + " in '" + path + "'");
  }
  auto evaluate = EngineExtension<HT_HTQuireEvaluate_fn>("HTQuireEvaluate");
  if (!evaluate) throw Failure("the engine does not offer formula evaluation");
  std::string result(64 * 1024, '\0');
  Check(evaluate(database->DbHandle, note, formula.c_str(), static_cast<HTUINT>(result.size()), result.data()),
        "cannot evaluate the formula");
  result.resize(result.find('\0'));
  context.out << result << "\n";
  return kExitOk;
}

int AgentCreate(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool selected = arguments.HasOption("--select");
  const std::string selection = arguments.TakeOption("--select");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  const std::string formula = arguments.Next("FORMULA");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  // The object model has no call that makes agents.
  HTAGENTSPEC spec{name.c_str(), formula.c_str(), selected ? HTAGENTDOCS_SELECTED_VIEW : HTAGENTDOCS_ALL,
                   selection.c_str()};
  HTID agent = 0;
  Check(HTAPI.HTAgentCreate(database->DbHandle, &spec, &agent), "cannot create agent '" + name + "'");
  context.out << "created agent " << name << "\n";
  return kExitOk;
}

int AgentRun(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  uint32_t processed = 0, changed = 0;
  if (!database->AgentExecute(name, processed, changed)) {
    if (database->LastError == 0) throw Failure("no agent '" + name + "' in '" + path + "'");
    Check(database->LastError, "agent '" + name + "' failed");
  }
  context.out << "agent " << name << ": " << processed << " processed, " << changed << " changed\n";
  return kExitOk;
}

int AgentList(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  nlohmann::ordered_json names = nlohmann::ordered_json::array();
  for (std::string name = database->AgentList(qrFirst); !name.empty(); name = database->AgentList(qrNext)) {
    if (json) names.push_back(name);
    else context.out << name << "\n";
  }
  if (json) context.out << names.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  return kExitOk;
}

int AgentDelete(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  const HTID agent = HTAPI.HTAgentLocateByName(database->DbHandle, name.c_str());
  if (agent == 0) throw Failure("no agent '" + name + "' in '" + path + "'");
  Check(HTAPI.HTAgentDelete(database->DbHandle, agent), "cannot delete agent '" + name + "'");
  context.out << "deleted agent " << name << "\n";
  return kExitOk;
}

int RunAgent(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments, {{"create", AgentCreate}, {"run", AgentRun}, {"list", AgentList}, {"delete", AgentDelete}});
}

int FtIndex(Context& context, Arguments& arguments, bool create) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  ProgressLine progress;
  const bool done = create ? database->CreateFTIndex(0) : database->DeleteFTIndex();
  if (!done) Check(database->LastError, create ? "cannot create the full-text index" : "cannot delete the full-text index");
  context.out << (create ? "full-text index created for " : "full-text index deleted for ") << path << "\n";
  return kExitOk;
}

int RunFtIndex(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments,
                  {{"create", [](Context& c, Arguments& a) { return FtIndex(c, a, true); }},
                   {"delete", [](Context& c, Arguments& a) { return FtIndex(c, a, false); }}});
}

}  // namespace

QUIRE_COMMAND_GROUP(search, "search", "select documents by formula", kSearchUsage, RunSearch);
QUIRE_COMMAND_GROUP(ftsearch, "ftsearch", "select documents by full-text query", kFtSearchUsage, RunFtSearch);
QUIRE_COMMAND_GROUP(eval, "eval", "evaluate a formula, on its own or against a document", kEvalUsage, RunEval);
QUIRE_COMMAND_GROUP(agent, "agent", "create, run, list and delete agents", kAgentUsage, RunAgent);
QUIRE_COMMAND_GROUP(ftindex, "ftindex", "create or delete a database's full-text index", kFtIndexUsage, RunFtIndex);

}  // namespace quirecli
