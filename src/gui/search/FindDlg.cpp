#include "FindDlg.h"

#include "gui/widgets/DialogFields.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CFindDlg::CFindDlg(QWidget* parent) : QDialog(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("findEdit"));
    m_text->setMinimumWidth(m_text->fontMetrics().averageCharWidth() * 40);
    auto* label = new QLabel(tr("Fi&nd What:"), this);
    label->setBuddy(m_text);
    form->addRow(label, m_text);
    m_matchCase = new QCheckBox(tr("Match &Case"), this);
    m_matchCase->setObjectName(QStringLiteral("matchCaseCheck"));
    form->setWidget(form->rowCount(), QFormLayout::FieldRole, m_matchCase);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* find = buttons->addButton(tr("&Find"), QDialogButtonBox::AcceptRole);
    find->setObjectName(QStringLiteral("findButton"));
    find->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFindDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CFindDlg::reject);

    setWindowTitle(tr("Find"));
    setAccessibleName(windowTitle());
    NameFieldsByTheirLabels(this);
    m_text->setFocus();
}

QString CFindDlg::GetText() const
{
    return m_text->text();
}

bool CFindDlg::IsMatchCase() const
{
    return m_matchCase->isChecked();
}
