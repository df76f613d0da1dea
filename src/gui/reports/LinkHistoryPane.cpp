#include "LinkHistoryPane.h"

#include "core/history/HistoryStore.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int64_t kStripDays = 365;

QString FromStd(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor StatusColor(uint32_t status)
{
    if (status == StatusOk)
        return QColor(0x2E, 0x9D, 0x3A);
    if (status == StatusExpiring)
        return QColor(0xF2, 0xC0, 0x2A);
    if (status & StatusProblematicMask)
        return QColor(0xD9, 0x30, 0x25);
    return QColor(0xB0, 0xB0, 0xB0); // not checked, or no history that far back
}

} // namespace

CStatusStrip::CStatusStrip(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusStrip"));
    setMinimumHeight(fontMetrics().height());
    setAccessibleName(tr("Status over the last twelve months"));
}

void CStatusStrip::SetSpans(std::vector<StatusSpan> spans)
{
    m_spans = std::move(spans);
    // The strip is a picture; its description is what a screen reader reads instead.
    QStringList parts;
    for (const StatusSpan& span : m_spans)
        parts << QStringLiteral("%1 from %2")
                     .arg(FromStd(GetStatusName(span.status).empty() ? "Not checked" : GetStatusName(span.status)),
                          FromStd(LocalTimeText(span.begin).substr(0, 10)));
    setAccessibleDescription(parts.join(QStringLiteral(", ")));
    update();
}

QSize CStatusStrip::sizeHint() const
{
    return {fontMetrics().averageCharWidth() * 60, fontMetrics().height()};
}

int CStatusStrip::SpanAt(int x) const
{
    if (m_spans.empty() || width() <= 0)
        return -1;
    const int64_t begin = m_spans.front().begin;
    const int64_t length = std::max<int64_t>(m_spans.back().end - begin, 1);
    const int64_t time = begin + length * x / width();
    for (std::size_t i = 0; i < m_spans.size(); ++i)
        if (time < m_spans[i].end)
            return static_cast<int>(i);
    return static_cast<int>(m_spans.size()) - 1;
}

void CStatusStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_spans.empty())
        return;
    const int64_t begin = m_spans.front().begin;
    const int64_t length = std::max<int64_t>(m_spans.back().end - begin, 1);
    for (const StatusSpan& span : m_spans) {
        const int left = static_cast<int>((span.begin - begin) * width() / length);
        const int right = static_cast<int>((span.end - begin) * width() / length);
        painter.fillRect(QRect(left, 0, std::max(right - left, 1), height()), StatusColor(span.status));
    }
}

bool CStatusStrip::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const int index = SpanAt(static_cast<QHelpEvent*>(event)->pos().x());
        if (index >= 0) {
            const StatusSpan& span = m_spans[static_cast<std::size_t>(index)];
            const std::string name = GetStatusName(span.status);
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                               tr("%1 from %2 to %3")
                                   .arg(FromStd(name.empty() ? "Not checked" : name),
                                        FromStd(LocalTimeText(span.begin)), FromStd(LocalTimeText(span.end))),
                               this);
        }
        return true;
    }
    return QWidget::event(event);
}

CLinkHistoryPane::CLinkHistoryPane(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LinkHistoryPane"));
    m_since = new QLabel(this);
    m_since->setObjectName(QStringLiteral("sinceLabel"));
    m_since->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_strip = new CStatusStrip(this);
    m_evidence = new QLabel(this);
    m_evidence->setObjectName(QStringLiteral("evidenceLabel"));
    m_evidence->setWordWrap(true);
    m_evidence->setTextFormat(Qt::PlainText);
    m_evidence->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_copy = new QPushButton(tr("Copy &report"), this);
    m_copy->setObjectName(QStringLiteral("copyReportButton"));
    m_copy->setToolTip(tr("Copies a dated report of this link's history, for the seller"));
    connect(m_copy, &QPushButton::clicked, this, &CLinkHistoryPane::CopyReport);

    auto* top = new QHBoxLayout;
    top->addWidget(m_since, 1);
    top->addWidget(m_copy);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addLayout(top);
    layout->addWidget(m_strip);
    layout->addWidget(m_evidence);
    ShowLink(nullptr, 0);
}

void CLinkHistoryPane::SetStore(CHistoryStore* store)
{
    m_store = store;
}

void CLinkHistoryPane::ShowLink(const CLink* link, int64_t now)
{
    m_hasLink = link != nullptr;
    m_now = now;
    m_entries.clear();
    if (!link) {
        m_fromPage.clear();
        m_toPage.clear();
        m_project.clear();
        m_since->setText(tr("Select one link to see its history."));
        m_strip->SetSpans({});
        m_evidence->clear();
        m_copy->setEnabled(false);
        return;
    }
    m_fromPage = link->GetFromPage();
    m_toPage = link->GetToPage();
    m_project = link->GetProject();
    if (m_store)
        m_entries = m_store->Timeline(HistoryKey(m_fromPage, m_toPage, m_project));
    const QString problem = m_store ? FromStd(m_store->Problem()) : tr("There is no check history.");
    m_since->setText(FromStd(SinceText(m_entries, now)));
    m_strip->SetSpans(StatusSpans(m_entries, now - kStripDays * 86400, now));
    const auto withEvidence = std::find_if(m_entries.rbegin(), m_entries.rend(),
                                           [](const HistoryEntry& entry) { return !entry.evidence.empty(); });
    if (!problem.isEmpty() && m_entries.empty())
        m_evidence->setText(problem);
    else if (withEvidence == m_entries.rend())
        m_evidence->setText(tr("No check has read this link's page yet."));
    else
        m_evidence->setText(
            tr("Last check of the page, %1%2:\n%3")
                .arg(FromStd(LocalTimeText(withEvidence->time)),
                     withEvidence->httpStatus > 0 ? tr(" (HTTP %1)").arg(withEvidence->httpStatus) : QString(),
                     FromStd(withEvidence->evidence)));
    if (const HistoryEntry* found = LastFoundBeforeLoss(m_entries))
        m_evidence->setText(m_evidence->text() +
                            tr("\n\nLast found on the page, %1:\n%2")
                                .arg(FromStd(LocalTimeText(found->time)), FromStd(found->evidence)));
    m_copy->setEnabled(true);
}

QString CLinkHistoryPane::GetSinceText() const
{
    return m_since->text();
}

QString CLinkHistoryPane::GetEvidenceText() const
{
    return m_evidence->text();
}

QString CLinkHistoryPane::GetReportText() const
{
    if (!m_hasLink)
        return {};
    return FromStd(EvidenceReport(m_fromPage, m_toPage, m_project, m_entries, m_now));
}

void CLinkHistoryPane::CopyReport()
{
    QGuiApplication::clipboard()->setText(GetReportText());
}
