// Values of the formula language.
//
// Every value is a list: a scalar is a list of one element. A list is
// homogeneous (all text, all numbers or all date-times) and never empty; the
// empty value is the list holding one empty text "", which is also what a
// reference to an absent field yields. Constructors turn an empty list into
// that empty value, so code consuming a Value may always read element 0.
//
// Values are plain copyable data with no shared state; any thread may use its
// own copies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quire::formula {

// Calendar year, month, day and time of day, proleptic Gregorian.
struct CivilDateTime {
    int year = 1899;
    int month = 12;   // 1..12
    int day = 30;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// A date-time as the formula language and the view indexes store it.
//
// `date` counts calendar days since 30 December 1899 (day 0), the day
// numbering of the library's floating-point calendar value, so
// toCalendar() and fromCalendar() convert without a shift. `ms` counts
// milliseconds since midnight. A value may lack either part: `date ==
// kNoDate` is a time of day alone, `ms == kNoTime` a date alone.
struct DateTime {
    static constexpr int32_t kNoDate = INT32_MIN;
    static constexpr int32_t kNoTime = -1;
    static constexpr int32_t kMsPerDay = 86'400'000;

    int32_t date = 0;
    int32_t ms = 0;

    bool hasDate() const { return date != kNoDate; }
    bool hasTime() const { return ms != kNoTime; }

    // Build from civil fields. Returns false (leaving `out` untouched) when a
    // field is out of range, e.g. 31 April or hour 24.
    static bool fromCivil(const CivilDateTime& civil, DateTime& out);
    static bool dateOnly(int year, int month, int day, DateTime& out);
    static DateTime timeOnly(int hour, int minute, int second, int millisecond = 0);
    // Missing parts read as 30 Dec 1899 and midnight.
    CivilDateTime toCivil() const;

    // Days since 30 Dec 1899 with the time as fraction; a missing part
    // counts as zero. fromCalendar() rounds to the millisecond and refuses
    // (returns false) NaN, infinities and values beyond year +-5,800,000.
    double toCalendar() const;
    static bool fromCalendar(double days, DateTime& out);

    // Weekday with Sunday = 1 .. Saturday = 7; 0 without a date part.
    int weekday() const;
};

// Days since 30 Dec 1899 of a proleptic Gregorian date; no range check.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);
void civilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);
int daysInMonth(int64_t year, int month);

// Orders two date-times. When either lacks a date only the times are
// compared; when either lacks a time only the dates are compared.
int compareDateTime(const DateTime& a, const DateTime& b);

enum class ValueType : uint8_t { Text, Number, DateTime };

const char* typeName(ValueType type);

class Value {
public:
    using TextList = std::vector<std::string>;
    using NumberList = std::vector<double>;
    using DateTimeList = std::vector<DateTime>;

    Value() : data_(TextList(1)) {}
    explicit Value(std::string text) : data_(TextList{std::move(text)}) {}
    explicit Value(std::string_view text) : data_(TextList{std::string(text)}) {}
    explicit Value(const char* text) : data_(TextList{std::string(text)}) {}
    explicit Value(double number) : data_(NumberList{number}) {}
    explicit Value(DateTime dt) : data_(DateTimeList{dt}) {}
    explicit Value(TextList list);
    explicit Value(NumberList list);
    explicit Value(DateTimeList list);

    static Value boolean(bool b) { return Value(b ? 1.0 : 0.0); }

    ValueType type() const { return static_cast<ValueType>(data_.index()); }
    bool isText() const { return type() == ValueType::Text; }
    bool isNumber() const { return type() == ValueType::Number; }
    bool isDateTime() const { return type() == ValueType::DateTime; }
    size_t size() const;
    // The single empty text: the value of an absent field.
    bool isEmptyText() const;

    // Accessors for the held list; calling one for another type is a
    // programming error (checked by std::get).
    const TextList& texts() const { return std::get<TextList>(data_); }
    const NumberList& numbers() const { return std::get<NumberList>(data_); }
    const DateTimeList& dateTimes() const { return std::get<DateTimeList>(data_); }

    // Truth of a number list: any element non-zero. False for other types.
    bool isTrue() const;

    // Approximate byte size, used to bound what one evaluation may build.
    size_t byteSize() const;

    // Readable form for diagnostics and tests: "a" : "b", 1 : 2.5, [2024-01-31 10:00:00].
    std::string debugString() const;

private:
    std::variant<TextList, NumberList, DateTimeList> data_;
};

}  // namespace quire::formula
