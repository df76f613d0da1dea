#include "PartnerPropertiesDlg.h"

#include "gui/widgets/DialogFields.h"

#include "core/records/Partner.h"
#include "gui/widgets/MessageBox.h"
#include "ui_PartnerPropertiesDlg.h"

#include <QPushButton>

namespace {

QString FromStd(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string ToStd(const QString& s)
{
    return s.toStdString();
}

} // namespace

CPartnersPropertiesDlg::CPartnersPropertiesDlg(CPartner* partner, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::PartnerPropertiesDlg>()), m_partner(partner)
{
    m_ui->setupUi(this);
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CPartnersPropertiesDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CPartnersPropertiesDlg::reject);
    if (m_partner)
        LoadTexts(*m_partner);
    m_ui->nameEdit->setFocus();
}

CPartnersPropertiesDlg::~CPartnersPropertiesDlg() = default;

void CPartnersPropertiesDlg::LoadTexts(const CPartner& partner)
{
    m_ui->nameEdit->setText(FromStd(partner.GetName()));
    m_ui->organizationEdit->setText(FromStd(partner.GetOrganization()));
    m_ui->emailEdit->setText(FromStd(partner.GetEmail()));
    m_ui->icqEdit->setText(FromStd(partner.GetIcq()));
    m_ui->phoneEdit->setText(FromStd(partner.GetPhone()));
    m_ui->paymentType1Edit->setText(FromStd(partner.GetPaymentType(0)));
    m_ui->paymentId1Edit->setText(FromStd(partner.GetPaymentId(0)));
    m_ui->paymentType2Edit->setText(FromStd(partner.GetPaymentType(1)));
    m_ui->paymentId2Edit->setText(FromStd(partner.GetPaymentId(1)));
    m_ui->commentsEdit->setPlainText(CommentForEditing(partner.GetComments()));
}

CPartnersPropertiesDlg::PartnerTexts CPartnersPropertiesDlg::GetTexts() const
{
    PartnerTexts texts;
    texts.name = ToStd(m_ui->nameEdit->text());
    texts.organization = ToStd(m_ui->organizationEdit->text());
    texts.email = ToStd(m_ui->emailEdit->text());
    texts.icq = ToStd(m_ui->icqEdit->text());
    texts.phone = ToStd(m_ui->phoneEdit->text());
    texts.paymentType[0] = ToStd(m_ui->paymentType1Edit->text());
    texts.paymentId[0] = ToStd(m_ui->paymentId1Edit->text());
    texts.paymentType[1] = ToStd(m_ui->paymentType2Edit->text());
    texts.paymentId[1] = ToStd(m_ui->paymentId2Edit->text());
    texts.comments = CommentForStoring(m_ui->commentsEdit->toPlainText());
    return texts;
}

void CPartnersPropertiesDlg::ApplyTexts(const PartnerTexts& texts, CPartner& partner)
{
    partner.SetName(texts.name);
    partner.SetOrganization(texts.organization);
    partner.SetEmail(texts.email);
    partner.SetIcq(texts.icq);
    partner.SetPhone(texts.phone);
    for (int i = 0; i < 2; ++i) {
        partner.SetPaymentType(i, texts.paymentType[i]);
        partner.SetPaymentId(i, texts.paymentId[i]);
    }
    partner.SetComments(texts.comments);
}

void CPartnersPropertiesDlg::accept()
{
    if (m_ui->nameEdit->text().isEmpty()) {
        MessageBox::Warn(this, tr("Name field can not be empty"));
        m_ui->nameEdit->setFocus(Qt::OtherFocusReason);
        m_ui->nameEdit->selectAll();
        return;
    }
    if (m_partner)
        ApplyTexts(GetTexts(), *m_partner);
    QDialog::accept();
}
