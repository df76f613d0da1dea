#pragma once

// The program with its main window, as a user starts it for the first time: a fresh program
// folder below `home`, no window settings, and message boxes that answer at once.

#include "app/ORXApp.h"
#include "core/records/LinksManager.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// Null when the start failed. `freshSettings` false starts again with the window settings the
// last start left.
inline std::unique_ptr<CORXApp> StartTestProgram(const QTemporaryDir& home, bool freshSettings = true)
{
    qputenv("ORVEX_HOME", QFile::encodeName(home.path() + QStringLiteral("/home/")));
    if (freshSettings) {
        QSettings settings(QStringLiteral("Tessel Development"), QStringLiteral("Orvex"));
        settings.clear();
        // A page that fails in a way that may pass is tried again at once, not after half a minute.
        settings.setValue(QStringLiteral("RetryWaitSeconds"), 0);
    }
    TestHooks::AnswerDialogsWithoutUser();
    auto app = std::make_unique<CORXApp>(false);
    if (!app->InitInstance())
        return nullptr;
    // What the start showed (the first start's import question) is no test's business.
    TestHooks::AnswerDialogsWithoutUser();
    return app;
}

// The same in a folder of its own, ended as the user would (settings and database saved) when it
// goes. `app` is null when the start failed.
struct TestProgram
{
    QTemporaryDir home;
    std::unique_ptr<CORXApp> app = StartTestProgram(home);

    ~TestProgram()
    {
        if (app)
            app->ExitInstance();
    }
    CMainFrame& Frame() const { return *app->GetMainFrame(); }
    CLinksManager& Links() const { return *app->GetWorkspace().GetDatabase().GetLinks(); }
};
