#include "engine/core/DateTime.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace quire::engine::dt {
namespace {

constexpr int64_t kUnixEpochSerial = 25569;  // 1 Jan 1970 counted from 30 Dec 1899
constexpr int64_t kMinYear = 1;
constexpr int64_t kMaxYear = 9999;

int64_t serialDays(const HTDATETIME& v) { return int64_t(v.hi) - int64_t(kDayBias); }

bool yearInRange(int64_t days) {
  int64_t y;
  int m, d;
  civilFromDays(days, y, m, d);
  return y >= kMinYear && y <= kMaxYear;
}

HTDATETIME make(int64_t days, int64_t ms) { return HTDATETIME{uint32_t(ms), uint32_t(days + kDayBias)}; }

}  // namespace

int64_t daysFromCivil(int64_t y, int month, int day) {
  // Days-from-civil over 400-year eras, shifted so that March is the first month.
  y -= month <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kUnixEpochSerial;
}

void civilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  int64_t z = days - kUnixEpochSerial + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2);
}

int daysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool fromParts(const HTINT* p, HTDATETIME& out) {
  HTDATETIME v{kNoTime, kNoDate};
  const HTINT year = p[HTDTUNIT_YEAR], month = p[HTDTUNIT_MONTH], day = p[HTDTUNIT_DAY];
  if (!(year == 0 && month == 0 && day == 0)) {
    if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
      return false;
    v.hi = uint32_t(daysFromCivil(year, month, day) + kDayBias);
  }
  const HTINT hour = p[HTDTUNIT_HOUR], minute = p[HTDTUNIT_MINUTE], second = p[HTDTUNIT_SECOND],
              milli = p[HTDTUNIT_HUNDREDTH];
  if (hour != -1) {
    // A sub-second part of -1 beside a real time counts as 0: callers that only know
    // seconds often leave it unset.
    const HTINT ms = milli == -1 ? 0 : milli;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 || ms > 999)
      return false;
    v.lo = uint32_t(((hour * 60 + minute) * 60 + second) * 1000 + ms);
  }
  out = v;
  return true;
}

Parts toParts(const HTDATETIME& v) {
  Parts p{};
  if (hasDate(v)) {
    int64_t y;
    int m, d;
    const int64_t days = serialDays(v);
    civilFromDays(days, y, m, d);
    p[HTDTUNIT_YEAR] = HTINT(y);
    p[HTDTUNIT_MONTH] = m;
    p[HTDTUNIT_DAY] = d;
    // 30 Dec 1899 was a Saturday (7).
    p[HTDTUNIT_WEEKDAY] = HTINT(((days % 7) + 7 + 6) % 7 + 1);
  }
  if (hasTime(v)) {
    uint32_t ms = v.lo;
    p[HTDTUNIT_HUNDREDTH] = HTINT(ms % 1000);
    ms /= 1000;
    p[HTDTUNIT_SECOND] = HTINT(ms % 60);
    ms /= 60;
    p[HTDTUNIT_MINUTE] = HTINT(ms % 60);
    p[HTDTUNIT_HOUR] = HTINT(ms / 60);
  } else {
    p[HTDTUNIT_HOUR] = p[HTDTUNIT_MINUTE] = p[HTDTUNIT_SECOND] = p[HTDTUNIT_HUNDREDTH] = -1;
  }
  p[HTDTUNIT_ZONE] = 0;
  return p;
}

void toSerial(const HTDATETIME& v, int32_t& days, int32_t& ms) {
  days = hasDate(v) ? int32_t(serialDays(v)) : kSerialNoDate;
  ms = hasTime(v) ? int32_t(v.lo) : kSerialNoTime;
}

HTDATETIME fromSerial(int32_t days, int32_t ms) {
  HTDATETIME v{kNoTime, kNoDate};
  if (days != kSerialNoDate) v.hi = uint32_t(int64_t(days) + kDayBias);
  if (ms >= 0 && ms < kMsPerDay) v.lo = uint32_t(ms);
  return v;
}

HTDATETIME now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  // The local day and second are worked out once per second and thread: localtime_r takes
  // the time-zone lock and costs as much as a small write, and a save asks the time up to
  // three times. The offset from UTC cannot change within one second of the clock.
  struct Second {
    time_t secs = -1;
    int64_t days = 0;
    int64_t msOfSecond = 0;  // milliseconds of the day at the start of that second
  };
  static thread_local Second last;
  if (tv.tv_sec != last.secs) {
    tm local{};
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &local);
    last.days = daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    last.msOfSecond = ((local.tm_hour * 60 + local.tm_min) * 60 + std::min(local.tm_sec, 59)) * 1000;
    last.secs = tv.tv_sec;
  }
  return make(last.days, last.msOfSecond + tv.tv_usec / 1000);
}

bool constant(HTINT which, HTDATETIME& out) {
  switch (which) {
    case HTDTCONST_MINIMUM:
      out = make(daysFromCivil(kMinYear, 1, 1), 0);
      return true;
    case HTDTCONST_MAXIMUM:
      out = make(daysFromCivil(kMaxYear, 12, 31), kMsPerDay - 1);
      return true;
    case HTDTCONST_WILDCARD:
      out = HTDATETIME{kNoTime, kNoDate};
      return true;
    default:
      return false;
  }
}

int compare(const HTDATETIME& a, const HTDATETIME& b) {
  auto cmp = [](uint32_t x, uint32_t y) { return x < y ? -1 : (x > y ? 1 : 0); };
  if (!hasDate(a) || !hasDate(b)) return cmp(a.lo, b.lo);
  if (!hasTime(a) || !hasTime(b)) return cmp(a.hi, b.hi);
  int c = cmp(a.hi, b.hi);
  return c != 0 ? c : cmp(a.lo, b.lo);
}

bool adjust(HTDATETIME& v, HTINT unit, int64_t amount) {
  if (unit == HTDTUNIT_YEAR || unit == HTDTUNIT_MONTH) {
    if (!hasDate(v)) return false;
    int64_t y;
    int m, d;
    civilFromDays(serialDays(v), y, m, d);
    int64_t months = y * 12 + (m - 1) + (unit == HTDTUNIT_YEAR ? amount * 12 : amount);
    int64_t ny = months >= 0 ? months / 12 : (months - 11) / 12;
    int nm = int(months - ny * 12) + 1;
    if (ny < kMinYear || ny > kMaxYear) return false;
    d = std::min(d, daysInMonth(ny, nm));
    v.hi = uint32_t(daysFromCivil(ny, nm, d) + kDayBias);
    return true;
  }
  int64_t unitMs;
  switch (unit) {
    case HTDTUNIT_DAY: unitMs = kMsPerDay; break;
    case HTDTUNIT_HOUR: unitMs = 3'600'000; break;
    case HTDTUNIT_MINUTE: unitMs = 60'000; break;
    case HTDTUNIT_SECOND: unitMs = 1000; break;
    case HTDTUNIT_HUNDREDTH: unitMs = 1; break;
    default: return false;
  }
  if (std::llabs(amount) > int64_t(1) << 40) return false;
  if (unit == HTDTUNIT_DAY) {
    if (!hasDate(v)) return false;
    const int64_t days = serialDays(v) + amount;
    if (!yearInRange(days)) return false;
    v.hi = uint32_t(days + kDayBias);
    return true;
  }
  if (!hasTime(v)) return false;
  int64_t total = int64_t(v.lo) + amount * unitMs;
  if (!hasDate(v)) {
    // A time of day alone wraps around midnight.
    total %= kMsPerDay;
    if (total < 0) total += kMsPerDay;
    v.lo = uint32_t(total);
    return true;
  }
  int64_t days = serialDays(v) + (total >= 0 ? total / kMsPerDay : (total - kMsPerDay + 1) / kMsPerDay);
  int64_t ms = total - (days - serialDays(v)) * kMsPerDay;
  if (!yearInRange(days)) return false;
  v = make(days, ms);
  return true;
}

bool difference(const HTDATETIME& a, const HTDATETIME& b, HTINT unit, int32_t& out) {
  int64_t result;
  if (unit == HTDTUNIT_YEAR || unit == HTDTUNIT_MONTH) {
    if (!hasDate(a) || !hasDate(b)) return false;
    int64_t ya, yb;
    int ma, mb, da, db;
    civilFromDays(serialDays(a), ya, ma, da);
    civilFromDays(serialDays(b), yb, mb, db);
    int64_t months = (ya * 12 + ma) - (yb * 12 + mb);
    // A month counts only once its day (and time) is reached.
    const int64_t restA = int64_t(da) * kMsPerDay + (hasTime(a) ? a.lo : 0);
    const int64_t restB = int64_t(db) * kMsPerDay + (hasTime(b) ? b.lo : 0);
    if (months > 0 && restA < restB) --months;
    if (months < 0 && restA > restB) ++months;
    result = unit == HTDTUNIT_YEAR ? months / 12 : months;
  } else {
    int64_t unitMs;
    switch (unit) {
      case HTDTUNIT_DAY: unitMs = kMsPerDay; break;
      case HTDTUNIT_HOUR: unitMs = 3'600'000; break;
      case HTDTUNIT_MINUTE: unitMs = 60'000; break;
      case HTDTUNIT_SECOND: unitMs = 1000; break;
      case HTDTUNIT_HUNDREDTH: unitMs = 1; break;
      default: return false;
    }
    int64_t msA, msB;
    if (!hasDate(a) || !hasDate(b)) {
      if (!hasTime(a) || !hasTime(b)) return false;
      msA = a.lo;
      msB = b.lo;
    } else if (!hasTime(a) || !hasTime(b)) {
      msA = serialDays(a) * kMsPerDay;
      msB = serialDays(b) * kMsPerDay;
    } else {
      msA = serialDays(a) * kMsPerDay + a.lo;
      msB = serialDays(b) * kMsPerDay + b.lo;
    }
    result = (msA - msB) / unitMs;
  }
  if (result < std::numeric_limits<int32_t>::min() || result > std::numeric_limits<int32_t>::max()) return false;
  out = int32_t(result);
  return true;
}

}  // namespace quire::engine::dt
