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

QAction* CMainFrame::MakeAction(int command, const QString& text, const QString& icon, const QKeySequence& key)
{
    auto* action = new QAction(text, this);
    if (!icon.isEmpty())
        action->setIcon(OrvexIcon(icon));
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    m_actions[command] = action;
    return action;
}

void CMainFrame::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(MakeAction(CmdAdd, tr("&Add..."), QStringLiteral("add"), QKeySequence(Qt::CTRL | Qt::Key_N)));
    file->addAction(MakeAction(CmdAddPack, tr("Add &Pack..."), QStringLiteral("add-pack")));
    file->addAction(MakeAction(CmdDuplicate, tr("&Duplicate"), QStringLiteral("duplicate")));
    file->addAction(MakeAction(CmdEdit, tr("&Edit..."), QStringLiteral("edit"), QKeySequence(Qt::Key_F2)));
    file->addAction(MakeAction(CmdDelete, tr("&Delete"), QStringLiteral("delete")));
    file->addSeparator();
    file->addAction(MakeAction(CmdCheckLink, tr("&Check Link"), QStringLiteral("check"), QKeySequence(Qt::Key_F5)));
    file->addAction(MakeAction(CmdCheckAll, tr("Check A&ll Links"), QStringLiteral("check-all")));
    file->addAction(MakeAction(CmdRenew, tr("&Renew Links"), QStringLiteral("renew")));
    file->addAction(MakeAction(CmdAddPartner, tr("Add New &Partner..."), QStringLiteral("partner-add"),
                               QKeySequence(Qt::CTRL | Qt::Key_T)));
    file->addAction(MakeAction(CmdFindDuplicates, tr("Find duplicates..."), QStringLiteral("find")));
    file->addSeparator();
    file->addAction(MakeAction(CmdImportExcel, tr("Import &from Excel..."), QStringLiteral("import-excel"),
                               QKeySequence(Qt::CTRL | Qt::Key_I)));
    QMenu* exportMenu = file->addMenu(tr("Export &to ..."));
    exportMenu->addAction(MakeAction(CmdExportText, tr("&Text file..."), QStringLiteral("export-text")));
    exportMenu->addAction(MakeAction(CmdExportExcel, tr("&Excel workbook..."), QStringLiteral("export-excel")));
    file->addSeparator();
    file->addAction(MakeAction(CmdExit, tr("E&xit")));

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(
        MakeAction(CmdPartnerList, tr("&Partner List..."), QStringLiteral("partner-list"), QKeySequence(Qt::Key_F8)));
    view->addAction(
        MakeAction(CmdOptions, tr("&Options..."), QStringLiteral("options"), QKeySequence(Qt::ALT | Qt::Key_F7)));
    view->addSeparator();
    QAction* history = MakeAction(CmdHistoryPane, tr("&History Pane"));
    history->setCheckable(true);
    view->addAction(history);
    ShowHistoryPane(
        m_workspace.GetSettingsStore().GetInt(SettingsNames::kGuiSection, kHistoryPaneSetting).value_or(0) == 1);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(MakeAction(CmdHelp, tr("&Help"), QStringLiteral("help"), QKeySequence(Qt::Key_F1)));
    help->addAction(MakeAction(CmdWebSite, tr("Product &Web Site"), QStringLiteral("website")));
    help->addAction(MakeAction(CmdEmailSupport, tr("Email to &Support"), QStringLiteral("email-support")));
    help->addSeparator();
    help->addAction(MakeAction(CmdAbout, tr("&About"), QStringLiteral("about")));

    // Commands only the list's menu offers, and Ctrl+F and F3.
    MakeAction(CmdViewSource, tr("View Link &Source..."), QStringLiteral("view-source"));
    MakeAction(CmdCopy, tr("Copy to Clipboard"), QStringLiteral("copy"));
    MakeAction(CmdExternalLinks, tr("External Links Info..."), QStringLiteral("external-links"));
    MakeAction(CmdOpenInBrowser, tr("Open in browser"), QStringLiteral("open-browser"));
    addAction(MakeAction(CmdFind, tr("Find..."), QStringLiteral("find"), QKeySequence(Qt::CTRL | Qt::Key_F)));
    addAction(MakeAction(CmdFindNext, tr("Find Next"), {}, QKeySequence(Qt::Key_F3)));

    m_listMenu = new QMenu(this);
    for (int id : {CmdAdd, CmdAddPack, CmdDuplicate, CmdEdit, CmdDelete})
        m_listMenu->addAction(m_actions[id]);
    m_listMenu->addSeparator();
    for (int id : {CmdCheckLink, CmdCheckAll, CmdRenew})
        m_listMenu->addAction(m_actions[id]);
    m_listMenu->addSeparator();
    for (int id : {CmdViewSource, CmdCopy, CmdExternalLinks})
        m_listMenu->addAction(m_actions[id]);
    m_listMenu->addSeparator();
    m_listMenu->addAction(m_actions[CmdOpenInBrowser]);
}

void CMainFrame::BuildToolBar()
{
    QToolBar* bar = addToolBar(tr("Main"));
    bar->setObjectName(QStringLiteral("MainToolBar"));
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setMovable(false);
    const auto caption = [this](int id, const QString& text) {
        QAction* a = m_actions[id];
        a->setIconText(text);
        return a;
    };
    bar->addAction(caption(CmdAdd, tr("Add")));
    bar->addAction(caption(CmdAddPack, tr("Add Pack")));
    bar->addSeparator();
    bar->addAction(caption(CmdEdit, tr("Edit")));
    bar->addSeparator();
    bar->addAction(caption(CmdCheckLink, tr("Check")));
    bar->addAction(caption(CmdCheckAll, tr("Check All")));
    bar->addSeparator();
    bar->addAction(caption(CmdOptions, tr("Options")));
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
    if (QAction* action = GetAction(CmdHistoryPane))
        action->setChecked(shown);
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
