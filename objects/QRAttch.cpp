#include "objects/QRAttch.h"

#include "binding/Quire01.h"

TQuireAttachment::TQuireAttachment(HTDOCHANDLE DocHandle, uint32_t ListValue1, uint32_t ListValue2,
                                   uint32_t ListValue3, const std::string& /*Created*/,
                                   const std::string& /*Modified*/, const std::string& Name)
    : DocHandle(DocHandle),
      ListValue1(ListValue1),
      ListValue2(ListValue2),
      ListValue3(ListValue3),
      FileName(Name),
      Name(Name) {}

void TQuireAttachment::ExtractFile(const std::string& TargetFile) {
  LastError = HTAPI.HTAttachmentExtract(DocHandle, FileName.c_str(), TargetFile.c_str());
}

void TQuireAttachment::Remove() { LastError = HTAPI.HTAttachmentDelete(DocHandle, FileName.c_str()); }

std::string TQuireAttachment::GetNotesErrorString() const { return GetNotesErrorText(LastError); }
