// The link dialogs and commands as a user drives them: dates and months, both cost modes, Cancel,
// partners typed in, the dates of a renewed link, the pack and group dialogs, Duplicate and Renew,
// "S&ave&&Check" and "Check now" against servers of this process, labels, tab order and the
// keyboard alone.
#include "DialogTesting.h"
#include "core/fetch/CheckSettings.h"
#include "core/history/CheckHistory.h"
#include "core/history/HistoryStore.h"
#include "core/records/LinkStatus.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/storage/Archive.h"
#include "gui/editing/LinkCommands.h"
#include "gui/editing/LinkPropertiesDlg.h"
#include "gui/editing/LinksPackDlg.h"
#include "gui/widgets/DialogFields.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <map>

namespace {

std::string Serialized(CLink& link)
{
    std::string bytes;
    CArchive ar = CArchive::ForStoring(
        [&bytes](const uint8_t* data, std::size_t size) { bytes.append(reinterpret_cast<const char*>(data), size); });
    link.Serialize(ar);
    ar.Flush();
    return bytes;
}

// A web server on 127.0.0.1 served by this thread's event loop: it can only answer while the
// window's loop keeps running. Unknown paths answer 404 (robots.txt among them).
class CLocalWeb : public QObject
{
public:
    explicit CLocalWeb(int delayMs = 0) : m_delayMs(delayMs)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                Serve(socket);
        });
    }
    void Route(const QByteArray& path, const QByteArray& body) { m_routes[path] = body; }
    QString HostPort() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }
    QString Url(const char* path) const { return QStringLiteral("http://") + HostPort() + QLatin1String(path); }
    QByteArrayList m_paths;
    std::function<void()> m_onRequest;

private:
    void Serve(QTcpSocket* socket)
    {
        auto received = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            *received += socket->readAll();
            if (!received->contains("\r\n\r\n"))
                return;
            const QByteArray path = received->split(' ').value(1).split('?').value(0);
            received->clear();
            m_paths << path;
            if (m_onRequest)
                m_onRequest();
            QTimer::singleShot(m_delayMs, socket, [this, socket, path] {
                const auto route = m_routes.find(path);
                const QByteArray body = route == m_routes.end() ? QByteArray("missing") : route->second;
                socket->write((route == m_routes.end() ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n") +
                              QByteArray("Content-Type: text/html\r\nConnection: close\r\nContent-Length: ") +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
    }

    QTcpServer m_server;
    int m_delayMs;
    std::map<QByteArray, QByteArray> m_routes;
};

} // namespace

class LinkEditingTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CPartnersManager> m_partners;
    std::unique_ptr<CLinksManager> m_links;
    CPartner* m_acme = nullptr;
    CheckSettings m_savedSettings;

    LinkCommandContext Ctx()
    {
        return {*m_partners, *m_links, nullptr, [this] { m_partners->AddPartner("From the partner dialog"); }};
    }

    // A link of Acme, checked Ok, whose paid period runs from a month ago for a year.
    CLink* AddCheckedLink(const char* from = "http://partner.example/links.html")
    {
        CLink* link = m_links->AddNewLink();
        link->SetPartnerId(m_acme->GetId());
        const OleDateTime start = ToOleDate(QDate::currentDate().addMonths(-1));
        link->SetFirstPaymentDate(start);
        link->SetLastPaymentDate(start);
        link->SetPeriod(OleDateTimeSpan(366.0));
        link->SetProject("Shop");
        link->SetFromPage(from);
        link->SetToPage("http://mine.example/");
        link->SetAnchor("Best shop");
        link->SetStatus(StatusOk);
        return link;
    }

private slots:
    void initTestCase()
    {
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            qunsetenv(name);
        m_savedSettings = GetCheckSettings();
    }

    void init()
    {
        TestHooks::AnswerDialogsWithoutUser();
        m_partners = std::make_unique<CPartnersManager>();
        m_links = std::make_unique<CLinksManager>();
        m_acme = m_partners->AddPartner("Acme");
        m_acme->SetEmail("sales@acme.example");
        CheckSettings settings;
        settings.connectTimeoutSeconds = 5;
        settings.requestTimeoutSeconds = 10;
        SetCheckSettings(settings);
    }

    void cleanup() { SetCheckSettings(m_savedSettings); }

    // --- "Link properties": values -----------------------------------------------------------

    void monthsFollowTheCalendar()
    {
        CLinksPropertiesDlg dialog(*m_partners, *m_links, nullptr, false, {});
        auto* start = Child<QDateEdit>(&dialog, "dteStart");
        auto* end = Child<QDateEdit>(&dialog, "dteEnd");
        auto* months = Child<QSpinBox>(&dialog, "spnMonths");
        QVERIFY(!end->isEnabled());
        QVERIFY(Child(&dialog, "btnSaveAndCheck")->isEnabled()); // a new link is never checked

        start->setDate(QDate(2023, 1, 31));
        months->setValue(1);
        QCOMPARE(end->date(), QDate(2023, 2, 28));
        QCOMPARE(months->value(), 1);
        CLink link;
        dialog.StoreInto(link);
        QCOMPARE(ToQDate(link.GetFirstPaymentDate()), QDate(2023, 1, 31));
        QCOMPARE(ToQDate(link.GetLastPaymentDate()), QDate(2023, 1, 31));
        QCOMPARE(ToQDate(link.GetExpiryDate()), QDate(2023, 2, 28));

        start->setDate(QDate(2024, 1, 31)); // a leap year
        QCOMPARE(end->date(), QDate(2024, 2, 29));

        months->setValue(0);
        QCOMPARE(end->date(), start->date());
        dialog.StoreInto(link);
        QCOMPARE(link.GetPeriod().GetDays(), 0.0);
        QCOMPARE(ToQDate(link.GetExpiryDate()), QDate(2024, 1, 31));

        // "Never expires": no months, no end, one payment; unticked, the months come back.
        months->setValue(3);
        auto* never = Child<QCheckBox>(&dialog, "chkNeverExpires");
        auto* perMonth = Child<QRadioButton>(&dialog, "radCostPerMonth");
        never->click();
        QVERIFY(!months->isEnabled());
        QCOMPARE(end->text(), QStringLiteral("Never"));
        QVERIFY(!perMonth->isEnabled() && Child<QRadioButton>(&dialog, "radCostPerPeriod")->isChecked());
        Child<QLineEdit>(&dialog, "edtCostPerPeriod")->setText(QStringLiteral("250"));
        dialog.StoreInto(link);
        QVERIFY(link.IsPermanent());
        QCOMPARE(ToQDate(link.GetLastPaymentDate()), QDate(2024, 1, 31));
        QCOMPARE(link.GetCostPerPeriod(), 250);
        never->click();
        QVERIFY(months->isEnabled() && perMonth->isEnabled());
        QCOMPARE(end->date(), QDate(2024, 4, 30));
        dialog.StoreInto(link);
        QVERIFY(!link.IsPermanent());
        QCOMPARE(ToQDate(link.GetExpiryDate()), QDate(2024, 4, 30));

        // A permanent deal opens as one, its one payment shown whichever figure holds it; saved
        // untouched it stays permanent, and unticked it gets an ordinary year.
        link.MakePermanent();
        link.SetCostMode(0);
        link.SetCostPerMonthValue(90);
        CLinksPropertiesDlg edit(*m_partners, *m_links, &link, false, {});
        QVERIFY(Child<QCheckBox>(&edit, "chkNeverExpires")->isChecked());
        QCOMPARE(Child<QDateEdit>(&edit, "dteEnd")->text(), QStringLiteral("Never"));
        QVERIFY(Child<QRadioButton>(&edit, "radCostPerPeriod")->isChecked());
        QCOMPARE(Child<QLineEdit>(&edit, "edtCostPerPeriod")->text(), QStringLiteral("90"));
        edit.StoreInto(link);
        QVERIFY(link.IsPermanent());
        QCOMPARE(link.GetCostPerPeriod(), 90);
        Child<QCheckBox>(&edit, "chkNeverExpires")->click();
        edit.StoreInto(link);
        QCOMPARE(ToQDate(link.GetExpiryDate()), QDate(2025, 1, 31));
    }

    void bothCostModesStoreTheirOwnFigure()
    {
        CLinksPropertiesDlg dialog(*m_partners, *m_links, nullptr, false, {});
        Child<QDateEdit>(&dialog, "dteStart")->setDate(QDate(2023, 1, 1));
        Child<QSpinBox>(&dialog, "spnMonths")->setValue(3);
        auto* perMonth = Child<QLineEdit>(&dialog, "edtCostPerMonth");
        auto* perPeriod = Child<QLineEdit>(&dialog, "edtCostPerPeriod");
        QVERIFY(perMonth->isEnabled() && !perPeriod->isEnabled());
        perMonth->setText(QStringLiteral("100"));
        CLink link;
        dialog.StoreInto(link);
        QCOMPARE(link.GetCostPerPeriod(), 300);
        QCOMPARE(link.GetCostPerMonth(), 100);

        Child<QRadioButton>(&dialog, "radCostPerPeriod")->click();
        QVERIFY(!perMonth->isEnabled() && perPeriod->isEnabled());
        perPeriod->setText(QStringLiteral("100"));
        dialog.StoreInto(link);
        QCOMPARE(link.GetCostMode(), 1);
        QCOMPARE(link.GetCostPerMonth(), 33);
        QCOMPARE(link.GetCostPerPeriod(), 100);
        QCOMPARE(link.GetCostPerMonthValue(), 100); // the other figure keeps its value

        // Only whole amounts: a fraction stays as typed, with the hint, and is never saved as the
        // digits run together (12.50 is not 1250); letters do not go in at all.
        auto* hint = Child<QLabel>(&dialog, "lblWholeAmounts");
        QVERIFY(!hint->isVisibleTo(&dialog));
        perPeriod->clear();
        QTest::keyClicks(perPeriod, QStringLiteral("12x.50"));
        QCOMPARE(perPeriod->text(), QStringLiteral("12.50"));
        QVERIFY(hint->isVisibleTo(&dialog));
        QVERIFY(hint->text().contains(QStringLiteral("Whole amounts")));
        Child<QComboBox>(&dialog, "cboPartner")->setEditText(QStringLiteral("Acme"));
        Child<QComboBox>(&dialog, "cboAnchor")->setEditText(QStringLiteral("Best shop"));
        Child<QPushButton>(&dialog, "btnSave")->click();
        const QStringList refused = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(refused.size(), 1);
        QVERIFY2(refused.front().contains(QStringLiteral("whole amounts")), qPrintable(refused.front()));
        QCOMPARE(dialog.result(), 0); // still open
        dialog.StoreInto(link);
        QCOMPARE(link.GetCostPerPeriod(), 100);
        perPeriod->setText(QStringLiteral("12"));
        QVERIFY(!hint->isVisibleTo(&dialog));
        QTest::keyClicks(perPeriod, QStringLiteral("99999999999"));
        QCOMPARE(perPeriod->text(), QStringLiteral("1299999999")); // no more than the record keeps
    }

    // --- Edit through the command ----------------------------------------------------------

    void cancelLeavesTheLinkAsItWas()
    {
        CLink* link = AddCheckedLink();
        const std::string before = Serialized(*link);
        bool untouchedWhileOpen = false;
        WhenShown<CLinksPropertiesDlg>([&](CLinksPropertiesDlg* dialog) {
            auto* saveAndCheck = Child(dialog, "btnSaveAndCheck");
            auto* rawLink = Child<QLineEdit>(dialog, "edtRawLink");
            QVERIFY(!saveAndCheck->isEnabled()); // checked already, nothing changed
            QCOMPARE(rawLink->text(), QStringLiteral("<a href=\"http://mine.example/\">Best shop</a>"));
            Child<QComboBox>(dialog, "cboToPage")->setEditText(QStringLiteral("other.example"));
            Child<QComboBox>(dialog, "cboAnchor")->setEditText(QStringLiteral("Cheap shop"));
            Child<QPlainTextEdit>(dialog, "edtComment")->setPlainText(QStringLiteral("changed"));
            QCOMPARE(rawLink->text(), QStringLiteral("<a href=\"http://other.example/\">Cheap shop</a>"));
            QVERIFY(saveAndCheck->isEnabled() && dialog->NeedsRecheck());
            untouchedWhileOpen = link->GetStatus() == StatusOk; // nothing reaches the record while the dialog is open
            Press(Qt::Key_Escape);
        });
        QVERIFY(!EditLinks(Ctx(), {link}));
        QVERIFY(untouchedWhileOpen);
        QCOMPARE(Serialized(*link), before); // the status included
    }

    void okResetsTheStatusOnlyWhenACheckedTextChanged()
    {
        CLink* link = AddCheckedLink();
        link->SetStatus(StatusExpiring); // the dates say Ok
        WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
            Child<QPlainTextEdit>(dialog, "edtComment")->setPlainText(QStringLiteral("only a comment"));
            Child<QPushButton>(dialog, "btnSave")->click();
        });
        QVERIFY(EditLinks(Ctx(), {link}));
        QCOMPARE(link->GetComment(), std::string("only a comment"));
        QCOMPARE(link->GetStatus(), uint32_t(StatusOk));

        WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
            Child<QComboBox>(dialog, "cboFromPage")->setEditText(QStringLiteral("http://other.example/"));
            Child<QPushButton>(dialog, "btnSave")->click();
        });
        QVERIFY(EditLinks(Ctx(), {link}));
        QCOMPARE(link->GetFromPage(), std::string("http://other.example/"));
        QCOMPARE(link->GetStatus(), uint32_t(StatusNone));
    }

    void editedAddressesTakeTheLinksHistoryAlong()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        CHistoryStore store(dir.filePath(QStringLiteral("data.orx.history")).toStdString());
        CLink* link = AddCheckedLink();
        const std::string oldKey = HistoryKeyOf(*link);
        HistoryEntry entry;
        entry.time = 100;
        entry.status = StatusOk;
        store.Record(oldKey, entry);
        LinkCommandContext ctx = Ctx();
        int told = 0;
        ctx.linkSaved = [&](const CLink& before, const CLink& after) {
            ++told;
            QVERIFY(MoveLinkHistory(store, before, after));
        };

        WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
            Child<QComboBox>(dialog, "cboToPage")->setEditText(QStringLiteral("http://mine.example/new.html"));
            Child<QPushButton>(dialog, "btnCancel")->click();
        });
        QVERIFY(!EditLinks(ctx, {link}));
        QCOMPARE(told, 0);

        WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
            Child<QComboBox>(dialog, "cboToPage")->setEditText(QStringLiteral("http://mine.example/new.html"));
            Child<QPushButton>(dialog, "btnSave")->click();
        });
        QVERIFY(EditLinks(ctx, {link}));
        QCOMPARE(told, 1);
        QVERIFY(HistoryKeyOf(*link) != oldKey);
        QVERIFY(store.Timeline(oldKey).empty());
        QCOMPARE(store.Timeline(HistoryKeyOf(*link)).size(), std::size_t(1));
    }

    void untouchedDatesOfARenewedLinkStay()
    {
        CLink* link = AddCheckedLink();
        link->SetFirstPaymentDate(ToOleDate(QDate(2020, 1, 1)));
        link->SetLastPaymentDate(ToOleDate(QDate(2020, 2, 1)));
        link->SetPeriod(OleDateTimeSpan(29.0)); // to 1 March 2020
        WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
            QCOMPARE(Child<QDateEdit>(dialog, "dteStart")->date(), QDate(2020, 2, 1));
            Child<QPlainTextEdit>(dialog, "edtComment")->setPlainText(QStringLiteral("renewed once"));
            Child<QPushButton>(dialog, "btnSave")->click();
        });
        QVERIFY(EditLinks(Ctx(), {link}));
        QCOMPARE(ToQDate(link->GetFirstPaymentDate()), QDate(2020, 1, 1));
        QCOMPARE(ToQDate(link->GetLastPaymentDate()), QDate(2020, 2, 1));
        QCOMPARE(link->GetPeriod().GetDays(), 29.0);

        WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
            Child<QDateEdit>(dialog, "dteStart")->setDate(QDate(2020, 3, 1));
            Child<QPushButton>(dialog, "btnSave")->click();
        });
        QVERIFY(EditLinks(Ctx(), {link}));
        QCOMPARE(ToQDate(link->GetFirstPaymentDate()), QDate(2020, 3, 1));
        QCOMPARE(ToQDate(link->GetLastPaymentDate()), QDate(2020, 3, 1));
        QCOMPARE(ToQDate(link->GetExpiryDate()), QDate(2020, 4, 1));
    }

    // --- Partners --------------------------------------------------------------------------

    void typedPartnerIsCreatedOnceWhenTheDialogIsAccepted()
    {
        bool refused = false;
        WhenShown<CLinksPropertiesDlg>([&](CLinksPropertiesDlg* dialog) {
            // The focus moves only in the window that has the keyboard, whenever the test runs.
            Activate(dialog);
            Child<QComboBox>(dialog, "cboPartner")->setEditText(QStringLiteral("Fresh Partner"));
            Child<QPushButton>(dialog, "btnSave")->click(); // no anchor yet
            refused = dialog->isVisible() && m_partners->GetCount() == 1 &&
                      TestHooks::TakeMessageBoxTexts() == QStringList{QStringLiteral("Please specify anchor")};
            QTRY_COMPARE(Focused(), QStringLiteral("cboAnchor"));
            Child<QComboBox>(dialog, "cboAnchor")->setEditText(QStringLiteral("Best shop"));
            Child<QPushButton>(dialog, "btnSave")->click();
        });
        QVERIFY(AddLink(Ctx()));
        QVERIFY(refused);
        QCOMPARE(m_partners->GetCount(), std::size_t(2));
        const CPartner* fresh = m_partners->GetPartners().back();
        QCOMPARE(fresh->GetName(), std::string("Fresh Partner"));
        QCOMPARE(m_links->GetLinks().back()->GetPartnerId(), fresh->GetId());
    }

    void emptyPartnerIsRefusedAndAddNewPartnerChoosesTheNewOne()
    {
        WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
            Child<QComboBox>(dialog, "cboAnchor")->setEditText(QStringLiteral("Best shop"));
            Child<QPushButton>(dialog, "btnSave")->click();
            QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("Please select partner")});
            Child<QPushButton>(dialog, "btnAddPartner")->click();
            QCOMPARE(Child<QComboBox>(dialog, "cboPartner")->currentText(), QStringLiteral("From the partner dialog"));
            Child<QPushButton>(dialog, "btnSave")->click();
        });
        QVERIFY(AddLink(Ctx()));
        QCOMPARE(m_partners->GetCount(), std::size_t(2));
        QCOMPARE(m_links->GetLinks().back()->GetPartnerId(), m_partners->GetPartners().back()->GetId());
    }

    // --- Checks on a worker ----------------------------------------------------------------

    void saveAndCheckRunsTheFullCheckWhileTheWindowGoesOn()
    {
        CLocalWeb web(400);
        web.Route("/page.html", "<html><body><a href=\"http://mine.example/\">Best shop</a></body></html>");
        int ticks = 0;
        int ticksAtRequest = -1;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(20);
        web.m_onRequest = [&] {
            if (ticksAtRequest < 0)
                ticksAtRequest = ticks;
        };
        WhenShown<CLinksPropertiesDlg>([&](CLinksPropertiesDlg* dialog) {
            Child<QComboBox>(dialog, "cboFromPage")->setEditText(web.Url("/page.html"));
            Child<QComboBox>(dialog, "cboToPage")->setEditText(QStringLiteral("mine.example"));
            Child<QComboBox>(dialog, "cboAnchor")->setEditText(QStringLiteral("Best shop"));
            Child<QComboBox>(dialog, "cboPartner")->setEditText(QStringLiteral("Acme"));
            Child<QSpinBox>(dialog, "spnMonths")->setValue(3);
            Child<QPushButton>(dialog, "btnSaveAndCheck")->click();
        });
        QVERIFY(AddLink(Ctx()));
        const CLink* link = m_links->GetLinks().back();
        QCOMPARE(link->GetStatus(), uint32_t(StatusOk));
        QVERIFY(web.m_paths.contains("/page.html"));
        // The page was answered 400 ms after it was asked for, by this thread, meanwhile ticking.
        QVERIFY2(ticksAtRequest >= 0 && ticks - ticksAtRequest >= 10, qPrintable(QString::number(ticks)));
    }

    void checkNowFillsTheStartingPR()
    {
        CLocalWeb rankService;
        rankService.Route("/tbr", "Rank_1:1:4\n");
        CheckSettings settings = GetCheckSettings();
        settings.pageRankHost = rankService.HostPort().toStdString();
        SetCheckSettings(settings);

        CLink link;
        CLinksPropertiesDlg dialog(*m_partners, *m_links, nullptr, false, {});
        auto* startingPR = Child<QLineEdit>(&dialog, "edtStartingPR");
        Child<QComboBox>(&dialog, "cboFromPage")->setEditText(QStringLiteral("partner.example/links.html"));
        Child<QPushButton>(&dialog, "btnCheckNow")->click();
        QCOMPARE(startingPR->text(), QStringLiteral("4"));
        QCOMPARE(rankService.m_paths, QByteArrayList{"/tbr"});
        dialog.StoreInto(link);
        QCOMPARE(link.GetStartingPR(), 4);

        // An unreachable service gives -1, which leaves the stored starting PR alone.
        settings.pageRankHost = "127.0.0.1:9";
        SetCheckSettings(settings);
        Child<QPushButton>(&dialog, "btnCheckNow")->click();
        QCOMPARE(startingPR->text(), QStringLiteral("-1"));
        dialog.StoreInto(link);
        QCOMPARE(link.GetStartingPR(), 4);
    }

    // --- "Links properties" ----------------------------------------------------------------

    void packLinksShareThePartnerAndPeriod()
    {
        const auto addLink = [](CLinksPackDlg* pack, const QString& project) {
            WhenShown<CLinksPropertiesDlg>([project](CLinksPropertiesDlg* dialog) {
                QVERIFY(!Child(dialog, "cboPartner")->isVisibleTo(dialog));
                QVERIFY(!Child(dialog, "btnSaveAndCheck")->isVisibleTo(dialog));
                QCOMPARE(Child<QLabel>(dialog, "lblMonthsInfo")->text(), QStringLiteral("1 months"));
                Child<QComboBox>(dialog, "cboProject")->setEditText(project);
                Child<QComboBox>(dialog, "cboAnchor")->setEditText(QStringLiteral("Best shop"));
                Child<QPushButton>(dialog, "btnSave")->click();
            });
            Child<QPushButton>(pack, "btnAddLink")->click();
        };
        WhenShown<CLinksPackDlg>([&](CLinksPackDlg* pack) {
            Child<QComboBox>(pack, "cboPartner")->setCurrentIndex(0);
            QCOMPARE(Child<QLabel>(pack, "lblPartnerInfo")->text(), QStringLiteral("Acme;sales@acme.example"));
            Child<QDateEdit>(pack, "dteStart")->setDate(QDate(2023, 1, 31));
            Child<QSpinBox>(pack, "spnMonths")->setValue(1);
            QCOMPARE(Child<QDateEdit>(pack, "dteEnd")->date(), QDate(2023, 2, 28));
            addLink(pack, QStringLiteral("First"));
            addLink(pack, QStringLiteral("Second"));
            auto* list = Child<QTreeWidget>(pack, "lstLinks");
            QCOMPARE(list->topLevelItemCount(), 2);
            QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("Second")); // the newest first
            Child<QPushButton>(pack, "btnSave")->click();
        });
        QVERIFY(AddPack(Ctx()));
        const std::vector<CLink*> links = m_links->GetLinks();
        QCOMPARE(links.size(), std::size_t(2));
        QCOMPARE(links[0]->GetProject(), std::string("First"));
        for (const CLink* link : links) {
            QCOMPARE(link->GetPartnerId(), m_acme->GetId());
            QCOMPARE(ToQDate(link->GetFirstPaymentDate()), QDate(2023, 1, 31));
            QCOMPARE(ToQDate(link->GetExpiryDate()), QDate(2023, 2, 28));
        }
    }

    void packWithoutPartnerIsRefusedAndKeepsItsLinks()
    {
        bool kept = false;
        WhenShown<CLinksPackDlg>([&](CLinksPackDlg* pack) {
            QCOMPARE(Child<QComboBox>(pack, "cboPartner")->currentIndex(), -1);
            WhenShown<CLinksPropertiesDlg>([](CLinksPropertiesDlg* dialog) {
                Child<QComboBox>(dialog, "cboAnchor")->setEditText(QStringLiteral("Best shop"));
                Child<QPushButton>(dialog, "btnSave")->click();
            });
            Child<QPushButton>(pack, "btnAddLink")->click();
            Child<QPushButton>(pack, "btnSave")->click();
            kept = pack->isVisible() && Child<QTreeWidget>(pack, "lstLinks")->topLevelItemCount() == 1 &&
                   TestHooks::TakeMessageBoxTexts() == QStringList{QStringLiteral("Please select partner")};
            Child<QPushButton>(pack, "btnCancel")->click();
        });
        QVERIFY(!AddPack(Ctx()));
        QVERIFY(kept);
        QCOMPARE(m_links->GetCount(), std::size_t(0));
    }

    void groupOfMixedPartnersOpensWithNoneAndSavesNone()
    {
        CLink* a = AddCheckedLink("http://a.example/");
        CLink* b = AddCheckedLink("http://b.example/");
        b->SetPartnerId(m_partners->AddPartner("Beta")->GetId());
        const OleDateTime expiry = a->GetExpiryDate();

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        QVERIFY(!EditLinks(Ctx(), {a, b}));
        QCOMPARE(a->GetPartnerId(), m_acme->GetId());

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        WhenShown<CLinksPackDlg>([](CLinksPackDlg* group) {
            QCOMPARE(Child<QComboBox>(group, "cboPartner")->currentIndex(), -1);
            QVERIFY(!Child(group, "btnAddLink")->isEnabled());
            QCOMPARE(Child<QTreeWidget>(group, "lstLinks")->topLevelItemCount(), 2);
            Child<QPushButton>(group, "btnSave")->click();
        });
        QVERIFY(EditLinks(Ctx(), {a, b}));
        QVERIFY(TestHooks::TakeMessageBoxTexts().first().startsWith(QStringLiteral("You can change only seller info")));
        for (const CLink* link : {a, b}) {
            QCOMPARE(link->GetPartnerId(), -1);
            QVERIFY(link->GetExpiryDate() == expiry); // the common period stays
        }
        TestHooks::TakeMessageBoxTexts();

        // "Never expires" makes the whole group permanent from its common start, and the group
        // opens so again.
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        WhenShown<CLinksPackDlg>([](CLinksPackDlg* group) {
            Child<QCheckBox>(group, "chkNeverExpires")->click();
            QVERIFY(!Child(group, "spnMonths")->isEnabled());
            Child<QPushButton>(group, "btnSave")->click();
        });
        QVERIFY(EditLinks(Ctx(), {a, b}));
        for (const CLink* link : {a, b}) {
            QVERIFY(link->IsPermanent());
            QCOMPARE(ToQDate(link->GetLastPaymentDate()), QDate::currentDate().addMonths(-1));
        }
        bool openedPermanent = false;
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        WhenShown<CLinksPackDlg>([&](CLinksPackDlg* group) {
            openedPermanent = Child<QCheckBox>(group, "chkNeverExpires")->isChecked() &&
                              Child<QDateEdit>(group, "dteEnd")->text() == QStringLiteral("Never");
            Child<QPushButton>(group, "btnCancel")->click();
        });
        QVERIFY(!EditLinks(Ctx(), {a, b}));
        QVERIFY(openedPermanent);
    }

    // --- Duplicate and Renew ---------------------------------------------------------------

    void duplicateAsksAndCopiesEveryField()
    {
        CLink* a = AddCheckedLink("http://a.example/");
        CLink* b = AddCheckedLink("http://b.example/");
        a->SetCurrentPR(5);
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        QVERIFY(!DuplicateLinks(Ctx(), {b, a}));
        QCOMPARE(m_links->GetCount(), std::size_t(2));
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("Are you sure you want to duplicate selected link(s)?")});

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        QVERIFY(DuplicateLinks(Ctx(), {b, a}));
        const std::vector<CLink*> links = m_links->GetLinks();
        QCOMPARE(links.size(), std::size_t(4));
        QCOMPARE(Serialized(*links[2]), Serialized(*b));
        QCOMPARE(Serialized(*links[3]), Serialized(*a));
    }

    void renewAsksAndStartsTheNextPeriodAtTheExpiry()
    {
        CLink* link = AddCheckedLink();
        link->SetLastPaymentDate(ToOleDate(QDate(2020, 1, 31)));
        link->SetPeriod(OleDateTimeSpan(29.0)); // to 29 February 2020
        const std::string before = Serialized(*link);

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        QVERIFY(!RenewLinks(Ctx(), {link}));
        QCOMPARE(Serialized(*link), before);

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        QVERIFY(RenewLinks(Ctx(), {link}));
        QCOMPARE(TestHooks::TakeMessageBoxTexts().last(),
                 QStringLiteral("Are you sure you want to extend time for the selected links by the same time as "
                                "before?"));
        QCOMPARE(ToQDate(link->GetLastPaymentDate()), QDate(2020, 2, 29));
        QCOMPARE(ToQDate(link->GetExpiryDate()), QDate(2020, 3, 29));
        QCOMPARE(link->GetStatus(), uint32_t(StatusExpired)); // the dates were asked again
    }

    // --- Keyboard and names ----------------------------------------------------------------

    void fieldsAreNamedByTheirLabelsInTableOrder_data()
    {
        QTest::addColumn<bool>("pack");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("link") << false
                              << Strs({"cboProject",      "cboFromPage",      "cboToPage",       "cboAnchor",
                                       "edtRawLink",      "edtStartingPR",    "btnCheckNow",     "edtComment",
                                       "dteStart",        "dteEnd",           "spnMonths",       "chkNeverExpires",
                                       "radCostPerMonth", "radCostPerPeriod", "edtCostPerMonth", "edtCostPerPeriod",
                                       "cboPartner",      "btnAddPartner",    "edtEmail",        "btnSaveAndCheck",
                                       "btnSave",         "btnCancel"});
        QTest::newRow("pack") << true
                              << Strs({"cboPartner", "btnAddPartner", "dteStart", "dteEnd", "spnMonths",
                                       "chkNeverExpires", "lstLinks", "btnAddLink", "btnSave", "btnCancel"});
    }

    void fieldsAreNamedByTheirLabelsInTableOrder()
    {
        QFETCH(bool, pack);
        QFETCH(QStringList, fields);
        std::unique_ptr<QDialog> dialog;
        if (pack)
            dialog = std::make_unique<CLinksPackDlg>(*m_partners, *m_links, std::vector<CLink*>{}, nullptr);
        else
            dialog = std::make_unique<CLinksPropertiesDlg>(*m_partners, *m_links, nullptr, false, nullptr);
        QCOMPARE(dialog->accessibleName(), dialog->windowTitle());
        QCOMPARE(dialog->windowTitle(), pack ? QStringLiteral("Links properties") : QStringLiteral("Link properties"));

        // Every label names its field, and it and every button but Cancel (Escape) has a mnemonic
        // of its own.
        for (const QString& field : LabelledFields(dialog.get()))
            QVERIFY2(fields.contains(field), qPrintable(field));
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
            if (button->objectName() != QStringLiteral("btnCancel") && !button->objectName().isEmpty())
                QVERIFY2(QString(button->text()).remove(QStringLiteral("&&")).contains(u'&'),
                         qPrintable(button->objectName()));
        auto* save = Child<QPushButton>(dialog.get(), "btnSave");
        QVERIFY(save->isDefault());
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            QVERIFY2(button == save || !button->autoDefault(), qPrintable(button->objectName()));
        if (!pack)
            QVERIFY(Child<QPlainTextEdit>(dialog.get(), "edtComment")->tabChangesFocus());

        QStringList chain;
        QWidget* first = Child(dialog.get(), qPrintable(fields.first()));
        QWidget* w = first;
        do {
            if (fields.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w != first);
        QCOMPARE(chain, fields);
    }

    void linkAddedWithTheKeyboardAlone()
    {
        m_partners->AddPartner("Acme Two");
        QStringList visited;
        WhenShown<CLinksPropertiesDlg>([&](CLinksPropertiesDlg* dialog) {
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            const auto next = [&] {
                Press(Qt::Key_Tab);
                visited << Focused();
            };
            visited << Focused();
            Type(QStringLiteral("Shop"));
            next();
            Type(QStringLiteral("partner.example/links.html"));
            next();
            Type(QStringLiteral("mine.example"));
            next();
            Type(QStringLiteral("Best shop"));
            next();
            next();
            Type(QStringLiteral("3"));
            next();
            next();
            Type(QStringLiteral("paid by"));
            Press(Qt::Key_Return); // a new line here, not the default button
            Type(QStringLiteral("card"));
            next();
            // Tab walks the date's sections before it leaves the picker.
            for (int i = 0; i < 5 && Focused() == QStringLiteral("dteStart"); ++i)
                Press(Qt::Key_Tab);
            visited << Focused();
            Type(QStringLiteral("2"));
            Press(Qt::Key_R, Qt::AltModifier);
            visited << Focused();
            Type(QStringLiteral("Acme"));
            Press(Qt::Key_Return);
        });
        QVERIFY(AddLink(Ctx()));
        QCOMPARE(visited, Strs({"cboProject", "cboFromPage", "cboToPage", "cboAnchor", "edtRawLink", "edtStartingPR",
                                "btnCheckNow", "edtComment", "dteStart", "spnMonths", "cboPartner"}));
        QCOMPARE(m_links->GetCount(), std::size_t(1));
        const CLink* link = m_links->GetLinks().front();
        QCOMPARE(link->GetProject() + "|" + link->GetFromPage() + "|" + link->GetToPage() + "|" + link->GetAnchor(),
                 std::string("Shop|partner.example/links.html|mine.example|Best shop"));
        QCOMPARE(link->GetStartingPR(), 3);
        QCOMPARE(link->GetComment(), std::string("paid by\r\ncard")); // the line break older versions stored
        QCOMPARE(ToQDate(link->GetExpiryDate()), QDate::currentDate().addMonths(2));
        QCOMPARE(link->GetPartnerId(), m_acme->GetId()); // the name typed in full chose the entry
        QCOMPARE(m_partners->GetCount(), std::size_t(2));
    }
};

QTEST_MAIN(LinkEditingTest)
#include "LinkEditingTest.moc"
