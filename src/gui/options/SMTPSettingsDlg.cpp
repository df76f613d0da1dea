#include "SMTPSettingsDlg.h"

#include "AuthenticationDlg.h"
#include "OptionsSupport.h"

#include "core/storage/Options.h"
#include "gui/widgets/BackgroundWork.h"
#include "gui/widgets/DialogFields.h"
#include "gui/widgets/MessageBox.h"
#include "ui_SMTPSettingsDlg.h"

#include <QPushButton>

#include <string>
#include <utility>

using namespace OptionsSupport;

CSMTPSettingsDlg::CSMTPSettingsDlg(COptions& options, TestMailSources testSources, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::SMTPSettingsDlg>()), m_options(options),
      m_testSources(std::move(testSources))
{
    m_ui->setupUi(this);
    MakePortField(m_ui->portEdit);
    // Enter means OK, even on the row of Authentication and Test, which are no default buttons.
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CSMTPSettingsDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CSMTPSettingsDlg::reject);
    connect(m_ui->authButton, &QPushButton::clicked, this, &CSMTPSettingsDlg::OnAuthentication);
    connect(m_ui->testButton, &QPushButton::clicked, this, &CSMTPSettingsDlg::OnTest);
    connect(m_ui->toEdit, &QLineEdit::textChanged, this, &CSMTPSettingsDlg::UpdateTestButton);
    connect(m_ui->serverEdit, &QLineEdit::textChanged, this, &CSMTPSettingsDlg::UpdateTestButton);
    NameFieldsByTheirLabels(this);

    Load();
    m_ui->toEdit->setFocus();
}

CSMTPSettingsDlg::~CSMTPSettingsDlg() = default;

void CSMTPSettingsDlg::Load()
{
    m_ui->toEdit->setText(FromStd(m_options.GetMailTo()));
    m_ui->serverEdit->setText(FromStd(m_options.GetSmtpServer()));
    m_ui->portEdit->setText(QString::number(m_options.GetSmtpPort()));
    const std::string& from = m_options.GetMailFrom();
    m_ui->fromEdit->setText(from.empty() ? QLatin1String(kDefaultSender) : FromStd(from));
    UpdateTestButton();
}

void CSMTPSettingsDlg::UpdateTestButton()
{
    m_ui->testButton->setEnabled(!m_ui->toEdit->text().isEmpty() && !m_ui->serverEdit->text().isEmpty());
}

void CSMTPSettingsDlg::StoreUnchecked()
{
    m_options.SetMailTo(ToStd(m_ui->toEdit->text()));
    m_options.SetSmtpServer(ToStd(m_ui->serverEdit->text()));
    bool ok = false;
    const int port = m_ui->portEdit->text().toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        m_options.SetSmtpPort(port);
    m_options.SetMailFrom(ToStd(m_ui->fromEdit->text()));
}

bool CSMTPSettingsDlg::Validate(int* port)
{
    if (!ReadPortField(this, m_ui->portEdit, port))
        return false;
    if (IsBlank(m_ui->serverEdit)) {
        RefuseField(this, m_ui->serverEdit,
                    QStringLiteral("You must specify SMTP server if you want to use notifications"));
        return false;
    }
    if (IsBlank(m_ui->toEdit)) {
        RefuseField(this, m_ui->toEdit, QStringLiteral("You must specify Email address"));
        return false;
    }
    if (IsBlank(m_ui->fromEdit)) {
        RefuseField(this, m_ui->fromEdit, QStringLiteral("You must specify Email address"));
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
    const std::string to = ToStd(m_ui->toEdit->text().trimmed());
    const std::string server = ToStd(m_ui->serverEdit->text().trimmed());
    const std::string from = ToStd(m_ui->fromEdit->text().trimmed());
    const bool auth = m_options.GetSmtpAuth();
    const std::string user = m_options.GetSmtpUser();
    const std::string password = m_options.GetSmtpPassword();

    const WorkOutcome<std::pair<int, MailOutcome>> sent = RunWork(
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
            MailOutcome outcome;
            const int result = manager.SendTestNotification(to, server, port, from, auth, user, password, &outcome,
                                                            m_testSources.allowUnencryptedPassword);
            return std::pair(result, outcome);
        });
    // The user knows he cancelled: no verdict about the server follows.
    if (sent.cancelled)
        return;
    const auto& [result, outcome] = sent.value;
    if (result == 0) {
        MessageBox::Inform(this, QStringLiteral("Test notification sended successfully."));
        return;
    }
    // A server that was reached but refused TLS or the login is no connection problem: the reason
    // itself is the headline then.
    QString text;
    if (result == 2)
        text = QStringLiteral("Connection completed successful but message sending failed.\n");
    else if (!outcome.connected)
        text = QStringLiteral("Can not connect to specified server.\n");
    text += FromStd(outcome.Text()).trimmed();
    MessageBox::Warn(this, text.trimmed());
}
