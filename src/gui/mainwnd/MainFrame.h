#pragma once

#include "ProductInfo.h"

#include "core/runs/CheckRuns.h"
#include "core/workspace/Workspace.h"
#include "gui/widgets/BackgroundWork.h"

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct ExchangeContext;
struct LinkCommandContext;
class CLinkFilters;
class CHelpWindow;
class CLinkHistoryPane;
class CListSearch;
class CLinksView;
class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTimer;

/// The main window: menu bar, toolbar with the three filter boxes, the links list, the two totals
/// panes, the command table with its enabling rules, the 30-second save and the one-minute date
/// refresh.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    /// The window's commands, as the menus, toolbar and keys offer them.
    enum class Command
    {
        // File menu
        Add,
        AddPack,
        Duplicate,
        Edit,
        Delete,
        CheckLink,
        CheckAll,
        Renew,
        AddPartner,
        FindDuplicates,
        ImportExcel,
        ExportText,
        ExportExcel,
        Exit,
        // View menu
        PartnerList,
        Options,
        HistoryPane, ///< shows or hides the selected link's history under the list
                     // Help menu
        Help,
        WebSite,
        EmailSupport,
        About,
        // the list's menu only
        ViewSource,
        Copy,
        ExternalLinks,
        OpenInBrowser,
        // keys only (Ctrl+F, F3)
        Find,
        FindNext,
    };
    Q_ENUM(Command)
    static constexpr std::size_t kCommandCount = static_cast<std::size_t>(Command::FindNext) + 1;
    static constexpr Command kImportFromExcelCommand = Command::ImportExcel;
    static constexpr const char* kProductWebSite = ORVEX_WEB_SITE;
    static constexpr const char* kSupportAddress = ORVEX_SUPPORT_ADDRESS;

    explicit CMainFrame(CWorkspace& workspace, QWidget* parent = nullptr);
    ~CMainFrame() override;

    /// Takes the open database's collections (again, after a switch) and fills the list.
    void AttachDatabase();
    void RefreshFilters();
    void FillList(bool full);

    /// The one-time balloon at the main menu after the first start declined the import.
    void ShowImportHint();
    /// Runs a command after the current event (start-up posts the import this way).
    void PostCommand(Command command);
    /// A second "/check" start asked this copy to check every link: the unattended run goes on in
    /// the background, and the list shows its result when it ends. False when it could not be
    /// taken on (the user's own check is running).
    bool OnCheckAllRequested();
    /// A second start asked this copy to come to the front.
    void BringToFront();
    /// Timer 4: starts the date refresh on its own thread unless one is running or a check run
    /// holds the links.
    void StartDateRefresh();

    /// Asks for a text and selects the first row of the list that shows it.
    void FindInList();
    /// Runs a command as the menu would; a command whose rule says no is ignored.
    void RunCommand(Command command);
    bool IsCommandEnabled(Command command) const;
    QAction* GetAction(Command command) const;
    CLinksView* GetView() const { return m_view; }
    QString GetTotalPaneText() const;
    QString GetSelectedPaneText() const;

    bool WasImportHintShown() const { return m_importHintShown; }
    int GetCheckAllRequests() const { return m_checkAllRequests; }
    bool IsScheduledRunActive() const { return m_scheduledRun.IsRunning(); }
    bool IsDateRefreshRunning() const { return m_refresh.IsRunning(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// What a command needs before it may run.
    enum class EnabledWhen
    {
        Always,
        Free,          ///< a database is open and no handed-over run holds the links
        FreeSelection, ///< as Free, and at least one row is selected
        Selection,     ///< a database is open and at least one row is selected
        OneRow,        ///< a database is open and exactly one row is selected
        TwoLinks,      ///< a database is open and holds two links or more
    };
    /// A command's action and what it runs: one row of the table in MainFrameMenus.cpp.
    struct CommandSpec
    {
        Command command;
        const char* text;    ///< untranslated, in this class's context
        const char* icon;    ///< the name OrvexIcon knows it by; "" for none
        QKeyCombination key; ///< Qt::Key_unknown for none
        void (CMainFrame::*handler)();
        EnabledWhen enabledWhen;
    };
    static const CommandSpec& Spec(Command command);
    bool IsEnabled(EnabledWhen rule) const;

    /// An action for each command of the table, its trigger bound to the command's handler.
    void MakeActions();
    void BuildMenus();
    void BuildToolBar();
    /// A minimum size at which the bars and the list's first rows keep clear of each other.
    void SetMinimumFromBars();
    void UpdateCommandStates();
    void UpdateStatusPanes();
    bool IsAttached() const;
    std::vector<CLink*> SelectedLinks() const;
    void ShowListMenu(const QPoint& globalPos);
    /// The history pane under the list, shown as the user left it.
    QWidget* BuildListWithHistoryPane();
    void ShowHistoryPane(bool shown);
    /// Shows the history of the one selected link (nothing with none or several).
    void UpdateHistoryPane();

    /// Runs a command that changes records, with the background work kept off them (see .cpp).
    void WhileEditing(const std::function<void()>& command);
    /// A link command over the selected links, run while editing.
    void RunLinkCommand(const std::function<void(const LinkCommandContext&, const std::vector<CLink*>&)>& command);
    void OnAdd();
    void OnAddPack();
    void OnEdit();
    void OnDuplicate();
    void OnRenew();
    void OnAddPartner();
    void OnOptions();
    void OnCheckLink();
    void OnPartnerList();
    void StartScheduledRun();
    void OnDelete();
    void OnCheckLinks(const std::vector<CLink*>& links);
    void OnCheckAll();
    void OnCopy();
    /// View Link Source and External Links Info: of the first selected link.
    void OnViewSource();
    void OnExternalLinks();
    void OnOpenInBrowser();
    void OnFindNext();
    void OnFindDuplicates();
    void OnHistoryPane();
    void OnHelp();
    void OnWebSite();
    void OnEmailSupport();
    void OnAbout();
    void OnExit();
    void OnImportFromExcel();
    void OnExportText();
    void OnExportExcel();
    /// An export reads every record on a worker: it runs while editing, so nothing writes them.
    void RunExport(void (*exportTo)(const ExchangeContext&));
    void OnSaveTimer();
    /// The ends of the background work, heard on this thread.
    void OnDateRefreshEnded();
    void OnScheduledRunEnded();
    /// Waits for a date refresh walking the links and takes its result, before records change here.
    void FinishDateRefresh();
    /// Writes the refresh's letter here and mails it on a thread of its own.
    void MailLetter(const NotificationLists& lists);

    CWorkspace& m_workspace;
    CLinksView* m_view = nullptr;
    CLinkHistoryPane* m_historyPane = nullptr;
    CLinkFilters* m_filters = nullptr;
    QPointer<CHelpWindow> m_help;          ///< made at the first F1, then shown again
    std::unique_ptr<CListSearch> m_search; ///< Find and Find Next, with the last search
    QComboBox* m_projectBox = nullptr;
    QComboBox* m_statusBox = nullptr;
    QComboBox* m_partnerBox = nullptr;
    QLabel* m_totalPane = nullptr;
    QLabel* m_selectedPane = nullptr;
    QMenu* m_listMenu = nullptr;
    std::array<QAction*, kCommandCount> m_actions{};      ///< by command
    QTimer* m_saveTimer = nullptr;                        ///< timer 1: the database every 30 seconds
    QTimer* m_refreshTimer = nullptr;                     ///< timer 4: the date refresh a minute after the last one
    std::mutex m_checkRunLock;                            ///< held for an interactive run; taken for good at close
    CBackgroundTask<NotificationLists> m_refresh;         ///< the date refresh, running from its start to its end
    bool m_refreshNotifies = false;                       ///< the running refresh's changes are to be mailed
    std::vector<QPointer<CBackgroundWork>> m_letters;     ///< the refresh's letters; each goes when it is out
    std::atomic<int> m_stopMailing{0};                    ///< set at close: abandons those letters
    CBackgroundTask<ScheduledCheckReport> m_scheduledRun; ///< the handed-over run, from its start to its end
    bool m_importHintShown = false;
    int m_editing = 0;              ///< editing commands under way (dialogs open)
    bool m_checkAllPending = false; ///< a handed-over check waits for the open dialog
    bool m_saveFailed = false;      ///< the last timed save failed; the status bar says why
    int m_checkAllRequests = 0;
};
