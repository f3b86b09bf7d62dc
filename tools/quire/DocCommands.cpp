// quire doc: create, show, list, change and delete documents; attach, extract and export.
//
// Item values are given as NAME[:TYPE]=VALUE words or as a JSON file. Everything goes
// through the object model (TQuireDocument and its items), so the tool writes documents
// exactly as an application would; the API is called directly only for what the object
// model does not offer (document dates, deleting an item, the list of export formats).
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <strings.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/Quiredoc.h"
#include "rtl/DateTime.h"
#include "rtl/FormatSettings.h"
#include "tools/quire/Cli.h"
#include "tools/quire/DocTransfer.h"

namespace quirecli {

namespace {

constexpr char kUsage[] =
    "  quire doc create PATH [--form FORM] [NAME[:TYPE]=VALUE...]\n"
    "      TYPE: text (the default), number, date (YYYY-MM-DD [HH:MM[:SS]]), list (a,b,c),\n"
    "      rich, and the lists authors, readers, names\n"
    "  quire doc create PATH --json FILE\n"
    "      FILE holds {\"Form\": ..., \"items\": {NAME: value or {\"TYPE\": value}}}\n"
    "  quire doc show PATH UNID [--json]\n"
    "  quire doc list PATH [--json]\n"
    "  quire doc set PATH UNID [NAME[:TYPE]=VALUE...] [--remove NAME]...\n"
    "      without a TYPE an existing item keeps its type\n"
    "  quire doc delete PATH UNID\n"
    "  quire doc attach PATH UNID FILE...\n"
    "  quire doc extract PATH UNID ATTACHMENT TARGET\n"
    "  quire doc export PATH [FILE]\n"
    "      every document as JSON Lines (one per line; standard output without FILE), every\n"
    "      item type and the attachments included; doc import reads it back exactly\n"
    "  quire doc import PATH [FILE] [--new-unids]\n"
    "      documents from JSON Lines (standard input without FILE); they keep their UNIDs\n"
    "      unless --new-unids\n"
    "  quire doc export-item PATH UNID ITEM FILE [--format FORMAT]\n"
    "  quire doc export-doc PATH UNID FILE [--format FORMAT]\n"
    "      a rich-text item, or the whole document, as HTML or TEXT (default: from the\n"
    "      file's extension)\n"
    "  (every doc command also takes --server SERVER)\n";

// ---- values ------------------------------------------------------------------------------

enum class Kind { Text, Number, Date, List, Rich };

// One item to write, read from the command line or a JSON file.
struct Value {
  std::string name;
  Kind kind = Kind::Text;
  uint32_t listFlag = 0;  // kItemFlagAuthors/Readers/Names for those list types
  std::string text;       // Text and Rich
  double number = 0.0;
  rtl::TDateTime date = 0.0;
  std::vector<std::string> entries;
};

// NAME[:TYPE]=VALUE as typed; the value is read once the type is known.
struct Assignment {
  std::string name;
  std::string type;  // "" when none was given
  std::string value;
};

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool EqualNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool ParseNumber(const std::string& text, double& value) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  const char* end = trimmed.data() + trimmed.size();
  const auto [stop, error] = std::from_chars(trimmed.data(), end, value);
  return error == std::errc() && stop == end && std::isfinite(value);
}

// YYYY-MM-DD with an optional time (HH:MM or HH:MM:SS after a blank or a 'T'); otherwise
// the locale's short date with an optional time, as the object model writes dates.
bool ParseDate(const std::string& text, rtl::TDateTime& value) {
  const std::string trimmed = Trim(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  if (std::sscanf(trimmed.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3) {
    std::string rest = trimmed.substr(static_cast<size_t>(used));
    if (!rest.empty() && (rest[0] == ' ' || rest[0] == 'T')) {
      int timeUsed = 0;
      const int fields =
          std::sscanf(rest.c_str() + 1, "%2d:%2d%n:%2d%n", &hour, &minute, &timeUsed, &second, &timeUsed);
      if (fields < 2) return false;
      rest = rest.substr(static_cast<size_t>(timeUsed) + 1);
    }
    return rest.empty() && rtl::TryEncodeDateTime(year, month, day, hour, minute, second, 0, value);
  }
  return rtl::TryStrToDateTime(trimmed, value);
}

// Comma-separated entries, blanks around them dropped; empty entries are left out.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> entries;
  std::stringstream stream(text);
  std::string entry;
  while (std::getline(stream, entry, ',')) {
    entry = Trim(entry);
    if (!entry.empty()) entries.push_back(entry);
  }
  return entries;
}

struct TypeWord {
  const char* word;
  Kind kind;
  uint32_t listFlag;
};

constexpr TypeWord kTypes[] = {
    {"text", Kind::Text, 0},        {"number", Kind::Number, 0},
    {"date", Kind::Date, 0},        {"datetime", Kind::Date, 0},
    {"list", Kind::List, 0},        {"rich", Kind::Rich, 0},
    {"authors", Kind::List, kItemFlagAuthors}, {"readers", Kind::List, kItemFlagReaders},
    {"names", Kind::List, kItemFlagNames},
};

const TypeWord* FindType(const std::string& word) {
  for (const auto& type : kTypes) {
    if (EqualNoCase(word, type.word)) return &type;
  }
  return nullptr;
}

const TypeWord& RequireType(const std::string& word, const std::string& item) {
  const TypeWord* type = FindType(word);
  if (!type) {
    throw UsageError("unknown type '" + word + "' for item '" + item +
                     "' (text, number, date, list, rich, authors, readers, names)");
  }
  return *type;
}

// The value of `item` read as `type`; a value that does not fit the type is a usage error.
Value ReadValue(const std::string& item, const TypeWord& type, const std::string& text) {
  Value value;
  value.name = item;
  value.kind = type.kind;
  value.listFlag = type.listFlag;
  switch (type.kind) {
    case Kind::Text:
    case Kind::Rich:
      value.text = text;
      break;
    case Kind::Number:
      if (!ParseNumber(text, value.number)) throw UsageError("'" + text + "' is not a number (item '" + item + "')");
      break;
    case Kind::Date:
      if (!ParseDate(text, value.date)) {
        throw UsageError("'" + text + "' is not a date (item '" + item + "'; write YYYY-MM-DD [HH:MM[:SS]])");
      }
      break;
    case Kind::List:
      value.entries = SplitList(text);
      break;
  }
  return value;
}

Assignment ParseAssignment(const std::string& word) {
  const auto equals = word.find('=');
  if (equals == std::string::npos) throw UsageError("expected NAME=VALUE, not '" + word + "'");
  Assignment assignment;
  assignment.name = word.substr(0, equals);
  assignment.value = word.substr(equals + 1);
  const auto colon = assignment.name.rfind(':');
  if (colon != std::string::npos) {
    assignment.type = assignment.name.substr(colon + 1);
    assignment.name.erase(colon);
    RequireType(assignment.type, assignment.name);
  }
  if (assignment.name.empty()) throw UsageError("an item name is missing in '" + word + "'");
  return assignment;
}

std::vector<Assignment> ParseAssignments(Arguments& arguments) {
  std::vector<Assignment> assignments;
  while (!arguments.Empty()) assignments.push_back(ParseAssignment(arguments.Next("NAME=VALUE")));
  return assignments;
}

// ---- JSON documents ----------------------------------------------------------------------

struct JsonDocument {
  std::string form;
  std::vector<Value> values;
};

// Names and texts travel to the engine zero-terminated: a "\u0000" inside would cut them
// short without a word, so it is refused.
const std::string& NoNul(const std::string& text, const std::string& item, const std::string& file) {
  if (text.find('\0') != std::string::npos)
    throw Failure(file + ": item '" + item.substr(0, item.find('\0')) + "' holds a NUL character (\\u0000)");
  return text;
}

std::string JsonText(const Json& json, const std::string& item, const std::string& file) {
  if (!json.is_string()) throw Failure(file + ": item '" + item + "' needs a text here, not " + json.dump());
  return NoNul(json.get<std::string>(), item, file);
}

// A plain JSON value: text, number or a list of texts.
Value JsonPlainValue(const std::string& item, const Json& json, const std::string& file) {
  Value value;
  value.name = item;
  if (json.is_string()) {
    value.text = NoNul(json.get<std::string>(), item, file);
  } else if (json.is_number()) {
    value.kind = Kind::Number;
    value.number = json.get<double>();
  } else if (json.is_array()) {
    value.kind = Kind::List;
    for (const Json& entry : json) value.entries.push_back(JsonText(entry, item, file));
  } else {
    throw Failure(file + ": item '" + item + "' has a value of no item type: " + json.dump() +
                  " (use a text, a number, a list of texts or {\"TYPE\": value})");
  }
  return value;
}

// {"TYPE": value}: the value in the form the command line takes, or in its JSON form.
Value JsonTypedValue(const std::string& item, const Json& json, const std::string& file) {
  if (json.size() != 1) throw Failure(file + ": item '" + item + "' needs exactly one {\"TYPE\": value}");
  const std::string typeName = json.begin().key();
  const TypeWord* type = FindType(typeName);
  if (!type) throw Failure(file + ": item '" + item + "' has the unknown type '" + typeName + "'");
  const Json& inner = json.begin().value();
  if (inner.is_string()) {
    try {
      return ReadValue(item, *type, NoNul(inner.get<std::string>(), item, file));
    } catch (const UsageError& error) {
      throw Failure(file + ": " + error.what());
    }
  }
  Value value = JsonPlainValue(item, inner, file);
  if (value.kind != type->kind) throw Failure(file + ": item '" + item + "' does not hold a " + typeName + " value");
  value.listFlag = type->listFlag;
  return value;
}

JsonDocument ReadJsonDocument(const std::string& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) throw Failure("cannot read '" + file + "'");
  Json root;
  try {
    root = Json::parse(stream);
  } catch (const Json::exception& error) {
    throw Failure("'" + file + "' is not valid JSON: " + error.what());
  }
  if (!root.is_object()) throw Failure(file + ": expected an object {\"Form\": ..., \"items\": {...}}");
  JsonDocument document;
  for (const auto& [key, member] : root.items()) {
    if (key == "Form") {
      document.form = JsonText(member, "Form", file);
    } else if (key == "items") {
      if (!member.is_object()) throw Failure(file + ": \"items\" must be an object of NAME: value");
      for (const auto& [name, json] : member.items()) {
        if (name.empty()) throw Failure(file + ": an item name is empty");
        NoNul(name, name, file);
        document.values.push_back(json.is_object() ? JsonTypedValue(name, json, file)
                                                   : JsonPlainValue(name, json, file));
      }
    } else {
      throw Failure(file + ": unknown member \"" + key + "\" (expected \"Form\" and \"items\")");
    }
  }
  return document;
}

// ---- writing items -----------------------------------------------------------------------

void CheckItem(const TQuireItem& item, const std::string& name) {
  uint32_t code = item.LastError;
  if (const auto* rich = dynamic_cast<const TQuireRTItem*>(&item); rich && code == 0) code = rich->RTLastError;
  if (code == 0 && !item.Valid) code = HTFAIL_INVALID_ARGUMENT;
  Check(code, "cannot write item '" + name + "'");
}

void SetListFlag(TQuireItem& item, uint32_t flag) {
  if (flag == kItemFlagAuthors) item.SetIsAuthors(true);
  if (flag == kItemFlagReaders) item.SetIsReaders(true);
  if (flag == kItemFlagNames) item.SetIsNames(true);
}

rtl::TStringList Strings(const std::vector<std::string>& entries) {
  rtl::TStringList strings;
  for (const auto& entry : entries) strings.Add(entry);
  return strings;
}

// A new list already holds its first entry, so it needs a write-back only for more.
void WriteList(TQuireItem& item, const Value& value, bool fresh) {
  auto& list = dynamic_cast<TQuireTextListItem&>(item);
  if (!fresh || value.entries.size() > 1) {
    list.ReplaceEntries(Strings(value.entries));
    CheckItem(list, value.name);
  }
  if (value.listFlag != 0) {
    SetListFlag(list, value.listFlag);
    CheckItem(list, value.name);
  }
}

// Writes a new item (replacing the document's first item of that name).
void AppendValue(TQuireDocument& document, const Value& value) {
  switch (value.kind) {
    case Kind::Text: document.AppendTextItem(value.name, value.text); break;
    case Kind::Number: document.AppendNumberItem(value.name, value.number); break;
    case Kind::Date: document.AppendDateTimeItem(value.name, value.date); break;
    case Kind::Rich: document.AppendRTItem(value.name, value.text); break;
    case Kind::List:
      document.AppendTextListItem(value.name, value.entries.empty() ? std::string() : value.entries.front());
      break;
  }
  // The new item object is always the last one of the list.
  TQuireItem& item = *document.GetItem(document.Items.Count() - 1);
  CheckItem(item, value.name);
  if (value.kind == Kind::List) WriteList(item, value, true);
}

TQRItemType ItemTypeOf(Kind kind) {
  switch (kind) {
    case Kind::Text: return qrTypeText;
    case Kind::Number: return qrTypeNumber;
    case Kind::Date: return qrTypeDateTime;
    case Kind::List: return qrTypeTextList;
    case Kind::Rich: return qrTypeComposite;
  }
  return qrTypeInvalid;
}

// Rewrites an item of the same type in place, so its flags and its place in the document
// stay; false when the type differs and the item has to be replaced.
bool UpdateValue(TQuireItem& item, const Value& value) {
  if (item.ItemType != ItemTypeOf(value.kind)) return false;
  switch (value.kind) {
    case Kind::Text:
    case Kind::Rich: item.SetText(value.text); break;  // a rich-text item keeps its type
    case Kind::Number: item.SetAsNumber(value.number); break;
    case Kind::Date: item.SetAsDate(value.date); break;
    case Kind::List: WriteList(item, value, false); return true;
  }
  CheckItem(item, value.name);
  return true;
}

const TypeWord& TypeOfItem(const TQuireItem& item) {
  switch (item.ItemType) {
    case qrTypeNumber: return *FindType("number");
    case qrTypeDateTime: return *FindType("date");
    case qrTypeTextList: return *FindType("list");
    case qrTypeComposite: return *FindType("rich");
    default: return *FindType("text");
  }
}

void SaveDocument(TQuireDocument& document, const std::string& path) {
  document.Save();
  if (document.LastError == HTFAIL_SAVE_WARNING) return;
  Check(document.LastError, "cannot save the document in '" + path + "'");
}

// ---- opening documents -------------------------------------------------------------------

std::string NextUnid(Arguments& arguments) {
  const std::string text = Trim(arguments.Next("UNID"));
  const bool hex = std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
  if (text.size() != 32 || !hex) throw UsageError("malformed UNID '" + text + "' (32 hexadecimal digits)");
  return text;
}

std::unique_ptr<TQuireDocument> OpenDocument(TQuireDatabase& database, const std::string& unid,
                                             const std::string& path) {
  auto document = database.GetDocumentByUNID(unid);
  if (document) return document;
  // The object model keeps why a found document did not open in the discarded object; a
  // damaged document must not read as a missing one.
  const UNID binary = StrToUNID(unid);
  const HTID id = HTAPI.HTDocumentLocateByUnid(database.DbHandle, &binary);
  HTDOCHANDLE handle = 0;
  const uint32_t status = id != 0 ? HTAPI.HTDocumentOpen(database.DbHandle, id, 0, &handle) : 0;
  if (status == 0 && handle != 0) HTAPI.HTDocumentClose(handle, 0);
  if (status != 0) Check(status, "cannot open document " + unid + " in '" + path + "'");
  throw Failure("no document " + unid + " in '" + path + "'");
}

// The database and one of its documents, opened for one command.
struct OpenDoc {
  std::string path;
  std::string unid;
  std::unique_ptr<TQuireDatabase> database;
  std::unique_ptr<TQuireDocument> document;
};

OpenDoc Open(Context& context, const std::string& server, const std::string& path, const std::string& unid) {
  OpenDoc open{path, unid, OpenDatabase(context, server, path), nullptr};
  open.document = OpenDocument(*open.database, unid, path);
  return open;
}

// ---- printing ----------------------------------------------------------------------------

const char* TypeName(TQRItemType type) {
  switch (type) {
    case qrTypeNumber: return "number";
    case qrTypeText: return "text";
    case qrTypeDateTime: return "date-time";
    case qrTypeTextList: return "text list";
    case qrTypeNumberList: return "number list";
    case qrTypeDateTimeList: return "date-time list";
    case qrTypeComposite: return "rich text";
    case qrTypeFormula: return "formula";
    default: return "unknown";
  }
}

std::string FlagNames(const TQuireItem& item) {
  std::string text;
  const auto add = [&text](bool set, const char* name) {
    if (!set) return;
    if (!text.empty()) text += ' ';
    text += name;
  };
  add(item.IsSigned, "signed");
  add(item.IsEncrypted, "encrypted");
  add(item.IsAuthors, "authors");
  add(item.IsReaders, "readers");
  add(item.IsNames, "names");
  add(item.IsProtected, "protected");
  return text;
}

// Lines after the first are indented under the value column.
std::string Indented(const std::string& text, size_t indent) {
  std::string result;
  for (const char c : text) {
    result += c;
    if (c == '\n') result.append(indent, ' ');
  }
  return result;
}

std::string ItemValue(TQuireItem& item) {
  std::string text = item.GetText();
  if (item.LastError == HTFAIL_NO_KEY) return "(encrypted; no key to read it)";
  if (item.LastError != 0) return "(cannot read: " + DescribeError(item.LastError) + ")";
  return text;
}

std::string DocumentDate(TQuireDocument& document, HTINT property) {
  HTDATETIME value{};
  HTINT parts[HTDATETIME_PART_COUNT] = {};
  if (HTAPI.HTDocumentGetProperty(document.DocHandle, property, &value) != 0 ||
      HTAPI.HTDatetimeFetch(&value, parts) != 0) {
    return "-";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts[HTDTUNIT_YEAR], parts[HTDTUNIT_MONTH],
                parts[HTDTUNIT_DAY], std::max(parts[HTDTUNIT_HOUR], 0), parts[HTDTUNIT_MINUTE], parts[HTDTUNIT_SECOND]);
  return text;
}

std::string FormOf(TQuireDocument& document) {
  TQuireItem* form = document.GetItemByName("Form");
  return form ? form->GetText() : std::string();
}

void PrintDocument(Context& context, TQuireDocument& document) {
  auto& out = context.out;
  const auto row = [&out](const char* label) -> std::ostream& { return out << std::left << std::setw(10) << label; };
  row("UNID:") << document.GetUniversalID() << "\n";
  const std::string parent = document.GetParentUNID();
  if (!parent.empty()) row("Parent:") << parent << "\n";
  const std::string form = FormOf(document);
  row("Form:") << (form.empty() ? "-" : form) << "\n";
  row("Created:") << DocumentDate(document, HTDOCUMENT_CREATED) << "\n";
  row("Modified:") << DocumentDate(document, HTDOCUMENT_LAST_MODIFIED) << "\n";

  const int count = document.Items.Count();
  size_t nameWidth = 4;
  for (int index = 0; index < count; ++index) nameWidth = std::max(nameWidth, document.Items.Strings(index).size());
  out << "Items (" << count << "):\n";
  for (int index = 0; index < count; ++index) {
    TQuireItem& item = *document.GetItem(index);
    std::ostringstream head;
    head << "  " << std::left << std::setw(static_cast<int>(nameWidth)) << document.Items.Strings(index) << "  "
         << std::setw(14) << TypeName(item.ItemType) << "  ";
    const std::string flags = FlagNames(item);
    if (!flags.empty()) head << "[" << flags << "] ";
    const std::string prefix = head.str();
    out << prefix << Indented(ItemValue(item), prefix.size()) << "\n";
  }
  out << "Attachments (" << document.Attachments.Count() << "):\n";
  for (int index = 0; index < document.Attachments.Count(); ++index) {
    const TQuireAttachment& attachment = *document.GetAttach(index);
    out << "  " << attachment.Name << "  " << attachment.ListValue2 << " bytes\n";
  }
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// Subject or another item that names the document, on one line.
std::string TitleOf(TQuireDocument& document) {
  for (const char* name : {"Subject", "Title", "Name", "Topic"}) {
    if (TQuireItem* item = document.GetItemByName(name)) return OneLine(item->GetText());
  }
  for (int index = 0; index < document.Items.Count(); ++index) {
    TQuireItem& item = *document.GetItem(index);
    const std::string& name = document.Items.Strings(index);
    if (item.ItemType == qrTypeText && !name.empty() && name[0] != '$' && !EqualNoCase(name, "Form")) {
      return OneLine(item.GetText());
    }
  }
  return {};
}

// ---- export formats ----------------------------------------------------------------------

// The engine's spelling of a format the user named, checked against the list it offers; the
// default comes from the file's extension.
std::string ExportFormat(const std::string& requested, const std::string& file) {
  std::string wanted = requested;
  if (wanted.empty()) {
    const auto dot = file.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : file.substr(dot + 1);
    wanted = EqualNoCase(extension, "html") || EqualNoCase(extension, "htm") ? "HTML" : "TEXT";
  }
  std::vector<std::string> offered;
  // Wider than the engine's capacity, so no engine can write past them.
  char name[256] = {};
  char extensions[256] = {};
  for (HTINT mode = HTLIST_FIRST; HTAPI.HTCompositeListExport(mode, name, extensions) == 0; mode = HTLIST_NEXT) {
    offered.emplace_back(name, strnlen(name, sizeof name));
  }
  // An engine that lists nothing gets the name as given and answers for it itself.
  if (offered.empty()) return wanted;
  std::string known;
  for (const auto& format : offered) {
    if (EqualNoCase(format, wanted.c_str())) return format;
    known += (known.empty() ? "" : ", ") + format;
  }
  throw UsageError("unknown export format '" + wanted + "' (" + known + ")");
}

// ---- commands ----------------------------------------------------------------------------

int Create(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool hasForm = arguments.HasOption("--form");
  std::string form = arguments.TakeOption("--form");
  const std::string json = arguments.TakeOption("--json");
  const std::string path = arguments.Next("PATH");
  std::vector<Value> values;
  if (!json.empty()) {
    if (hasForm || !arguments.Empty()) throw UsageError("--json takes neither --form nor NAME=VALUE");
    JsonDocument document = ReadJsonDocument(json);
    form = document.form;
    values = std::move(document.values);
  } else {
    for (const auto& assignment : ParseAssignments(arguments)) {
      values.push_back(ReadValue(assignment.name, RequireType(assignment.type.empty() ? "text" : assignment.type,
                                                              assignment.name),
                                 assignment.value));
    }
  }
  arguments.ExpectEnd();

  auto database = OpenDatabase(context, server, path);
  auto document = database->CreateDocument(form);
  if (!document) throw Failure("cannot create a document in '" + path + "'");
  // A form the database does not have still names the document's form.
  if (!form.empty() && !document->GetItemByName("Form")) {
    AppendValue(*document, Value{"Form", Kind::Text, 0, form, 0.0, 0.0, {}});
  }
  for (const Value& value : values) AppendValue(*document, value);
  SaveDocument(*document, path);
  context.out << document->GetUniversalID() << "\n";
  return kExitOk;
}

int Show(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  const std::string unid = NextUnid(arguments);
  arguments.ExpectEnd();
  OpenDoc open = Open(context, server, path, unid);
  if (json) {
    context.out << DocumentToJson(open.document->DocHandle, false).dump(2) << "\n";
  } else {
    PrintDocument(context, *open.document);
  }
  return kExitOk;
}

int List(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  auto collection = database->AllDocuments();
  if (!collection) throw Failure("cannot list the documents of '" + path + "'");
  struct Row {
    std::string unid, form, title;
  };
  std::vector<Row> rows;
  size_t formWidth = 1;
  const int count = collection->GetCount();
  for (int index = 0; index < count; ++index) {
    auto document = index == 0 ? collection->GetFirstDocument() : collection->GetNextDocument();
    if (!document) {
      Check(collection->LastError ? collection->LastError : HTFAIL_NOTE_NOT_FOUND,
            "cannot read document " + std::to_string(index + 1) + " of '" + path + "'");
    }
    std::string form = FormOf(*document);
    if (form.empty()) form = "-";
    formWidth = std::max(formWidth, form.size());
    rows.push_back({document->GetUniversalID(), form, TitleOf(*document)});
  }
  if (json) {
    Json list = Json::array();
    for (const Row& row : rows) list.push_back(Json{{"unid", row.unid}, {"form", row.form == "-" ? "" : row.form}, {"title", row.title}});
    context.out << list.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    return kExitOk;
  }
  for (const Row& row : rows) {
    context.out << row.unid << "  " << std::left << std::setw(static_cast<int>(formWidth)) << row.form << "  "
                << row.title << "\n";
  }
  return kExitOk;
}

int Set(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  std::vector<std::string> removals;
  while (arguments.HasOption("--remove")) removals.push_back(arguments.TakeOption("--remove"));
  const std::string path = arguments.Next("PATH");
  const std::string unid = NextUnid(arguments);
  const std::vector<Assignment> assignments = ParseAssignments(arguments);
  arguments.ExpectEnd();
  if (assignments.empty() && removals.empty()) throw UsageError("nothing to change: give NAME=VALUE or --remove NAME");

  OpenDoc open = Open(context, server, path, unid);
  TQuireDocument& document = *open.document;
  for (const std::string& name : removals) {
    Check(HTAPI.HTItemDelete(document.DocHandle, name.c_str()), "cannot remove item '" + name + "'");
  }
  for (const Assignment& assignment : assignments) {
    TQuireItem* existing = document.GetItemByName(assignment.name);
    // An item removed above is gone from the document, though still in the snapshot.
    const bool present = existing && std::find_if(removals.begin(), removals.end(), [&](const std::string& name) {
                                        return strcasecmp(name.c_str(), assignment.name.c_str()) == 0;
                                      }) == removals.end();
    const TypeWord& type = !assignment.type.empty() ? RequireType(assignment.type, assignment.name)
                           : present               ? TypeOfItem(*existing)
                                                   : *FindType("text");
    const Value value = ReadValue(assignment.name, type, assignment.value);
    if (present && assignment.type.empty() && existing->ItemType != ItemTypeOf(value.kind)) {
      // A type this tool does not write (a number list, ...): the engine converts the text.
      existing->SetText(assignment.value);
      CheckItem(*existing, assignment.name);
    } else if (!present || !UpdateValue(*existing, value)) {
      AppendValue(document, value);
    }
  }
  SaveDocument(document, path);
  context.out << "updated " << document.GetUniversalID() << "\n";
  return kExitOk;
}

int Delete(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string unid = NextUnid(arguments);
  arguments.ExpectEnd();
  OpenDoc open = Open(context, server, path, unid);
  if (!open.database->DeleteDocument(open.document.get())) {
    Check(open.database->LastError, "cannot delete document " + unid);
  }
  context.out << "deleted " << unid << "\n";
  return kExitOk;
}

int Attach(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string unid = NextUnid(arguments);
  std::vector<std::string> files{arguments.Next("FILE")};
  while (!arguments.Empty()) files.push_back(arguments.Next("FILE"));
  OpenDoc open = Open(context, server, path, unid);
  // Nothing is saved unless every file could be attached.
  for (const std::string& file : files) {
    open.document->AttachFile(file);
    Check(open.document->LastError, "cannot attach '" + file + "'");
  }
  SaveDocument(*open.document, path);
  for (const std::string& file : files) context.out << "attached " << file << "\n";
  return kExitOk;
}

int Extract(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string unid = NextUnid(arguments);
  const std::string name = arguments.Next("ATTACHMENT");
  const std::string target = arguments.Next("TARGET");
  arguments.ExpectEnd();
  OpenDoc open = Open(context, server, path, unid);
  TQuireAttachment* attachment = open.document->GetAttachment(name);
  if (!attachment) throw Failure("document " + unid + " has no attachment '" + name + "'");
  attachment->ExtractFile(target);
  Check(attachment->LastError, "cannot extract '" + name + "' to '" + target + "'");
  context.out << "extracted " << attachment->Name << " to " << target << "\n";
  return kExitOk;
}

int ExportItem(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string requested = arguments.TakeOption("--format");
  const std::string path = arguments.Next("PATH");
  const std::string unid = NextUnid(arguments);
  const std::string name = arguments.Next("ITEM");
  const std::string file = arguments.Next("FILE");
  arguments.ExpectEnd();
  const std::string format = ExportFormat(requested, file);
  OpenDoc open = Open(context, server, path, unid);
  TQuireItem* item = open.document->GetItemByName(name);
  if (!item) throw Failure("document " + unid + " has no item '" + name + "'");
  auto* rich = dynamic_cast<TQuireRTItem*>(item);
  if (!rich) throw Failure("item '" + name + "' is " + TypeName(item->ItemType) + ", not rich text");
  if (!rich->FileExport(file, format)) Check(rich->RTLastError, "cannot export '" + name + "' to '" + file + "'");
  context.out << "exported " << name << " to " << file << "\n";
  return kExitOk;
}

int ExportDocument(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string requested = arguments.TakeOption("--format");
  const std::string path = arguments.Next("PATH");
  const std::string unid = NextUnid(arguments);
  const std::string file = arguments.Next("FILE");
  arguments.ExpectEnd();
  const std::string format = ExportFormat(requested, file);
  OpenDoc open = Open(context, server, path, unid);
  if (!open.document->ExportDocument(file, format)) {
    Check(open.document->LastError, "cannot export document " + unid + " to '" + file + "'");
  }
  context.out << "exported " << unid << " to " << file << "\n";
  return kExitOk;
}

// "doc export PATH [FILE]" exports every document; the older "doc export PATH UNID ITEM FILE"
// (four words) still exports one rich-text item.
int Export(Context& context, Arguments& arguments) {
  size_t words = 0;
  for (Arguments probe = arguments; !probe.Empty(); ++words) {
    if (probe.Peek().rfind("--", 0) == 0) break;
    probe.Next("word");
  }
  return words >= 4 ? ExportItem(context, arguments) : ExportDocuments(context, arguments);
}

int Run(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments,
                  {{"create", Create},
                   {"show", Show},
                   {"list", List},
                   {"set", Set},
                   {"delete", Delete},
                   {"attach", Attach},
                   {"extract", Extract},
                   {"export", Export},
                   {"import", ImportDocuments},
                   {"export-item", ExportItem},
                   {"export-doc", ExportDocument}});
}

}  // namespace

QUIRE_COMMAND_GROUP(doc, "doc", "create, show, list, change, delete, import and export documents; attachments", kUsage, Run);

}  // namespace quirecli
