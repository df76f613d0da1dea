// Start-up and exit of the application object as a user meets them: first start, damaged or
// missing database, the update offer, a second start, and the command line.
#include "app/ORXApp.h"
#include "cli/CommandLine.h"
#include "cli/ExchangeCommands.h"
#include "core/platform/SettingsStore.h"
#include "core/records/Link.h"
#include "core/records/Partner.h"
#include "core/runs/CheckRuns.h"
#include "core/storage/ORXDatabase.h"
#include "fakes/FakeServers.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/widgets/DialogFields.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
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
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        CORXApp app(false);
        QVERIFY(app.InitInstance());
        app.ExitInstance();
        TestHooks::AnswerDialogsWithoutUser();
    }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        m_folder = m_home->path() + QStringLiteral("/home/");
        qputenv("ORVEX_HOME", QFile::encodeName(m_folder));
        QSettings(QStringLiteral("Tessel Development"), QStringLiteral("Orvex")).clear();
        TestHooks::AnswerDialogsWithoutUser();
    }

    void firstStartAsksForImportAndHintsOnceAtTheNextStart()
    {
        {
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{kImportQuestion});
            QVERIFY(app.GetMainFrame());
            QCOMPARE(app.GetMainFrame()->windowTitle(), QStringLiteral("Orvex 2.0"));
            // The desktop entry of an installation is named after this id.
            QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("com.example.orvex"));
            QVERIFY(!app.GetMainFrame()->WasImportHintShown());
            QCOMPARE(app.ExitInstance(), 0);
        }
        QCOMPARE(Mode(File("ORX.cfg")), 0600);
        QCOMPARE(Mode(File("data.orx")), 0600);
        QVERIFY(ReadAll(File("data.orx")).startsWith("ORX"));
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(TestHooks::TakeMessageBoxTexts().isEmpty());
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

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        {
            CORXApp app(false);
            QVERIFY(!app.InitInstance());
            app.ExitInstance();
        }
        const QStringList asked = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked[0].startsWith(kCorrupted));
        QVERIFY(asked[0].contains(File("data.orx")));
        QCOMPARE(ReadAll(File("data.orx")), garbage);
        QVERIFY(!QFile::exists(File("data.orx.bak")));

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Ok);
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(app.GetWorkspace().GetDatabase().IsUsable());
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
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
            CORXApp app(false);
            QVERIFY(!app.InitInstance());
            QCOMPARE(app.GetExitCode(), 0);
            app.ExitInstance();
            const QStringList asked = TestHooks::TakeMessageBoxTexts();
            QCOMPARE(asked.size(), 1);
            QVERIFY(asked[0].contains(File("ORX.cfg")));
            QCOMPARE(ReadAll(File("ORX.cfg")), cut);
            QVERIFY(!QFile::exists(File("ORX.cfg.bak")));
        }

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QCOMPARE(app.GetWorkspace().GetOptions().GetSmtpPort(), 25); // the defaults
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
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
            CORXApp second(false);
            QVERIFY(second.InitInstance());
            second.GetWorkspace().GetOptions().SetDatabasePath(File("data.orx").toStdString());
            TestHooks::TakeMessageBoxTexts();
            // The first holds the database: the second can neither switch to it nor start on it.
            QVERIFY(!second.GetWorkspace().ApplyDatabasePath());
            QVERIFY(second.GetWorkspace().IsDatabaseInUse());
            QCOMPARE(second.GetWorkspace().GetDatabase().GetPath(), (other + QStringLiteral("data.orx")).toStdString());
            QVERIFY(second.GetWorkspace().SaveConfig());
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
            const QStringList shown = TestHooks::TakeMessageBoxTexts();
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
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{kCorrupted});
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

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        CORXApp app(false);
        QVERIFY(app.InitInstance());
        QCOMPARE(TestHooks::TakeMessageBoxTexts().contains(kUpdateQuestion), offered);
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
            QVERIFY(app.GetWorkspace().IsUpdateLookDue());
            app.GetWorkspace().LookForUpdate(); // nothing at that address
            QCOMPARE(app.GetWorkspace().UpdateFound.load(), 0);
            QVERIFY(!app.GetWorkspace().IsUpdateLookDue()); // looked just now
            app.ExitInstance();
        }
        store->SetString(SettingsNames::kRootSection, SettingsNames::kUpdateHost, host);
        store->SetBinary(SettingsNames::kRootSection, SettingsNames::kUpdateLastLook, {});
        store->Sync();
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QVERIFY(app.GetWorkspace().IsUpdateLookDue());
            app.GetWorkspace().StartUpdateLookupIfDue(); // on a thread of its own, as beside a check run
            app.GetWorkspace().WaitForUpdateLookup();
            QCOMPARE(app.GetWorkspace().UpdateFound.load(), 1);
            app.GetWorkspace().StartUpdateLookupIfDue(); // found: no second look
            app.GetWorkspace().WaitForUpdateLookup();
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

    // The first real task with the keyboard alone, through the running window: a partner, a link
    // for it, a pack of three, one edited, two group-edited, one duplicated, one renewed and one
    // deleted; then the window is closed, opened again, and the saved file read back.
    void everyEditMadeWithTheKeyboardAloneSurvivesAReopen()
    {
        StartAndExit();
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            CMainFrame* frame = app.GetMainFrame();
            QVERIFY(QTest::qWaitForWindowActive(frame));
            const auto type = [](const char* text) {
                QTest::keyClicks(QApplication::focusWidget(), QString::fromUtf8(text));
            };
            const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
                QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            };
            // `open` brings up a modal dialog and returns when it has ended; `typing` runs in it,
            // from the dialog's own event loop. A dialog the typing did not end is closed, so a
            // failure cannot hang. Then, as a window manager would, the keyboard goes back to the
            // window underneath.
            const auto inDialog = [frame](const std::function<void()>& open, const std::function<void()>& typing) {
                QWidget* const under = QApplication::activeModalWidget();
                bool typed = false;
                QTimer watch;
                watch.setInterval(10);
                QObject::connect(&watch, &QTimer::timeout, [&] {
                    QWidget* dialog = QApplication::activeModalWidget();
                    if (!dialog || dialog == under)
                        return;
                    watch.stop();
                    [&] {
                        dialog->activateWindow();
                        QTRY_VERIFY(dialog->isAncestorOf(QApplication::focusWidget()));
                        typing();
                    }();
                    // A button's mnemonic clicks it a moment later, as it is shown pressed first.
                    if (!QTest::qWaitFor([&] { return QApplication::activeModalWidget() != dialog; }))
                        dialog->close();
                    typed = true;
                });
                watch.start();
                open();
                QTRY_VERIFY(typed);
                QWidget* back = under ? under : frame;
                back->activateWindow();
                QTRY_VERIFY(back->isActiveWindow());
            };
            // A menu command by its mnemonics; a letter two entries share only moves to the first.
            const auto menu = [&](Qt::Key letter, bool shared) {
                press(Qt::Key_F, Qt::AltModifier);
                QTRY_VERIFY(QApplication::activePopupWidget());
                QTest::keyClick(QApplication::activePopupWidget(), letter);
                if (shared)
                    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
            };
            const auto listHasFocus = [] {
                return qobject_cast<CLinksListCtrl*>(QApplication::focusWidget()) != nullptr;
            };

            QStringList titles;
            inDialog([&] { press(Qt::Key_T, Qt::ControlModifier); },
                     [&] {
                         titles << QApplication::activeModalWidget()->accessibleName();
                         type("Acme Links"); // "Full name:" has the focus first
                         press(Qt::Key_Tab);
                         type("Acme Ltd");
                         press(Qt::Key_Return);
                     });
            QVERIFY(listHasFocus());
            inDialog([&] { press(Qt::Key_N, Qt::ControlModifier); },
                     [&] {
                         titles << QApplication::activeModalWidget()->accessibleName();
                         type("Garden"); // "Project:" has the focus first
                         press(Qt::Key_Tab);
                         type("http://partner.example/links.html");
                         press(Qt::Key_Tab);
                         type("http://mine.example/");
                         press(Qt::Key_Tab);
                         type("Cheap garden tools");
                         press(Qt::Key_H, Qt::AltModifier); // "Number of mont&hs:"
                         press(Qt::Key_A, Qt::ControlModifier);
                         type("1");
                         press(Qt::Key_R, Qt::AltModifier); // "Pa&rtner:"
                         type("Acme Links");
                         press(Qt::Key_Return);
                     });
            QCOMPARE(frame->GetView()->GetRowCount(), 1);

            inDialog([&] { menu(Qt::Key_P, true); }, // "Add &Pack..."
                     [&] {
                         titles << QApplication::activeModalWidget()->accessibleName();
                         type("A"); // "Choose Partner:" has the focus first and finds by the first letter
                         for (const char* project : {"Pack A", "Pack B", "Pack C"})
                             inDialog([&] { press(Qt::Key_A, Qt::AltModifier); }, // "&Add Link..."
                                      [&] {
                                          type(project);
                                          press(Qt::Key_Tab);
                                          type("http://partner.example/more.html");
                                          press(Qt::Key_Tab);
                                          type("http://mine.example/shop");
                                          press(Qt::Key_Tab);
                                          type(project);
                                          press(Qt::Key_Return);
                                      });
                         press(Qt::Key_S, Qt::AltModifier); // "&Save"
                     });
            QCOMPARE(frame->GetView()->GetRowCount(), 4); // Garden, Pack A, Pack B, Pack C
            QVERIFY(listHasFocus());

            // Rows are reached as a user reading the list would: Home, then down row by row;
            // Ctrl moves without selecting and Ctrl+Space adds the row.
            const auto rowOf = [frame](const char* project, int skip = 0) {
                for (int row = 0; row < frame->GetView()->GetRowCount(); ++row)
                    if (frame->GetView()->GetLink(row)->GetProject() == project && skip-- == 0)
                        return row;
                return -1;
            };
            const auto select = [&](const char* project) {
                const int row = rowOf(project);
                press(Qt::Key_Home);
                press(Qt::Key_Space); // the row with the focus may already be the first
                for (int i = 0; i < row; ++i)
                    press(Qt::Key_Down);
                QVERIFY(row >= 0 && frame->GetView()->GetSelectedRows() == std::vector<int>{row});
            };
            const auto alsoSelect = [&](const char* project) {
                const int from = frame->GetView()->GetList()->currentIndex().row();
                const int to = rowOf(project);
                for (int i = from; i != to; i += to > from ? 1 : -1)
                    press(to > from ? Qt::Key_Down : Qt::Key_Up, Qt::ControlModifier);
                press(Qt::Key_Space, Qt::ControlModifier);
            };

            select("Garden");
            inDialog([&] { press(Qt::Key_F2); },
                     [&] {
                         press(Qt::Key_N, Qt::AltModifier); // "A&nchor:"
                         press(Qt::Key_A, Qt::ControlModifier);
                         type("Garden tools");
                         press(Qt::Key_Return);
                     });
            select("Pack A");
            alsoSelect("Pack B");
            QCOMPARE(frame->GetView()->GetSelectedRows().size(), std::size_t(2));
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes); // only partner and dates change for all
            inDialog([&] { press(Qt::Key_F2); },
                     [&] {
                         titles << QApplication::activeModalWidget()->accessibleName();
                         press(Qt::Key_M, Qt::AltModifier); // "Number of &months:"
                         press(Qt::Key_A, Qt::ControlModifier);
                         type("3");
                         press(Qt::Key_S, Qt::AltModifier);
                     });
            select("Garden");
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
            menu(Qt::Key_D, true); // "&Duplicate" (shares its letter with "&Delete")
            QCOMPARE(frame->GetView()->GetRowCount(), 5);
            QVERIFY(rowOf("Garden", 1) >= 0);
            select("Garden");
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
            menu(Qt::Key_R, false); // "&Renew Links"
            select("Pack C");
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
            press(Qt::Key_Delete);
            QCOMPARE(TestHooks::TakeMessageBoxTexts().size(), 4); // group editing, duplicating, renewing, deleting
            QCOMPARE(frame->GetView()->GetRowCount(), 4);
            QCOMPARE(titles, QStringList({QStringLiteral("Partner properties"), QStringLiteral("Link properties"),
                                          QStringLiteral("Links properties"), QStringLiteral("Links properties")}));
            QVERIFY(frame->close());
            QCOMPARE(app.ExitInstance(), 0);
        }
        {
            CORXApp app(false);
            QVERIFY(app.InitInstance());
            QCOMPARE(app.GetMainFrame()->GetView()->GetRowCount(), 4);
            QVERIFY(app.GetMainFrame()->close());
            QCOMPARE(app.ExitInstance(), 0);
        }
        CORXDatabase saved;
        QVERIFY(saved.Load(File("data.orx").toStdString()));
        QCOMPARE(saved.GetPartners()->GetCount(), std::size_t(1));
        const CPartner* partner = saved.GetPartners()->GetPartners().front();
        QCOMPARE(partner->GetName(), std::string("Acme Links"));
        QCOMPARE(partner->GetOrganization(), std::string("Acme Ltd"));
        QStringList found;
        int renewed = 0;
        for (const CLink* link : saved.GetLinks()->GetLinks()) {
            QCOMPARE(link->GetPartnerId(), partner->GetId());
            const QDate paid = ToQDate(link->GetLastPaymentDate());
            int months = 0; // whole months paid for, or -1 when the expiry is not a whole number
            while (months <= 12 && paid.addMonths(months) != ToQDate(link->GetExpiryDate()))
                ++months;
            renewed += paid != ToQDate(link->GetFirstPaymentDate()) ? 1 : 0;
            found << QString::fromStdString(link->GetProject() + "|" + link->GetAnchor() + "|" + link->GetFromPage()) +
                         QStringLiteral("|%1").arg(months <= 12 ? months : -1);
        }
        found.sort();
        QCOMPARE(found, QStringList({QStringLiteral("Garden|Garden tools|http://partner.example/links.html|1"),
                                     QStringLiteral("Garden|Garden tools|http://partner.example/links.html|1"),
                                     QStringLiteral("Pack A|Pack A|http://partner.example/more.html|3"),
                                     QStringLiteral("Pack B|Pack B|http://partner.example/more.html|3")}));
        QCOMPARE(renewed, 1); // only the one selected, and by its own month
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

        // The spreadsheet commands take their file first; their options may come in any order.
        const CommandLine exported = ParseCommandLine(Args{"--export", "out.xlsx"});
        QCOMPARE(exported.action, CommandLine::Action::Export);
        QCOMPARE(exported.file, std::string("out.xlsx"));
        QCOMPARE(ParseCommandLine(Args{"--export"}).action, CommandLine::Action::Error);
        QCOMPARE(ParseCommandLine(Args{"--export", "a.txt", "b.txt"}).action, CommandLine::Action::Error);
        const CommandLine imported =
            ParseCommandLine(Args{"--import", "deals.ods", "--dry-run", "--columns", "A=Anchor", "--sheet", "2"});
        QCOMPARE(imported.action, CommandLine::Action::Import);
        QCOMPARE(imported.file + "|" + imported.columns + "|" + imported.sheet, std::string("deals.ods|A=Anchor|2"));
        QVERIFY(imported.dryRun);
        QCOMPARE(ParseCommandLine(Args{"--import"}).action, CommandLine::Action::Error);
        QCOMPARE(ParseCommandLine(Args{"--import", "a.csv", "--sheet"}).action, CommandLine::Action::Error);
        QCOMPARE(ParseCommandLine(Args{"--import", "a.csv", "--frobnicate"}).action, CommandLine::Action::Error);
        const CommandLine busy = ParseCommandLine(Args{"/check", "--check-workers", "64", "--verbose"});
        QVERIFY(busy.checkMode && busy.verbose);
        QCOMPARE(busy.checkWorkers, 64);
        for (const Args& bad : {Args{"/check", "--check-workers"}, Args{"/check", "--check-workers", "0"},
                                Args{"/check", "--check-workers", "65"}, Args{"/check", "--check-workers", "x"}})
            QCOMPARE(ParseCommandLine(bad).action, CommandLine::Action::Error);
        const CommandLine purge = ParseCommandLine(Args{"--purge-history", "1200"});
        QCOMPARE(purge.action, CommandLine::Action::PurgeHistory);
        QCOMPARE(purge.months, 1200);
        for (const Args& bad :
             {Args{"--purge-history"}, Args{"--purge-history", "0"}, Args{"--purge-history", "1201"},
              Args{"--purge-history", "-3"}, Args{"--purge-history", "12x"}, Args{"--purge-history", "12", "13"}})
            QCOMPARE(ParseCommandLine(bad).action, CommandLine::Action::Error);
    }

    void columnSpecsNameEveryColumnType()
    {
        std::string error;
        // Every type by its menu name, in another letter case, on a column of its own.
        std::string spec;
        ColumnTypes expected{};
        for (int type = 1; type < kImportColumnTypes; ++type) {
            spec += std::string(spec.empty() ? "" : ", ") + static_cast<char>('a' + type - 1) + " = " +
                    QString::fromUtf8(ImportColumnName(type)).toUpper().toStdString();
            expected[static_cast<std::size_t>(type - 1)] = type;
        }
        const std::optional<ColumnTypes> all = ParseColumnSpec(spec, &error);
        QVERIFY2(all, error.c_str());
        QVERIFY(*all == expected);
        QVERIFY(ParseColumnSpec(FormatColumnSpec(expected), &error) == expected);

        const std::optional<ColumnTypes> some = ParseColumnSpec("B=From page,D=Partner name", &error);
        QVERIFY(some);
        QCOMPARE(FormatColumnSpec(*some), std::string("B=From page,D=Partner name"));
        for (const char* bad : {"Q=Anchor", "A", "AB=Anchor", "A=Anchors", "A=Anchor,C=anchor"}) {
            error.clear();
            QVERIFY2(!ParseColumnSpec(bad, &error), bad);
            QVERIFY2(!error.empty(), bad);
        }
    }
};

QTEST_MAIN(AppStartupTest)
#include "AppStartupTest.moc"
