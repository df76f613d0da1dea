#pragma once

#include "core/history/HistoryText.h"

#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class CHistoryStore;
class CLink;
class QLabel;
class QPushButton;

/// The last twelve months of one link as a strip of colours, one per status, with the dates of
/// the changes in its tips.
class CStatusStrip : public QWidget
{
    Q_OBJECT
public:
    explicit CStatusStrip(QWidget* parent = nullptr);
    void SetSpans(std::vector<StatusSpan> spans);
    const std::vector<StatusSpan>& GetSpans() const { return m_spans; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    int SpanAt(int x) const;
    std::vector<StatusSpan> m_spans;
};

/// Under the links list: what the history says about the selected link. Its status since when,
/// the strip of the last twelve months, the evidence of the last check that read its page, and a
/// button that copies a dated report the user can send to the seller.
class CLinkHistoryPane : public QWidget
{
    Q_OBJECT
public:
    explicit CLinkHistoryPane(QWidget* parent = nullptr);

    /// Where the history comes from; null shows that there is none.
    void SetStore(CHistoryStore* store);
    /// The link to show (a copy of its addresses is kept); null when no single link is selected.
    void ShowLink(const CLink* link, int64_t now);

    QString GetSinceText() const;
    QString GetEvidenceText() const;
    /// The report the button copies; "" without a link.
    QString GetReportText() const;
    CStatusStrip* GetStrip() const { return m_strip; }

private:
    void CopyReport();

    CHistoryStore* m_store = nullptr;
    QLabel* m_since = nullptr;
    CStatusStrip* m_strip = nullptr;
    QLabel* m_evidence = nullptr;
    QPushButton* m_copy = nullptr;
    std::string m_fromPage;
    std::string m_toPage;
    std::string m_project;
    std::vector<HistoryEntry> m_entries;
    int64_t m_now = 0;
    bool m_hasLink = false;
};
