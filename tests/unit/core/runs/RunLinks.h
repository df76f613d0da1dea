#pragma once
// Links for check-run tests.

#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"

#include <memory>
#include <string>
#include <vector>

namespace runlinks {

// Links to http://mine.localhost/ with any anchor, paid today for a year, Not present so far.
inline std::vector<std::unique_ptr<CLink>> MakeLinks(const std::vector<std::string>& fromPages)
{
    std::vector<std::unique_ptr<CLink>> links;
    for (const std::string& page : fromPages) {
        auto link = std::make_unique<CLink>();
        link->SetFromPage(page);
        link->SetToPage("http://mine.localhost/");
        link->SetAnchor("*");
        link->SetLastPaymentDate(OleDateTime::Today());
        link->SetPeriod(OleDateTimeSpan(365));
        link->SetStatus(StatusNotPresent);
        links.push_back(std::move(link));
    }
    return links;
}

inline std::vector<CLink*> Pointers(const std::vector<std::unique_ptr<CLink>>& links)
{
    std::vector<CLink*> result;
    for (const auto& l : links)
        result.push_back(l.get());
    return result;
}

} // namespace runlinks
