#include "ExcelWorkbook.h"

#include "WorkbookStore.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

struct CExcelWorkbook::Data : workbook::Store
{
    using workbook::Store::Store;
};

namespace {

const char* KindOfFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a plain file";
}

// The file the user named, held open while the readers work. A named pipe or a device would hold
// the opening until someone writes to it, or feed it without end: it is opened without waiting and
// refused unless it is a regular file. The readers then reopen it through /proc, so they read the
// file checked here even when the name is given to something else meanwhile.
class CheckedFile
{
public:
    explicit CheckedFile(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0)
            throw workbook::ReadError("cannot open " + path + ": " + std::strerror(errno));
        struct stat st = {};
        if (::fstat(m_fd, &st) != 0)
            throw workbook::ReadError("cannot open " + path + ": " + std::strerror(errno));
        if (!S_ISREG(st.st_mode))
            throw workbook::ReadError("\"" + path + "\" is " + KindOfFile(st.st_mode) + ", not a workbook file");
        const std::string held = "/proc/self/fd/" + std::to_string(m_fd);
        struct stat again = {};
        const bool same = ::stat(held.c_str(), &again) == 0 && again.st_dev == st.st_dev && again.st_ino == st.st_ino;
        m_path = same ? held : path;
    }
    ~CheckedFile() { ::close(m_fd); }
    CheckedFile(const CheckedFile&) = delete;
    CheckedFile& operator=(const CheckedFile&) = delete;

    /// The name the readers open.
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

enum class FileKind
{
    Zip,
    Ole2,
    FlatOpenDocument,
    Text,
};

FileKind Sniff(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw workbook::ReadError("cannot open " + path + ": " + std::strerror(errno));
    char start[4096] = {};
    in.read(start, sizeof start);
    const auto got = in.gcount();
    const auto* head = reinterpret_cast<const unsigned char*>(start);
    if (got >= 4 && head[0] == 'P' && head[1] == 'K' && head[2] == 3 && head[3] == 4)
        return FileKind::Zip;
    static const unsigned char kOle2[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (got >= 8 && std::memcmp(head, kOle2, 8) == 0)
        return FileKind::Ole2;
    // A flat OpenDocument spreadsheet (.fods) is one XML document.
    const std::string_view text(start, static_cast<size_t>(got));
    const size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (first != std::string_view::npos && text[first] == '<' &&
        text.find("urn:oasis:names:tc:opendocument:xmlns:office:1.0") != std::string_view::npos)
        return FileKind::FlatOpenDocument;
    return FileKind::Text;
}

std::optional<int32_t> Truncated(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double whole = std::trunc(value);
    if (whole < static_cast<double>(INT32_MIN) || whole > static_cast<double>(INT32_MAX))
        return std::nullopt;
    return static_cast<int32_t>(whole);
}

} // namespace

CExcelWorkbook::CExcelWorkbook() : m_data(std::make_unique<Data>())
{
}

CExcelWorkbook::~CExcelWorkbook() = default;

bool CExcelWorkbook::OpenForImport(const std::string& path, std::string* error, const ProgressFn& progress)
{
    std::string reason;
    try {
        const CheckedFile file(path);
        auto data = std::make_unique<Data>(progress);
        switch (Sniff(file.Path())) {
        case FileKind::Zip:
            workbook::ReadPackage(file.Path(), *data);
            break;
        case FileKind::Ole2:
            workbook::ReadXls(file.Path(), *data);
            break;
        case FileKind::FlatOpenDocument:
            workbook::ReadFlatOds(file.Path(), *data);
            break;
        case FileKind::Text:
            workbook::ReadCsv(file.Path(), *data, std::filesystem::path(path).stem().string());
            break;
        }
        data->Progress(1.0);
        data->DropProgress();
        m_data = std::move(data);
        return true;
    } catch (const workbook::ReadError& e) {
        reason = e.what();
    } catch (const std::bad_alloc&) {
        reason = "not enough memory to read the workbook";
    } catch (const std::exception& e) {
        reason = std::string("the workbook cannot be read: ") + e.what();
    } catch (...) {
        reason = "the workbook cannot be read";
    }
    m_data = std::make_unique<Data>();
    if (error)
        *error = reason;
    return false;
}

int CExcelWorkbook::SheetCount() const
{
    return static_cast<int>(m_data->sheets.size());
}

std::string CExcelWorkbook::SheetName(int sheet) const
{
    if (sheet < 0 || static_cast<size_t>(sheet) >= m_data->sheets.size())
        return {};
    return m_data->sheets[static_cast<size_t>(sheet)].name;
}

int CExcelWorkbook::RowCount(int sheet) const
{
    if (sheet < 0 || static_cast<size_t>(sheet) >= m_data->sheets.size())
        return 0;
    return m_data->sheets[static_cast<size_t>(sheet)].rowCount;
}

std::string CExcelWorkbook::CellText(int sheet, int row, int column) const
{
    const workbook::Cell* cell = m_data->Find(sheet, row, column);
    return cell ? m_data->TextOf(sheet, *cell) : std::string();
}

std::optional<OleDateTime> CExcelWorkbook::CellDate(int sheet, int row, int column) const
{
    const workbook::Cell* cell = m_data->Find(sheet, row, column);
    if (!cell)
        return std::nullopt;
    std::optional<double> serial;
    if (cell->Kind() == workbook::CellKind::Date)
        serial = cell->value;
    else if (cell->Kind() == workbook::CellKind::LooseText)
        serial = workbook::LooseDate(m_data->strings.Get(static_cast<uint32_t>(cell->value)));
    if (!serial || *serial < OleDateTime::kMinDate || *serial >= OleDateTime::kMaxDate)
        return std::nullopt;
    return OleDateTime(*serial);
}

std::optional<int32_t> CExcelWorkbook::CellInteger(int sheet, int row, int column) const
{
    const workbook::Cell* cell = m_data->Find(sheet, row, column);
    if (!cell)
        return std::nullopt;
    switch (cell->Kind()) {
    case workbook::CellKind::Number:
    case workbook::CellKind::Date:
        return Truncated(cell->value);
    case workbook::CellKind::LooseText: {
        const std::string_view text = m_data->strings.Get(static_cast<uint32_t>(cell->value));
        if (auto number = workbook::LooseNumber(text))
            return Truncated(*number);
        // A csv date is a date, and a date is a number to the spreadsheet.
        if (auto date = workbook::LooseDate(text))
            return Truncated(*date);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}
