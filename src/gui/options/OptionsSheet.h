#pragma once

#include "SMTPSettingsDlg.h"
#include "core/storage/Options.h"

#include <QDialog>

class COptionsDlgGeneral;
class IScheduleStore;

/// "Options": a sheet with the one page "General", editing a copy of the settings that the
/// caller takes over when the sheet ends with OK.
class COptionsSheet : public QDialog
{
    Q_OBJECT

public:
    COptionsSheet(const COptions& options, IScheduleStore& schedule, TestMailSources testSources,
                  QWidget* parent = nullptr);

    const COptions& GetOptions() const { return m_options; }
    COptionsDlgGeneral* GetGeneralPage() const { return m_general; }

public slots:
    void accept() override;

private:
    COptions m_options;
    COptionsDlgGeneral* m_general;
};
