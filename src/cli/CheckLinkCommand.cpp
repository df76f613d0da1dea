#include "CheckLinkCommand.h"

#include "CommandLine.h"
#include "core/fetch/Url.h"
#include "core/page/LinkCheck.h"
#include "core/page/PageAnalysis.h"
#include "core/pagerank/PageRank.h"
#include "core/platform/Paths.h"
#include "core/platform/TerminalText.h"
#include "core/records/Link.h"
#include "core/workspace/Workspace.h"

#include <cstdio>

namespace {

// The dates of a one-off check are not the user's business: a year ahead keeps them out of the verdict.
constexpr double kOneYearDays = 365.0;

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// Read-only: the settings file is used when there is one, nothing is created or saved.
void UseStoredCheckSettings()
{
    const std::string folder = Paths::FindProgramFolder();
    std::string settingsError;
    const COptions options = CWorkspace::ReadStoredOptions(folder, &settingsError);
    if (!settingsError.empty())
        PrintEscaped(stderr, "orvex: %s; going on without its proxy and warning period\n", settingsError.c_str());
    SetCheckSettings(CWorkspace::BuildCheckSettings(options, *OpenSettingsStore()));
}

} // namespace

int RunPageReportCommand(const CommandLine& commandLine)
{
    UseStoredCheckSettings();
    std::string report;
    const bool made = commandLine.action == CommandLine::Action::LinkInfo
                          ? ExternalLinksInfo(NormalizeUrl(commandLine.fromPage), report)
                          : LinkSourceText(commandLine.fromPage, commandLine.toPage, report);
    PrintReport(report);
    if (!made)
        PrintEscaped(stderr, "orvex: the page could not be read or parsed\n");
    return made ? 0 : 1;
}

int RunCheckLinkCommand(const CommandLine& commandLine)
{
    UseStoredCheckSettings();

    CLink link;
    link.SetFromPage(commandLine.fromPage);
    link.SetToPage(commandLine.toPage);
    link.SetAnchor(commandLine.anchor);
    if (commandLine.expires.IsValid()) {
        // A period of no days makes the expiry date the last payment date itself.
        link.SetLastPaymentDate(commandLine.expires);
        link.SetPeriod(OleDateTimeSpan(0.0));
    } else {
        link.SetLastPaymentDate(OleDateTime::Today());
        link.SetPeriod(OleDateTimeSpan(kOneYearDays));
    }

    bool changed = false;
    CheckEvidence evidence;
    CheckLink(&link, changed, false, &evidence);
    const PageFindings& findings = evidence.findings;
    CheckPageRank(&link, changed);

    PrintEscaped(stdout, "status: %s\n", GetStatusName(link.GetStatus()).c_str());
    PrintEscaped(stdout, "external links: %d\n", link.GetExternalLinks());
    PrintEscaped(stdout, "pagerank: %d\n", link.GetCurrentPR());
    for (const MatchingAnchor& match : findings.matches)
        PrintEscaped(stdout, "anchor: href=%s rel=%s text=%s\n", Quoted(match.href).c_str(), Quoted(match.rel).c_str(),
                     Quoted(match.text).c_str());
    for (const std::string& line : evidence.Lines(link.GetStatus()))
        PrintEscaped(stdout, "evidence: %s\n", line.c_str());

    const uint32_t status = link.GetStatus();
    return status == StatusOk || status == StatusExpiring || status == StatusExpired ? 0 : 1;
}
