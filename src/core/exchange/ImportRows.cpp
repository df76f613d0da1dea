#include "ExcelImport.h"

#include "ImportCells.h"
#include "ImportValues.h"
#include "core/platform/TextEncoding.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/records/TextUtil.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// Rows between two progress reports: often enough for a responsive bar, rare enough to cost nothing.
constexpr int kProgressEvery = 4096;

std::string_view TrimBlanks(std::string_view text)
{
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    const auto end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool EqualsFolded(const std::string& a, const std::string& b)
{
    return a == b || TextEncoding::FoldCase(a) == TextEncoding::FoldCase(b);
}

// Letters, digits, "-" and ".". Letters of any script count, so an address written in Cyrillic
// stays whole; blanks, punctuation and symbols outside ASCII do not, nor characters beyond the
// basic plane (emoji, mostly).
bool IsAddressChar(char16_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
               c == u'.';
    if (c <= 0xBF || c == 0xD7 || c == 0xF7)
        return false;
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x2E00 && c <= 0x2E7F) || (c >= 0x3000 && c <= 0x303F))
        return false;
    if ((c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFE10 && c <= 0xFE6F) || c == 0xFEFF || c >= 0xFFF0)
        return false;
    if ((c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) || (c >= 0xFF3B && c <= 0xFF40) ||
        (c >= 0xFF5B && c <= 0xFF65))
        return false;
    return true;
}

// "Jane Doe (jane@example.com)" in the name column: the address becomes the e-mail and the rest
// the name. A cell holding only an address is left alone, since that address is all the name
// there is: the scan never looks at the first character, so it cannot find where such an
// address begins.
void TakeEmailFromName(std::string& name, std::string& email)
{
    if (name.empty() || !email.empty() || name.find('@', 1) == std::string::npos)
        return;
    const std::u16string text = TextEncoding::Utf8ToUtf16(name);
    const std::size_t firstLength = text[0] >= 0xD800 && text[0] <= 0xDBFF ? 2 : 1;
    const std::size_t at = text.rfind(u'@');
    if (at == std::u16string::npos || at < firstLength + 1)
        return;
    std::size_t left = at - 1;
    while (left >= firstLength && IsAddressChar(text[left]))
        --left;
    if (left < firstLength)
        return;
    std::size_t right = at + 1;
    while (right < text.size() && IsAddressChar(text[right]))
        ++right;

    email = TextEncoding::Utf16ToUtf8(text.substr(left + 1, right - left - 1));
    std::u16string rest = text.substr(0, left + 1) + text.substr(right);
    const auto last = rest.find_last_not_of(u"()[]{} \t");
    rest.erase(last == std::u16string::npos ? 0 : last + 1);
    if (!rest.empty())
        name = TextEncoding::Utf16ToUtf8(rest);
}

// Sheets kept for link exchanges mark the anchor inside a longer cell as "#a#text#/a#"; only the
// text between the markers is the anchor.
void UnwrapAnchor(std::string& anchor)
{
    const auto open = anchor.find("#a#");
    if (open == std::string::npos)
        return;
    const auto close = anchor.find("#/a#", open + 3);
    if (close == std::string::npos)
        return;
    anchor = anchor.substr(open + 3, close - open - 3);
}

/// The partners collection as the import sees it: the existing partners plus the ones this
/// import made so far, which are added to the collection only when the whole sheet is read.
class StagedPartners
{
public:
    explicit StagedPartners(const CPartnersManager& partners) : m_nextId(partners.GetNextPartnerId())
    {
        for (const CPartner* partner : partners.GetPartners()) {
            m_ids.insert(partner->GetId());
            m_byName.emplace(AsciiLowerCase(partner->GetName()), partner);
        }
    }

    /// As the collection's FindByName would answer with the staged partners appended.
    const CPartner* FindByName(const std::string& name) const
    {
        const auto it = m_byName.find(AsciiLowerCase(name));
        return it == m_byName.end() ? nullptr : it->second;
    }

    /// "Partner1", "Partner2", ...: the first such name nobody holds. Names are only ever added
    /// during an import, so the search can go on where it last stopped.
    std::string FreeGeneratedName()
    {
        for (;; ++m_nextNumber) {
            std::string name = "Partner" + std::to_string(m_nextNumber);
            if (!FindByName(name))
                return name;
        }
    }

    /// A new partner with the identifier the collection's AddPartner would give it.
    CPartner* Add(std::string name)
    {
        while (m_nextId == -1 || m_ids.count(m_nextId))
            m_nextId = static_cast<int32_t>(static_cast<uint32_t>(m_nextId) + 1u);
        auto partner = std::make_unique<CPartner>(std::move(name));
        partner->SetId(m_nextId);
        m_ids.insert(m_nextId);
        m_nextId = static_cast<int32_t>(static_cast<uint32_t>(m_nextId) + 1u);
        m_byName.emplace(AsciiLowerCase(partner->GetName()), partner.get());
        m_new.push_back(std::move(partner));
        return m_new.back().get();
    }

    std::size_t NewCount() const { return m_new.size(); }

    void CommitTo(CPartnersManager& partners)
    {
        for (auto& partner : m_new)
            partners.Append(std::move(partner));
        partners.SetNextPartnerId(m_nextId);
        m_new.clear();
    }

private:
    std::unordered_set<int32_t> m_ids;
    std::unordered_map<std::string, const CPartner*> m_byName; // the first partner of each name
    std::vector<std::unique_ptr<CPartner>> m_new;
    int32_t m_nextId;
    int m_nextNumber = 1;
};

// A cell's text as a reason quotes it: a sheet may hold a page of text in one cell, and the list
// of skipped rows is read on a screen.
std::string Quoted(const std::string& text)
{
    constexpr std::size_t kLongest = 40;
    if (text.size() <= kLongest)
        return text;
    std::size_t cut = kLongest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut; // not inside a character
    return text.substr(0, cut) + "...";
}

// A cell of a typed column: its value, or the text that could not be read as one; both empty
// for an empty cell.
template <class T> struct Reading
{
    std::optional<T> value;
    std::string unread;
};

class RowReader
{
public:
    RowReader(const ISpreadsheet& book, int sheet, const ColumnTypes& types) : m_book(book), m_sheet(sheet)
    {
        for (int type = 0; type < kImportColumnTypes; ++type)
            m_columns[type] = ColumnForType(types, type);
    }

    bool Has(int type) const { return m_columns[type] >= 0; }
    bool HasAnyOf(std::initializer_list<int> types) const
    {
        for (const int type : types)
            if (Has(type))
                return true;
        return false;
    }
    std::string Text(int row, int type) const
    {
        return Has(type) ? m_book.CellText(m_sheet, row, m_columns[type]) : std::string();
    }
    Reading<OleDateTime> Date(int row, int type) const
    {
        if (!Has(type))
            return {};
        const int column = m_columns[type];
        if (const auto date = importcells::ReadDate(m_book, m_sheet, row, column))
            return {date, {}};
        std::string text(TrimBlanks(m_book.CellText(m_sheet, row, column)));
        if (text.empty())
            return {};
        auto& order = m_dayOrder[type == ColStartDate ? 0 : 1];
        if (order == importvalues::DayOrder::Unknown)
            order = importvalues::OrderShownBy(text);
        auto date = importvalues::ReadTextDate(text, order);
        if (!date && order == importvalues::DayOrder::Unknown &&
            importvalues::ReadTextDate(text, importvalues::DayOrder::DayFirst)) {
            order = OrderOfColumn(column, row + 1);
            date = importvalues::ReadTextDate(text, order);
        }
        if (!date)
            return {std::nullopt, std::move(text)};
        return {date, {}};
    }
    Reading<importvalues::Amount> Amount(int row, int type) const
    {
        if (!Has(type))
            return {};
        std::string text(TrimBlanks(m_book.CellText(m_sheet, row, m_columns[type])));
        if (text.empty())
            return {};
        if (const auto amount = importvalues::ReadAmount(text))
            return {amount, {}};
        // A number whose format shows it in a way of its own ("1.2E+03"): the value is in the cell.
        if (const auto number = m_book.CellInteger(m_sheet, row, m_columns[type]); number && *number >= 0)
            return {importvalues::Amount{*number, false}, {}};
        return {std::nullopt, std::move(text)};
    }
    std::optional<int32_t> Integer(int row, int type) const
    {
        return Has(type) ? m_book.CellInteger(m_sheet, row, m_columns[type]) : std::nullopt;
    }

private:
    // A slashed date such as 03/10/2027 reads either way: a later date of the same column that can
    // only be read one way decides, else the way the system writes dates.
    importvalues::DayOrder OrderOfColumn(int column, int from) const
    {
        const int rows = m_book.RowCount(m_sheet);
        for (int row = from; row < rows; ++row) {
            if (importcells::ReadDate(m_book, m_sheet, row, column))
                continue;
            const auto order = importvalues::OrderShownBy(m_book.CellText(m_sheet, row, column));
            if (order != importvalues::DayOrder::Unknown)
                return order;
        }
        m_localeOrder = importvalues::LocaleDayOrder();
        return *m_localeOrder;
    }

public:
    /// The order the locale gave to slashed dates no value of their column decided; none when
    /// every column showed its own.
    std::optional<importvalues::DayOrder> LocaleOrderUsed() const { return m_localeOrder; }

private:
    const ISpreadsheet& m_book;
    int m_sheet;
    std::array<int, kImportColumnTypes> m_columns{};
    // Decided at the first date that shows it, for the start and the expiry column.
    mutable std::array<importvalues::DayOrder, 2> m_dayOrder{importvalues::DayOrder::Unknown,
                                                             importvalues::DayOrder::Unknown};
    mutable std::optional<importvalues::DayOrder> m_localeOrder;
};

/// What a row gives on the link side.
struct LinkRow
{
    std::unique_ptr<CLink> link;
    bool noLinkData = false; ///< project, anchor and both pages empty: the row counts as one without link data
    std::string problem;     ///< why a row that holds something gives no link
    int rounded = 0;         ///< amounts of the link that lost a decimal part
};

class RowImporter
{
public:
    RowImporter(const RowReader& cells, StagedPartners& partners) : m_cells(cells), m_partners(partners)
    {
        m_hasPartnerColumns = cells.HasAnyOf(
            {ColPartnerName, ColPartnerEmail, ColPartnerIcq, ColPartnerPhone, ColPaymentType, ColPaymentId});
        m_hasLinkColumns =
            cells.HasAnyOf({ColProjectName, ColStartDate, ColExpiryDate, ColFromPage, ColToPage, ColAnchor});
    }

    /// The row's partner, found or made; null when the row names none.
    const CPartner* ReadPartner(int row)
    {
        if (!m_hasPartnerColumns)
            return nullptr;
        std::string name(TrimBlanks(m_cells.Text(row, ColPartnerName)));
        std::string email = m_cells.Text(row, ColPartnerEmail);
        const std::string icq = m_cells.Text(row, ColPartnerIcq);
        const std::string phone = m_cells.Text(row, ColPartnerPhone);
        const std::string paymentType = m_cells.Text(row, ColPaymentType);
        const std::string paymentId = m_cells.Text(row, ColPaymentId);
        TakeEmailFromName(name, email);
        if (name.empty() && email.empty() && icq.empty() && phone.empty() && paymentType.empty() && paymentId.empty())
            return nullptr;

        if (!name.empty()) {
            if (const CPartner* known = m_partners.FindByName(name)) {
                if ((email.empty() || EqualsFolded(email, known->GetEmail())) &&
                    (!m_cells.Has(ColPartnerIcq) || EqualsFolded(icq, known->GetIcq())) &&
                    (!m_cells.Has(ColPartnerPhone) || EqualsFolded(phone, known->GetPhone())))
                    return known;
                // Same name, other contact: another person, who gets a name of his own.
                name.clear();
            }
        }
        if (name.empty())
            name = m_partners.FreeGeneratedName();
        CPartner* partner = m_partners.Add(std::move(name));
        partner->SetEmail(std::move(email));
        partner->SetIcq(icq);
        partner->SetPhone(phone);
        partner->SetPaymentType(0, paymentType);
        partner->SetPaymentId(0, paymentId);
        return partner;
    }

    /// Whether anything of the link side other than project, anchor and pages is written in the row.
    bool HoldsLinkSideText(int row) const
    {
        for (const int type : {ColComment, ColStartDate, ColExpiryDate, ColPrice, ColFullCost, ColStartingPR})
            if (!TrimBlanks(m_cells.Text(row, type)).empty())
                return true;
        return false;
    }

    /// The row's link, built without its partner; or why there is none.
    LinkRow ReadLink(int row, const CLink& blank) const
    {
        LinkRow result;
        if (!m_hasLinkColumns)
            return result;
        std::string project = m_cells.Text(row, ColProjectName);
        std::string fromPage = m_cells.Text(row, ColFromPage);
        std::string toPage = m_cells.Text(row, ColToPage);
        std::string anchor = m_cells.Text(row, ColAnchor);
        std::string comment = m_cells.Text(row, ColComment);
        UnwrapAnchor(anchor);
        const char* const missing = m_cells.Has(ColFromPage) ? "no From page" : "no link data";
        if (project.empty() && anchor.empty() && fromPage.empty() && toPage.empty()) {
            result.noLinkData = true;
            result.problem = missing;
            return result;
        }
        // A link is checked on its From page: without one there is nothing to keep.
        if (m_cells.Has(ColFromPage) && TrimBlanks(fromPage).empty()) {
            result.problem = missing;
            return result;
        }

        // Every value is read before anything is made, so that no link carries a value the
        // sheet does not hold: one unreadable cell keeps the whole row out, and says so.
        const auto start = m_cells.Date(row, ColStartDate);
        const auto expiry = m_cells.Date(row, ColExpiryDate);
        const auto price = m_cells.Amount(row, ColPrice);
        const auto cost = m_cells.Amount(row, ColFullCost);
        const std::pair<const std::string*, const char*> unread[] = {{&start.unread, "start date"},
                                                                     {&expiry.unread, "expiry date"},
                                                                     {&price.unread, "price"},
                                                                     {&cost.unread, "full cost"}};
        for (const auto& [text, what] : unread) {
            if (!text->empty()) {
                result.problem = std::string(what) + " '" + Quoted(*text) + "' not read";
                return result;
            }
        }

        auto link = std::make_unique<CLink>(blank);
        link->SetProject(std::move(project));
        link->SetAnchor(std::move(anchor));
        link->SetFromPage(std::move(fromPage));
        link->SetToPage(std::move(toPage));
        link->SetComment(std::move(comment));
        if (start.value) {
            link->SetFirstPaymentDate(*start.value);
            link->SetLastPaymentDate(*start.value);
        }
        if (expiry.value)
            link->SetPeriod(importvalues::PeriodUntil(link->GetLastPaymentDate(), *expiry.value));
        else if (m_cells.Has(ColExpiryDate))
            link->MakePermanent(); // a deal with no end in a sheet that gives ends
        if (const auto pr = m_cells.Integer(row, ColStartingPR); pr && *pr >= 0 && *pr <= 10)
            link->SetStartingPR(*pr);
        if (price.value) {
            link->SetCostMode(0);
            link->SetCostPerMonthValue(price.value->units);
            result.rounded += price.value->rounded ? 1 : 0;
        }
        if (cost.value) {
            link->SetCostMode(1);
            link->SetCostPerPeriodValue(cost.value->units);
            result.rounded += cost.value->rounded ? 1 : 0;
        }
        result.link = std::move(link);
        return result;
    }

private:
    const RowReader& m_cells;
    StagedPartners& m_partners;
    bool m_hasPartnerColumns = false;
    bool m_hasLinkColumns = false;
};

} // namespace

std::optional<OleDateTime> importcells::ReadAnyDate(const ISpreadsheet& book, int sheet, int row, int column)
{
    if (auto date = ReadDate(book, sheet, row, column))
        return date;
    const std::string text = book.CellText(sheet, row, column);
    if (auto date = importvalues::ReadTextDate(text, importvalues::DayOrder::DayFirst))
        return date;
    return importvalues::ReadTextDate(text, importvalues::DayOrder::MonthFirst);
}

std::optional<OleDateTime> importcells::ReadDate(const ISpreadsheet& book, int sheet, int row, int column)
{
    const auto value = book.CellDate(sheet, row, column);
    if (!value || !value->IsValid())
        return std::nullopt;
    const DateParts p = value->GetParts();
    if (p.year < 0)
        return std::nullopt;
    const OleDateTime midnight = OleDateTime::FromParts(p.year, p.month, p.day);
    if (!midnight.IsValid())
        return std::nullopt;
    return midnight;
}

namespace {

std::string Grouped(std::size_t n)
{
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

ImportResult Refused(ImportResult result, std::string why)
{
    result.links = result.newPartners = 0;
    result.refusal = std::move(why);
    return result;
}

} // namespace

namespace {

ImportResult WalkRows(const ISpreadsheet& book, int sheet, const ColumnTypes& types, CPartnersManager& partners,
                      CLinksManager& links, const ProgressFn& progress, std::size_t maxNew, int rowLimit)
{
    ImportResult result;
    std::vector<std::unique_ptr<CLink>> newLinks;
    std::optional<StagedPartners> staged;
    try {
        result.firstRow = FindFirstDataRow(book, sheet, types);
        const int rowCount = std::min(book.RowCount(sheet), rowLimit);

        staged.emplace(partners);
        const RowReader cells(book, sheet, types);
        RowImporter importer(cells, *staged);
        // Every imported link starts as a new link would, dated the day of the import.
        const CLink blank;

        int withoutPartner = 0;
        int withoutLink = 0;
        const double span = std::max(1, rowCount - result.firstRow);
        for (int row = result.firstRow; row < rowCount; ++row) {
            // The counters are never reset: scattered gaps add up just as a run of empty rows does.
            if (withoutPartner > 2 && withoutLink > 2) {
                result.stoppedAtRow = row;
                result.stopReason = importcells::DescribeStop(withoutPartner, withoutLink);
                break;
            }
            if ((row - result.firstRow) % kProgressEvery == 0 && progress &&
                !progress((row - result.firstRow) / span)) {
                result.cancelled = true;
                return result;
            }
            result.lastRow = row;
            LinkRow read = importer.ReadLink(row, blank);
            // A deal row with a value that cannot be read is left out whole, its partner included.
            if (!read.link && !read.noLinkData && !read.problem.empty()) {
                result.skipped.push_back({row, std::move(read.problem)});
                continue;
            }
            const CPartner* partner = importer.ReadPartner(row);
            if (!partner)
                ++withoutPartner;
            if (staged->NewCount() > maxNew)
                return Refused(result, "the sheet names more than " + Grouped(maxNew) + " new partners");
            if (read.link) {
                if (newLinks.size() >= maxNew)
                    return Refused(result, "the sheet holds more than " + Grouped(maxNew) + " links");
                if (partner)
                    read.link->SetPartnerId(partner->GetId());
                result.roundedAmounts += read.rounded;
                newLinks.push_back(std::move(read.link));
            } else {
                ++withoutLink;
                if (partner || importer.HoldsLinkSideText(row))
                    result.skipped.push_back({row, std::move(read.problem)});
            }
        }
        if (const auto order = cells.LocaleOrderUsed())
            result.slashedDates = *order == importvalues::DayOrder::MonthFirst ? "month" : "day";
        if (progress && !progress(1.0)) {
            result.cancelled = true;
            return result;
        }
        // Room first, so that adding them below cannot fail half-way.
        partners.Reserve(partners.GetCount() + staged->NewCount());
        links.Reserve(links.GetCount() + newLinks.size());
    } catch (const std::bad_alloc&) {
        newLinks.clear();
        staged.reset();
        return Refused(result, "there is not enough memory for its rows");
    }

    result.newPartners = static_cast<int>(staged->NewCount());
    result.links = static_cast<int>(newLinks.size());
    staged->CommitTo(partners);
    for (auto& link : newLinks)
        links.Append(std::move(link));
    return result;
}

} // namespace

ImportResult ImportRows(const ISpreadsheet& book, int sheet, const ColumnTypes& types, CPartnersManager& partners,
                        CLinksManager& links, const ProgressFn& progress, std::size_t maxNew)
{
    return WalkRows(book, sheet, types, partners, links, progress, maxNew, INT32_MAX);
}

std::vector<std::string> ImportRowNotes(const ISpreadsheet& book, int sheet, const ColumnTypes& types, int count)
{
    std::vector<std::string> notes(static_cast<std::size_t>(std::max(count, 0)));
    // The import itself, over the first rows and into collections thrown away, so that the notes
    // cannot tell anything else than what the import will do.
    CPartnersManager partners;
    CLinksManager links;
    const ImportResult result = WalkRows(book, sheet, types, partners, links, {}, kMaxImportedRecords, count);
    for (int row = 0; row < std::min(result.firstRow, count); ++row)
        notes[row] = "above the first data row: not imported";
    for (const SkippedRow& skipped : result.skipped)
        notes[skipped.row] = "not imported: " + skipped.reason;
    if (result.stoppedAtRow >= 0)
        for (int row = result.stoppedAtRow; row < count; ++row)
            notes[row] = "not imported: the import stops before this row (" + result.stopReason + ")";
    return notes;
}

std::string SkippedRowsList(const ImportResult& result, std::size_t limit)
{
    std::string text;
    const std::size_t shown = std::min(limit, result.skipped.size());
    for (std::size_t i = 0; i < shown; ++i)
        text += "row " + std::to_string(result.skipped[i].row + 1) + ": " + result.skipped[i].reason + "\n";
    if (shown < result.skipped.size())
        text += "and " + std::to_string(result.skipped.size() - shown) + " more\n";
    return text;
}
