#include "ProxySettingsDlg.h"

#include "OptionsSupport.h"

#include "core/storage/Options.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace OptionsSupport;

CProxySettingsDlg::CProxySettingsDlg(COptions& options, QWidget* parent) : QDialog(parent), m_options(options)
{
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_host = AddField(form, QStringLiteral("Proxy &host:"), QStringLiteral("Enter proxy server"), "hostEdit");
    m_port = AddField(form, QStringLiteral("Proxy &port:"), QStringLiteral("Enter proxy port number"), "portEdit");
    MakePortField(m_port);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CProxySettingsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CProxySettingsDlg::reject);
    FinishDialog(this, QStringLiteral("Proxy"));

    m_host->setText(FromStd(options.GetProxyHost()));
    m_port->setText(QString::number(options.GetProxyPort()));
    m_host->setFocus();
}

void CProxySettingsDlg::accept()
{
    int port = 0;
    if (!ReadPortField(this, m_port, &port))
        return;
    if (IsBlank(m_host))
        return RefuseField(this, m_host, QStringLiteral("Please specify host name"));
    m_options.SetProxyHost(ToStd(m_host->text().trimmed()));
    m_options.SetProxyPort(port);
    QDialog::accept();
}
