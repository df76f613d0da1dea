#pragma once

#include "core/records/OleDateTime.h"

#include <cstdint>
#include <optional>
#include <string_view>

/// Values of a deal sheet read the way the person who typed them reads them.
namespace importvalues {

/// An amount as the records keep it: whole units, and whether a decimal part was rounded away.
struct Amount
{
    int32_t units = 0;
    bool rounded = false;
};

/// "75", "$75", "€90.00", "90 USD", "£150.50", "$ 1,200", "1.200,50 €", "1 200 руб.": a
/// non-negative number with or without a currency sign or code, rounded half up to whole units.
/// None for anything else, negative amounts and amounts past 32 bits included.
std::optional<Amount> ReadAmount(std::string_view text);

/// Which number of a slashed date ("03/10/2027") is the day.
enum class DayOrder
{
    Unknown,
    DayFirst,
    MonthFirst,
};

/// What one slashed or dashed date tells about the order: the number above 12 is the day.
DayOrder OrderShownBy(std::string_view text);
/// The order the system's locale writes short dates in.
DayOrder LocaleDayOrder();

/// "2026-03-10", "02.09.2026", "03/10/2027" (in `slashed` order), "26 Jan 2027", "Jan 26, 2027",
/// "26 января 2027 г.": the calendar date at midnight; none for anything else or a day that does
/// not exist.
std::optional<OleDateTime> ReadTextDate(std::string_view text, DayOrder slashed);

/// The period that makes a deal paid on `start` expire on `expiry`: the days between them when
/// they are whole months apart (a start at the end of a month counting the shorter month's last
/// day as a whole month), so that the expiry shown is the one given; otherwise the day count and
/// one more day, as any other expiry has always been taken.
OleDateTimeSpan PeriodUntil(const OleDateTime& start, const OleDateTime& expiry);

} // namespace importvalues
