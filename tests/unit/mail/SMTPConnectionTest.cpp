#include "mail/SMTPConnection.h"

#include "../../fakes/FakeSmtp.h"
#include "../TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using fakes::FakeSmtpServer;

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

std::vector<std::string> Aiosmtpd(std::vector<std::string> extra)
{
    std::vector<std::string> args = {"--kind", "aiosmtpd", "--user", kUser, "--password", kPassword};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// Opens, sends PlainMessage and closes; the first message's parsed form.
std::string Deliver(FakeSmtpServer& server, SmtpAuthMethod method, const std::string& user = kUser,
                    const std::string& password = kPassword)
{
    CQRMSMTPConnection c;
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

TEST(SmtpAuth, CramMd5DigestIsAccepted)
{
    FakeSmtpServer server;
    server.Start(Scripted({"--auth-line", "LOGIN CRAM-MD5 PLAIN"}));
    EXPECT_FALSE(Deliver(server, AuthAutomatic).empty());
    EXPECT_NE(server.Commands().find("AUTH CRAM-MD5"), std::string::npos);
    EXPECT_EQ(Catch([&] { Deliver(server, AuthCramMd5, kUser, "wrong"); }).code, 536u);
}

TEST(SmtpAuth, NtlmV2ResponseIsVerifiedByTheServer)
{
    FakeSmtpServer server;
    server.Start(Scripted({"--auth-line", "LOGIN NTLM", "--user", "EXAMPLE\\alice"}));
    EXPECT_FALSE(Deliver(server, AuthAutomatic, "EXAMPLE\\alice").empty()) << server.Commands();
    EXPECT_NE(server.Commands().find("NTLM: verified EXAMPLE\\alice"), std::string::npos) << server.Commands();

    const Failure f = Catch([&] { Deliver(server, AuthNtlm, "EXAMPLE\\alice", "wrong"); });
    EXPECT_EQ(f.code, 538u);
    EXPECT_EQ(f.response.substr(0, 3), "535");
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

class SmtpTls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_cert = fakes::MakeTestCertificate(m_dir.Path());
        m_trust = std::make_unique<testsupport::ScopedEnv>("SSL_CERT_FILE", m_cert.certFile.c_str());
    }

    testsupport::TempDir m_dir;
    fakes::TestCertificate m_cert;
    std::unique_ptr<testsupport::ScopedEnv> m_trust;
};

TEST_F(SmtpTls, StartTlsThenLoginFromTheSecondEhlo)
{
    // The server requires STARTTLS and only offers AUTH once the channel is encrypted.
    FakeSmtpServer server;
    server.Start(Aiosmtpd({"--auth", "--starttls", "--cert", m_cert.certFile, "--key", m_cert.keyFile}));
    const std::string json = Deliver(server, AuthAutomatic);
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

TEST_F(SmtpTls, UntrustedCertificateFails)
{
    // Trust some other certificate only.
    testsupport::TempDir other;
    const auto stranger = fakes::MakeTestCertificate(other.Path());
    testsupport::ScopedEnv trust("SSL_CERT_FILE", stranger.certFile.c_str());

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
