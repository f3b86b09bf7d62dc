#include "tools/quire/DocTransfer.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <utility>
#include <vector>

#include "binding/Quire01.h"

namespace quirecli {

namespace {

using Bytes = std::vector<uint8_t>;

// ---- encodings -----------------------------------------------------------------------------

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const Bytes& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t n = uint32_t(bytes[i]) << 16 | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0) |
                       (i + 2 < bytes.size() ? uint32_t(bytes[i + 2]) : 0);
    out += kBase64[n >> 18 & 63];
    out += kBase64[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kBase64[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kBase64[n & 63] : '=';
  }
  return out;
}

bool FromBase64(const std::string& text, Bytes& out) {
  out.clear();
  uint32_t buffer = 0;
  int bits = 0;
  size_t padding = 0;
  for (const char c : text) {
    if (c == '=') {
      ++padding;
      continue;
    }
    const char* at = std::strchr(kBase64, c);
    if (c == '\0' || !at || padding) return false;
    buffer = buffer << 6 | uint32_t(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(uint8_t(buffer >> bits));
    }
  }
  return padding <= 2 && (text.size() % 4) == 0;
}

std::string Hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string RawDate(const HTDATETIME& value) { return Hex(value.hi) + Hex(value.lo); }

bool FromRawDate(const std::string& text, HTDATETIME& value) {
  if (text.size() != 16) return false;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  value.hi = uint32_t(std::stoul(text.substr(0, 8), nullptr, 16));
  value.lo = uint32_t(std::stoul(text.substr(8), nullptr, 16));
  return true;
}

// The readable form of a date-time: ISO 8601 with hundredths where it has them; a date alone
// or a time alone when it has only that.
std::string ReadableDate(const HTDATETIME& value) {
  HTDATETIME copy = value;
  HTINT p[HTDATETIME_PART_COUNT] = {};
  if (HTAPI.HTDatetimeFetch(&copy, p) != 0) return {};
  char text[64] = {};
  const bool date = p[HTDTUNIT_YEAR] > 0;
  const bool time = p[HTDTUNIT_HOUR] >= 0;
  if (date && time) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%02d", p[HTDTUNIT_YEAR], p[HTDTUNIT_MONTH],
                  p[HTDTUNIT_DAY], p[HTDTUNIT_HOUR], p[HTDTUNIT_MINUTE], p[HTDTUNIT_SECOND], p[HTDTUNIT_HUNDREDTH] / 10);
  } else if (date) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", p[HTDTUNIT_YEAR], p[HTDTUNIT_MONTH], p[HTDTUNIT_DAY]);
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", p[HTDTUNIT_HOUR], p[HTDTUNIT_MINUTE], p[HTDTUNIT_SECOND]);
  }
  return text;
}

// "YYYY-MM-DD[THH:MM[:SS]]" for a date given without its raw form.
bool ParseReadableDate(const std::string& text, HTDATETIME& value) {
  HTINT p[HTDATETIME_PART_COUNT] = {};
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &p[HTDTUNIT_YEAR], &p[HTDTUNIT_MONTH], &p[HTDTUNIT_DAY], &used) != 3) {
    return false;
  }
  p[HTDTUNIT_HOUR] = -1;
  if (size_t(used) < text.size()) {
    int timeUsed = 0;
    if (std::sscanf(text.c_str() + used, "T%2d:%2d%n:%2d%n", &p[HTDTUNIT_HOUR], &p[HTDTUNIT_MINUTE], &timeUsed,
                    &p[HTDTUNIT_SECOND], &timeUsed) < 2) {
      return false;
    }
  }
  return HTAPI.HTDatetimeCreate(p, 1, &value) == 0;
}

bool ValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// ---- the stored forms of lists (the API's own-form data) ----------------------------------

uint32_t U32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void PutU32(Bytes& b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(uint8_t(v >> (8 * k)));
}

void PutU64(Bytes& b, uint64_t v) {
  for (int k = 0; k < 8; ++k) b.push_back(uint8_t(v >> (8 * k)));
}

struct ListReader {
  const Bytes& bytes;
  size_t at = 4;
  bool Has(size_t n) const { return at + n <= bytes.size(); }
};

// ---- reading a document ---------------------------------------------------------------------

Bytes OwnForm(HTDOCHANDLE document, const std::string& name, HTINT want, const std::string& where) {
  HTUINT length = 0;
  HTINT wanted = want;
  Check(HTAPI.HTItemGetLength(document, name.c_str(), nullptr, &wanted, &length), where + ": cannot read item '" + name + "'");
  Bytes buffer(size_t(length) + 1);
  HTUINT room = HTUINT(buffer.size());
  HTINT type = 0;
  wanted = want;
  Check(HTAPI.HTItemFetch(document, name.c_str(), &type, &room, &wanted, buffer.data()),
        where + ": cannot read item '" + name + "'");
  buffer.resize(std::min<size_t>(room, length));
  return buffer;
}

std::string TextOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Utf8Text(std::string text, const std::string& name, const std::string& where) {
  if (!ValidUtf8(text)) throw Failure(where + ": item '" + name + "' holds text that is not UTF-8; JSON cannot carry it");
  return text;
}

Json ItemJson(HTDOCHANDLE document, const std::string& name, HTINT type, HTUINT flags, const std::string& where) {
  Json item{{"name", name}};
  // An ordered object is a vector whose growth copies its members (their keys are const):
  // room for all of them up front keeps a long list from being copied.
  item.get_ref<Json::object_t&>().reserve(5);
  switch (type) {
    case HTTYPE_TEXT:
    case HTTYPE_FORMULA:
      item["type"] = type == HTTYPE_TEXT ? "text" : "formula";
      item["value"] = Utf8Text(TextOf(OwnForm(document, name, HTTYPE_TEXT, where)), name, where);
      break;
    case HTTYPE_NUMBER: {
      double number = 0;
      HTUINT room = sizeof number;
      HTINT itemType = 0, wanted = HTTYPE_NUMBER;
      Check(HTAPI.HTItemFetch(document, name.c_str(), &itemType, &room, &wanted, &number),
            where + ": cannot read item '" + name + "'");
      item["type"] = "number";
      item["value"] = number;
      break;
    }
    case HTTYPE_DATETIME: {
      HTDATETIME value{};
      HTUINT room = sizeof value;
      HTINT itemType = 0, wanted = HTTYPE_DATETIME;
      Check(HTAPI.HTItemFetch(document, name.c_str(), &itemType, &room, &wanted, &value),
            where + ": cannot read item '" + name + "'");
      item["type"] = "date";
      item["value"] = ReadableDate(value);
      item["raw"] = RawDate(value);
      break;
    }
    case HTTYPE_TEXT_LIST: {
      const Bytes bytes = OwnForm(document, name, 0, where);
      Json entries = Json::array();
      ListReader in{bytes};
      const uint32_t count = bytes.size() >= 4 ? U32(bytes, 0) : 0;
      for (uint32_t k = 0; k < count && in.Has(4); ++k) {
        const uint32_t length = U32(bytes, in.at);
        in.at += 4;
        if (!in.Has(size_t(length) + 1)) throw Failure(where + ": item '" + name + "' is damaged");
        entries.push_back(Utf8Text(std::string(bytes.begin() + long(in.at), bytes.begin() + long(in.at + length)), name, where));
        in.at += size_t(length) + 1;
      }
      item["type"] = "list";
      item["value"] = std::move(entries);
      break;
    }
    case HTTYPE_NUMBER_LIST: {
      const Bytes bytes = OwnForm(document, name, 0, where);
      Json values = Json::array();
      const uint32_t count = bytes.size() >= 4 ? U32(bytes, 0) : 0;
      for (size_t k = 0, at = 4; k < count && at + 8 <= bytes.size(); ++k, at += 8) {
        const uint64_t bits = uint64_t(U32(bytes, at)) | uint64_t(U32(bytes, at + 4)) << 32;
        double number = 0;
        std::memcpy(&number, &bits, sizeof number);
        values.push_back(number);
      }
      item["type"] = "numbers";
      item["value"] = std::move(values);
      break;
    }
    case HTTYPE_DATETIME_LIST: {
      const Bytes bytes = OwnForm(document, name, 0, where);
      Json values = Json::array(), raw = Json::array();
      const uint32_t count = bytes.size() >= 4 ? U32(bytes, 0) : 0;
      for (size_t k = 0, at = 4; k < count && at + 8 <= bytes.size(); ++k, at += 8) {
        const HTDATETIME value{U32(bytes, at), U32(bytes, at + 4)};
        values.push_back(ReadableDate(value));
        raw.push_back(RawDate(value));
      }
      item["type"] = "dates";
      item["value"] = std::move(values);
      item["raw"] = std::move(raw);
      break;
    }
    case HTTYPE_COMPOSITE:
      item["type"] = "rich";
      item["value"] = Utf8Text(TextOf(OwnForm(document, name, HTTYPE_TEXT, where)), name, where);
      item["data"] = Base64(OwnForm(document, name, 0, where));
      break;
    default:
      throw Failure(where + ": item '" + name + "' has the type " + std::to_string(type) + ", which JSON export does not know");
  }
  if (flags != 0) item["flags"] = flags;
  return item;
}

// A private directory for attachment bytes on their way between files and documents.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quire-transfer-XXXXXX";
    if (!mkdtemp(pattern.data())) throw Failure("cannot make a temporary directory in " + pattern);
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File() { return path_ + "/attachment" + std::to_string(++serial_); }

 private:
  std::string path_;
  int serial_ = 0;
};

Bytes ReadBytes(const std::string& file) {
  std::ifstream stream(file, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

std::string UnidOf(HTDOCHANDLE document, HTINT property) {
  UNID unid{};
  if (HTAPI.HTDocumentGetProperty(document, property, &unid) != 0) return {};
  return UNIDToStr(unid);
}

// ---- writing a document -----------------------------------------------------------------------

std::string Where(size_t line) { return "line " + std::to_string(line); }

const Json& Member(const Json& object, const char* key, const std::string& where) {
  if (!object.contains(key)) throw Failure(where + ": \"" + key + "\" is missing");
  return object[key];
}

// Names and texts travel to the engine zero-terminated: a "\u0000" inside would cut them short
// without a word, so the line is refused.
const std::string& NoNul(const std::string& text, const std::string& where) {
  if (text.find('\0') != std::string::npos) throw Failure(where + " holds a NUL character (\\u0000)");
  return text;
}

std::string TextMember(const Json& object, const char* key, const std::string& where) {
  const Json& value = Member(object, key, where);
  if (!value.is_string()) throw Failure(where + ": \"" + key + "\" must be a text");
  return NoNul(value.get<std::string>(), where + ": \"" + key + "\"");
}

void Put(HTDOCHANDLE document, const std::string& name, HTINT type, const void* value, size_t length, HTUINT flags,
         const std::string& where) {
  Check(HTAPI.HTItemPut(document, name.c_str(), type, HTUINT(length), type, value, flags),
        where + ": cannot write item '" + name + "'");
}

HTDATETIME DateOf(const Json& value, const Json* raw, const std::string& name, const std::string& where) {
  HTDATETIME date{};
  if (raw && raw->is_string() && FromRawDate(raw->get<std::string>(), date)) return date;
  if (value.is_string() && ParseReadableDate(value.get<std::string>(), date)) return date;
  throw Failure(where + ": item '" + name + "' holds no date (\"raw\" or YYYY-MM-DD[THH:MM[:SS]])");
}

void PutItem(HTDOCHANDLE document, const Json& item, const std::string& where) {
  if (!item.is_object()) throw Failure(where + ": an item must be an object");
  const std::string name = TextMember(item, "name", where);
  if (name.empty()) throw Failure(where + ": an item name is empty");
  const std::string type = TextMember(item, "type", where);
  const Json& value = Member(item, "value", where);
  const HTUINT flags = item.contains("flags") && item["flags"].is_number_unsigned() ? item["flags"].get<HTUINT>() : 0;
  const std::string at = where + ", item '" + name + "'";
  const auto expect = [&](bool ok, const char* what) {
    if (!ok) throw Failure(at + ": \"value\" must be " + what);
  };
  if (type == "text" || type == "formula") {
    expect(value.is_string(), "a text");
    const std::string& text = NoNul(value.get_ref<const std::string&>(), at);
    Put(document, name, type == "text" ? HTTYPE_TEXT : HTTYPE_FORMULA, text.c_str(), 0, flags, where);
  } else if (type == "number") {
    expect(value.is_number(), "a number");
    const double number = value.get<double>();
    Put(document, name, HTTYPE_NUMBER, &number, sizeof number, flags, where);
  } else if (type == "date") {
    const HTDATETIME date = DateOf(value, item.contains("raw") ? &item["raw"] : nullptr, name, where);
    Put(document, name, HTTYPE_DATETIME, &date, sizeof date, flags, where);
  } else if (type == "list") {
    expect(value.is_array(), "a list of texts");
    Bytes bytes;
    PutU32(bytes, uint32_t(value.size()));
    for (const Json& entry : value) {
      expect(entry.is_string(), "a list of texts");
      const std::string& text = entry.get_ref<const std::string&>();
      PutU32(bytes, uint32_t(text.size()));
      bytes.insert(bytes.end(), text.begin(), text.end());
      bytes.push_back(0);
    }
    Put(document, name, HTTYPE_TEXT_LIST, bytes.data(), bytes.size(), flags, where);
  } else if (type == "numbers") {
    expect(value.is_array(), "a list of numbers");
    Bytes bytes;
    PutU32(bytes, uint32_t(value.size()));
    for (const Json& entry : value) {
      expect(entry.is_number(), "a list of numbers");
      const double number = entry.get<double>();
      uint64_t bits = 0;
      std::memcpy(&bits, &number, sizeof bits);
      PutU64(bytes, bits);
    }
    Put(document, name, HTTYPE_NUMBER_LIST, bytes.data(), bytes.size(), flags, where);
  } else if (type == "dates") {
    expect(value.is_array(), "a list of dates");
    const Json* raw = item.contains("raw") && item["raw"].is_array() && item["raw"].size() == value.size() ? &item["raw"]
                                                                                                            : nullptr;
    Bytes bytes;
    PutU32(bytes, uint32_t(value.size()));
    for (size_t k = 0; k < value.size(); ++k) {
      const HTDATETIME date = DateOf(value[k], raw ? &(*raw)[k] : nullptr, name, where);
      PutU32(bytes, date.lo);
      PutU32(bytes, date.hi);
    }
    Put(document, name, HTTYPE_DATETIME_LIST, bytes.data(), bytes.size(), flags, where);
  } else if (type == "rich") {
    Bytes data;
    if (item.contains("data")) {
      if (!item["data"].is_string() || !FromBase64(item["data"].get<std::string>(), data) || data.empty()) {
        throw Failure(at + ": \"data\" is not base64");
      }
      Put(document, name, HTTYPE_COMPOSITE, data.data(), data.size(), flags, where);
    } else {
      expect(value.is_string(), "a text");
      // Plain text becomes rich text of one paragraph per line.
      const std::string& text = NoNul(value.get_ref<const std::string&>(), at);
      Check(HTAPI.HTItemPut(document, name.c_str(), HTTYPE_COMPOSITE, 0, HTTYPE_TEXT, text.c_str(), flags),
            where + ": cannot write item '" + name + "'");
    }
  } else {
    throw Failure(at + ": unknown type '" + type + "' (text, number, date, list, numbers, dates, rich, formula)");
  }
}

void AttachJson(HTDOCHANDLE document, const Json& attachment, ScratchDirectory& scratch, const std::string& where) {
  if (!attachment.is_object()) throw Failure(where + ": an attachment must be an object");
  const std::string name = TextMember(attachment, "name", where);
  Bytes bytes;
  if (!FromBase64(TextMember(attachment, "data", where), bytes)) {
    throw Failure(where + ": the data of attachment '" + name + "' is not base64");
  }
  const std::string file = scratch.File();
  {
    std::ofstream stream(file, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!stream) throw Failure("cannot write " + file);
  }
  Check(HTAPI.HTAttachmentAttach(document, file.c_str(), name.c_str(), 0, 0),
        where + ": cannot attach '" + name + "'");
  std::remove(file.c_str());
}

class Document {
 public:
  ~Document() {
    if (handle_) HTAPI.HTDocumentClose(handle_, 0);
  }
  HTDOCHANDLE* out() { return &handle_; }
  HTDOCHANDLE get() const { return handle_; }

 private:
  HTDOCHANDLE handle_ = 0;
};

class Database {
 public:
  Database(const std::string& server, const std::string& path) {
    Check(HTAPI.HTDatabaseOpen(server.c_str(), ApiPath(path).c_str(), 0, &handle_), "cannot open database '" + path + "'");
  }
  ~Database() {
    if (handle_) HTAPI.HTDatabaseClose(handle_, 0);
  }
  // Closing commits what delayed commit held back; its failure is the command's.
  void Close(const std::string& path) {
    const HTSTATUS status = HTAPI.HTDatabaseClose(handle_, 0);
    handle_ = 0;
    Check(status, "cannot finish writing '" + path + "'");
  }
  HTDBHANDLE get() const { return handle_; }

 private:
  HTDBHANDLE handle_ = 0;
};

void ImportLine(HTDBHANDLE database, const Json& line, bool keepUnids, ScratchDirectory& scratch,
                const std::string& where) {
  if (!line.is_object()) throw Failure(where + ": expected a document object");
  Document document;
  Check(HTAPI.HTDocumentCreate(database, 0, document.out()), where + ": cannot create a document");
  if (keepUnids && line.contains("unid")) {
    const std::string text = TextMember(line, "unid", where);
    UNID unid{};
    try {
      unid = StrToUNID(text);
    } catch (const std::exception&) {
      throw Failure(where + ": '" + text + "' is not a UNID");
    }
    Check(HTAPI.HTDocumentSetProperty(document.get(), HTDOCUMENT_UNID, &unid), where + ": cannot keep UNID " + text);
  }
  if (line.contains("parent")) {
    const std::string text = TextMember(line, "parent", where);
    UNID parent{};
    try {
      parent = StrToUNID(text);
    } catch (const std::exception&) {
      throw Failure(where + ": '" + text + "' is not a UNID");
    }
    Check(HTAPI.HTDocumentSetProperty(document.get(), HTDOCUMENT_PARENT_UNID, &parent), where + ": cannot set the parent");
  }
  if (line.contains("items")) {
    if (!line["items"].is_array()) throw Failure(where + ": \"items\" must be a list");
    for (const Json& item : line["items"]) PutItem(document.get(), item, where);
  }
  if (line.contains("attachments")) {
    if (!line["attachments"].is_array()) throw Failure(where + ": \"attachments\" must be a list");
    for (const Json& attachment : line["attachments"]) AttachJson(document.get(), attachment, scratch, where);
  }
  const HTSTATUS saved = HTAPI.HTDocumentSave(document.get(), 0);
  if (saved != HTFAIL_SAVE_WARNING) Check(saved, where + ": cannot save the document");
}

uint64_t CountLines(const std::string& file) {
  std::ifstream stream(file, std::ios::binary);
  uint64_t lines = 0;
  char buffer[1 << 16];
  while (stream.read(buffer, sizeof buffer) || stream.gcount() > 0) {
    for (std::streamsize i = 0; i < stream.gcount(); ++i) lines += buffer[i] == '\n';
  }
  return lines;
}

}  // namespace

Json DocumentToJson(HTDOCHANDLE document, bool withAttachments) {
  const std::string unid = UnidOf(document, HTDOCUMENT_UNID);
  const std::string where = "document " + unid;
  Json json{{"unid", unid}};
  json.get_ref<Json::object_t&>().reserve(6);  // as in ItemJson: no copies of the items as it grows
  HTUINT response = 0;
  if (HTAPI.HTDocumentGetProperty(document, HTDOCUMENT_IS_RESPONSE, &response) == 0 && response) {
    json["parent"] = UnidOf(document, HTDOCUMENT_PARENT_UNID);
  }
  for (const auto& [key, property] : {std::pair{"created", HTDOCUMENT_CREATED}, {"modified", HTDOCUMENT_LAST_MODIFIED}}) {
    HTDATETIME value{};
    if (HTAPI.HTDocumentGetProperty(document, property, &value) == 0) json[key] = IsoDateTime(value);
  }
  // The names first: reading an item must not disturb the listing.
  std::vector<std::string> names;
  std::set<std::string> seen;
  HTITEMLISTREC record{};
  for (HTINT mode = HTLIST_FIRST; HTAPI.HTItemList(document, mode, 0, &record) == 0; mode = HTLIST_NEXT) {
    std::string name(record.name, strnlen(record.name, sizeof record.name));
    if (seen.insert(name).second) names.push_back(name);
  }
  Json items = Json::array();
  for (const std::string& name : names) {
    HTINT type = 0;
    HTUINT flags = 0, length = 0;
    Check(HTAPI.HTItemGetInfo(document, name.c_str(), &type, &flags, &length), where + ": cannot read item '" + name + "'");
    items.push_back(ItemJson(document, name, type & 0xFF, flags, where));
  }
  json["items"] = std::move(items);
  Json attachments = Json::array();
  std::vector<std::pair<std::string, uint32_t>> files;
  HTATTACHREC attachment{};
  for (HTINT mode = HTLIST_FIRST; HTAPI.HTAttachmentList(document, mode, &attachment) == 0; mode = HTLIST_NEXT) {
    files.emplace_back(std::string(attachment.name, strnlen(attachment.name, sizeof attachment.name)), attachment.size);
  }
  std::unique_ptr<ScratchDirectory> scratch;
  for (const auto& [name, size] : files) {
    Json entry{{"name", name}, {"size", size}};
    if (withAttachments) {
      if (!scratch) scratch = std::make_unique<ScratchDirectory>();
      const std::string file = scratch->File();
      Check(HTAPI.HTAttachmentExtract(document, name.c_str(), file.c_str()), where + ": cannot read attachment '" + name + "'");
      entry["data"] = Base64(ReadBytes(file));
      std::remove(file.c_str());
    }
    attachments.push_back(std::move(entry));
  }
  json["attachments"] = std::move(attachments);
  return json;
}

int ExportDocuments(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string file = arguments.NextOr("-");
  arguments.ExpectEnd();
  Database database(server, path);
  HTINDEXHANDLE index = 0;
  Check(HTAPI.HTIndexOpen(database.get(), &index), "cannot list the documents of '" + path + "'");
  struct Closer {
    HTINDEXHANDLE index;
    ~Closer() { HTAPI.HTIndexClose(index); }
  } closer{index};
  HTUINT matched = 0;
  Check(HTAPI.HTIndexSearch(index, "", 0, &matched), "cannot list the documents of '" + path + "'");

  std::ofstream stream;
  const std::string temporary = file + ".part";
  if (file != "-") {
    stream.open(temporary, std::ios::binary | std::ios::trunc);
    if (!stream) throw Failure("cannot write '" + temporary + "'");
  }
  std::ostream& out = file == "-" ? context.out : stream;
  ProgressLine progress;
  uint64_t count = 0;
  HTID note = 0;
  HTUINT entry = 0;
  try {
    while (HTAPI.HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &entry) == 0) {
      if (note & 0x80000000u) continue;
      Document document;
      Check(HTAPI.HTDocumentOpen(database.get(), note, 0, document.out()), "cannot open document " + std::to_string(note));
      out << DocumentToJson(document.get(), true).dump() << "\n";
      progress.Report("export", ++count, matched);
    }
    out.flush();
    if (!out) throw Failure("cannot write '" + (file == "-" ? std::string("standard output") : temporary) + "'");
  } catch (...) {
    if (file != "-") std::remove(temporary.c_str());
    throw;
  }
  if (file != "-") {
    stream.close();
    if (std::rename(temporary.c_str(), file.c_str()) != 0) throw Failure("cannot write '" + file + "'");
  }
  std::cerr << "exported " << count << (count == 1 ? " document\n" : " documents\n");
  return kExitOk;
}

int ImportDocuments(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool newUnids = arguments.TakeFlag("--new-unids");
  const std::string path = arguments.Next("PATH");
  const std::string file = arguments.NextOr("-");
  arguments.ExpectEnd();
  std::ifstream stream;
  if (file != "-") {
    stream.open(file, std::ios::binary);
    if (!stream) throw Failure("cannot read '" + file + "'");
  }
  std::istream& in = file == "-" ? std::cin : stream;
  const uint64_t total = file == "-" ? 0 : CountLines(file);

  Database database(server, path);
  // Grouped commits: a batch is durable at the latest when the database closes below.
  const HTUINT on = 1;
  HTAPI.HTDatabaseSetProperty(database.get(), HTDATABASE_DELAY_COMMIT, &on);
  ScratchDirectory scratch;
  ProgressLine progress;
  uint64_t imported = 0;
  size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Json json;
    try {
      json = Json::parse(line);
    } catch (const Json::exception& error) {
      throw Failure(file + ": " + Where(number) + " is not JSON: " + error.what() + " (" + std::to_string(imported) +
                    " documents were imported before it)");
    }
    try {
      ImportLine(database.get(), json, !newUnids, scratch, Where(number));
    } catch (const Failure& error) {
      throw Failure(file + ": " + error.what() + " (" + std::to_string(imported) + " documents were imported before it)");
    }
    progress.Report("import", ++imported, total);
  }
  database.Close(path);
  context.out << "imported " << imported << (imported == 1 ? " document" : " documents") << " into " << path << "\n";
  return kExitOk;
}

}  // namespace quirecli
