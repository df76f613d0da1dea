#include "OptionsSheet.h"

#include "OptionsDlgGeneral.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

COptionsSheet::COptionsSheet(const COptions& options, IScheduleStore& schedule, TestMailSources testSources,
                             QWidget* parent)
    : QDialog(parent), m_options(options)
{
    setWindowTitle(QStringLiteral("Options"));
    setAccessibleName(QStringLiteral("Options"));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    m_general = new COptionsDlgGeneral(m_options, schedule, std::move(testSources), tabs);
    tabs->addTab(m_general, QStringLiteral("General"));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionsSheet::reject);
    m_general->setFocus();
}

void COptionsSheet::accept()
{
    if (m_general->OnOK())
        QDialog::accept();
}
