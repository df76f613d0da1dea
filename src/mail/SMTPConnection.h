#pragma once

#include "SMTPMessage.h"
#include "Socket.h"

#include <cstdint>
#include <stdexcept>
#include <string>

/// A failed SMTP step: the library code (facility 4) or a socket/system error number
/// (facility 7), and the server's last reply at the time.
class CQRMSMTPException : public std::runtime_error
{
public:
    static constexpr uint32_t kFacilityLibrary = 4;
    static constexpr uint32_t kFacilitySystem = 7;

    /// `detail` replaces the system's text for facility 7 (the socket layer's own, TLS reasons).
    CQRMSMTPException(uint32_t code, uint32_t facility, std::string lastResponse, const std::string& detail = {});
    /// code | ((facility | 0x8000) << 16)
    uint32_t GetErrorCode() const { return m_error; }
    uint32_t GetCode() const { return m_error & 0xFFFF; }
    uint32_t GetFacility() const { return (m_error >> 16) & 0x7FFF; }
    const std::string& GetLastResponse() const { return m_lastResponse; }
    /// The registered message with the reply, or the system's text for the number.
    std::string GetErrorText() const { return what(); }

private:
    uint32_t m_error;
    std::string m_lastResponse;
};

enum SmtpAuthMethod
{
    AuthNone = 0,
    AuthCramMd5 = 1,
    AuthLogin = 2,
    AuthPlain = 3,
    AuthNtlm = 4,
    AuthAutomatic = 5,
};

/// The NTLM exchange of the mail client (NTLMv2 responses).
class CNTLMClientAuth
{
public:
    virtual ~CNTLMClientAuth() = default;

protected:
    virtual void SendNtlmFirstToken(const std::string& tokenBase64) = 0;
    virtual std::string ReadNtlmChallenge() = 0;
    virtual void SendNtlmResponse(const std::string& tokenBase64) = 0;
    /// Runs the three steps for "DOMAIN\\user" (or "user") and the password.
    void NtlmAuthenticate(const std::string& userName, const std::string& password);
};

/// SMTP to the user's mail server: greeting, HELO/EHLO, STARTTLS when offered (port 465: TLS from
/// the first byte), authentication, MAIL FROM / RCPT TO / DATA, QUIT.
class CQRMSMTPConnection : public CNTLMClientAuth
{
public:
    CQRMSMTPConnection();
    ~CQRMSMTPConnection() override;

    /// Throws CQRMSMTPException; on return the connection is ready for SendMail.
    void Open(const std::string& host, SmtpAuthMethod method, const std::string& userName, const std::string& password,
              int port = 25);
    void SendMail(const CQRMSMTPMessage& message);
    /// Graceful: QUIT first. Throws what the QUIT step raised, after closing in every case.
    void Close(bool graceful = true);
    bool IsConnected() const { return m_connected; }
    const std::string& GetLastResponse() const { return m_lastResponse; }
    int GetLastResponseCode() const { return m_lastResponseCode; }

    void SetTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int GetTimeout() const { return m_timeoutMs; }
    void SetHeloHostname(std::string name) { m_heloHostname = std::move(name); }
    /// The port on which Open speaks TLS from the first byte (465 unless changed; 0 = none).
    void SetImplicitTlsPort(int port) { m_implicitTlsPort = port; }
    const std::string& GetHeloHostname() const { return m_heloHostname; }

protected:
    void SendNtlmFirstToken(const std::string& tokenBase64) override;
    std::string ReadNtlmChallenge() override;
    void SendNtlmResponse(const std::string& tokenBase64) override;

    virtual void AuthCramMd5(const std::string& userName, const std::string& password);
    virtual void GreetExtended(SmtpAuthMethod method, const std::string& userName, const std::string& password,
                               const std::string& host);
    virtual void GreetPlain();
    virtual SmtpAuthMethod PickAuthMethod(const std::string& authLine) const;
    virtual void AuthLogin(const std::string& userName, const std::string& password);
    virtual void AuthPlain(const std::string& userName, const std::string& password);
    virtual std::string BuildMailFrom(const CQRMSMTPMessage& message) const;
    virtual void SendRecipient(const CQRMSMTPMessage& message, const CQRMSMTPAddress& recipient);
    virtual void WritePart(const CQRMSMTPBodyPart& part, bool root);
    virtual bool ExpectEither(int code1, int code2);
    virtual bool Expect(int code);
    virtual bool ReadReply();

private:
    void Write(const std::string& text);
    /// TLS over the open connection; a failed handshake closes it without QUIT.
    void StartTls(const std::string& host);
    [[noreturn]] void Raise(uint32_t code) const;

    CWSocket m_socket;
    bool m_connected = false;
    std::string m_lastResponse;
    std::string m_heloHostname;
    int m_timeoutMs = 60000;
    int m_lastResponseCode = 0;
    int m_implicitTlsPort = 465;
};
