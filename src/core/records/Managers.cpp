#include "LinksManager.h"
#include "PartnersManager.h"
#include "TextUtil.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace {

// First-seen order; the set only answers "seen before?".
template <class Pick>
std::vector<std::string> DistinctTexts(const std::vector<std::unique_ptr<CLink>>& links, Pick pick)
{
    std::vector<std::string> result;
    std::set<std::string_view> seen;
    for (const auto& link : links) {
        const std::string* text = pick(*link);
        if (text && seen.insert(*text).second)
            result.push_back(*text);
    }
    return result;
}

template <class T> void RemoveOwned(std::vector<std::unique_ptr<T>>& items, const T* item)
{
    auto it = std::find_if(items.begin(), items.end(), [item](const auto& p) { return p.get() == item; });
    if (item && it != items.end())
        items.erase(it);
}

template <class T> std::vector<T*> Snapshot(const std::vector<std::unique_ptr<T>>& items)
{
    std::vector<T*> result;
    result.reserve(items.size());
    for (const auto& item : items)
        result.push_back(item.get());
    return result;
}

} // namespace

CLink* CLinksManager::AddNewLink()
{
    m_links.push_back(std::make_unique<CLink>());
    return m_links.back().get();
}

std::size_t CLinksManager::AddLinkCopy(const CLink& link)
{
    m_links.push_back(std::make_unique<CLink>(link));
    return m_links.size();
}

std::size_t CLinksManager::CopyAllFrom(const CLinksManager& source)
{
    // A copy of itself must not walk a list that grows under it.
    const std::size_t count = source.m_links.size();
    m_links.reserve(m_links.size() + count);
    for (std::size_t i = 0; i < count; ++i)
        m_links.push_back(std::make_unique<CLink>(*source.m_links[i]));
    return m_links.size();
}

void CLinksManager::Append(std::unique_ptr<CLink> link)
{
    if (link)
        m_links.push_back(std::move(link));
}

void CLinksManager::RemoveLink(const CLink* link)
{
    RemoveOwned(m_links, link);
}

std::vector<CLink*> CLinksManager::GetLinks() const
{
    return Snapshot(m_links);
}

std::vector<std::string> CLinksManager::GetProjects() const
{
    return DistinctTexts(m_links, [](const CLink& l) { return l.GetProject().empty() ? nullptr : &l.GetProject(); });
}

std::vector<std::string> CLinksManager::GetFromPages() const
{
    return DistinctTexts(m_links, [](const CLink& l) { return &l.GetFromPage(); });
}

std::vector<std::string> CLinksManager::GetToPages() const
{
    return DistinctTexts(m_links, [](const CLink& l) { return &l.GetToPage(); });
}

std::vector<std::string> CLinksManager::GetAnchors(const std::string& project) const
{
    return DistinctTexts(m_links, [&](const CLink& l) { return l.GetProject() == project ? &l.GetAnchor() : nullptr; });
}

bool CLinksManager::Matches(const CLink& link, int warningDays, const OleDateTime& now) const
{
    if (!m_projectFilter.empty() && m_projectFilter != link.GetProject())
        return false;
    return m_statusFilter == 0 || (m_statusFilter & link.GetListedStatus(warningDays, now)) != 0;
}

CPartner* CPartnersManager::AddPartner(std::string name)
{
    // A damaged file may carry a counter below identifiers already handed out; never hand one out twice.
    // Nor -1: it means "no partner", so a partner holding it could never be found.
    while (m_nextPartnerId == -1 || FindById(m_nextPartnerId))
        m_nextPartnerId = static_cast<int32_t>(static_cast<uint32_t>(m_nextPartnerId) + 1u);
    auto partner = std::make_unique<CPartner>(std::move(name));
    partner->SetId(m_nextPartnerId);
    m_nextPartnerId = static_cast<int32_t>(static_cast<uint32_t>(m_nextPartnerId) + 1u);
    m_partners.push_back(std::move(partner));
    return m_partners.back().get();
}

void CPartnersManager::Append(std::unique_ptr<CPartner> partner)
{
    if (partner)
        m_partners.push_back(std::move(partner));
}

CPartner* CPartnersManager::FindById(int32_t id) const
{
    if (id == -1)
        return nullptr;
    for (const auto& p : m_partners)
        if (p->GetId() == id)
            return p.get();
    return nullptr;
}

CPartner* CPartnersManager::FindByName(const std::string& name) const
{
    for (const auto& p : m_partners)
        if (EqualsIgnoringCase(p->GetName(), name))
            return p.get();
    return nullptr;
}

void CPartnersManager::RemovePartner(const CPartner* partner)
{
    RemoveOwned(m_partners, partner);
}

std::vector<CPartner*> CPartnersManager::GetPartners() const
{
    return Snapshot(m_partners);
}
