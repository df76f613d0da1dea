#include "ExcelImport.h"

#include "ImportCells.h"
#include "core/platform/TextEncoding.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/records/TextUtil.h"

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
    std::optional<OleDateTime> Date(int row, int type) const
    {
        return Has(type) ? importcells::ReadDate(m_book, m_sheet, row, m_columns[type]) : std::nullopt;
    }
    std::optional<int32_t> Integer(int row, int type) const
    {
        return Has(type) ? m_book.CellInteger(m_sheet, row, m_columns[type]) : std::nullopt;
    }

private:
    const ISpreadsheet& m_book;
    int m_sheet;
    std::array<int, kImportColumnTypes> m_columns{};
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

    /// The row's link, or null when the row holds none.
    std::unique_ptr<CLink> ReadLink(int row, const CPartner* partner, const CLink& blank) const
    {
        if (!m_hasLinkColumns)
            return nullptr;
        std::string project = m_cells.Text(row, ColProjectName);
        std::string fromPage = m_cells.Text(row, ColFromPage);
        std::string toPage = m_cells.Text(row, ColToPage);
        std::string anchor = m_cells.Text(row, ColAnchor);
        UnwrapAnchor(anchor);
        if (project.empty() && anchor.empty() && fromPage.empty() && toPage.empty())
            return nullptr;

        auto link = std::make_unique<CLink>(blank);
        link->SetProject(std::move(project));
        link->SetAnchor(std::move(anchor));
        link->SetFromPage(std::move(fromPage));
        link->SetToPage(std::move(toPage));
        link->SetComment(m_cells.Text(row, ColComment));
        if (partner)
            link->SetPartnerId(partner->GetId());

        if (const auto start = m_cells.Date(row, ColStartDate)) {
            link->SetFirstPaymentDate(*start);
            link->SetLastPaymentDate(*start);
        }
        if (const auto expiry = m_cells.Date(row, ColExpiryDate)) {
            const double days = std::round((*expiry - link->GetLastPaymentDate()).GetDays());
            link->SetPeriod(OleDateTimeSpan(days + 1.0));
        }
        if (const auto pr = m_cells.Integer(row, ColStartingPR); pr && *pr >= 0 && *pr <= 10)
            link->SetStartingPR(*pr);
        if (const auto price = m_cells.Integer(row, ColPrice); price && *price >= 0) {
            link->SetCostMode(0);
            link->SetCostPerMonthValue(*price);
        }
        if (const auto cost = m_cells.Integer(row, ColFullCost); cost && *cost >= 0) {
            link->SetCostMode(1);
            link->SetCostPerPeriodValue(*cost);
        }
        return link;
    }

private:
    const RowReader& m_cells;
    StagedPartners& m_partners;
    bool m_hasPartnerColumns = false;
    bool m_hasLinkColumns = false;
};

} // namespace

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

ImportResult ImportRows(const ISpreadsheet& book, int sheet, const ColumnTypes& types, CPartnersManager& partners,
                        CLinksManager& links, const ProgressFn& progress, std::size_t maxNew)
{
    ImportResult result;
    std::vector<std::unique_ptr<CLink>> newLinks;
    std::optional<StagedPartners> staged;
    try {
        result.firstRow = FindFirstDataRow(book, sheet, types);
        const int rowCount = book.RowCount(sheet);

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
            const CPartner* partner = importer.ReadPartner(row);
            if (!partner)
                ++withoutPartner;
            if (staged->NewCount() > maxNew)
                return Refused(result, "the sheet names more than " + Grouped(maxNew) + " new partners");
            if (auto link = importer.ReadLink(row, partner, blank)) {
                if (newLinks.size() >= maxNew)
                    return Refused(result, "the sheet holds more than " + Grouped(maxNew) + " links");
                newLinks.push_back(std::move(link));
            } else
                ++withoutLink;
            result.lastRow = row;
        }
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
