#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

/// The help page in a window of its own, readable without a web browser and beside the main
/// window while the user works. Links within the page and to files beside it are followed here;
/// web and mail addresses go to the desktop's programs.
class CHelpWindow : public QDialog
{
    Q_OBJECT
public:
    explicit CHelpWindow(const QString& helpFile, QWidget* parent = nullptr);

    QTextBrowser* GetBrowser() const { return m_browser; }

    /// "orx-help.html" beside the program (a build or a portable copy), else in the installed
    /// data folders; "" when there is none.
    static QString FindHelpFile();

private:
    void Follow(const QUrl& link);

    QTextBrowser* m_browser = nullptr;
};
