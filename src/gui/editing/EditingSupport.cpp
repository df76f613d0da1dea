#include "EditingSupport.h"

#include "core/records/PartnersManager.h"

CPartner* AddPartnerFromDialog(CPartnersManager& partners, const std::function<void()>& addPartner)
{
    const std::size_t before = partners.GetCount();
    if (addPartner)
        addPartner();
    return partners.GetCount() > before ? partners.GetPartners().back() : nullptr;
}
