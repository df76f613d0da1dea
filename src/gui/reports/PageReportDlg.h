#pragma once

#include "gui/widgets/BackgroundWork.h"

#include <QDialog>

#include <functional>
#include <string>

class CLink;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

/// A read-only report about a partner page, made on a worker thread: the dialog opens at once
/// with a busy bar and Cancel, and shows the text when it arrives. Cancel stops the fetch under
/// way; the dialog closes as soon as the worker has let go.
class CPageReportDlg : public QDialog
{
    Q_OBJECT
public:
    /// Makes the text; false when the page could not be read or parsed (the text so far is shown).
    using Maker = std::function<bool(std::string& text)>;

    CPageReportDlg(const QString& title, const QString& pageUrl, Maker maker, QWidget* parent = nullptr);

    /// False while the worker runs.
    bool IsReady() const { return m_ready; }
    /// Whether the report was made whole.
    bool Succeeded() const { return m_succeeded; }
    QString GetReportText() const;
    /// What the dialog says about the report ("" when the report speaks for itself).
    QString GetStatusText() const;

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    /// The status line for a finished report; "" hides it.
    virtual QString StatusFor(bool succeeded, const QString& text) const;

private:
    void Start();
    void Arrive();

    QString m_pageUrl;
    Maker m_maker;
    QLabel* m_status = nullptr;
    QProgressBar* m_busy = nullptr;
    QPlainTextEdit* m_report = nullptr;
    QPushButton* m_button = nullptr;
    /// The maker's text, written by the work and read once it has ended.
    std::string m_made;
    bool m_madeWhole = false;
    /// Declared after what its work uses: it goes first, and waits for the work as it goes.
    CBackgroundWork m_work;
    bool m_started = false;
    bool m_ready = false;
    bool m_succeeded = false;
    bool m_closeWhenReady = false;
};

/// "External Links Info" of a page (its normalised address).
class CExternalLinksInfoDlg : public CPageReportDlg
{
    Q_OBJECT
public:
    CExternalLinksInfoDlg(const std::string& pageUrl, QWidget* parent = nullptr);
};

/// "Link Source": the anchors of the link's From page that name its To Page.
class CViewLinkSourceDlg : public CPageReportDlg
{
    Q_OBJECT
public:
    CViewLinkSourceDlg(const CLink& link, QWidget* parent = nullptr);

protected:
    QString StatusFor(bool succeeded, const QString& text) const override;
};
