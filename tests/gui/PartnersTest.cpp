// The partners dialog and the partner properties dialog as a user drives them: the stored list
// layout, sorting, the fill order, deleting with its question, editing and adding from buttons,
// keys and double-clicks, validation, and what keyboard and screen-reader users rely on.
#include "DialogTesting.h"
#include "core/platform/SettingsStore.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "gui/partners/PartnerColumn.h"
#include "gui/partners/PartnerCommands.h"
#include "gui/partners/PartnerPropertiesDlg.h"
#include "gui/partners/PartnersListDlg.h"
#include "gui/partners/PartnersListLayout.h"
#include "gui/partners/PartnersModel.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// The fields in the order of the partner dialog's table, which is also the list's kind order.
const QStringList kFields = {QStringLiteral("nameEdit"),       QStringLiteral("organizationEdit"),
                             QStringLiteral("emailEdit"),      QStringLiteral("icqEdit"),
                             QStringLiteral("phoneEdit"),      QStringLiteral("paymentType1Edit"),
                             QStringLiteral("paymentId1Edit"), QStringLiteral("paymentType2Edit"),
                             QStringLiteral("paymentId2Edit"), QStringLiteral("commentsEdit")};
const QString kQuestion = QStringLiteral("Are you sure you want to delete selected partner(s)?");

// Runs `step` on the partner dialog the next call opens and closes it if the step did not. Any
// other modal window is closed, so a wrong dialog fails the test instead of hanging it.
void OnNextDialog(std::function<void(CPartnersPropertiesDlg&)> step, bool& ran)
{
    ran = false;
    QTimer::singleShot(0, [step, &ran] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<CPartnersPropertiesDlg*>(modal);
        if (!dialog) {
            if (modal)
                modal->close();
            return;
        }
        ran = true;
        // Keys go where the focus is, and only an active window has one.
        if (QTest::qWaitForWindowActive(dialog))
            step(*dialog);
        else
            QTest::qFail("the dialog never became active", __FILE__, __LINE__);
        if (dialog->isVisible())
            dialog->reject();
    });
}

QLineEdit* Edit(QWidget& dialog, const QString& name)
{
    return dialog.findChild<QLineEdit*>(name);
}

QStringList Names(const CPartnersListDlg& dlg)
{
    QStringList names;
    for (int row = 0; row < dlg.GetModel()->rowCount(); ++row)
        names << dlg.GetModel()->CellText(row, PartnerColumn::Name);
    return names;
}

} // namespace

class PartnersTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ISettingsStore> m_store;
    CPartnersManager m_partners;
    CLinksManager m_links;

    std::unique_ptr<CPartnersListDlg> OpenList(std::function<void()> addPartner = {})
    {
        return std::make_unique<CPartnersListDlg>(m_partners, m_links, *m_store, std::move(addPartner));
    }

    CPartner* Add(const char* name, const char* comments = "")
    {
        CPartner* p = m_partners.AddPartner(name);
        p->SetComments(comments);
        return p;
    }

    static void Select(CPartnersListDlg& dlg, std::initializer_list<int> rows)
    {
        dlg.GetList()->clearSelection();
        for (int row : rows)
            dlg.GetList()->selectionModel()->select(dlg.GetModel()->index(row, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

private slots:
    void init()
    {
        QSettings(QStringLiteral("Tessel Development"), QStringLiteral("Orvex")).clear();
        m_store = OpenSettingsStore();
        m_partners.Clear();
        m_partners.SetNextPartnerId(0);
        m_links.Clear();
        TestHooks::AnswerDialogsWithoutUser();
    }

    // A kind's number is its header section and its place in the stored layout's arrays: kinds
    // that changed places would read every stored layout wrongly.
    void everyKindKeepsItsSectionHeaderTextAndField()
    {
        CPartner partner("name");
        partner.SetOrganization("organization");
        partner.SetEmail("email");
        partner.SetIcq("icq");
        partner.SetPhone("phone");
        partner.SetPaymentType(0, "type 1");
        partner.SetPaymentId(0, "id 1");
        partner.SetPaymentType(1, "type 2");
        partner.SetPaymentId(1, "id 2");
        partner.SetComments("comment");
        const struct
        {
            PartnerColumn kind;
            int section;
            const char* header;
            const char* field;
        } kinds[] = {
            {PartnerColumn::Name, 0, "Name", "name"},
            {PartnerColumn::Organization, 1, "Organization", "organization"},
            {PartnerColumn::Email, 2, "E-mail", "email"},
            {PartnerColumn::Icq, 3, "ICQ", "icq"},
            {PartnerColumn::Phone, 4, "Phone", "phone"},
            {PartnerColumn::PaymentType1, 5, "Payment type 1", "type 1"},
            {PartnerColumn::PaymentId1, 6, "Payment id 1", "id 1"},
            {PartnerColumn::PaymentType2, 7, "Payment type 2", "type 2"},
            {PartnerColumn::PaymentId2, 8, "Payment id 2", "id 2"},
            {PartnerColumn::Comment, 9, "Comment", "comment"},
        };
        QCOMPARE(int(std::size(kinds)), kPartnerColumnCount);
        CPartnersModel model;
        QCOMPARE(model.columnCount(), kPartnerColumnCount);
        for (const auto& [kind, section, header, field] : kinds) {
            QCOMPARE(ColumnIndex(kind), section);
            QCOMPARE(PartnerColumnAt(section), kind);
            QCOMPARE(kPartnerColumns[std::size_t(section)], kind);
            QCOMPARE(PartnerColumnTitle(kind), QString::fromLatin1(header));
            QCOMPARE(model.headerData(section, Qt::Horizontal).toString(), QString::fromLatin1(header));
            QCOMPARE(PartnerField(partner, kind), std::string(field));
        }
    }

    void layoutRoundTripsThroughTheStore()
    {
        const std::vector<uint8_t> defaults = PartnersListLayout::Defaults().ToBytes();
        QCOMPARE(defaults.size(), std::size_t(124));
        QCOMPARE(int(defaults[4 + 4 * 9]), 9);   // columnOrder[9]
        QCOMPARE(int(defaults[84 + 4 * 9]), 70); // columnWidth[9]
        {
            auto dlg = OpenList();
            QCOMPARE(dlg->ReadLayout().ToBytes(), defaults);
            dlg->ToggleColumn(PartnerColumn::Icq);
            QHeaderView* header = dlg->GetList()->horizontalHeader();
            header->resizeSection(ColumnIndex(PartnerColumn::Comment), 123);
            header->moveSection(header->visualIndex(ColumnIndex(PartnerColumn::Comment)), 0);
            dlg->reject(); // Escape keeps the layout as Close does
        }
        const auto stored = m_store->GetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListSettings);
        QVERIFY(stored);
        const PartnersListLayout saved = PartnersListLayout::FromBytes(*stored);
        QCOMPARE(saved.ToBytes(), *stored);
        QCOMPARE(saved.columnCount, 9);
        QCOMPARE(saved.columnVisible[ColumnIndex(PartnerColumn::Icq)], 0);
        QCOMPARE(saved.columnWidth[ColumnIndex(PartnerColumn::Comment)], 123);
        QCOMPARE(saved.columnOrder[0], 8); // Comment is the last of nine header items
        QCOMPARE(saved.columnOrder[1], 0);
        {
            auto dlg = OpenList();
            QHeaderView* header = dlg->GetList()->horizontalHeader();
            QCOMPARE(dlg->ReadLayout().ToBytes(), *stored);
            QCOMPARE(header->logicalIndex(0), ColumnIndex(PartnerColumn::Comment));
            dlg->ToggleColumn(PartnerColumn::Icq); // back with the width it had
            QVERIFY(!header->isSectionHidden(ColumnIndex(PartnerColumn::Icq)));
            QCOMPARE(header->sectionSize(ColumnIndex(PartnerColumn::Icq)), 70);
        }
        for (std::size_t size : {123, 128, 0}) {
            std::vector<uint8_t> odd = *stored;
            odd.resize(size, 0);
            m_store->SetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListSettings, odd);
            QCOMPARE(OpenList()->ReadLayout().ToBytes(), defaults);
        }
    }

    void sortsByEveryKind_data()
    {
        QTest::addColumn<PartnerColumn>("kind");
        QTest::addColumn<QList<int>>("ranks"); // the rank of partners 0..3 under this kind
        const QList<QList<int>> ranks = {{2, 0, 3, 1}, {1, 3, 0, 2}, {0, 2, 1, 3}, {0, 1, 2, 3}, {3, 1, 0, 2},
                                         {1, 0, 3, 2}, {2, 3, 0, 1}, {3, 0, 2, 1}, {1, 2, 3, 0}, {2, 1, 0, 3}};
        for (PartnerColumn kind : kPartnerColumns)
            QTest::newRow(qPrintable(PartnerColumnTitle(kind))) << kind << ranks[ColumnIndex(kind)];
    }

    void sortsByEveryKind()
    {
        QFETCH(PartnerColumn, kind);
        QFETCH(QList<int>, ranks);
        // Byte order: empty first, capitals before small letters, UTF-8 after ASCII.
        const char* values[] = {"", "Bz", "a", "\xc3\xa4"};
        for (int i = 0; i < 4; ++i) {
            CPartnersPropertiesDlg::PartnerTexts t{"x", "x", "x", "x", "x", {"x", "x"}, {"x", "x"}, "x"};
            std::string* fields[] = {&t.name,         &t.organization,   &t.email,        &t.icq,
                                     &t.phone,        &t.paymentType[0], &t.paymentId[0], &t.paymentType[1],
                                     &t.paymentId[1], &t.comments};
            *fields[ColumnIndex(kind)] = values[ranks[i]];
            CPartnersPropertiesDlg::ApplyTexts(t, *Add(""));
        }
        auto dlg = OpenList();
        QAbstractItemModelTester tester(dlg->GetModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        auto order = [&] {
            QList<int> ids;
            for (int row = 0; row < 4; ++row)
                ids << dlg->GetModel()->GetPartner(row)->GetId();
            return ids;
        };
        QList<int> ascending(4);
        for (int i = 0; i < 4; ++i)
            ascending[ranks[i]] = i;

        QHeaderView* header = dlg->GetList()->horizontalHeader();
        dlg->OnHeaderClicked(kind);
        QCOMPARE(order(), ascending);
        QCOMPARE(header->sortIndicatorSection(), ColumnIndex(kind));
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        dlg->OnHeaderClicked(kind);
        QCOMPARE(order(), QList<int>(ascending.rbegin(), ascending.rend()));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        // Another column starts ascending.
        dlg->OnHeaderClicked(PartnerColumnAt((ColumnIndex(kind) + 1) % kPartnerColumnCount));
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    }

    void firstHeaderSortsByOrganizationWhenNameIsHidden()
    {
        Add("a")->SetOrganization("Zeta");
        Add("b")->SetOrganization("Alpha");
        Add("c")->SetOrganization("Mid");
        PartnersListLayout layout = PartnersListLayout::Defaults();
        layout.columnVisible[ColumnIndex(PartnerColumn::Name)] = 0;
        layout.columnCount = 9;
        m_store->SetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListSettings, layout.ToBytes());
        auto dlg = OpenList();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        QHeaderView* header = dlg->GetList()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(5, header->height() / 2));
        QCOMPARE(dlg->GetModel()->GetSortKind(), std::optional(PartnerColumn::Organization));
        QCOMPARE(Names(*dlg), Strs({"b", "c", "a"}));
    }

    void fillsNewestFirstAndShowsCommentsOnOneLine()
    {
        Add("First", "a\r\nb");
        Add("Second", "a b");
        Add("Third", "line one\r\nline two\r\nthree");
        int adds = 0;
        auto dlg = OpenList([&] {
            ++adds;
            Add("Fourth");
        });
        QCOMPARE(Names(*dlg), Strs({"Third", "Second", "First"}));
        QCOMPARE(dlg->GetModel()->CellText(0, PartnerColumn::Comment), QStringLiteral("line one line two three"));

        // The key is the stored comment: "\r" sorts before the blank the cell shows instead.
        dlg->OnHeaderClicked(PartnerColumn::Comment);
        QCOMPARE(Names(*dlg), Strs({"First", "Second", "Third"}));

        // A new partner fills the list again, unsorted, newest first.
        dlg->findChild<QPushButton*>(QStringLiteral("addButton"))->click();
        QCOMPARE(adds, 1);
        QCOMPARE(Names(*dlg), Strs({"Fourth", "Third", "Second", "First"}));
        QCOMPARE(dlg->GetList()->horizontalHeader()->sortIndicatorSection(), -1);
    }

    void deleteAsksWithTheLinkCountAndRemovesExactlyTheSelection()
    {
        CPartner* a = Add("A");
        CPartner* b = Add("B");
        Add("C");
        Add("D");
        for (int32_t id : {b->GetId(), b->GetId(), a->GetId(), int32_t(-1)})
            m_links.AddNewLink()->SetPartnerId(id);
        const int32_t bId = b->GetId();
        auto dlg = OpenList(); // rows: D, C, B, A
        QPushButton* button = dlg->findChild<QPushButton*>(QStringLiteral("deleteButton"));

        Select(*dlg, {1, 2}); // C and B
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        button->click();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{kQuestion + QStringLiteral(" 2 links name the selected partner(s) and will then "
                                                        "show no partner.")});
        QCOMPARE(m_partners.GetCount(), std::size_t(4));

        Select(*dlg, {2, 3}); // B and A
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        QTest::keyClick(dlg->GetList(), Qt::Key_Delete);
        QVERIFY(TestHooks::TakeMessageBoxTexts().value(0).contains(QStringLiteral(" 3 links name ")));
        QCOMPARE(Names(*dlg), Strs({"D", "C"}));
        QCOMPARE(m_links.GetLinks()[0]->GetPartnerId(), bId); // the links stay as they were

        m_links.AddNewLink()->SetPartnerId(m_partners.GetPartners()[0]->GetId());
        Select(*dlg, {1}); // C, now named by one link
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        dlg->GetDeleteAction()->trigger();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{kQuestion + QStringLiteral(" 1 link names the selected partner(s) and will then show "
                                                        "no partner.")});
        Select(*dlg, {0}); // D: no links, no second sentence
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        dlg->GetDeleteAction()->trigger();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{kQuestion});

        // With nothing selected the key and the menu do nothing; the button only refills.
        Select(*dlg, {});
        QTest::keyClick(dlg->GetList(), Qt::Key_Delete);
        dlg->GetDeleteAction()->trigger();
        button->click();
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList());
        QCOMPARE(m_partners.GetCount(), std::size_t(2));
    }

    void editFollowsTheSelectionAndTheKeys()
    {
        Add("A");
        Add("B");
        Add("C");
        auto dlg = OpenList(); // rows: C, B, A
        QPushButton* edit = dlg->findChild<QPushButton*>(QStringLiteral("editButton"));
        QVERIFY(!edit->isEnabled());
        Select(*dlg, {1});
        QVERIFY(edit->isEnabled() && dlg->GetEditAction()->isEnabled() && dlg->GetDeleteAction()->isEnabled());
        Select(*dlg, {});
        QTest::keyClick(dlg->GetList(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(dlg->GetSelectedRows(), (std::vector<int>{0, 1, 2}));
        QVERIFY(!edit->isEnabled() && !dlg->GetEditAction()->isEnabled() && dlg->GetDeleteAction()->isEnabled());
        bool ran = false;
        OnNextDialog([](CPartnersPropertiesDlg&) {}, ran);
        QTest::keyClick(dlg->GetList(), Qt::Key_F2); // three rows: no dialog
        QTest::qWait(1);
        QVERIFY(!ran);

        // F2 on one row: that partner's texts, and OK shows the change.
        Select(*dlg, {1});
        OnNextDialog(
            [](CPartnersPropertiesDlg& props) {
                QLineEdit* name = Edit(props, kFields[0]);
                QCOMPARE(name->text(), QStringLiteral("B"));
                name->setText(QStringLiteral("Bee"));
                QTest::keyClick(name, Qt::Key_Return);
            },
            ran);
        QTest::keyClick(dlg->GetList(), Qt::Key_F2);
        QVERIFY(ran);
        QCOMPARE(Names(*dlg), Strs({"C", "Bee", "A"}));
    }

    void doubleClickEditsARowAndAddsBelowTheRows()
    {
        Add("A");
        Add("B");
        int adds = 0;
        auto dlg = OpenList([&] { ++adds; });
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        QWidget* viewport = dlg->GetList()->viewport();
        const QRect last = dlg->GetList()->visualRect(dlg->GetModel()->index(1, 0));

        bool ran = false;
        QString shown;
        OnNextDialog([&](CPartnersPropertiesDlg& props) { shown = Edit(props, kFields[0])->text(); }, ran);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, last.center());
        QVERIFY(ran);
        QCOMPARE(shown, QStringLiteral("A"));
        QCOMPARE(adds, 0);

        QVERIFY(last.bottom() + 10 < viewport->height());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 10));
        QCOMPARE(adds, 1);
    }

    void newPartnerTakesAllTenFieldsAndRefusesAnEmptyName()
    {
        const QStringList typed =
            Strs({"Ann", "Org", "ann@example.com", "12345", "+1 555", "WebMoney", "Z100", "PayPal", "ann@pp"});
        bool ran = false;
        OnNextDialog(
            [&](CPartnersPropertiesDlg& props) {
                for (int i = 1; i < typed.size(); ++i)
                    QTest::keyClicks(Edit(props, kFields[i]), typed[i]);
                auto* comments = props.findChild<QPlainTextEdit*>(kFields[9]);
                QTest::keyClicks(comments, QStringLiteral("one"));
                QTest::keyClick(comments, Qt::Key_Return); // a new line, not OK
                QTest::keyClicks(comments, QStringLiteral("two"));
                QVERIFY(props.isVisible());

                QTest::keyClick(Edit(props, kFields[4]), Qt::Key_Return);
                QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QStringLiteral("Name field can not be empty")});
                QVERIFY(props.isVisible());
                QCOMPARE(QApplication::focusWidget(), Edit(props, kFields[0]));
                QTest::keyClicks(QApplication::focusWidget(), typed[0]);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            },
            ran);
        QVERIFY(RunNewPartnerFlow(m_partners, nullptr));
        QVERIFY(ran);
        QCOMPARE(m_partners.GetCount(), std::size_t(1));
        const CPartner& p = *m_partners.GetPartners()[0];
        QCOMPARE(p.GetId(), 0);
        for (int section = 0; section < 9; ++section)
            QCOMPARE(QString::fromStdString(PartnerField(p, PartnerColumnAt(section))), typed[section]);
        QCOMPARE(p.GetComments(), std::string("one\r\ntwo"));
    }

    void cancelChangesNothing()
    {
        bool ran = false;
        OnNextDialog(
            [](CPartnersPropertiesDlg& props) {
                QTest::keyClicks(Edit(props, kFields[0]), QStringLiteral("Nobody"));
                QTest::keyClick(&props, Qt::Key_Escape);
            },
            ran);
        QVERIFY(!RunNewPartnerFlow(m_partners, nullptr));
        QVERIFY(ran);
        QCOMPARE(m_partners.GetCount(), std::size_t(0));

        CPartner* p = Add("K\xc3\xa4pt", "x\r\ny");
        p->SetPaymentId(1, "id");
        const CPartner before = *p;
        CPartnersPropertiesDlg cancelled(p);
        for (const QString& name : kFields.mid(0, 9))
            Edit(cancelled, name)->setText(QStringLiteral("changed"));
        cancelled.reject();
        // Untouched texts go back exactly as they were stored, line breaks included.
        CPartnersPropertiesDlg confirmed(p);
        QCOMPARE(confirmed.findChild<QPlainTextEdit*>(kFields[9])->toPlainText(), QStringLiteral("x\ny"));
        confirmed.accept();
        for (PartnerColumn kind : kPartnerColumns)
            QCOMPARE(PartnerField(*p, kind), PartnerField(before, kind));
    }

    void keyboardAndScreenReaderAccess()
    {
        Add("A");
        bool ran = false;
        OnNextDialog(
            [](CPartnersPropertiesDlg& props) {
                QCOMPARE(props.windowTitle(), QStringLiteral("Partner properties"));
                QCOMPARE(props.accessibleName(), props.windowTitle());
                QStringList labelled = LabelledFields(&props, true);
                labelled.sort();
                QStringList fields = kFields;
                fields.sort();
                QCOMPARE(labelled, fields);
                QCOMPARE(TabChain(int(kFields.size())), kFields);
                QCOMPARE(QApplication::focusWidget()->parentWidget()->objectName(), QStringLiteral("buttonBox"));
            },
            ran);
        RunNewPartnerFlow(m_partners, nullptr);
        QVERIFY(ran);

        auto dlg = OpenList();
        QCOMPARE(dlg->windowTitle(), QStringLiteral("Partners"));
        QCOMPARE(dlg->accessibleName(), dlg->windowTitle());
        QCOMPARE(LabelledFields(dlg.get()), Strs({"partnersList"}));
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
        Select(*dlg, {0});
        QCOMPARE(TabChain(5), Strs({"partnersList", "addButton", "editButton", "deleteButton", "closeButton"}));
        QTest::keyClick(dlg->GetList(), Qt::Key_Return); // Close is the default button
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
    }

    void placementIsRememberedAndABadOneIgnored()
    {
        QSize chosen;
        {
            auto dlg = OpenList();
            dlg->show();
            QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
            chosen = dlg->size() + QSize(57, 31);
            dlg->resize(chosen);
            dlg->accept();
        }
        QVERIFY(m_store->GetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListDialog));
        QCOMPARE(OpenList()->size(), chosen);
        m_store->SetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListDialog, {1, 2, 3});
        auto dlg = OpenList();
        QVERIFY(dlg->size() != chosen);
        QVERIFY(dlg->width() >= dlg->GetList()->horizontalHeader()->length());
    }
};

QTEST_MAIN(PartnersTest)
#include "PartnersTest.moc"
