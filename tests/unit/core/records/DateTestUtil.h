#pragma once

#include "core/records/OleDateTime.h"

#include <cstdio>
#include <ostream>

// Lets GoogleTest print dates as calendar text instead of raw bytes when an assertion fails.
inline void PrintTo(const OleDateTime& date, std::ostream* os)
{
    const DateParts p = date.GetParts();
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    *os << text << " (raw " << date.GetValue() << ", status " << date.GetRawStatus() << ")";
}

inline void PrintTo(const OleDateTimeSpan& span, std::ostream* os)
{
    *os << span.GetDays() << " days (status " << span.GetRawStatus() << ")";
}

namespace records_test {

inline OleDateTime Date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return OleDateTime::FromParts(year, month, day, hour, minute, second);
}

inline OleDateTimeSpan Days(double days)
{
    return OleDateTimeSpan(days);
}

} // namespace records_test
