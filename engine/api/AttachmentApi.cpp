// File attachments of open documents.
//
// HTAttachmentAttach reads the whole file at once and keeps its bytes exactly; the attachment
// belongs to the open document and is stored by its next HTDocumentSave (closing without a
// save drops it, like every other unsaved change). The attachment is named by `name`, or by
// the file's base name when `name` is null or empty; attaching a name the document already
// has (compared without regard to case) replaces that attachment. Recorded: the size, the
// host (HTATTACHHOST), the time of attaching as created and the file's modification time as
// modified. Names have at most 255 bytes.
//
// HTAttachmentList fills HTATTACHREC; attachmentId is the stored attachment's identifier, 0
// for one not saved yet. HTAttachmentExtract writes the file atomically (a reader sees the
// old file or the whole new one). Failures to read or write a file give HTFAIL_IO_ERROR
// naming it; an unknown attachment name gives HTFAIL_ATTACH_NOT_FOUND.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "engine/api/EntryPoints.h"
#include "engine/core/DateTime.h"
#include "engine/core/Files.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/doc/Document.h"

using namespace quire::engine;
using doc::Document;

namespace {

constexpr size_t kMaxNameBytes = 255;

// A file time as a local wall-clock date-time (what dt::now gives for the present).
int64_t localTime(const struct timespec& ts) {
  struct tm tm {};
  const time_t secs = ts.tv_sec;
  if (!localtime_r(&secs, &tm)) return dt::pack(dt::now());
  HTINT parts[HTDATETIME_PART_COUNT] = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, 0, tm.tm_hour, tm.tm_min,
                                        std::min(tm.tm_sec, 59), HTINT(ts.tv_nsec / 1'000'000), 0};
  HTDATETIME v;
  return dt::fromParts(parts, v) ? dt::pack(v) : dt::pack(dt::now());
}

HTSTATUS findAttachment(Document& d, const char* name, doc::Attachment*& out) {
  out = textArg(name).empty() ? nullptr : d.note.findAttachment(textArg(name));
  if (!out) return fail(HTFAIL_ATTACH_NOT_FOUND, "The document has no attachment \"" + std::string(textArg(name)) + "\"");
  return HTSUCCESS;
}

// Replaces the attachment of the same name, or adds it.
void addAttachment(Document& d, doc::Attachment a) {
  if (doc::Attachment* existing = d.note.findAttachment(a.name)) *existing = std::move(a);
  else d.note.attachments.push_back(std::move(a));
  d.changed();
}

// The file's bytes; never sealed ones: without the key they are refused.
std::shared_ptr<const store::Blob> bytesOf(Document& d, const doc::Attachment& a) {
  bool stillSealed = a.sealedBytes;
  std::shared_ptr<const store::Blob> bytes = a.bytes;
  if (!bytes) {
    auto& database = d.database();
    auto lock = database.lock();
    bytes = std::make_shared<const store::Blob>(doc::attachmentBytes(database.conn(), d.note, a.id, stillSealed));
  }
  if (stillSealed)
    raise(HTFAIL_NO_KEY, "Attachment " + a.name + " is encrypted and this user has no key for it");
  return bytes;
}

}  // namespace

HT_EXPORT HTSTATUS HTAttachmentAttach(HTDOCHANDLE handle, const char* fileName, const char* name, HTINT host,
                                      HTUINT flags) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    const std::string file(textArg(fileName));
    if (file.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No file name given to attach");
    if (host < HTATTHOST_LOCAL || host > HTATTHOST_OLE_COMPOUND)
      return fail(HTFAIL_INVALID_ARGUMENT, "Unknown attachment host " + std::to_string(host));
    std::string attName(textArg(name));
    if (attName.empty()) attName = std::filesystem::path(file).filename().string();
    if (attName.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "The file name " + file + " names no file");
    if (attName.size() > kMaxNameBytes) return fail(HTFAIL_TEXT_TOO_LONG, "An attachment name may have at most 255 bytes");
    std::optional<std::string> content = files::read(file);
    if (!content) return fail(HTFAIL_IO_ERROR, "Cannot read " + file + ": No such file or directory");
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) files::raiseErrno(errno, "Cannot read", file);
    doc::Attachment a;
    a.name = attName;
    a.size = content->size();
    a.host = host;
    a.created = dt::pack(dt::now());
    a.modified = localTime(st.st_mtim);
    a.bytes = std::make_shared<const store::Blob>(content->begin(), content->end());
    addAttachment(*d, std::move(a));
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTAttachmentList(HTDOCHANDLE handle, HTINT listMode, HTATTACHREC* record) {
  return guard([&] {
    HT_REQUIRE_ARG(record);
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    auto load = [&] {
      std::vector<HTATTACHREC> records;
      for (const doc::Attachment& a : d->note.attachments) {
        HTATTACHREC r{};
        r.attachmentId = uint32_t(std::clamp<int64_t>(a.id, 0, UINT32_MAX));
        r.size = uint32_t(std::min<uint64_t>(a.size, UINT32_MAX));
        r.host = uint32_t(a.host);
        r.created = dt::unpack(a.created);
        r.modified = dt::unpack(a.modified);
        copyText(r.name, sizeof r.name, a.name);
        records.push_back(r);
      }
      return records;
    };
    return d->attachCursor.step(listMode, load, *record);
  });
}

HT_EXPORT HTSTATUS HTAttachmentExtract(HTDOCHANDLE handle, const char* name, const char* fileName) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    const std::string file(textArg(fileName));
    if (file.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No file name given to extract to");
    doc::Attachment* a;
    if (HTSTATUS s = findAttachment(*d, name, a)) return s;
    const auto bytes = bytesOf(*d, *a);
    try {
      files::writeAtomic(file, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    } catch (const Error& e) {
      return fail(HTFAIL_IO_ERROR, "Cannot write " + file + " (" + e.what() + ")");
    }
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTAttachmentDelete(HTDOCHANDLE handle, const char* name) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    doc::Attachment* a;
    if (HTSTATUS s = findAttachment(*d, name, a)) return s;
    auto& list = d->note.attachments;
    list.erase(list.begin() + (a - list.data()));
    d->changed();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTAttachmentCopy(HTDOCHANDLE fromHandle, const char* name, HTDOCHANDLE toHandle) {
  return guard([&] {
    std::shared_ptr<Document> from, to;
    if (HTSTATUS s = doc::lookupDocument(fromHandle, from)) return s;
    if (HTSTATUS s = doc::lookupDocument(toHandle, to)) return s;
    doc::Attachment* a;
    if (HTSTATUS s = findAttachment(*from, name, a)) return s;
    doc::Attachment copy = *a;
    copy.bytes = bytesOf(*from, *a);
    copy.id = 0;
    addAttachment(*to, std::move(copy));
    return HTSUCCESS;
  });
}
