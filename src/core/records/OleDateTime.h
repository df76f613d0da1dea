#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

/// Validity of a date or span, as the database file stores it.
enum class DateStatus : int32_t
{
    Valid = 0,
    Invalid = 1,
    Null = 2,
};

/// Calendar parts of a date; every field is -1 for a date that has none.
struct DateParts
{
    int year = -1;
    int month = -1;
    int day = -1;
    int hour = -1;
    int minute = -1;
    int second = -1;
    int dayOfWeek = -1; ///< 0 = Sunday
};

/// A span of days in the OLE Automation form: a double counting days, with a status.
class OleDateTimeSpan
{
public:
    static constexpr double kMaxDays = 3615897.0;

    OleDateTimeSpan() = default;
    explicit OleDateTimeSpan(double days, DateStatus status = DateStatus::Valid);
    static OleDateTimeSpan FromRaw(double days, int32_t status) { return OleDateTimeSpan(days, status, 0); }

    double GetDays() const { return m_days; }
    DateStatus GetStatus() const { return static_cast<DateStatus>(m_status); }
    int32_t GetRawStatus() const { return m_status; }
    bool IsValid() const { return m_status == static_cast<int32_t>(DateStatus::Valid); }

    bool operator==(const OleDateTimeSpan& other) const = default;

private:
    OleDateTimeSpan(double days, int32_t status, int) : m_days(days), m_status(status) {}

    double m_days = 0.0;
    int32_t m_status = static_cast<int32_t>(DateStatus::Valid);
};

/// An OLE Automation date: days since midnight of 30 December 1899, the fraction being the
/// time of day. For dates before that day the fraction counts forward from the negative whole
/// day, so all arithmetic goes through a linear day count.
class OleDateTime
{
public:
    static constexpr double kMinDate = -657434.0; // 1 January 100
    static constexpr double kMaxDate = 2958466.0; // just past 31 December 9999

    OleDateTime() = default;
    explicit OleDateTime(double value, DateStatus status = DateStatus::Valid);
    static OleDateTime FromRaw(double value, int32_t status) { return OleDateTime(value, status, 0); }
    /// An invalid date when a part is out of range (year 100..9999, real calendar day).
    static OleDateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    static OleDateTime FromTime(std::time_t t); ///< local time
    static OleDateTime Now();
    static OleDateTime Today();
    static OleDateTime Invalid() { return OleDateTime(0.0, static_cast<int32_t>(DateStatus::Invalid), 0); }
    static OleDateTime Null() { return OleDateTime(0.0, static_cast<int32_t>(DateStatus::Null), 0); }

    double GetValue() const { return m_value; }
    DateStatus GetStatus() const { return static_cast<DateStatus>(m_status); }
    int32_t GetRawStatus() const { return m_status; }
    bool IsValid() const { return m_status == static_cast<int32_t>(DateStatus::Valid); }

    /// Parts rounded to the nearest second; all -1 when the date is not valid or out of range.
    DateParts GetParts() const;
    int GetMonth() const { return GetParts().month; }
    int GetDay() const { return GetParts().day; }

    OleDateTime operator+(const OleDateTimeSpan& span) const;
    OleDateTime operator-(const OleDateTimeSpan& span) const;
    OleDateTimeSpan operator-(const OleDateTime& other) const;

    /// Chronological comparisons; any comparison with a date that is not valid is false.
    bool operator<(const OleDateTime& other) const;
    bool operator>(const OleDateTime& other) const { return other < *this; }
    bool operator<=(const OleDateTime& other) const;
    bool operator>=(const OleDateTime& other) const { return other <= *this; }
    /// Same value and status, bit for bit the way the file would store it.
    bool operator==(const OleDateTime& other) const = default;

private:
    OleDateTime(double value, int32_t status, int) : m_value(value), m_status(status) {}
    static OleDateTime FromLinear(double linearDays);
    double Linear() const;

    double m_value = 0.0;
    int32_t m_status = static_cast<int32_t>(DateStatus::Valid);
};

/// "%x" of the "C" locale ("03/29/12"); "Invalid DateTime" for an invalid date, "" for a null one.
std::string FormatDate(const OleDateTime& date);

/// The date `n` calendar months later; the starting day of month is kept where the month has it,
/// else the month's last day. Nothing happens for n <= 0. The time of day is kept.
OleDateTime AddMonths(const OleDateTime& date, int n);

/// Calendar months from `earlierDate` to `laterDate`; with `wholeMonthsOnly` false a begun month counts.
int MonthsBetween(const OleDateTime& laterDate, const OleDateTime& earlierDate, bool wholeMonthsOnly);

/// The 16-byte SYSTEMTIME record (eight little-endian 16-bit fields, local time); zeros when invalid.
std::array<uint8_t, 16> ToSystemTimeBytes(const OleDateTime& date);
/// The date of a SYSTEMTIME record; an invalid date when the record does not convert.
OleDateTime FromSystemTimeBytes(const uint8_t* bytes, std::size_t size);
