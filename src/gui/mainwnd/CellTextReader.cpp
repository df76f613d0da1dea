#include "CellTextReader.h"

#include "LinkColumn.h"
#include "LinksModel.h"
#include "core/records/Link.h"

CCellTextReader::CCellTextReader(const CLinksModel& model)
    : m_model(model), m_partnerNames(LinkCells::MapPartnerNames(model.m_partners))
{
}

std::string_view CCellTextReader::Text(int row, LinkColumn kind)
{
    if (row != m_row) {
        m_row = row;
        ReadAhead(row);
    }
    const CLink* link = m_model.GetLink(row);
    if (!link)
        return {};
    const std::string_view partnerName =
        kind == LinkColumn::Partner ? LinkCells::NameOf(m_partnerNames, link->GetPartnerId()) : "";
    return LinkCells::ShownText(*link, kind, partnerName, m_scratch);
}

void CCellTextReader::ReadAhead(int row) const
{
    // The rows run in the list's order while their links lie in the order they were made, so
    // without this nearly every row waits for its link, and then for its texts, to come from
    // memory: the links some rows down are asked for now, the texts of those asked for before.
    constexpr int kLinkLead = 16;
    constexpr int kTextLead = 8;
    constexpr std::size_t kCacheLine = 64;
    if (const CLink* link = m_model.GetLink(row + kLinkLead))
        for (std::size_t offset = 0; offset < sizeof(CLink); offset += kCacheLine)
            __builtin_prefetch(reinterpret_cast<const char*>(link) + offset);
    if (const CLink* link = m_model.GetLink(row + kTextLead))
        for (const std::string* text :
             {&link->GetProject(), &link->GetAnchor(), &link->GetFromPage(), &link->GetToPage(), &link->GetComment()})
            __builtin_prefetch(text->data());
}
