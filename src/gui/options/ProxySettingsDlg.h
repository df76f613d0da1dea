#pragma once

#include <QDialog>

class COptions;
class QLineEdit;

/// "Proxy": the HTTP proxy the link checks go through.
class CProxySettingsDlg : public QDialog
{
    Q_OBJECT

public:
    /// Edits `options` (the sheet's copy) in place at OK.
    explicit CProxySettingsDlg(COptions& options, QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    COptions& m_options;
    QLineEdit* m_host;
    QLineEdit* m_port;
};
