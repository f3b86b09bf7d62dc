// Date-time entry points. They need no initialised engine: values are self-contained.
#include <cstring>

#include "engine/core/DateTime.h"
#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"

using namespace quire::engine;

HT_EXPORT HTSTATUS HTDatetimeGetCurrent(HTDATETIME* datetime) {
  return guard([&] {
    HT_REQUIRE_ARG(datetime);
    *datetime = dt::now();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDatetimeCreate(const HTINT* parts, HTUINT flags, HTDATETIME* datetime) {
  return guard([&] {
    HT_REQUIRE_ARG(parts);
    HT_REQUIRE_ARG(datetime);
    if (!dt::fromParts(parts, *datetime)) return fail(HTFAIL_INVALID_ARGUMENT, "Invalid date or time");
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDatetimeConstant(HTINT constant, HTDATETIME* datetime) {
  return guard([&] {
    HT_REQUIRE_ARG(datetime);
    if (!dt::constant(constant, *datetime)) return fail(HTFAIL_INVALID_ARGUMENT, "Unknown date-time constant");
    return HTSUCCESS;
  });
}

// HTDATETIME_JULIAN: the Julian day number of the date; HTDATETIME_TICKS: milliseconds
// since midnight. Both 32-bit.
HT_EXPORT HTSTATUS HTDatetimeGetProperty(const HTDATETIME* datetime, HTINT property, void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(datetime);
    HT_REQUIRE_ARG(value);
    int32_t days, ms, out;
    dt::toSerial(*datetime, days, ms);
    switch (property) {
      case HTDATETIME_JULIAN:
        if (!dt::hasDate(*datetime)) return fail(HTFAIL_INVALID_ARGUMENT, "The date-time has no date");
        out = days + 2415019;  // 30 Dec 1899 is Julian day 2415019
        break;
      case HTDATETIME_TICKS:
        if (!dt::hasTime(*datetime)) return fail(HTFAIL_INVALID_ARGUMENT, "The date-time has no time");
        out = ms;
        break;
      default: return fail(HTFAIL_UNKNOWN_PROPERTY, "Unknown date-time property");
    }
    std::memcpy(value, &out, sizeof out);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDatetimeFetch(const HTDATETIME* datetime, HTINT* parts) {
  return guard([&] {
    HT_REQUIRE_ARG(datetime);
    HT_REQUIRE_ARG(parts);
    dt::Parts p = dt::toParts(*datetime);
    std::memcpy(parts, p.data(), sizeof(HTINT) * p.size());
    return HTSUCCESS;
  });
}

HT_EXPORT HTINT HTDatetimeCompare(const HTDATETIME* first, const HTDATETIME* second) {
  if (!first || !second) return first ? 1 : (second ? -1 : 0);
  return dt::compare(*first, *second);
}

HT_EXPORT HTSTATUS HTDatetimeGetDiff(const HTDATETIME* first, const HTDATETIME* second, HTINT unit, HTINT* difference) {
  return guard([&] {
    HT_REQUIRE_ARG(first);
    HT_REQUIRE_ARG(second);
    HT_REQUIRE_ARG(difference);
    int32_t d;
    if (!dt::difference(*first, *second, unit, d))
      return fail(HTFAIL_INVALID_ARGUMENT, "The difference cannot be expressed in that unit");
    *difference = d;
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDatetimeAdjust(HTDATETIME* datetime, HTINT unit, HTINT amount) {
  return guard([&] {
    HT_REQUIRE_ARG(datetime);
    HTDATETIME v = *datetime;
    if (!dt::adjust(v, unit, amount)) return fail(HTFAIL_INVALID_ARGUMENT, "The date-time cannot be adjusted that way");
    *datetime = v;
    return HTSUCCESS;
  });
}
