// Rich text: composite handles, import and export, and the record calls.
//
// A composite handle is bound to a rich-text item of an open document (HTCompositeOpen,
// HTCompositeCreate, HTCompositeImport, HTCompositeCopy): every change goes into the document
// at once and is stored by the document's next save. HTCompositeConvertDocument makes a
// detached composite (the document rendered as "Name: value" paragraphs, rich-text items
// as their own paragraphs) that belongs to `toDoc` but writes nothing into it. Closing a
// document closes its composites.
//
// Formats (HTCompositeListImport/ListExport list exactly these; names and extensions
// compare without regard to case, and an empty format name picks the format by the file's
// extension):
//   "TEXT"  extension "txt"       one paragraph per line, UTF-8
//   "HTML"  extensions "html,htm" see engine/doc/Composite.h
// HTCompositeImport replaces the item's content with the file's (creating the item when
// needed). A file that cannot be read or written gives HTFAIL_IO_ERROR naming the file.
//
// Records (engine/doc/Composite.h has their data layouts) are numbered from 1.
// HTCDRecordInsert inserts before the record numbered `recordIndex` (0 or count + 1
// appends). HTCDRecordGetPointer's data stays valid until the composite or its document
// changes. HTCOMPOSITE_ITEMNAME is written into 80 bytes.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/api/EntryPoints.h"
#include "engine/core/Files.h"
#include "engine/core/Guard.h"
#include "engine/core/ThreadState.h"
#include "engine/core/Handles.h"
#include "engine/core/Text.h"
#include "engine/doc/Document.h"
#include "engine/doc/Values.h"

using namespace quire::engine;
using doc::Composite;
using doc::CompositeObject;
using doc::Document;

namespace {

constexpr size_t kItemNameCapacity = 80;

struct Format {
  const char* name;
  const char* extensions;  // comma-separated
};
constexpr Format kFormats[] = {{"TEXT", "txt"}, {"HTML", "html,htm"}};

bool hasExtension(const Format& f, std::string_view ext) {
  std::string_view list = f.extensions;
  while (!list.empty()) {
    size_t comma = list.find(',');
    if (equalsNoCase(list.substr(0, comma), ext)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// The format named (or, for an empty name, implied by the file's extension).
HTSTATUS findFormat(const char* format, const char* fileName, const Format*& out) {
  std::string_view name = trim(textArg(format));
  std::string ext;
  if (name.empty()) {
    ext = std::filesystem::path(textArg(fileName)).extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    name = ext;
  }
  if (!name.empty() && name.front() == '.') name.remove_prefix(1);
  for (const Format& f : kFormats) {
    if (equalsNoCase(f.name, name) || hasExtension(f, name)) {
      out = &f;
      return HTSUCCESS;
    }
  }
  return fail(HTFAIL_BAD_FORMAT, "Unknown rich-text format \"" + std::string(name) + "\" (known: TEXT, HTML)");
}

HTSTATUS listFormats(HTINT mode, char* name, char* extensions) {
  ListCursor<const Format*>* cursor = threadState<ListCursor<const Format*>>();
  if (!cursor) return fail(HTFAIL_NOT_INITIALIZED, "The thread is ending; lists are no longer kept");
  const Format* f = nullptr;
  auto load = [] {
    std::vector<const Format*> all;
    for (const Format& x : kFormats) all.push_back(&x);
    return all;
  };
  if (HTSTATUS s = cursor->step(mode, load, f)) return s;
  if (name) copyText(name, HT_FORMAT_NAME_CAPACITY, f->name);
  if (extensions) copyText(extensions, HT_FORMAT_NAME_CAPACITY, f->extensions);
  return HTSUCCESS;
}

HTSTATUS checkItemName(const char* item) {
  std::string_view n = textArg(item);
  if (n.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "A rich-text item name is required");
  if (n.size() > 255) return fail(HTFAIL_TEXT_TOO_LONG, "An item name may have at most 255 bytes");
  return HTSUCCESS;
}

// Binds a new composite handle to `item` of `d`.
HTCOMPHANDLE bindItem(const std::shared_ptr<Document>& d, std::string_view item) {
  auto c = std::make_shared<CompositeObject>();
  c->document = d;
  const store::StoredItem* stored = d->note.find(item);
  c->item = stored ? stored->name : std::string(item);
  c->content();  // fails now for an unreadable item rather than at first use
  return doc::openComposite(std::move(c));
}

void writeItem(Document& d, std::string_view item, const Composite& content) {
  const store::StoredItem* existing = d.note.find(item);
  d.note.put({std::string(item), HTTYPE_COMPOSITE, existing ? existing->flags : 0u, content.encode()});
  d.changed();
}

Composite renderDocument(const doc::Note& note) {
  const HTINTERNATIONAL intl = doc::international();
  Composite out;
  doc::TextStyle label;
  label.style = HTFONTSTYLE_BOLD;
  for (const store::StoredItem& item : note.items) {
    if (item.name.empty() || item.name[0] == '$' || note.isSealed(item.name)) continue;
    out.addParagraph({});
    if (item.type == HTTYPE_COMPOSITE) {
      Composite c;
      if (!Composite::decode(item.value, c)) continue;
      out.addText(item.name + ":", label);
      out.append(c);
    } else {
      out.addText(item.name + ": ", label);
      out.addText(doc::renderText(item, intl), {});
    }
  }
  if (!note.attachments.empty()) {
    std::string names;
    for (const doc::Attachment& a : note.attachments) names += (names.empty() ? "" : ", ") + a.name;
    out.addParagraph({});
    out.addText("Attachments: ", label);
    out.addText(names, {});
  }
  return out;
}

HTSTATUS recordAt(Composite& c, HTUINT index, doc::CdRecord*& out) {
  if (index == 0 || index > c.records.size())
    return fail(HTFAIL_ENTRY_NOT_FOUND, "The rich text has no record " + std::to_string(index) + " (it has " +
                                            std::to_string(c.records.size()) + ")");
  out = &c.records[index - 1];
  return HTSUCCESS;
}

HTSTATUS checkRecord(const Composite& c, HTINT type, const store::Blob& data) {
  if (!doc::validRecord(type, data))
    return fail(HTFAIL_INVALID_ARGUMENT, "Malformed rich-text record of type " + std::to_string(type));
  doc::TextStyle s;
  std::string_view t;
  if (type == HTCD_TEXT && doc::readText(data, s, t) && s.font != doc::kDefaultFont && s.font >= c.fonts.size())
    return fail(HTFAIL_INVALID_ARGUMENT, "Font ID " + std::to_string(s.font) + " is not in the rich text's font table");
  return HTSUCCESS;
}

store::Blob bytesOf(HTUINT length, const void* data) {
  const auto* p = static_cast<const uint8_t*>(data);
  return p ? store::Blob(p, p + length) : store::Blob();
}

}  // namespace

HT_EXPORT HTSTATUS HTCompositeOpen(HTDOCHANDLE handle, const char* item, HTCOMPHANDLE* comp) {
  return guard([&] {
    HT_REQUIRE_ARG(comp);
    *comp = 0;
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (HTSTATUS s = checkItemName(item)) return s;
    if (!d->note.find(item)) return fail(HTFAIL_ITEM_NOT_FOUND, "The document has no item " + std::string(item));
    *comp = bindItem(d, item);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeCreate(HTDOCHANDLE handle, const char* item, HTCOMPHANDLE* comp) {
  return guard([&] {
    HT_REQUIRE_ARG(comp);
    *comp = 0;
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (HTSTATUS s = checkItemName(item)) return s;
    writeItem(*d, item, Composite{});
    *comp = bindItem(d, item);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeClose(HTCOMPHANDLE comp, HTUINT flags) {
  return guard([&] {
    if (!HandleTable::instance().remove(HandleKind::Composite, comp))
      return fail(HTFAIL_INVALID_HANDLE, "Composite handle " + std::to_string(comp) + " is not open");
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeGetProperty(HTCOMPHANDLE comp, HTINT property, void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    uint32_t v = 0;
    switch (property) {
      case HTCOMPOSITE_ITEMNAME:
        copyText(static_cast<char*>(value), kItemNameCapacity, c->item);
        return HTSUCCESS;
      case HTCOMPOSITE_IS_DIRTY: v = c->dirty; break;
      case HTCOMPOSITE_DOCUMENT: v = c->document->self; break;
      case HTCOMPOSITE_DATABASE: v = c->document->dbHandleValue(); break;
      default: return fail(HTFAIL_UNKNOWN_PROPERTY, "Unknown composite property " + std::to_string(property));
    }
    std::memcpy(value, &v, sizeof v);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeMerge(HTCOMPHANDLE comp, HTCOMPHANDLE other) {
  return guard([&] {
    std::shared_ptr<CompositeObject> c, o;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    if (HTSTATUS s = doc::lookupComposite(other, o)) return s;
    const Composite addition = o->content();
    c->content().append(addition);
    c->commit();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeCopy(HTCOMPHANDLE comp, HTDOCHANDLE toDoc, const char* item, HTCOMPHANDLE* newComp) {
  return guard([&] {
    HT_REQUIRE_ARG(newComp);
    *newComp = 0;
    std::shared_ptr<CompositeObject> c;
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    if (HTSTATUS s = doc::lookupDocument(toDoc, d)) return s;
    if (HTSTATUS s = checkItemName(item)) return s;
    writeItem(*d, item, c->content());
    *newComp = bindItem(d, item);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeCopySubset(HTCOMPHANDLE comp, HTUINT first, HTUINT count, HTCOMPHANDLE toComp) {
  return guard([&] {
    std::shared_ptr<CompositeObject> c, to;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    if (HTSTATUS s = doc::lookupComposite(toComp, to)) return s;
    const Composite& source = c->content();
    if (first == 0 || first > source.records.size() || count > source.records.size() - (first - 1))
      return fail(HTFAIL_ENTRY_NOT_FOUND, "Records " + std::to_string(first) + " to " + std::to_string(first + count - 1) +
                                              " are not all in the rich text");
    Composite part;
    part.fonts = source.fonts;
    part.records.assign(source.records.begin() + (first - 1), source.records.begin() + (first - 1 + count));
    to->content().append(part);
    to->commit();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeListText(HTCOMPHANDLE comp, HTUINT capacity, char* text, HTUINT* length) {
  return guard([&] {
    HT_REQUIRE_ARG(length);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    const std::string plain = c->content().plainText();
    if (!text || capacity == 0) {
      *length = HTUINT(std::min<size_t>(plain.size(), UINT32_MAX));
      return HTSUCCESS;
    }
    *length = HTUINT(copyText(text, capacity, plain));
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeListImport(HTINT listMode, char* name, char* extensions) {
  return guard([&] { return listFormats(listMode, name, extensions); });
}

HT_EXPORT HTSTATUS HTCompositeListExport(HTINT listMode, char* name, char* extensions) {
  return guard([&] { return listFormats(listMode, name, extensions); });
}

HT_EXPORT HTSTATUS HTCompositeImport(HTDOCHANDLE handle, const char* item, const char* fileName, const char* format,
                                     HTUINT flags, HTCOMPHANDLE* comp) {
  return guard([&] {
    HT_REQUIRE_ARG(comp);
    *comp = 0;
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (HTSTATUS s = checkItemName(item)) return s;
    if (textArg(fileName).empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No file name given to import");
    const Format* f;
    if (HTSTATUS s = findFormat(format, fileName, f)) return s;
    std::optional<std::string> content = files::read(fileName);
    if (!content) return fail(HTFAIL_IO_ERROR, std::string("Cannot read ") + fileName + ": No such file or directory");
    const Composite imported = std::string_view(f->name) == "HTML" ? doc::fromHtml(*content) : Composite::fromPlainText(*content);
    writeItem(*d, item, imported);
    *comp = bindItem(d, item);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeExport(HTCOMPHANDLE comp, const char* fileName, const char* format) {
  return guard([&] {
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    if (textArg(fileName).empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No file name given to export to");
    const Format* f;
    if (HTSTATUS s = findFormat(format, fileName, f)) return s;
    const Composite& content = c->content();
    std::string out;
    if (std::string_view(f->name) == "HTML") {
      out = doc::toHtml(content);
    } else {
      out = content.plainText();
      if (!out.empty() || !content.records.empty()) out += '\n';
    }
    try {
      files::writeAtomic(fileName, out);
    } catch (const Error& e) {
      return fail(HTFAIL_IO_ERROR, std::string("Cannot write ") + fileName + " (" + e.what() + ")");
    }
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeConvertDocument(HTDOCHANDLE handle, HTDOCHANDLE toDoc, HTUINT flags, HTCOMPHANDLE* comp) {
  return guard([&] {
    HT_REQUIRE_ARG(comp);
    *comp = 0;
    std::shared_ptr<Document> d, owner;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    if (toDoc == 0) owner = d;
    else if (HTSTATUS s = doc::lookupDocument(toDoc, owner)) return s;
    auto c = std::make_shared<CompositeObject>();
    c->document = owner;
    c->detached = renderDocument(d->note);
    *comp = doc::openComposite(std::move(c));
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositeGetFont(HTCOMPHANDLE comp, HTUINT fontId, HTUINT capacity, char* face) {
  return guard([&] {
    HT_REQUIRE_ARG(face);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    const Composite& content = c->content();
    if (fontId >= content.fonts.size())
      return fail(HTFAIL_ENTRY_NOT_FOUND, "The rich text has no font " + std::to_string(fontId));
    copyText(face, capacity, content.fonts[fontId]);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCompositePutFont(HTCOMPHANDLE comp, const char* face, HTUINT* fontId) {
  return guard([&] {
    HT_REQUIRE_ARG(fontId);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    std::string_view name = trim(textArg(face));
    if (name.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "A font face name is required");
    Composite& content = c->content();
    const size_t before = content.fonts.size();
    *fontId = content.fontId(name);
    if (content.fonts.size() != before) c->commit();
    return HTSUCCESS;
  });
}

// ---- records ------------------------------------------------------------------------------

HT_EXPORT HTUINT HTCDRecordGetCount(HTCOMPHANDLE comp) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    std::shared_ptr<CompositeObject> c;
    if (doc::lookupComposite(comp, c)) return 0;
    return HTUINT(c->content().records.size());
  });
}

HT_EXPORT HTSTATUS HTCDRecordList(HTCOMPHANDLE comp, HTINT listMode, HTUINT* recordIndex, HTINT* cdType) {
  return guard([&] {
    HT_REQUIRE_ARG(recordIndex);
    HT_REQUIRE_ARG(cdType);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    Composite& content = c->content();
    auto load = [&] {
      std::vector<uint32_t> indexes(content.records.size());
      for (size_t i = 0; i < indexes.size(); ++i) indexes[i] = uint32_t(i + 1);
      return indexes;
    };
    uint32_t index = 0;
    if (HTSTATUS s = c->recordCursor.step(listMode, load, index)) return s;
    // Records deleted since the list started end it.
    if (index > content.records.size()) return fail(HTFAIL_END_OF_LIST);
    *recordIndex = index;
    *cdType = content.records[index - 1].type;
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCDRecordInsert(HTCOMPHANDLE comp, HTUINT recordIndex, HTINT cdType, HTUINT length, const void* data) {
  return guard([&] {
    if (length > 0) HT_REQUIRE_ARG(data);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    Composite& content = c->content();
    store::Blob bytes = bytesOf(length, data);
    if (HTSTATUS s = checkRecord(content, cdType, bytes)) return s;
    if (recordIndex > content.records.size() + 1)
      return fail(HTFAIL_ENTRY_NOT_FOUND, "The rich text has no record " + std::to_string(recordIndex));
    const size_t at = recordIndex == 0 ? content.records.size() : recordIndex - 1;
    content.records.insert(content.records.begin() + at, {cdType, std::move(bytes)});
    c->commit();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCDRecordUpdate(HTCOMPHANDLE comp, HTUINT recordIndex, HTUINT length, const void* data) {
  return guard([&] {
    if (length > 0) HT_REQUIRE_ARG(data);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    Composite& content = c->content();
    doc::CdRecord* rec;
    if (HTSTATUS s = recordAt(content, recordIndex, rec)) return s;
    store::Blob bytes = bytesOf(length, data);
    if (HTSTATUS s = checkRecord(content, rec->type, bytes)) return s;
    rec->data = std::move(bytes);
    c->commit();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCDRecordDelete(HTCOMPHANDLE comp, HTUINT recordIndex) {
  return guard([&] {
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    Composite& content = c->content();
    doc::CdRecord* rec;
    if (HTSTATUS s = recordAt(content, recordIndex, rec)) return s;
    content.records.erase(content.records.begin() + (recordIndex - 1));
    c->commit();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCDRecordGetInfo(HTCOMPHANDLE comp, HTUINT recordIndex, HTINT* cdType, HTUINT* length) {
  return guard([&] {
    HT_REQUIRE_ARG(cdType);
    HT_REQUIRE_ARG(length);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    doc::CdRecord* rec;
    if (HTSTATUS s = recordAt(c->content(), recordIndex, rec)) return s;
    *cdType = rec->type;
    *length = HTUINT(rec->data.size());
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCDRecordFetch(HTCOMPHANDLE comp, HTUINT recordIndex, HTUINT capacity, void* buffer) {
  return guard([&] {
    HT_REQUIRE_ARG(buffer);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    doc::CdRecord* rec;
    if (HTSTATUS s = recordAt(c->content(), recordIndex, rec)) return s;
    if (capacity < rec->data.size())
      return fail(HTFAIL_BUFFER_TOO_SMALL, "Record " + std::to_string(recordIndex) + " needs " +
                                               std::to_string(rec->data.size()) + " bytes; the buffer has " +
                                               std::to_string(capacity));
    if (!rec->data.empty()) std::memcpy(buffer, rec->data.data(), rec->data.size());
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTCDRecordGetPointer(HTCOMPHANDLE comp, HTUINT recordIndex, const void** pointer) {
  return guard([&] {
    HT_REQUIRE_ARG(pointer);
    std::shared_ptr<CompositeObject> c;
    if (HTSTATUS s = doc::lookupComposite(comp, c)) return s;
    doc::CdRecord* rec;
    if (HTSTATUS s = recordAt(c->content(), recordIndex, rec)) return s;
    *pointer = rec->data.data();
    return HTSUCCESS;
  });
}
