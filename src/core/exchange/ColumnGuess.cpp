#include "ColumnGuess.h"

#include "ImportCells.h"
#include "core/platform/TextEncoding.h"
#include "core/records/TextUtil.h"

#include <algorithm>
#include <map>
#include <vector>

// Inside a namespace of their own: the folder is compiled in one batch, and these names are common.
namespace {
namespace guessing {

constexpr int kSampleRows = 5;

constexpr std::string_view kPaymentTypeNames[] = {"PayPal",  "WebMoney", "WMZ",   "WMR",    "RegNow",
                                                  "RegSoft", "Plimus",   "SWREG", "Shareit"};

bool IsPaymentTypeName(std::string_view text)
{
    for (const std::string_view name : kPaymentTypeNames)
        if (EqualsIgnoringCase(text, name))
            return true;
    return false;
}

struct HeadingWord
{
    std::string_view text;
    int type;
};

// Headings as people and the exports of backlink tools write them, in English and Russian. Forms
// that differ only in letter case, spaces or punctuation ("E-mail", "email", "Contact e-mail" and
// "Contact email") are one entry, and a trailing "URL" is looked up both with and without it.
constexpr HeadingWord kHeadingWords[] = {
    {"Project", ColProjectName},
    {"Project name", ColProjectName},
    {"Проект", ColProjectName},
    {"Название проекта", ColProjectName},
    {"Anchor", ColAnchor},
    {"Anchor text", ColAnchor},
    {"Link text", ColAnchor},
    {"Анкор", ColAnchor},
    {"Текст анкора", ColAnchor},
    {"Текст ссылки", ColAnchor},
    {"From page", ColFromPage},
    {"Page URL", ColFromPage},
    {"Source URL", ColFromPage},
    {"Source page", ColFromPage},
    {"Referring page", ColFromPage},
    {"Referring URL", ColFromPage},
    {"Linking page", ColFromPage},
    {"Донор", ColFromPage},
    {"Страница донора", ColFromPage},
    {"Страница-донор", ColFromPage},
    {"Ссылающаяся страница", ColFromPage},
    {"Откуда", ColFromPage},
    {"To Page", ColToPage},
    {"Target", ColToPage},
    {"Target page", ColToPage},
    {"Landing page", ColToPage},
    {"Акцептор", ColToPage},
    {"Страница акцептора", ColToPage},
    {"Целевая страница", ColToPage},
    {"Продвигаемая страница", ColToPage},
    {"Куда", ColToPage},
    {"Price", ColPrice},
    {"Cost", ColPrice},
    {"Цена", ColPrice},
    {"Стоимость", ColPrice},
    {"Full cost", ColFullCost},
    {"Полная стоимость", ColFullCost},
    {"Start", ColStartDate},
    {"Start date", ColStartDate},
    {"Paid on", ColStartDate},
    {"Date", ColStartDate},
    {"Payment date", ColStartDate},
    {"Last payment date", ColStartDate},
    {"Начало", ColStartDate},
    {"Дата", ColStartDate},
    {"Дата начала", ColStartDate},
    {"Дата оплаты", ColStartDate},
    {"Дата размещения", ColStartDate},
    {"Оплачено", ColStartDate},
    {"Expiry", ColExpiryDate},
    {"Expiry date", ColExpiryDate},
    {"Expires", ColExpiryDate},
    {"Expires on", ColExpiryDate},
    {"Expiration date", ColExpiryDate},
    {"End", ColExpiryDate},
    {"End date", ColExpiryDate},
    {"Paid until", ColExpiryDate},
    {"Окончание", ColExpiryDate},
    {"Дата окончания", ColExpiryDate},
    {"Истекает", ColExpiryDate},
    {"Конец", ColExpiryDate},
    {"Оплачено до", ColExpiryDate},
    {"Действует до", ColExpiryDate},
    {"Partner", ColPartnerName},
    {"Partner name", ColPartnerName},
    {"Seller", ColPartnerName},
    {"Site owner", ColPartnerName},
    {"Партнёр", ColPartnerName},
    {"Продавец", ColPartnerName},
    {"Владелец сайта", ColPartnerName},
    {"E-mail", ColPartnerEmail},
    {"Contact e-mail", ColPartnerEmail},
    {"Partner e-mail", ColPartnerEmail},
    {"Почта", ColPartnerEmail},
    {"Эл. почта", ColPartnerEmail},
    {"Электронная почта", ColPartnerEmail},
    {"Контактный e-mail", ColPartnerEmail},
    {"ICQ", ColPartnerIcq},
    {"Partner ICQ", ColPartnerIcq},
    {"Partner ICQ number", ColPartnerIcq},
    {"Phone", ColPartnerPhone},
    {"Partner phone", ColPartnerPhone},
    {"Partner phone number", ColPartnerPhone},
    {"Телефон", ColPartnerPhone},
    {"Payment type", ColPaymentType},
    {"Payment ID", ColPaymentId},
    {"PR", ColStartingPR},
    {"Starting PR", ColStartingPR},
    {"PageRank", ColStartingPR},
    {"Google PR", ColStartingPR},
    {"Comment", ColComment},
    {"Comments", ColComment},
    {"Notes", ColComment},
    {"Комментарий", ColComment},
    {"Комментарии", ColComment},
    {"Примечание", ColComment},
    {"Примечания", ColComment},
    {"Заметки", ColComment},
    // What a crawler keeps about a link, not the dates of a deal: two such columns would otherwise
    // be guessed as a start and an expiry in the past, and every link would show as expired.
    {"First seen", ColSkip},
    {"Last seen", ColSkip},
    {"Lost", ColSkip},
    {"Lost date", ColSkip},
    {"Date lost", ColSkip},
    {"First indexed", ColSkip},
    {"First indexed date", ColSkip},
    {"Last seen date", ColSkip},
    {"Last crawled", ColSkip},
};

// Letters and digits only, case folded, with "ё" read as "е" as Russian writers mostly do.
std::string HeadingKey(std::string_view heading)
{
    const std::u16string folded = TextEncoding::Utf8ToUtf16(TextEncoding::FoldCase(heading));
    std::u16string key;
    for (char16_t c : folded) {
        if (c == 0x0451)
            c = 0x0435;
        const bool asciiLetterOrDigit = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
        // Past ASCII and Latin-1's signs, everything up to the punctuation and symbol blocks is
        // some script's letters.
        const bool otherLetter = c >= 0xC0 && c != 0xD7 && c != 0xF7 && (c < 0x2000 || c >= 0x3040);
        if (asciiLetterOrDigit || otherLetter)
            key.push_back(c);
    }
    return TextEncoding::Utf16ToUtf8(key);
}

const std::map<std::string, int>& HeadingKeys()
{
    static const std::map<std::string, int> keys = [] {
        std::map<std::string, int> result;
        for (const HeadingWord& word : kHeadingWords)
            result.emplace(HeadingKey(word.text), word.type);
        return result;
    }();
    return keys;
}

// Two-letter endings are country domains; these are the other endings common enough to tell
// "shop.example.com" from "J.Smith" or "report.pdf" without a scheme to go by.
constexpr std::string_view kGenericDomainEndings[] = {
    "com",   "net",   "org",   "info",    "biz",   "edu",   "gov",    "pro", "name", "mobi",   "asia", "shop",
    "store", "site",  "blog",  "club",    "xyz",   "top",   "app",    "dev", "tech", "online", "live", "news",
    "art",   "media", "space", "website", "world", "today", "agency", "рф",  "рус",  "бел",    "укр",
};

bool IsDomainEnding(std::string_view label)
{
    if (label.size() == 2 && std::all_of(label.begin(), label.end(),
                                         [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }))
        return true;
    if (StartsWithIgnoringCase(label, "xn--"))
        return true;
    const std::string folded = TextEncoding::FoldCase(label);
    return std::find(std::begin(kGenericDomainEndings), std::end(kGenericDomainEndings), folded) !=
           std::end(kGenericDomainEndings);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsBareDomain(std::string_view text)
{
    if (text.find('@') != std::string_view::npos)
        return false;
    const std::string_view host = text.substr(0, text.find_first_of("/?#:"));
    std::vector<std::string_view> labels;
    for (std::size_t start = 0;;) {
        const std::size_t dot = host.find('.', start);
        labels.push_back(host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    if (labels.size() < 2)
        return false;
    for (const std::string_view label : labels) {
        const bool wellFormed = !label.empty() && std::all_of(label.begin(), label.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                   static_cast<unsigned char>(c) >= 0x80;
        });
        if (!wellFormed)
            return false;
    }
    return IsDomainEnding(labels.back());
}

// The host an address names, without "www.", for telling the user's own site from partners'.
std::string HostOf(std::string_view address)
{
    address = Trimmed(address);
    for (const std::string_view scheme : {"http://", "https://"})
        if (StartsWithIgnoringCase(address, scheme))
            address.remove_prefix(scheme.size());
    std::string host = TextEncoding::FoldCase(address.substr(0, address.find_first_of("/?#:")));
    if (host.starts_with("www."))
        host.erase(0, 4);
    return host;
}

bool RowHasText(const ISpreadsheet& book, int sheet, int row)
{
    for (int column = 0; column < kImportSheetColumns; ++column)
        if (!book.CellText(sheet, row, column).empty())
            return true;
    return false;
}

// The guess as it is built: what the heading row decided stays, and the content rules fill in
// the rest without taking a type a heading gave.
struct Draft
{
    const ISpreadsheet& book;
    int sheet = 0;
    int first = 0;       // the first sample row
    bool headed = false; // the sheet has a heading row
    ColumnTypes types{};
    std::array<bool, kImportSheetColumns> decided{};  // by the column's heading
    std::array<bool, kImportSheetColumns> untitled{}; // no heading text above the column
    std::array<bool, kImportColumnTypes> named{};     // a heading gave this type

    bool Open(int column) const { return !decided[column]; }
    void Set(int column, int type)
    {
        if (Open(column) && !named[type])
            SetColumnType(types, column, type);
    }
    std::string Text(int row, int column) const { return book.CellText(sheet, row, column); }
};

void TakeHeadings(Draft& guess, int headingRow)
{
    for (int column = 0; column < kImportSheetColumns; ++column) {
        const std::string heading = guess.Text(headingRow, column);
        guess.untitled[column] = heading.empty();
        if (const auto type = HeadingColumnType(heading)) {
            SetColumnType(guess.types, column, *type);
            guess.decided[column] = true;
        }
    }
    // Of two columns with the same heading the later one has the type; the earlier stays decided.
    for (int column = 0; column < kImportSheetColumns; ++column)
        if (guess.decided[column] && guess.types[column] != ColSkip)
            guess.named[guess.types[column]] = true;
}

// The dates of one column over the sample rows, by row; a column counts as a date column when
// at least two of its samples are dates.
using SampleDates = std::array<std::optional<OleDateTime>, kSampleRows>;

void GuessDateColumns(Draft& guess, const OleDateTime& now)
{
    std::vector<std::pair<int, SampleDates>> dateColumns;
    for (int column = 0; column < kImportSheetColumns; ++column) {
        if (!guess.Open(column))
            continue;
        SampleDates dates;
        int count = 0;
        for (int i = 0; i < kSampleRows; ++i) {
            dates[i] = importcells::ReadDate(guess.book, guess.sheet, guess.first + i, column);
            count += dates[i] ? 1 : 0;
        }
        if (count >= 2)
            dateColumns.emplace_back(column, dates);
    }

    if (dateColumns.size() == 1) {
        const auto& [column, dates] = dateColumns.front();
        bool allAfter = true;
        bool allBefore = true;
        for (const auto& date : dates) {
            if (!date)
                continue;
            allAfter = allAfter && *date > now;
            allBefore = allBefore && *date < now;
        }
        if (allAfter)
            guess.Set(column, ColExpiryDate);
        else if (allBefore)
            guess.Set(column, ColStartDate);
    } else if (dateColumns.size() == 2) {
        const auto& [left, leftDates] = dateColumns[0];
        const auto& [right, rightDates] = dateColumns[1];
        bool alwaysEarlier = true;
        bool alwaysLater = true;
        int compared = 0;
        for (int i = 0; i < kSampleRows; ++i) {
            if (!leftDates[i] || !rightDates[i])
                continue;
            ++compared;
            alwaysEarlier = alwaysEarlier && *leftDates[i] < *rightDates[i];
            alwaysLater = alwaysLater && *leftDates[i] > *rightDates[i];
        }
        // Two date columns that never share a row say nothing about which comes first.
        if (compared > 0 && alwaysEarlier) {
            guess.Set(left, ColStartDate);
            guess.Set(right, ColExpiryDate);
        } else if (compared > 0 && alwaysLater) {
            guess.Set(left, ColExpiryDate);
            guess.Set(right, ColStartDate);
        }
    }
}

void GuessWebAddressColumns(Draft& guess)
{
    struct AddressColumn
    {
        int column;
        int sameAddress; // the largest group of equal addresses
        int sameHost;    // the largest group of addresses on one host
    };
    std::vector<AddressColumn> found;
    for (int column = 0; column < kImportSheetColumns; ++column) {
        if (!guess.Open(column))
            continue;
        std::map<std::string, int> addresses;
        std::map<std::string, int> hosts;
        int count = 0;
        for (int row = guess.first; row < guess.first + kSampleRows; ++row) {
            const std::string text = guess.Text(row, column);
            if (LooksLikeWebAddress(text)) {
                ++addresses[TextEncoding::FoldCase(Trimmed(text))];
                ++hosts[HostOf(text)];
                ++count;
            }
        }
        if (count < 2)
            continue;
        const auto largest = [](const std::map<std::string, int>& groups) {
            int most = 0;
            for (const auto& group : groups)
                most = std::max(most, group.second);
            return most;
        };
        found.push_back({column, largest(addresses), largest(hosts)});
    }

    // The user's own page repeats down the column; partners' pages differ from row to row.
    for (const AddressColumn& column : found)
        guess.Set(column.column, column.sameAddress > 2 ? ColToPage : ColFromPage);

    // Two columns of addresses hold the partners' pages and the user's own even when no page
    // repeats: the user's pages share a host more than partners' pages do, and on a tie the sheet
    // names the partner's page first.
    if (found.size() < 2 || ColumnForType(guess.types, ColToPage) >= 0 || guess.named[ColToPage])
        return;
    const AddressColumn* own = &found.front();
    for (const AddressColumn& column : found)
        if (column.sameHost >= own->sameHost)
            own = &column;
    for (const AddressColumn& column : found)
        if (&column != own)
            guess.Set(column.column, ColFromPage);
    guess.Set(own->column, ColToPage);
}

void GuessPageRankColumn(Draft& guess)
{
    for (int column = 0; column < kImportSheetColumns; ++column) {
        // Under a heading other than "PR", small numbers count something else: links, visits, a
        // tool's own rating.
        if (!guess.Open(column) || (guess.headed && !guess.untitled[column]))
            continue;
        int integers = 0;
        bool inRange = true;
        for (int row = guess.first; row < guess.first + kSampleRows; ++row) {
            if (const auto value = guess.book.CellInteger(guess.sheet, row, column)) {
                ++integers;
                inRange = inRange && *value >= 0 && *value <= 10;
            }
        }
        if (integers >= 2 && inRange) {
            guess.Set(column, ColStartingPR);
            return;
        }
    }
}

bool ShowsCurrency(const std::string& text)
{
    for (const std::string_view sign : {"$", "€", "£", "₽"})
        if (text.find(sign) != std::string::npos)
            return true;
    return false;
}

void GuessPriceAndPaymentColumns(Draft& guess)
{
    for (int column = 0; column < kImportSheetColumns; ++column) {
        if (!guess.Open(column))
            continue;
        int prices = 0;
        for (int row = guess.first; row < guess.first + kSampleRows; ++row)
            if (ShowsCurrency(guess.Text(row, column)) && guess.book.CellInteger(guess.sheet, row, column))
                ++prices;
        if (prices > 3)
            guess.Set(column, ColPrice);
    }
    for (int column = 0; column < kImportSheetColumns; ++column) {
        if (!guess.Open(column))
            continue;
        int payments = 0;
        for (int row = guess.first; row < guess.first + kSampleRows; ++row)
            if (IsPaymentTypeName(guess.Text(row, column)))
                ++payments;
        if (payments > 1)
            guess.Set(column, ColPaymentType);
    }
}

} // namespace guessing
} // namespace

std::optional<int> HeadingColumnType(std::string_view heading)
{
    const std::string key = guessing::HeadingKey(heading);
    if (key.empty())
        return std::nullopt;
    const auto& keys = guessing::HeadingKeys();
    if (const auto it = keys.find(key); it != keys.end())
        return it->second;
    // "Target URL", "Referring page URL": the heading and the word for what its cells hold.
    constexpr std::string_view kUrl = "url";
    if (key.size() > kUrl.size() && key.ends_with(kUrl))
        if (const auto it = keys.find(key.substr(0, key.size() - kUrl.size())); it != keys.end())
            return it->second;
    return std::nullopt;
}

int FindHeadingRow(const ISpreadsheet& book, int sheet)
{
    // Titles above a heading fill one cell each; the first row that fills more is the heading or
    // already data.
    for (int row = 0; row < kImportPreviewRows; ++row) {
        int filled = 0;
        bool names = false;
        for (int column = 0; column < kImportSheetColumns; ++column) {
            const std::string text = book.CellText(sheet, row, column);
            if (text.empty())
                continue;
            ++filled;
            names = names || HeadingColumnType(text).has_value();
        }
        if (names)
            return row;
        if (filled >= 2)
            return -1;
    }
    return -1;
}

bool LooksLikeWebAddress(std::string_view text)
{
    text = guessing::Trimmed(text);
    for (const std::string_view scheme : {"http://", "https://"})
        if (StartsWithIgnoringCase(text, scheme))
            return true;
    if (StartsWithIgnoringCase(text, "www."))
        return true;
    if (std::any_of(text.begin(), text.end(), guessing::IsBlank))
        return false;
    return guessing::IsBareDomain(text);
}

ColumnTypes AutoDetectColumns(const ISpreadsheet& book, int sheet, const ColumnTypes& current, const OleDateTime& now)
{
    guessing::Draft guess{book, sheet};
    const int headingRow = FindHeadingRow(book, sheet);
    if (headingRow >= 0) {
        guess.headed = true;
        guessing::TakeHeadings(guess, headingRow);
        // The samples are the data under the heading, past any blank rows.
        guess.first = headingRow + 1;
        while (guess.first < headingRow + kImportPreviewRows && !guessing::RowHasText(book, sheet, guess.first))
            ++guess.first;
    } else {
        guess.first = FindFirstDataRow(book, sheet, current);
    }
    guessing::GuessDateColumns(guess, now);
    guessing::GuessWebAddressColumns(guess);
    guessing::GuessPageRankColumn(guess);
    guessing::GuessPriceAndPaymentColumns(guess);
    return guess.types;
}
