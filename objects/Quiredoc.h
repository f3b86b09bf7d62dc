// Quiredoc: TQuireDocument, one open document of a database.
//
// A document is either opened from its note ID (the constructor, used by the database, the
// views, the folders and the collections) or created new, optionally from a form
// (CreateNewDoc). Either way the creator tests Loaded: false means the object failed,
// LastError says why, and it should be discarded. A loaded document holds an open
// DocHandle, closed when the object is freed (without saving).
//
// When it opens, the document lists its items and attachments once and makes one item
// object (TQuireItem, TQuireTextListItem for text lists, TQuireRTItem for rich text) per
// item and one TQuireAttachment per attachment. It owns them all: GetItem, GetItemByName,
// GetFirstItem, GetAttach and GetAttachment return non-owning pointers that die with the
// document. Items and Attachments are snapshots: the Append...Item operations add to
// Items, anything else that changes the document (AttachFile, Send, other objects) shows
// only in a document object made later. Names are looked up without regard to letter case
// (Unicode case folding), first match wins, and entries with equal names all stay.
//
// The database handle is the creator's and must outlive the document. Failures never
// throw; every API status goes into LastError (for Send, the status of its last call). The
// only exception is rtl::EConvertError from SetParentUNID for a malformed UNID text. File
// names, format names, the form name and each mail recipient longer than kMaxApiText bytes
// are refused with HTFAIL_TEXT_TOO_LONG before any API call. Single-threaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hitest/hitest.h"
#include "objects/QRAttch.h"
#include "objects/QRItem.h"
#include "objects/QRRTItem.h"
#include "objects/QRTLItem.h"
#include "rtl/DateTime.h"
#include "rtl/Export.h"
#include "rtl/StringList.h"

class QUIRE_API TQuireDocument {
 public:
  // Opens the existing document DocID of the database DbHandle.
  TQuireDocument(HTDBHANDLE DbHandle, HTID DocID);
  // Creates a new, unsaved document; an empty FormName creates it without a form, and a
  // form name that names no form does the same. Never null: the caller tests Loaded.
  static std::unique_ptr<TQuireDocument> CreateNewDoc(HTDBHANDLE DbHandle, const std::string& FormName);
  // Frees the items, then the attachments, then closes the document without saving.
  ~TQuireDocument();
  TQuireDocument(const TQuireDocument&) = delete;
  TQuireDocument& operator=(const TQuireDocument&) = delete;

  // The number of items the document holds now, as the API counts them.
  int32_t GetITemCount();
  // nullptr when Index is out of range or no entry matches.
  TQuireItem* GetItem(int32_t Index) const;
  TQuireItem* GetItemByName(const std::string& Name) const;
  TQuireItem* GetFirstItem(const std::string& Name) const;  // nullptr for an empty Name
  TQuireAttachment* GetAttach(int32_t Index) const;
  TQuireAttachment* GetAttachment(const std::string& Name) const;  // nullptr for an empty Name

  // 32 upper-case hexadecimal digits (the form StrToUNID reads); "" when the document is
  // not open or the API fails.
  std::string GetUniversalID();
  std::string GetParentUNID();
  // Makes the document a response to the document of that UNID text. Throws
  // rtl::EConvertError for a malformed text; writes nothing when the document is not open.
  void SetParentUNID(const std::string& Text);

  // The API's message for LastError; "" when it has none.
  std::string GetNotesErrorString() const;
  void GetNotesErrorString(std::string& Text) const { Text = GetNotesErrorString(); }

  // Saves; a save that succeeds (or succeeds with a warning) clears IsNew and gives a new
  // document its note ID in DocID.
  void Save();

  // Each writes a new item into the document and adds it at the end of Items, replacing
  // (and freeing) the first item of that name there. The new item is added even when it
  // reports failure (Valid false); its LastError says why.
  void AppendTextItem(const std::string& Name, const std::string& Value);
  void AppendNumberItem(const std::string& Name, double Value);
  // The value travels as locale text (short date, long time unless midnight) and is read
  // back by the item, so it is stored to the second at most.
  void AppendDateTimeItem(const std::string& Name, rtl::TDateTime Value);
  void AppendRTItem(const std::string& Name, const std::string& Text);
  void AppendTextListItem(const std::string& Name, const std::string& Text);

  // Attaches a file; Attachments and AttachCount do not change.
  void AttachFile(const std::string& FileName);
  // Sets the document's strict-bind property (API document property 1) when Value differs
  // from the last value set; the status is not kept.
  void SetDelayCommit(bool Value);
  // Writes the whole document to FileName in Format; true on success.
  bool ExportDocument(const std::string& FileName, const std::string& Format);
  // Mails the document to the comma-separated Recipients. StoreForm first copies the design
  // items ("$..." but "$UpdatedBy") of the database's form "Person" into the document and
  // deletes its "Form" and "SendTo"; Switch2 and Switch8 add mail flags 2 and 8. True when
  // the mail was sent.
  bool Send(bool StoreForm, bool Switch8, bool Switch2, const std::string& Recipients);

  HTDBHANDLE DbHandle = 0;
  HTDOCHANDLE DocHandle = 0;
  HTID DocID = 0;
  bool Opened = false;
  bool Loaded = false;
  bool IsNew = false;
  rtl::TStringList Items = rtl::TStringList::Owning<TQuireItem>();
  rtl::TStringList Attachments = rtl::TStringList::Owning<TQuireAttachment>();
  int32_t AttachCount = 0;
  uint32_t LastError = 0;
  bool DelayCommit = false;

 private:
  struct NewDocTag {};
  TQuireDocument(NewDocTag, HTDBHANDLE DbHandle, const std::string& FormName);

  // Count: the items the API reports, so Items grows once.
  void ListItems(int32_t Count);
  void ListAttachments();
  void AddItem(const std::string& Name, TQuireItem* Item);
  std::string ReadUNID(HTINT Property);
  void CopyDesignItems(HTID FormID);
  bool AddRecipients(const std::string& Recipients);
};
