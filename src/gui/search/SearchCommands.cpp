#include "SearchCommands.h"

#include "CheckForDuplicatesDlg.h"
#include "FindDlg.h"

#include "gui/mainwnd/LinksView.h"

#include <QHeaderView>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

bool IsAscii(std::string_view text)
{
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) & 0x80)
            return false;
    return true;
}

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

// `needle` is upper case already.
bool ContainsAsciiUpper(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return true;
    if (haystack.size() < needle.size())
        return false;
    const char first = needle.front();
    const std::size_t last = haystack.size() - needle.size();
    for (std::size_t i = 0; i <= last; ++i) {
        if (AsciiUpper(haystack[i]) != first)
            continue;
        std::size_t k = 1;
        while (k < needle.size() && AsciiUpper(haystack[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return true;
    }
    return false;
}

// The search compares what QString::toUpper makes of both texts. Most cells are plain ASCII,
// whose upper case is A-Z for a-z and nothing else, so those are compared in their UTF-8 bytes
// as they are; any other cell goes through QString, where "ß" becomes "SS" and so on.
class CTextMatcher
{
public:
    explicit CTextMatcher(const FindRequest& request)
        : m_matchCase(request.matchCase), m_needle(request.matchCase ? request.text : request.text.toUpper()),
          m_needleBytes(m_needle.toUtf8()), m_asciiNeedle(IsAscii(Needle()))
    {
    }

    /// False when no cell of `kind` can hold the text, whatever its row.
    bool MayBeShownBy(int kind) const { return KindCanShow(kind, Needle(), !m_matchCase); }

    bool Matches(std::string_view cell) const
    {
        if (IsAscii(cell)) {
            // An ASCII cell stays ASCII in upper case, so it cannot hold any other character.
            if (!m_asciiNeedle)
                return false;
            return m_matchCase ? cell.find(Needle()) != std::string_view::npos : ContainsAsciiUpper(cell, Needle());
        }
        const QString shown = QString::fromUtf8(cell.data(), static_cast<qsizetype>(cell.size()));
        return (m_matchCase ? shown : shown.toUpper()).contains(m_needle);
    }

private:
    std::string_view Needle() const
    {
        return std::string_view(m_needleBytes.constData(), static_cast<std::size_t>(m_needleBytes.size()));
    }

    bool m_matchCase;
    QString m_needle;
    QByteArray m_needleBytes;
    bool m_asciiNeedle;
};

// The header's sections are the kinds; their logical order is the kinds' order, whatever order
// the user dragged them into.
std::vector<int> ShownKinds(const CLinksView& view)
{
    const QHeaderView* header = view.GetList()->horizontalHeader();
    std::vector<int> kinds;
    for (int kind = 0; kind < header->count(); ++kind)
        if (!header->isSectionHidden(kind))
            kinds.push_back(kind);
    return kinds;
}

// The first row in [first, end) where one of the cells of `kinds` shows the text; -1 for none.
int FindRowShowing(const CLinksModel& model, const std::vector<int>& kinds, const FindRequest& request, int first,
                   int end)
{
    first = std::max(first, 0);
    end = std::min(end, model.rowCount());
    if (first >= end || kinds.empty())
        return -1;
    const CTextMatcher matcher(request);
    std::vector<int> searched;
    for (int kind : kinds)
        if (matcher.MayBeShownBy(kind))
            searched.push_back(kind);
    CCellTextReader cells(model);
    for (int row = first; row < end; ++row)
        for (int kind : searched)
            if (matcher.Matches(cells.Text(row, kind)))
                return row;
    return -1;
}

} // namespace

void CListSearch::Find(QWidget* parent)
{
    CFindDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    FindText({dialog.GetText(), dialog.IsMatchCase()});
}

bool CListSearch::FindText(const FindRequest& request)
{
    m_last = request;
    return SelectFrom(0);
}

void CListSearch::FindNext(QWidget* parent)
{
    if (!m_last)
        return Find(parent);
    const std::vector<int> selected = m_view.GetSelectedRows();
    int from = -1;
    if (!selected.empty())
        from = selected.front();
    else if (const QModelIndex current = m_view.GetList()->currentIndex(); current.isValid())
        from = current.row();
    // Round to the top the selected row is looked at again: it may be the only one that matches.
    SelectFrom(from + 1);
}

bool CListSearch::SelectFrom(int first)
{
    const std::vector<int> kinds = ShownKinds(m_view);
    const CLinksModel& model = *m_view.GetModel();
    int row = FindRowShowing(model, kinds, *m_last, first, model.rowCount());
    if (row < 0)
        row = FindRowShowing(model, kinds, *m_last, 0, first);
    if (row < 0)
        return false;
    m_view.SelectOnly(row);
    return true;
}

void RunDuplicatesSearch(const std::vector<CLink*>& links, QWidget* parent)
{
    CCheckForDuplicatesDlg dialog(std::vector<const CLink*>(links.begin(), links.end()), parent);
    dialog.exec();
}
