#include "engine/formula/Value.h"

#include <cmath>
#include <cstdio>

namespace quire::formula {

namespace {

// Day 0 of the calendar value, counted from 1 January 1970.
constexpr int64_t kEpochShift = 25569;
constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;

bool isLeap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

// Civil-from-days and days-from-civil after the well-known era arithmetic:
// exact for every proleptic Gregorian date, no tables.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468 + kEpochShift;
}

void civilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468 - kEpochShift;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2);
}

int daysInMonth(int64_t year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

bool DateTime::dateOnly(int year, int month, int day, DateTime& out) {
    if (year < kMinYear || year > kMaxYear || day < 1 || day > daysInMonth(year, month)) return false;
    out.date = static_cast<int32_t>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)));
    out.ms = kNoTime;
    return true;
}

DateTime DateTime::timeOnly(int hour, int minute, int second, int millisecond) {
    DateTime dt;
    dt.date = kNoDate;
    dt.ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
    return dt;
}

bool DateTime::fromCivil(const CivilDateTime& c, DateTime& out) {
    DateTime dt;
    if (!dateOnly(c.year, c.month, c.day, dt)) return false;
    if (c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59 ||
        c.millisecond < 0 || c.millisecond > 999)
        return false;
    dt.ms = timeOnly(c.hour, c.minute, c.second, c.millisecond).ms;
    out = dt;
    return true;
}

CivilDateTime DateTime::toCivil() const {
    CivilDateTime c;
    if (hasDate()) {
        int64_t y;
        unsigned m, d;
        civilFromDays(date, y, m, d);
        c.year = static_cast<int>(y);
        c.month = static_cast<int>(m);
        c.day = static_cast<int>(d);
    }
    if (hasTime()) {
        c.hour = ms / 3'600'000;
        c.minute = ms / 60'000 % 60;
        c.second = ms / 1000 % 60;
        c.millisecond = ms % 1000;
    }
    return c;
}

double DateTime::toCalendar() const {
    const double days = hasDate() ? date : 0;
    const double fraction = hasTime() ? static_cast<double>(ms) / kMsPerDay : 0;
    // Before day 0 the integral part is the day and the fraction still adds
    // the time of day in absolute terms: -1.25 is 29 Dec 1899 06:00.
    return days < 0 ? days - fraction : days + fraction;
}

bool DateTime::fromCalendar(double value, DateTime& out) {
    if (!std::isfinite(value)) return false;
    const double whole = std::trunc(value);
    const int64_t minDay = daysFromCivil(kMinYear, 1, 1);
    const int64_t maxDay = daysFromCivil(kMaxYear, 12, 31);
    if (whole < static_cast<double>(minDay) || whole > static_cast<double>(maxDay)) return false;
    auto day = static_cast<int64_t>(whole);
    auto ms = static_cast<int64_t>(std::llround(std::fabs(value - whole) * kMsPerDay));
    if (ms >= kMsPerDay) {  // rounding reached the next midnight
        ms = 0;
        day += value < 0 ? -1 : 1;
        if (day < minDay || day > maxDay) return false;
    }
    out.date = static_cast<int32_t>(day);
    out.ms = static_cast<int32_t>(ms);
    return true;
}

int DateTime::weekday() const {
    if (!hasDate()) return 0;
    // Day 0 (30 Dec 1899) was a Saturday.
    const int r = ((date % 7) + 7) % 7;
    return (r + 6) % 7 + 1;
}

int compareDateTime(const DateTime& a, const DateTime& b) {
    auto cmp = [](int64_t x, int64_t y) { return x < y ? -1 : (x > y ? 1 : 0); };
    if (!a.hasDate() || !b.hasDate()) return cmp(a.hasTime() ? a.ms : 0, b.hasTime() ? b.ms : 0);
    if (!a.hasTime() || !b.hasTime()) return cmp(a.date, b.date);
    if (a.date != b.date) return cmp(a.date, b.date);
    return cmp(a.ms, b.ms);
}

const char* typeName(ValueType type) {
    switch (type) {
        case ValueType::Text: return "text";
        case ValueType::Number: return "number";
        case ValueType::DateTime: return "date-time";
    }
    return "?";
}

Value::Value(TextList list) : data_(list.empty() ? TextList(1) : std::move(list)) {}
Value::Value(NumberList list) {
    if (list.empty())
        data_ = TextList(1);
    else
        data_ = std::move(list);
}
Value::Value(DateTimeList list) {
    if (list.empty())
        data_ = TextList(1);
    else
        data_ = std::move(list);
}

size_t Value::size() const {
    return std::visit([](const auto& list) { return list.size(); }, data_);
}

bool Value::isEmptyText() const {
    const auto* texts = std::get_if<TextList>(&data_);
    return texts && texts->size() == 1 && (*texts)[0].empty();
}

bool Value::isTrue() const {
    const auto* numbers = std::get_if<NumberList>(&data_);
    if (!numbers) return false;
    for (double n : *numbers)
        if (n != 0) return true;
    return false;
}

size_t Value::byteSize() const {
    if (const auto* texts = std::get_if<TextList>(&data_)) {
        size_t total = 0;
        for (const auto& t : *texts) total += t.size() + sizeof(std::string);
        return total;
    }
    if (isNumber()) return size() * sizeof(double);
    return size() * sizeof(DateTime);
}

namespace {

std::string formatNumberForDebug(double n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", n);
    return buf;
}

std::string formatDateTimeForDebug(const DateTime& dt) {
    const CivilDateTime c = dt.toCivil();
    char buf[64];
    if (dt.hasDate() && dt.hasTime())
        std::snprintf(buf, sizeof buf, "[%04d-%02d-%02d %02d:%02d:%02d.%03d]", c.year, c.month, c.day, c.hour,
                      c.minute, c.second, c.millisecond);
    else if (dt.hasDate())
        std::snprintf(buf, sizeof buf, "[%04d-%02d-%02d]", c.year, c.month, c.day);
    else
        std::snprintf(buf, sizeof buf, "[%02d:%02d:%02d.%03d]", c.hour, c.minute, c.second, c.millisecond);
    return buf;
}

}  // namespace

std::string Value::debugString() const {
    std::string out;
    const size_t n = size();
    for (size_t i = 0; i < n; ++i) {
        if (i) out += " : ";
        switch (type()) {
            case ValueType::Text: out += '"' + texts()[i] + '"'; break;
            case ValueType::Number: out += formatNumberForDebug(numbers()[i]); break;
            case ValueType::DateTime: out += formatDateTimeForDebug(dateTimes()[i]); break;
        }
    }
    return out;
}

}  // namespace quire::formula
