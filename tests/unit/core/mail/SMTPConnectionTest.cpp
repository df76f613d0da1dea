#include "core/mail/SMTPConnection.h"

#include "fakes/FakeSmtp.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace {

using fakes::FakeSmtpServer;
using testsupport::Occurrences;
using namespace std::chrono_literals;

const std::string kUser = "alice";
const std::string kPassword = "s3cret pass";

struct Failure
{
    bool thrown = false;
    uint32_t code = 0;
    uint32_t facility = 0;
    std::string response;
    std::string text;
};

Failure Catch(const std::function<void()>& action)
{
    Failure f;
    try {
        action();
    } catch (const CQRMSMTPException& e) {
        f.thrown = true;
        f.code = e.GetCode();
        f.facility = e.GetFacility();
        f.response = e.GetLastResponse();
        f.text = e.what();
    }
    return f;
}

CQRMSMTPMessage PlainMessage()
{
    CQRMSMTPMessage m;
    m.m_From = CQRMSMTPAddress("Orvex", "sender@example.com");
    m.AddAddress(CQRMSMTPAddress("to@example.com"), CQRMSMTPMessage::RecipientTo);
    m.AddAddress(CQRMSMTPAddress("cc@example.com"), CQRMSMTPMessage::RecipientCc);
    m.AddAddress(CQRMSMTPAddress("bcc@example.com"), CQRMSMTPMessage::RecipientBcc);
    m.m_sSubject = "Link report";
    m.m_RootPart.SetText("first line\r\n.starts with a dot\r\n..two dots\r\nlast");
    return m;
}

std::vector<std::string> Scripted(std::vector<std::string> extra)
{
    std::vector<std::string> args = {"--kind", "scripted", "--user", kUser, "--password", kPassword};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

/// Runs `action` on a thread of its own and returns how long it took. When it is still running
/// after `limit`, the test fails and `unblock` (stopping the fake server) lets it end: a client
/// that would wait for ever fails the test instead of hanging it.
std::chrono::milliseconds RunBounded(const std::function<void()>& action, std::chrono::milliseconds limit,
                                     const std::function<void()>& unblock)
{
    const auto start = std::chrono::steady_clock::now();
    auto done = std::async(std::launch::async, action);
    if (done.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << "still waiting after " << limit.count() << " ms";
        unblock();
        done.wait();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

/// The largest number that follows `prefix` in the server's log (every connection, the start-up
/// probe's included, logs its own line), or 0.
std::size_t LoggedMaximum(const FakeSmtpServer& server, const std::string& prefix)
{
    const std::string log = server.Commands();
    std::size_t most = 0;
    for (std::size_t at = log.find(prefix); at != std::string::npos; at = log.find(prefix, at + 1))
        most = std::max<std::size_t>(most, std::stoul(log.substr(at + prefix.size())));
    return most;
}

std::vector<std::string> Aiosmtpd(std::vector<std::string> extra)
{
    std::vector<std::string> args = {"--kind", "aiosmtpd", "--user", kUser, "--password", kPassword};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// Opens, sends PlainMessage and closes; the first message's parsed form. The mechanism tests run
// over plain connections, so they allow the password there unless told otherwise; the rule that
// keeps it back has tests of its own.
std::string Deliver(FakeSmtpServer& server, SmtpAuthMethod method, const std::string& user = kUser,
                    const std::string& password = kPassword, bool allowUnencryptedPassword = true)
{
    CQRMSMTPConnection c;
    c.SetAllowUnencryptedPassword(allowUnencryptedPassword);
    c.Open("127.0.0.1", method, user, password, server.Port());
    EXPECT_TRUE(c.IsConnected());
    c.SendMail(PlainMessage());
    c.Close();
    EXPECT_FALSE(c.IsConnected());
    return server.MessageJson();
}

// --- Delivery through a real server --------------------------------------------------------------

TEST(SmtpDelivery, HeloWithoutAuthDeliversToAllRecipientKinds)
{
    FakeSmtpServer server;
    server.Start(Aiosmtpd({}));
    const std::string json = Deliver(server, AuthNone);
    ASSERT_FALSE(json.empty()) << server.Output();
    EXPECT_EQ(FakeSmtpServer::Field(json, "mail_from"), "sender@example.com");
    EXPECT_EQ(FakeSmtpServer::Field(json, "rcpt_tos"), "to@example.com,cc@example.com,bcc@example.com");
    EXPECT_EQ(FakeSmtpServer::Field(json, "subject"), "Link report");
    EXPECT_EQ(FakeSmtpServer::Field(json, "bcc_header"), "");
    EXPECT_EQ(FakeSmtpServer::Field(json, "defects"), "0");
    // The server undoes the dot-stuffing, so the text arrives as written.
    EXPECT_NE(FakeSmtpServer::Field(json, "text_plain").find("\n.starts with a dot\n..two dots\nlast"),
              std::string::npos)
        << json;
}

TEST(SmtpDelivery, MimeHtmlLetterParsesAsMultipart)
{
    FakeSmtpServer server;
    server.Start(Aiosmtpd({"--auth"}));
    CQRMSMTPMessage m = PlainMessage();
    m.EnableMime(true);
    m.SetHtmlText("<html><body>\r\n.hidden? no\r\n<p>Links</p></body></html>", "");

    CQRMSMTPConnection c;
    c.SetAllowUnencryptedPassword(true);
    c.Open("127.0.0.1", AuthAutomatic, kUser, kPassword, server.Port());
    c.SendMail(m);
    c.SendMail(m); // the ready state allows more than one message
    c.Close();

    for (int n : {1, 2}) {
        const std::string json = server.MessageJson(n);
        ASSERT_FALSE(json.empty()) << server.Output();
        EXPECT_EQ(FakeSmtpServer::Field(json, "multipart"), "true") << json;
        EXPECT_EQ(FakeSmtpServer::Field(json, "defects"), "0") << json;
        EXPECT_NE(FakeSmtpServer::Field(json, "text_html").find("\n.hidden? no\n<p>Links</p>"), std::string::npos)
            << json;
    }
}

TEST(SmtpDelivery, LoginAndPlainAgainstARealServer)
{
    FakeSmtpServer server;
    server.Start(Aiosmtpd({"--auth"}));
    EXPECT_FALSE(Deliver(server, AuthPlain).empty());

    EXPECT_EQ(Catch([&] { Deliver(server, AuthLogin, kUser, "wrong"); }).code, 529u);
    EXPECT_EQ(Catch([&] { Deliver(server, AuthPlain, kUser, "wrong"); }).code, 534u);
    // Automatic choice picks LOGIN from "250-AUTH LOGIN PLAIN", so a bad password fails there.
    EXPECT_EQ(Catch([&] { Deliver(server, AuthAutomatic, kUser, "wrong"); }).code, 529u);
    // A server that insists on authentication refuses the sender of an anonymous session.
    EXPECT_EQ(Catch([&] { Deliver(server, AuthNone); }).code, 519u);
}

// --- Mechanisms and the automatic choice ---------------------------------------------------------

// The automatic choice takes the mechanism that keeps the password off the wire, the server
// verifies its answer, and a wrong password fails with the mechanism's own code.
TEST(SmtpAuth, CramMd5AndNtlmV2AreVerifiedByTheServer)
{
    const struct
    {
        const char* offered;
        std::string user;
        SmtpAuthMethod method;
        const char* evidence;
        uint32_t wrongPasswordCode;
    } cases[] = {
        {"LOGIN CRAM-MD5 PLAIN", kUser, AuthCramMd5, "AUTH CRAM-MD5", 536},
        {"LOGIN NTLM", "EXAMPLE\\alice", AuthNtlm, "NTLM: verified EXAMPLE\\alice", 538},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offered);
        FakeSmtpServer server;
        server.Start(Scripted({"--auth-line", c.offered, "--user", c.user}));
        EXPECT_FALSE(Deliver(server, AuthAutomatic, c.user).empty()) << server.Commands();
        EXPECT_NE(server.Commands().find(c.evidence), std::string::npos) << server.Commands();
        const Failure f = Catch([&] { Deliver(server, c.method, c.user, "wrong"); });
        EXPECT_EQ(f.code, c.wrongPasswordCode);
        EXPECT_EQ(f.response.substr(0, 3), "535");
    }
}

TEST(SmtpAuth, AutomaticChoiceReadsContinuationLineOnly)
{
    {
        FakeSmtpServer server;
        server.Start(Scripted({"--auth-line", "PLAIN LOGIN"}));
        EXPECT_FALSE(Deliver(server, AuthAutomatic).empty());
        EXPECT_NE(server.Commands().find("AUTH LOGIN"), std::string::npos);
    }
    {
        // PLAIN alone: the single RFC 4616 line, with the empty authorisation identity.
        FakeSmtpServer server;
        server.Start(Scripted({"--auth-line", "plain"}));
        EXPECT_FALSE(Deliver(server, AuthAutomatic).empty());
        EXPECT_NE(server.Commands().find("AUTH PLAIN AGFsaWNlAHMzY3JldCBwYXNz"), std::string::npos)
            << server.Commands();
    }
    for (const auto& args : {std::vector<std::string>{"--auth-final", "LOGIN PLAIN"},
                             std::vector<std::string>{"--auth-line", "GSSAPI XOAUTH2"}}) {
        FakeSmtpServer server;
        server.Start(Scripted(args));
        CQRMSMTPConnection c;
        const Failure f = Catch([&] { c.Open("127.0.0.1", AuthAutomatic, kUser, kPassword, server.Port()); });
        EXPECT_EQ(f.code, 516u) << args[1];
        EXPECT_EQ(f.facility, CQRMSMTPException::kFacilityLibrary);
        EXPECT_FALSE(c.IsConnected());
        // The failed open still said goodbye.
        EXPECT_NE(server.Commands().find("QUIT"), std::string::npos);
    }
}

// --- Reading replies ------------------------------------------------------------------------------

TEST(SmtpReplies, SplitAndLongRepliesAreReadWhole)
{
    {
        FakeSmtpServer server;
        server.Start(Scripted({"--split", "--auth-line", "LOGIN"}));
        EXPECT_FALSE(Deliver(server, AuthAutomatic).empty());
    }
    {
        // More than 5,000 bytes of EHLO lines before the AUTH line.
        FakeSmtpServer server;
        server.Start(Scripted({"--long", "--split", "--auth-line", "LOGIN"}));
        CQRMSMTPConnection c;
        c.SetHeloHostname("client.test");
        c.SetAllowUnencryptedPassword(true);
        c.Open("127.0.0.1", AuthAutomatic, kUser, kPassword, server.Port());
        EXPECT_EQ(c.GetLastResponse(), "235 authenticated");
        EXPECT_EQ(c.GetLastResponseCode(), 235);
        c.Close();
        EXPECT_NE(server.Commands().find("EHLO client.test\nAUTH LOGIN"), std::string::npos) << server.Commands();
    }
}

TEST(SmtpReplies, RecipientCodes)
{
    {
        FakeSmtpServer server;
        server.Start(Scripted({"--rcpt-code", "251"}));
        EXPECT_FALSE(Deliver(server, AuthNone).empty());
    }
    {
        FakeSmtpServer server;
        server.Start(Scripted({"--rcpt-code", "550"}));
        const Failure f = Catch([&] { Deliver(server, AuthNone); });
        EXPECT_EQ(f.code, 524u);
        EXPECT_EQ(f.response, "550 recipient ok");
    }
}

TEST(SmtpReplies, BareCodeEndsAReply)
{
    // Every final line is the code alone ("220", "250", ...), the EHLO reply's included.
    FakeSmtpServer server;
    server.Start(Scripted({"--bare-codes", "--auth-line", "LOGIN"}));
    CQRMSMTPConnection c;
    c.SetTimeout(3000);
    c.SetAllowUnencryptedPassword(true);
    const Failure f = Catch([&] {
        c.Open("127.0.0.1", AuthAutomatic, kUser, kPassword, server.Port());
        EXPECT_EQ(c.GetLastResponse(), "235");
        EXPECT_EQ(c.GetLastResponseCode(), 235);
        c.SendMail(PlainMessage());
        c.Close();
    });
    EXPECT_FALSE(f.thrown) << f.text;
    EXPECT_FALSE(server.MessageJson().empty()) << server.Commands();
    EXPECT_NE(server.Commands().find("AUTH LOGIN"), std::string::npos) << server.Commands();
    EXPECT_TRUE(server.LogShows("bare code: 220")) << server.Commands();
    EXPECT_TRUE(server.LogShows("bare code: 221")) << "QUIT was answered with the bare code too";
}

// --- Bounds on what a server may send and on how long it may take ---------------------------------

TEST(SmtpBounds, EndlessLineAndEndlessReplyEndTheSession)
{
    struct Case
    {
        std::string kind;
        std::string error;
        std::size_t bound;
    };
    for (const auto& [kind, error, bound] :
         {Case{"line", "reply line is longer than 65536 bytes", CQRMSMTPConnection::kMaxReplyLine},
          Case{"reply", "reply is longer than 1048576 bytes", CQRMSMTPConnection::kMaxReply}}) {
        SCOPED_TRACE(kind);
        FakeSmtpServer server;
        server.Start(Scripted({"--endless", kind}));
        CQRMSMTPConnection c;
        c.SetTimeout(3000);
        Failure f;
        const auto took = RunBounded([&] { f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); }); },
                                     10s, [&] { server.Stop(); });
        EXPECT_LT(took, 3000ms) << "the bound, not the time-out, must end it";
        EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem);
        EXPECT_EQ(f.code, static_cast<uint32_t>(EMSGSIZE)) << f.text;
        EXPECT_NE(f.text.find(error), std::string::npos) << f.text;
        EXPECT_LE(f.response.size(), 600u) << "only the start of what came is kept";
        EXPECT_FALSE(c.IsConnected());
        // The fake went on sending past the bound without a line end (or without a final line).
        EXPECT_TRUE(fakes::WaitUntil(
            [&, &kind = kind, &bound = bound] { return LoggedMaximum(server, "endless " + kind + ": sent ") > bound; },
            5000ms))
            << server.Commands();
        EXPECT_EQ(server.Commands().find("QUIT"), std::string::npos) << "no QUIT into a flood";
    }
}

TEST(SmtpBounds, ReplyTimeOutBoundsTheWholeReplyNotEachByte)
{
    // The greeting comes one byte every 100 ms: each byte well within the time-out, the whole
    // greeting (3 s) far beyond it.
    FakeSmtpServer server;
    server.Start(Scripted({"--drip", "100"}));
    CQRMSMTPConnection c;
    c.SetTimeout(700);
    Failure f;
    const auto took = RunBounded([&] { f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); }); }, 10s,
                                 [&] { server.Stop(); });
    EXPECT_TRUE(f.thrown);
    EXPECT_EQ(f.code, 512u) << f.text;
    EXPECT_EQ(f.facility, CQRMSMTPException::kFacilityLibrary);
    EXPECT_LT(took, 2000ms);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_TRUE(server.LogShows("drip: sent byte 4 of")) << server.Commands();
}

TEST(SmtpBounds, SessionLimitEndsASessionOfTimelyReplies)
{
    // Each reply comes after 400 ms, in time for the 3 s time-out; the session may last 1 s.
    FakeSmtpServer server;
    server.Start(Scripted({"--reply-delay", "400"}));
    CQRMSMTPConnection c;
    c.SetTimeout(3000);
    c.SetSessionLimit(1000);
    Failure f;
    const auto took = RunBounded(
        [&] {
            f = Catch([&] {
                c.Open("127.0.0.1", AuthNone, "", "", server.Port());
                c.SendMail(PlainMessage());
            });
        },
        10s, [&] { server.Stop(); });
    EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem) << f.text;
    EXPECT_EQ(f.code, static_cast<uint32_t>(ETIMEDOUT)) << f.text;
    EXPECT_NE(f.text.find("took longer than the 1 seconds allowed"), std::string::npos) << f.text;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 2500ms);
    EXPECT_GE(Occurrences(server.Commands(), "delay: 400 ms"), 2u) << server.Commands();
    EXPECT_NE(server.Commands().find("MAIL FROM"), std::string::npos) << "the session was under way";
    EXPECT_EQ(server.Commands().find("DATA"), std::string::npos) << server.Commands();
    Catch([&] { c.Close(); });
    EXPECT_FALSE(c.IsConnected());
}

// --- EHLO, HELO and the password rule --------------------------------------------------------------

TEST(SmtpGreeting, EhloAlwaysAndHeloOnlyAfterA5xxRefusal)
{
    {
        FakeSmtpServer server;
        server.Start(Scripted({}));
        EXPECT_FALSE(Deliver(server, AuthNone).empty());
        EXPECT_EQ(server.Commands().rfind("EHLO ", 0), 0u) << server.Commands();
        EXPECT_EQ(server.Commands().find("HELO"), std::string::npos) << server.Commands();
    }
    {
        FakeSmtpServer server;
        server.Start(Scripted({"--ehlo-code", "502"}));
        EXPECT_FALSE(Deliver(server, AuthNone).empty());
        EXPECT_EQ(server.Commands().rfind("EHLO ", 0), 0u) << server.Commands();
        EXPECT_NE(server.Commands().find("\nHELO "), std::string::npos) << server.Commands();

        // Without EHLO there is no AUTH to use: the password stays home.
        CQRMSMTPConnection c;
        c.SetAllowUnencryptedPassword(true);
        EXPECT_EQ(Catch([&] { c.Open("127.0.0.1", AuthAutomatic, kUser, kPassword, server.Port()); }).code, 516u);
        EXPECT_EQ(server.Commands().find("AUTH"), std::string::npos) << server.Commands();
    }
    {
        // A 4xx is no refusal of EHLO as such: the session ends there.
        FakeSmtpServer server;
        server.Start(Scripted({"--ehlo-code", "421"}));
        CQRMSMTPConnection c;
        const Failure f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); });
        EXPECT_EQ(f.code, 516u);
        EXPECT_EQ(f.response, "421 EHLO not here");
        EXPECT_EQ(server.Commands().find("HELO"), std::string::npos) << server.Commands();
    }
}

TEST(SmtpAuth, PasswordIsNotSentOverAPlainConnectionUnlessAllowed)
{
    FakeSmtpServer server;
    server.Start(Scripted({"--auth-line", "LOGIN PLAIN CRAM-MD5 NTLM"}));
    for (const SmtpAuthMethod method : {AuthAutomatic, AuthLogin, AuthPlain, AuthCramMd5, AuthNtlm}) {
        SCOPED_TRACE(method);
        CQRMSMTPConnection c;
        const Failure f = Catch([&] { c.Open("127.0.0.1", method, kUser, kPassword, server.Port()); });
        EXPECT_EQ(f.code, CQRMSMTPConnection::kPasswordNotSent);
        EXPECT_EQ(f.facility, CQRMSMTPException::kFacilityLibrary);
        EXPECT_NE(f.text.find("offers no encryption"), std::string::npos) << f.text;
        EXPECT_NE(f.text.find("password was not sent"), std::string::npos) << f.text;
        EXPECT_FALSE(c.IsConnected());
    }
    // The server saw five sessions and not one AUTH; the fake offered it every time.
    EXPECT_EQ(Occurrences(server.Commands(), "EHLO "), 5u) << server.Commands();
    EXPECT_EQ(server.Commands().find("AUTH"), std::string::npos) << server.Commands();

    EXPECT_FALSE(Deliver(server, AuthAutomatic).empty()) << "allowed, it goes";
    EXPECT_NE(server.Commands().find("NTLM: verified"), std::string::npos) << server.Commands();
}

// --- Failures -------------------------------------------------------------------------------------

TEST(SmtpFailures, GreetingOtherThan220)
{
    FakeSmtpServer server;
    server.Start(Scripted({"--greeting", "554 no service here"}));
    CQRMSMTPConnection c;
    try {
        c.Open("127.0.0.1", AuthNone, "", "", server.Port());
        FAIL() << "Open succeeded";
    } catch (const CQRMSMTPException& e) {
        EXPECT_EQ(e.GetErrorCode(), 512u | ((4u | 0x8000u) << 16));
        EXPECT_EQ(e.GetLastResponse(), "554 no service here");
        EXPECT_NE(std::string(e.what()).find("554 no service here"), std::string::npos);
    }
    EXPECT_FALSE(c.IsConnected());
}

TEST(SmtpFailures, SilentServerFailsTheStepAfterTheReplyTimeout)
{
    FakeSmtpServer server;
    server.Start(Scripted({"--silent"}));
    CQRMSMTPConnection c;
    c.SetTimeout(300);
    const Failure f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); });
    EXPECT_EQ(f.code, 512u);
    EXPECT_EQ(f.facility, CQRMSMTPException::kFacilityLibrary);
    EXPECT_EQ(f.response, "");
    EXPECT_FALSE(c.IsConnected());
}

TEST(SmtpFailures, ServerClosingDuringData)
{
    FakeSmtpServer server;
    server.Start(Scripted({"--drop-in-data"}));
    CQRMSMTPConnection c;
    c.Open("127.0.0.1", AuthNone, "", "", server.Port());
    const Failure f = Catch([&] { c.SendMail(PlainMessage()); });
    ASSERT_TRUE(f.thrown);
    // Either the write hits the closed connection or the end of data gets no 250.
    EXPECT_TRUE(f.facility == CQRMSMTPException::kFacilitySystem || f.code == 521u) << f.code << " " << f.text;
    // Closing a dead session reports the failed QUIT but still ends closed.
    Catch([&] { c.Close(); });
    EXPECT_FALSE(c.IsConnected());
}

TEST(SmtpFailures, SocketErrorsCarryFacility7)
{
    CQRMSMTPConnection c;
    Failure f = Catch([&] { c.Open(testsupport::UnresolvableHost(), AuthNone, "", "", 25); });
    EXPECT_TRUE(f.thrown);
    EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem);
    EXPECT_EQ(f.response, "");
    EXPECT_FALSE(f.text.empty());
    EXPECT_FALSE(c.IsConnected());

    f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", fakes::FreePort()); });
    EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem);
    EXPECT_EQ(f.code, static_cast<uint32_t>(ECONNREFUSED));
}

TEST(SmtpFailures, CloseAndDestructorSayQuit)
{
    FakeSmtpServer server;
    server.Start(Scripted({}));
    {
        CQRMSMTPConnection c;
        c.Open("127.0.0.1", AuthNone, "", "", server.Port());
    }
    EXPECT_TRUE(fakes::WaitUntil([&] { return server.Commands().find("QUIT") != std::string::npos; },
                                 std::chrono::milliseconds(3000)));
    CQRMSMTPConnection c;
    EXPECT_NO_THROW(c.Close());
    EXPECT_NO_THROW(c.Close(false));
}

// --- TLS ------------------------------------------------------------------------------------------

// The servers show the shared certificate, trusted through SSL_CERT_FILE unless a test says
// otherwise.
class SmtpTls : public ::testing::Test
{
protected:
    const fakes::TestCertificate& m_cert = testsupport::SharedCertificate();
    testsupport::ScopedEnv m_trust{"SSL_CERT_FILE", m_cert.certFile.c_str()};
};

TEST_F(SmtpTls, StartTlsThenLoginFromTheSecondEhlo)
{
    // The server requires STARTTLS and only offers AUTH once the channel is encrypted; no leave to
    // send the password in clear is needed.
    FakeSmtpServer server;
    server.Start(Aiosmtpd({"--auth", "--starttls", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
    const std::string json = Deliver(server, AuthAutomatic, kUser, kPassword, false);
    ASSERT_FALSE(json.empty()) << server.Output();
    EXPECT_EQ(FakeSmtpServer::Field(json, "subject"), "Link report");
}

TEST_F(SmtpTls, ImplicitTlsFromTheFirstByte)
{
    FakeSmtpServer server;
    server.Start(Aiosmtpd({"--implicit-tls", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
    CQRMSMTPConnection c;
    c.SetImplicitTlsPort(server.Port());
    c.Open("127.0.0.1", AuthNone, "", "", server.Port());
    c.SendMail(PlainMessage());
    c.Close();
    EXPECT_FALSE(server.MessageJson().empty()) << server.Output();
}

TEST_F(SmtpTls, StartTlsWheneverOfferedAlsoWithoutAuthentication)
{
    {
        // Offered, not required: the letter still goes through TLS.
        FakeSmtpServer server;
        server.Start(Scripted({"--offer-starttls", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
        ASSERT_FALSE(Deliver(server, AuthNone).empty()) << server.Commands();
        const std::string log = server.Commands();
        const std::size_t tls = log.find("TLS: established");
        ASSERT_NE(tls, std::string::npos) << log;
        EXPECT_LT(log.find("STARTTLS"), tls);
        EXPECT_GT(log.find("MAIL FROM"), tls) << log;
        EXPECT_EQ(Occurrences(log, "EHLO "), 2u) << "the offer is read again over TLS";
        EXPECT_EQ(log.find("HELO"), std::string::npos) << log;
    }
    {
        FakeSmtpServer server;
        server.Start(Aiosmtpd({"--starttls", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
        EXPECT_FALSE(Deliver(server, AuthNone).empty()) << server.Output();
    }
}

TEST_F(SmtpTls, NothingIsSentWhenStartTlsIsRefusedOrTheCertificateIsNot)
{
    {
        FakeSmtpServer server;
        server.Start(
            Scripted({"--offer-starttls", "--starttls-refuse", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
        CQRMSMTPConnection c;
        const Failure f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); });
        EXPECT_EQ(f.code, 541u) << f.text;
        EXPECT_EQ(f.response, "454 TLS not available now");
        EXPECT_NE(server.Commands().find("STARTTLS"), std::string::npos) << server.Commands();
        EXPECT_EQ(server.Commands().find("MAIL"), std::string::npos) << server.Commands();
        EXPECT_EQ(server.Commands().find("HELO"), std::string::npos) << server.Commands();
    }
    {
        testsupport::ScopedEnv trust("SSL_CERT_FILE", testsupport::StrangerCertificate().certFile.c_str());
        FakeSmtpServer server;
        server.Start(Scripted({"--offer-starttls", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
        CQRMSMTPConnection c;
        c.SetTimeout(5000);
        const Failure f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); });
        EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem) << f.text;
        EXPECT_EQ(f.code, static_cast<uint32_t>(EPROTO)) << f.text;
        EXPECT_NE(f.text.find("certificate verify failed"), std::string::npos) << f.text;
        EXPECT_FALSE(c.IsConnected());
        EXPECT_TRUE(server.LogShows("TLS: handshake failed")) << server.Commands();
        // Neither the letter nor a plain-text goodbye followed the failed handshake.
        EXPECT_EQ(server.Commands().find("MAIL"), std::string::npos) << server.Commands();
        EXPECT_EQ(server.Commands().find("QUIT"), std::string::npos) << server.Commands();
        EXPECT_EQ(server.Commands().find("HELO"), std::string::npos) << server.Commands();
    }
}

TEST_F(SmtpTls, StalledHandshakesAndReadsTimeOut)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        bool implicitTls;
        SmtpAuthMethod method;
        std::string evidence;
    };
    const std::vector<Case> cases = {
        // TLS from the first byte: the server takes the ClientHello and answers nothing.
        {"implicit handshake", {"--silent"}, true, AuthNone, "silent: received "},
        // STARTTLS answered with 220, then no handshake.
        {"STARTTLS handshake",
         {"--offer-starttls", "--starttls-stall", "--auth-line", "LOGIN"},
         false,
         AuthAutomatic,
         "STARTTLS stall: received "},
        // The greeting's TLS record announces 64 bytes and brings three.
        {"half a record", {"--tls-partial-greeting"}, true, AuthNone, "partial record: sent 8 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--cert", m_cert.certFile, "--key", m_cert.keyFile});
        FakeSmtpServer server;
        server.Start(Scripted(args));
        CQRMSMTPConnection connection;
        connection.SetTimeout(500);
        if (c.implicitTls)
            connection.SetImplicitTlsPort(server.Port());
        Failure f;
        const auto took = RunBounded(
            [&] { f = Catch([&] { connection.Open("127.0.0.1", c.method, kUser, kPassword, server.Port()); }); }, 8s,
            [&] { server.Stop(); });
        EXPECT_TRUE(f.thrown);
        EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem) << f.text;
        EXPECT_EQ(f.code, static_cast<uint32_t>(ETIMEDOUT)) << f.text;
        EXPECT_LT(took, 3000ms);
        EXPECT_FALSE(connection.IsConnected());
        EXPECT_TRUE(server.LogShows(c.evidence)) << server.Commands();
    }
}

TEST_F(SmtpTls, AbortFlagEndsAStalledHandshake)
{
    FakeSmtpServer server;
    server.Start(Scripted({"--silent"}));
    std::atomic<int> stop{0};
    CQRMSMTPConnection c;
    c.SetTimeout(20000);
    c.SetImplicitTlsPort(server.Port());
    c.SetAbortFlag(&stop);
    std::chrono::steady_clock::time_point raised;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        raised = std::chrono::steady_clock::now();
        stop = 1;
    });
    Failure f;
    RunBounded([&] { f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); }); }, 5s,
               [&] { server.Stop(); });
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem) << f.text;
    EXPECT_EQ(f.code, static_cast<uint32_t>(ECANCELED)) << f.text;
    EXPECT_NE(f.text.find("stopped on request"), std::string::npos) << f.text;
    EXPECT_LT(ended - raised, 500ms);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_TRUE(server.LogShows("silent: received ")) << "the handshake was under way: " << server.Commands();
}

TEST_F(SmtpTls, UntrustedCertificateFails)
{
    // Trust some other certificate only.
    testsupport::ScopedEnv trust("SSL_CERT_FILE", testsupport::StrangerCertificate().certFile.c_str());

    FakeSmtpServer server;
    server.Start(Aiosmtpd({"--implicit-tls", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
    CQRMSMTPConnection c;
    c.SetImplicitTlsPort(server.Port());
    c.SetTimeout(5000);
    const Failure f = Catch([&] { c.Open("127.0.0.1", AuthNone, "", "", server.Port()); });
    EXPECT_TRUE(f.thrown);
    EXPECT_EQ(f.facility, CQRMSMTPException::kFacilitySystem);
    EXPECT_FALSE(c.IsConnected());
}

} // namespace
