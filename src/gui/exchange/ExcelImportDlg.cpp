#include "ExcelImportDlg.h"

#include "core/platform/SettingsStore.h"
#include "gui/widgets/DialogFields.h"
#include "gui/widgets/Icons.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Preview columns in average characters: a long address shows its start rather than pushing
// the other columns out of sight, and an empty column stays wide enough to click.
constexpr int kWidestColumnChars = 50;
constexpr int kNarrowestColumnChars = 5;

QByteArray ToQByteArray(const std::vector<uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QString FromStd(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString ColumnLetter(int column)
{
    return QString(QChar(u'A' + column));
}

} // namespace

CExcelImportDlg::CExcelImportDlg(const ISpreadsheet& book, ISettingsStore& store, QWidget* parent)
    : QDialog(parent), m_book(book), m_store(store)
{
    setWindowTitle(tr("Import from Excel"));
    setAccessibleName(windowTitle());
    setWindowIcon(OrvexIcon(QStringLiteral("orvex")));
    setSizeGripEnabled(true);

    auto* worksheetLabel = new QLabel(tr("Use &worksheet:"), this);
    m_worksheets = new QComboBox(this);
    m_worksheets->setObjectName(QStringLiteral("worksheetCombo"));
    m_worksheets->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    worksheetLabel->setBuddy(m_worksheets);
    for (int sheet = 0; sheet < m_book.SheetCount(); ++sheet)
        m_worksheets->addItem(FromStd(m_book.SheetName(sheet)));

    auto* previewLabel = new QLabel(tr("&Preview:"), this);
    m_preview = new QTableWidget(kImportPreviewRows, kImportSheetColumns, this);
    m_preview->setObjectName(QStringLiteral("previewList"));
    previewLabel->setBuddy(m_preview);
    m_preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A whole column is what the user names, so a whole column is what the keys move.
    m_preview->setSelectionBehavior(QAbstractItemView::SelectColumns);
    m_preview->setSelectionMode(QAbstractItemView::SingleSelection);
    m_preview->setWordWrap(false);
    // The arrows move through the cells; Tab goes on to the buttons like everywhere else.
    m_preview->setTabKeyNavigation(false);
    m_preview->setContextMenuPolicy(Qt::CustomContextMenu);
    m_preview->setAccessibleDescription(
        tr("Press the menu key or Shift+F10 to change the name of the current column."));
    m_preview->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_preview->horizontalHeader()->setSectionsClickable(true);
    m_preview->horizontalHeader()->setHighlightSections(true);
    // Narrow columns: the start of a type name says more than its middle.
    m_preview->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_preview->horizontalHeader()->setTextElideMode(Qt::ElideRight);
    m_preview->installEventFilter(this);
    for (int row = 0; row < kImportPreviewRows; ++row)
        for (int column = 0; column < kImportSheetColumns; ++column)
            m_preview->setItem(row, column, new QTableWidgetItem);
    for (int column = 0; column < kImportSheetColumns; ++column)
        m_preview->setHorizontalHeaderItem(column, new QTableWidgetItem);

    auto* hint = new QLabel(tr("<b>Hint: Click the header to change column name</b>"), this);
    hint->setObjectName(QStringLiteral("hintLabel"));
    hint->setTextFormat(Qt::RichText);

    auto* buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    QPushButton* importButton = buttons->addButton(tr("Import"), QDialogButtonBox::AcceptRole);
    importButton->setObjectName(QStringLiteral("importButton"));
    importButton->setDefault(true);
    QPushButton* cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    cancelButton->setText(tr("Cancel"));
    cancelButton->setObjectName(QStringLiteral("cancelButton"));

    auto* worksheetRow = new QHBoxLayout;
    worksheetRow->addWidget(worksheetLabel);
    worksheetRow->addWidget(m_worksheets);
    worksheetRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(worksheetRow);
    layout->addWidget(previewLabel);
    layout->addWidget(m_preview, 1);
    layout->addWidget(hint);
    layout->addWidget(buttons);
    setTabOrder(m_worksheets, m_preview);
    setTabOrder(m_preview, importButton);
    setTabOrder(importButton, cancelButton);
    NameFieldsByTheirLabels(this);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_worksheets, &QComboBox::currentIndexChanged, this, &CExcelImportDlg::OnWorksheetChanged);
    connect(m_preview->horizontalHeader(), &QHeaderView::sectionClicked, this, &CExcelImportDlg::ShowColumnMenu);
    connect(m_preview, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const int column = m_preview->columnAt(pos.x());
        if (column >= 0)
            ShowColumnMenu(column);
    });

    OnWorksheetChanged(m_worksheets->currentIndex());
    m_preview->setCurrentCell(0, 0);

    const auto placement = m_store.GetBinary(SettingsNames::kGuiSection, SettingsNames::kImportDialog);
    if (!placement || !restoreGeometry(ToQByteArray(*placement)))
        resize(sizeHint().expandedTo(QSize(820, 480)));
    m_worksheets->setFocus();
}

CExcelImportDlg::~CExcelImportDlg() = default;

int CExcelImportDlg::GetWorksheet() const
{
    return std::max(m_worksheets->currentIndex(), 0);
}

void CExcelImportDlg::SetColumnType(int column, int type)
{
    if (column < 0 || column >= kImportSheetColumns || type < 0 || type >= kImportColumnTypes)
        return;
    ::SetColumnType(m_types, column, type);
    UpdateHeaders();
    MarkSkippedRows();
}

void CExcelImportDlg::ShowColumnMenu(int column)
{
    if (column < 0 || column >= kImportSheetColumns)
        return;
    m_preview->setCurrentCell(std::max(m_preview->currentRow(), 0), column);

    QMenu menu(this);
    menu.setObjectName(QStringLiteral("columnMenu"));
    menu.setTitle(tr("Column %1").arg(ColumnLetter(column)));
    menu.setAccessibleName(menu.title());
    QAction* current = nullptr;
    for (int type = 0; type < kImportColumnTypes; ++type) {
        QAction* action = menu.addAction(FromStd(ImportColumnName(type)));
        action->setData(type);
        action->setCheckable(true);
        action->setChecked(m_types[column] == type);
        if (m_types[column] == type)
            current = action;
        if (type == ColSkip || type == ColComment || type == ColFullCost)
            menu.addSeparator();
    }
    // Opened from the keyboard, the menu starts at the column's type rather than at the top.
    menu.setActiveAction(current);

    QHeaderView* header = m_preview->horizontalHeader();
    const int x = std::max(header->sectionViewportPosition(column), 0);
    const QAction* chosen = menu.exec(header->viewport()->mapToGlobal(QPoint(x, header->height())));
    if (chosen)
        SetColumnType(column, chosen->data().toInt());
}

bool CExcelImportDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_preview) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool menuKey =
                key->key() == Qt::Key_Menu || (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
            if (menuKey) {
                ShowColumnMenu(std::max(m_preview->currentColumn(), 0));
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CExcelImportDlg::done(int result)
{
    const QByteArray geometry = saveGeometry();
    m_store.SetBinary(SettingsNames::kGuiSection, SettingsNames::kImportDialog,
                      std::vector<uint8_t>(geometry.begin(), geometry.end()));
    QDialog::done(result);
}

void CExcelImportDlg::OnWorksheetChanged(int index)
{
    if (index >= 0)
        m_types = AutoDetectColumns(m_book, index, m_types, OleDateTime::Now());
    FillPreview();
    UpdateHeaders();
    MarkSkippedRows();
}

void CExcelImportDlg::FillPreview()
{
    const int sheet = m_worksheets->currentIndex();
    for (int row = 0; row < kImportPreviewRows; ++row)
        for (int column = 0; column < kImportSheetColumns; ++column)
            m_preview->item(row, column)->setText(sheet < 0 ? QString() : FromStd(m_book.CellText(sheet, row, column)));
}

void CExcelImportDlg::UpdateHeaders()
{
    for (int column = 0; column < kImportSheetColumns; ++column) {
        const int type = m_types[column];
        QTableWidgetItem* header = m_preview->horizontalHeaderItem(column);
        header->setText(type == ColSkip ? QString() : FromStd(ImportColumnName(type)));
        header->setToolTip(tr("Column %1: %2").arg(ColumnLetter(column), FromStd(ImportColumnName(type))));
    }
    FitColumns();
}

void CExcelImportDlg::FitColumns()
{
    // Each column as wide as its widest text, the type name in its header included.
    const int charWidth = m_preview->fontMetrics().averageCharWidth();
    m_preview->resizeColumnsToContents();
    for (int column = 0; column < kImportSheetColumns; ++column)
        m_preview->setColumnWidth(column, std::clamp(m_preview->columnWidth(column), charWidth * kNarrowestColumnChars,
                                                     charWidth * kWidestColumnChars));
}

void CExcelImportDlg::MarkSkippedRows()
{
    const int sheet = m_worksheets->currentIndex();
    const std::vector<std::string> notes = sheet < 0 ? std::vector<std::string>(kImportPreviewRows)
                                                     : ImportRowNotes(m_book, sheet, m_types, kImportPreviewRows);
    const QBrush greyed = palette().brush(QPalette::Disabled, QPalette::Text);
    for (int row = 0; row < kImportPreviewRows; ++row) {
        const QString note = FromStd(notes[row]);
        for (int column = 0; column < kImportSheetColumns; ++column) {
            QTableWidgetItem* item = m_preview->item(row, column);
            item->setToolTip(note);
            if (note.isEmpty())
                item->setData(Qt::ForegroundRole, QVariant());
            else
                item->setForeground(greyed);
        }
    }
}
