// The file layout of the records: each body reads or writes its fields in stored order.
#include "Archive.h"

#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"

namespace {

// The smallest CLink body (every text empty) plus its 2-byte tag; likewise for CPartner.
constexpr uint64_t kMinLinkBytes = 2 + 81;
constexpr uint64_t kMinPartnerBytes = 2 + 4 + 11;

} // namespace

void CLink::Serialize(CArchive& ar)
{
    // A save may run while the date refresh or a worker writes these words: each is taken whole,
    // and a save writes nothing back, so it can never undo what they stored meanwhile.
    int32_t currentPR = LoadWord(m_currentPR);
    auto status = static_cast<int32_t>(LoadWord(m_status));
    int32_t previousPR = LoadWord(m_previousPR);
    int32_t externalLinks = LoadWord(m_externalLinks);
    ar.Io(m_partnerId);
    ar.Io(m_project);
    ar.Io(m_firstPaymentDate);
    ar.Io(m_lastPaymentDate);
    ar.Io(m_period);
    ar.Io(m_costMode);
    ar.Io(m_costPerMonth);
    ar.Io(m_costPerPeriod);
    ar.Io(m_fromPage);
    ar.Io(m_toPage);
    ar.Io(m_anchor);
    ar.Io(m_startingPR);
    ar.Io(currentPR);
    ar.Io(status);
    ar.Io(previousPR);
    ar.Io(m_reserved);
    ar.Io(m_comment);
    ar.Io(externalLinks);
    if (ar.IsLoading()) {
        StoreWord(m_currentPR, currentPR);
        StoreWord(m_status, static_cast<uint32_t>(status));
        StoreWord(m_previousPR, previousPR);
        StoreWord(m_externalLinks, externalLinks);
    }
}

void CPartner::Serialize(CArchive& ar)
{
    ar.Io(m_id);
    ar.Io(m_name);
    ar.Io(m_organization);
    ar.Io(m_email);
    ar.Io(m_icq);
    ar.Io(m_phone);
    ar.Io(m_extra);
    ar.Io(m_paymentType[0]);
    ar.Io(m_paymentId[0]);
    ar.Io(m_paymentType[1]);
    ar.Io(m_paymentId[1]);
    ar.Io(m_comments);
}

void CPartnersManager::Serialize(CArchive& ar)
{
    ar.Io(m_partnerFilter);
    ar.Io(m_nextPartnerId);
    auto count = static_cast<uint32_t>(m_partners.size());
    ar.Io(count);
    if (ar.IsStoring()) {
        for (const auto& partner : m_partners)
            ar.WriteObject(partner.get());
        return;
    }
    m_partners.clear();
    ar.CheckCount(count, 2);
    m_partners.reserve(std::min<uint64_t>(count, ar.Remaining() / kMinPartnerBytes));
    for (uint32_t i = 0; i < count; ++i) {
        // Our lists never hold an empty entry: one in the file is damage that happens to parse.
        std::unique_ptr<CPartner> partner = ar.ReadObject<CPartner>();
        if (!partner)
            throw CArchiveException("the partners list holds an empty entry");
        Append(std::move(partner));
    }
}

void CLinksManager::Serialize(CArchive& ar)
{
    auto count = static_cast<uint32_t>(m_links.size());
    ar.Io(count);
    if (ar.IsStoring()) {
        for (const auto& link : m_links)
            ar.WriteObject(link.get());
        return;
    }
    m_links.clear();
    ar.CheckCount(count, 2);
    m_links.reserve(std::min<uint64_t>(count, ar.Remaining() / kMinLinkBytes));
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<CLink> link = ar.ReadObject<CLink>();
        if (!link)
            throw CArchiveException("the links list holds an empty entry");
        Append(std::move(link));
    }
}
