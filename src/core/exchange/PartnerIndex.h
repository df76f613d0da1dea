#pragma once

#include "core/records/PartnersManager.h"

#include <unordered_map>

/// The partners by identifier, answering as FindById does (the first partner holding it), for
/// exports that look one up per link: a scan per link would make a large database quadratic.
class PartnerIndex
{
public:
    explicit PartnerIndex(const CPartnersManager& partners)
    {
        const auto all = partners.GetPartners();
        m_byId.reserve(all.size());
        for (const CPartner* partner : all)
            m_byId.emplace(partner->GetId(), partner);
    }

    const CPartner* Find(int32_t id) const
    {
        if (id == -1)
            return nullptr;
        const auto it = m_byId.find(id);
        return it == m_byId.end() ? nullptr : it->second;
    }

private:
    std::unordered_map<int32_t, const CPartner*> m_byId;
};
