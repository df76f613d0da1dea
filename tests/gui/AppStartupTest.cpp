// Start-up and exit of the application object as a user meets them: first start, damaged or
// missing database, the update offer, a second start, and the command line.
#include "app/CommandLine.h"
#include "app/ORXApp.h"
#include "checking/CheckRuns.h"
#include "fakes/FakeServers.h"
#include "mainwnd/MainFrame.h"
#include "platform/SettingsStore.h"
#include "storage/ORXDatabase.h"
#include "widgets/MessageBox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

const QString kImportQuestion = QStringLiteral("Would you like to import your data from Excel document?");
const QString kCorrupted = QStringLiteral("Database file is corrupted.");
const QString kUpdateQuestion = QStringLiteral("The new version of Orvex is available. Update now?");

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

int Mode(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

} // namespace

class AppStartupTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QString m_folder;

    QString File(const char* name) const { return m_folder + QLatin1String(name); }

    // A first start, the import declined: leaves "ORX.cfg" and an empty database behind.
    void StartAndExit()
    {
        MessageBox::SetNextAnswer(QMessageBox::No);
        CORXApp app(false);
        QVERIFY(app.InitInstance());
        app.ExitInstance();
        MessageBox::ResetTestHooks();
    }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        m_folder = m_home->path() + QStringLiteral("/home/");
        qputenv("ORVEX_HOME", QFile::encodeName(m_folder));
        QSettings(QStringLiteral("Tessel Development"), QStringLiteral("Orvex")).clear();
        MessageBox::ResetTestHooks();
    }

    void firstStartAsksForImportAndHintsOnceAtTheNextStart()
    {
        {
            MessageBox::SetNextAnswer(QMessageBox::No);
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QCOMPARE(MessageBox::TakeShownTexts(), QStringList{kImportQuestion});
            QVERIFY(app.GetMainFrame());
            QCOMPARE(app.GetMainFrame()->windowTitle(), QStringLiteral("Orvex 2.0"));
            QVERIFY(!app.GetMainFrame()->WasImportHintShown());
            QCOMPARE(app.ExitInstance(), 0);
        }
        QCOMPARE(Mode(File("ORX.cfg")), 0600);
        QCOMPARE(Mode(File("data.orx")), 0600);
        QVERIFY(ReadAll(File("data.orx")).startsWith("ORX"));
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(MessageBox::TakeShownTexts().isEmpty());
            QVERIFY(app.GetMainFrame()->WasImportHintShown());
            app.ExitInstance();
        }
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(!app.GetMainFrame()->WasImportHintShown());
            app.ExitInstance();
        }
    }

    void damagedDatabaseIsNeverSavedOverWithoutYes()
    {
        StartAndExit();
        const QByteArray garbage("ORX\xff\xff\x01\x00\x05\x00Bogus and more", 26);
        WriteAll(File("data.orx"), garbage);
        QFile::remove(File("data.orx.bak"));

        MessageBox::SetNextAnswer(QMessageBox::No);
        {
            CORXApp app(false);
            QVERIFY(!app.InitInstance());
            app.ExitInstance();
        }
        const QStringList asked = MessageBox::TakeShownTexts();
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked[0].startsWith(kCorrupted));
        QVERIFY(asked[0].contains(File("data.orx")));
        QCOMPARE(ReadAll(File("data.orx")), garbage);
        QVERIFY(!QFile::exists(File("data.orx.bak")));

        MessageBox::SetNextAnswer(QMessageBox::Yes);
        MessageBox::SetNextAnswer(QMessageBox::Ok);
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(app.GetDatabase().IsUsable());
            app.ExitInstance();
        }
        const QStringList kept = QDir(m_folder).entryList({QStringLiteral("data.orx.damaged-*")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(ReadAll(m_folder + kept[0]), garbage);
        CORXDatabase reread;
        QVERIFY(reread.Load(File("data.orx").toStdString()));
    }

    void damagedSettingsAreNeverSavedOverWithoutYes()
    {
        StartAndExit();
        const QByteArray whole = ReadAll(File("ORX.cfg"));
        const QByteArray cut = whole.left(whole.size() - 10);
        WriteAll(File("ORX.cfg"), cut);
        QFile::remove(File("ORX.cfg.bak"));

        for (int start = 0; start < 2; ++start) {
            MessageBox::SetNextAnswer(QMessageBox::No);
            CORXApp app(false);
            QVERIFY(!app.InitInstance());
            QCOMPARE(app.GetExitCode(), 0);
            app.ExitInstance();
            const QStringList asked = MessageBox::TakeShownTexts();
            QCOMPARE(asked.size(), 1);
            QVERIFY(asked[0].contains(File("ORX.cfg")));
            QCOMPARE(ReadAll(File("ORX.cfg")), cut);
            QVERIFY(!QFile::exists(File("ORX.cfg.bak")));
        }

        MessageBox::SetNextAnswer(QMessageBox::Yes);
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QCOMPARE(app.GetOptions().GetSmtpPort(), 25); // the defaults
            app.ExitInstance();
        }
        const QStringList kept = QDir(m_folder).entryList({QStringLiteral("ORX.cfg.damaged-*")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(ReadAll(m_folder + kept[0]), cut);
        QVERIFY(ReadAll(File("ORX.cfg")).size() > 0);
        QVERIFY(ReadAll(File("ORX.cfg")) != cut);
    }

    void databaseInUseByAnotherFolderIsRefused()
    {
        StartAndExit();
        // A second program folder whose settings name the first one's database.
        const QString other = m_home->path() + QStringLiteral("/other/");
        QVERIFY(QDir().mkpath(other));
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            qputenv("ORVEX_HOME", QFile::encodeName(other));
            MessageBox::SetNextAnswer(QMessageBox::No);
            CORXApp second(false);
            QVERIFY(second.InitInstance());
            second.GetOptions().SetDatabasePath(File("data.orx").toStdString());
            MessageBox::TakeShownTexts();
            // The first holds the database: the second can neither switch to it nor start on it.
            QVERIFY(!second.ApplyDatabasePath());
            QVERIFY(second.IsDatabaseInUse());
            QCOMPARE(second.GetDatabase().GetPath(), (other + QStringLiteral("data.orx")).toStdString());
            QVERIFY(second.SaveConfig());
            second.ExitInstance();
            qputenv("ORVEX_HOME", QFile::encodeName(m_folder));
            app.ExitInstance();
        }
        const QByteArray before = ReadAll(File("data.orx"));
        CORXApp first(false);
        QVERIFY(first.InitInstance());
        qputenv("ORVEX_HOME", QFile::encodeName(other));
        {
            CORXApp second(false);
            QVERIFY(!second.InitInstance());
            QCOMPARE(second.GetExitCode(), 1);
            const QStringList shown = MessageBox::TakeShownTexts();
            QCOMPARE(shown.size(), 1);
            QVERIFY(shown[0].contains(QStringLiteral("in use by another running Orvex")));
            QVERIFY(shown[0].contains(File("data.orx")));
            second.ExitInstance();
        }
        qputenv("ORVEX_HOME", QFile::encodeName(m_folder));
        QCOMPARE(ReadAll(File("data.orx")), before);
        first.ExitInstance();
    }

    void missingDatabaseAfterFirstStartIsReported()
    {
        StartAndExit();
        QVERIFY(QFile::remove(File("data.orx")));
        CORXApp app(false);
        QVERIFY(app.InitInstance());
        QCOMPARE(MessageBox::TakeShownTexts(), QStringList{kCorrupted});
        app.ExitInstance();
        QVERIFY(QFile::exists(File("data.orx")));
    }

    void updateIsOfferedOnlyAfterTenDays_data()
    {
        QTest::addColumn<double>("daysAgo");
        QTest::addColumn<bool>("offered");
        QTest::newRow("10 days and an hour") << 10.0 + 1.0 / 24 << true;
        QTest::newRow("9 days") << 9.0 << false;
    }

    void updateIsOfferedOnlyAfterTenDays()
    {
        QFETCH(double, daysAgo);
        QFETCH(bool, offered);
        StartAndExit();
        auto store = OpenSettingsStore();
        store->SetInt(SettingsNames::kRootSection, SettingsNames::kUpdateFound, 1);
        const OleDateTime shown = OleDateTime::Now() - OleDateTimeSpan(daysAgo);
        const auto bytes = ToSystemTimeBytes(shown);
        store->SetBinary(SettingsNames::kRootSection, SettingsNames::kUpdateLastShow,
                         std::vector<uint8_t>(bytes.begin(), bytes.end()));
        store->Sync();

        MessageBox::SetNextAnswer(QMessageBox::No);
        CORXApp app(false);
        QVERIFY(app.InitInstance());
        QCOMPARE(MessageBox::TakeShownTexts().contains(kUpdateQuestion), offered);
        app.ExitInstance();

        // Declining moves the next offer ten days on; no offer leaves the date alone.
        const auto stored = OpenSettingsStore()->GetBinary(SettingsNames::kRootSection, SettingsNames::kUpdateLastShow);
        QVERIFY(stored && stored->size() == 16);
        const double age = (OleDateTime::Now() - FromSystemTimeBytes(stored->data(), 16)).GetDays();
        if (offered)
            QVERIFY(age < 0.01);
        else
            QVERIFY(qAbs(age - daysAgo) < 0.01);
    }

    void updateLookupAsksTheServerAndRemembersTheAnswer()
    {
        StartAndExit();
        QTemporaryDir www;
        QDir(www.path()).mkpath(QStringLiteral("default/downloads"));
        WriteAll(www.path() + QStringLiteral("/default/downloads/orx21.exe"), "new version");
        fakes::FakeHttpServer server;
        server.Start(www.path().toStdString());
        const std::string host = "127.0.0.1:" + std::to_string(server.HttpPort());

        auto store = OpenSettingsStore();
        store->SetString(SettingsNames::kRootSection, SettingsNames::kUpdateHost, host + "/elsewhere");
        store->Sync();
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(app.IsUpdateLookDue());
            app.LookForUpdate(); // nothing at that address
            QCOMPARE(app.UpdateFound.load(), 0);
            QVERIFY(!app.IsUpdateLookDue()); // looked just now
            app.ExitInstance();
        }
        store->SetString(SettingsNames::kRootSection, SettingsNames::kUpdateHost, host);
        store->SetBinary(SettingsNames::kRootSection, SettingsNames::kUpdateLastLook, {});
        store->Sync();
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(app.IsUpdateLookDue());
            app.StartUpdateLookupIfDue(); // on a thread of its own, as beside a check run
            app.WaitForUpdateLookup();
            QCOMPARE(app.UpdateFound.load(), 1);
            app.StartUpdateLookupIfDue(); // found: no second look
            app.WaitForUpdateLookup();
            app.ExitInstance();
        }
        QCOMPARE(OpenSettingsStore()->GetInt(SettingsNames::kRootSection, SettingsNames::kUpdateFound), 1);
        QCOMPARE(server.CountRequests("/downloads/orx21.exe"), std::size_t(1));
    }

    void secondStartHandsOverAndSavesNothing()
    {
        StartAndExit();
        CORXApp app(false);
        QVERIFY(app.InitInstance());
        const QByteArray before = ReadAll(File("data.orx"));
        const QDateTime modified = QFileInfo(File("data.orx")).lastModified();

        // The window must answer while the second copy waits, so the wait runs the event loop.
        QProcess check;
        check.start(QStringLiteral(ORVEX_BINARY), {QStringLiteral("/Check"), QStringLiteral("--verbose")});
        QTRY_VERIFY_WITH_TIMEOUT(check.state() == QProcess::NotRunning, 15000);
        QCOMPARE(check.exitCode(), 0);
        QVERIFY(check.readAllStandardOutput().contains("took the check over"));
        QTRY_COMPARE(app.GetMainFrame()->GetCheckAllRequests(), 1);
        QTRY_VERIFY(!app.GetMainFrame()->IsScheduledRunActive());

        QProcess plain;
        plain.start(QStringLiteral(ORVEX_BINARY), {});
        QTRY_VERIFY_WITH_TIMEOUT(plain.state() == QProcess::NotRunning, 15000);
        QCOMPARE(plain.exitCode(), 0);
        QTest::qWait(200);
        QCOMPARE(app.GetMainFrame()->GetCheckAllRequests(), 1);

        // While the user's own check holds the links the window says no, and the cron job hears it.
        {
            const CCheckRun usersOwnCheck(std::vector<CLink*>{});
            QProcess busy;
            busy.start(QStringLiteral(ORVEX_BINARY), {QStringLiteral("/check"), QStringLiteral("--verbose")});
            QTRY_VERIFY_WITH_TIMEOUT(busy.state() == QProcess::NotRunning, 15000);
            QCOMPARE(busy.exitCode(), 1);
            QVERIFY(busy.readAllStandardError().contains("another Orvex is running on this folder"));
            QVERIFY(busy.readAllStandardOutput().isEmpty());
        }
        QCOMPARE(app.GetMainFrame()->GetCheckAllRequests(), 2);
        QVERIFY(!app.GetMainFrame()->IsScheduledRunActive());

        QCOMPARE(ReadAll(File("data.orx")), before);
        QCOMPARE(QFileInfo(File("data.orx")).lastModified(), modified);
        app.ExitInstance();
    }

    void commandLineSelectsTheRunMode()
    {
        using Args = std::vector<std::string>;
        QVERIFY(ParseCommandLine(Args{"/CHECK"}).checkMode);
        QVERIFY(ParseCommandLine(Args{"foo", "/Check", "bar"}).checkMode);
        QVERIFY(ParseCommandLine(Args{"x/checky"}).checkMode);
        QVERIFY(!ParseCommandLine(Args{"/chec"}).checkMode);
        QVERIFY(!ParseCommandLine(Args{}).checkMode);
        QCOMPARE(ParseCommandLine(Args{"/check", "--help"}).action, CommandLine::Action::Help);
        QCOMPARE(ParseCommandLine(Args{"--version"}).action, CommandLine::Action::Version);
        QCOMPARE(ParseCommandLine(Args{"--frobnicate"}).action, CommandLine::Action::Error);
        QVERIFY(QString::fromStdString(VersionText()).startsWith(QStringLiteral("Orvex 2.0")));
    }
};

QTEST_MAIN(AppStartupTest)
#include "AppStartupTest.moc"
