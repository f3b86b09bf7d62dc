// QRItem: TQuireItem, one named item (field) of an open document, and the conversion
// between calendar values and the API's HTDATETIME.
//
// An item object holds no API handle of its own: it names its item in the document whose
// handle it was given, and that document handle must stay open while the item is used.
// Items listed by a document belong to the document (TQuireDocument frees them); an item
// made directly belongs to whoever made it.
//
// Failures never throw. Each call leaves its API status in LastError and readers answer a
// fixed fallback: the empty text, 0.0, the calendar value 2.5 (1 January 1900 12:00:00), or
// length 0. Valid starts true and only ever becomes false: when the item could not be
// written or its information could not be read.
//
// Texts cross the API in LMBCS while TranslateOn is set (Translate_From_Native on the way
// in, Translate_To_Native on the way out); numbers and dates are never translated. Item
// names of more than kMaxApiText bytes are refused with HTFAIL_TEXT_TOO_LONG and never
// reach the API.
//
// Single-threaded, like the document it belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "binding/Quire02.h"
#include "hitest/hitest.h"
#include "rtl/DateTime.h"
#include "rtl/Export.h"

// The longest text (in bytes, without the terminator) that the object model passes to the
// API for a name, a file name, a format name or a mail recipient. Longer texts are refused
// with HTFAIL_TEXT_TOO_LONG rather than cut: a cut name or path would silently address a
// different item, file or person.
inline constexpr std::size_t kMaxApiText = 255;

// Item flag bits, passed through the API unchanged.
inline constexpr uint32_t kItemFlagSigned = 0x0001;
inline constexpr uint32_t kItemFlagEncrypted = 0x0002;
inline constexpr uint32_t kItemFlagAuthors = 0x0020;
inline constexpr uint32_t kItemFlagNames = 0x0040;
inline constexpr uint32_t kItemFlagProtected = 0x0200;
inline constexpr uint32_t kItemFlagReaders = 0x0400;

// The fallback of GetAsDate and of HTDATETIMEToDateTime: 1 January 1900 12:00:00.
inline constexpr rtl::TDateTime kQuireDateFallback = 2.5;
// What a new date-time item stores when its text is neither a date-time nor a date:
// 1 January 1996 00:00:00.
inline constexpr rtl::TDateTime kQuireNewDateDefault = 35065.0;

class QUIRE_API TQuireItem {
 public:
  // IsNewItem false: the item must exist in the document; only its information and flags
  // are read (ItemType comes from the document). IsNewItem true: the item is written from
  // Text (or, for qrTypeNumber with an empty Text, from Number); a date-time item parses
  // Text in the locale's short date format with an optional time. The caller tests Valid.
  TQuireItem(HTDOCHANDLE DocHandle, const std::string& Name, const std::string& Text, double Number,
             bool IsNewItem, TQRItemType ItemType);
  virtual ~TQuireItem() = default;
  TQuireItem(const TQuireItem&) = delete;
  TQuireItem& operator=(const TQuireItem&) = delete;

  // The value rendered as text by the API, whatever the item's type; "" on failure (a
  // failed length read also clears Valid).
  virtual std::string GetText();
  // Replaces the value by a text under the current Flags.
  void SetText(const std::string& Value);
  // The value as a number; 0.0 on failure.
  double GetAsNumber();
  void SetAsNumber(double Value);
  // The value as a calendar value; kQuireDateFallback (2.5) on failure.
  rtl::TDateTime GetAsDate();
  // Writes Value as a date-time under the current Flags; a Value outside years 1..9999
  // (or not finite) is refused with HTFAIL_INVALID_ARGUMENT and nothing is written.
  void SetAsDate(rtl::TDateTime Value);
  // Length of the value in its own form; 0 on failure.
  int32_t GetLength();

  // Reads type, flags and length; sets each flag Boolean whose bit is set.
  void ReadFlags();
  // Rewrites the value unchanged under the current Flags.
  void WriteFlags();
  // Each setter does nothing when Value equals the current Boolean; otherwise it sets or
  // clears the bit in Flags and rewrites the item (WriteFlags).
  void SetIsAuthors(bool Value);
  void SetIsReaders(bool Value);
  void SetIsNames(bool Value);
  void SetIsProtected(bool Value);
  void SetIsEncrypted(bool Value);
  void SetIsSigned(bool Value);

  // Calendar value -> HTDATETIME: year..millisecond by the proleptic Gregorian calendar,
  // the sub-second part carrying milliseconds. A value outside years 1..9999 leaves HTDT
  // alone and LastError HTFAIL_INVALID_ARGUMENT; otherwise LastError is the API's status.
  void DateTimeToHTDATETIME(HTDATETIME& HTDT, rtl::TDateTime Value);
  // HTDATETIME -> calendar value: the date part when the year is above 0, the time of day
  // (milliseconds included) when the hour is 0 or more, the sum when both are present.
  // A failed fetch, or parts that name no calendar value, give kQuireDateFallback with the
  // status (HTFAIL_INVALID_ARGUMENT for bad parts) in LastError.
  void HTDATETIMEToDateTime(rtl::TDateTime& Value, const HTDATETIME& HTDT);

  // The API's message for LastError; "" when it has none.
  std::string GetNotesErrorString() const;
  void GetNotesErrorString(std::string& Text) const { Text = GetNotesErrorString(); }

  uint32_t Flags = 0;
  bool Valid = true;
  bool IsNames = false;
  bool IsSigned = false;
  bool IsReaders = false;
  bool IsProtected = false;
  bool IsEncrypted = false;
  bool IsAuthors = false;
  HTDOCHANDLE DocHandle = 0;
  uint32_t LastError = 0;
  std::string Name;
  int32_t InfoType = 0;
  TQRItemType ItemType = qrTypeInvalid;
  int32_t Length = 0;

 protected:
  // For a derived item that writes a new value in its own type itself: nothing is written
  // here (a text written first would only be replaced at once). An existing item has its
  // flags read as by the public constructor; a refused name clears Valid.
  struct WrittenByDerived {};
  TQuireItem(WrittenByDerived, HTDOCHANDLE DocHandle, const std::string& Name, bool IsNewItem, TQRItemType ItemType);

  // True (with LastError HTFAIL_TEXT_TOO_LONG) when Name may not be sent to the API.
  bool NameRefused();

 private:
  void WriteNewDateTime(const std::string& Text);
  void SetFlag(bool& Field, uint32_t Bit, bool Value);
};
