#include "objects/QRTLItem.h"

#include <cstring>
#include <new>
#include <vector>

#include "binding/Quire01.h"

namespace {

std::string FromNative(const std::string& native) {
  std::string lmbcs;
  Translate_From_Native(native.c_str(), lmbcs);
  return lmbcs;
}

// One entry of the API's list data, or false when the API gives none for it (an empty
// entry) or the memory for it cannot be had.
bool FetchEntry(const void* list, HTUINT index, std::string& entry) {
  const HTUINT length = HTAPI.HTTextListGetLength(list, index);
  std::vector<char> buffer;
  try {
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (HTAPI.HTTextListFetch(list, index, static_cast<HTUINT>(buffer.size()), buffer.data()) == 0) return false;
  entry.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return true;
}

}  // namespace

TQuireTextListItem::TQuireTextListItem(HTDOCHANDLE DocHandle, const std::string& Name, const std::string& Text,
                                       bool IsNewItem)
    : TQuireItem(WrittenByDerived{}, DocHandle, Name, IsNewItem, qrTypeTextList) {
  if (!IsNewItem) {
    ReadEntries();
    return;
  }
  if (NameRefused()) return;
  const std::string value = FromNative(Text);
  LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), HTTYPE_TEXT_LIST, 0, HTTYPE_TEXT, value.c_str(), 0);
  if (LastError != 0) {
    Valid = false;
    return;
  }
  // The new list's entry is known, so a later write-back keeps it instead of dropping it.
  if (!Text.empty()) Entries.Add(Text);
}

void TQuireTextListItem::ReadEntries() {
  if (NameRefused()) return;
  HTINT type = HTTYPE_TEXT_LIST;
  HTUINT reserved = 0;
  HTINT valueType = HTTYPE_TEXT_LIST;
  const void* list = nullptr;
  LastError = HTAPI.HTItemGetPointer(DocHandle, Name.c_str(), &type, &reserved, &valueType, &list);
  if (LastError != 0 || list == nullptr) return;
  // The list data stays valid only until the next call on the document, so every entry is
  // copied out before any translation reaches the API again.
  std::vector<std::string> raw;
  const HTUINT count = HTAPI.HTTextListGetCount(list);
  for (HTUINT index = 1; index <= count; ++index) {
    std::string entry;
    if (FetchEntry(list, index, entry)) raw.push_back(std::move(entry));
  }
  for (const std::string& entry : raw) {
    std::string native;
    Translate_To_Native(entry.c_str(), native);
    Entries.Add(native);
  }
}

std::string TQuireTextListItem::GetEntry(int32_t Index) const {
  if (Index < 0 || Index >= Entries.Count()) return {};
  return Entries.Strings(Index);
}

bool TQuireTextListItem::Admits(const std::string& Value) const {
  return AllowDuplicates || Entries.IndexOf(Value) < 0;
}

void TQuireTextListItem::SetEntry(int32_t Index, const std::string& Value) {
  if (Index < 0 || Index >= Entries.Count()) return;
  if (Admits(Value)) Entries.SetStrings(Index, Value);
}

int32_t TQuireTextListItem::AddEntry(const std::string& Value) {
  if (Value.empty() || !Admits(Value)) return -1;
  const int32_t index = Entries.Add(Value);
  UpdateEntries(Entries);
  return index;
}

void TQuireTextListItem::RemoveEntry(int32_t Index) {
  if (Index < 0 || Index >= Entries.Count()) return;
  Entries.Delete(Index);
  UpdateEntries(Entries);
}

void TQuireTextListItem::RemoveEntryByValue(const std::string& Value) {
  const int index = Entries.IndexOf(Value);
  if (index < 0) return;
  Entries.Delete(index);
  UpdateEntries(Entries);
}

void TQuireTextListItem::RemoveAllEntries() {
  Entries.Clear();
  UpdateEntries(Entries);
}

void TQuireTextListItem::ReplaceEntries(const rtl::TStringList& Strings) {
  UpdateEntries(Strings);
  if (&Strings == &Entries) return;
  Entries.Clear();
  for (int i = 0; i < Strings.Count(); ++i) Entries.Add(Strings.Strings(i));
}

void TQuireTextListItem::UpdateEntries(const rtl::TStringList& Strings) {
  if (NameRefused()) return;
  // The first entry replaces the value itself and the rest are appended, so the list never
  // begins with a stray empty entry left by putting an empty text. No step stops on a
  // failure; LastError ends with the status of the last call.
  const std::string first = Strings.Count() > 0 ? FromNative(Strings.Strings(0)) : std::string();
  LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), HTTYPE_TEXT_LIST, 0, HTTYPE_TEXT, first.c_str(), Flags);
  for (int i = 1; i < Strings.Count(); ++i) {
    const std::string entry = FromNative(Strings.Strings(i));
    LastError = HTAPI.HTItemAppendTextList(DocHandle, Name.c_str(), entry.c_str(), 0, 0);
  }
}
