// Quire02: the enumerations of the API, plus the library's item-type and list-position types.
//
// The API's constant groups live in hitest/HTEnums.h, shared with the engine; this module
// adds TQRItemType (mirrors HTTYPE) and TQRList (mirrors HTLIST). Every type is 4 bytes and
// every member's ordinal is the API's value, so members travel to the API unmapped.
#pragma once

#include <cstdint>

#include "hitest/HTEnums.h"

enum TQRItemType : int32_t {
  qrTypeInvalid = 0,
  qrTypeNumber = 1,
  qrTypeText = 2,
  qrTypeDateTime = 3,
  qrTypeTextList = 4,
  qrTypeNumberList = 5,
  qrTypeDateTimeList = 6,
  qrTypeComposite = 7,
  qrTypeFormula = 8,
};
static_assert(sizeof(TQRItemType) == 4);

enum TQRList : int32_t {
  qrDummy = 0,
  qrRefresh = 1,
  qrFirst = 2,
  qrLast = 3,
  qrNext = 4,
  qrPrev = 5,
  qrCurrent = 6,
};
static_assert(sizeof(TQRList) == 4);
