// QRAttch: TQuireAttachment, one file attached to a document, which can be extracted to
// disk or deleted from the document.
//
// The document that lists an attachment owns it; it must not be used after the document
// is freed. DocHandle is the document's handle and is not owned. After Remove the object
// keeps describing the deleted attachment, and later calls fail with the API's status.
// Failures never throw: each call leaves its status in LastError. Single-threaded.
#pragma once

#include <cstdint>
#include <string>

#include "hitest/hitest.h"
#include "rtl/Export.h"

class QUIRE_API TQuireAttachment {
 public:
  // ListValue1..3 are the three leading values of the API's attachment record, kept
  // unchanged. Created and Modified are accepted and not kept.
  TQuireAttachment(HTDOCHANDLE DocHandle, uint32_t ListValue1, uint32_t ListValue2, uint32_t ListValue3,
                   const std::string& Created, const std::string& Modified, const std::string& Name);
  TQuireAttachment(const TQuireAttachment&) = delete;
  TQuireAttachment& operator=(const TQuireAttachment&) = delete;

  // Writes the attached file to TargetFile.
  void ExtractFile(const std::string& TargetFile);
  // Deletes the attachment from the document.
  void Remove();

  // The API's message for LastError; "" when it has none.
  std::string GetNotesErrorString() const;
  void GetNotesErrorString(std::string& Text) const { Text = GetNotesErrorString(); }

  HTDOCHANDLE DocHandle = 0;
  uint32_t ListValue1 = 0;
  uint32_t ListValue2 = 0;
  uint32_t ListValue3 = 0;
  std::string FileName;  // the name sent to the API
  std::string Name;      // the name shown to callers
  bool Valid = true;
  uint32_t LastError = 0;
};
