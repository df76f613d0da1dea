// Comma-, semicolon- or tab-separated text as a one-sheet workbook. The file says nothing about
// types, so every field is kept as written and read as a number or a date only when asked.

#include "WorkbookStore.h"

#include "core/platform/TextEncoding.h"
#include "core/records/OleDateTime.h"

#include <orcus/csv_parser.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <iconv.h>

namespace workbook {
namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

size_t CountDigits(std::string_view text, size_t from)
{
    size_t n = 0;
    while (from + n < text.size() && IsDigit(text[from + n]))
        ++n;
    return n;
}

// Fields per line for one delimiter over the first lines, quotes respected.
std::vector<int> FieldCounts(std::string_view text, char delimiter, int maxLines)
{
    std::vector<int> counts;
    int fields = 1;
    bool quoted = false;
    bool lineHasText = false;
    for (size_t i = 0; i < text.size() && static_cast<int>(counts.size()) < maxLines; ++i) {
        const char c = text[i];
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == delimiter)
            ++fields;
        else if (c == '\n') {
            if (lineHasText || fields > 1)
                counts.push_back(fields);
            fields = 1;
            lineHasText = false;
            continue;
        }
        lineHasText = true;
    }
    if ((lineHasText || fields > 1) && static_cast<int>(counts.size()) < maxLines)
        counts.push_back(fields);
    return counts;
}

// The delimiter that splits the first lines most consistently: most lines with the same number of
// fields (more than one), then the most fields. A file none of them splits is one column.
char DetectDelimiter(std::string_view text)
{
    char best = ',';
    long bestScore = 0;
    for (const char delimiter : {',', ';', '\t'}) {
        const std::vector<int> counts = FieldCounts(text, delimiter, 20);
        int mode = 0;
        int modeLines = 0;
        for (const int candidate : counts) {
            const auto lines = static_cast<int>(std::count(counts.begin(), counts.end(), candidate));
            if (candidate > 1 && (lines > modeLines || (lines == modeLines && candidate > mode))) {
                mode = candidate;
                modeLines = lines;
            }
        }
        const long score = modeLines * 1000L + std::min(mode, 999);
        if (score > bestScore) {
            best = delimiter;
            bestScore = score;
        }
    }
    return best;
}

std::string ToUtf8(std::string raw)
{
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return raw.substr(3);
    if (raw.size() >= 2 && ((raw[0] == '\xFF' && raw[1] == '\xFE') || (raw[0] == '\xFE' && raw[1] == '\xFF'))) {
        // "Unicode text" as spreadsheets save it: UTF-16 with a byte order mark.
        const bool little = raw[0] == '\xFF';
        std::u16string units;
        units.reserve(raw.size() / 2);
        for (size_t i = 2; i + 1 < raw.size(); i += 2) {
            const auto a = static_cast<unsigned char>(raw[i]);
            const auto b = static_cast<unsigned char>(raw[i + 1]);
            units.push_back(static_cast<char16_t>(little ? (a | (b << 8)) : ((a << 8) | b)));
        }
        return TextEncoding::Utf16ToUtf8(units);
    }
    if (TextEncoding::IsValidUtf8(raw))
        return raw;
    iconv_t cd = ::iconv_open("UTF-8", "WINDOWS-1252");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw ReadError("the text is not UTF-8 and Windows-1252 cannot be converted on this system");
    std::string converted = TextEncoding::ConvertToUtf8(cd, raw);
    ::iconv_close(cd);
    return converted;
}

class CsvHandler
{
public:
    CsvHandler(Store& store, Sheet& sheet, std::string_view text) : m_store(store), m_sheet(sheet), m_text(text) {}

    void begin_parse() {}
    void end_parse() {}
    void begin_row() { m_column = 0; }
    void end_row() { ++m_row; }

    void cell(const char* p, size_t n, bool /*transient*/)
    {
        if (p && n > 0) {
            const uint32_t index = m_store.strings.Append(std::string_view(p, n));
            m_store.AddCell(m_sheet, m_row, m_column, CellKind::LooseText, index);
            const auto offset = static_cast<size_t>(p - m_text.data());
            if (offset < m_text.size() && offset >= m_nextReport) {
                m_store.Progress(static_cast<double>(offset) / static_cast<double>(m_text.size()));
                m_nextReport = offset + 64 * 1024;
            }
        }
        ++m_column;
    }

private:
    Store& m_store;
    Sheet& m_sheet;
    std::string_view m_text;
    int64_t m_row = 0;
    int64_t m_column = 0;
    size_t m_nextReport = 64 * 1024;
};

// The parser steps over blanks (tabs among them) after a closing quote, so a tab-separated file
// would lose the tab behind a quoted field. Tabs that separate fields become a control character
// the text does not hold, following the parser's own reading of quotes.
char SeparateWithControlCharacter(std::string& text)
{
    char separator = 0;
    for (const char candidate : {'\x1F', '\x1E', '\x1D', '\x1C'})
        if (text.find(candidate) == std::string::npos) {
            separator = candidate;
            break;
        }
    if (!separator)
        return '\t';
    bool fieldStart = true;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char& c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"')
                    ++i;
                else
                    quoted = false;
            }
            continue;
        }
        if (c == '"' && fieldStart)
            quoted = true;
        else if (c == '\t') {
            c = separator;
            fieldStart = true;
            continue;
        }
        fieldStart = c == '\n';
    }
    return separator;
}

} // namespace

std::optional<double> LooseNumber(std::string_view text)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '$')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;

    std::string plain;
    const size_t lead = CountDigits(text, 0);
    size_t i = lead;
    if (lead >= 1 && lead <= 3 && i < text.size() && text[i] == ',' && CountDigits(text, i + 1) == 3) {
        // Thousands grouped with commas: "1,234,567.50".
        plain.append(text.substr(0, lead));
        while (i < text.size() && text[i] == ',' && CountDigits(text, i + 1) == 3) {
            plain.append(text.substr(i + 1, 3));
            i += 4;
        }
    } else if (lead > 0 && i < text.size() && text[i] == ',' && CountDigits(text, i + 1) >= 1 &&
               CountDigits(text, i + 1) <= 2 && i + 1 + CountDigits(text, i + 1) == text.size()) {
        // A decimal comma, as semicolon-separated files from European systems write it: "12,50".
        plain.append(text.substr(0, lead)).append(".").append(text.substr(i + 1));
        i = text.size();
    } else
        plain.append(text.substr(0, lead));

    if (i < text.size() && text[i] == '.') {
        const size_t decimals = CountDigits(text, i + 1);
        if (decimals == 0 && lead == 0)
            return std::nullopt;
        plain.append(".").append(text.substr(i + 1, decimals));
        i += 1 + decimals;
    }
    if (i != text.size() || plain.empty() || plain == ".")
        return std::nullopt;
    const double value = std::strtod(plain.c_str(), nullptr);
    return negative ? -value : value;
}

std::optional<double> LooseDate(std::string_view text)
{
    text = Trim(text);
    int year = 0;
    int month = 0;
    int day = 0;
    size_t i = 0;
    const auto number = [&](size_t minDigits, size_t maxDigits, int& out) {
        const size_t n = CountDigits(text, i);
        if (n < minDigits || n > maxDigits)
            return false;
        out = std::atoi(std::string(text.substr(i, n)).c_str());
        i += n;
        return true;
    };
    const auto expect = [&](char c) {
        if (i < text.size() && text[i] == c) {
            ++i;
            return true;
        }
        return false;
    };

    if (CountDigits(text, 0) == 4) {
        if (!number(4, 4, year) || !expect('-') || !number(2, 2, month) || !expect('-') || !number(2, 2, day))
            return std::nullopt;
    } else if (!number(1, 2, month) || !expect('/') || !number(1, 2, day) || !expect('/') || !number(4, 4, year))
        return std::nullopt;

    int hour = 0;
    int minute = 0;
    double second = 0.0;
    if (i < text.size()) {
        if (text[i] != 'T' && text[i] != ' ')
            return std::nullopt;
        ++i;
        if (!number(1, 2, hour) || !expect(':') || !number(2, 2, minute))
            return std::nullopt;
        if (expect(':')) {
            int whole = 0;
            if (!number(2, 2, whole))
                return std::nullopt;
            second = whole;
            if (expect('.')) {
                const size_t n = CountDigits(text, i);
                if (n == 0)
                    return std::nullopt;
                second += std::strtod(("0." + std::string(text.substr(i, n))).c_str(), nullptr);
                i += n;
            }
        }
        expect('Z');
        if (i != text.size() || hour > 23 || minute > 59 || second >= 60.0)
            return std::nullopt;
    }
    const OleDateTime date = OleDateTime::FromParts(year, month, day, hour, minute, 0);
    if (!date.IsValid())
        return std::nullopt;
    return date.GetValue() + second / 86400.0;
}

void ReadCsv(const std::string& path, Store& store, const std::string& sheetName)
{
    std::string text = ToUtf8(ReadWholeFile(path));
    if (text.find('\0') != std::string::npos)
        throw ReadError("the file is neither a workbook nor text");
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        throw ReadError("the file is empty");

    // The parser ends rows at line feeds only.
    size_t out = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            text[out++] = '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else
            text[out++] = text[i];
    }
    text.resize(out);

    Sheet& sheet = store.AddSheet(sheetName.empty() ? std::filesystem::path(path).stem().string() : sheetName);
    orcus::csv::parser_config config;
    char delimiter = DetectDelimiter(text);
    if (delimiter == '\t')
        delimiter = SeparateWithControlCharacter(text);
    config.delimiters = std::string(1, delimiter);
    config.text_qualifier = '"';
    config.trim_cell_value = false;
    CsvHandler handler(store, sheet, text);
    orcus::csv_parser<CsvHandler> parser(text.data(), text.size(), handler, config);
    try {
        parser.parse();
    } catch (const orcus::csv::parse_error& e) {
        throw ReadError(std::string("the text file cannot be read: ") + e.what());
    }
    store.Finish();
}

} // namespace workbook
