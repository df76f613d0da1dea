#pragma once

#include <QDialog>
#include <QUrl>

/// What a fresh copy of the program shows after a fault wrote its report: the apology and the
/// offer to mail the report. "Send Error Report" opens the mail program with a letter to support
/// that asks for the file; "Don't Send" does nothing more.
class CExceptionHandlerDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CExceptionHandlerDlg(QString reportPath, QWidget* parent = nullptr);

    /// The letter to support about the report at `reportPath`.
    static QUrl MailLink(const QString& reportPath);

public slots:
    void accept() override;

private:
    QString m_reportPath;
};
