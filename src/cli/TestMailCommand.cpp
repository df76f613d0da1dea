#include "TestMailCommand.h"

#include "CommandLine.h"
#include "core/mail/Notifications.h"
#include "core/platform/Paths.h"
#include "core/platform/SettingsStore.h"
#include "core/platform/TerminalText.h"
#include "core/storage/DatabasePath.h"
#include "core/storage/ORXDatabase.h"
#include "core/workspace/Workspace.h"

#include <cstdio>

int RunTestMailCommand(const CommandLine& /*commandLine*/)
{
    // Read-only: a missing settings file leaves the defaults (and no server, so nothing is tried),
    // and the database is never saved, so a run cannot change what the user keeps.
    const std::string folder = Paths::FindProgramFolder();
    std::string settingsError;
    const COptions options = CWorkspace::ReadStoredOptions(folder, &settingsError);
    if (!settingsError.empty()) {
        // Testing the defaults would say nothing about the user's mail server.
        PrintEscaped(stderr, "orvex: %s\n", settingsError.c_str());
        return 1;
    }

    // A database that is missing or does not load leaves both collections empty: the letter then
    // carries the signature alone, which is all a test of the mail settings needs.
    CORXDatabase database;
    database.Load(ResolveDatabasePath(options.GetDatabasePath(), folder));

    CNotificationsManager* manager = GetNotificationsManager();
    if (!manager) {
        std::puts("Can not connect to specified server.");
        return 1;
    }
    const MailSettings settings = CWorkspace::BuildMailSettings(options, *OpenSettingsStore());
    manager->SetSources({[&settings] { return settings; },
                         [&database]() -> const CPartnersManager* { return database.GetPartners(); },
                         [&database]() -> const CLinksManager* { return database.GetLinks(); }});

    MailOutcome outcome;
    const int result = manager->SendTestNotification(
        settings.mailTo, settings.smtpServer, settings.smtpPort, settings.mailFrom, settings.smtpAuth,
        settings.smtpUser, settings.smtpPassword, &outcome, settings.allowUnencryptedPassword);
    FreeNotificationsManager();

    if (result == 0) {
        std::puts("Test notification sended successfully.");
        return 0;
    }
    // As the options' Test button words it: a server that was reached and refused TLS or the login
    // is no connection problem, so the reason leads.
    if (result == 2)
        std::puts("Connection completed successful but message sending failed.");
    else if (!outcome.connected)
        std::puts("Can not connect to specified server.");
    std::printf("%s\n", MailOutcome::Printable(outcome.reason).c_str());
    // A reply of several lines still reads as one line of output.
    std::printf("Server reply: %s\n",
                outcome.serverReply.empty() ? "(none)" : MailOutcome::Printable(outcome.serverReply).c_str());
    return 1;
}
