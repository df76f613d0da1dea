// The links list as the user meets it: cells, colours, sorting, the stored layout, copying and
// the three filter boxes of the toolbar.
#include "DialogTesting.h"
#include "core/platform/SettingsStore.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/runs/DateRefresh.h"
#include "gui/mainwnd/CellTextReader.h"
#include "gui/mainwnd/Filters.h"
#include "gui/mainwnd/LinkCells.h"
#include "gui/mainwnd/LinkRowColors.h"
#include "gui/mainwnd/LinkRowDelegate.h"
#include "gui/mainwnd/LinksModel.h"
#include "gui/mainwnd/LinksView.h"

#include <QAbstractItemModelTester>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct LinkSpec
{
    const char* project = "site";
    uint32_t status = StatusOk;
    int32_t cost = 0;
    OleDateTime start = OleDateTime::FromParts(2012, 3, 29);
    int32_t partnerId = -1;
    const char* anchor = "anchor";
};

CLink* AddLink(CLinksManager& links, const LinkSpec& spec)
{
    CLink* link = links.AddNewLink();
    link->SetProject(spec.project);
    link->SetStatus(spec.status);
    link->SetCostMode(1);
    link->SetCostPerPeriodValue(spec.cost);
    link->SetCostPerMonthValue(spec.cost);
    link->SetLastPaymentDate(spec.start);
    link->SetFirstPaymentDate(spec.start);
    link->SetPeriod(OleDateTimeSpan(30.0));
    link->SetPartnerId(spec.partnerId);
    link->SetAnchor(spec.anchor);
    link->SetFromPage("http://partner.example/page");
    link->SetToPage("http://mine.example/");
    return link;
}

QStringList Column(const CLinksModel& model, LinkColumn kind)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << model.CellText(row, kind);
    return texts;
}

QStringList Entries(const QComboBox& box)
{
    QStringList texts;
    for (int i = 0; i < box.count(); ++i)
        texts << box.itemText(i);
    return texts;
}

// Six links whose keys differ in every column, and whose numbers and dates order otherwise as
// texts: the End dates 12/01/25 and 01/15/26 and "Never", the costs 9, 10 and 100.
void AddSortRecords(CLinksManager& links, CPartnersManager& partners)
{
    const struct
    {
        const char* project;
        uint32_t status;
        const char* partner; ///< null: none
        const char* anchor;
        OleDateTime firstStart;
        OleDateTime start;
        double periodDays;
        int32_t fullCost;
        int32_t startingPR;
        int32_t currentPR;
        const char* fromPage;
        int32_t externalLinks;
        const char* comment;
    } records[] = {
        {"b", StatusOk, "Zeta", "click", OleDateTime::FromParts(2011, 1, 5), OleDateTime::FromParts(2025, 10, 1), 61,
         10, 1, 2, "http://c.example/", 9, "m"},
        {"B", StatusCantOpen, "alpha", "Buy", OleDateTime::Null(), OleDateTime::FromParts(2025, 12, 15), 31, 100, 10, 0,
         "http://a.example/", 100, ""},
        {"", StatusNone, nullptr, "", OleDateTime::FromParts(1899, 12, 29), OleDateTime::FromParts(2024, 2, 10), 730,
         -300, 0, 7, "http://b.example/x", 5, "Zzz"},
        {"\xc3\xa4", StatusExpired, "\xc3\x84ther", "\xc3\xbcmlaut", OleDateTime::FromParts(2010, 6, 1),
         OleDateTime::Invalid(), 60, 9, 3, 10, "https://d.example/", 0, "\xc3\xa4"},
        {"a", StatusNotPresent, "Beta", "zoom", OleDateTime::FromParts(2012, 1, 5), OleDateTime::FromParts(1999, 8, 9),
         31, 0, 9, 5, "http://a.example/a", 12, "a"},
        // A permanent deal: its End ("Never") after every date, though its century ended in 2000;
        // no monthly price.
        {"c", StatusInvalidText, "Gamma", "anchor", OleDateTime::FromParts(2013, 7, 7),
         OleDateTime::FromParts(1900, 5, 5), CLink::kPermanentDays, 55, 6, 4, "http://e.example/", 33, "never"},
    };
    int n = 0;
    for (const auto& r : records) {
        CLink* link = links.AddNewLink();
        link->SetProject(r.project);
        link->SetStatus(r.status);
        link->SetPartnerId(r.partner ? partners.AddPartner(r.partner)->GetId() : -1);
        link->SetAnchor(r.anchor);
        link->SetFirstPaymentDate(r.firstStart);
        link->SetLastPaymentDate(r.start);
        link->SetPeriod(OleDateTimeSpan(r.periodDays));
        link->SetCostMode(1);
        link->SetCostPerPeriodValue(r.fullCost);
        link->SetStartingPR(r.startingPR);
        link->SetCurrentPR(r.currentPR);
        link->SetFromPage(r.fromPage);
        link->SetToPage("http://mine.example/" + std::to_string(4 - n++));
        link->SetExternalLinks(r.externalLinks);
        link->SetComment(r.comment);
    }
}

// The order a user expects of a column, from the record alone: a rank first (0 for what has no
// value yet), then a number or a text.
using SortKey = std::tuple<int, int64_t, std::string>;

SortKey ReferenceKey(const CLink& link, LinkColumn kind, const CPartnersManager& partners)
{
    const int checked = link.GetStatus() != StatusNone ? 1 : 0;
    const auto date = [](const OleDateTime& d) {
        return d.IsValid() ? SortKey{1, d.GetParts().year * 10000LL + d.GetMonth() * 100 + d.GetDay(), {}} : SortKey{};
    };
    const auto text = [](const std::string& t) { return SortKey{0, 0, t}; };
    switch (kind) {
    case LinkColumn::Status:
        return {checked, 0, GetStatusName(link.GetStatus())};
    case LinkColumn::Project:
        return text(link.GetProject());
    case LinkColumn::Partner: {
        const CPartner* partner = partners.FindById(link.GetPartnerId());
        return text(partner ? partner->GetName() : std::string());
    }
    case LinkColumn::Anchor:
        return text(link.GetAnchor());
    case LinkColumn::FirstStart:
        return date(link.GetFirstPaymentDate());
    case LinkColumn::Start:
        return date(link.GetLastPaymentDate());
    case LinkColumn::End:
        return link.IsPermanent() ? SortKey{2, 0, {}} : date(link.GetExpiryDate());
    case LinkColumn::FullCost:
        return {1, link.GetCostPerPeriod(), {}};
    case LinkColumn::Price:
        return link.IsPermanent() ? SortKey{} : SortKey{1, link.GetCostPerMonth(), {}};
    case LinkColumn::StartingPR:
        return {1, link.GetStartingPR(), {}};
    case LinkColumn::CurrentPR:
        return {checked, checked ? link.GetCurrentPR() : 0, {}};
    case LinkColumn::FromPage:
        return text(link.GetFromPage());
    case LinkColumn::ToPage:
        return text(link.GetToPage());
    case LinkColumn::ExternalLinks:
        return {checked, checked ? link.GetExternalLinks() : 0, {}};
    case LinkColumn::Comment:
        return text(link.GetComment());
    }
    return {};
}

} // namespace

class LinksListTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ISettingsStore> m_store;

private slots:
    void init()
    {
        QSettings(QStringLiteral("Tessel Development"), QStringLiteral("Orvex")).clear();
        m_store = OpenSettingsStore();
    }

    // A kind's number is its header section and its place in the stored layout's arrays: kinds
    // that changed places would read every stored layout wrongly.
    void EveryKindKeepsItsSectionAndHeaderText()
    {
        const struct
        {
            LinkColumn kind;
            int section;
            const char* header;
        } kinds[] = {
            {LinkColumn::Status, 0, "Status"},
            {LinkColumn::Project, 1, "Project"},
            {LinkColumn::Partner, 2, "Partner"},
            {LinkColumn::Anchor, 3, "Anchor"},
            {LinkColumn::FirstStart, 4, "First Start"},
            {LinkColumn::Start, 5, "Start"},
            {LinkColumn::End, 6, "End"},
            {LinkColumn::FullCost, 7, "Full cost"},
            {LinkColumn::Price, 8, "Price"},
            {LinkColumn::StartingPR, 9, "Starting PR"},
            {LinkColumn::CurrentPR, 10, "Current PR"},
            {LinkColumn::FromPage, 11, "From page"},
            {LinkColumn::ToPage, 12, "To Page"},
            {LinkColumn::ExternalLinks, 13, "External links"},
            {LinkColumn::Comment, 14, "Comment"},
        };
        QCOMPARE(int(std::size(kinds)), kLinkColumnCount);
        CLinksModel model;
        QCOMPARE(model.columnCount(), kLinkColumnCount);
        for (const auto& [kind, section, header] : kinds) {
            QCOMPARE(ColumnIndex(kind), section);
            QCOMPARE(LinkColumnAt(section), kind);
            QCOMPARE(kLinkColumns[std::size_t(section)], kind);
            QCOMPARE(LinkColumnName(kind), QString::fromLatin1(header));
            QCOMPARE(model.headerData(section, Qt::Horizontal).toString(), QString::fromLatin1(header));
        }
    }

    void ModelPassesTheItemModelTester()
    {
        CLinksManager links;
        CPartnersManager partners;
        for (int i = 0; i < 20; ++i)
            AddLink(links, {.project = i % 2 ? "a" : "b", .status = i % 3 ? StatusOk : StatusNone, .cost = i});
        CLinksModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.Attach(&links, &partners);
        QCOMPARE(model.rowCount(), 20);
        model.sort(ColumnIndex(LinkColumn::FullCost), Qt::AscendingOrder);
        links.GetLinks()[3]->SetStatus(StatusCantOpen);
        model.FillList(false);
        links.SetProjectFilter("a");
        model.FillList(true);
        QCOMPARE(model.rowCount(), 10);
        model.Attach(nullptr, &partners);
        QCOMPARE(model.rowCount(), 0);
    }

    // Find reads cells through CCellTextReader and skips date and number columns for texts that
    // KindCanShow rules out; both must agree with what every column shows, placeholders included.
    void FindSeesEveryShownTextOfEveryColumn()
    {
        CLinksManager links;
        CPartnersManager partners;
        CPartner* known = partners.AddPartner("Globex Straße");
        AddLink(links, {.status = StatusNone, .partnerId = known->GetId() + 7});
        CLink* full = AddLink(links, {.status = StatusExpired, .cost = 123456789, .partnerId = known->GetId()});
        full->SetCurrentPR(-1);
        full->SetStartingPR(10);
        full->SetExternalLinks(12);
        full->SetComment("paid in full\r\nsecond line");
        CLink* odd = AddLink(links, {.status = StatusCantOpen, .cost = -40, .start = OleDateTime::Invalid()});
        odd->SetFirstPaymentDate(OleDateTime::Invalid());
        AddLink(links, {.cost = 70})->MakePermanent();
        CLinksModel model;
        model.Attach(&links, &partners);
        const int permanent = model.RowOf(links.GetLinks().back());
        QCOMPARE(model.CellText(permanent, LinkColumn::End), QStringLiteral("Never"));
        QCOMPARE(model.CellText(permanent, LinkColumn::FullCost), QStringLiteral("70"));
        QCOMPARE(model.CellText(permanent, LinkColumn::Price), QString());
        CCellTextReader reader(model);
        for (int row = 0; row < model.rowCount(); ++row) {
            for (LinkColumn kind : kLinkColumns) {
                const QString shown = model.CellText(row, kind);
                const QByteArray bytes = shown.toUtf8();
                QCOMPARE(QByteArray(reader.Text(row, kind).data(), qsizetype(reader.Text(row, kind).size())), bytes);
                for (qsizetype from = 0; from <= shown.size(); ++from) {
                    for (qsizetype length = 0; from + length <= shown.size(); ++length) {
                        const QString part = shown.mid(from, length);
                        const QByteArray asShown = part.toUtf8();
                        const QByteArray upper = part.toUpper().toUtf8();
                        QVERIFY2(
                            LinkCells::KindCanShow(kind, std::string_view(asShown.constData(), asShown.size()),
                                                   false) &&
                                LinkCells::KindCanShow(kind, std::string_view(upper.constData(), upper.size()), true),
                            qPrintable(QStringLiteral("column %1 shows \"%2\"").arg(LinkColumnName(kind), shown)));
                    }
                }
            }
        }
    }

    void NeverCheckedLinkShowsPlaceholders()
    {
        CLinksManager links;
        CPartnersManager partners;
        CPartner* known = partners.AddPartner("Known");
        AddLink(links, {.status = StatusNone, .partnerId = known->GetId() + 7})->SetPeriod(OleDateTimeSpan(36000.0));
        CLink* checked = AddLink(links, {.status = StatusOk, .partnerId = known->GetId()});
        checked->SetCurrentPR(-1);
        checked->SetExternalLinks(12);
        CLinksModel model;
        model.Attach(&links, &partners);
        model.sort(ColumnIndex(LinkColumn::Status), Qt::AscendingOrder);

        // The unchecked link sorts first by status, ahead of "Ok".
        QCOMPARE(Column(model, LinkColumn::Status), (QStringList{QStringLiteral("?"), QStringLiteral("Ok")}));
        QCOMPARE(Column(model, LinkColumn::CurrentPR), (QStringList{QStringLiteral("-"), QStringLiteral("-1")}));
        QCOMPARE(Column(model, LinkColumn::ExternalLinks), (QStringList{QStringLiteral("-"), QStringLiteral("12")}));
        QCOMPARE(Column(model, LinkColumn::Partner), (QStringList{QString(), QStringLiteral("Known")}));
        QCOMPARE(model.CellText(0, LinkColumn::Start), QStringLiteral("03/29/12"));
        QCOMPARE(model.data(model.index(0, ColumnIndex(LinkColumn::CurrentPR)), CLinksModel::SortKeyRole).toLongLong(),
                 -1);
        // Unchecked rows whose dates warn of nothing take the view's own colours.
        QVERIFY(!model.data(model.index(0, ColumnIndex(LinkColumn::Status)), Qt::BackgroundRole).isValid());

        CLink* odd = links.GetLinks()[0];
        odd->SetFirstPaymentDate(OleDateTime::Null());
        odd->SetLastPaymentDate(OleDateTime::Invalid());
        const int row = model.RowOf(odd);
        QCOMPARE(model.CellText(row, LinkColumn::FirstStart), QString());
        QCOMPARE(model.CellText(row, LinkColumn::Start), QStringLiteral("Invalid DateTime"));
    }

    // What a row shows before and after the minute's date refresh: a link never checked keeps "?"
    // (never "Ok"), while its row takes the colour its dates give and the filters follow it.
    void StatusesOfUncheckedLinksThroughTheDateRefresh()
    {
        const OleDateTime today = OleDateTime::Today();
        const QColor red(255, 0, 0), orange(255, 180, 7);
        const struct
        {
            const char* what;
            uint32_t status;
            double daysAgo, period;
            const char* shown;
            QColor background; // invalid: the view's own
        } rows[] = {
            {"never checked", StatusNone, 1, 365, "?", {}},
            {"checked, Ok", StatusOk, 1, 365, "Ok", {}},
            // 31 days always reach the next month: a month after a payment 27 days ago ends in 1 to 4 days.
            {"never checked, expiring", StatusNone, 27, 31, "?", orange},
            {"never checked, expired", StatusNone, 40, 31, "?", red},
        };
        CLinksManager links;
        CPartnersManager partners;
        for (const auto& r : rows)
            AddLink(links, {.status = r.status, .start = today - OleDateTimeSpan(r.daysAgo)})
                ->SetPeriod(OleDateTimeSpan(r.period));
        CLinksModel model;
        model.Attach(&links, &partners);
        for (const char* when : {"before the refresh", "after it"}) {
            for (std::size_t i = 0; i < std::size(rows); ++i) {
                const int row = model.RowOf(links.GetLinks()[i]);
                const QString what = QStringLiteral("%1, %2").arg(QLatin1String(rows[i].what), QLatin1String(when));
                QVERIFY2(model.CellText(row, LinkColumn::Status) == QLatin1String(rows[i].shown), qPrintable(what));
                const QModelIndex cell = model.index(row, ColumnIndex(LinkColumn::Anchor));
                QVERIFY2(model.data(cell, Qt::BackgroundRole).value<QColor>() == rows[i].background, qPrintable(what));
                // The delegate paints from the same status.
                QVERIFY2(GetLinkRowColors(model.data(cell, CLinksModel::StatusRole).toUInt(), false, true, QPalette())
                                 .background ==
                             (rows[i].background.isValid() ? rows[i].background : QPalette().base().color()),
                         qPrintable(what));
            }
            QVERIFY(RefreshLinkDates(links.GetLinks(), 7).has_value());
            model.FillList(false);
        }
        // The status filters show the rows whose colour they name, and never call an unchecked link Ok.
        links.SetStatusFilter(StatusFilterFromName("(All Expiring)"));
        model.FillList(true);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.GetLink(0), links.GetLinks()[2]);
        links.SetStatusFilter(StatusFilterFromName("(All Ok)"));
        model.FillList(true);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.GetLink(0), links.GetLinks()[1]);
    }

    void SortsEveryColumnBothWays_data()
    {
        QTest::addColumn<LinkColumn>("kind");
        QTest::addColumn<bool>("descending");
        for (LinkColumn kind : kLinkColumns) {
            QTest::addRow("%s ascending", qPrintable(LinkColumnName(kind))) << kind << false;
            QTest::addRow("%s descending", qPrintable(LinkColumnName(kind))) << kind << true;
        }
    }

    // Each column against an order worked out here from the records: texts byte by byte (empty
    // first, upper case before lower, UTF-8 after ASCII), numbers and dates by value whatever
    // their text; no date, a bad date and an unchecked link's "-" come first.
    void SortsEveryColumnBothWays()
    {
        QFETCH(LinkColumn, kind);
        QFETCH(bool, descending);
        CLinksManager links;
        CPartnersManager partners;
        AddSortRecords(links, partners);
        const std::vector<CLink*> all = links.GetLinks();
        std::vector<const CLink*> expected(all.begin(), all.end());
        const auto key = [&](const CLink* link) { return ReferenceKey(*link, kind, partners); };
        std::sort(expected.begin(), expected.end(), [&](const CLink* a, const CLink* b) { return key(a) < key(b); });
        // No two keys alike, so the order is fully decided and descending is ascending backwards.
        for (std::size_t i = 1; i < expected.size(); ++i)
            QVERIFY(key(expected[i - 1]) < key(expected[i]));
        if (descending)
            std::reverse(expected.begin(), expected.end());

        CLinksModel model;
        model.Attach(&links, &partners);
        model.sort(ColumnIndex(kind), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        // Each row as "<place in the collection> <cell>", so a wrong order shows which link moved.
        const auto label = [&](const CLink* link) {
            const auto place = std::find(all.begin(), all.end(), link) - all.begin();
            return QStringLiteral("%1 %2").arg(place).arg(model.CellText(model.RowOf(link), kind));
        };
        QStringList rows;
        for (int row = 0; row < model.rowCount(); ++row)
            rows << label(model.GetLink(row));
        QStringList wanted;
        for (const CLink* link : expected)
            wanted << label(link);
        QCOMPARE(rows, wanted);

        // The records make a sort by the shown text come out otherwise for numbers and dates.
        const bool byValue =
            (kind >= LinkColumn::FirstStart && kind <= LinkColumn::CurrentPR) || kind == LinkColumn::ExternalLinks;
        if (byValue) {
            QStringList texts;
            for (const CLink* link : expected)
                texts << model.CellText(model.RowOf(link), kind);
            QStringList byText = texts;
            byText.sort();
            QVERIFY2(byText != texts && byText != QStringList(texts.rbegin(), texts.rend()),
                     qPrintable(texts.join(u',')));
        }
    }

    void HeaderClicksWithHiddenColumns()
    {
        CLinksManager links;
        CPartnersManager partners;
        AddLink(links, {.project = "a", .cost = 2});
        AddLink(links, {.project = "c", .cost = 1});
        AddLink(links, {.project = "b", .cost = 3});

        ListLayout layout = ListLayout::Defaults();
        layout.columnVisible[ColumnIndex(LinkColumn::Status)] = 0;
        layout.columnVisible[ColumnIndex(LinkColumn::FirstStart)] = 1;
        layout.columnCount = 14;
        layout.sortColumn = 0;
        layout.sortDescending = 0;
        m_store->SetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings, layout.ToBytes());

        CLinksView view(*m_store);
        view.Attach(&links, &partners);
        CLinksModel& model = *view.GetModel();
        // Header index 0 is the first shown kind: Project, with Status hidden.
        QCOMPARE(model.GetSortKind(), LinkColumn::Project);
        QCOMPARE(Column(model, LinkColumn::Project), Strs({"a", "b", "c"}));

        QHeaderView* header = view.GetList()->horizontalHeader();
        view.OnHeaderClicked(LinkColumnAt(header->logicalIndex(header->visualIndex(ColumnIndex(LinkColumn::Project)))));
        QCOMPARE(Column(model, LinkColumn::Project), Strs({"c", "b", "a"}));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

        view.OnHeaderClicked(LinkColumn::FullCost);
        QCOMPARE(Column(model, LinkColumn::FullCost), Strs({"1", "2", "3"}));
        QCOMPARE(header->sortIndicatorSection(), ColumnIndex(LinkColumn::FullCost));
        QCOMPARE(view.ReadLayout().sortColumn, 6); // Project, Partner, Anchor, First Start, Start, End before it
    }

    void RowColoursFollowTheStatus()
    {
        QPalette palette;
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        palette.setColor(QPalette::HighlightedText, Qt::yellow);
        palette.setColor(QPalette::Button, Qt::gray);
        palette.setColor(QPalette::ButtonText, Qt::darkGreen);
        const QColor red(255, 0, 0), orange(255, 180, 7);

        for (uint32_t problem :
             {StatusExpired, StatusNotPresent, StatusInvalidText, StatusNofollow, StatusRobots, StatusCantOpen}) {
            const LinkRowColors c = GetLinkRowColors(problem, false, true, palette);
            QCOMPARE(c.background, red);
            QCOMPARE(c.text, QColor(Qt::white));
        }
        QCOMPARE(GetLinkRowColors(StatusExpiring, false, true, palette).background, orange);
        QCOMPARE(GetLinkRowColors(StatusExpiring, false, true, palette).text, QColor(Qt::black));
        QCOMPARE(GetLinkRowColors(StatusOk, false, true, palette).background, QColor(Qt::white));
        QCOMPARE(GetLinkRowColors(StatusNone, false, true, palette).background, QColor(Qt::white));

        // Selected in a focused window.
        const LinkRowColors plain = GetLinkRowColors(StatusOk, true, true, palette);
        QCOMPARE(plain.background, QColor(182, 202, 234));
        QCOMPARE(plain.text, QColor(Qt::black));
        QCOMPARE(GetLinkRowColors(StatusExpired, true, true, palette).background, QColor(182, 37, 68));
        QCOMPARE(GetLinkRowColors(StatusExpiring, true, true, palette).background, QColor(182, 136, 68));
        QCOMPARE(GetLinkRowColors(StatusExpiring, true, true, palette).text, QColor(Qt::yellow));
        // Selected without focus: button face whatever the status.
        const LinkRowColors unfocused = GetLinkRowColors(StatusCantOpen, true, false, palette);
        QCOMPARE(unfocused.background, QColor(Qt::gray));
        QCOMPARE(unfocused.text, QColor(Qt::darkGreen));
    }

    void ShortensWithDots()
    {
        const QFontMetrics fm(QFont{});
        const QString text = QStringLiteral("http://www.partner.example/a/long/path.html");
        QCOMPARE(ShortenText(text, fm, fm.horizontalAdvance(text)), text);
        const QString cut = ShortenText(text, fm, fm.horizontalAdvance(text) / 2);
        QVERIFY(cut.endsWith(QStringLiteral("...")));
        QVERIFY(text.startsWith(cut.chopped(3)));
        QVERIFY(fm.horizontalAdvance(cut) <= fm.horizontalAdvance(text) / 2);
        // One more character would not have fitted.
        const QString longer = text.left(cut.size() - 2) + QStringLiteral("...");
        QVERIFY(fm.horizontalAdvance(longer) > fm.horizontalAdvance(text) / 2);
        QCOMPARE(ShortenText(text, fm, 1), QStringLiteral("..."));
    }

    void CopiesSelectedRowsInDisplayOrder()
    {
        CLinksManager links;
        CPartnersManager partners;
        AddLink(links, {.project = "p1", .status = StatusNone, .cost = 5, .anchor = "one"});
        AddLink(links, {.project = "p2", .status = StatusExpired, .cost = 7, .anchor = "two"});
        AddLink(links, {.project = "p3", .cost = 9, .anchor = "three"});

        ListLayout layout = ListLayout::Defaults();
        layout.columnVisible.fill(0);
        layout.columnVisible[ColumnIndex(LinkColumn::Status)] = 1;
        layout.columnVisible[ColumnIndex(LinkColumn::Anchor)] = 1;
        layout.columnVisible[ColumnIndex(LinkColumn::FullCost)] = 1;
        layout.columnCount = 3;
        layout.columnOrder[0] = 2; // Full cost, Status, Anchor
        layout.columnOrder[1] = 0;
        layout.columnOrder[2] = 1;
        layout.sortColumn = 2;
        layout.sortDescending = 0;
        m_store->SetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings, layout.ToBytes());

        CLinksView view(*m_store);
        view.Attach(&links, &partners);
        QCOMPARE(Column(*view.GetModel(), LinkColumn::Anchor), Strs({"one", "two", "three"}));
        view.SelectOnly(1);
        QCOMPARE(view.CopySelectionAsText(), QStringLiteral("7\t\tExpired\t\ttwo\r\n"));
        view.GetList()->selectionModel()->select(view.GetModel()->index(0, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(view.CopySelectionAsText(), QStringLiteral("5\t\t?\t\tone\r\n7\t\tExpired\t\ttwo\r\n"));
    }

    void LayoutSurvivesTheStoreAndRejectsWrongSizes()
    {
        {
            CLinksView view(*m_store);
            const ListLayout defaults = view.ReadLayout();
            QCOMPARE(defaults.columnVisible[ColumnIndex(LinkColumn::FirstStart)], 0);
            QCOMPARE(defaults.columnCount, 14);
            // Without a stored layout the widths follow the header texts (no rows yet).
            QVERIFY(
                defaults.columnWidth[ColumnIndex(LinkColumn::Comment)] >=
                QFontMetrics(view.GetList()->horizontalHeader()->font()).horizontalAdvance(QStringLiteral("Comment")));
            QCOMPARE(defaults.sortColumn, 1);
            QCOMPARE(defaults.sortDescending, 1);

            view.ToggleColumn(LinkColumn::FirstStart);
            view.ToggleColumn(LinkColumn::Anchor);
            QHeaderView* header = view.GetList()->horizontalHeader();
            header->resizeSection(ColumnIndex(LinkColumn::Comment), 123);
            header->moveSection(header->visualIndex(ColumnIndex(LinkColumn::Comment)), 0);
            view.OnHeaderClicked(LinkColumn::Price);
        }
        const auto bytes = m_store->GetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings);
        QVERIFY(bytes);
        QCOMPARE(bytes->size(), std::size_t(192));
        const ListLayout saved = ListLayout::FromBytes(*bytes);
        QCOMPARE(saved.ToBytes(), *bytes);
        QCOMPARE(saved.columnCount, 14);
        QCOMPARE(saved.columnVisible[ColumnIndex(LinkColumn::FirstStart)], 1);
        QCOMPARE(saved.columnVisible[ColumnIndex(LinkColumn::Anchor)], 0);
        QCOMPARE(saved.columnWidth[ColumnIndex(LinkColumn::Comment)], 123);
        QCOMPARE(saved.columnOrder[0], 13); // Comment is the last of fourteen header items
        QCOMPARE(saved.columnOrder[1], 0);
        QCOMPARE(saved.sortColumn, 7); // Price after Status, Project, Partner, First Start, Start, End, Full cost
        QCOMPARE(saved.sortDescending, 0);
        // Little-endian words at their offsets.
        QCOMPARE(int((*bytes)[124 + 4 * ColumnIndex(LinkColumn::Comment)]), 123);
        QCOMPARE(int((*bytes)[64 + 4 * ColumnIndex(LinkColumn::Anchor)]), 0);

        // Read back, and used as stored: in a wide window, with a project name wider than its
        // column, no width is fitted to the texts or stretched to the edge, and the layout goes
        // back to the store unchanged.
        {
            CLinksManager links;
            CPartnersManager partners;
            AddLink(links, {.project = "A project name much wider than its column"});
            CLinksView view(*m_store);
            view.resize(3000, 300);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            view.Attach(&links, &partners);
            view.FillList(true);
            QVERIFY(!view.IsFitPending());
            const QHeaderView* header = view.GetList()->horizontalHeader();
            for (LinkColumn kind : kLinkColumns)
                if (saved.columnVisible[ColumnIndex(kind)])
                    QCOMPARE(header->sectionSize(ColumnIndex(kind)), saved.columnWidth[ColumnIndex(kind)]);
            QCOMPARE(view.ReadLayout().ToBytes(), *bytes);
            QCOMPARE(header->logicalIndex(0), ColumnIndex(LinkColumn::Comment));
            QCOMPARE(view.GetModel()->GetSortKind(), LinkColumn::Price);
        }
        QCOMPARE(*m_store->GetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings), *bytes);

        std::vector<uint8_t> shorter = *bytes;
        shorter.pop_back();
        m_store->SetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings, shorter);
        // Ignored as if there were none: the defaults, with widths fitted to the headers.
        CLinksView view(*m_store);
        QVERIFY(view.IsFitPending());
        ListLayout reread = view.ReadLayout();
        ListLayout expected = ListLayout::Defaults();
        expected.columnCount = 14;
        reread.columnWidth = expected.columnWidth;
        QCOMPARE(reread.ToBytes(), expected.ToBytes());
    }

    // Without a stored layout the columns fit what they show: every header text whole, the cells
    // of the first rows up to a limit, the last column out to the window's edge. An empty list is
    // fitted again when its first links arrive, and never after; what was fitted comes back the
    // same from the store.
    void DefaultWidthsFitTheFirstRows()
    {
        CLinksManager links;
        CPartnersManager partners;
        auto view = std::make_unique<CLinksView>(*m_store);
        view->resize(3000, 300);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        view->Attach(&links, &partners); // the first start's empty database
        QHeaderView* header = view->GetList()->horizontalHeader();
        const QFontMetrics headerFont(header->font());
        const QFontMetrics cellFont(view->GetList()->font());
        const auto width = [header](LinkColumn kind) { return header->sectionSize(ColumnIndex(kind)); };
        // The delegate keeps a cell's text off its grid line and its edges.
        const auto showsWhole = [&](LinkColumn kind, const QString& text) {
            return ShortenText(text, cellFont, width(kind) - 5) == text;
        };
        for (LinkColumn kind : kLinkColumns)
            if (!header->isSectionHidden(ColumnIndex(kind)))
                QVERIFY2(width(kind) >= headerFont.horizontalAdvance(LinkColumnName(kind)),
                         qPrintable(LinkColumnName(kind)));
        QVERIFY(view->IsFitPending());
        const int headerOnlyProject = width(LinkColumn::Project);

        // Sorted by project, descending: the long project's links first, the long anchor on row 120.
        const QString project = QStringLiteral("Spring sale of garden furniture");
        const QString page = QStringLiteral("http://partner.example/") + QString(300, QLatin1Char('p'));
        const QString farAnchor = QString(25, QLatin1Char('W'));
        for (int i = 0; i < 120; ++i)
            AddLink(links, {.project = "Spring sale of garden furniture", .status = StatusOk, .anchor = "a"});
        links.GetLinks()[7]->SetFromPage(page.toStdString());
        AddLink(links, {.project = "Autumn"})->SetAnchor(farAnchor.toStdString());
        view->FillList(true);
        QCOMPARE(view->GetModel()->CellText(120, LinkColumn::Anchor), farAnchor);

        QVERIFY(!view->IsFitPending());
        QVERIFY(width(LinkColumn::Project) > headerOnlyProject);
        QVERIFY(showsWhole(LinkColumn::Project, project));
        QVERIFY(width(LinkColumn::Project) > width(LinkColumn::Status)); // against "Ok"
        QVERIFY(width(LinkColumn::Anchor) < cellFont.horizontalAdvance(farAnchor));
        // The long page is cut at the limit, a few hundred pixels.
        QVERIFY(width(LinkColumn::FromPage) < cellFont.horizontalAdvance(page));
        QVERIFY2(width(LinkColumn::FromPage) >= 30 * cellFont.averageCharWidth() &&
                     width(LinkColumn::FromPage) <= 60 * cellFont.averageCharWidth(),
                 qPrintable(QString::number(width(LinkColumn::FromPage))));
        QCOMPARE(header->sectionViewportPosition(ColumnIndex(LinkColumn::Comment)) + width(LinkColumn::Comment),
                 view->GetList()->viewport()->width());
        view->resize(3300, 300);
        QTRY_COMPARE(header->sectionViewportPosition(ColumnIndex(LinkColumn::Comment)) + width(LinkColumn::Comment),
                     view->GetList()->viewport()->width());

        // A column shown later is fitted when it appears.
        view->ToggleColumn(LinkColumn::FirstStart);
        QVERIFY(width(LinkColumn::FirstStart) >=
                header->sectionSizeHint(ColumnIndex(LinkColumn::FirstStart))); // text, margins, arrow
        QCOMPARE(header->sectionViewportPosition(ColumnIndex(LinkColumn::Comment)) + width(LinkColumn::Comment),
                 view->GetList()->viewport()->width());

        // The widths are the user's now: later fills leave them alone.
        const ListLayout fitted = view->ReadLayout();
        links.GetLinks()[0]->SetProject("A project name far longer than the one before");
        view->FillList(true);
        QCOMPARE(view->ReadLayout().ToBytes(), fitted.ToBytes());

        view.reset();
        const auto stored = m_store->GetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings);
        QVERIFY(stored);
        QCOMPARE(*stored, fitted.ToBytes());
        CLinksView again(*m_store);
        again.Attach(&links, &partners);
        QCOMPARE(again.ReadLayout().ToBytes(), *stored);
    }

    void UpdateRepaintsOnlyChangedRows()
    {
        CLinksManager links;
        CPartnersManager partners;
        for (int i = 0; i < 10; ++i)
            AddLink(links, {.cost = i});
        CLinksModel model;
        model.SetSort(LinkColumn::FullCost, false);
        model.Attach(&links, &partners);
        QCOMPARE(model.GetTotalCost(), 45);
        QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);

        links.GetLinks()[3]->SetStatus(StatusCantOpen);
        links.GetLinks()[4]->SetStatus(StatusCantOpen);
        links.GetLinks()[8]->SetCostPerPeriodValue(100);
        model.FillList(false);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy[0][0].toModelIndex().row(), 3);
        QCOMPARE(spy[0][1].toModelIndex().row(), 4);
        QCOMPARE(spy[1][0].toModelIndex().row(), 8);
        QCOMPARE(model.GetTotalCost(), 45 - 8 + 100);
        QCOMPARE(model.CellText(3, LinkColumn::Status), QStringLiteral("Can't open page"));

        // A link that left the filter keeps its row, but no longer counts.
        spy.clear();
        links.SetStatusFilter(StatusOk);
        model.FillList(false);
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(model.GetTotalCost(), 45 - 3 - 4 - 8 + 100);

        // Most rows changed: one signal for all of them.
        for (CLink* link : links.GetLinks())
            link->SetStatus(StatusOk);
        links.SetStatusFilter(0);
        for (int i = 0; i < 6; ++i)
            links.GetLinks()[static_cast<std::size_t>(i)]->SetComment("x");
        model.FillList(false);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].toModelIndex(), model.index(0, 0));
        QCOMPARE(spy[0][1].toModelIndex(), model.index(9, kLinkColumnCount - 1));
    }

    void BalloonTexts()
    {
        CLink link;
        link.SetStatus(StatusExpiring);
        link.SetLastPaymentDate(OleDateTime::FromParts(2020, 4, 5));
        link.SetPeriod(OleDateTimeSpan(30.0));
        QVERIFY(link.GetExpiryDate().IsValid());
        // Three days and fifteen hours before the expiry.
        const OleDateTime now = link.GetExpiryDate() - OleDateTimeSpan(3.625);
        QCOMPARE(StatusBalloonText(link, now), QStringLiteral("The item(s) will be expired in 4 days"));
        link.SetStatus(StatusNone);
        QCOMPARE(StatusBalloonText(link, now), QStringLiteral("Unknown status"));
        link.SetStatus(StatusCantOpen);
        QCOMPARE(StatusBalloonText(link, now), QStringLiteral("\"From page\" is inaccessible"));
        link.SetStatus(StatusOk);
        QCOMPARE(StatusBalloonText(link, now), QString());

        // Hovering an Ok row starts nothing; a troubled one arms the delay.
        CLinksManager links;
        CPartnersManager partners;
        AddLink(links, {.status = StatusOk});
        CLinksView view(*m_store);
        view.Attach(&links, &partners);
        view.OnHotRow(0);
        QVERIFY(!view.IsBalloonVisible());
        links.GetLinks()[0]->SetStatus(StatusExpired);
        view.OnHotRow(0);
        view.OnHoverTimeout(0);
        QVERIFY(view.IsBalloonVisible());
        QCOMPARE(view.GetBalloonLink(), links.GetLinks()[0]);
        view.HideStatusBalloon(true);
        view.OnHotRow(0); // the same row does not bring it back
        QVERIFY(!view.IsBalloonVisible());
        view.FillList(true);
        QCOMPARE(view.GetBalloonLink(), nullptr);
    }

    void FilterBoxes()
    {
        CLinksManager links;
        CPartnersManager partners;
        CPartner* acme = partners.AddPartner("Acme");
        CPartner* globex = partners.AddPartner("Globex");
        // Never checked, and its dates warn of nothing.
        AddLink(links, {.project = "Shop", .status = StatusNone, .partnerId = acme->GetId()})
            ->SetPeriod(OleDateTimeSpan(36000.0));
        const uint32_t all[] = {StatusOk,          StatusExpiring, StatusExpired, StatusNotPresent,
                                StatusInvalidText, StatusNofollow, StatusRobots,  StatusCantOpen};
        for (uint32_t s : all)
            AddLink(links, {.project = "Blog", .status = s, .partnerId = globex->GetId()});

        m_store->SetString(SettingsNames::kGuiSection, SettingsNames::kProjectFilter, "sHOP");
        m_store->SetString(SettingsNames::kGuiSection, SettingsNames::kPartnerFilter, "globex");
        QComboBox project, status, partner;
        CLinkFilters filters(&project, &status, &partner, *m_store);
        filters.Attach(&links, &partners);
        filters.RefreshFilters();

        QCOMPARE(Entries(project), Strs({"(All projects)", "Shop", "Blog"}));
        QCOMPARE(project.currentText(), QStringLiteral("Shop"));
        QCOMPARE(links.GetProjectFilter(), std::string("Shop"));
        QCOMPARE(Entries(status),
                 Strs({"(All links)", "(All Ok)", "(All Expiring)", "(All Problematic)", "Ok", "Expiring", "Expired",
                       "Not present", "Invalid text", "nofollow", "robots.txt", "Can't open page"}));
        QCOMPARE(status.currentIndex(), 0);
        QCOMPARE(Entries(partner), Strs({"(All partners)", "Acme", "Globex"}));
        QCOMPARE(partner.currentText(), QStringLiteral("Globex"));
        QCOMPARE(partners.GetPartnerFilter(), globex->GetId());

        // Choosing entries: the project and partner go back to everything, the status narrows.
        QSignalSpy changed(&filters, &CLinkFilters::FiltersChanged);
        project.setCurrentIndex(0);
        emit project.activated(0);
        partner.setCurrentIndex(0);
        emit partner.activated(0);
        status.setCurrentIndex(3);
        emit status.activated(3);
        QCOMPARE(changed.count(), 3);
        QCOMPARE(status.currentText(), QStringLiteral("(All Problematic)"));
        CLinksModel model;
        model.Attach(&links, &partners);
        QStringList shown = Column(model, LinkColumn::Status);
        shown.sort();
        QCOMPARE(shown, Strs({"Can't open page", "Expired", "Invalid text", "Not present", "nofollow", "robots.txt"}));
        QCOMPARE(m_store->GetString(SettingsNames::kGuiSection, SettingsNames::kProjectFilter),
                 std::string("(All projects)"));

        // A renamed project leaves the remembered text behind: back to all projects.
        project.setCurrentIndex(1);
        emit project.activated(1);
        QCOMPARE(links.GetProjectFilter(), std::string("Shop"));
        links.GetLinks()[0]->SetProject("Store");
        filters.RefreshFilters();
        QCOMPARE(project.currentIndex(), 0);
        QCOMPARE(links.GetProjectFilter(), std::string());
        QCOMPARE(m_store->GetString(SettingsNames::kGuiSection, SettingsNames::kProjectFilter), std::string("Shop"));
    }

    // Each box is as wide as its longest entry, up to a limit, and its tip has the whole text of
    // the entry it shows; the entries keep the collections' order.
    void FilterBoxesFitTheirEntries()
    {
        CLinksManager links;
        CPartnersManager partners;
        const QString longName =
            QStringLiteral("The International Association of Garden Furniture Makers and Sellers of Europe");
        partners.AddPartner("zeta");
        partners.AddPartner(longName.toStdString());
        partners.AddPartner("Acme");
        AddLink(links, {.project = "b"});
        AddLink(links, {.project = "A"});
        QComboBox project, status, partner;
        CLinkFilters filters(&project, &status, &partner, *m_store);
        filters.Attach(&links, &partners);
        filters.RefreshFilters();
        QCOMPARE(Entries(project), Strs({"(All projects)", "b", "A"}));
        QCOMPARE(Entries(partner), QStringList({QStringLiteral("(All partners)"), QStringLiteral("zeta"), longName,
                                                QStringLiteral("Acme")}));

        const QFontMetrics fm = project.fontMetrics();
        QVERIFY(project.width() >= fm.horizontalAdvance(QStringLiteral("(All projects)")));
        QVERIFY(status.width() >= status.fontMetrics().horizontalAdvance(QStringLiteral("(All Problematic)")));
        QCOMPARE(project.toolTip(), QStringLiteral("(All projects)"));
        const int shortProjects = project.width();

        const QString longer = QStringLiteral("Garden furniture in spring");
        links.GetLinks()[0]->SetProject(longer.toStdString());
        filters.RefreshFilters();
        QVERIFY(project.width() > shortProjects);
        QVERIFY(project.width() >= fm.horizontalAdvance(longer));

        // The long partner name is cut at about thirty characters; the tip has it whole.
        const QFontMetrics pm = partner.fontMetrics();
        QVERIFY(partner.width() < pm.horizontalAdvance(longName));
        QVERIFY2(partner.width() >= 25 * pm.averageCharWidth() && partner.width() <= 40 * pm.averageCharWidth(),
                 qPrintable(QString::number(partner.width())));
        QCOMPARE(partner.toolTip(), QStringLiteral("(All partners)"));
        partner.setCurrentIndex(2);
        QCOMPARE(partner.toolTip(), longName);
        emit partner.activated(2);
        QCOMPARE(partner.toolTip(), longName);
        QVERIFY(partner.view()->minimumWidth() > pm.horizontalAdvance(longName));
    }

    // The partner box completes a typed part of a name from its entries in alphabetical order; a
    // completion or a whole name chooses the partner as the list does, and text that names no
    // partner gives way to the entry shown.
    void PartnerBoxCompletesTypedText()
    {
        CLinksManager links;
        CPartnersManager partners;
        for (const char* name : {"beta", "Alpha", "gamma", "ALPINE"})
            partners.AddPartner(name);
        const int32_t betaId = partners.FindByName("beta")->GetId();
        const int32_t alpineId = partners.FindByName("ALPINE")->GetId();
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* project = new QComboBox(&window);
        auto* status = new QComboBox(&window);
        auto* partner = new QComboBox(&window);
        for (QComboBox* box : {project, status, partner})
            row->addWidget(box);
        CLinkFilters filters(project, status, partner, *m_store);
        filters.Attach(&links, &partners);
        filters.RefreshFilters();
        QSignalSpy changed(&filters, &CLinkFilters::FiltersChanged);
        window.show();
        Activate(&window);
        partner->setFocus();
        QTRY_VERIFY(partner->lineEdit()->hasFocus());
        QCompleter* completer = filters.GetPartnerCompleter();
        QLineEdit* edit = partner->lineEdit();

        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("aL"));
        QTRY_VERIFY(completer->popup()->isVisible());
        QStringList offered;
        for (int i = 0; i < completer->completionModel()->rowCount(); ++i)
            offered << completer->completionModel()->index(i, 0).data().toString();
        QCOMPARE(offered, Strs({"(All partners)", "Alpha", "ALPINE"}));
        completer->popup()->setCurrentIndex(completer->completionModel()->index(2, 0));
        QTest::keyClick(completer->popup(), Qt::Key_Return);
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(partner->currentText(), QStringLiteral("ALPINE"));
        QCOMPARE(partners.GetPartnerFilter(), alpineId);
        QCOMPARE(m_store->GetString(SettingsNames::kGuiSection, SettingsNames::kPartnerFilter), std::string("ALPINE"));

        // No partner by that name: Enter puts the entry back and changes nothing.
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("nobody"));
        QVERIFY(!completer->popup()->isVisible());
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE(edit->text(), QStringLiteral("ALPINE"));
        // Half a name, and the box is left.
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("gam"));
        QTRY_VERIFY(completer->popup()->isVisible());
        QTest::keyClick(completer->popup(), Qt::Key_Escape);
        Activate(&window); // back from the closed popup, as a window manager does it
        QTRY_VERIFY(edit->hasFocus());
        project->setFocus();
        QTRY_COMPARE(edit->text(), QStringLiteral("ALPINE"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(partners.GetPartnerFilter(), alpineId);

        // A whole name in other letters is that partner.
        partner->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("BETA"));
        QTRY_VERIFY(completer->popup()->isVisible());
        QTest::keyClick(completer->popup(), Qt::Key_Return);
        QTRY_COMPARE(partners.GetPartnerFilter(), betaId);
        QCOMPARE(partner->currentText(), QStringLiteral("beta"));
        QCOMPARE(edit->text(), QStringLiteral("beta"));
        QCOMPARE(changed.count(), 2);
    }
};

QTEST_MAIN(LinksListTest)
#include "LinksListTest.moc"
