#include "objects/QRRTItem.h"

#include "binding/Quire01.h"

TQuireRTItem::TQuireRTItem(HTDOCHANDLE DocHandle, const std::string& Name, const std::string& Text, bool IsNewItem)
    : TQuireItem(DocHandle, Name, Text, 0.0, IsNewItem, qrTypeComposite) {
  if (Name.size() > kMaxApiText) {
    RTLastError = HTFAIL_TEXT_TOO_LONG;
    return;
  }
  if (IsNewItem) {
    std::string value;
    Translate_From_Native(Text.c_str(), value);
    RTLastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), HTTYPE_COMPOSITE, 0, HTTYPE_TEXT, value.c_str(), 0);
  }
  RTLastError = HTAPI.HTCompositeOpen(DocHandle, Name.c_str(), &CompositeHandle);
  if (RTLastError != 0) CompositeHandle = 0;
}

TQuireRTItem::~TQuireRTItem() {
  if (CompositeHandle != 0) HTAPI.HTCompositeClose(CompositeHandle, 0);
}

bool TQuireRTItem::FileNamesRefused(const std::string& FileName, const std::string& Format) {
  if (FileName.size() <= kMaxApiText && Format.size() <= kMaxApiText && Name.size() <= kMaxApiText) return false;
  RTLastError = HTFAIL_TEXT_TOO_LONG;
  return true;
}

bool TQuireRTItem::FileImport(const std::string& FileName, const std::string& Format) {
  if (FileNamesRefused(FileName, Format)) return false;
  HTCOMPHANDLE imported = 0;
  RTLastError = HTAPI.HTCompositeImport(DocHandle, Name.c_str(), FileName.c_str(), Format.c_str(), 0, &imported);
  if (RTLastError != 0) return false;
  // The import gives a fresh handle on the rewritten item; the old one would only leak.
  if (CompositeHandle != 0 && CompositeHandle != imported) HTAPI.HTCompositeClose(CompositeHandle, 0);
  CompositeHandle = imported;
  return true;
}

bool TQuireRTItem::FileExport(const std::string& FileName, const std::string& Format) {
  if (FileNamesRefused(FileName, Format)) return false;
  RTLastError = HTAPI.HTCompositeExport(CompositeHandle, FileName.c_str(), Format.c_str());
  return RTLastError == 0;
}

std::string TQuireRTItem::GetNotesErrorString() const { return GetNotesErrorText(RTLastError); }
