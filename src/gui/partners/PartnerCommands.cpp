#include "PartnerCommands.h"

#include "PartnerPropertiesDlg.h"
#include "core/records/PartnersManager.h"

bool RunNewPartnerFlow(CPartnersManager& partners, QWidget* parent)
{
    CPartnersPropertiesDlg dialog(nullptr, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const CPartnersPropertiesDlg::PartnerTexts texts = dialog.GetTexts();
    // The identifier comes from the collection; the texts from the dialog.
    CPartner* partner = partners.AddPartner(texts.name);
    CPartnersPropertiesDlg::ApplyTexts(texts, *partner);
    return true;
}
