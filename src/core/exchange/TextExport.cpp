#include "Exports.h"

#include "ExportFile.h"
#include "PartnerIndex.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"

#include <exception>
#include <new>

namespace {

constexpr std::string_view kHeader = "Partner\tPartner organization\tPartner e-mail\tPartner ICQ number\t"
                                     "Partner phone number\tProject\tFrom page\tTo Page\tAnchor\t"
                                     "First payment date\tLast payment date\tExpiry date\tPrice\tFull cost\t"
                                     "Status\r\n";

constexpr std::size_t kFlushBytes = 1 << 20;
void AppendField(std::string& line, std::string_view value)
{
    line += value;
    line += '\t';
}

void AppendExportLine(std::string& line, const CLink* link, const CPartner* partner)
{
    if (partner) {
        AppendField(line, partner->GetName());
        AppendField(line, partner->GetOrganization());
        AppendField(line, partner->GetEmail());
        AppendField(line, partner->GetIcq());
        AppendField(line, partner->GetPhone());
    } else {
        line += "\t\t\t\t\t";
    }
    AppendField(line, link->GetProject());
    AppendField(line, link->GetFromPage());
    AppendField(line, link->GetToPage());
    AppendField(line, link->GetAnchor());
    AppendField(line, FormatDate(link->GetFirstPaymentDate()));
    AppendField(line, FormatDate(link->GetLastPaymentDate()));
    // A permanent deal has neither an end nor a monthly price; an empty expiry under the expiry
    // column is what the import reads back as permanent.
    const bool permanent = link->IsPermanent();
    AppendField(line, permanent ? std::string() : FormatDate(link->GetExpiryDate()));
    AppendField(line, permanent ? std::string() : std::to_string(link->GetCostPerMonth()));
    AppendField(line, std::to_string(link->GetCostPerPeriod()));
    AppendField(line, GetStatusName(link->GetStatus()));
    line += "\r\n";
}

} // namespace

std::string BuildExportLine(const CLink* link, const CPartnersManager& partners)
{
    if (!link)
        return std::string(kHeader);
    std::string line;
    AppendExportLine(line, link, partners.FindById(link->GetPartnerId()));
    return line;
}

bool ExportText(const std::string& path, const CPartnersManager& partners, const CLinksManager& links,
                std::string* error, const ProgressFn& progress)
{
    try {
        const PartnerIndex byId(partners);
        CExportFile file(path);
        std::string buffer(kHeader);
        const std::vector<CLink*> all = links.GetLinks();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (i % kRowsBetweenProgress == 0 && progress && !progress(static_cast<double>(i) / all.size())) {
                if (error)
                    *error = "cancelled";
                return false;
            }
            AppendExportLine(buffer, all[i], byId.Find(all[i]->GetPartnerId()));
            if (buffer.size() >= kFlushBytes) {
                file.Write(buffer.data(), buffer.size());
                buffer.clear();
            }
        }
        file.Write(buffer.data(), buffer.size());
        file.Commit();
        return true;
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "there is not enough memory";
        return false;
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return false;
    }
}
