#include "CheckForDuplicatesDlg.h"

#include "core/search/Duplicates.h"
#include "gui/widgets/BackgroundWork.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>
#include <utility>

namespace {

// A horizontal dialog unit is a quarter of the font's average character width.
constexpr double kTabStopDialogUnits = 100.0;

} // namespace

CCheckForDuplicatesDlg::CCheckForDuplicatesDlg(std::vector<const CLink*> links, QWidget* parent)
    : QDialog(parent), m_links(std::move(links))
{
    auto* layout = new QVBoxLayout(this);
    m_ignoreWww = new QCheckBox(tr("Count a host with and without a leading \"&www.\" as the same site"), this);
    m_ignoreWww->setObjectName(QStringLiteral("ignoreWwwCheck"));
    m_ignoreWww->setChecked(true);
    layout->addWidget(m_ignoreWww);
    m_oneLinkPerProject = new QCheckBox(tr("Allow only one link from a &project to be placed at one page"), this);
    m_oneLinkPerProject->setObjectName(QStringLiteral("oneLinkPerProjectCheck"));
    layout->addWidget(m_oneLinkPerProject);

    m_report = new QPlainTextEdit(this);
    m_report->setObjectName(QStringLiteral("reportEdit"));
    m_report->setAccessibleName(tr("Duplicates found"));
    m_report->setReadOnly(true);
    // Read from the keyboard too: the cursor keys scroll it, Ctrl+C copies a selection.
    m_report->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    // Report lines are rows of a table: they scroll sideways instead of wrapping.
    m_report->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_report->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_report->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab leaves the report as it leaves any other field; it holds nothing to type.
    m_report->setTabChangesFocus(true);
    const QFontMetricsF metrics(m_report->font());
    m_report->setTabStopDistance(metrics.averageCharWidth() * kTabStopDialogUnits / 4.0);
    layout->addWidget(m_report, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* find = buttons->addButton(tr("Find"), QDialogButtonBox::ActionRole);
    find->setObjectName(QStringLiteral("findButton"));
    find->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    layout->addWidget(buttons);
    connect(find, &QPushButton::clicked, this, &CCheckForDuplicatesDlg::OnFind);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCheckForDuplicatesDlg::reject);

    setWindowTitle(tr("Find duplicates..."));
    setAccessibleName(windowTitle());
    const QFontMetrics text(font());
    resize(text.averageCharWidth() * 110, text.height() * 28);
    m_ignoreWww->setFocus();
}

void CCheckForDuplicatesDlg::OnFind()
{
    const bool ignoreWww = m_ignoreWww->isChecked();
    const bool oneLinkPerProject = m_oneLinkPerProject->isChecked();
    m_report->clear();
    // A large database takes a moment; the windows keep painting meanwhile.
    const WorkOutcome<std::string> found = RunWork(this, {.text = tr("Searching for duplicates...")}, [&](CWorkToken&) {
        return DuplicatesReport(m_links, ignoreWww, oneLinkPerProject);
    });
    // The search itself cannot stop halfway, but it is short (100,000 links in well under a
    // second); after a Cancel the report stays empty rather than show what the user gave up on.
    if (found.cancelled)
        return;
    const std::string& report = found.value;
    QString shown = QString::fromUtf8(report.data(), static_cast<qsizetype>(report.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_report->setPlainText(shown);
}

QString CCheckForDuplicatesDlg::GetReport() const
{
    return m_report->toPlainText();
}
