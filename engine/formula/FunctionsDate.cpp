// Date-time @functions.
#include "engine/formula/Evaluator.h"
#include "engine/formula/Functions.h"
#include "engine/formula/Operators.h"

#include <algorithm>

namespace quire::formula {

namespace {

Value fnNow(std::span<const Value>, const Call& c) { return Value(c.context.now()); }

Value fnToday(std::span<const Value>, const Call& c) {
    DateTime today = c.context.now();
    today.ms = DateTime::kNoTime;
    return Value(today);
}

Value fnCreated(std::span<const Value>, const Call& c) { return Value(c.context.created()); }
Value fnModified(std::span<const Value>, const Call& c) { return Value(c.context.modified()); }

int part(const Call& c, const Value& v) {
    const int64_t n = c.integer(v);
    return static_cast<int>(std::clamp<int64_t>(n, -1'000'000, 1'000'000));
}

Value fnDate(std::span<const Value> a, const Call& c) {
    if (a.size() == 1) {
        Value::DateTimeList out = c.dateTimes(a[0]);
        for (DateTime& dt : out) dt.ms = DateTime::kNoTime;
        return Value(std::move(out));
    }
    CivilDateTime civil;
    civil.year = part(c, a[0]);
    civil.month = part(c, a[1]);
    civil.day = part(c, a[2]);
    DateTime dt;
    if (a.size() == 3) {
        if (!DateTime::dateOnly(civil.year, civil.month, civil.day, dt)) c.fail("invalid date");
        return Value(dt);
    }
    civil.hour = part(c, a[3]);
    civil.minute = part(c, a[4]);
    civil.second = part(c, a[5]);
    if (!DateTime::fromCivil(civil, dt)) c.fail("invalid date or time");
    return Value(dt);
}

enum class Part { Year, Month, Day, Hour, Minute, Second, Weekday };

template <Part kPart>
Value fnPart(std::span<const Value> a, const Call& c) {
    Value::NumberList out;
    for (const DateTime& dt : c.dateTimes(a[0])) {
        const CivilDateTime civil = dt.toCivil();
        int n = -1;
        switch (kPart) {
            case Part::Year: n = dt.hasDate() ? civil.year : -1; break;
            case Part::Month: n = dt.hasDate() ? civil.month : -1; break;
            case Part::Day: n = dt.hasDate() ? civil.day : -1; break;
            case Part::Hour: n = dt.hasTime() ? civil.hour : -1; break;
            case Part::Minute: n = dt.hasTime() ? civil.minute : -1; break;
            case Part::Second: n = dt.hasTime() ? civil.second : -1; break;
            case Part::Weekday: n = dt.hasDate() ? dt.weekday() : -1; break;
        }
        out.push_back(n);
    }
    return Value(std::move(out));
}

// Years and months move the calendar date (clamping the day to the new
// month's length); days and the time parts move by elapsed time.
DateTime adjust(const DateTime& dt, int years, int months, int days, int hours, int minutes, int seconds,
                const Call& c) {
    DateTime out = dt;
    if (dt.hasDate() && (years || months)) {
        const CivilDateTime civil = dt.toCivil();
        const int64_t monthIndex = static_cast<int64_t>(civil.year) * 12 + (civil.month - 1) + years * 12LL + months;
        const int64_t year = monthIndex >= 0 ? monthIndex / 12 : -((-monthIndex + 11) / 12);
        const int month = static_cast<int>(monthIndex - year * 12) + 1;
        if (year < 1 || year > 9999) c.fail("date out of range");
        const int day = std::min(civil.day, daysInMonth(year, month));
        DateTime moved;
        DateTime::dateOnly(static_cast<int>(year), month, day, moved);
        out.date = moved.date;
    }
    const double shift = ((static_cast<double>(days) * 24 + hours) * 60 + minutes) * 60 + seconds;
    return shift == 0 ? out : shiftSeconds(out, shift, c.offset);
}

Value fnAdjust(std::span<const Value> a, const Call& c) {
    int n[6];
    for (size_t i = 0; i < 6; ++i) n[i] = part(c, a[i + 1]);
    Value::DateTimeList out;
    for (const DateTime& dt : c.dateTimes(a[0])) out.push_back(adjust(dt, n[0], n[1], n[2], n[3], n[4], n[5], c));
    return Value(std::move(out));
}

constexpr FunctionDef kDateFunctions[] = {
    {"Now", 0, 0, fnNow},
    {"Today", 0, 0, fnToday},
    {"Created", 0, 0, fnCreated},
    {"Modified", 0, 0, fnModified},
    {"Date", 1, 6, fnDate, nullptr, false, false, (1 << 1) | (1 << 3) | (1 << 6)},
    {"Year", 1, 1, fnPart<Part::Year>},
    {"Month", 1, 1, fnPart<Part::Month>},
    {"Day", 1, 1, fnPart<Part::Day>},
    {"Hour", 1, 1, fnPart<Part::Hour>},
    {"Minute", 1, 1, fnPart<Part::Minute>},
    {"Second", 1, 1, fnPart<Part::Second>},
    {"Weekday", 1, 1, fnPart<Part::Weekday>},
    {"Adjust", 7, 7, fnAdjust},
};

}  // namespace

std::span<const FunctionDef> dateFunctions() { return kDateFunctions; }

}  // namespace quire::formula
