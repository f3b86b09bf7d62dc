// The engine's encoding of HTDATETIME, and date-time arithmetic on it.
//
// Encoding (what callers treat as opaque, and what the store keeps in items and columns):
//   lo = milliseconds since midnight (0 .. 86'399'999), or kNoTime (0xFFFFFFFF) when the
//        value has no time part;
//   hi = days since 30 December 1899 plus kDayBias (2^30), or kNoDate (0) when the value has
//        no date part.
// The bias keeps every supported date (years 1 to 9999) positive, so packing a value as
// int64 (hi << 32 | lo) orders date-times chronologically; the store keeps that packed form
// (`pack`/`unpack`). Values are wall-clock local time; the zone part is always 0.
//
// The day numbering is the formula layer's (quire::formula::DateTime: `date` days since
// 30 Dec 1899 or INT32_MIN, `ms` or -1): `toSerial`/`fromSerial` convert to and from that
// pair exactly, so the formula and view layers can move values without calendar math.
//
// The nine parts (HTDatetimeCreate/Fetch) are indexed by HTDATETIMEUNIT; the sub-second part
// carries milliseconds. A value without a date has year, month and day 0; one without a time
// has hour, minute, second and sub-second -1.
#pragma once

#include <array>
#include <cstdint>

#include "hitest/hitest.h"

namespace quire::engine::dt {

constexpr uint32_t kNoTime = 0xFFFFFFFFu;
constexpr uint32_t kNoDate = 0;
constexpr uint32_t kDayBias = 1u << 30;
constexpr int32_t kMsPerDay = 86'400'000;
constexpr int32_t kSerialNoDate = INT32_MIN;  // the formula layer's "no date"
constexpr int32_t kSerialNoTime = -1;         // the formula layer's "no time"

using Parts = std::array<HTINT, HTDATETIME_PART_COUNT>;

inline bool hasDate(const HTDATETIME& v) { return v.hi != kNoDate; }
inline bool hasTime(const HTDATETIME& v) { return v.lo != kNoTime; }

// Days since 30 Dec 1899 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t year, int month, int day);
void civilFromDays(int64_t days, int64_t& year, int& month, int& day);
int daysInMonth(int64_t year, int month);

// Builds a value from parts; false when a part is out of range (e.g. 31 April, hour 24) or
// the year lies outside 1..9999.
bool fromParts(const HTINT* parts, HTDATETIME& out);
Parts toParts(const HTDATETIME& v);

// The formula layer's pair (days since 30 Dec 1899 or kSerialNoDate; ms or kSerialNoTime).
void toSerial(const HTDATETIME& v, int32_t& days, int32_t& ms);
HTDATETIME fromSerial(int32_t days, int32_t ms);

// The store's int64 form; orders chronologically.
inline int64_t pack(const HTDATETIME& v) { return int64_t((uint64_t(v.hi) << 32) | v.lo); }
inline HTDATETIME unpack(int64_t p) { return HTDATETIME{uint32_t(uint64_t(p)), uint32_t(uint64_t(p) >> 32)}; }

// Now, local wall-clock time, to the millisecond.
HTDATETIME now();

// HTDTCONST_MINIMUM (1 Jan 0001 00:00), MAXIMUM (31 Dec 9999 23:59:59.999), WILDCARD (no date,
// no time). False for another constant.
bool constant(HTINT which, HTDATETIME& out);

// -1, 0, 1. When either value lacks a date only the times are compared; when either lacks a
// time only the dates are compared (the formula layer's rule).
int compare(const HTDATETIME& a, const HTDATETIME& b);

// Moves `v` by `amount` units (HTDTUNIT_YEAR..HTDTUNIT_HUNDREDTH; the last is milliseconds).
// Months and years keep the day, clamped to the month's end. False on a bad unit, a part the
// value lacks, or a result outside years 1..9999.
bool adjust(HTDATETIME& v, HTINT unit, int64_t amount);

// first - second in whole `unit`s, truncated toward zero (years and months count calendar
// months). False on a bad unit, missing parts, or a difference beyond 32 bits.
bool difference(const HTDATETIME& first, const HTDATETIME& second, HTINT unit, int32_t& out);

}  // namespace quire::engine::dt
