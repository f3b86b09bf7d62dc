#include "objects/QRItem.h"

#include <array>
#include <cstring>
#include <vector>

#include "binding/Quire01.h"
#include "rtl/FormatSettings.h"

namespace {

using DateParts = std::array<HTINT, HTDATETIME_PART_COUNT>;

// Turns an API text buffer into a string, never reading past its end even when the API
// left it unterminated.
std::string BufferText(const std::vector<char>& buffer) {
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

std::string ToNative(const std::string& lmbcs) {
  std::string native;
  Translate_To_Native(lmbcs.c_str(), native);
  return native;
}

std::string FromNative(const std::string& native) {
  std::string lmbcs;
  Translate_From_Native(native.c_str(), lmbcs);
  return lmbcs;
}

}  // namespace

TQuireItem::TQuireItem(HTDOCHANDLE DocHandle, const std::string& Name, const std::string& Text, double Number,
                       bool IsNewItem, TQRItemType ItemType)
    : DocHandle(DocHandle), Name(Name) {
  if (!IsNewItem) {
    ReadFlags();
    return;
  }
  this->ItemType = ItemType;
  if (NameRefused()) {
    Valid = false;
    return;
  }
  switch (ItemType) {
    case qrTypeDateTime:
      WriteNewDateTime(Text);
      break;
    case qrTypeNumber:
      // A number item made with a text writes nothing: the text is not a number, and the
      // caller decides what to do with an item it asked for in the wrong form.
      if (!Text.empty()) return;
      LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), HTTYPE_NUMBER, 0, HTTYPE_NUMBER, &Number, 0);
      if (LastError != 0) Valid = false;
      break;
    default: {
      // Derived item classes rewrite the item in their own type afterwards.
      const std::string value = FromNative(Text);
      LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), HTTYPE_TEXT, 0, HTTYPE_TEXT, value.c_str(), 0);
      if (LastError != 0) Valid = false;
      break;
    }
  }
}

TQuireItem::TQuireItem(WrittenByDerived, HTDOCHANDLE DocHandle, const std::string& Name, bool IsNewItem,
                       TQRItemType ItemType)
    : DocHandle(DocHandle), Name(Name) {
  if (!IsNewItem) {
    ReadFlags();
    return;
  }
  this->ItemType = ItemType;
  if (NameRefused()) Valid = false;
}

void TQuireItem::WriteNewDateTime(const std::string& Text) {
  rtl::TDateTime value;
  if (!rtl::TryStrToDateTime(Text, value)) value = kQuireNewDateDefault;
  HTDATETIME datetime{};
  DateTimeToHTDATETIME(datetime, value);
  if (LastError != 0) {
    Valid = false;
    return;
  }
  // The status is kept so that an item that could not be written says why.
  LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), HTTYPE_DATETIME, 0, HTTYPE_DATETIME, &datetime, 0);
  if (LastError != 0) Valid = false;
}

bool TQuireItem::NameRefused() {
  if (Name.size() <= kMaxApiText) return false;
  LastError = HTFAIL_TEXT_TOO_LONG;
  return true;
}

std::string TQuireItem::GetText() {
  if (NameRefused()) return {};
  HTUINT reserved = 0;
  HTINT valueType = HTTYPE_TEXT;
  HTUINT length = 0;
  LastError = HTAPI.HTItemGetLength(DocHandle, Name.c_str(), &reserved, &valueType, &length);
  if (LastError != 0) {
    Valid = false;
    return {};
  }
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  Length = static_cast<int32_t>(length + 1);
  HTINT type = InfoType;
  HTUINT room = static_cast<HTUINT>(buffer.size());
  valueType = HTTYPE_TEXT;
  LastError = HTAPI.HTItemFetch(DocHandle, Name.c_str(), &type, &room, &valueType, buffer.data());
  if (LastError != 0) return {};
  return ToNative(BufferText(buffer));
}

void TQuireItem::SetText(const std::string& Value) {
  if (NameRefused()) return;
  const std::string value = FromNative(Value);
  LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), 0, 0, HTTYPE_TEXT, value.c_str(), Flags);
}

double TQuireItem::GetAsNumber() {
  if (NameRefused()) return 0.0;
  double value = 0.0;
  HTINT type = 0;
  // The room is the size of the number itself, so the API can never write past it.
  HTUINT room = sizeof value;
  HTINT valueType = HTTYPE_NUMBER;
  LastError = HTAPI.HTItemFetch(DocHandle, Name.c_str(), &type, &room, &valueType, &value);
  Length = static_cast<int32_t>(room);
  return LastError == 0 ? value : 0.0;
}

void TQuireItem::SetAsNumber(double Value) {
  if (NameRefused()) return;
  LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), 0, sizeof Value, HTTYPE_NUMBER, &Value, Flags);
}

rtl::TDateTime TQuireItem::GetAsDate() {
  if (NameRefused()) return kQuireDateFallback;
  HTDATETIME datetime{};
  HTINT type = 0;
  HTUINT room = sizeof datetime;
  HTINT valueType = HTTYPE_DATETIME;
  LastError = HTAPI.HTItemFetch(DocHandle, Name.c_str(), &type, &room, &valueType, &datetime);
  Length = static_cast<int32_t>(room);
  if (LastError != 0) return kQuireDateFallback;
  rtl::TDateTime value;
  HTDATETIMEToDateTime(value, datetime);
  return value;
}

void TQuireItem::SetAsDate(rtl::TDateTime Value) {
  if (NameRefused()) return;
  HTDATETIME datetime{};
  DateTimeToHTDATETIME(datetime, Value);
  // Writing after a failed conversion would store an arbitrary date.
  if (LastError != 0) return;
  LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), 0, 0, HTTYPE_DATETIME, &datetime, Flags);
}

int32_t TQuireItem::GetLength() {
  if (NameRefused()) return 0;
  HTUINT reserved = 0;
  HTINT valueType = 0;
  HTUINT length = 0;
  LastError = HTAPI.HTItemGetLength(DocHandle, Name.c_str(), &reserved, &valueType, &length);
  if (LastError != 0) return 0;
  Length = static_cast<int32_t>(length);
  return Length;
}

void TQuireItem::ReadFlags() {
  if (NameRefused()) {
    Valid = false;
    return;
  }
  HTINT type = 0;
  HTUINT flags = 0;
  HTUINT length = 0;
  LastError = HTAPI.HTItemGetInfo(DocHandle, Name.c_str(), &type, &flags, &length);
  if (LastError != 0) {
    Valid = false;
    return;
  }
  InfoType = type;
  Flags = flags;
  Length = static_cast<int32_t>(length);
  // Clear bits leave the Booleans as they were (false after construction).
  if (Flags & kItemFlagNames) IsNames = true;
  if (Flags & kItemFlagSigned) IsSigned = true;
  if (Flags & kItemFlagReaders) IsReaders = true;
  if (Flags & kItemFlagProtected) IsProtected = true;
  if (Flags & kItemFlagEncrypted) IsEncrypted = true;
  if (Flags & kItemFlagAuthors) IsAuthors = true;
  ItemType = static_cast<TQRItemType>(static_cast<int8_t>(InfoType & 0xFF));
}

void TQuireItem::WriteFlags() {
  if (NameRefused()) return;
  // The value is fetched and put back in the item's own form, measured in that form, so a
  // number or a list is copied byte for byte whatever its text rendering would be.
  HTUINT reserved = 0;
  HTINT valueType = 0;
  HTUINT length = 0;
  LastError = HTAPI.HTItemGetLength(DocHandle, Name.c_str(), &reserved, &valueType, &length);
  if (LastError != 0) {
    Valid = false;
    return;
  }
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  HTINT type = InfoType;
  HTUINT room = static_cast<HTUINT>(buffer.size());
  valueType = 0;
  LastError = HTAPI.HTItemFetch(DocHandle, Name.c_str(), &type, &room, &valueType, buffer.data());
  // Putting back a buffer the fetch did not fill would overwrite the value with garbage.
  if (LastError != 0) return;
  Length = static_cast<int32_t>(length);
  LastError = HTAPI.HTItemPut(DocHandle, Name.c_str(), 0, length, type, buffer.data(), Flags);
}

void TQuireItem::SetFlag(bool& Field, uint32_t Bit, bool Value) {
  if (Field == Value) return;
  Field = Value;
  if (Value) {
    Flags |= Bit;
  } else {
    Flags &= ~Bit;
  }
  WriteFlags();
}

void TQuireItem::SetIsAuthors(bool Value) { SetFlag(IsAuthors, kItemFlagAuthors, Value); }
void TQuireItem::SetIsReaders(bool Value) { SetFlag(IsReaders, kItemFlagReaders, Value); }
void TQuireItem::SetIsNames(bool Value) { SetFlag(IsNames, kItemFlagNames, Value); }
void TQuireItem::SetIsProtected(bool Value) { SetFlag(IsProtected, kItemFlagProtected, Value); }
void TQuireItem::SetIsEncrypted(bool Value) { SetFlag(IsEncrypted, kItemFlagEncrypted, Value); }
void TQuireItem::SetIsSigned(bool Value) { SetFlag(IsSigned, kItemFlagSigned, Value); }

void TQuireItem::DateTimeToHTDATETIME(HTDATETIME& HTDT, rtl::TDateTime Value) {
  int year, month, day, hour, minute, second, millisecond;
  if (!rtl::DecodeDateTime(Value, year, month, day, hour, minute, second, millisecond)) {
    LastError = HTFAIL_INVALID_ARGUMENT;
    return;
  }
  DateParts parts{};
  parts[HTDTUNIT_YEAR] = year;
  parts[HTDTUNIT_MONTH] = month;
  parts[HTDTUNIT_DAY] = day;
  parts[HTDTUNIT_HOUR] = hour;
  parts[HTDTUNIT_MINUTE] = minute;
  parts[HTDTUNIT_SECOND] = second;
  // The sub-second unit carries milliseconds in this API, so nothing is lost to scaling.
  parts[HTDTUNIT_HUNDREDTH] = millisecond;
  LastError = HTAPI.HTDatetimeCreate(parts.data(), 1, &HTDT);
}

void TQuireItem::HTDATETIMEToDateTime(rtl::TDateTime& Value, const HTDATETIME& HTDT) {
  const HTDATETIME copy = HTDT;
  DateParts parts{};
  LastError = HTAPI.HTDatetimeFetch(&copy, parts.data());
  if (LastError != 0) {
    Value = kQuireDateFallback;
    return;
  }
  // An absent date has year 0; an absent time has hour -1. Hour 0 is a real time of day,
  // so its minutes, seconds and milliseconds are kept.
  const bool hasDate = parts[HTDTUNIT_YEAR] > 0;
  const bool hasTime = parts[HTDTUNIT_HOUR] >= 0;
  rtl::TDateTime date = 0.0;
  rtl::TDateTime time = 0.0;
  bool ok = true;
  if (hasDate) ok = rtl::TryEncodeDate(parts[HTDTUNIT_YEAR], parts[HTDTUNIT_MONTH], parts[HTDTUNIT_DAY], date);
  if (ok && hasTime) {
    ok = rtl::TryEncodeTime(parts[HTDTUNIT_HOUR], parts[HTDTUNIT_MINUTE], parts[HTDTUNIT_SECOND],
                            parts[HTDTUNIT_HUNDREDTH], time);
  }
  if (!ok) {
    LastError = HTFAIL_INVALID_ARGUMENT;
    Value = kQuireDateFallback;
    return;
  }
  // Before 30 December 1899 the time of day is the absolute fraction of a negative value.
  Value = date < 0 ? date - time : date + time;
}

std::string TQuireItem::GetNotesErrorString() const { return GetNotesErrorText(LastError); }
