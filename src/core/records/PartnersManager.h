#pragma once

#include "Partner.h"

#include <memory>
#include <string>
#include <vector>

/// All partners in insertion order, owned here, with the partner filter and the counter that
/// hands out partner identifiers (both travel in the database file).
class CPartnersManager : public CSerializable
{
public:
    static constexpr std::string_view kClassName = "CPartnersManager";

    CPartnersManager() = default;
    CPartnersManager(const CPartnersManager&) = delete;
    CPartnersManager& operator=(const CPartnersManager&) = delete;

    std::string_view GetClassName() const override { return kClassName; }
    void Serialize(CArchive& ar) override;

    /// A new partner with the next identifier; identifiers are never reused.
    CPartner* AddPartner(std::string name);
    /// Appends a partner that was built elsewhere, keeping its identifier; never fails for partners
    /// room was reserved for.
    void Append(std::unique_ptr<CPartner> partner);
    void Reserve(std::size_t count) { m_partners.reserve(count); }
    CPartner* FindById(int32_t id) const;
    /// The first partner of that name, ignoring letter case.
    CPartner* FindByName(const std::string& name) const;
    /// Removes and deletes the partner; its links keep the identifier, which then names nobody.
    void RemovePartner(const CPartner* partner);
    void Clear() { m_partners.clear(); }

    std::vector<CPartner*> GetPartners() const;
    std::size_t GetCount() const { return m_partners.size(); }

    int32_t GetPartnerFilter() const { return m_partnerFilter; }
    void SetPartnerFilter(int32_t id) { m_partnerFilter = id; }
    bool MatchesPartner(int32_t id) const { return m_partnerFilter == -1 || m_partnerFilter == id; }

    int32_t GetNextPartnerId() const { return m_nextPartnerId; }
    void SetNextPartnerId(int32_t id) { m_nextPartnerId = id; }

private:
    std::vector<std::unique_ptr<CPartner>> m_partners;
    int32_t m_partnerFilter = -1;
    int32_t m_nextPartnerId = 0;
};
