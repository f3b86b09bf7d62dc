// QRTLItem: TQuireTextListItem, an item holding a list of texts (HTTYPE_TEXT_LIST).
//
// Entries is a snapshot of the list taken when the object is made; afterwards only this
// object's operations change it, and changes made to the item by other objects are not
// seen. Every changing operation except SetEntry writes the whole list back into the
// document at once (UpdateEntries); SetEntry only edits Entries, and its change reaches
// the document with the next write-back. The write-back keeps the item's own Flags.
//
// Entries are matched without regard to letter case (Unicode case folding). Entry texts
// are translated like every other text value while TranslateOn is set. There is no length
// limit on an entry. Out-of-range indices are ignored; nothing throws; statuses go into
// the base class's LastError.
//
// The item is owned like any TQuireItem; Entries and the list GetAsStrings returns belong
// to the item and die with it. Single-threaded.
#pragma once

#include <cstdint>
#include <string>

#include "objects/QRItem.h"
#include "rtl/Export.h"
#include "rtl/StringList.h"

class QUIRE_API TQuireTextListItem : public TQuireItem {
 public:
  // IsNewItem false reads the existing item's entries (entries the API cannot fetch, such
  // as empty ones, are skipped). IsNewItem true writes a new list whose single entry is
  // Text; Entries then starts with Text, or empty when Text is empty.
  TQuireTextListItem(HTDOCHANDLE DocHandle, const std::string& Name, const std::string& Text, bool IsNewItem);

  int32_t GetCount() const { return Entries.Count(); }
  // "" when Index is out of range.
  std::string GetEntry(int32_t Index) const;
  // Replaces an entry in Entries only; no write-back.
  void SetEntry(int32_t Index, const std::string& Value);
  // Index of the new entry, or -1 when nothing was added (empty Value, or a duplicate
  // while AllowDuplicates is false). An empty Value makes no API call.
  int32_t AddEntry(const std::string& Value);
  void RemoveEntry(int32_t Index);
  void RemoveEntryByValue(const std::string& Value);
  void RemoveAllEntries();
  // Writes Strings as the item's entries, then makes Entries a copy of them.
  void ReplaceEntries(const rtl::TStringList& Strings);
  // Writes Strings as the item's entries without touching Entries.
  void UpdateEntries(const rtl::TStringList& Strings);
  // Entries itself, still owned by the item; edits reach the document at the next
  // write-back.
  rtl::TStringList* GetAsStrings() { return &Entries; }

  rtl::TStringList Entries;
  bool AllowDuplicates = true;

 private:
  void ReadEntries();
  bool Admits(const std::string& Value) const;
};
