#pragma once

#include "core/exchange/ExcelImport.h"

#include <QDialog>

class ISettingsStore;
class QComboBox;
class QMenu;
class QTableWidget;

/// "Import from Excel": which worksheet to read and what each of its columns A to P holds. The
/// program's guess comes first, on opening and at every change of worksheet; the user corrects it
/// through the column headers' menu (a click on the header, or the menu key on the preview's
/// current column).
class CExcelImportDlg : public QDialog
{
    Q_OBJECT

public:
    CExcelImportDlg(const ISpreadsheet& book, ISettingsStore& store, QWidget* parent = nullptr);
    ~CExcelImportDlg() override;

    int GetWorksheet() const;
    const ColumnTypes& GetColumnTypes() const { return m_types; }
    /// Gives `type` to `column` (taking it from any other column) and redraws the headers.
    void SetColumnType(int column, int type);
    /// The menu of the type names under the header of `column`; the choice goes to that column.
    void ShowColumnMenu(int column);

    QTableWidget* GetPreview() const { return m_preview; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void done(int result) override;

private:
    void OnWorksheetChanged(int index);
    void FillPreview();
    void UpdateHeaders();
    void FitColumns();
    /// Greys the rows the import would leave out, the reason in their tips.
    void MarkSkippedRows();

    const ISpreadsheet& m_book;
    ISettingsStore& m_store;
    ColumnTypes m_types{};
    QComboBox* m_worksheets = nullptr;
    QTableWidget* m_preview = nullptr;
};
