// The offer to mail a crash report, from the keyboard: Enter sends (the mail program gets the
// letter to support naming the report), Escape does not.
#include "DialogTesting.h"
#include "gui/crash/ExceptionHandlerDlg.h"
#include "gui/help/DesktopLinks.h"
#include "gui/widgets/TestHooks.h"

#include <QLabel>
#include <QPushButton>
#include <QUrlQuery>
#include <QtTest>

#include <vector>

class CrashDialogTest : public QObject
{
    Q_OBJECT

    std::vector<QUrl> m_opened;

private slots:
    void init()
    {
        m_opened.clear();
        TestHooks::SetDesktopOpener([this](const QUrl& url) {
            m_opened.push_back(url);
            return true;
        });
    }
    void cleanup() { TestHooks::SetDesktopOpener({}); }

    void enterSendsTheLetterAndEscapeDoesNot()
    {
        const QString report = QStringLiteral("/home/a user/.local/share/Orvex/CrashReport.txt");
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            CExceptionHandlerDlg dialog(report);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Orvex"));
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("apologyLabel"))->text(),
                     QStringLiteral("Unfortunately Orvex has encountered a problem and need to close.\n"
                                    "We are sorry for the inconvenience."));
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("offerLabel"))->text(),
                     QStringLiteral("We have created an error report that you can send to help us improve Orvex. "
                                    "We will treat this report as confidential and anonymous."));
            QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("sendButton"))->text(),
                     QStringLiteral("Send Error Report"));
            QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("dontSendButton"))->text(),
                     QStringLiteral("Don't Send"));
            dialog.show();
            Activate(&dialog);
            Press(key);
            QCOMPARE(dialog.result(), key == Qt::Key_Return ? int(QDialog::Accepted) : int(QDialog::Rejected));
        }
        QCOMPARE(m_opened.size(), std::size_t(1));
        const QUrl& letter = m_opened.front();
        QCOMPARE(letter.scheme(), QStringLiteral("mailto"));
        QCOMPARE(letter.path(), QStringLiteral("support@orvex.example.com"));
        const QUrlQuery query(letter);
        QCOMPARE(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
                 QStringLiteral("Orvex 2.0 Crash Report"));
        QCOMPARE(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
                 QStringLiteral("Please attach the following file and send it to Orvex support team.\r\n") + report +
                     QStringLiteral("\r\n"));
    }
};

QTEST_MAIN(CrashDialogTest)
#include "CrashDialogTest.moc"
