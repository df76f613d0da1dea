#pragma once

#include "core/mail/Notifications.h"

#include <QDialog>

#include <memory>

class COptions;

namespace Ui {
class SMTPSettingsDlg;
}

/// What the test letter is made of and how it goes out, besides the values of the dialog.
struct TestMailSources
{
    /// The links the letter lists; the settings function is not used.
    NotificationSources sources;
    bool allowUnencryptedPassword = false;
    /// How long a server may take to answer, 0 for the mail code's own time-out.
    int replyTimeoutMs = 0;
};

/// "SMTP Settings": where the notification letters go and through which server.
class CSMTPSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* kDefaultSender = "orvex@localhost";

    /// Edits `options` (the sheet's copy) in place at OK.
    CSMTPSettingsDlg(COptions& options, TestMailSources testSources, QWidget* parent = nullptr);
    ~CSMTPSettingsDlg() override;

public slots:
    void accept() override;

private:
    void Load();
    /// Writes what can be written without checks, so that the authentication dialog sees it.
    void StoreUnchecked();
    bool Validate(int* port);
    void OnAuthentication();
    void OnTest();
    void UpdateTestButton();

    std::unique_ptr<Ui::SMTPSettingsDlg> m_ui;
    COptions& m_options;
    TestMailSources m_testSources;
};
