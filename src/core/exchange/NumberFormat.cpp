#include "NumberFormat.h"

#include "core/records/TextUtil.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace NumberFormat {
namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Bytes of the UTF-8 character that starts at text[i], so escapes and literals never split one.
size_t CharLength(std::string_view text, size_t i)
{
    size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

// ---------------------------------------------------------------------------------------------
// Decimal digits the way a spreadsheet sees a double: fifteen significant digits, rounded half away
// from zero at the shown precision (so 2.675 shows as 2.68, as users expect).

struct Decimal
{
    std::string digits = "0"; // no trailing zeros; "0" for zero
    int pointPos = 1;         // how many of the digits stand before the decimal point (may be <= 0)

    bool IsZero() const { return digits == "0"; }
};

void TrimTrailingZeros(Decimal& d)
{
    while (d.digits.size() > 1 && d.digits.back() == '0')
        d.digits.pop_back();
    if (d.digits.empty() || d.digits == "0") {
        d.digits = "0";
        d.pointPos = 1;
    }
}

Decimal ToDecimal(double absValue)
{
    Decimal d;
    if (!(absValue > 0.0) || !std::isfinite(absValue))
        return d;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", absValue);
    d.digits.clear();
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            d.digits.push_back(*p);
    const int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    d.pointPos = exponent + 1;
    TrimTrailingZeros(d);
    return d;
}

void RoundDecimal(Decimal& d, int decimals)
{
    if (d.IsZero())
        return;
    const long keep = static_cast<long>(d.pointPos) + decimals;
    if (keep >= static_cast<long>(d.digits.size()))
        return;
    if (keep < 0) {
        d = Decimal();
        return;
    }
    const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
    d.digits.resize(static_cast<size_t>(keep));
    if (up) {
        long i = keep - 1;
        while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9')
            d.digits[static_cast<size_t>(i--)] = '0';
        if (i >= 0)
            ++d.digits[static_cast<size_t>(i)];
        else {
            d.digits.insert(d.digits.begin(), '1');
            ++d.pointPos;
        }
    }
    TrimTrailingZeros(d);
}

std::string IntegerDigits(const Decimal& d)
{
    if (d.IsZero() || d.pointPos <= 0)
        return {};
    const size_t n = static_cast<size_t>(d.pointPos);
    std::string out = d.digits.substr(0, std::min(n, d.digits.size()));
    if (n > out.size())
        out.append(n - out.size(), '0');
    return out;
}

std::string FractionDigits(const Decimal& d, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        const long idx = static_cast<long>(d.pointPos) + i;
        const bool inside = !d.IsZero() && idx >= 0 && idx < static_cast<long>(d.digits.size());
        out.push_back(inside ? d.digits[static_cast<size_t>(idx)] : '0');
    }
    return out;
}

std::string Group(const std::string& integer)
{
    std::string out;
    const size_t n = integer.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out.push_back(',');
        out.push_back(integer[i]);
    }
    return out;
}

struct FixedLayout
{
    int integerMinDigits = 1;
    bool grouping = false;
    int minDecimals = 0;
    int maxDecimals = 0;
    bool point = false; // the code has a decimal point, shown even without decimals
};

std::string Fixed(double absValue, const FixedLayout& layout)
{
    Decimal d = ToDecimal(absValue);
    RoundDecimal(d, layout.maxDecimals);
    std::string integer = IntegerDigits(d);
    if (static_cast<int>(integer.size()) < layout.integerMinDigits)
        integer.insert(0, static_cast<size_t>(layout.integerMinDigits) - integer.size(), '0');
    if (layout.grouping)
        integer = Group(integer);
    std::string fraction = FractionDigits(d, layout.maxDecimals);
    while (static_cast<int>(fraction.size()) > layout.minDecimals && fraction.back() == '0')
        fraction.pop_back();
    if (!fraction.empty() || layout.point)
        integer += "." + fraction;
    return integer;
}

std::string Scientific(double absValue, int minDecimals, int maxDecimals, int exponentDigits, bool plus)
{
    Decimal d = ToDecimal(absValue);
    int exponent = d.IsZero() ? 0 : d.pointPos - 1;
    d.pointPos = 1;
    RoundDecimal(d, maxDecimals);
    if (d.pointPos > 1) {
        ++exponent;
        d.pointPos = 1;
    }
    std::string out = IntegerDigits(d);
    if (out.empty())
        out = "0";
    std::string fraction = FractionDigits(d, maxDecimals);
    while (static_cast<int>(fraction.size()) > minDecimals && fraction.back() == '0')
        fraction.pop_back();
    if (!fraction.empty())
        out += "." + fraction;
    out += exponent < 0 ? "E-" : (plus ? "E+" : "E");
    std::string e = std::to_string(std::abs(exponent));
    if (static_cast<int>(e.size()) < exponentDigits)
        e.insert(0, static_cast<size_t>(exponentDigits) - e.size(), '0');
    return out + e;
}

std::string GeneralAbs(double absValue)
{
    const Decimal d = ToDecimal(absValue);
    if (d.IsZero())
        return "0";
    if (d.pointPos > 11)
        return Scientific(absValue, 0, 5, 2, true);
    const int integerDigits = std::max(1, d.pointPos);
    const int maxDecimals = std::max(0, 10 - integerDigits);
    if (d.pointPos <= 0) {
        // Leading zeros eat the eleven characters: switch when they would hide significant digits.
        const int fixedSignificant = maxDecimals + d.pointPos;
        const int sciSignificant = std::min(static_cast<int>(d.digits.size()), 6);
        if (fixedSignificant < sciSignificant)
            return Scientific(absValue, 0, 5, 2, true);
    }
    Decimal r = d;
    RoundDecimal(r, maxDecimals);
    if (r.pointPos > 11)
        return Scientific(absValue, 0, 5, 2, true);
    FixedLayout layout;
    layout.maxDecimals = maxDecimals;
    return Fixed(absValue, layout);
}

// ---------------------------------------------------------------------------------------------
// Codes: sections split at ';', each section a list of tokens.

std::vector<std::string_view> SplitSections(std::string_view code)
{
    std::vector<std::string_view> sections;
    size_t start = 0;
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == '"') {
            const size_t end = code.find('"', i + 1);
            i = end == std::string_view::npos ? code.size() : end;
        } else if (c == '\\' || c == '_' || c == '*')
            ++i;
        else if (c == '[') {
            const size_t end = code.find(']', i + 1);
            i = end == std::string_view::npos ? code.size() : end;
        } else if (c == ';') {
            sections.push_back(code.substr(start, i - start));
            start = i + 1;
        }
    }
    sections.push_back(code.substr(std::min(start, code.size())));
    return sections;
}

enum class Tok
{
    Literal,
    Year,
    Month,
    Minute,
    Day,
    Hour,
    Second,
    ElapsedHour,
    ElapsedMinute,
    ElapsedSecond,
    AmPm,
    SecondFraction,
    Digit,
    Point,
    Comma,
    Percent,
    Exponent,
    General,
    Text,
    Slash,
};

struct Token
{
    Tok kind;
    std::string text; // literal text, digit placeholder, exponent sign
    int count = 1;    // letters in a date part, digits in a second fraction
};

bool IsDatePart(Tok kind)
{
    switch (kind) {
    case Tok::Year:
    case Tok::Month:
    case Tok::Minute:
    case Tok::Day:
    case Tok::Hour:
    case Tok::Second:
    case Tok::ElapsedHour:
    case Tok::ElapsedMinute:
    case Tok::ElapsedSecond:
    case Tok::AmPm:
        return true;
    default:
        return false;
    }
}

struct Section
{
    std::vector<Token> tokens;
    bool isDate = false;
};

void AddLiteral(std::vector<Token>& tokens, std::string_view text)
{
    if (!tokens.empty() && tokens.back().kind == Tok::Literal)
        tokens.back().text.append(text);
    else
        tokens.push_back({Tok::Literal, std::string(text)});
}

Section Tokenize(std::string_view s)
{
    Section section;
    auto& tokens = section.tokens;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        const char lower = LowerAscii(c);
        if (c == '"') {
            size_t end = s.find('"', i + 1);
            if (end == std::string_view::npos)
                end = s.size();
            AddLiteral(tokens, s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '\\') {
            if (i + 1 < s.size())
                AddLiteral(tokens, s.substr(i + 1, CharLength(s, i + 1)));
            i += 1 + (i + 1 < s.size() ? CharLength(s, i + 1) : 0);
        } else if (c == '_' || c == '*') {
            // Padding to the width of the next character shows as a space; a fill shows nothing.
            if (c == '_')
                AddLiteral(tokens, " ");
            i += 1 + (i + 1 < s.size() ? CharLength(s, i + 1) : 0);
        } else if (c == '[') {
            size_t end = s.find(']', i + 1);
            if (end == std::string_view::npos)
                end = s.size();
            const std::string_view inner = s.substr(i + 1, end - i - 1);
            if (!inner.empty() && inner[0] == '$') {
                // "[$$-409]", "[$€-407]", "[$-409]": the symbol before the locale.
                const size_t dash = inner.find('-');
                AddLiteral(tokens, inner.substr(1, dash == std::string_view::npos ? std::string_view::npos : dash - 1));
            } else if (!inner.empty() && inner.find_first_not_of(inner[0]) == std::string_view::npos &&
                       (LowerAscii(inner[0]) == 'h' || LowerAscii(inner[0]) == 'm' || LowerAscii(inner[0]) == 's')) {
                const char unit = LowerAscii(inner[0]);
                const Tok kind = unit == 'h' ? Tok::ElapsedHour : unit == 'm' ? Tok::ElapsedMinute : Tok::ElapsedSecond;
                tokens.push_back({kind, {}, static_cast<int>(inner.size())});
            }
            // Colours, conditions and calendar switches change nothing in the text.
            i = end + 1;
        } else if (c == '0' || c == '#' || c == '?') {
            tokens.push_back({Tok::Digit, std::string(1, c)});
            ++i;
        } else if (c == '.') {
            tokens.push_back({Tok::Point, "."});
            ++i;
        } else if (c == ',') {
            tokens.push_back({Tok::Comma, ","});
            ++i;
        } else if (c == '%') {
            tokens.push_back({Tok::Percent, "%"});
            ++i;
        } else if (lower == 'e' && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
            tokens.push_back({Tok::Exponent, std::string(1, s[i + 1])});
            i += 2;
        } else if (lower == 'y' || lower == 'm' || lower == 'd' || lower == 'h' || lower == 's') {
            size_t end = i;
            while (end < s.size() && LowerAscii(s[end]) == lower)
                ++end;
            const Tok kind = lower == 'y'   ? Tok::Year
                             : lower == 'm' ? Tok::Month
                             : lower == 'd' ? Tok::Day
                             : lower == 'h' ? Tok::Hour
                                            : Tok::Second;
            tokens.push_back({kind, {}, static_cast<int>(end - i)});
            i = end;
        } else if (StartsWithIgnoringCase(s.substr(i), "am/pm")) {
            tokens.push_back({Tok::AmPm, "AM/PM"});
            i += 5;
        } else if (StartsWithIgnoringCase(s.substr(i), "a/p")) {
            tokens.push_back({Tok::AmPm, "A/P"});
            i += 3;
        } else if (StartsWithIgnoringCase(s.substr(i), "general")) {
            tokens.push_back({Tok::General, {}});
            i += 7;
        } else if (c == '@') {
            tokens.push_back({Tok::Text, {}});
            ++i;
        } else if (c == '/') {
            tokens.push_back({Tok::Slash, "/"});
            ++i;
        } else {
            const size_t n = CharLength(s, i);
            AddLiteral(tokens, s.substr(i, n));
            i += n;
        }
    }

    for (const Token& t : tokens)
        section.isDate = section.isDate || IsDatePart(t.kind);
    if (!section.isDate)
        return section;

    // In a date code the number signs are plain text, except the fraction of a second ("ss.00"),
    // and "m" next to an hour or a second means minutes.
    std::vector<Token> dated;
    for (size_t k = 0; k < tokens.size(); ++k) {
        Token t = tokens[k];
        if (t.kind == Tok::Point && !dated.empty() && (dated.back().kind == Tok::Second) && k + 1 < tokens.size() &&
            tokens[k + 1].kind == Tok::Digit && tokens[k + 1].text == "0") {
            int digits = 0;
            while (k + 1 < tokens.size() && tokens[k + 1].kind == Tok::Digit && tokens[k + 1].text == "0") {
                ++digits;
                ++k;
            }
            dated.push_back({Tok::SecondFraction, {}, digits});
            continue;
        }
        if (t.kind == Tok::Digit || t.kind == Tok::Point || t.kind == Tok::Comma || t.kind == Tok::Slash ||
            t.kind == Tok::Percent || t.kind == Tok::Exponent) {
            AddLiteral(dated, t.kind == Tok::Exponent ? "E" + t.text : t.text);
            continue;
        }
        if (t.kind == Tok::General || t.kind == Tok::Text)
            continue;
        if (t.kind == Tok::Literal) {
            AddLiteral(dated, t.text);
            continue;
        }
        dated.push_back(std::move(t));
    }
    for (size_t k = 0; k < dated.size(); ++k) {
        if (dated[k].kind != Tok::Month || dated[k].count > 2)
            continue;
        Tok previous = Tok::Literal;
        for (size_t p = k; p-- > 0;)
            if (IsDatePart(dated[p].kind)) {
                previous = dated[p].kind;
                break;
            }
        Tok next = Tok::Literal;
        for (size_t q = k + 1; q < dated.size(); ++q)
            if (IsDatePart(dated[q].kind)) {
                next = dated[q].kind;
                break;
            }
        if (previous == Tok::Hour || previous == Tok::ElapsedHour || next == Tok::Second || next == Tok::ElapsedSecond)
            dated[k].kind = Tok::Minute;
    }
    section.tokens = std::move(dated);
    return section;
}

// ---------------------------------------------------------------------------------------------
// Dates

struct Civil
{
    int64_t year;
    int month;
    int day;
    int weekday; // 0 = Sunday
    int hour;
    int minute;
    int second;
    double secondFraction;
    int64_t wholeDays;
    int64_t totalSeconds; // of the whole serial, for elapsed-time codes
};

Civil ToCivil(double serial)
{
    Civil c{};
    double days = std::floor(serial);
    double timeSeconds = (serial - days) * 86400.0;
    double second = std::floor(timeSeconds + 1e-6);
    c.secondFraction = std::max(0.0, timeSeconds - second);
    int64_t seconds = static_cast<int64_t>(std::llround(timeSeconds));
    if (seconds >= 86400) {
        days += 1;
        seconds -= 86400;
    }
    c.wholeDays = static_cast<int64_t>(days);
    c.hour = static_cast<int>(seconds / 3600);
    c.minute = static_cast<int>((seconds / 60) % 60);
    c.second = static_cast<int>(seconds % 60);
    c.totalSeconds = c.wholeDays * 86400 + seconds;

    // Days since 1970-01-01, then the civil date (proleptic Gregorian).
    int64_t z = c.wholeDays - 25569 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
    c.weekday = static_cast<int>(((c.wholeDays + 6) % 7 + 7) % 7); // 30 Dec 1899 was a Saturday
    return c;
}

std::string Padded(int64_t value, int width)
{
    std::string s = std::to_string(value < 0 ? -value : value);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<size_t>(width) - s.size(), '0');
    return value < 0 ? "-" + s : s;
}

constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};

std::string FormatDate(double serial, const Section& section)
{
    // Beyond the calendar a spreadsheet shows hashes; the number itself says more.
    if (!std::isfinite(serial) || serial < 0.0 || serial >= 2958466.0)
        return GeneralAbs(std::fabs(serial)).insert(0, serial < 0 ? "-" : "");
    const Civil c = ToCivil(serial);
    bool twelveHour = false;
    for (const Token& t : section.tokens)
        twelveHour = twelveHour || t.kind == Tok::AmPm;

    std::string out;
    for (const Token& t : section.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Year:
            out += t.count <= 2 ? Padded(c.year % 100, 2) : Padded(c.year, 4);
            break;
        case Tok::Month:
            if (t.count <= 2)
                out += Padded(c.month, t.count);
            else if (t.count == 3)
                out += std::string(kMonths[static_cast<size_t>(c.month - 1)]).substr(0, 3);
            else if (t.count == 4)
                out += kMonths[static_cast<size_t>(c.month - 1)];
            else
                out += kMonths[static_cast<size_t>(c.month - 1)][0];
            break;
        case Tok::Day:
            if (t.count <= 2)
                out += Padded(c.day, t.count);
            else if (t.count == 3)
                out += std::string(kDays[static_cast<size_t>(c.weekday)]).substr(0, 3);
            else
                out += kDays[static_cast<size_t>(c.weekday)];
            break;
        case Tok::Hour: {
            int hour = c.hour;
            if (twelveHour)
                hour = hour % 12 == 0 ? 12 : hour % 12;
            out += Padded(hour, std::min(t.count, 2));
            break;
        }
        case Tok::Minute:
            out += Padded(c.minute, std::min(t.count, 2));
            break;
        case Tok::Second:
            out += Padded(c.second, std::min(t.count, 2));
            break;
        case Tok::ElapsedHour:
            out += Padded(c.totalSeconds / 3600, t.count);
            break;
        case Tok::ElapsedMinute:
            out += Padded(c.totalSeconds / 60, t.count);
            break;
        case Tok::ElapsedSecond:
            out += Padded(c.totalSeconds, t.count);
            break;
        case Tok::AmPm: {
            const bool pm = c.hour >= 12;
            out += t.text == "A/P" ? (pm ? "P" : "A") : (pm ? "PM" : "AM");
            break;
        }
        case Tok::SecondFraction: {
            const double scaled = std::floor(c.secondFraction * std::pow(10.0, t.count));
            out += "." + Padded(static_cast<int64_t>(scaled), t.count);
            break;
        }
        default:
            break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Numbers

std::string FormatNumberSection(double absValue, const Section& section)
{
    const auto& tokens = section.tokens;
    bool hasDigits = false;
    bool hasGeneral = false;
    bool fraction = false;
    for (const Token& t : tokens) {
        hasDigits = hasDigits || t.kind == Tok::Digit;
        hasGeneral = hasGeneral || t.kind == Tok::General;
        fraction = fraction || t.kind == Tok::Slash;
    }

    double value = absValue;
    for (const Token& t : tokens)
        if (t.kind == Tok::Percent)
            value *= 100.0;

    std::string number;
    if (hasGeneral || (fraction && hasDigits))
        number = GeneralAbs(value); // fractions ("# ?/?") are rare enough to show as General
    else if (hasDigits) {
        // Read the placeholders: integer part, decimals, grouping, scaling commas, exponent.
        FixedLayout layout;
        layout.integerMinDigits = 0;
        bool afterPoint = false;
        bool exponent = false;
        bool exponentPlus = false;
        int exponentDigits = 0;
        int scaling = 0;
        size_t lastDigit = 0;
        for (size_t k = 0; k < tokens.size(); ++k)
            if (tokens[k].kind == Tok::Digit)
                lastDigit = k;
        bool seenDigit = false;
        for (size_t k = 0; k < tokens.size(); ++k) {
            const Token& t = tokens[k];
            if (t.kind == Tok::Exponent) {
                exponent = true;
                exponentPlus = t.text == "+";
                continue;
            }
            if (t.kind == Tok::Digit) {
                seenDigit = true;
                if (exponent)
                    ++exponentDigits;
                else if (afterPoint) {
                    ++layout.maxDecimals;
                    if (t.text == "0")
                        layout.minDecimals = layout.maxDecimals;
                } else if (t.text == "0")
                    ++layout.integerMinDigits;
            } else if (t.kind == Tok::Point && !exponent && !afterPoint) {
                afterPoint = true;
                layout.point = true;
            } else if (t.kind == Tok::Comma && seenDigit && !exponent) {
                if (k > lastDigit)
                    ++scaling;
                else if (!afterPoint)
                    layout.grouping = true;
            }
        }
        for (int k = 0; k < scaling; ++k)
            value /= 1000.0;
        if (exponent)
            number = Scientific(value, layout.minDecimals, layout.maxDecimals, exponentDigits, exponentPlus);
        else {
            // "#.##" on a whole number shows "12." and "#" on zero shows nothing, as spreadsheets do.
            number = Fixed(value, layout);
        }
    }

    std::string out;
    bool numberShown = false;
    bool inNumber = false;
    for (const Token& t : tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Percent:
            out += "%";
            break;
        case Tok::Digit:
        case Tok::Point:
        case Tok::General:
        case Tok::Slash:
        case Tok::Exponent:
            if (!numberShown) {
                out += number;
                numberShown = true;
            }
            inNumber = true;
            break;
        case Tok::Comma:
            if (!inNumber)
                out += ",";
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace

bool IsDateCode(std::string_view code)
{
    if (code.empty())
        return false;
    return Tokenize(SplitSections(code).front()).isDate;
}

std::string General(double value)
{
    if (std::isnan(value))
        return "#NUM!";
    if (std::isinf(value))
        return "#NUM!";
    std::string text = GeneralAbs(std::fabs(value));
    return (value < 0 && text != "0") ? "-" + text : text;
}

std::string Format(double value, std::string_view code)
{
    if (!std::isfinite(value))
        return General(value);
    if (code.empty())
        return General(value);
    const std::vector<std::string_view> sections = SplitSections(code);

    std::string_view chosen = sections[0];
    bool signInSection = false;
    if (value < 0 && sections.size() >= 2) {
        chosen = sections[1];
        signInSection = true;
    } else if (value == 0 && sections.size() >= 3)
        chosen = sections[2];

    const Section section = Tokenize(chosen);
    if (section.isDate)
        return FormatDate(value, section);

    std::string text = FormatNumberSection(std::fabs(value), section);
    if (value < 0 && !signInSection) {
        // A value that rounds to zero loses its sign, as it does on screen.
        bool nonZero = false;
        for (char c : text)
            nonZero = nonZero || (c >= '1' && c <= '9');
        if (nonZero)
            text.insert(0, "-");
    }
    return text;
}

} // namespace NumberFormat
