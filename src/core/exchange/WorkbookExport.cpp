#include "Exports.h"

#include "ExportFile.h"
#include "PartnerIndex.h"
#include "core/platform/TextEncoding.h"
#include "core/records/LinksManager.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr int kColumns = 15;
constexpr std::array<const char*, kColumns> kColumnTitles = {
    "Partner",
    "Partner organization",
    "Partner e-mail",
    "Partner ICQ number",
    "Partner phone number",
    "Project",
    "From Page",
    "To Page",
    "Anchor",
    "First payment date",
    "Last payment date",
    "Expiry date",
    "Price",
    "Full cost",
    "Status",
};
enum Column
{
    FirstDateColumn = 9,
    PriceColumn = 12,
    FullCostColumn = 13,
};

// A cell holds at most 32767 UTF-16 units.
constexpr std::size_t kMaxCellUnits = 32767;
// Wider columns help no one: long addresses and anchors are read in the cell itself.
constexpr double kMaxWidth = 60.0;
/// Cuts a text that a cell cannot hold, between characters.
std::string_view FitCell(std::string_view text)
{
    if (text.size() <= kMaxCellUnits)
        return text;
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::size_t need = length == 4 ? 2 : 1; // beyond the basic plane: a surrogate pair
        if (units + need > kMaxCellUnits)
            break;
        units += need;
        pos = std::min(text.size(), pos + length);
        while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80)
            ++pos;
    }
    return text.substr(0, pos);
}

std::size_t Characters(std::string_view text)
{
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

struct Row
{
    std::array<std::string_view, 9> texts; // columns 0 to 8
    std::array<OleDateTime, 3> dates;      // columns 9 to 11
    int32_t price = 0;
    int32_t fullCost = 0;
    bool permanent = false;
    std::string status;
};

Row RowOf(const CLink& link, const CPartner* partner)
{
    Row row;
    if (partner)
        row.texts = {partner->GetName(), partner->GetOrganization(), partner->GetEmail(), partner->GetIcq(),
                     partner->GetPhone()};
    row.texts[5] = link.GetProject();
    row.texts[6] = link.GetFromPage();
    row.texts[7] = link.GetToPage();
    row.texts[8] = link.GetAnchor();
    row.dates = {link.GetFirstPaymentDate(), link.GetLastPaymentDate(), link.GetExpiryDate()};
    row.price = link.GetCostPerMonth();
    row.fullCost = link.GetCostPerPeriod();
    row.permanent = link.IsPermanent();
    row.status = GetStatusName(link.GetStatus());
    return row;
}

/// Owns the workbook until it is written.
class Workbook
{
public:
    explicit Workbook(const std::string& path)
    {
        // Row by row straight to a temporary file: 100,000 links need no more memory than a few rows.
        lxw_workbook_options options = {};
        options.constant_memory = LXW_TRUE;
        m_book = workbook_new_opt(path.c_str(), &options);
        if (!m_book)
            throw std::runtime_error("cannot create the workbook \"" + path + "\"");
        m_sheet = workbook_add_worksheet(m_book, "Links");
        if (!m_sheet) {
            lxw_workbook_free(m_book);
            throw std::runtime_error("cannot add a worksheet (no room for temporary files?)");
        }
        m_bold = workbook_add_format(m_book);
        format_set_bold(m_bold);
        m_date = workbook_add_format(m_book);
        // Year first: no reader mistakes the day for the month.
        format_set_num_format(m_date, "yyyy-mm-dd");
    }
    ~Workbook()
    {
        // Freeing the workbook would leave its row file open; closing it writes a file the
        // caller's temporary name then takes away.
        if (m_book)
            workbook_close(m_book);
    }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    void SetWidths(const std::array<double, kColumns>& widths)
    {
        for (int column = 0; column < kColumns; ++column)
            worksheet_set_column(m_sheet, static_cast<lxw_col_t>(column), static_cast<lxw_col_t>(column),
                                 widths[column], nullptr);
        worksheet_freeze_panes(m_sheet, 1, 0);
    }

    void WriteHeader()
    {
        for (int column = 0; column < kColumns; ++column)
            worksheet_write_string(m_sheet, 0, static_cast<lxw_col_t>(column), kColumnTitles[column], m_bold);
    }

    // A cell that cannot be written stays empty; the rest of the row still goes out.
    void WriteRow(lxw_row_t index, const Row& row)
    {
        for (int column = 0; column < static_cast<int>(row.texts.size()); ++column)
            WriteText(index, column, row.texts[column]);
        // A permanent deal has neither an end nor a monthly price; an empty expiry cell is what
        // the import reads back as permanent.
        for (int i = 0; i < (row.permanent ? 2 : 3); ++i)
            WriteDate(index, FirstDateColumn + i, row.dates[i]);
        if (!row.permanent)
            worksheet_write_number(m_sheet, index, PriceColumn, row.price, nullptr);
        worksheet_write_number(m_sheet, index, FullCostColumn, row.fullCost, nullptr);
        WriteText(index, kColumns - 1, row.status);
    }

    void Close()
    {
        lxw_workbook* book = m_book;
        m_book = nullptr; // closing frees it, whatever the outcome
        const lxw_error result = workbook_close(book);
        if (result != LXW_NO_ERROR)
            throw std::runtime_error(std::string("cannot write the workbook: ") + lxw_strerror(result));
    }

private:
    void WriteText(lxw_row_t row, int column, std::string_view text)
    {
        if (text.empty())
            return;
        // One malformed byte would make the whole sheet unreadable; it goes out as U+FFFD.
        std::string cell(FitCell(text));
        if (!TextEncoding::IsValidUtf8(cell))
            cell = TextEncoding::Utf16ToUtf8(TextEncoding::Utf8ToUtf16(cell));
        worksheet_write_string(m_sheet, row, static_cast<lxw_col_t>(column), cell.c_str(), nullptr);
    }

    void WriteDate(lxw_row_t row, int column, const OleDateTime& date)
    {
        if (date.GetStatus() == DateStatus::Null)
            return;
        const DateParts p = date.GetParts();
        if (p.year < 0) {
            WriteText(row, column, "Invalid DateTime");
        } else if (p.year < 1900 || (p.year == 1900 && p.month < 3)) {
            // Day numbers start in 1900, and before March of that year readers disagree on them by
            // one (the phantom 29 February); such dates go out as the text they would show.
            char text[32];
            std::snprintf(text, sizeof text, "%04d-%02d-%02d", p.year, p.month, p.day);
            WriteText(row, column, text);
        } else {
            lxw_datetime value = {p.year, p.month, p.day, 0, 0, 0.0};
            worksheet_write_datetime(m_sheet, row, static_cast<lxw_col_t>(column), &value, m_date);
        }
    }

    lxw_workbook* m_book = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_format* m_bold = nullptr;
    lxw_format* m_date = nullptr;
};

std::array<double, kColumns> ColumnWidths(const std::vector<Row>& rows)
{
    std::array<std::size_t, kColumns> chars{};
    for (int column = 0; column < kColumns; ++column)
        chars[column] = std::strlen(kColumnTitles[column]);
    for (int i = 0; i < 3; ++i)
        chars[FirstDateColumn + i] = std::max<std::size_t>(chars[FirstDateColumn + i], 10);
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < row.texts.size(); ++column)
            chars[column] = std::max(chars[column], Characters(row.texts[column]));
        chars[PriceColumn] = std::max(chars[PriceColumn], std::to_string(row.price).size());
        chars[FullCostColumn] = std::max(chars[FullCostColumn], std::to_string(row.fullCost).size());
        chars[kColumns - 1] = std::max(chars[kColumns - 1], row.status.size());
    }
    std::array<double, kColumns> widths{};
    for (int column = 0; column < kColumns; ++column)
        widths[column] = std::min(kMaxWidth, static_cast<double>(chars[column]) + 2.0);
    return widths;
}

struct Cancelled
{
};

} // namespace

bool ExportExcel(const std::string& path, const CPartnersManager& partners, const CLinksManager& links,
                 std::string* error, const ProgressFn& progress)
{
    try {
        const std::vector<CLink*> all = links.GetLinks();
        if (all.size() >= LXW_ROW_MAX)
            throw std::runtime_error("too many links for one worksheet");
        // Row contents first: the column widths have to be known before the first row goes out.
        const PartnerIndex byId(partners);
        std::vector<Row> rows;
        rows.reserve(all.size());
        for (const CLink* link : all)
            rows.push_back(RowOf(*link, byId.Find(link->GetPartnerId())));

        CExportFile file(path);
        Workbook book(file.TemporaryPath());
        book.SetWidths(ColumnWidths(rows));
        book.WriteHeader();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            // Writing the rows is most of the work; packing the file takes the last tenth.
            if (i % kRowsBetweenProgress == 0 && progress && !progress(0.9 * static_cast<double>(i) / rows.size()))
                throw Cancelled{};
            book.WriteRow(static_cast<lxw_row_t>(i + 1), rows[i]);
        }
        if (progress && !progress(0.9))
            throw Cancelled{};
        book.Close();
        file.Commit();
        return true;
    } catch (const Cancelled&) {
        if (error)
            *error = "cancelled";
        return false;
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "there is not enough memory";
        return false;
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return false;
    }
}

#if defined(__ELF__)
#include <dlfcn.h>
#include <minizip/zip.h>

// libxlsxwriter has minizip compress every part at zlib's default level, which takes half of an
// export's time to make the file a fifth smaller. Someone waiting on an export of 100,000 links
// is better served by the fastest level, and libxlsxwriter offers no setting for it, so this
// stands in for minizip's function (the program's own symbols are found first) and hands every
// call on with that one change.
extern "C" int zipOpenNewFileInZip4_64(zipFile file, const char* filename, const zip_fileinfo* zipfi,
                                       const void* extrafield_local, uInt size_extrafield_local,
                                       const void* extrafield_global, uInt size_extrafield_global, const char* comment,
                                       int method, int level, int raw, int windowBits, int memLevel, int strategy,
                                       const char* password, uLong crcForCrypting, uLong versionMadeBy, uLong flagBase,
                                       int zip64)
{
    using Real = int (*)(zipFile, const char*, const zip_fileinfo*, const void*, uInt, const void*, uInt, const char*,
                         int, int, int, int, int, int, const char*, uLong, uLong, uLong, int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "zipOpenNewFileInZip4_64"));
    if (!real)
        return ZIP_INTERNALERROR;
    if (method == Z_DEFLATED && level != 0)
        level = Z_BEST_SPEED;
    return real(file, filename, zipfi, extrafield_local, size_extrafield_local, extrafield_global,
                size_extrafield_global, comment, method, level, raw, windowBits, memLevel, strategy, password,
                crcForCrypting, versionMadeBy, flagBase, zip64);
}
#endif
