#pragma once
// The link-stuffed partner pages the memory benchmarks check: exactly the fetch limit of anchors.

#include "core/fetch/Fetch.h"

#include <string>

inline bool IsStuffedPageKind(const std::string& kind)
{
    return kind == "distinct" || kind == "short" || kind == "listed";
}

// distinct: anchors to distinct external sites (the set of external links at its largest);
// short: the shortest anchors there are (the most elements per byte); listed: list items with an
// anchor each inside a table cell and a list, as link directories lay them out. The link the
// check looks for, to mine.example with the text "mine", comes last.
inline std::string MakeStuffedPage(const std::string& kind, std::size_t* anchors)
{
    const std::size_t size = kMaxPageLength;
    const std::string tail = "<a href=\"http://mine.example/\">mine</a>";
    std::string page = kind == "listed" ? "<html><body><div><table><tr><td><ul>" : "<html><body>";
    page.reserve(size);
    *anchors = 0;
    for (std::size_t i = 0;; ++i) {
        std::string anchor = kind == "distinct" ? "<a href=//s" + std::to_string(i) + ".example>x</a>"
                             : kind == "listed" ? "<li><a href=//s" + std::to_string(i) + ".example>x</a>"
                                                : std::string("<a href=#>");
        if (page.size() + anchor.size() + tail.size() > size)
            break;
        page += anchor;
        ++*anchors;
    }
    page += tail;
    page.resize(size, ' ');
    return page;
}
