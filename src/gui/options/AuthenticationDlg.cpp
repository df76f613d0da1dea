#include "AuthenticationDlg.h"

#include "OptionsSupport.h"

#include "core/storage/Options.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace OptionsSupport;

CAuthenticationDlg::CAuthenticationDlg(COptions& options, QWidget* parent) : QDialog(parent), m_options(options)
{
    auto* layout = new QVBoxLayout(this);
    m_auth = new QCheckBox(QStringLiteral("Server requires &authentication"), this);
    m_auth->setObjectName(QStringLiteral("authCheck"));
    layout->addWidget(m_auth);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_user = AddField(form, QStringLiteral("&Username:"), QStringLiteral("Enter user name"), "userEdit");
    m_password = AddField(form, QStringLiteral("&Password:"), QString(), "passwordEdit");
    m_password->setEchoMode(QLineEdit::Password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAuthenticationDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAuthenticationDlg::reject);
    FinishDialog(this, QStringLiteral("Authentication"));

    m_auth->setChecked(options.GetSmtpAuth());
    m_user->setText(FromStd(options.GetSmtpUser()));
    m_password->setText(FromStd(options.GetSmtpPassword()));
    m_auth->setFocus();
}

void CAuthenticationDlg::accept()
{
    if (m_auth->isChecked() && IsBlank(m_user))
        return RefuseField(this, m_user, QStringLiteral("Please specify username"));
    m_options.SetSmtpAuth(m_auth->isChecked());
    m_options.SetSmtpUser(ToStd(m_user->text()));
    m_options.SetSmtpPassword(ToStd(m_password->text()));
    QDialog::accept();
}
