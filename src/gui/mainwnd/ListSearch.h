#pragma once

#include <QString>

#include <optional>
#include <vector>

class CLinksView;
class QWidget;

/// What Find looks for; Find Next repeats it.
struct FindRequest
{
    QString text;
    bool matchCase = false;
};

/// Find and Find Next of the main window over its links list: rows as the list shows them, and
/// only the columns it shows.
class CListSearch
{
public:
    explicit CListSearch(CLinksView& view) : m_view(view) {}

    /// Asks for the text in the Find dialog over `parent`, then selects the first row that shows
    /// it. Nothing found: the selection stays as it was.
    void Find(QWidget* parent);
    /// The search Find runs once its dialog has closed: keeps `request` for Find Next and selects
    /// the first row that shows the text. False when no row does.
    bool FindText(const FindRequest& request);
    /// Repeats the last search from the row after the selected one, going round to the top once.
    /// Before any search it is Find.
    void FindNext(QWidget* parent);

private:
    /// Selects and shows the first row from `first` on that shows the text, else the first one
    /// above `first`; false when none does.
    bool SelectFrom(int first);

    CLinksView& m_view;
    std::optional<FindRequest> m_last;
};
