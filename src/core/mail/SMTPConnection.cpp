#include "SMTPConnection.h"

#include "Ntlm.h"

#include <openssl/rand.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <optional>
#include <system_error>
#include <vector>

namespace {

constexpr uint32_t kQuitRefused = 518; // a free number in the library's range
constexpr uint32_t kStartTlsRefused = 541;

// The texts of the library codes; "%s" receives the server's last reply.
const char* RegisteredMessage(uint32_t code)
{
    switch (code) {
    case 512:
        return "The mail server did not greet with 220. Server response: %s";
    case 513:
        return "A MIME part header could not be built. Server response: %s";
    case 514:
        return "A MIME part body could not be built. Server response: %s";
    case 515:
        return "A MIME part trailer could not be built. Server response: %s";
    case 516:
        return "EHLO was not accepted, or the server offers no usable authentication method. Server response: %s";
    case 517:
        return "HELO was not accepted. Server response: %s";
    case kQuitRefused:
        return "QUIT was not answered with 221. Server response: %s";
    case 519:
        return "MAIL FROM was not accepted. Server response: %s";
    case 520:
        return "DATA was not accepted. Server response: %s";
    case 521:
        return "The message was not accepted at the end of data. Server response: %s";
    case 522:
    case 523:
        return "The prepared message could not be sent. Server response: %s";
    case 524:
        return "A recipient was not accepted. Server response: %s";
    case 525:
        return "AUTH LOGIN was not accepted. Server response: %s";
    case 526:
        return "The server did not ask for the user name. Server response: %s";
    case 527:
        return "The user name was not accepted. Server response: %s";
    case 528:
        return "The server did not ask for the password. Server response: %s";
    case 529:
        return "Login failed: user name or password rejected. Server response: %s";
    case 530:
        return "AUTH PLAIN was not accepted. Server response: %s";
    case 531:
    case 532:
    case 533:
        return "The AUTH PLAIN dialogue failed. Server response: %s";
    case 534:
        return "Login failed: user name or password rejected (AUTH PLAIN). Server response: %s";
    case 535:
        return "AUTH CRAM-MD5 was not accepted. Server response: %s";
    case 536:
        return "Login failed: CRAM-MD5 digest rejected. Server response: %s";
    case 538:
        return "NTLM authentication failed. Server response: %s";
    case 539:
        return "The server's reply is not valid base64. Server response: %s";
    case 540:
        return "Base64 encoding failed. Server response: %s";
    case kStartTlsRefused:
        return "STARTTLS was offered but not accepted. Server response: %s";
    case CQRMSMTPConnection::kPasswordNotSent:
        return "The server offers no encryption, so the password was not sent.";
    default:
        return "SMTP error. Server response: %s";
    }
}

std::string MakeErrorText(uint32_t code, uint32_t facility, const std::string& response, const std::string& detail)
{
    if (facility == CQRMSMTPException::kFacilityLibrary) {
        std::string text = RegisteredMessage(code);
        const std::size_t at = text.find("%s");
        if (at != std::string::npos)
            text.replace(at, 2, response);
        return text;
    }
    if (!detail.empty())
        return detail;
    return std::system_category().message(static_cast<int>(code));
}

uint32_t ResolveCode(uint32_t code, uint32_t facility)
{
    if (code == 0 && facility == CQRMSMTPException::kFacilitySystem)
        return static_cast<uint32_t>(errno);
    return code;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Servers word the LOGIN prompts differently ("Username:", "User Name\0"); only the letters count.
bool PromptIs(std::string_view prompt, std::string_view word)
{
    std::string letters;
    for (const char c : prompt) {
        if (std::isalpha(static_cast<unsigned char>(c)))
            letters += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return letters == word;
}

std::string AfterCode(const std::string& response)
{
    return response.size() > 4 ? response.substr(4) : std::string();
}

// An EHLO reply offers STARTTLS when one of its lines carries that keyword.
bool OffersStartTls(const std::string& reply)
{
    std::size_t start = 0;
    while (start < reply.size()) {
        std::size_t end = reply.find("\r\n", start);
        if (end == std::string::npos)
            end = reply.size();
        if (end - start >= 4) {
            const std::string_view keyword = std::string_view(reply).substr(start + 4, end - start - 4);
            if (EqualsNoCase(keyword.substr(0, keyword.find(' ')), "STARTTLS"))
                return true;
        }
        start = end + 2;
    }
    return false;
}

std::string LocalHostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "auto";
    return name;
}

std::string RandomHex(std::size_t bytes)
{
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1)
        throw CQRMSMTPException(EIO, CQRMSMTPException::kFacilitySystem, {}, "no random bytes available");
    std::string out;
    char hex[3];
    for (const unsigned char c : raw) {
        std::snprintf(hex, sizeof hex, "%02x", c);
        out += hex;
    }
    return out;
}

} // namespace

CQRMSMTPException::CQRMSMTPException(uint32_t code, uint32_t facility, std::string lastResponse,
                                     const std::string& detail)
    : std::runtime_error(MakeErrorText(ResolveCode(code, facility), facility, lastResponse, detail)),
      m_error((ResolveCode(code, facility) & 0xFFFF) | ((facility | 0x8000) << 16)),
      m_lastResponse(std::move(lastResponse))
{
}

CQRMSMTPConnection::CQRMSMTPConnection() : m_heloHostname(LocalHostName())
{
}

CQRMSMTPConnection::~CQRMSMTPConnection()
{
    try {
        if (m_connected)
            Close(true);
    } catch (...) {
        // A destructor has no one to tell.
    }
}

void CQRMSMTPConnection::Raise(uint32_t code) const
{
    throw CQRMSMTPException(code, CQRMSMTPException::kFacilityLibrary, m_lastResponse);
}

bool CQRMSMTPConnection::Aborted() const
{
    return m_abortFlag && m_abortFlag->load(std::memory_order_relaxed) != 0;
}

void CQRMSMTPConnection::SetAbortFlag(const std::atomic<int>* flag)
{
    m_abortFlag = flag;
    m_socket.SetAbortFlag(flag);
}

void CQRMSMTPConnection::RestartSessionClock()
{
    m_sessionEnd = m_sessionLimitMs > 0 ? CWSocket::Clock::now() + std::chrono::milliseconds(m_sessionLimitMs)
                                        : CWSocket::Clock::time_point::max();
    m_socket.SetDeadline(m_sessionEnd);
}

void CQRMSMTPConnection::RaiseSocket(const CWSocketException& e, std::string response)
{
    m_broken = true;
    std::string detail = e.what();
    if (e.GetErrorNumber() == ECANCELED && Aborted())
        detail = "Mailing was stopped on request.";
    else if (e.GetErrorNumber() == ETIMEDOUT && CWSocket::Clock::now() >= m_sessionEnd)
        detail = "The mail session took longer than the " +
                 (m_sessionLimitMs % 1000 == 0 ? std::to_string(m_sessionLimitMs / 1000) + " seconds"
                                               : std::to_string(m_sessionLimitMs) + " milliseconds") +
                 " allowed and was ended.";
    throw CQRMSMTPException(static_cast<uint32_t>(e.GetErrorNumber()), CQRMSMTPException::kFacilitySystem,
                            std::move(response), detail);
}

void CQRMSMTPConnection::Write(const std::string& text)
{
    if (text.empty())
        return;
    try {
        m_socket.SendAll(text);
    } catch (const CWSocketException& e) {
        RaiseSocket(e);
    }
}

void CQRMSMTPConnection::Open(const std::string& host, SmtpAuthMethod method, const std::string& userName,
                              const std::string& password, int port)
{
    if (m_connected) {
        try {
            Close(true);
        } catch (const CQRMSMTPException&) {
            // The old session is over either way.
        }
    }
    m_broken = false;
    m_stage = SmtpStage::Connect;
    m_socket.SetTimeout(m_timeoutMs);
    m_socket.SetAbortFlag(m_abortFlag);
    RestartSessionClock();
    try {
        m_socket.CreateSocket(true);
        m_socket.ConnectTo(host, port, m_timeoutMs);
    } catch (const CWSocketException& e) {
        m_socket.CloseSocket();
        RaiseSocket(e);
    }
    m_connected = true;

    try {
        if (m_implicitTlsPort > 0 && port == m_implicitTlsPort) {
            m_stage = SmtpStage::Tls;
            StartTls(host);
        }
        m_stage = SmtpStage::Greeting;
        if (!Expect(220))
            Raise(512);
        // EHLO even without authentication: only its reply tells whether STARTTLS is offered.
        GreetExtended(method, userName, password, host);
    } catch (CQRMSMTPException& e) {
        Stamp(e);
        try {
            Close(true);
        } catch (const CQRMSMTPException&) {
            // The failure that got us here is the one to report.
        }
        throw;
    }
}

void CQRMSMTPConnection::StartTls(const std::string& host)
{
    try {
        m_socket.StartTls(host);
    } catch (const CWSocketException& e) {
        // A session whose handshake failed cannot carry a QUIT.
        m_connected = false;
        m_socket.CloseSocket();
        RaiseSocket(e);
    }
}

void CQRMSMTPConnection::GreetPlain()
{
    Write("HELO " + m_heloHostname + "\r\n");
    if (!Expect(250))
        Raise(517);
}

void CQRMSMTPConnection::GreetExtended(SmtpAuthMethod method, const std::string& userName, const std::string& password,
                                       const std::string& host)
{
    m_stage = SmtpStage::Hello;
    Write("EHLO " + m_heloHostname + "\r\n");
    if (!ReadReply())
        Raise(516);
    if (m_lastResponseCode >= 500 && m_lastResponseCode <= 599) {
        // A server that does not know EHLO offers neither STARTTLS nor AUTH: plain mail only.
        GreetPlain();
        if (method != AuthNone) {
            m_stage = SmtpStage::NoAuthOffered;
            Raise(516);
        }
        return;
    }
    if (m_lastResponseCode != 250)
        Raise(516);

    // Whenever it is offered, with or without a password to protect: the letter's contents are
    // the user's business too. Once offered, a failure ends the session; there is no falling back
    // to plain text.
    if (!m_socket.IsTls() && OffersStartTls(m_lastResponse)) {
        m_stage = SmtpStage::Tls;
        Write("STARTTLS\r\n");
        if (!Expect(220))
            Raise(kStartTlsRefused);
        StartTls(host);
        // What the server offers may change once the channel is private, the AUTH line above all.
        m_stage = SmtpStage::Hello;
        Write("EHLO " + m_heloHostname + "\r\n");
        if (!Expect(250))
            Raise(516);
    }

    if (method == AuthNone)
        return;

    if (method == AuthAutomatic) {
        // Only a continuation line counts, as servers list AUTH before their final line.
        const std::size_t at = m_lastResponse.find("250-AUTH ");
        if (at != std::string::npos) {
            const std::size_t from = at + 9;
            const std::size_t end = m_lastResponse.find("\r\n", from);
            std::string line = m_lastResponse.substr(from, end == std::string::npos ? std::string::npos : end - from);
            std::transform(line.begin(), line.end(), line.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            method = PickAuthMethod(line);
        }
    }

    // Without TLS anybody on the way can strip the STARTTLS offer, read LOGIN and PLAIN, and
    // attack a CRAM-MD5 or NTLM answer at leisure: the user must have agreed to that.
    const bool usable = method == ::AuthCramMd5 || method == ::AuthLogin || method == ::AuthPlain || method == AuthNtlm;
    if (usable && !m_socket.IsTls() && !m_allowUnencryptedPassword) {
        m_stage = SmtpStage::PasswordKeptBack;
        Raise(kPasswordNotSent);
    }

    m_stage = usable ? SmtpStage::Auth : SmtpStage::NoAuthOffered;
    switch (method) {
    case ::AuthCramMd5:
        AuthCramMd5(userName, password);
        break;
    case ::AuthLogin:
        AuthLogin(userName, password);
        break;
    case ::AuthPlain:
        AuthPlain(userName, password);
        break;
    case AuthNtlm:
        try {
            NtlmAuthenticate(userName, password);
        } catch (const ntlm::CNtlmFormatError&) {
            Raise(538);
        } catch (const CQRMSMTPException&) {
            throw;
        } catch (const std::runtime_error& e) {
            throw CQRMSMTPException(EIO, CQRMSMTPException::kFacilitySystem, m_lastResponse, e.what());
        }
        break;
    default:
        Raise(516);
    }
}

SmtpAuthMethod CQRMSMTPConnection::PickAuthMethod(const std::string& authLine) const
{
    if (authLine.find("NTLM") != std::string::npos)
        return AuthNtlm;
    if (authLine.find("CRAM-MD5") != std::string::npos)
        return ::AuthCramMd5;
    if (authLine.find("LOGIN") != std::string::npos)
        return ::AuthLogin;
    if (authLine.find("PLAIN") != std::string::npos)
        return ::AuthPlain;
    return AuthAutomatic;
}

void CQRMSMTPConnection::AuthLogin(const std::string& userName, const std::string& password)
{
    Write("AUTH LOGIN\r\n");
    if (!Expect(334))
        Raise(525);
    std::string prompt;
    if (!MailEncoding::Base64Decode(AfterCode(m_lastResponse), prompt) || !PromptIs(prompt, "username"))
        Raise(526);
    Write(MailEncoding::Base64Encode(userName) + "\r\n");
    if (!Expect(334))
        Raise(527);
    if (!MailEncoding::Base64Decode(AfterCode(m_lastResponse), prompt) || !PromptIs(prompt, "password"))
        Raise(528);
    Write(MailEncoding::Base64Encode(password) + "\r\n");
    if (!Expect(235))
        Raise(529);
}

void CQRMSMTPConnection::AuthPlain(const std::string& userName, const std::string& password)
{
    // RFC 4616: empty authorisation identity, then user and password, in one response.
    const std::string credentials = MailEncoding::Base64Encode(std::string(1, '\0') + userName + '\0' + password);
    Write("AUTH PLAIN " + credentials + "\r\n");
    if (!ReadReply())
        Raise(530);
    if (m_lastResponseCode == 334) {
        // A server that wants the credentials on a line of their own asks with an empty challenge.
        Write(credentials + "\r\n");
        if (!Expect(235))
            Raise(534);
    } else if (m_lastResponseCode != 235) {
        Raise(m_lastResponseCode == 535 ? 534 : 530);
    }
}

void CQRMSMTPConnection::AuthCramMd5(const std::string& userName, const std::string& password)
{
    Write("AUTH CRAM-MD5\r\n");
    if (!Expect(334))
        Raise(535);
    std::string challenge;
    if (!MailEncoding::Base64Decode(AfterCode(m_lastResponse), challenge))
        Raise(539);
    std::string digest;
    try {
        digest = ntlm::HmacMd5(password, challenge);
    } catch (const std::runtime_error& e) {
        throw CQRMSMTPException(ENOSYS, CQRMSMTPException::kFacilitySystem, m_lastResponse, e.what());
    }
    std::string hex;
    char pair[3];
    for (const char c : digest) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        hex += pair;
    }
    Write(MailEncoding::Base64Encode(userName + " " + hex) + "\r\n");
    if (!Expect(235))
        Raise(536);
}

void CQRMSMTPConnection::SendNtlmFirstToken(const std::string& tokenBase64)
{
    Write("AUTH NTLM " + tokenBase64 + "\r\n");
}

std::string CQRMSMTPConnection::ReadNtlmChallenge()
{
    if (!Expect(334))
        Raise(538);
    std::string challenge;
    if (!MailEncoding::Base64Decode(AfterCode(m_lastResponse), challenge))
        Raise(539);
    return challenge;
}

void CQRMSMTPConnection::SendNtlmResponse(const std::string& tokenBase64)
{
    Write(tokenBase64 + "\r\n");
    if (!Expect(235))
        Raise(538);
}

std::string CQRMSMTPConnection::BuildMailFrom(const CQRMSMTPMessage& message) const
{
    const std::string& sender = message.m_From.m_emailAddress;
    if (message.m_dwDSNFlags == -1)
        return "MAIL FROM:<" + sender + ">\r\n";
    const std::string envelopeId = message.m_sENVID.empty() ? RandomHex(16) : message.m_sENVID;
    return "MAIL FROM:<" + sender + "> RET=" + (message.m_DSNReturnType != 0 ? "FULL" : "HDRS") +
           " ENVID=" + envelopeId + "\r\n";
}

void CQRMSMTPConnection::SendRecipient(const CQRMSMTPMessage& message, const CQRMSMTPAddress& recipient)
{
    std::string command = "RCPT TO:<" + recipient.m_emailAddress + ">";
    if (message.m_dwDSNFlags != -1) {
        std::string notify;
        const char* names[] = {"SUCCESS", "FAILURE", "DELAY"};
        for (int bit = 0; bit < 3; ++bit) {
            if (message.m_dwDSNFlags & (1 << bit)) {
                if (!notify.empty())
                    notify += ',';
                notify += names[bit];
            }
        }
        command += " NOTIFY=" + (notify.empty() ? std::string("NEVER") : notify);
    }
    Write(command + "\r\n");
    if (!ExpectEither(250, 251))
        Raise(524);
}

void CQRMSMTPConnection::SendMail(const CQRMSMTPMessage& message)
{
    m_stage = SmtpStage::Send;
    if (!m_connected)
        throw CQRMSMTPException(ENOTCONN, CQRMSMTPException::kFacilitySystem, {});
    try {
        SendMessage(message);
    } catch (CQRMSMTPException& e) {
        Stamp(e);
        throw;
    }
}

void CQRMSMTPConnection::SendMessage(const CQRMSMTPMessage& message)
{
    Write(BuildMailFrom(message));
    if (!Expect(250))
        Raise(519);
    for (const auto type : {CQRMSMTPMessage::RecipientTo, CQRMSMTPMessage::RecipientCc, CQRMSMTPMessage::RecipientBcc})
        for (const auto& recipient : message.GetRecipients(type))
            SendRecipient(message, recipient);
    Write("DATA\r\n");
    if (!Expect(354))
        Raise(520);

    Write(message.BuildHeaderBlock() + "\r\n");
    const CQRMSMTPBodyPart& root = message.m_RootPart;
    if (root.GetNumberOfChildBodyParts() > 0 || message.IsMimeEnabled())
        WritePart(root, true);
    else
        Write(MailEncoding::StuffDots(root.GetText()));

    Write("\r\n.\r\n");
    if (!Expect(250))
        Raise(521);
}

void CQRMSMTPConnection::WritePart(const CQRMSMTPBodyPart& part, bool root)
{
    auto build = [this](uint32_t code, auto&& make) {
        try {
            return make();
        } catch (const std::exception&) {
            Raise(code);
        }
    };
    if (!root)
        Write(build(513, [&] { return part.BuildPartHeader(); }));
    Write(build(514, [&] { return part.BuildPartBody(true); }));
    const std::size_t children = part.GetNumberOfChildBodyParts();
    for (std::size_t i = 0; i < children; ++i)
        WritePart(*part.GetChildBodyPart(i), false);
    if (children > 0)
        Write(build(515, [&] { return part.BuildPartTrailer(); }));
}

void CQRMSMTPConnection::Close(bool graceful)
{
    std::optional<CQRMSMTPException> remembered;
    // After a stop on request nothing more goes to the server, QUIT included.
    if (m_connected && graceful && !m_broken && !Aborted()) {
        try {
            Write("QUIT\r\n");
            if (!Expect(221))
                remembered.emplace(kQuitRefused, CQRMSMTPException::kFacilityLibrary, m_lastResponse);
        } catch (const CQRMSMTPException& e) {
            remembered = e;
        }
        if (remembered)
            remembered->SetStage(SmtpStage::Quit);
    }
    m_connected = false;
    m_socket.CloseSocket();
    if (remembered)
        throw *remembered;
}

bool CQRMSMTPConnection::Expect(int code)
{
    return ReadReply() && m_lastResponseCode == code;
}

bool CQRMSMTPConnection::ExpectEither(int code1, int code2)
{
    return ReadReply() && (m_lastResponseCode == code1 || m_lastResponseCode == code2);
}

bool CQRMSMTPConnection::ReadReply()
{
    std::string text;
    // A server that has lost its way may send without end; what it sent so far is kept short.
    auto shortened = [&text] { return text.size() > 512 ? text.substr(0, 512) + "..." : text; };
    auto tooLong = [&](const std::string& what) {
        m_broken = true;
        m_lastResponse = shortened();
        throw CQRMSMTPException(EMSGSIZE, CQRMSMTPException::kFacilitySystem, m_lastResponse,
                                "The server's " + what + "; the session was ended.");
    };
    std::size_t lineStart = 0;     // where the line being received begins
    std::size_t lastLineStart = 0; // where the last complete line begins
    std::size_t scanned = 0;       // bytes already searched for line ends
    // The time-out bounds the whole reply: a server sending a byte now and then cannot stretch it.
    const auto replyEnd = CWSocket::Clock::now() + std::chrono::milliseconds(std::max(m_timeoutMs, 0));
    char chunk[4096];

    for (;;) {
        int count = 0;
        try {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(replyEnd - CWSocket::Clock::now()).count();
            if (!m_socket.WaitReadable(static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)))) {
                m_broken = true;
                m_lastResponse = shortened();
                return false;
            }
            count = m_socket.ReceiveBytes(chunk, sizeof chunk);
        } catch (const CWSocketException& e) {
            m_lastResponse = shortened();
            RaiseSocket(e, m_lastResponse);
        }
        if (count <= 0) {
            m_broken = true;
            m_lastResponse = shortened();
            return false;
        }
        text.append(chunk, static_cast<std::size_t>(count));
        if (text.size() > kMaxReply)
            tooLong("reply is longer than " + std::to_string(kMaxReply) + " bytes");

        // A "\r" at the end of the last piece may pair with a "\n" at the start of this one.
        const std::string lineTooLong = "reply line is longer than " + std::to_string(kMaxReplyLine) + " bytes";
        for (std::size_t i = scanned > 0 ? scanned - 1 : 0; i + 1 < text.size(); ++i) {
            if (text[i] == '\r' && text[i + 1] == '\n') {
                if (i - lineStart > kMaxReplyLine)
                    tooLong(lineTooLong);
                lastLineStart = lineStart;
                lineStart = i + 2;
                ++i;
            }
        }
        scanned = text.size();
        // The line under way counts too, or an endless line would only end at the reply's bound.
        if (text.size() - lineStart > kMaxReplyLine + 1)
            tooLong(lineTooLong);

        // Complete when everything received ends a line and that last line is a final one: a
        // code and a blank, or (RFC 5321 4.2) the bare code.
        if (lineStart != text.size())
            continue;
        const std::string_view line(text.data() + lastLineStart, text.size() - 2 - lastLineStart);
        const bool digits = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                            std::isdigit(static_cast<unsigned char>(line[1])) &&
                            std::isdigit(static_cast<unsigned char>(line[2]));
        if ((line.size() == 3 && digits) || (line.size() > 3 && line[3] == ' ')) {
            m_lastResponse.assign(text.data(), text.size() - 2);
            m_lastResponseCode = std::atoi(std::string(line.substr(0, 3)).c_str());
            return true;
        }
    }
}

namespace {

// "Text." from a text that may or may not end with a full stop already.
std::string Sentence(std::string text)
{
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text + ".";
}

// The registered message of a library code without its reply, lower-cased at the start, to stand
// inside a sentence.
std::string StepText(uint32_t code)
{
    std::string text = RegisteredMessage(code);
    text = text.substr(0, text.find(". Server response"));
    if (!text.empty() && text.compare(0, 4, "AUTH") != 0 && text.compare(0, 4, "NTLM") != 0)
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

const char* During(SmtpStage stage)
{
    switch (stage) {
    case SmtpStage::Connect:
    case SmtpStage::Greeting:
        return "before its greeting";
    case SmtpStage::Hello:
        return "at EHLO";
    case SmtpStage::Tls:
        return "while TLS was set up";
    case SmtpStage::NoAuthOffered:
    case SmtpStage::PasswordKeptBack:
    case SmtpStage::Auth:
        return "during the login";
    case SmtpStage::Send:
        return "while the letter was sent";
    case SmtpStage::Quit:
        return "at QUIT, after the letter was accepted";
    }
    return "";
}

// What the server did wrong at a step it answered, or "" when the stage says nothing more.
std::string Refusal(SmtpStage stage, uint32_t code, const std::string& reply)
{
    switch (stage) {
    case SmtpStage::Connect:
    case SmtpStage::Greeting:
        return "it did not greet with 220";
    case SmtpStage::Hello:
        return code == 517 ? "it did not accept HELO" : "it did not accept EHLO";
    case SmtpStage::Tls:
        return "it refused STARTTLS, so nothing was sent";
    case SmtpStage::NoAuthOffered:
        return "it offers no authentication that this program can use (LOGIN, PLAIN, CRAM-MD5 or NTLM), so it "
               "could not log in";
    case SmtpStage::PasswordKeptBack:
        return "it offers no encryption (STARTTLS), so the password was not sent";
    case SmtpStage::Auth:
        if (code == 529 || code == 534 || code == 536 || reply.compare(0, 3, "535") == 0)
            return "it refused the user name or password";
        return "the login failed (" + StepText(code) + ")";
    case SmtpStage::Send:
        switch (code) {
        case 519:
            return "it refused the sender address (MAIL FROM)";
        case 524:
            return "it refused a recipient (RCPT TO)";
        case 520:
            return "it refused to take the letter (DATA)";
        case 521:
            return "it refused the letter at its end";
        default:
            return "the letter could not be sent (" + StepText(code) + ")";
        }
    case SmtpStage::Quit:
        return "QUIT was not answered with 221 after the letter was accepted";
    }
    return {};
}

} // namespace

std::string DescribeSmtpFailure(const CQRMSMTPException& e, const std::string& host, int port)
{
    const std::string server = "the mail server \"" + host + "\" port " + std::to_string(port);
    const SmtpStage stage = e.GetStage();
    if (stage == SmtpStage::Connect) {
        // The socket layer names the address too; once is enough.
        std::string cause = e.what();
        const std::string repeated = ": cannot connect to " + host + " port " + std::to_string(port);
        if (cause.size() > repeated.size() && cause.ends_with(repeated))
            cause.resize(cause.size() - repeated.size());
        return Sentence("No connection to " + server + ": " + cause);
    }

    std::string what;
    const uint32_t code = e.GetCode();
    if (e.GetFacility() != CQRMSMTPException::kFacilityLibrary) {
        if (stage == SmtpStage::Tls)
            what = "the TLS handshake failed, so nothing was sent: " + std::string(e.what());
        else
            what = "the connection failed " + std::string(During(stage)) + ": " + e.what();
    } else if (e.GetLastResponse().empty() && stage != SmtpStage::PasswordKeptBack &&
               stage != SmtpStage::NoAuthOffered && !(code >= 513 && code <= 515)) {
        // A step that got no reply at all: the server went quiet or hung up.
        what = std::string("it stopped answering ") + During(stage);
    } else {
        what = Refusal(stage, code, e.GetLastResponse());
    }
    return Sentence("Connected to " + server + ", but " + what);
}
