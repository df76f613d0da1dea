#pragma once

#include <string>

/// The "External Links Info" report of a page (`pageUrl` already normalised), in lines that end
/// in CR LF: its PageRank, its robots.txt, how many distinct internal and external links it has,
/// the external ones (and among them the nofollow ones) lower-cased in byte order, and the raw
/// response headers. False when the page could not be read (the report ends with "Can not read
/// URL content") or parsed (it ends after robots.txt): the report holds what was reached.
bool ExternalLinksInfo(const std::string& pageUrl, std::string& report);

/// The "Link Source" text of a link: for every anchor of its From page that names its To Page
/// (both as stored), "Raw link : " and the anchor's own source from start tag to end tag as the
/// page came, "Anchor : " and its text in quotes, and a line of hyphens. False when the page
/// could not be read (the text is empty) or parsed (it holds what was reached).
bool LinkSourceText(const std::string& fromPage, const std::string& toPage, std::string& text);

/// The links part of the External Links Info report for a page already fetched, appended to
/// `report`: the counts, a separator and both lists. False (nothing appended) when the page could
/// not be parsed.
bool ExternalLinksOfPage(const std::string& pageUrl, const std::string& pageText, std::string& report);

/// The Link Source text for a page already fetched (`pageUrl` normalised), appended to `text`.
/// False when the page could not be parsed.
bool LinkSourceOfPage(const std::string& pageUrl, const std::string& pageText, const std::string& toPage,
                      std::string& text);
