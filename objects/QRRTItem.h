// QRRTItem: TQuireRTItem, a rich-text item (HTTYPE_COMPOSITE) with an open composite
// handle, which imports a file into the item and exports the item to a file.
//
// The object holds CompositeHandle from construction on and closes it when it is freed; a
// successful import replaces it (the old handle is closed). It lives as long as the
// document that lists it (or its creator) and must be freed before that document closes.
//
// Its own calls report through RTLastError and the Boolean results of FileImport and
// FileExport; GetNotesErrorString speaks of RTLastError. The base class's calls keep
// reporting through LastError. File and format names are passed through to the API as
// they are, and refused with HTFAIL_TEXT_TOO_LONG (in RTLastError) beyond kMaxApiText
// bytes. Nothing throws. Single-threaded.
#pragma once

#include <cstdint>
#include <string>

#include "objects/QRItem.h"
#include "rtl/Export.h"

class QUIRE_API TQuireRTItem : public TQuireItem {
 public:
  // IsNewItem false opens the existing rich-text item; IsNewItem true first writes a new
  // rich-text item made from Text, then opens it.
  TQuireRTItem(HTDOCHANDLE DocHandle, const std::string& Name, const std::string& Text, bool IsNewItem);
  ~TQuireRTItem() override;

  // True when the file was imported into the item; Format names the import format as the
  // API knows it.
  bool FileImport(const std::string& FileName, const std::string& Format);
  // True when the item was written to the file in Format.
  bool FileExport(const std::string& FileName, const std::string& Format);

  // The API's message for RTLastError; "" when it has none.
  std::string GetNotesErrorString() const;
  void GetNotesErrorString(std::string& Text) const { Text = GetNotesErrorString(); }

  HTCOMPHANDLE CompositeHandle = 0;
  uint32_t RTLastError = 0;

 private:
  bool FileNamesRefused(const std::string& FileName, const std::string& Format);
};
