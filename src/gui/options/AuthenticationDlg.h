#pragma once

#include <QDialog>

class COptions;
class QCheckBox;
class QLineEdit;

/// "Authentication": whether the mail server wants a login, and which.
class CAuthenticationDlg : public QDialog
{
    Q_OBJECT

public:
    /// Edits `options` (the sheet's copy) in place at OK.
    explicit CAuthenticationDlg(COptions& options, QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    COptions& m_options;
    QCheckBox* m_auth;
    QLineEdit* m_user;
    QLineEdit* m_password;
};
