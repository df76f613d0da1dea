#include "ImportValues.h"

#include "core/platform/TextEncoding.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace importvalues {
namespace {

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool IsLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= 0x0400 && c <= 0x04FF);
}

// Blanks a spreadsheet puts between groups of digits or around a currency: the no-break and thin
// spaces come from number formats of locales that group with a space.
bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == 0x00A0 || c == 0x2007 || c == 0x2009 || c == 0x202F;
}

bool IsCurrencySign(char16_t c)
{
    return c == u'$' || c == 0x20AC || c == 0x00A3 || c == 0x00A5 || c == 0x20BD || c == 0x20B4 || c == 0x20B8 ||
           c == 0x20B9;
}

// Codes and words written beside an amount; compared case-folded, a trailing dot dropped.
constexpr std::array<std::u16string_view, 21> kCurrencyWords = {
    u"usd", u"eur", u"gbp", u"rub", u"rur", u"uah", u"kzt", u"byn", u"cad", u"aud", u"chf",
    u"jpy", u"cny", u"pln", u"inr", u"us",  u"руб", u"р",   u"грн", u"тг",  u"евро"};

bool IsCurrencyWord(std::u16string_view word)
{
    if (!word.empty() && word.back() == u'.')
        word.remove_suffix(1);
    for (const std::u16string_view known : kCurrencyWords)
        if (word == known)
            return true;
    return false;
}

std::u16string Folded(std::string_view text)
{
    // Most cells are plain ASCII ("$30", "2026-03-10"): those need no Unicode folding.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::u16string folded(text.size(), u'\0');
        std::transform(text.begin(), text.end(), folded.begin(),
                       [](char c) { return static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
        return folded;
    }
    return TextEncoding::Utf8ToUtf16(TextEncoding::FoldCase(text));
}

// Strips one currency sign or word and the blanks around it from the front (or the back) of `text`.
bool StripCurrency(std::u16string_view& text, bool front)
{
    auto trim = [&] {
        while (!text.empty() && IsBlank(text.front()))
            text.remove_prefix(1);
        while (!text.empty() && IsBlank(text.back()))
            text.remove_suffix(1);
    };
    trim();
    if (text.empty())
        return false;
    if (IsCurrencySign(front ? text.front() : text.back())) {
        front ? text.remove_prefix(1) : text.remove_suffix(1);
        trim();
        return true;
    }
    std::size_t length = 0;
    if (front) {
        while (length < text.size() && (IsLetter(text[length]) || (length > 0 && text[length] == u'.')))
            ++length;
        if (length == 0 || !IsCurrencyWord(text.substr(0, length)))
            return false;
        text.remove_prefix(length);
    } else {
        while (length < text.size() &&
               (IsLetter(text[text.size() - 1 - length]) || (length == 0 && text[text.size() - 1] == u'.')))
            ++length;
        if (length == 0 || !IsCurrencyWord(text.substr(text.size() - length)))
            return false;
        text.remove_suffix(length);
    }
    trim();
    return true;
}

// Digit groups split by separators: "1.200,50" is {"1", "200", "50"} with {'.', ','}.
struct Groups
{
    std::vector<std::u16string_view> digits;
    std::vector<char16_t> separators;
};

std::optional<Groups> SplitGroups(std::u16string_view text)
{
    Groups groups;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && IsDigit(text[i]))
            continue;
        if (i == begin)
            return std::nullopt; // a separator at an end, or two in a row
        groups.digits.push_back(text.substr(begin, i - begin));
        if (i < text.size()) {
            const char16_t c = text[i];
            if (c != u'.' && c != u',' && c != u'\'' && c != 0x2019 && !IsBlank(c))
                return std::nullopt;
            groups.separators.push_back(IsBlank(c) ? u' ' : c == 0x2019 ? u'\'' : c);
        }
        begin = i + 1;
    }
    return groups;
}

std::optional<Amount> ReadNumber(std::u16string_view text)
{
    const auto groups = SplitGroups(text);
    if (!groups)
        return std::nullopt;
    const auto& seps = groups->separators;
    const std::size_t count = groups->digits.size();

    // The decimal mark is the last point or comma when it is the only one of its kind after every
    // other separator, and is not a lone mark before exactly three digits ("1,200", "1.200").
    std::size_t decimalAt = count; // index of the fraction's group; count: none
    if (!seps.empty()) {
        const char16_t last = seps.back();
        const bool mark = last == u'.' || last == u',';
        std::size_t same = 0;
        for (const char16_t s : seps)
            same += s == last ? 1 : 0;
        const bool otherKinds = same != seps.size();
        if (mark && same == 1 && (otherKinds || groups->digits.back().size() != 3))
            decimalAt = count - 1;
    }
    // The rest are thousands separators, all of one kind, between groups of three.
    const std::size_t whole = decimalAt == count ? count : count - 1;
    for (std::size_t i = 1; i < whole; ++i)
        if (groups->digits[i].size() != 3 || seps[i - 1] != seps[0])
            return std::nullopt;
    if (whole > 1 && groups->digits[0].size() > 3)
        return std::nullopt;

    double value = 0;
    for (std::size_t i = 0; i < whole; ++i)
        for (const char16_t c : groups->digits[i])
            value = value * 10 + (c - u'0');
    bool fraction = false;
    double part = 0;
    if (decimalAt < count) {
        double scale = 0.1;
        for (const char16_t c : groups->digits[decimalAt]) {
            part += (c - u'0') * scale;
            scale /= 10;
            fraction = fraction || c != u'0';
        }
    }
    const double rounded = std::floor(value + part + 0.5);
    if (rounded > 2147483647.0)
        return std::nullopt;
    return Amount{static_cast<int32_t>(rounded), fraction};
}

// A text cut into numbers and words; what stands between them is kept as the separator before
// the next token.
struct Token
{
    std::u16string text;
    bool number = false;
    char16_t before = 0; // the first non-blank character between this token and the previous one
};

std::vector<Token> Tokens(std::u16string_view text)
{
    std::vector<Token> tokens;
    char16_t pending = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char16_t c = text[i];
        if (IsDigit(c) || IsLetter(c)) {
            const bool number = IsDigit(c);
            std::size_t end = i;
            while (end < text.size() && (number ? IsDigit(text[end]) : IsLetter(text[end])))
                ++end;
            tokens.push_back({std::u16string(text.substr(i, end - i)), number, pending});
            pending = 0;
            i = end;
            continue;
        }
        if (!IsBlank(c) && pending == 0)
            pending = c;
        ++i;
    }
    return tokens;
}

constexpr std::array<std::u16string_view, 12> kEnglishMonths = {u"january",   u"february", u"march",    u"april",
                                                                u"may",       u"june",     u"july",     u"august",
                                                                u"september", u"october",  u"november", u"december"};
constexpr std::array<std::u16string_view, 12> kRussianStems = {u"янв", u"фев", u"мар", u"апр", u"май", u"июн",
                                                               u"июл", u"авг", u"сен", u"окт", u"ноя", u"дек"};

// 1..12 for a month's name, full or shortened to three letters or more; 0 for any other word.
int MonthOf(std::u16string_view word)
{
    if (word == u"sept")
        return 9;
    for (int m = 0; m < 12; ++m) {
        if (word.size() >= 3 && kEnglishMonths[m].substr(0, word.size()) == word)
            return m + 1;
        // Russian names change their ending ("января", "май", "мая"): the stem decides.
        if (word.size() >= 3 && word.size() <= 8 && word.substr(0, 3) == kRussianStems[m])
            return m + 1;
    }
    return word == u"мая" ? 5 : 0;
}

// Two-digit years are this century's.
int FullYear(const Token& token)
{
    if (!token.number || (token.text.size() != 2 && token.text.size() != 4))
        return -1;
    int year = 0;
    for (const char16_t c : token.text)
        year = year * 10 + (c - u'0');
    return token.text.size() == 2 ? 2000 + year : year;
}

int Small(const Token& token)
{
    if (!token.number || token.text.size() > 2)
        return -1;
    int n = 0;
    for (const char16_t c : token.text)
        n = n * 10 + (c - u'0');
    return n;
}

std::optional<OleDateTime> Make(int year, int month, int day)
{
    if (year < 1900 || year > 2199 || month < 1 || day < 1)
        return std::nullopt;
    const OleDateTime date = OleDateTime::FromParts(year, month, day);
    if (!date.IsValid())
        return std::nullopt;
    return date;
}

// Drops what may follow a date without changing it: a time of day ("10:30", "T10:30:00"), an
// ordinal's ending ("26th"), the Russian "г." after the year.
void DropDecorations(std::vector<Token>& tokens)
{
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (!t.number && (t.text == u"st" || t.text == u"nd" || t.text == u"rd" || t.text == u"th") &&
            tokens[i - 1].number && t.before == 0) {
            tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
        }
    }
    if (!tokens.empty() && !tokens.back().number && (tokens.back().text == u"г" || tokens.back().text == u"года"))
        tokens.pop_back();
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        if (tokens[i].before != u':')
            continue;
        std::size_t cut = i - 1;
        if (cut > 0 && tokens[cut - 1].text == u"t")
            --cut;
        if (cut >= 3)
            tokens.resize(cut);
        break;
    }
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

} // namespace

std::optional<Amount> ReadAmount(std::string_view text)
{
    const std::u16string folded = Folded(text);
    std::u16string_view rest(folded);
    const bool signFront = StripCurrency(rest, true);
    if (!signFront)
        StripCurrency(rest, false);
    // "US$ 10" and "10,- €": a second mark on the other side is still only a currency.
    if (signFront)
        StripCurrency(rest, true);
    if (rest.size() >= 2 && rest.substr(rest.size() - 2) == u",-")
        rest.remove_suffix(2);
    if (rest.empty())
        return std::nullopt;
    return ReadNumber(rest);
}

DayOrder OrderShownBy(std::string_view text)
{
    const std::vector<Token> tokens = Tokens(Folded(text));
    if (tokens.size() < 3 || !tokens[0].number || !tokens[1].number || tokens[0].text.size() > 2)
        return DayOrder::Unknown;
    if (tokens[1].before != u'/' && tokens[1].before != u'-')
        return DayOrder::Unknown;
    const int first = Small(tokens[0]);
    const int second = Small(tokens[1]);
    if (first > 12 && second >= 1 && second <= 12)
        return DayOrder::DayFirst;
    if (second > 12 && first >= 1 && first <= 12)
        return DayOrder::MonthFirst;
    return DayOrder::Unknown;
}

DayOrder LocaleDayOrder()
{
    const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    const auto day = format.indexOf(QLatin1Char('d'));
    const auto month = format.indexOf(QLatin1Char('M'));
    if (day >= 0 && month >= 0 && month < day)
        return DayOrder::MonthFirst;
    return DayOrder::DayFirst;
}

std::optional<OleDateTime> ReadTextDate(std::string_view text, DayOrder slashed)
{
    std::vector<Token> tokens = Tokens(Folded(text));
    DropDecorations(tokens);
    if (tokens.size() != 3)
        return std::nullopt;
    const Token& a = tokens[0];
    const Token& b = tokens[1];
    const Token& c = tokens[2];

    if (a.number && b.number && c.number) {
        const char16_t sep = b.before;
        if (sep == 0 || c.before != sep || (sep != u'-' && sep != u'.' && sep != u'/'))
            return std::nullopt;
        if (a.text.size() == 4) // 2026-03-10, also written with points or slashes
            return Make(FullYear(a), Small(b), Small(c));
        const int year = FullYear(c);
        if (sep == u'.')
            return Make(year, Small(b), Small(a));
        switch (slashed) {
        case DayOrder::DayFirst:
            return Make(year, Small(b), Small(a));
        case DayOrder::MonthFirst:
            return Make(year, Small(a), Small(b));
        case DayOrder::Unknown:
            break;
        }
        // Without a known order only a date that shows its own is read.
        const DayOrder own = OrderShownBy(text);
        if (own == DayOrder::Unknown)
            return std::nullopt;
        return ReadTextDate(text, own);
    }
    if (a.number && !b.number && c.number) // 26 Jan 2027, 26-Jan-27, 26 января 2027
        return Make(FullYear(c), MonthOf(b.text), Small(a));
    if (!a.number && b.number && c.number) // Jan 26, 2027
        return Make(FullYear(c), MonthOf(a.text), Small(b));
    return std::nullopt;
}

OleDateTimeSpan PeriodUntil(const OleDateTime& start, const OleDateTime& expiry)
{
    const double days = std::round((expiry - start).GetDays());
    // The stored period is read back as whole months from the start, keeping the start's day or
    // the month's last day where the month is shorter: only an expiry those months reach exactly
    // can be kept as it is. Worked out on the parts, as a sheet of many rows asks it every row.
    const DateParts from = start.GetParts();
    const DateParts to = expiry.GetParts();
    const int months = 12 * (to.year - from.year) + (to.month - from.month);
    if (months >= 1 && days > 0) {
        const int lastDay = DaysInMonth(to.year, to.month);
        if (to.day == std::min(from.day, lastDay))
            return OleDateTimeSpan(days);
    }
    return OleDateTimeSpan(days + 1.0);
}

} // namespace importvalues
