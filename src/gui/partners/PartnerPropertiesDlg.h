#pragma once

#include <QDialog>

#include <memory>
#include <string>

class CPartner;

namespace Ui {
class PartnerPropertiesDlg;
}

/// "Partner properties": the ten texts of a partner. Given a partner, it shows that partner's
/// texts and writes them back at OK; given none, it only collects them for a new partner.
class CPartnersPropertiesDlg : public QDialog
{
    Q_OBJECT

public:
    /// The texts as the records hold them: UTF-8, line breaks of the comments as "\r\n".
    struct PartnerTexts
    {
        std::string name, organization, email, icq, phone, paymentType[2], paymentId[2], comments;
    };

    explicit CPartnersPropertiesDlg(CPartner* partner, QWidget* parent = nullptr);
    ~CPartnersPropertiesDlg() override;

    /// The texts of the fields; after OK, what the user confirmed.
    PartnerTexts GetTexts() const;
    /// Writes all ten texts into `partner`.
    static void ApplyTexts(const PartnerTexts& texts, CPartner& partner);

public slots:
    void accept() override;

private:
    void LoadTexts(const CPartner& partner);

    std::unique_ptr<Ui::PartnerPropertiesDlg> m_ui;
    CPartner* m_partner;
};
