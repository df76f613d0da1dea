// The options sheet and its dialogs as a user drives them: every refusal with the field it
// leaves focused, the enabling rules, the schedule summary and its changes through an in-memory
// scheduler, "&Test" against mail servers of this process, the database path that names a new
// file, and the keyboard alone.
#include "core/storage/Options.h"
#include "DialogTesting.h"
#include "TestProgram.h"
#include "core/fetch/CheckSettings.h"
#include "core/history/HistoryStore.h"
#include "core/storage/ORXDatabase.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/options/AuthenticationDlg.h"
#include "gui/options/OptionsDlgGeneral.h"
#include "gui/options/OptionsSheet.h"
#include "gui/options/ProxySettingsDlg.h"
#include "gui/options/SMTPSettingsDlg.h"
#include "gui/options/ScheduleStore.h"
#include "gui/options/SchedulingDlg.h"
#include "gui/options/SystemScheduleStore.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <memory>

namespace {

// The widget that has (or would have, in an inactive window) the focus, and whether all of its
// text is selected.
QString FocusedName(QWidget* dialog)
{
    return dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString();
}

bool WhollySelected(QLineEdit* field)
{
    return field->selectedText() == field->text();
}

// The scheduler as the dialogs see it, in memory. Each call can be made to fail with a reason.
class CFakeSchedule : public IScheduleStore
{
public:
    bool exists = false;
    std::optional<std::string> account = std::string("alice");
    std::optional<WeeklyTrigger> trigger;
    bool failCreate = false;
    bool failDelete = false;
    std::string error;
    int deletes = 0;

    std::string readError;

    // Like the real one, every call starts with a clean LastError.
    bool ScheduledTaskExists() override
    {
        error = readError;
        return exists && readError.empty();
    }
    bool CreateScheduledTask() override
    {
        error.clear();
        if (failCreate)
            return Fail("cron is not installed: the weekly check cannot be scheduled");
        exists = true;
        return true;
    }
    bool DeleteScheduledTask() override
    {
        error.clear();
        ++deletes;
        if (failDelete)
            return Fail("crontab refused the table");
        exists = false;
        trigger.reset();
        return true;
    }
    std::optional<std::string> GetTaskAccount() override { return exists ? account : std::nullopt; }
    std::optional<WeeklyTrigger> GetWeeklyTrigger() override { return exists ? trigger : std::nullopt; }
    bool SetWeeklyTrigger(uint8_t days, int hour, int minute) override
    {
        error.clear();
        if (days == 0)
            return Fail("no day is ticked");
        trigger = WeeklyTrigger{days, hour, minute};
        return true;
    }
    std::string LastError() const override { return error; }
    std::string CurrentUser() const override { return "bob"; }

private:
    bool Fail(std::string why)
    {
        error = std::move(why);
        return false;
    }
};

// An SMTP server on 127.0.0.1 served by this thread's event loop: it can only answer while the
// dialog's loop keeps running. `mailReply` answers MAIL FROM.
class CLocalSmtp : public QObject
{
public:
    explicit CLocalSmtp(QByteArray mailReply = "250 OK") : m_mailReply(std::move(mailReply))
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                Serve(socket);
        });
    }
    int Port() const { return m_server.serverPort(); }
    QByteArray m_received;

private:
    void Serve(QTcpSocket* socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write("220 localhost ESMTP\r\n");
        auto inData = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, inData] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine();
                m_received += line;
                const QByteArray command = line.trimmed().left(4).toUpper();
                if (*inData) {
                    if (line == ".\r\n" || line == ".\n") {
                        *inData = false;
                        socket->write("250 queued\r\n");
                    }
                } else if (command == "MAIL") {
                    socket->write(m_mailReply + "\r\n");
                } else if (command == "DATA") {
                    *inData = true;
                    socket->write("354 go on\r\n");
                } else if (command == "QUIT") {
                    socket->write("221 bye\r\n");
                    socket->disconnectFromHost();
                } else {
                    socket->write("250 localhost\r\n");
                }
            }
        });
    }

    QTcpServer m_server;
    QByteArray m_mailReply;
};

COptions MailOptions()
{
    COptions options;
    options.SetMailTo("me@example.com");
    options.SetSmtpServer("127.0.0.1");
    options.SetMailFrom("orvex@example.com");
    return options;
}

} // namespace

class OptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestHooks::AnswerDialogsWithoutUser(); }

    void smtpRefusalsInOrderWithTheirFields()
    {
        COptions options;
        options.SetSmtpAuth(true);
        CSMTPSettingsDlg dialog(options, {});
        dialog.show();
        QCOMPARE(dialog.accessibleName(), QStringLiteral("SMTP Settings"));
        QCOMPARE(Child(&dialog, "toEdit")->accessibleName(), QStringLiteral("To:"));
        QCOMPARE(Child<QLineEdit>(&dialog, "serverEdit")->placeholderText(), QStringLiteral("Enter smtp server"));
        // An empty sender is offered as the built-in one.
        QCOMPARE(Child<QLineEdit>(&dialog, "fromEdit")->text(), QStringLiteral("orvex@localhost"));

        // Everything wrong at once; each step mends what the one before refused, and OK names the
        // next trouble with its field focused and its text selected.
        Child<QLineEdit>(&dialog, "serverEdit")->setText(QStringLiteral("  "));
        Child<QLineEdit>(&dialog, "fromEdit")->setText(QStringLiteral(" "));
        const QString badPort = QStringLiteral("Please enter an integer between 1 and 65535.");
        const QString noAddress = QStringLiteral("You must specify Email address");
        const struct
        {
            const char* field;
            const char* text;
            QString message;
            const char* focused; ///< null: not a field's fault
        } steps[] = {
            {"portEdit", "0", badPort, "portEdit"}, // before the server check
            {"portEdit", "65536", badPort, "portEdit"},
            {"portEdit", "2525", QStringLiteral("You must specify SMTP server if you want to use notifications"),
             "serverEdit"},
            {"serverEdit", "mail.example.com", noAddress, "toEdit"},
            {"toEdit", "me@example.com", noAddress, "fromEdit"},
            {"fromEdit", "orvex@example.com", QStringLiteral("Please specify username"), nullptr}, // authentication on
        };
        for (const auto& step : steps) {
            Child<QLineEdit>(&dialog, step.field)->setText(QString::fromLatin1(step.text));
            dialog.accept();
            QVERIFY2(dialog.isVisible(), step.text);
            QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{step.message});
            if (step.focused) {
                QCOMPARE(FocusedName(&dialog), QString::fromLatin1(step.focused));
                QVERIFY2(WhollySelected(Child<QLineEdit>(&dialog, step.focused)), step.focused);
            }
        }
        QVERIFY(options.GetSmtpServer().empty()); // nothing stored while refused

        options.SetSmtpUser("mailer");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(options.GetSmtpServer(), std::string("mail.example.com"));
        QCOMPARE(options.GetSmtpPort(), 2525);
        QCOMPARE(options.GetMailTo(), std::string("me@example.com"));
        QCOMPARE(options.GetMailFrom(), std::string("orvex@example.com"));
    }

    void smtpTestNeedsRecipientAndServer()
    {
        COptions options;
        CSMTPSettingsDlg dialog(options, {});
        auto* test = Child<QPushButton>(&dialog, "testButton");
        QVERIFY(!test->isEnabled());
        Child<QLineEdit>(&dialog, "toEdit")->setText(QStringLiteral("me@example.com"));
        QVERIFY(!test->isEnabled());
        Child<QLineEdit>(&dialog, "serverEdit")->setText(QStringLiteral("mail.example.com"));
        QVERIFY(test->isEnabled());
        Child<QLineEdit>(&dialog, "toEdit")->clear();
        QVERIFY(!test->isEnabled());
    }

    void smtpAuthenticationRoundTrip()
    {
        COptions options = MailOptions();
        CSMTPSettingsDlg dialog(options, {});
        Child<QLineEdit>(&dialog, "serverEdit")->setText(QStringLiteral("typed.example.com"));
        bool seen = false;
        WhenShown<CAuthenticationDlg>([&](CAuthenticationDlg* auth) {
            seen = true;
            QCOMPARE(auth->accessibleName(), QStringLiteral("Authentication"));
            auto* user = Child<QLineEdit>(auth, "userEdit");
            QCOMPARE(user->placeholderText(), QStringLiteral("Enter user name"));
            Child<QCheckBox>(auth, "authCheck")->setChecked(true);
            user->setText(QStringLiteral("   "));
            auth->accept();
            QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("Please specify username")});
            QCOMPARE(FocusedName(auth), QStringLiteral("userEdit"));
            QVERIFY(WhollySelected(user));
            user->setText(QStringLiteral("mailer"));
            Child<QLineEdit>(auth, "passwordEdit")->setText(QStringLiteral("secret"));
            auth->accept();
        });
        Child<QPushButton>(&dialog, "authButton")->click();
        QVERIFY(seen);
        // The page went into the copy before the dialog opened, and comes back from it.
        QCOMPARE(options.GetSmtpServer(), std::string("typed.example.com"));
        QCOMPARE(Child<QLineEdit>(&dialog, "serverEdit")->text(), QStringLiteral("typed.example.com"));
        QVERIFY(options.GetSmtpAuth());
        QCOMPARE(options.GetSmtpUser(), std::string("mailer"));
        QCOMPARE(options.GetSmtpPassword(), std::string("secret"));
    }

    void proxyRefusals()
    {
        COptions options;
        options.SetProxyHost("");
        CProxySettingsDlg dialog(options);
        dialog.show();
        QCOMPARE(dialog.accessibleName(), QStringLiteral("Proxy"));
        auto* host = Child<QLineEdit>(&dialog, "hostEdit");
        auto* port = Child<QLineEdit>(&dialog, "portEdit");
        QCOMPARE(host->placeholderText(), QStringLiteral("Enter proxy server"));
        QCOMPARE(port->placeholderText(), QStringLiteral("Enter proxy port number"));
        // The range check speaks first, even with the host missing too.
        port->setText(QStringLiteral("0"));
        dialog.accept();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("Please enter an integer between 1 and 65535.")});
        QCOMPARE(FocusedName(&dialog), QStringLiteral("portEdit"));
        port->setText(QStringLiteral("3128"));
        host->setText(QStringLiteral("  "));
        dialog.accept();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("Please specify host name")});
        QCOMPARE(FocusedName(&dialog), QStringLiteral("hostEdit"));
        QVERIFY(WhollySelected(host));
        QVERIFY(dialog.isVisible());
        host->setText(QStringLiteral("proxy.local"));
        dialog.accept();
        QCOMPARE(options.GetProxyHost(), std::string("proxy.local"));
        QCOMPARE(options.GetProxyPort(), 3128);
    }

    void generalPageSummaryAndEnabling()
    {
        CFakeSchedule schedule;
        COptions options;
        {
            COptionsDlgGeneral page(options, schedule, {});
            QCOMPARE(Child<QLabel>(&page, "statusLabel")->text(), QStringLiteral("Not configured"));
            QVERIFY(!Child<QCheckBox>(&page, "scheduleCheck")->isChecked());
            QCOMPARE(Child<QLineEdit>(&page, "databaseEdit")->placeholderText(), QStringLiteral("Path to db-file"));
            // Each button follows its box.
            const std::pair<const char*, const char*> pairs[] = {
                {"useProxyCheck", "proxyButton"}, {"scheduleCheck", "scheduleButton"}, {"notifyCheck", "notifyButton"}};
            for (const auto& [box, button] : pairs) {
                QVERIFY2(!Child<QPushButton>(&page, button)->isEnabled(), button);
                Child<QCheckBox>(&page, box)->setChecked(true);
                QVERIFY2(Child<QPushButton>(&page, button)->isEnabled(), button);
                Child<QCheckBox>(&page, box)->setChecked(false);
                QVERIFY2(!Child<QPushButton>(&page, button)->isEnabled(), button);
            }
        }
        schedule.exists = true;
        schedule.trigger = IScheduleStore::WeeklyTrigger{0x02 | 0x20, 7, 5};
        COptionsDlgGeneral page(options, schedule, {});
        QCOMPARE(Child<QLabel>(&page, "statusLabel")->text(), QStringLiteral("Mon, Fri,  at 07:05 as [alice]"));
        QVERIFY(Child<QCheckBox>(&page, "scheduleCheck")->isChecked());
        // A scheduler that cannot be asked is not passed off as an empty one.
        schedule.readError = "cron is not installed";
        QCOMPARE(DescribeSchedule(schedule), std::string("Not configured: cron is not installed"));
        schedule.readError.clear();
        // An unreadable trigger still names the account.
        schedule.trigger.reset();
        QCOMPARE(DescribeSchedule(schedule), std::string(" at 00:00 as [alice]"));
    }

    void generalPageRefusalsInOrder()
    {
        CFakeSchedule schedule;
        COptions options;
        COptionsDlgGeneral page(options, schedule, {});
        page.show();
        Child<QCheckBox>(&page, "scheduleCheck")->setChecked(true);
        Child<QCheckBox>(&page, "notifyCheck")->setChecked(true);
        Child<QCheckBox>(&page, "useProxyCheck")->setChecked(true);
        QVERIFY(!page.OnOK());
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("Please configure scheduling settings")});
        QCOMPARE(FocusedName(&page), QStringLiteral("scheduleButton"));
        schedule.exists = true;
        QVERIFY(!page.OnOK());
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("Please configure E-mail Notification settings")});
        QCOMPARE(FocusedName(&page), QStringLiteral("notifyButton"));
        options = MailOptions();
        options.SetProxyHost("");
        QVERIFY(!page.OnOK());
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("Please configure Proxy settings")});
        QCOMPARE(FocusedName(&page), QStringLiteral("proxyButton"));
        options.SetProxyHost("proxy.local");
        Child<QLineEdit>(&page, "databaseEdit")->setText(QStringLiteral("  /data/links.orx "));
        QVERIFY(page.OnOK());
        QVERIFY(options.GetNotifyStatusChanges());
        QVERIFY(options.GetUseProxy());
        QVERIFY(options.GetRealMonitoring());
        QCOMPARE(options.GetDatabasePath(), std::string("/data/links.orx"));
        QCOMPARE(schedule.deletes, 0);
    }

    void clearingTheScheduleBoxDeletesTheTask()
    {
        CFakeSchedule schedule;
        schedule.exists = true;
        schedule.trigger = IScheduleStore::WeeklyTrigger{0x01, 22, 30};
        COptions options;
        options.SetRealMonitoring(true);
        {
            COptionsDlgGeneral page(options, schedule, {});
            Child<QCheckBox>(&page, "scheduleCheck")->setChecked(false);
            QVERIFY(page.OnOK());
        }
        QVERIFY(!schedule.exists);
        QVERIFY(!options.GetRealMonitoring());
        COptionsDlgGeneral reopened(options, schedule, {});
        QCOMPARE(Child<QLabel>(&reopened, "statusLabel")->text(), QStringLiteral("Not configured"));
        QVERIFY(!Child<QCheckBox>(&reopened, "scheduleCheck")->isChecked());

        // A deletion the scheduler refuses is reported, not passed over.
        schedule.exists = true;
        schedule.failDelete = true;
        COptionsDlgGeneral page(options, schedule, {});
        Child<QCheckBox>(&page, "scheduleCheck")->setChecked(false);
        QVERIFY(page.OnOK());
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("crontab refused the table")});
    }

    // The dialogs against the real scheduler, with a crontab that keeps the table in a file: the
    // Monday and Friday 07:05 check becomes the user's line, and clearing the box takes it away.
    void theScheduleBecomesTheUsersCrontabLine()
    {
        QTemporaryDir bin;
        const QString table = bin.filePath(QStringLiteral("table"));
        {
            QFile fake(bin.filePath(QStringLiteral("crontab")));
            QVERIFY(fake.open(QIODevice::WriteOnly));
            fake.write("#!/bin/sh\n"
                       "case \"$1\" in\n"
                       "-l) [ -f \"$FAKE_CRONTAB\" ] || { echo \"no crontab for $(id -un)\" >&2; exit 1; }\n"
                       "    cat \"$FAKE_CRONTAB\" ;;\n"
                       "-) cat > \"$FAKE_CRONTAB\" ;;\n"
                       "*) cat \"$1\" > \"$FAKE_CRONTAB\" ;;\n"
                       "esac\n");
            fake.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":" + path);
        qputenv("FAKE_CRONTAB", QFile::encodeName(table));
        const auto readTable = [&table] {
            QFile file(table);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };

        CSystemScheduleStore schedule(bin.path().toStdString() + "/home dir/");
        COptions options;
        {
            COptionsDlgGeneral page(options, schedule, {});
            QCOMPARE(Child<QLabel>(&page, "statusLabel")->text(), QStringLiteral("Not configured"));
            Child<QCheckBox>(&page, "scheduleCheck")->setChecked(true);
            WhenShown<CSchedulingDlg>([&schedule](CSchedulingDlg* dialog) {
                QCOMPARE(dialog->accessibleName(), QStringLiteral("Schedule"));
                // A new task runs as the user who sets it up.
                auto* user = Child<QLineEdit>(dialog, "userEdit");
                QCOMPARE(user->text(), QString::fromStdString(schedule.CurrentUser()));
                QVERIFY(user->isReadOnly() && !user->text().isEmpty());
                QCOMPARE(user->accessibleName(), QStringLiteral("UserName"));
                Child<QCheckBox>(dialog, "day1")->setChecked(true);
                Child<QCheckBox>(dialog, "day5")->setChecked(true);
                Child<QTimeEdit>(dialog, "timeEdit")->setTime(QTime(7, 5));
                dialog->accept();
            });
            Child<QPushButton>(&page, "scheduleButton")->click();
            QVERIFY2(Child<QLabel>(&page, "statusLabel")->text().startsWith(QStringLiteral("Mon, Fri,  at 07:05 as [")),
                     qPrintable(Child<QLabel>(&page, "statusLabel")->text()));
            QVERIFY(page.OnOK());
        }
        const QString line = readTable();
        QVERIFY2(line.startsWith(QStringLiteral("5 7 * * 1,5 ORVEX_HOME=\"")) &&
                     line.contains(QStringLiteral("/home dir/\" \"")) &&
                     line.trimmed().endsWith(QStringLiteral("/check # Orvex weekly check")),
                 qPrintable(line));

        {
            COptionsDlgGeneral page(options, schedule, {});
            QVERIFY(Child<QCheckBox>(&page, "scheduleCheck")->isChecked());
            Child<QCheckBox>(&page, "scheduleCheck")->setChecked(false);
            QVERIFY(page.OnOK());
        }
        QVERIFY2(!readTable().contains(QStringLiteral("Orvex weekly check")), qPrintable(readTable()));
        QVERIFY(TestHooks::TakeMessageBoxTexts().isEmpty());
        qputenv("PATH", path);
        qunsetenv("FAKE_CRONTAB");
    }

    void scheduleDialogWritesTheTrigger()
    {
        // A Monday and Friday task at 07:05 of another account than the user's.
        CFakeSchedule schedule;
        schedule.exists = true;
        schedule.trigger = IScheduleStore::WeeklyTrigger{0x22, 7, 5};
        COptions options;
        COptionsDlgGeneral page(options, schedule, {});

        // A task whose account cannot be read is not changed blindly.
        schedule.account.reset();
        WhenShown<CSchedulingDlg>([](CSchedulingDlg* dialog) {
            dialog->accept();
            QVERIFY(dialog->isVisible());
            dialog->reject();
        });
        Child<QPushButton>(&page, "scheduleButton")->click();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("Please specify a valid username and password.")});
        QCOMPARE(int(schedule.trigger->days), 0x22);
        schedule.account = "alice";

        // Reopened, the dialog shows what the task holds; with no day left the task goes.
        WhenShown<CSchedulingDlg>([&](CSchedulingDlg* dialog) {
            QVERIFY(Child<QCheckBox>(dialog, "day5")->isChecked());
            QVERIFY(!Child<QCheckBox>(dialog, "day0")->isChecked());
            QCOMPARE(Child<QTimeEdit>(dialog, "timeEdit")->time(), QTime(7, 5));
            QCOMPARE(Child<QLineEdit>(dialog, "userEdit")->text(), QStringLiteral("alice"));
            Child<QCheckBox>(dialog, "day1")->setChecked(false);
            Child<QCheckBox>(dialog, "day5")->setChecked(false);
            dialog->accept();
        });
        Child<QPushButton>(&page, "scheduleButton")->click();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("no day is ticked")});
        QVERIFY(!schedule.exists);
        QCOMPARE(Child<QLabel>(&page, "statusLabel")->text(), QStringLiteral("Not configured"));

        // A scheduler that cannot take tasks says why.
        schedule.failCreate = true;
        Child<QCheckBox>(&page, "scheduleCheck")->setChecked(true);
        WhenShown<CSchedulingDlg>([](CSchedulingDlg* dialog) {
            Child<QCheckBox>(dialog, "day3")->setChecked(true);
            dialog->accept();
        });
        Child<QPushButton>(&page, "scheduleButton")->click();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("cron is not installed: the weekly check cannot be scheduled")});
        QVERIFY(!schedule.exists);
    }

    void testButtonReportsTheServersAnswer()
    {
        struct Case
        {
            const char* name;
            QByteArray mailReply;
            bool listening;
            bool auth;
            QString expected; ///< "%1" is the port
            QString reply;    ///< the server's reply the message must show, if any
        };
        const Case cases[] = {
            {"accepted", "250 OK", true, false, QStringLiteral("Test notification sended successfully."), {}},
            {"sender refused", "550 sender unknown", true, false,
             QStringLiteral("Connection completed successful but message sending failed.\nConnected to the mail "
                            "server \"127.0.0.1\" port %1, but it refused the sender address (MAIL FROM)."),
             QStringLiteral("\nServer reply: 550 sender unknown")},
            {"nobody listening",
             "",
             false,
             false,
             QStringLiteral("Can not connect to specified server.\nNo connection to the mail server \"127.0.0.1\" "
                            "port %1: Connection refused."),
             {}},
            // Reached, and its EHLO offers no AUTH: no connection problem, and the list is shown.
            {"no authentication offered", "250 OK", true, true,
             QStringLiteral("Connected to the mail server \"127.0.0.1\" port %1, but it offers no authentication"),
             QStringLiteral("\nServer reply: 250 localhost")},
        };
        for (const Case& c : cases) {
            auto server = std::make_unique<CLocalSmtp>(c.mailReply);
            const int port = server->Port();
            if (!c.listening)
                server.reset();
            COptions options = MailOptions();
            options.SetSmtpPort(port);
            options.SetSmtpAuth(c.auth);
            options.SetSmtpUser(c.auth ? "webmaster" : "");
            options.SetSmtpPassword(c.auth ? "secret" : "");
            TestMailSources sources;
            sources.replyTimeoutMs = 5000;
            CSMTPSettingsDlg dialog(options, sources);
            // The server answers from this thread's loop: it is only heard if the dialog does not
            // block while the letter goes out.
            Child<QPushButton>(&dialog, "testButton")->click();
            const QStringList shown = TestHooks::TakeMessageBoxTexts();
            QVERIFY2(shown.size() == 1, c.name);
            QVERIFY2(shown.first().startsWith(c.expected.arg(port)), qPrintable(shown.first()));
            QVERIFY2(shown.first().endsWith(c.reply), qPrintable(shown.first()));
            if (c.listening && !c.auth && c.mailReply.startsWith("250"))
                QVERIFY(server->m_received.contains("RCPT TO:<me@example.com>"));
            QVERIFY2(dialog.result() != QDialog::Accepted, c.name);
        }
    }

    void testCanBeCancelledWhileTheServerIsSilent()
    {
        // Takes the connection and never greets.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        COptions options = MailOptions();
        options.SetSmtpPort(silent.serverPort());
        TestMailSources sources;
        sources.replyTimeoutMs = 30000;
        CSMTPSettingsDlg dialog(options, sources);
        bool cancelled = false;
        WhenShown<QDialog>([&](QDialog* progress) {
            QCOMPARE(progress->windowTitle(), QStringLiteral("Test"));
            // How long a server takes is unknown: the bar only shows that work goes on.
            QVERIFY(
                QTest::qWaitFor([progress] { return Child<QProgressBar>(progress, "progressBar")->maximum() == 0; }));
            QVERIFY(QTest::qWaitFor([&] { return silent.hasPendingConnections(); }));
            QTest::keyClick(progress, Qt::Key_Escape);
            cancelled = true;
        });
        QElapsedTimer clock;
        clock.start();
        Child<QPushButton>(&dialog, "testButton")->click();
        QVERIFY(cancelled);
        QVERIFY2(clock.elapsed() < 10000, "Cancel did not end the wait for the server");
        // The user knows he cancelled: no verdict about the server follows.
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList());
    }

    void smtpFromTheKeyboardAlone()
    {
        COptions options;
        COptionsSheet* sheet = nullptr;
        bool typed = false;
        WhenShown<CSMTPSettingsDlg>([&](CSMTPSettingsDlg* dialog) {
            // As a window manager would, the new dialog gets the keyboard: mnemonics need that.
            Activate(dialog);
            // To has the focus; Alt+S reaches the server, Tab moves on to the port.
            QCOMPARE(FocusedName(dialog), QStringLiteral("toEdit"));
            QTest::keyClicks(dialog->focusWidget(), QStringLiteral("me@example.com"));
            QTest::keyClick(dialog, Qt::Key_S, Qt::AltModifier);
            QCOMPARE(FocusedName(dialog), QStringLiteral("serverEdit"));
            QTest::keyClicks(dialog->focusWidget(), QStringLiteral("mail.example.com"));
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
            QCOMPARE(FocusedName(dialog), QStringLiteral("portEdit"));
            QTest::keyClick(dialog->focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(dialog->focusWidget(), QStringLiteral("587"));
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
            typed = true;
            // Enter on the sheet once this dialog has gone.
            QTimer::singleShot(50, [&sheet] { QTest::keyClick(sheet, Qt::Key_Return); });
        });
        WhenShown<COptionsSheet>([&](COptionsSheet* shown) {
            sheet = shown;
            Activate(shown);
            // Alt+N ticks the notification box, which enables its "Con&figure"; Alt+F opens it.
            QTest::keyClick(shown, Qt::Key_N, Qt::AltModifier);
            QVERIFY(QTest::qWaitFor([shown] { return Child<QPushButton>(shown, "notifyButton")->isEnabled(); }));
            QTest::keyClick(shown, Qt::Key_F, Qt::AltModifier);
        });
        CFakeSchedule schedule;
        COptionsSheet dialog(options, schedule, {});
        QCOMPARE(dialog.accessibleName(), QStringLiteral("Options"));
        QTimer::singleShot(10000, &dialog, [&dialog] { dialog.reject(); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(typed);
        const COptions& taken = dialog.GetOptions();
        QVERIFY(taken.GetNotifyStatusChanges());
        QCOMPARE(taken.GetMailTo(), std::string("me@example.com"));
        QCOMPARE(taken.GetSmtpServer(), std::string("mail.example.com"));
        QCOMPARE(taken.GetSmtpPort(), 587);
        QCOMPARE(taken.GetMailFrom(), std::string("orvex@localhost"));
    }

    // A database path that names no file yet, set in the sheet the window opens: No creates
    // nothing; Yes with a folder that is not there keeps the open database; Yes writes the new
    // file at once (the old one saved first), shows it in the list and keeps it in "ORX.cfg".
    void newDatabasePathAsksBeforeCreating()
    {
        TestProgram program;
        QVERIFY(program.app);
        CWorkspace& workspace = program.app->GetWorkspace();
        const std::string original = workspace.GetDatabase().GetPath();
        program.Links().AddNewLink()->SetFromPage("http://127.0.0.1:9/page.html");
        program.Frame().AttachDatabase();
        QAbstractItemModel* rows = program.Frame().GetView()->GetList()->model();
        QCOMPARE(rows->rowCount(), 1);
        const auto choose = [&program](const QString& path, QMessageBox::StandardButton answer) {
            bool seen = false;
            WhenShown<COptionsSheet>([&](COptionsSheet* sheet) {
                seen = true;
                Child<QLineEdit>(sheet, "databaseEdit")->setText(path);
                sheet->accept();
            });
            TestHooks::SetNextMessageBoxAnswer(answer);
            program.Frame().GetAction(CMainFrame::Command::Options)->trigger();
            return seen ? TestHooks::TakeMessageBoxTexts() : QStringList{QStringLiteral("no options sheet")};
        };

        const QString fresh = program.home.filePath(QStringLiteral("elsewhere.orx"));
        QCOMPARE(choose(fresh, QMessageBox::No),
                 QStringList{QStringLiteral("Create a new, empty database at %1?").arg(fresh)});
        QVERIFY(!QFile::exists(fresh));
        QCOMPARE(workspace.GetDatabase().GetPath(), original);
        QVERIFY(workspace.GetOptions().GetDatabasePath() != fresh.toStdString());

        const QString nowhere = program.home.filePath(QStringLiteral("missing/folder/new.orx"));
        const QStringList shown = choose(nowhere, QMessageBox::Yes);
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown.at(1).startsWith(QStringLiteral("The database could not be created: ")),
                 qPrintable(shown.at(1)));
        QCOMPARE(workspace.GetDatabase().GetPath(), original);
        QVERIFY(workspace.GetDatabase().IsUsable());
        QVERIFY(workspace.GetOptions().GetDatabasePath() != nowhere.toStdString());
        QCOMPARE(rows->rowCount(), 1);

        QCOMPARE(choose(fresh, QMessageBox::Yes).size(), 1);
        QVERIFY(QFile::exists(fresh));
        QCOMPARE(workspace.GetDatabase().GetPath(), fresh.toStdString());
        QCOMPARE(rows->rowCount(), 0);
        QCOMPARE(CWorkspace::ReadStoredOptions(workspace.GetProgramFolder()).GetDatabasePath(), fresh.toStdString());
        CORXDatabase old;
        QVERIFY(old.Load(original));
        QCOMPARE(old.GetLinks()->GetCount(), std::size_t(1));
    }

    // "Keep check history for", "Pages checked at once" and "Requests at once to one site", set
    // from the keyboard: the older checks leave the history at once (off the window's thread),
    // the newer stay, the next run takes the new numbers, and the sheet shows them again.
    void historyAndCheckConcurrencySettingsFromTheKeyboard()
    {
        TestProgram program;
        QVERIFY(program.app);
        CWorkspace& workspace = program.app->GetWorkspace();
        std::shared_ptr<CHistoryStore> history = workspace.GetHistory();
        QVERIFY(history);
        const int64_t now = QDateTime::currentSecsSinceEpoch();
        HistoryEntry old, recent;
        old.time = now - 400 * 86400;
        recent.time = now - 300 * 86400;
        history->Record("key", old);
        history->Record("key", recent);
        history->Flush();
        QCOMPARE(history->Timeline("key").size(), std::size_t(2));
        QCOMPARE(workspace.GetHistoryMonths(), 0);

        QAction* options = program.Frame().GetAction(CMainFrame::Command::Options);
        for (const int round : {1, 2}) {
            bool seen = false;
            WhenShown<COptionsSheet>([&](COptionsSheet* sheet) {
                seen = true;
                auto* months = Child<QSpinBox>(sheet, "historyMonthsSpin");
                QCOMPARE(months->accessibleName(), QStringLiteral("Keep check history for"));
                if (round == 2) {
                    QCOMPARE(months->value(), 12);
                    QCOMPARE(Child<QSpinBox>(sheet, "checkWorkersSpin")->value(), 64);
                    sheet->reject();
                    return;
                }
                QCOMPARE(months->text(), QStringLiteral("ever"));
                QCOMPARE(Child<QSpinBox>(sheet, "checkWorkersSpin")->value(), 5);
                QCOMPARE(Child<QSpinBox>(sheet, "checkPerSiteSpin")->value(), 2);
                QCOMPARE(Child<QSpinBox>(sheet, "checkPerSiteSpin")->accessibleName(),
                         QStringLiteral("Requests at once to one site"));
                Activate(sheet);
                Press(Qt::Key_H, Qt::AltModifier);
                QCOMPARE(Focused(), QStringLiteral("historyMonthsSpin"));
                Press(Qt::Key_A, Qt::ControlModifier);
                Type(QStringLiteral("12"));
                Press(Qt::Key_P, Qt::AltModifier);
                QCOMPARE(Focused(), QStringLiteral("checkWorkersSpin"));
                Press(Qt::Key_A, Qt::ControlModifier);
                Type(QStringLiteral("64"));
                Press(Qt::Key_T, Qt::AltModifier);
                QCOMPARE(Focused(), QStringLiteral("checkPerSiteSpin"));
                Press(Qt::Key_A, Qt::ControlModifier);
                Type(QStringLiteral("3"));
                Press(Qt::Key_Return);
            });
            options->trigger();
            QVERIFY(seen);
            if (round == 1) {
                QCOMPARE(workspace.GetHistoryMonths(), 12);
                // The next run takes them.
                QCOMPARE(GetCheckSettings().workers, 64);
                QCOMPARE(GetCheckSettings().perSite, 3);
                history->Flush(); // the purge is queued behind what was queued before
                QCOMPARE(history->Timeline("key"), std::vector<HistoryEntry>{recent});
            }
        }
    }
};

QTEST_MAIN(OptionsTest)
#include "OptionsTest.moc"
