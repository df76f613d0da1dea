#include "OleDateTime.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Day 0 of the OLE calendar (30 December 1899) counted from 1 January 1970.
constexpr int64_t kOleEpochInUnixDays = -25569;

// Howard Hinnant's days_from_civil / civil_from_days: proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

bool IsLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool InRange(double value)
{
    return std::isfinite(value) && value >= OleDateTime::kMinDate && value < OleDateTime::kMaxDate;
}

} // namespace

OleDateTimeSpan::OleDateTimeSpan(double days, DateStatus status) : m_days(days), m_status(static_cast<int32_t>(status))
{
    if (status == DateStatus::Valid && !(std::fabs(days) <= kMaxDays))
        m_status = static_cast<int32_t>(DateStatus::Invalid);
}

OleDateTime::OleDateTime(double value, DateStatus status) : m_value(value), m_status(static_cast<int32_t>(status))
{
    if (status == DateStatus::Valid && !InRange(value))
        m_status = static_cast<int32_t>(DateStatus::Invalid);
}

double OleDateTime::Linear() const
{
    if (m_value >= 0)
        return m_value;
    const double whole = std::trunc(m_value);
    return whole + std::fabs(m_value - whole);
}

OleDateTime OleDateTime::FromLinear(double linear)
{
    if (!std::isfinite(linear))
        return Invalid();
    const double whole = std::floor(linear);
    double value = linear;
    if (whole < 0)
        value = whole - (linear - whole);
    return OleDateTime(value, DateStatus::Valid);
}

OleDateTime OleDateTime::FromParts(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return Invalid();
    const int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kOleEpochInUnixDays;
    const double time = static_cast<double>(hour * 3600 + minute * 60 + second) / kSecondsPerDay;
    return FromLinear(static_cast<double>(days) + time);
}

OleDateTime OleDateTime::FromTime(std::time_t t)
{
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return Invalid();
    return FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                     tm.tm_sec > 59 ? 59 : tm.tm_sec);
}

OleDateTime OleDateTime::Now()
{
    return FromTime(std::time(nullptr));
}

OleDateTime OleDateTime::Today()
{
    const DateParts p = Now().GetParts();
    return FromParts(p.year, p.month, p.day);
}

DateParts OleDateTime::GetParts() const
{
    DateParts parts;
    if (!IsValid() || !InRange(m_value))
        return parts;
    const double linear = Linear();
    // Round to the nearest second first, so 23:59:59.9 belongs to the next day.
    const auto totalSeconds = static_cast<int64_t>(std::floor(linear * kSecondsPerDay + 0.5));
    int64_t day = totalSeconds / kSecondsPerDay;
    int64_t secs = totalSeconds % kSecondsPerDay;
    if (secs < 0) {
        secs += kSecondsPerDay;
        --day;
    }
    const int64_t unixDay = day + kOleEpochInUnixDays;
    CivilFromDays(unixDay, parts.year, parts.month, parts.day);
    if (parts.year < 100 || parts.year > 9999)
        return DateParts{};
    parts.hour = static_cast<int>(secs / 3600);
    parts.minute = static_cast<int>(secs / 60 % 60);
    parts.second = static_cast<int>(secs % 60);
    // 1 January 1970 was a Thursday.
    parts.dayOfWeek = static_cast<int>(((unixDay % 7) + 11) % 7);
    return parts;
}

OleDateTime OleDateTime::operator+(const OleDateTimeSpan& span) const
{
    if (!IsValid() || !span.IsValid())
        return Invalid();
    const OleDateTime result = FromLinear(Linear() + span.GetDays());
    return result.IsValid() && InRange(result.m_value) ? result : Invalid();
}

OleDateTime OleDateTime::operator-(const OleDateTimeSpan& span) const
{
    return *this + OleDateTimeSpan(-span.GetDays(), span.GetStatus());
}

OleDateTimeSpan OleDateTime::operator-(const OleDateTime& other) const
{
    if (!IsValid() || !other.IsValid())
        return OleDateTimeSpan(0.0, DateStatus::Invalid);
    return OleDateTimeSpan(Linear() - other.Linear());
}

bool OleDateTime::operator<(const OleDateTime& other) const
{
    return IsValid() && other.IsValid() && Linear() < other.Linear();
}

bool OleDateTime::operator<=(const OleDateTime& other) const
{
    return IsValid() && other.IsValid() && Linear() <= other.Linear();
}

std::string FormatDate(const OleDateTime& date)
{
    if (date.GetStatus() == DateStatus::Null)
        return {};
    const DateParts p = date.GetParts();
    if (p.year < 0)
        return "Invalid DateTime";
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d", p.month, p.day, p.year % 100);
    return text;
}

OleDateTime AddMonths(const OleDateTime& date, int n)
{
    const OleDateTimeSpan oneDay(1.0);
    const int startDay = date.GetDay();
    OleDateTime current = date;
    for (int step = 0; step < n; ++step) {
        const OleDateTime base = current + OleDateTimeSpan(28.0);
        const int month = base.GetMonth();
        OleDateTime candidate = base;
        for (int i = 0; i < 3 && candidate.GetDay() != startDay; ++i)
            candidate = candidate + oneDay;
        if (candidate.GetDay() != startDay) {
            // The starting day does not exist in this month: take its last day.
            candidate = base;
            for (int i = 0; i < 3; ++i) {
                const OleDateTime next = candidate + oneDay;
                if (next.GetMonth() != month)
                    break;
                candidate = next;
            }
        }
        current = candidate;
    }
    return current;
}

int MonthsBetween(const OleDateTime& laterDate, const OleDateTime& earlierDate, bool wholeMonthsOnly)
{
    const DateParts later = laterDate.GetParts();
    const DateParts earlier = earlierDate.GetParts();
    int months = 12 * (later.year - earlier.year) + (later.month - earlier.month);
    if (!wholeMonthsOnly && later.day > earlier.day)
        ++months;
    return months;
}

std::array<uint8_t, 16> ToSystemTimeBytes(const OleDateTime& date)
{
    std::array<uint8_t, 16> bytes{};
    const DateParts p = date.GetParts();
    if (p.year < 0)
        return bytes;
    const int fields[8] = {p.year, p.month, p.dayOfWeek, p.day, p.hour, p.minute, p.second, 0};
    for (int i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(fields[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>((fields[i] >> 8) & 0xFF);
    }
    return bytes;
}

OleDateTime FromSystemTimeBytes(const uint8_t* bytes, std::size_t size)
{
    if (!bytes || size != 16)
        return OleDateTime::Invalid();
    int fields[8];
    for (int i = 0; i < 8; ++i)
        fields[i] = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    // The day of week and the milliseconds carry nothing a date needs.
    return OleDateTime::FromParts(fields[0], fields[1], fields[3], fields[4], fields[5], fields[6]);
}
