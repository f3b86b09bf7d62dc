#include "objects/Quiredoc.h"

#include <cstring>
#include <vector>

#include "binding/Quire01.h"
#include "rtl/FormatSettings.h"

namespace {

// Close flag of documents this object opened: close without saving.
constexpr HTUINT kDocumentCloseFlags = 0x20000;
// Mail flags of Send (and of the send-mail component).
constexpr HTUINT kMailFlagSave = 2;
constexpr HTUINT kMailFlagLocal = 8;

std::string RecordName(const char* name, std::size_t capacity) { return std::string(name, strnlen(name, capacity)); }

// Splits at every comma without trimming; the text after the last comma counts only when
// it is not empty, but a text without any comma is one piece even when empty.
std::vector<std::string> SplitRecipients(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
    pieces.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  std::string rest = text.substr(start);
  if (pieces.empty() || !rest.empty()) pieces.push_back(std::move(rest));
  return pieces;
}

}  // namespace

TQuireDocument::TQuireDocument(HTDBHANDLE DbHandle, HTID DocID) : DbHandle(DbHandle), DocID(DocID) {
  LastError = HTAPI.HTDocumentOpen(DbHandle, DocID, 0, &DocHandle);
  if (LastError != 0) {
    DocHandle = 0;
    return;
  }
  Opened = true;
  if (const int32_t count = GetITemCount(); count >= 1) ListItems(count);
  // Attachments are listed whatever the item count: an engine may keep attachments apart
  // from items, and a document of attachments only must still show them.
  ListAttachments();
  Loaded = true;
}

std::unique_ptr<TQuireDocument> TQuireDocument::CreateNewDoc(HTDBHANDLE DbHandle, const std::string& FormName) {
  return std::unique_ptr<TQuireDocument>(new TQuireDocument(NewDocTag{}, DbHandle, FormName));
}

TQuireDocument::TQuireDocument(NewDocTag, HTDBHANDLE DbHandle, const std::string& FormName)
    : DbHandle(DbHandle), IsNew(true) {
  if (FormName.size() > kMaxApiText) {
    LastError = HTFAIL_TEXT_TOO_LONG;
    return;
  }
  // A name that names no form gives 0, which creates the document without a form.
  const HTID formID = FormName.empty() ? 0 : HTAPI.HTFormLocateByName(DbHandle, FormName.c_str());
  LastError = HTAPI.HTDocumentCreate(DbHandle, formID, &DocHandle);
  if (LastError != 0) {
    DocHandle = 0;
    return;
  }
  Opened = true;
  // The items a form put into the new document.
  if (const int32_t count = GetITemCount(); count >= 1) ListItems(count);
  Loaded = true;
}

TQuireDocument::~TQuireDocument() {
  Items.Clear();
  Attachments.Clear();
  if (Opened) HTAPI.HTDocumentClose(DocHandle, kDocumentCloseFlags);
}

void TQuireDocument::ListItems(int32_t Count) {
  Items.Reserve(Items.Count() + Count);
  HTITEMLISTREC record{};
  for (HTSTATUS status = HTAPI.HTItemList(DocHandle, HTLIST_REFRESH, 0, &record); status == 0;
       status = HTAPI.HTItemList(DocHandle, HTLIST_NEXT, 0, &record)) {
    const std::string name = RecordName(record.name, sizeof record.name);
    std::unique_ptr<TQuireItem> item;
    switch (record.type) {
      case HTTYPE_COMPOSITE:
        item = std::make_unique<TQuireRTItem>(DocHandle, name, std::string(), false);
        break;
      case HTTYPE_TEXT_LIST:
        item = std::make_unique<TQuireTextListItem>(DocHandle, name, std::string(), false);
        break;
      default:
        item = std::make_unique<TQuireItem>(DocHandle, name, std::string(), 0.0, false,
                                            static_cast<TQRItemType>(record.type));
        break;
    }
    if (item->Valid) Items.AddObject(name, item.release());
    record = HTITEMLISTREC{};
  }
}

void TQuireDocument::ListAttachments() {
  HTATTACHREC record{};
  for (HTSTATUS status = HTAPI.HTAttachmentList(DocHandle, HTLIST_FIRST, &record); status == 0;
       status = HTAPI.HTAttachmentList(DocHandle, HTLIST_NEXT, &record)) {
    ++AttachCount;
    const std::string name = RecordName(record.name, sizeof record.name);
    auto attachment = std::make_unique<TQuireAttachment>(DocHandle, record.attachmentId, record.size, record.host,
                                                         "date created", "date modified", name);
    if (attachment->Valid) Attachments.AddObject(name, attachment.release());
    record = HTATTACHREC{};
  }
}

int32_t TQuireDocument::GetITemCount() { return static_cast<int32_t>(HTAPI.HTItemGetCount(DocHandle)); }

TQuireItem* TQuireDocument::GetItem(int32_t Index) const {
  if (Index < 0 || Index >= Items.Count()) return nullptr;
  return Items.ObjectAs<TQuireItem>(Index);
}

TQuireItem* TQuireDocument::GetItemByName(const std::string& Name) const {
  const int index = Items.IndexOf(Name);
  return index < 0 ? nullptr : Items.ObjectAs<TQuireItem>(index);
}

TQuireItem* TQuireDocument::GetFirstItem(const std::string& Name) const {
  return Name.empty() ? nullptr : GetItemByName(Name);
}

TQuireAttachment* TQuireDocument::GetAttach(int32_t Index) const {
  if (Index < 0 || Index >= Attachments.Count()) return nullptr;
  return Attachments.ObjectAs<TQuireAttachment>(Index);
}

TQuireAttachment* TQuireDocument::GetAttachment(const std::string& Name) const {
  if (Name.empty()) return nullptr;
  const int index = Attachments.IndexOf(Name);
  return index < 0 ? nullptr : Attachments.ObjectAs<TQuireAttachment>(index);
}

std::string TQuireDocument::ReadUNID(HTINT Property) {
  if (!Opened) return {};
  UNID unid{};
  LastError = HTAPI.HTDocumentGetProperty(DocHandle, Property, &unid);
  return LastError == 0 ? UNIDToStr(unid) : std::string();
}

std::string TQuireDocument::GetUniversalID() { return ReadUNID(HTDOCUMENT_UNID); }

std::string TQuireDocument::GetParentUNID() { return ReadUNID(HTDOCUMENT_PARENT_UNID); }

void TQuireDocument::SetParentUNID(const std::string& Text) {
  const UNID unid = StrToUNID(Text);
  if (!Opened) return;
  LastError = HTAPI.HTDocumentSetProperty(DocHandle, HTDOCUMENT_PARENT_UNID, &unid);
}

std::string TQuireDocument::GetNotesErrorString() const { return GetNotesErrorText(LastError); }

void TQuireDocument::Save() {
  LastError = HTAPI.HTDocumentSave(DocHandle, 0);
  if (LastError != 0 && LastError != HTFAIL_SAVE_WARNING) return;
  IsNew = false;
  // A new document gets its note ID only now; without it the database could not delete it.
  if (DocID == 0) {
    HTID id = 0;
    if (HTAPI.HTDocumentGetProperty(DocHandle, HTDOCUMENT_DOCID, &id) == 0) DocID = id;
  }
}

void TQuireDocument::AddItem(const std::string& Name, TQuireItem* Item) {
  std::unique_ptr<TQuireItem> owned(Item);
  const int index = Items.IndexOf(Name);
  if (index >= 0) Items.Delete(index);
  // A document made item by item would otherwise move its list at the 2nd, 3rd and 5th.
  if (Items.Count() == 0) Items.Reserve(8);
  Items.AddObject(Name, owned.release());
}

void TQuireDocument::AppendTextItem(const std::string& Name, const std::string& Value) {
  AddItem(Name, new TQuireItem(DocHandle, Name, Value, 0.0, true, qrTypeText));
}

void TQuireDocument::AppendNumberItem(const std::string& Name, double Value) {
  AddItem(Name, new TQuireItem(DocHandle, Name, std::string(), Value, true, qrTypeNumber));
}

void TQuireDocument::AppendDateTimeItem(const std::string& Name, rtl::TDateTime Value) {
  AddItem(Name, new TQuireItem(DocHandle, Name, rtl::DateTimeToStr(Value), 0.0, true, qrTypeDateTime));
}

void TQuireDocument::AppendRTItem(const std::string& Name, const std::string& Text) {
  AddItem(Name, new TQuireRTItem(DocHandle, Name, Text, true));
}

void TQuireDocument::AppendTextListItem(const std::string& Name, const std::string& Text) {
  AddItem(Name, new TQuireTextListItem(DocHandle, Name, Text, true));
}

void TQuireDocument::AttachFile(const std::string& FileName) {
  if (FileName.size() > kMaxApiText) {
    LastError = HTFAIL_TEXT_TOO_LONG;
    return;
  }
  LastError = HTAPI.HTAttachmentAttach(DocHandle, FileName.c_str(), nullptr, 0, 0);
}

void TQuireDocument::SetDelayCommit(bool Value) {
  if (Value == DelayCommit) return;
  DelayCommit = Value;
  const bool value = Value;  // the API reads the first byte of a Boolean property
  HTAPI.HTDocumentSetProperty(DocHandle, HTDOCUMENT_STRICT_BIND, &value);
}

bool TQuireDocument::ExportDocument(const std::string& FileName, const std::string& Format) {
  if (FileName.size() > kMaxApiText || Format.size() > kMaxApiText) {
    LastError = HTFAIL_TEXT_TOO_LONG;
    return false;
  }
  const bool on = true;
  HTAPI.HTDocumentSetProperty(DocHandle, HTDOCUMENT_STRICT_BIND, &on);
  HTCOMPHANDLE composite = 0;
  // A failed conversion leaves the handle 0, and the export then reports the failure.
  HTAPI.HTCompositeConvertDocument(DocHandle, DocHandle, 0, &composite);
  LastError = HTAPI.HTCompositeExport(composite, FileName.c_str(), Format.c_str());
  if (composite != 0) HTAPI.HTCompositeClose(composite, 0);
  // Back to what SetDelayCommit last asked for, not unconditionally off.
  const bool restored = DelayCommit;
  HTAPI.HTDocumentSetProperty(DocHandle, HTDOCUMENT_STRICT_BIND, &restored);
  return LastError == 0;
}

void TQuireDocument::CopyDesignItems(HTID FormID) {
  HTDOCHANDLE form = 0;
  LastError = HTAPI.HTDocumentOpen(DbHandle, FormID, 0, &form);
  if (LastError != 0) return;
  HTITEMLISTREC record{};
  LastError = HTAPI.HTItemList(form, HTLIST_REFRESH, 0, &record);
  while (LastError == 0) {
    const std::string name = RecordName(record.name, sizeof record.name);
    if (name != "$UpdatedBy" && !name.empty() && name[0] == '$') {
      LastError = HTAPI.HTItemCopy(form, name.c_str(), DocHandle);
    }
    record = HTITEMLISTREC{};
    LastError = HTAPI.HTItemList(form, HTLIST_NEXT, 0, &record);
  }
  HTAPI.HTDocumentClose(form, kDocumentCloseFlags);
}

bool TQuireDocument::Send(bool StoreForm, bool Switch8, bool Switch2, const std::string& Recipients) {
  const std::vector<std::string> pieces = SplitRecipients(Recipients);
  // Checked before anything changes, so a refused send leaves the document as it was.
  for (const std::string& piece : pieces) {
    if (piece.size() > kMaxApiText) {
      LastError = HTFAIL_TEXT_TOO_LONG;
      return false;
    }
  }
  if (StoreForm) {
    const HTID formID = HTAPI.HTFormLocateByName(DbHandle, "Person");
    if (formID != 0) {
      const HTUINT designOn = 1;
      LastError = HTAPI.HTDatabaseSetProperty(DbHandle, HTDATABASE_DOCOPEN_DESIGN, &designOn);
      CopyDesignItems(formID);
      LastError = HTAPI.HTItemDelete(DocHandle, "Form");
      LastError = HTAPI.HTItemDelete(DocHandle, "SendTo");
      const HTUINT designOff = 0;
      HTAPI.HTDatabaseSetProperty(DbHandle, HTDATABASE_DOCOPEN_DESIGN, &designOff);
    }
  }
  for (const std::string& piece : pieces) {
    std::string entry;
    Translate_From_Native(piece.c_str(), entry);
    LastError = HTAPI.HTItemAppendTextList(DocHandle, "SendTo", entry.c_str(), 0, 0);
  }
  const HTUINT flags = (Switch2 ? kMailFlagSave : 0) + (Switch8 ? kMailFlagLocal : 0);
  LastError = HTAPI.HTMailSend(DocHandle, flags);
  return LastError == 0;
}
