#pragma once
// The partner site the check-run benchmarks check: every host under .localhost is the loopback
// address to libcurl, so one local server stands for any number of sites.

#include "fakes/LocalHttpServer.h"

#include "core/fetch/CheckSettings.h"
#include "core/records/Link.h"
#include "core/runs/CheckRuns.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// A page carrying the link to mine.localhost and one other, a robots.txt that shuts out nothing
// of it, and a PageRank answer.
inline LocalHttpResponse PartnerSiteAnswer(const LocalHttpRequest& request)
{
    static const auto page =
        std::make_shared<const std::string>("<html><body><p>Partners</p><a href=\"http://mine.localhost/\">my site</a>"
                                            "<a href=\"http://elsewhere.localhost/\">another</a></body></html>");
    static const auto robots = std::make_shared<const std::string>("User-agent: *\nDisallow: /private/\n");
    static const auto rank = std::make_shared<const std::string>("Rank_1:1:5\n");
    LocalHttpResponse response;
    if (request.target == "/robots.txt") {
        response.contentType = "text/plain";
        response.body = robots;
    } else if (request.target.rfind("/tbr?", 0) == 0) {
        response.contentType = "text/plain";
        response.body = rank;
    } else {
        response.body = page;
    }
    return response;
}

// `count` links on `hosts` sites (partner0.localhost, ...), taken in turn, all served on `port`.
inline std::vector<std::unique_ptr<CLink>> PartnerSiteLinks(int count, int hosts, int port)
{
    std::vector<std::unique_ptr<CLink>> links;
    for (int i = 0; i < count; ++i) {
        auto link = std::make_unique<CLink>();
        link->SetFromPage("http://partner" + std::to_string(i % hosts) + ".localhost:" + std::to_string(port) +
                          "/links" + std::to_string(i) + ".html");
        link->SetToPage("http://mine.localhost/");
        link->SetAnchor("my site");
        link->SetPeriod(OleDateTimeSpan(365));
        links.push_back(std::move(link));
    }
    return links;
}

// The partner site answering every request after `delay`, with the PageRank service on it too
// (the check settings are made to name it); null, with the reason on stderr, when it cannot start.
inline std::unique_ptr<CLocalHttpServer> StartPartnerSite(std::chrono::milliseconds delay)
{
    CLocalHttpServer::Options options;
    options.responseDelay = delay;
    auto server = std::make_unique<CLocalHttpServer>(&PartnerSiteAnswer, options);
    std::string error;
    if (!server->Start(&error)) {
        std::fprintf(stderr, "cannot start the local server: %s\n", error.c_str());
        return nullptr;
    }
    CheckSettings settings;
    settings.pageRankHost = "pagerank.localhost:" + std::to_string(server->Port());
    SetCheckSettings(settings);
    return server;
}

// A run over `links` to its end, as the unattended run makes it (on this thread when no worker
// can be had).
inline void RunToTheEnd(const std::vector<CLink*>& links)
{
    CCheckRun run(links);
    if (!run.Start())
        run.CheckOnThisThread();
    run.Wait();
}
