#pragma once

class CLinksManager;
class CPartnersManager;
class ISettingsStore;
class ISpreadsheet;
class QWidget;

/// What the import and export commands work on; the main window keeps the date refresh and any
/// check run off the records while one of them runs.
struct ExchangeContext
{
    CPartnersManager& partners;
    CLinksManager& links;
    ISettingsStore& settings;
    QWidget* parent;
};

/// "Import from Excel": asks for the file, reads it on a worker, lets the user map the columns and
/// imports the rows on a worker; the summary ends it. True when records were added (the list needs
/// filling again).
bool ImportFromSpreadsheet(const ExchangeContext& ctx);
/// The same from the column dialog on, for a workbook already read.
bool ImportWorkbook(const ExchangeContext& ctx, const ISpreadsheet& book);

/// "Export to, Text file": every link with its partner to a tab-separated text file.
void ExportToTextFile(const ExchangeContext& ctx);
/// "Export to, Excel workbook": every link with its partner to a new .xlsx workbook.
void ExportToWorkbook(const ExchangeContext& ctx);
