#include "SMTPSettingsDlg.h"

#include "AuthenticationDlg.h"
#include "OptionsSupport.h"

#include "core/storage/Options.h"
#include "gui/widgets/BackgroundWork.h"
#include "gui/widgets/MessageBox.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>
#include <utility>

using namespace OptionsSupport;

CSMTPSettingsDlg::CSMTPSettingsDlg(COptions& options, TestMailSources testSources, QWidget* parent)
    : QDialog(parent), m_options(options), m_testSources(std::move(testSources))
{
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_to = AddField(form, QStringLiteral("&To:"), QStringLiteral("Enter email"), "toEdit");
    m_server = AddField(form, QStringLiteral("&Server:"), QStringLiteral("Enter smtp server"), "serverEdit");
    m_port = AddField(form, QStringLiteral("&Port:"), QStringLiteral("Enter smtp port number"), "portEdit");
    MakePortField(m_port);
    m_from = AddField(form, QStringLiteral("&From:"), QStringLiteral("Enter from email"), "fromEdit");

    auto* row = new QHBoxLayout;
    layout->addLayout(row);
    m_authButton = new QPushButton(QStringLiteral("&Authentication"), this);
    m_authButton->setObjectName(QStringLiteral("authButton"));
    m_testButton = new QPushButton(QStringLiteral("&Test"), this);
    m_testButton->setObjectName(QStringLiteral("testButton"));
    // Enter means OK, even on these buttons' row.
    m_authButton->setAutoDefault(false);
    m_testButton->setAutoDefault(false);
    row->addWidget(m_authButton);
    row->addWidget(m_testButton);
    row->addStretch();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSMTPSettingsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSMTPSettingsDlg::reject);
    connect(m_authButton, &QPushButton::clicked, this, &CSMTPSettingsDlg::OnAuthentication);
    connect(m_testButton, &QPushButton::clicked, this, &CSMTPSettingsDlg::OnTest);
    connect(m_to, &QLineEdit::textChanged, this, &CSMTPSettingsDlg::UpdateTestButton);
    connect(m_server, &QLineEdit::textChanged, this, &CSMTPSettingsDlg::UpdateTestButton);
    FinishDialog(this, QStringLiteral("SMTP Settings"));

    Load();
    m_to->setFocus();
}

void CSMTPSettingsDlg::Load()
{
    m_to->setText(FromStd(m_options.GetMailTo()));
    m_server->setText(FromStd(m_options.GetSmtpServer()));
    m_port->setText(QString::number(m_options.GetSmtpPort()));
    const std::string& from = m_options.GetMailFrom();
    m_from->setText(from.empty() ? QLatin1String(kDefaultSender) : FromStd(from));
    UpdateTestButton();
}

void CSMTPSettingsDlg::UpdateTestButton()
{
    m_testButton->setEnabled(!m_to->text().isEmpty() && !m_server->text().isEmpty());
}

void CSMTPSettingsDlg::StoreUnchecked()
{
    m_options.SetMailTo(ToStd(m_to->text()));
    m_options.SetSmtpServer(ToStd(m_server->text()));
    bool ok = false;
    const int port = m_port->text().toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        m_options.SetSmtpPort(port);
    m_options.SetMailFrom(ToStd(m_from->text()));
}

bool CSMTPSettingsDlg::Validate(int* port)
{
    if (!ReadPortField(this, m_port, port))
        return false;
    if (IsBlank(m_server)) {
        RefuseField(this, m_server, QStringLiteral("You must specify SMTP server if you want to use notifications"));
        return false;
    }
    if (IsBlank(m_to)) {
        RefuseField(this, m_to, QStringLiteral("You must specify Email address"));
        return false;
    }
    if (IsBlank(m_from)) {
        RefuseField(this, m_from, QStringLiteral("You must specify Email address"));
        return false;
    }
    // The user name is edited in the authentication dialog, so there is no field here to focus.
    if (m_options.GetSmtpAuth() && m_options.GetSmtpUser().find_first_not_of(" \t") == std::string::npos) {
        MessageBox::Warn(this, QStringLiteral("Please specify username"));
        return false;
    }
    return true;
}

void CSMTPSettingsDlg::accept()
{
    int port = 0;
    if (!Validate(&port))
        return;
    StoreUnchecked();
    m_options.SetSmtpPort(port);
    QDialog::accept();
}

void CSMTPSettingsDlg::OnAuthentication()
{
    StoreUnchecked();
    CAuthenticationDlg dialog(m_options, this);
    if (dialog.exec() == QDialog::Accepted)
        Load();
}

void CSMTPSettingsDlg::OnTest()
{
    int port = 0;
    if (!Validate(&port))
        return;
    const std::string to = ToStd(m_to->text().trimmed());
    const std::string server = ToStd(m_server->text().trimmed());
    const std::string from = ToStd(m_from->text().trimmed());
    const bool auth = m_options.GetSmtpAuth();
    const std::string user = m_options.GetSmtpUser();
    const std::string password = m_options.GetSmtpPassword();

    const WorkOutcome<std::pair<int, std::string>> sent = RunWork(
        this,
        {.text = QStringLiteral("Sending the test letter..."), .title = QStringLiteral("Test"), .bar = WorkBar::Busy},
        [&](CWorkToken& token) {
            CNotificationsManager manager;
            manager.SetSources(m_testSources.sources);
            if (m_testSources.replyTimeoutMs > 0)
                manager.SetReplyTimeout(m_testSources.replyTimeoutMs);
            // The mail code blocks until the server has answered; Cancel ends the session
            // through the abort flag within moments.
            manager.SetAbortFlag(token.AbortFlag());
            std::string reply;
            const int result = manager.SendTestNotification(to, server, port, from, auth, user, password, &reply,
                                                            m_testSources.allowUnencryptedPassword);
            return std::pair(result, reply);
        });
    // The user knows he cancelled: no verdict about the server follows.
    if (sent.cancelled)
        return;
    const auto& [result, reply] = sent.value;
    if (result == 0) {
        MessageBox::Inform(this, QStringLiteral("Test notification sended successfully."));
        return;
    }
    QString text = result == 1 ? QStringLiteral("Can not connect to specified server.")
                               : QStringLiteral("Connection completed successful but message sending failed.");
    if (!reply.empty())
        text += QStringLiteral("\nServer reply: ") + FromStd(reply).trimmed();
    MessageBox::Warn(this, text);
}
