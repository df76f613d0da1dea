#pragma once

#include "SMTPMessage.h"
#include "Socket.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

/// How far a session had come when it failed: the user is told whether the server was reached
/// at all and which step it refused, as each calls for a different remedy.
enum class SmtpStage
{
    Connect,          ///< no connection to the server (name, network, nobody listening)
    Greeting,         ///< connected; the server did not greet with 220
    Hello,            ///< EHLO (or HELO) not accepted
    Tls,              ///< STARTTLS refused, or the TLS handshake failed
    NoAuthOffered,    ///< a login was asked for and the server offers no method we can use
    PasswordKeptBack, ///< no TLS, and the password may not go in clear
    Auth,             ///< the login failed: user name or password refused, or the dialogue broke
    Send,             ///< logged in; the letter was refused (sender, recipient, data)
    Quit,             ///< the letter went; QUIT was not answered
};

/// A failed SMTP step: the library code (facility 4) or a socket/system error number
/// (facility 7), the server's last reply at the time, and the stage the session had reached.
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
    SmtpStage GetStage() const { return m_stage; }
    void SetStage(SmtpStage stage) { m_stage = stage; }

private:
    uint32_t m_error;
    std::string m_lastResponse;
    SmtpStage m_stage = SmtpStage::Connect;
};

/// What went wrong, as one sentence for the user: whether `host` and `port` were reached, the
/// step that failed and why. The server's reply is not repeated here (GetLastResponse has it).
std::string DescribeSmtpFailure(const CQRMSMTPException& e, const std::string& host, int port);

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

/// SMTP to the user's mail server: greeting, EHLO (HELO only when EHLO is refused), STARTTLS
/// whenever offered (port 465: TLS from the first byte), authentication, MAIL FROM / RCPT TO /
/// DATA, QUIT. Credentials go over a connection without TLS only when that is allowed.
class CQRMSMTPConnection : public CNTLMClientAuth
{
public:
    /// The longest reply line and the longest reply a server may send; past either the session ends.
    static constexpr std::size_t kMaxReplyLine = 64 * 1024;
    static constexpr std::size_t kMaxReply = 1024 * 1024;
    /// Library code of an Open that would have sent credentials without TLS.
    static constexpr uint32_t kPasswordNotSent = 542;

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

    /// The longest wait for one reply, and for one read, write or TLS handshake (default 60000).
    void SetTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    /// The longest a session may last, from Open to the end of Close (default 300000); past it the
    /// step under way fails with ETIMEDOUT (facility 7).
    void SetSessionLimit(int milliseconds) { m_sessionLimitMs = milliseconds; }
    /// Starts the session limit anew. Open does it; a caller that keeps a connection open for a
    /// later letter does it before that letter.
    void RestartSessionClock();
    /// While `*flag` is non-zero every wait ends soon with ECANCELED (facility 7), nothing more is
    /// sent and Close sends no QUIT. Null (the default): none. Set it between sessions only.
    void SetAbortFlag(const std::atomic<int>* flag);
    /// Whether credentials may go to a server that offers no TLS (default false: Open fails with
    /// kPasswordNotSent before any AUTH command).
    void SetAllowUnencryptedPassword(bool allow) { m_allowUnencryptedPassword = allow; }
    void SetHeloHostname(std::string name) { m_heloHostname = std::move(name); }
    /// The port on which Open speaks TLS from the first byte (465 unless changed; 0 = none).
    void SetImplicitTlsPort(int port) { m_implicitTlsPort = port; }

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
    /// MAIL FROM to the end of data.
    void SendMessage(const CQRMSMTPMessage& message);
    /// A socket failure as the exception of this layer; the session cannot go on after it.
    [[noreturn]] void RaiseSocket(const CWSocketException& e, std::string response = {});
    bool Aborted() const;
    /// Marks a failure with the stage the session had reached; Open, SendMail and Close do it.
    void Stamp(CQRMSMTPException& e) const { e.SetStage(m_stage); }
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
    int m_sessionLimitMs = 300000;
    CWSocket::Clock::time_point m_sessionEnd = CWSocket::Clock::time_point::max();
    const std::atomic<int>* m_abortFlag = nullptr;
    bool m_allowUnencryptedPassword = false;
    SmtpStage m_stage = SmtpStage::Connect;
    // Set when the server's side of the dialogue is lost (no reply in time, too long a reply,
    // a socket failure): a QUIT would only wait for nothing.
    bool m_broken = false;
};
