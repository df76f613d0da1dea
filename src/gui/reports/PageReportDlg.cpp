#include "PageReportDlg.h"

#include "core/fetch/Fetch.h"
#include "core/fetch/Url.h"
#include "core/page/PageAnalysis.h"
#include "core/records/Link.h"
#include "gui/widgets/Icons.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

QString FromStd(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CPageReportDlg::CPageReportDlg(const QString& title, const QString& pageUrl, Maker maker, QWidget* parent)
    : QDialog(parent), m_pageUrl(pageUrl), m_maker(std::move(maker))
{
    setWindowTitle(title);
    setAccessibleName(title);
    setWindowIcon(OrvexIcon(QStringLiteral("orvex")));
    setSizeGripEnabled(true);

    m_status = new QLabel(tr("Reading %1 ...").arg(pageUrl), this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_busy = new QProgressBar(this);
    m_busy->setObjectName(QStringLiteral("busyBar"));
    m_busy->setRange(0, 0); // no end known: the bar only says that work goes on
    m_busy->setTextVisible(false);
    m_busy->setAccessibleName(m_status->text());

    m_report = new QPlainTextEdit(this);
    m_report->setObjectName(QStringLiteral("reportEdit"));
    m_report->setReadOnly(true);
    // Read-only, yet the keys still move through it and select text to copy.
    m_report->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_report->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_report->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_report->setAccessibleName(title);
    m_report->setEnabled(false);
    m_report->setMinimumSize(fontMetrics().averageCharWidth() * 80, fontMetrics().height() * 24);

    auto* buttons = new QDialogButtonBox(this);
    m_button = buttons->addButton(QDialogButtonBox::Cancel);
    m_button->setObjectName(QStringLiteral("closeButton"));
    m_button->setDefault(true);
    connect(m_button, &QPushButton::clicked, this, &CPageReportDlg::reject);
    connect(&m_work, &CBackgroundWork::Finished, this, &CPageReportDlg::Arrive);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_busy);
    layout->addWidget(m_report, 1);
    layout->addWidget(buttons);
}

QString CPageReportDlg::GetReportText() const
{
    return m_report->toPlainText();
}

QString CPageReportDlg::GetStatusText() const
{
    return m_status->isHidden() ? QString() : m_status->text();
}

void CPageReportDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_started)
        Start();
}

void CPageReportDlg::Start()
{
    m_started = true;
    m_button->setFocus();
    m_work.Start([this](CWorkToken& token) {
        const CFetchCancelScope scope(token.CancelFlag());
        m_madeWhole = m_maker(m_made);
    });
}

void CPageReportDlg::Arrive()
{
    m_ready = true;
    if (m_closeWhenReady) {
        QDialog::reject();
        return;
    }
    // A maker that threw shows the text it had made so far, as one that gave up does.
    const bool succeeded = m_madeWhole && !m_work.Failure();
    // The edit shows lines, not CR LF pairs.
    QString text = FromStd(m_made);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_succeeded = succeeded;
    m_busy->hide();
    const QString status = StatusFor(succeeded, text);
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    m_report->setPlainText(text);
    m_report->setEnabled(true);
    m_button->setText(tr("OK"));
    m_report->setFocus();
}

QString CPageReportDlg::StatusFor(bool succeeded, const QString& text) const
{
    if (succeeded)
        return {};
    // A report that ends at its address says why itself; one that ends later does not.
    return text.contains(QStringLiteral("Can not read URL content")) ? QString()
                                                                     : tr("The page could not be read in full.");
}

void CPageReportDlg::reject()
{
    if (m_ready || !m_started) {
        QDialog::reject();
        return;
    }
    // The fetch ends within about a second; the dialog goes when the worker has let go of it.
    m_work.Cancel();
    m_closeWhenReady = true;
    m_button->setEnabled(false);
    m_status->setText(tr("Cancelling ..."));
}

CExternalLinksInfoDlg::CExternalLinksInfoDlg(const std::string& pageUrl, QWidget* parent)
    : CPageReportDlg(
          tr("External Links Info"), FromStd(pageUrl),
          [pageUrl](std::string& text) { return ExternalLinksInfo(pageUrl, text); }, parent)
{
    setObjectName(QStringLiteral("ExternalLinksInfoDlg"));
}

CViewLinkSourceDlg::CViewLinkSourceDlg(const CLink& link, QWidget* parent)
    : CPageReportDlg(
          tr("Link Source"), FromStd(NormalizeUrl(link.GetFromPage())),
          [fromPage = link.GetFromPage(), toPage = link.GetToPage()](std::string& text) {
              return LinkSourceText(fromPage, toPage, text);
          },
          parent)
{
    setObjectName(QStringLiteral("ViewLinkSourceDlg"));
}

QString CViewLinkSourceDlg::StatusFor(bool succeeded, const QString& text) const
{
    if (!succeeded)
        return text.isEmpty() ? tr("The page could not be read.") : tr("The page could not be read in full.");
    return text.isEmpty() ? tr("No anchor on the page names the To Page.") : QString();
}
