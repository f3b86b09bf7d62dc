// A recording stand-in for the document, item and date-time entry points of HTAPI, for the
// unit tests whose point is which calls the document layer makes (or does not make), and
// for failures the real engine cannot be made to produce.
//
// Constructing a DocApiDouble saves HTAPI and replaces the slots the document layer uses;
// the destructor puts the saved table back. Every replaced call appends one line such as
// "HTItemPut(Body,4,0,2,a,1)" to Log (handles are left out, except where a test needs
// them). Documents hold items (name, type, flags, text, list entries) and attachments, so
// the listing calls have something to list. Fail["HTItemPut"] = code makes that call fail.
// Only one double may exist at a time.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "binding/Quire01.h"

namespace docdouble {

struct FakeItem {
  FakeItem(std::string name, HTINT type = HTTYPE_TEXT, HTUINT flags = 0, std::string text = {},
           std::vector<std::string> entries = {})
      : name(std::move(name)), type(type), flags(flags), text(std::move(text)), entries(std::move(entries)) {}
  std::string name;
  HTINT type;
  HTUINT flags;
  std::string text;
  std::vector<std::string> entries;
};

struct FakeDoc {
  std::vector<FakeItem> items;
  std::vector<std::string> attachments;
  size_t itemCursor = 0;
  size_t attachCursor = 0;
};

class DocApiDouble {
 public:
  DocApiDouble();
  ~DocApiDouble();
  DocApiDouble(const DocApiDouble&) = delete;
  DocApiDouble& operator=(const DocApiDouble&) = delete;

  static DocApiDouble& Current() { return *current_; }

  // Lines of Log that start with `call`.
  std::vector<std::string> Calls(const std::string& call) const {
    std::vector<std::string> out;
    for (const std::string& line : Log) {
      if (line.compare(0, call.size() + 1, call + "(") == 0) out.push_back(line);
    }
    return out;
  }
  HTSTATUS Failure(const char* call) const {
    auto it = Fail.find(call);
    return it == Fail.end() ? 0 : it->second;
  }
  FakeItem* Find(HTDOCHANDLE doc, const std::string& name);

  template <class... Args>
  void Record(const char* call, const Args&... args) {
    std::ostringstream line;
    line << call << '(';
    [[maybe_unused]] const char* separator = "";
    ((line << separator << args, separator = ","), ...);
    line << ')';
    Log.push_back(line.str());
  }

  static constexpr HTDOCHANDLE kDoc = 7;      // handle of the document under test
  static constexpr HTDOCHANDLE kFormDoc = 8;  // handle HTDocumentOpen gives for a form ID
  std::vector<std::string> Log;
  std::map<std::string, HTSTATUS> Fail;
  std::map<HTDOCHANDLE, FakeDoc> Docs;
  std::map<std::string, HTID> Forms;
  std::map<HTINT, UNID> Unids;  // document property -> value
  HTID NewDocID = 0;            // what HTDOCUMENT_DOCID answers
  HTCOMPHANDLE NextComposite = 100;
  std::vector<std::vector<HTINT>> Datetimes;  // HTDATETIME.lo indexes this

 private:
  static inline DocApiDouble* current_ = nullptr;
  THTAPITable saved_;
};

namespace detail {

inline DocApiDouble& D() { return DocApiDouble::Current(); }

inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// The value of an HTItemPut as the log shows it.
inline std::string PutValue(HTINT valueType, const void* value) {
  if (value == nullptr) return "null";
  if (valueType == HTTYPE_TEXT) return static_cast<const char*>(value);
  if (valueType == HTTYPE_NUMBER) {
    std::ostringstream out;
    out << *static_cast<const double*>(value);
    return out.str();
  }
  if (valueType == HTTYPE_DATETIME) return "dt" + std::to_string(static_cast<const HTDATETIME*>(value)->lo);
  return "?";
}

inline void Install(THTAPITable& api) {
  api.HTDocumentOpen = [](HTDBHANDLE, HTID note, HTUINT flags, HTDOCHANDLE* doc) -> HTSTATUS {
    D().Record("HTDocumentOpen", note, flags);
    if (HTSTATUS s = D().Failure("HTDocumentOpen")) return s;
    *doc = note >= 1000 ? DocApiDouble::kFormDoc : DocApiDouble::kDoc;
    return 0;
  };
  api.HTDocumentCreate = [](HTDBHANDLE, HTID form, HTDOCHANDLE* doc) -> HTSTATUS {
    D().Record("HTDocumentCreate", form);
    if (HTSTATUS s = D().Failure("HTDocumentCreate")) return s;
    *doc = DocApiDouble::kDoc;
    return 0;
  };
  api.HTDocumentClose = [](HTDOCHANDLE doc, HTUINT flags) -> HTSTATUS {
    D().Record("HTDocumentClose", doc, flags);
    return 0;
  };
  api.HTDocumentSave = [](HTDOCHANDLE, HTUINT flags) -> HTSTATUS {
    D().Record("HTDocumentSave", flags);
    return D().Failure("HTDocumentSave");
  };
  api.HTDocumentGetProperty = [](HTDOCHANDLE, HTINT property, void* value) -> HTSTATUS {
    D().Record("HTDocumentGetProperty", property);
    if (HTSTATUS s = D().Failure("HTDocumentGetProperty")) return s;
    if (property == HTDOCUMENT_DOCID) {
      *static_cast<HTID*>(value) = D().NewDocID;
    } else {
      *static_cast<UNID*>(value) = D().Unids[property];
    }
    return 0;
  };
  api.HTDocumentSetProperty = [](HTDOCHANDLE, HTINT property, const void* value) -> HTSTATUS {
    // Boolean properties are read by their first byte, as the engine does.
    D().Record("HTDocumentSetProperty", property, int(*static_cast<const unsigned char*>(value)));
    return D().Failure("HTDocumentSetProperty");
  };
  api.HTDatabaseSetProperty = [](HTDBHANDLE, HTINT property, const void* value) -> HTSTATUS {
    D().Record("HTDatabaseSetProperty", property, *static_cast<const HTUINT*>(value));
    return 0;
  };
  api.HTFormLocateByName = [](HTDBHANDLE, const char* name) -> HTID {
    D().Record("HTFormLocateByName", name);
    auto it = D().Forms.find(name);
    return it == D().Forms.end() ? 0 : it->second;
  };
  api.HTItemGetCount = [](HTDOCHANDLE doc) -> HTUINT {
    return static_cast<HTUINT>(D().Docs[doc].items.size());
  };
  api.HTItemList = [](HTDOCHANDLE doc, HTINT mode, HTUINT, HTITEMLISTREC* record) -> HTSTATUS {
    FakeDoc& d = D().Docs[doc];
    if (mode == HTLIST_REFRESH || mode == HTLIST_FIRST) d.itemCursor = 0;
    if (d.itemCursor >= d.items.size()) return HTFAIL_END_OF_LIST;
    const FakeItem& item = d.items[d.itemCursor++];
    record->type = item.type;
    std::snprintf(record->name, sizeof record->name, "%s", item.name.c_str());
    return 0;
  };
  api.HTItemGetInfo = [](HTDOCHANDLE doc, const char* name, HTINT* type, HTUINT* flags, HTUINT* length) -> HTSTATUS {
    D().Record("HTItemGetInfo", name);
    const FakeItem* item = D().Find(doc, name);
    if (item == nullptr) return HTFAIL_ITEM_NOT_FOUND;
    *type = item->type;
    *flags = item->flags;
    *length = static_cast<HTUINT>(item->text.size());
    return 0;
  };
  api.HTItemGetLength = [](HTDOCHANDLE doc, const char* name, HTUINT*, HTINT* valueType, HTUINT* length) -> HTSTATUS {
    D().Record("HTItemGetLength", name, *valueType);
    if (HTSTATUS s = D().Failure("HTItemGetLength")) return s;
    const FakeItem* item = D().Find(doc, name);
    if (item == nullptr) return HTFAIL_ITEM_NOT_FOUND;
    *length = static_cast<HTUINT>(item->text.size());
    return 0;
  };
  api.HTItemFetch = [](HTDOCHANDLE doc, const char* name, HTINT* type, HTUINT* length, HTINT* valueType,
                       void* buffer) -> HTSTATUS {
    D().Record("HTItemFetch", name, *type, *length, *valueType);
    if (HTSTATUS s = D().Failure("HTItemFetch")) return s;
    const FakeItem* item = D().Find(doc, name);
    if (item == nullptr) return HTFAIL_ITEM_NOT_FOUND;
    if (*length < item->text.size() + 1) return HTFAIL_BUFFER_TOO_SMALL;
    std::memcpy(buffer, item->text.c_str(), item->text.size() + 1);
    *length = static_cast<HTUINT>(item->text.size());
    if (*valueType == 0) *type = item->type;
    return 0;
  };
  api.HTItemPut = [](HTDOCHANDLE doc, const char* name, HTINT itemType, HTUINT length, HTINT valueType,
                     const void* value, HTUINT flags) -> HTSTATUS {
    D().Record("HTItemPut", name, itemType, length, valueType, PutValue(valueType, value), flags);
    if (HTSTATUS s = D().Failure("HTItemPut")) return s;
    FakeItem* item = D().Find(doc, name);
    if (item == nullptr) {
      D().Docs[doc].items.push_back(FakeItem{name});
      item = &D().Docs[doc].items.back();
    }
    if (itemType != 0) item->type = itemType;
    item->flags = flags;
    item->text = PutValue(valueType, value);
    item->entries.assign(1, item->text);
    return 0;
  };
  api.HTItemAppendTextList = [](HTDOCHANDLE doc, const char* name, const char* entry, HTUINT, HTUINT) -> HTSTATUS {
    D().Record("HTItemAppendTextList", name, entry);
    if (FakeItem* item = D().Find(doc, name)) item->entries.push_back(entry);
    return D().Failure("HTItemAppendTextList");
  };
  api.HTItemGetPointer = [](HTDOCHANDLE doc, const char* name, HTINT*, HTUINT*, HTINT*,
                            const void** pointer) -> HTSTATUS {
    D().Record("HTItemGetPointer", name);
    FakeItem* item = D().Find(doc, name);
    if (item == nullptr) return HTFAIL_ITEM_NOT_FOUND;
    *pointer = &item->entries;
    return 0;
  };
  api.HTTextListGetCount = [](const void* list) -> HTUINT {
    return static_cast<HTUINT>(static_cast<const std::vector<std::string>*>(list)->size());
  };
  api.HTTextListGetLength = [](const void* list, HTUINT entry) -> HTUINT {
    return static_cast<HTUINT>((*static_cast<const std::vector<std::string>*>(list))[entry - 1].size());
  };
  api.HTTextListFetch = [](const void* list, HTUINT entry, HTUINT capacity, char* buffer) -> HTUINT {
    const std::string& text = (*static_cast<const std::vector<std::string>*>(list))[entry - 1];
    if (text.empty() || capacity <= text.size()) return 0;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<HTUINT>(text.size());
  };
  api.HTItemDelete = [](HTDOCHANDLE, const char* name) -> HTSTATUS {
    D().Record("HTItemDelete", name);
    return 0;
  };
  api.HTItemCopy = [](HTDOCHANDLE from, const char* name, HTDOCHANDLE to) -> HTSTATUS {
    D().Record("HTItemCopy", from, name, to);
    return 0;
  };
  api.HTAttachmentList = [](HTDOCHANDLE doc, HTINT mode, HTATTACHREC* record) -> HTSTATUS {
    FakeDoc& d = D().Docs[doc];
    if (mode == HTLIST_FIRST) d.attachCursor = 0;
    if (d.attachCursor >= d.attachments.size()) return HTFAIL_END_OF_LIST;
    *record = HTATTACHREC{};
    record->attachmentId = static_cast<uint32_t>(d.attachCursor + 1);
    std::snprintf(record->name, sizeof record->name, "%s", d.attachments[d.attachCursor++].c_str());
    return 0;
  };
  api.HTAttachmentAttach = [](HTDOCHANDLE, const char* file, const char*, HTINT, HTUINT) -> HTSTATUS {
    D().Record("HTAttachmentAttach", file);
    return 0;
  };
  api.HTCompositeOpen = [](HTDOCHANDLE, const char* item, HTCOMPHANDLE* comp) -> HTSTATUS {
    D().Record("HTCompositeOpen", item);
    if (HTSTATUS s = D().Failure("HTCompositeOpen")) return s;
    *comp = D().NextComposite++;
    return 0;
  };
  api.HTCompositeClose = [](HTCOMPHANDLE comp, HTUINT flags) -> HTSTATUS {
    D().Record("HTCompositeClose", comp, flags);
    return 0;
  };
  api.HTCompositeImport = [](HTDOCHANDLE, const char* item, const char* file, const char* format, HTUINT,
                             HTCOMPHANDLE* comp) -> HTSTATUS {
    D().Record("HTCompositeImport", item, file, format);
    if (HTSTATUS s = D().Failure("HTCompositeImport")) return s;
    *comp = D().NextComposite++;
    return 0;
  };
  api.HTCompositeExport = [](HTCOMPHANDLE comp, const char* file, const char* format) -> HTSTATUS {
    D().Record("HTCompositeExport", comp, file, format);
    return D().Failure("HTCompositeExport");
  };
  api.HTCompositeConvertDocument = [](HTDOCHANDLE, HTDOCHANDLE, HTUINT, HTCOMPHANDLE* comp) -> HTSTATUS {
    D().Record("HTCompositeConvertDocument");
    *comp = D().NextComposite++;
    return 0;
  };
  api.HTMailSend = [](HTDOCHANDLE, HTUINT flags) -> HTSTATUS {
    D().Record("HTMailSend", flags);
    return D().Failure("HTMailSend");
  };
  // Date-times are kept as their parts; lo numbers them.
  api.HTDatetimeCreate = [](const HTINT* parts, HTUINT flags, HTDATETIME* datetime) -> HTSTATUS {
    D().Record("HTDatetimeCreate", flags);
    if (HTSTATUS s = D().Failure("HTDatetimeCreate")) return s;
    D().Datetimes.emplace_back(parts, parts + HTDATETIME_PART_COUNT);
    *datetime = HTDATETIME{static_cast<uint32_t>(D().Datetimes.size() - 1), 0};
    return 0;
  };
  api.HTDatetimeFetch = [](const HTDATETIME* datetime, HTINT* parts) -> HTSTATUS {
    if (HTSTATUS s = D().Failure("HTDatetimeFetch")) return s;
    const std::vector<HTINT>& stored = D().Datetimes.at(datetime->lo);
    std::copy(stored.begin(), stored.end(), parts);
    return 0;
  };
}

}  // namespace detail

inline DocApiDouble::DocApiDouble() : saved_(HTAPI) {
  current_ = this;
  detail::Install(HTAPI);
}

inline DocApiDouble::~DocApiDouble() {
  HTAPI = saved_;
  current_ = nullptr;
}

inline FakeItem* DocApiDouble::Find(HTDOCHANDLE doc, const std::string& name) {
  for (FakeItem& item : Docs[doc].items) {
    if (detail::Lower(item.name) == detail::Lower(name)) return &item;
  }
  return nullptr;
}

}  // namespace docdouble
