// The window's menus, toolbar and the actions behind them, with their keys.
#include "MainFrame.h"

#include "Filters.h"
#include "LinksView.h"
#include "core/history/HistoryStore.h"
#include "core/platform/SettingsStore.h"
#include "gui/reports/LinkHistoryPane.h"
#include "gui/widgets/Icons.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <ctime>
#include <functional>
#include <iterator>
#include <ranges>

namespace {

constexpr std::string_view kHistoryPaneSetting = "HistoryPane";

// Calls back when a widget's children ask for a new layout (a label got a longer text).
class CLayoutRequestWatcher : public QObject
{
public:
    CLayoutRequestWatcher(QObject* parent, std::function<void()> onRequest)
        : QObject(parent), m_onRequest(std::move(onRequest))
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            m_onRequest();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onRequest;
};

} // namespace

const CMainFrame::CommandSpec& CMainFrame::Spec(Command command)
{
    using enum Command;
    using enum EnabledWhen;
    // In the order of the commands: a command is its row's index.
    static constexpr CommandSpec kCommands[] = {
        {Add, QT_TR_NOOP("&Add..."), "add", Qt::CTRL | Qt::Key_N, &CMainFrame::OnAdd, Free},
        {AddPack, QT_TR_NOOP("Add &Pack..."), "add-pack", {}, &CMainFrame::OnAddPack, Free},
        {Duplicate, QT_TR_NOOP("&Duplicate"), "duplicate", {}, &CMainFrame::OnDuplicate, FreeSelection},
        {Edit, QT_TR_NOOP("&Edit..."), "edit", Qt::Key_F2, &CMainFrame::OnEdit, FreeSelection},
        {Delete, QT_TR_NOOP("&Delete"), "delete", {}, &CMainFrame::OnDelete, Selection},
        {CheckLink, QT_TR_NOOP("&Check Link"), "check", Qt::Key_F5, &CMainFrame::OnCheckLink, FreeSelection},
        {CheckAll, QT_TR_NOOP("Check A&ll Links"), "check-all", {}, &CMainFrame::OnCheckAll, Free},
        {Renew, QT_TR_NOOP("&Renew Links"), "renew", {}, &CMainFrame::OnRenew, FreeSelection},
        {AddPartner, QT_TR_NOOP("Add New &Partner..."), "partner-add", Qt::CTRL | Qt::Key_T, &CMainFrame::OnAddPartner,
         Free},
        {FindDuplicates, QT_TR_NOOP("Find duplicates..."), "find", {}, &CMainFrame::OnFindDuplicates, TwoLinks},
        {ImportExcel, QT_TR_NOOP("Import &from Excel..."), "import-excel", Qt::CTRL | Qt::Key_I,
         &CMainFrame::OnImportFromExcel, Free},
        {ExportText, QT_TR_NOOP("&Text file..."), "export-text", {}, &CMainFrame::OnExportText, Free},
        {ExportExcel, QT_TR_NOOP("&Excel workbook..."), "export-excel", {}, &CMainFrame::OnExportExcel, Free},
        {Exit, QT_TR_NOOP("E&xit"), "", {}, &CMainFrame::OnExit, Always},
        {PartnerList, QT_TR_NOOP("&Partner List..."), "partner-list", Qt::Key_F8, &CMainFrame::OnPartnerList, Free},
        {Options, QT_TR_NOOP("&Options..."), "options", Qt::ALT | Qt::Key_F7, &CMainFrame::OnOptions, Free},
        {HistoryPane, QT_TR_NOOP("&History Pane"), "", {}, &CMainFrame::OnHistoryPane, Always},
        {Help, QT_TR_NOOP("&Help"), "help", Qt::Key_F1, &CMainFrame::OnHelp, Always},
        {WebSite, QT_TR_NOOP("Product &Web Site"), "website", {}, &CMainFrame::OnWebSite, Always},
        {EmailSupport, QT_TR_NOOP("Email to &Support"), "email-support", {}, &CMainFrame::OnEmailSupport, Always},
        {About, QT_TR_NOOP("&About"), "about", {}, &CMainFrame::OnAbout, Always},
        {ViewSource, QT_TR_NOOP("View Link &Source..."), "view-source", {}, &CMainFrame::OnViewSource, Selection},
        {Copy, QT_TR_NOOP("Copy to Clipboard"), "copy", {}, &CMainFrame::OnCopy, Selection},
        {ExternalLinks,
         QT_TR_NOOP("External Links Info..."),
         "external-links",
         {},
         &CMainFrame::OnExternalLinks,
         OneRow},
        {OpenInBrowser, QT_TR_NOOP("Open in browser"), "open-browser", {}, &CMainFrame::OnOpenInBrowser, OneRow},
        {Find, QT_TR_NOOP("Find..."), "find", Qt::CTRL | Qt::Key_F, &CMainFrame::FindInList, Always},
        {FindNext, QT_TR_NOOP("Find Next"), "", Qt::Key_F3, &CMainFrame::OnFindNext, Always},
    };
    static_assert(std::size(kCommands) == kCommandCount);
    static_assert(std::ranges::all_of(std::views::iota(std::size_t{0}, kCommandCount),
                                      [](std::size_t i) { return kCommands[i].command == static_cast<Command>(i); }));
    return kCommands[static_cast<std::size_t>(command)];
}

QAction* CMainFrame::GetAction(Command command) const
{
    return m_actions[static_cast<std::size_t>(command)];
}

void CMainFrame::MakeActions()
{
    for (std::size_t i = 0; i < kCommandCount; ++i) {
        const CommandSpec& spec = Spec(static_cast<Command>(i));
        auto* action = new QAction(tr(spec.text), this);
        if (*spec.icon)
            action->setIcon(OrvexIcon(QString::fromLatin1(spec.icon)));
        if (spec.key.key() != Qt::Key_unknown) {
            action->setShortcut(QKeySequence(spec.key));
            action->setShortcutContext(Qt::WindowShortcut);
        }
        connect(action, &QAction::triggered, this, [this, command = spec.command] { RunCommand(command); });
        m_actions[i] = action;
    }
}

void CMainFrame::BuildMenus()
{
    using enum Command;
    MakeActions();
    const auto addActions = [this](QMenu* menu, std::initializer_list<Command> commands) {
        for (Command command : commands)
            menu->addAction(GetAction(command));
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    addActions(file, {Add, AddPack, Duplicate, Edit, Delete});
    file->addSeparator();
    addActions(file, {CheckLink, CheckAll, Renew, AddPartner, FindDuplicates});
    file->addSeparator();
    addActions(file, {ImportExcel});
    addActions(file->addMenu(tr("Export &to ...")), {ExportText, ExportExcel});
    file->addSeparator();
    addActions(file, {Exit});

    QMenu* view = menuBar()->addMenu(tr("&View"));
    addActions(view, {PartnerList, Options});
    view->addSeparator();
    GetAction(HistoryPane)->setCheckable(true);
    addActions(view, {HistoryPane});
    ShowHistoryPane(
        m_workspace.GetSettingsStore().GetInt(SettingsNames::kGuiSection, kHistoryPaneSetting).value_or(0) == 1);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    addActions(help, {Help, WebSite, EmailSupport});
    help->addSeparator();
    addActions(help, {About});

    // Ctrl+F and F3 work in the window without a menu entry.
    addAction(GetAction(Find));
    addAction(GetAction(FindNext));

    m_listMenu = new QMenu(this);
    addActions(m_listMenu, {Add, AddPack, Duplicate, Edit, Delete});
    m_listMenu->addSeparator();
    addActions(m_listMenu, {CheckLink, CheckAll, Renew});
    m_listMenu->addSeparator();
    addActions(m_listMenu, {ViewSource, Copy, ExternalLinks});
    m_listMenu->addSeparator();
    addActions(m_listMenu, {OpenInBrowser});
}

void CMainFrame::BuildToolBar()
{
    QToolBar* bar = addToolBar(tr("Main"));
    bar->setObjectName(QStringLiteral("MainToolBar"));
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setMovable(false);
    const auto caption = [this](Command command, const QString& text) {
        QAction* a = GetAction(command);
        a->setIconText(text);
        return a;
    };
    bar->addAction(caption(Command::Add, tr("Add")));
    bar->addAction(caption(Command::AddPack, tr("Add Pack")));
    bar->addSeparator();
    bar->addAction(caption(Command::Edit, tr("Edit")));
    bar->addSeparator();
    bar->addAction(caption(Command::CheckLink, tr("Check")));
    bar->addAction(caption(Command::CheckAll, tr("Check All")));
    bar->addSeparator();
    bar->addAction(caption(Command::Options, tr("Options")));
    bar->addSeparator();
    m_projectBox = new QComboBox(bar);
    m_statusBox = new QComboBox(bar);
    m_partnerBox = new QComboBox(bar);
    // No labels stand beside them on the toolbar; screen readers say these instead.
    m_projectBox->setAccessibleName(tr("Project filter"));
    m_statusBox->setAccessibleName(tr("Status filter"));
    m_partnerBox->setAccessibleName(tr("Partner filter"));
    bar->addWidget(m_projectBox);
    bar->addSeparator();
    bar->addWidget(m_statusBox);
    bar->addWidget(m_partnerBox);
    m_filters = new CLinkFilters(m_projectBox, m_statusBox, m_partnerBox, m_workspace.GetSettingsStore(), this);
}

void CMainFrame::SetMinimumFromBars()
{
    // The smallest the window gets: the menu bar, the toolbar (its buttons fold into the toolbar's
    // own menu when it is narrow), the list's header with three rows and the status bar, one under
    // the other, as wide as the totals panes need for their texts. The window's layout alone would
    // let the list shrink to nothing and cut the totals to a few letters.
    const auto update = [this] {
        const QToolBar* bar = findChild<QToolBar*>(QStringLiteral("MainToolBar"));
        const CLinksListCtrl* list = m_view->GetList();
        const int listHeight = list->horizontalHeader()->sizeHint().height() +
                               3 * list->verticalHeader()->defaultSectionSize() + 2 * list->frameWidth() +
                               list->horizontalScrollBar()->sizeHint().height();
        QSize size(std::max({bar->minimumSizeHint().width(), statusBar()->minimumSizeHint().width(),
                             menuBar()->minimumSizeHint().width()}),
                   menuBar()->sizeHint().height() + bar->sizeHint().height() + listHeight +
                       statusBar()->sizeHint().height());
        size = size.expandedTo(minimumSizeHint());
        // Never more than the screen can show.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableSize());
        setMinimumSize(size);
    };
    update();
    // The totals grow with the numbers they show, and the minimum with them.
    statusBar()->installEventFilter(new CLayoutRequestWatcher(statusBar(), update));
}

QWidget* CMainFrame::BuildListWithHistoryPane()
{
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("listAndHistory"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_view);
    m_historyPane = new CLinkHistoryPane(splitter);
    splitter->addWidget(m_historyPane);
    splitter->setStretchFactor(0, 1);
    m_historyPane->setVisible(false);
    return splitter;
}

void CMainFrame::ShowHistoryPane(bool shown)
{
    m_historyPane->setVisible(shown);
    GetAction(Command::HistoryPane)->setChecked(shown);
    m_workspace.GetSettingsStore().SetInt(SettingsNames::kGuiSection, kHistoryPaneSetting, shown ? 1 : 0);
    UpdateHistoryPane();
}

void CMainFrame::UpdateHistoryPane()
{
    if (!m_historyPane || !m_historyPane->isVisibleTo(this))
        return;
    const std::vector<CLink*> links = SelectedLinks();
    // What the last checks queued is written first, so that the pane shows them.
    if (const std::shared_ptr<CHistoryStore> store = m_workspace.GetHistory())
        store->Flush();
    m_historyPane->SetStore(m_workspace.GetHistory().get());
    m_historyPane->ShowLink(links.size() == 1 ? links.front() : nullptr, static_cast<int64_t>(std::time(nullptr)));
}
