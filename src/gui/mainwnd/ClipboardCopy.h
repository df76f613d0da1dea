#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class CLinksView;
class QMimeData;

/// The selected rows as "Copy to Clipboard" puts them there: the list's own plain text, and the
/// same cells as an HTML table, which spreadsheets and word processors paste one cell per field.
QMimeData* MakeSelectionClipboardData(const CLinksView& view);

/// Rows of cells as an HTML table: texts escaped, a line break inside a cell kept as <br>.
QString CellsAsHtmlTable(const std::vector<QStringList>& rows);
