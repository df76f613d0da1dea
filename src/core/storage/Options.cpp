#include "Options.h"

#include "Archive.h"

COptions::COptions(const std::string& programFolder)
    : m_databasePath(programFolder + kDefaultDatabaseName), m_reservedDate(OleDateTime::Now())
{
}

void COptions::Serialize(CArchive& ar)
{
    ar.Io(m_warningDays);
    ar.Io(m_notifyStatusChanges);
    ar.Io(m_realMonitoring);
    ar.Io(m_mailTo);
    ar.Io(m_smtpServer);
    ar.Io(m_smtpPort);
    ar.Io(m_mailFrom);
    ar.Io(m_smtpAuth);
    ar.Io(m_smtpUser);
    ar.Io(m_smtpPassword);
    ar.Io(m_databasePath);
    ar.Io(m_useProxy);
    ar.Io(m_proxyHost);
    ar.Io(m_proxyPort);
    ar.Io(m_reservedDate);
    ar.Io(m_reservedInt);
}
