#pragma once

#include "core/records/OleDateTime.h"
#include "core/records/Serializable.h"

#include <cstdint>
#include <string>

/// The settings kept in "ORX.cfg", in stored order.
class COptions : public CSerializable
{
public:
    static constexpr std::string_view kClassName = "COptions";
    static constexpr const char* kDefaultDatabaseName = "data.orx";

    /// `programFolder` ends with a slash; the default database lies in it.
    explicit COptions(const std::string& programFolder = {});
    COptions(const COptions&) = default;
    COptions& operator=(const COptions&) = default;

    std::string_view GetClassName() const override { return kClassName; }
    void Serialize(CArchive& ar) override;

    int32_t GetWarningDays() const { return m_warningDays; }
    void SetWarningDays(int32_t days) { m_warningDays = days; }
    bool GetNotifyStatusChanges() const { return m_notifyStatusChanges != 0; }
    void SetNotifyStatusChanges(bool on) { m_notifyStatusChanges = on ? 1 : 0; }
    bool GetRealMonitoring() const { return m_realMonitoring != 0; }
    void SetRealMonitoring(bool on) { m_realMonitoring = on ? 1 : 0; }
    const std::string& GetMailTo() const { return m_mailTo; }
    void SetMailTo(std::string value) { m_mailTo = std::move(value); }
    const std::string& GetSmtpServer() const { return m_smtpServer; }
    void SetSmtpServer(std::string value) { m_smtpServer = std::move(value); }
    int32_t GetSmtpPort() const { return m_smtpPort; }
    void SetSmtpPort(int32_t port) { m_smtpPort = port; }
    const std::string& GetMailFrom() const { return m_mailFrom; }
    void SetMailFrom(std::string value) { m_mailFrom = std::move(value); }
    bool GetSmtpAuth() const { return m_smtpAuth != 0; }
    void SetSmtpAuth(bool on) { m_smtpAuth = on ? 1 : 0; }
    const std::string& GetSmtpUser() const { return m_smtpUser; }
    void SetSmtpUser(std::string value) { m_smtpUser = std::move(value); }
    const std::string& GetSmtpPassword() const { return m_smtpPassword; }
    void SetSmtpPassword(std::string value) { m_smtpPassword = std::move(value); }
    const std::string& GetDatabasePath() const { return m_databasePath; }
    void SetDatabasePath(std::string value) { m_databasePath = std::move(value); }
    bool GetUseProxy() const { return m_useProxy != 0; }
    void SetUseProxy(bool on) { m_useProxy = on ? 1 : 0; }
    const std::string& GetProxyHost() const { return m_proxyHost; }
    void SetProxyHost(std::string value) { m_proxyHost = std::move(value); }
    int32_t GetProxyPort() const { return m_proxyPort; }
    void SetProxyPort(int32_t port) { m_proxyPort = port; }
    const OleDateTime& GetReservedDate() const { return m_reservedDate; }
    int32_t GetReservedInt() const { return m_reservedInt; }

private:
    int32_t m_warningDays = 7;
    int32_t m_notifyStatusChanges = 0;
    int32_t m_realMonitoring = 0;
    std::string m_mailTo;
    std::string m_smtpServer;
    int32_t m_smtpPort = 25;
    std::string m_mailFrom;
    int32_t m_smtpAuth = 0;
    std::string m_smtpUser;
    std::string m_smtpPassword;
    std::string m_databasePath;
    int32_t m_useProxy = 0;
    std::string m_proxyHost;
    int32_t m_proxyPort = 8888;
    OleDateTime m_reservedDate;
    int32_t m_reservedInt = 0;
};
