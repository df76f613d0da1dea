#pragma once

#include "Link.h"

#include <memory>
#include <string>
#include <vector>

/// All links in insertion order, owned here, plus the main list's project and status filter
/// (the filter is not part of the database file).
class CLinksManager : public CSerializable
{
public:
    static constexpr std::string_view kClassName = "CLinksManager";

    CLinksManager() = default;
    CLinksManager(const CLinksManager&) = delete;
    CLinksManager& operator=(const CLinksManager&) = delete;

    std::string_view GetClassName() const override { return kClassName; }
    void Serialize(CArchive& ar) override;

    CLink* AddNewLink();
    /// Returns the number of links afterwards.
    std::size_t AddLinkCopy(const CLink& link);
    std::size_t CopyAllFrom(const CLinksManager& source);
    /// Appends a link that was built elsewhere (reading a file, importing); never fails for links
    /// room was reserved for.
    void Append(std::unique_ptr<CLink> link);
    void Reserve(std::size_t count) { m_links.reserve(count); }
    /// Removes and deletes the link; one that is not here is ignored.
    void RemoveLink(const CLink* link);
    void Clear() { m_links.clear(); }

    /// A snapshot of the list; the collection keeps ownership.
    std::vector<CLink*> GetLinks() const;
    std::size_t GetCount() const { return m_links.size(); }

    std::vector<std::string> GetProjects() const;
    std::vector<std::string> GetFromPages() const;
    std::vector<std::string> GetToPages() const;
    std::vector<std::string> GetAnchors(const std::string& project) const;

    const std::string& GetProjectFilter() const { return m_projectFilter; }
    void SetProjectFilter(std::string project) { m_projectFilter = std::move(project); }
    void SetStatusFilter(uint32_t mask) { m_statusFilter = mask; }
    /// Project, then status: the status a link is listed by (its dates' warning for a link
    /// never checked, see CLink::GetListedStatus), so a filter shows the rows its colour names.
    bool Matches(const CLink& link, int warningDays, const OleDateTime& now) const;

private:
    std::vector<std::unique_ptr<CLink>> m_links;
    std::string m_projectFilter;
    uint32_t m_statusFilter = 0;
};
