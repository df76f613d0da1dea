#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

/// "Find": the text to look for in the links list and whether its letter case counts. The dialog
/// only asks; the search runs after it has closed with "&Find".
class CFindDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFindDlg(QWidget* parent = nullptr);

    QString GetText() const;
    bool IsMatchCase() const;

private:
    QLineEdit* m_text;
    QCheckBox* m_matchCase;
};
