#include "SMTPSettingsDlg.h"

#include "AuthenticationDlg.h"
#include "OptionsSupport.h"

#include "core/storage/Options.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/ProgressWork.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <future>

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

    CNotificationsManager manager;
    manager.SetSources(m_testSources.sources);
    if (m_testSources.replyTimeoutMs > 0)
        manager.SetReplyTimeout(m_testSources.replyTimeoutMs);
    std::atomic<int> abort{0};
    manager.SetAbortFlag(&abort);
    int result = 1;
    std::string reply;
    // How long the server takes cannot be known: the bar of the progress dialog, once shown,
    // becomes a busy indicator.
    QTimer::singleShot(0, this, [] {
        if (QWidget* progress = QApplication::activeModalWidget())
            if (auto* bar = progress->findChild<QProgressBar*>(QStringLiteral("progressBar")))
                bar->setRange(0, 0);
    });
    const bool finished = RunProgressWork(
        this, QStringLiteral("Test"), QStringLiteral("Sending the test letter..."), [&](const WorkProgress& progress) {
            // The mail code blocks until the server has answered; a thread of its own lets Cancel
            // be heard meanwhile, and the abort flag ends the session within moments.
            auto sending = std::async(std::launch::async, [&] {
                return manager.SendTestNotification(to, server, port, from, auth, user, password, &reply,
                                                    m_testSources.allowUnencryptedPassword);
            });
            while (sending.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
                if (!progress(0.0))
                    abort.store(1);
            result = sending.get();
        });
    if (!finished)
        return;
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
