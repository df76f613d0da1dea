#pragma once

#include <QDialog>

#include <vector>

class CLink;
class QCheckBox;
class QPlainTextEdit;

/// "Find duplicates...": sets of links placed on one partner page that point to the same page (or
/// belong to the same project), over the links it was given. "Find" can run any number of times
/// with other options; the dialog changes nothing.
class CCheckForDuplicatesDlg : public QDialog
{
    Q_OBJECT

public:
    /// `links`: every link of the database in collection order. They must stay while the dialog
    /// is open; it only reads them, on a worker thread during a search.
    explicit CCheckForDuplicatesDlg(std::vector<const CLink*> links, QWidget* parent = nullptr);

    /// Searches with the boxes as they are and shows the report.
    void OnFind();
    /// The report as shown (one "\n" per line).
    QString GetReport() const;

private:
    std::vector<const CLink*> m_links;
    QCheckBox* m_ignoreWww;
    QCheckBox* m_oneLinkPerProject;
    QPlainTextEdit* m_report;
};
