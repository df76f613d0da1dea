// A build without the window (ORVEX_GUI=OFF): "/check" and the command-line forms only.
#include "AppWindow.h"

#include <QCoreApplication>
#include <cstdio>

std::unique_ptr<IAppWindow> MakeAppWindow(CWorkspace& /*workspace*/)
{
    return nullptr;
}

std::unique_ptr<QCoreApplication> MakeQtApplication(int& argc, char** argv, bool /*window*/)
{
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessel Development"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvex"));
    return app;
}

int RunCrashDialog(int& /*argc*/, char** /*argv*/, const std::string& reportPath)
{
    // Only a window's fault asks for the dialog, and this build has no window; say where the report is.
    std::fprintf(stderr, "orvex: the crash report is in %s\n", reportPath.c_str());
    return 1;
}
