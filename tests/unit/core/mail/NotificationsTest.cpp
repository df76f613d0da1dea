#include "core/mail/Notifications.h"

#include "core/platform/TextEncoding.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "fakes/FakeSmtp.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string kFont = "face=\"Arial, Helvetica, sans-serif\" size=\"3\"";

std::string Count(std::size_t n, const std::string& unit)
{
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += unit;
    return out;
}

std::size_t Occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

/// A partner list, a link list and a manager that reads them, as the application wires it.
class LetterTest : public ::testing::Test
{
protected:
    LetterTest()
    {
        m_manager.SetSources({[this] { return m_settings; },
                              [this]() -> const CPartnersManager* { return &m_partners; },
                              [this]() -> const CLinksManager* { return &m_links; }});
        m_manager.SetReplyTimeout(5000);
    }

    CLink* AddLink(const std::string& partner, const std::string& fromPage, uint32_t status, int currentPR = 2,
                   int previousPR = 2)
    {
        CLink* link = m_links.AddNewLink();
        link->SetPartnerId(partner.empty() ? 999 : m_partners.AddPartner(partner)->GetId());
        link->SetFromPage(fromPage);
        link->SetToPage("http://mysite.example/");
        link->SetStatus(status);
        link->SetCurrentPR(currentPR);
        link->SetPreviousPR(previousPR);
        return link;
    }

    MailSettings m_settings;
    CPartnersManager m_partners;
    CLinksManager m_links;
    CNotificationsManager m_manager;
};

// --- cells and texts ---------------------------------------------------------------------------

TEST(NotificationCells, ExactMarkup)
{
    EXPECT_EQ(CNotificationsManager::MakeCell("Partner", 0x5BACAC, 0xFFFFFF, 25, true, true),
              "<td width=\"25%\" align=\"center\" bgcolor=\"#5BACAC\"><font color=\"#FFFFFF\" " + kFont +
                  "><b>Partner</b></font></td>\r\n");
    // No width: the blank stands in for the attribute, so three blanks separate td and align.
    EXPECT_EQ(CNotificationsManager::MakeCell("x", 0xFFFFFF, 0x333333, 0, false, false),
              "<td   align=\"left\" bgcolor=\"#FFFFFF\"><font color=\"#333333\" " + kFont + ">x</font></td>\r\n");
    EXPECT_EQ(CNotificationsManager::MakeCell("", 0xFFFFFF, 0x333333, -5, false, true),
              "<td   align=\"center\" bgcolor=\"#FFFFFF\"><font color=\"#333333\" " + kFont + ">&nbsp</font></td>\r\n");
    // Colours print without leading zeros; an empty bold text is still bold.
    EXPECT_EQ(CNotificationsManager::MakeCell("", 0x0000FF, 0x000000, 6, true, false),
              "<td width=\"6%\" align=\"left\" bgcolor=\"#FF\"><font color=\"#0\" " + kFont +
                  "><b>&nbsp</b></font></td>\r\n");
}

TEST(NotificationCells, ShortenTextCountsCharactersAndCutsAtTheMaximum)
{
    const std::string of25 = Count(25, "a");
    const std::string of26 = Count(26, "b");
    EXPECT_EQ(CNotificationsManager::ShortenText(of25, 26), of25);
    EXPECT_EQ(CNotificationsManager::ShortenText(of26, 26), Count(23, "b") + "...");
    EXPECT_EQ(CNotificationsManager::ShortenText(Count(40, "c"), 26).size(), 26u);
    EXPECT_EQ(CNotificationsManager::ShortenText(" \t" + of25 + " \r\n", 26), of25);
    EXPECT_EQ(CNotificationsManager::ShortenText("   ", 26), "");

    // Two-byte and three-byte letters: 25 of them stay whole although they take 50+ bytes.
    const std::string cyrillic25 = Count(25, "\xD0\xAF");
    EXPECT_EQ(CNotificationsManager::ShortenText(cyrillic25, 26), cyrillic25);
    const std::string mixed26 = Count(13, "\xC3\xA9") + Count(13, "\xE2\x82\xAC"); // é and €
    const std::string cut = CNotificationsManager::ShortenText(mixed26, 26);
    EXPECT_EQ(cut, Count(13, "\xC3\xA9") + Count(10, "\xE2\x82\xAC") + "...");
    EXPECT_TRUE(TextEncoding::IsValidUtf8(cut));
    // A four-byte character at the cut is kept whole or dropped whole.
    const std::string emoji = Count(30, "\xF0\x9F\x98\x80");
    EXPECT_EQ(CNotificationsManager::ShortenText(emoji, 5), Count(2, "\xF0\x9F\x98\x80") + "...");
}

TEST(NotificationCells, LetterHeadAndSignature)
{
    EXPECT_EQ(CNotificationsManager::GetLetterHead(),
              "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
              "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
              "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\"/>\r\n"
              "<title>Orvex</title>\r\n</head>\r\n");
    EXPECT_EQ(CNotificationsManager::GetLetterSignature(),
              "<font color=\"#9b8566\" face=\"Arial, Helvetica, sans-serif\" size=\"4\">This letter was automatically "
              "generated by <strong>Orvex</strong> application.</font>\r\n");
}

// --- the notification letter ---------------------------------------------------------------------

TEST_F(LetterTest, WholeLetterWithBothTables)
{
    CLink* changed = AddLink("Alpha", "partner.example/links.html", StatusNotPresent, 5, 5);
    CLink* expiring = AddLink("Beta", "http://beta.example/p", StatusExpiring);
    expiring->SetLastPaymentDate(OleDateTime::FromParts(2012, 3, 29));
    expiring->SetPeriod(OleDateTimeSpan(0.0));

    auto cell = [](const std::string& text, const char* font, const char* align, const char* width = " ") {
        return std::string("<td ") + width + " align=\"" + align + "\" bgcolor=\"#" +
               (std::string(font) == "FFFFFF" ? "5BACAC" : "FFFFFF") + "\"><font color=\"#" + font + "\" " + kFont +
               ">" + text + "</font></td>\r\n";
    };
    auto header = [&](const char* text, const char* width) {
        return cell(std::string("<b>") + text + "</b>", "FFFFFF", "center", width);
    };
    const std::string inner =
        "<table width=\"100%\" border=\"0\" cellpadding=\"5\" cellspacing=\"1\" bgcolor=\"#5bacac\">\r\n";
    const std::string title = "<tr><td>\r\n<font color=\"#9b8566\" face=\"Arial, Helvetica, sans-serif\" size=\"4\">";
    const std::string expected =
        CNotificationsManager::GetLetterHead() + "<body bgcolor=\"#FFFFFF\">\r\n" +
        "<table width=\"100%\" border=\"0\" cellpadding=\"0\" cellspacing=\"15\" bgcolor=\"#ffffff\">\r\n" + title +
        "The following links changed their status or PR:</font></td></tr>\r\n<tr><td>\r\n" + inner + "<tr>\r\n" +
        header("Partner", "width=\"25%\"") + header("From Page", " ") + header("Status", "width=\"14%\"") +
        header("PR", "width=\"15%\"") + "</tr>\r\n" + "<tr>\r\n" + cell("Alpha", "333333", "left") +
        cell("<a href=\"http://partner.example/links.html\">partner.example/links.html</a>", "333333", "left") +
        cell("Not present", "333333", "center") + cell("5", "333333", "center") + "</tr>\r\n" +
        "</table>\r\n</td></tr><br>\r\n" + title + "All your expiring and expired links:</font></td></tr>\r\n" +
        "<tr><td>\r\n" + inner + "<tr>\r\n" + header("Partner", "width=\"25%\"") + header("From Page", " ") +
        header("Status", "width=\"14%\"") + header("Expiry date", "width=\"15%\"") + "</tr>\r\n" + "<tr>" +
        cell("Beta", "333333", "left") +
        cell("<a href=\"http://beta.example/p\">http://beta.example/p</a>", "333333", "left") +
        cell("Expiring", "333333", "center") + cell("03/29/12", "333333", "center") + "</tr>" +
        "</table>\r\n</td></tr><br>\r\n" + "</table></body>\r\n</html>\r\n";

    EXPECT_EQ(m_manager.BuildLetter({changed}, {expiring}), expected);
}

TEST_F(LetterTest, EmptyListsLeaveOnlyTheFrame)
{
    const std::string letter = m_manager.BuildLetter({}, {});
    EXPECT_EQ(letter, CNotificationsManager::GetLetterHead() +
                          "<body bgcolor=\"#FFFFFF\">\r\n<table width=\"100%\" border=\"0\" cellpadding=\"0\" "
                          "cellspacing=\"15\" bgcolor=\"#ffffff\">\r\n</table></body>\r\n</html>\r\n");
}

TEST_F(LetterTest, CellsForOddStatusesAndMissingPartners)
{
    CLink* twoBits = AddLink("Gamma", "http://g.example/", StatusNotPresent | StatusNofollow);
    CLink* never = AddLink("Delta", "http://d.example/", StatusNone);
    CLink* orphan = AddLink("Epsilon", "http://e.example/", StatusOk);
    m_partners.RemovePartner(m_partners.FindById(orphan->GetPartnerId()));
    const std::string letter = m_manager.BuildLetter({twoBits, never, orphan}, {});

    const std::string emptyValue = CNotificationsManager::MakeCell("", 0xFFFFFF, 0x333333, 0, false, true);
    const std::string emptyText = CNotificationsManager::MakeCell("", 0xFFFFFF, 0x333333, 0, false, false);
    EXPECT_EQ(Occurrences(letter, emptyValue), 2u) << "status cells of the two-bit and the unchecked link";
    EXPECT_EQ(Occurrences(letter, "<tr>\r\n" + emptyText), 1u) << "partner cell of the deleted partner";
    EXPECT_EQ(letter.find("nofollow"), std::string::npos);
}

TEST_F(LetterTest, PartnerNamesAreCutAt26Characters)
{
    CLink* exact25 = AddLink(Count(25, "n"), "http://a.example/", StatusOk);
    CLink* exact26 = AddLink("Abcdefghijklmnopqrstuvwxyz", "http://b.example/", StatusOk);
    const std::string letter = m_manager.BuildLetter({exact25, exact26}, {exact26});
    EXPECT_NE(letter.find(">" + Count(25, "n") + "</font>"), std::string::npos);
    EXPECT_EQ(Occurrences(letter, ">Abcdefghijklmnopqrstuvw...</font>"), 2u);
    EXPECT_EQ(letter.find("Abcdefghijklmnopqrstuvwx"), std::string::npos);
}

TEST_F(LetterTest, LongPageAddressesShowCutButLinkWhole)
{
    const std::string page = "http://partner.example/" + Count(60, "p") + ".html";
    CLink* link = AddLink("P", page, StatusOk);
    const std::string letter = m_manager.BuildLetter({link}, {});
    EXPECT_NE(letter.find("<a href=\"" + page + "\">" + page.substr(0, 52) + "...</a>"), std::string::npos);
}

TEST_F(LetterTest, ChangedPageRankIsReportedOnce)
{
    CLink* link = AddLink("Alpha", "http://a.example/", StatusOk, 4, 3);
    const std::string changedCell = CNotificationsManager::MakeCell("Changed: 4", 0xFFFFFF, 0xFF0000, 0, false, true);
    const std::string plainCell = CNotificationsManager::MakeCell("4", 0xFFFFFF, 0x333333, 0, false, true);

    const std::string first = m_manager.BuildLetter({link}, {});
    EXPECT_NE(first.find(changedCell), std::string::npos);
    EXPECT_EQ(first.find(plainCell), std::string::npos);
    EXPECT_EQ(link->GetPreviousPR(), 4);

    const std::string second = m_manager.BuildLetter({link}, {});
    EXPECT_EQ(second.find("Changed:"), std::string::npos);
    EXPECT_NE(second.find(plainCell), std::string::npos);
}

TEST_F(LetterTest, ExpiringTableLeavesPageRankAlone)
{
    CLink* unchecked = AddLink("A", "http://a.example/", StatusNone, 4, 3);
    CLink* expiring = AddLink("B", "http://b.example/", StatusExpiring, 6, 1);
    const std::string letter = m_manager.BuildLetter({unchecked}, {expiring});
    // A link never checked has no rank news; the expiring table shows no rank at all.
    EXPECT_EQ(letter.find("Changed:"), std::string::npos);
    EXPECT_EQ(unchecked->GetPreviousPR(), 3);
    EXPECT_EQ(expiring->GetPreviousPR(), 1);
}

TEST_F(LetterTest, DatabaseTextsAreEscaped)
{
    CLink* link = AddLink("<script>alert('x')</script> & Co", "http://evil.example/a\"b'c<d>&e=1", StatusOk);
    const std::string letter = m_manager.BuildLetter({link}, {link});

    EXPECT_EQ(letter.find("<script"), std::string::npos);
    EXPECT_EQ(Occurrences(letter, ">&lt;script&gt;alert(&#39;x&#39;)&lt;/scr...</font>"), 2u);
    const std::string escapedUrl = "http://evil.example/a&quot;b&#39;c&lt;d&gt;&amp;e=1";
    EXPECT_EQ(Occurrences(letter, "<a href=\"" + escapedUrl + "\">" + escapedUrl + "</a>"), 2u);
    // Nothing of the texts can close the attribute early.
    EXPECT_EQ(letter.find("a\"b"), std::string::npos);
}

TEST_F(LetterTest, CutHappensBeforeEscapingSoNoEntityIsBroken)
{
    // 22 letters and "&": the cut keeps the ampersand as a whole entity.
    CLink* link = AddLink(Count(22, "x") + "&&&&&&", "http://a.example/", StatusOk);
    const std::string letter = m_manager.BuildLetter({link}, {});
    EXPECT_NE(letter.find(">" + Count(22, "x") + "&amp;...</font>"), std::string::npos);
}

TEST_F(LetterTest, CharactersBeyondLatin1BecomeReferences)
{
    CLink* link = AddLink("Caf\xC3\xA9 \xD0\xAF\xD0\xBD\xE2\x82\xAC\xF0\x9F\x98\x80", "http://a.example/", StatusOk);
    const std::string letter = m_manager.BuildLetter({link}, {});
    // Latin-1 stays a character (the iso-8859-1 body carries it); the rest survives as references.
    EXPECT_NE(letter.find(">Caf\xC3\xA9 &#1071;&#1085;&#8364;&#128512;</font>"), std::string::npos);
    for (const unsigned char c : letter) {
        if (c >= 0x80) {
            EXPECT_TRUE(c == 0xC3 || c == 0xA9) << "unexpected byte " << int(c);
        }
    }
}

TEST_F(LetterTest, MalformedBytesDoNotPassThrough)
{
    CLink* link = AddLink("bad\xFF\xC3", "http://a.example/", StatusOk);
    const std::string letter = m_manager.BuildLetter({link}, {});
    EXPECT_NE(letter.find(">bad&#65533;&#65533;</font>"), std::string::npos);
    EXPECT_TRUE(TextEncoding::IsValidUtf8(letter));
}

// --- connecting without a server -----------------------------------------------------------------

/// A socket that listens on 127.0.0.1 and never accepts: tells whether anybody knocked.
class SilentListener
{
public:
    SilentListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_fd, 4) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_port = ntohs(addr.sin_port);
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
    }
    ~SilentListener() { ::close(m_fd); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int Port() const { return m_port; }
    bool SomebodyConnected()
    {
        const int client = ::accept(m_fd, nullptr, nullptr);
        if (client < 0)
            return false;
        ::close(client);
        return true;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

TEST_F(LetterTest, ConnectRefusesMissingServerAndBadPorts)
{
    for (const auto& [server, port] : std::vector<std::pair<std::string, int>>{
             {"", 25}, {"127.0.0.1", 0}, {"127.0.0.1", -1}, {"127.0.0.1", 65537}}) {
        m_settings.smtpServer = server;
        m_settings.smtpPort = port;
        EXPECT_EQ(m_manager.Connect(), 0) << server << ":" << port;
    }
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);
    m_settings.smtpServer.clear();
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 1);
    EXPECT_EQ(m_manager.Disconnect(), 1);

    std::string reply;
    EXPECT_EQ(m_manager.SendTestNotification("me@example.com", "", 25, "orvex@example.com", false, "", "", &reply), 1);
    EXPECT_FALSE(reply.empty());
}

TEST_F(LetterTest, NothingChangedMeansNoConnection)
{
    SilentListener listener;
    m_settings.smtpServer = "127.0.0.1";
    m_settings.smtpPort = listener.Port();
    CLink* expiring = AddLink("A", "http://a.example/", StatusExpired);
    EXPECT_EQ(m_manager.SendNotification({}, {expiring}), 0);
    EXPECT_FALSE(listener.SomebodyConnected());
}

TEST_F(LetterTest, NoListenerMeansNoConnection)
{
    m_settings.smtpServer = "127.0.0.1";
    m_settings.smtpPort = fakes::FreePort();
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);
    EXPECT_EQ(m_manager.Connect(), 0);
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 1);
    std::string reply;
    EXPECT_EQ(m_manager.SendTestNotification("me@example.com", "127.0.0.1", m_settings.smtpPort, "orvex@example.com",
                                             false, "", "", &reply),
              1);
    EXPECT_FALSE(reply.empty()) << "the user is told why";
}

// --- delivery to local servers ------------------------------------------------------------------

/// A delivered mail as a standards-following reader sees it (tests/fakes/parse_mail.py).
struct ReadMail
{
    std::string json;
    std::string html; ///< the decoded text/html part, UTF-8

    std::string Field(const std::string& key) const { return fakes::detail::JsonField(json, key); }
};

ReadMail ReadDelivered(const fakes::FakeSmtpServer& server, int n)
{
    ReadMail mail;
    if (server.MessageJson(n).empty())
        return mail; // nothing arrived in time
    testsupport::TempDir dir;
    const std::string eml = server.MailDir() + "/" + std::to_string(n) + ".eml";
    if (!fakes::RunProgram({"/usr/bin/python3", std::string(ORVEX_FAKES_DIR) + "/parse_mail.py", eml, "--html-out",
                            dir.File("letter.html")},
                           dir.File("out.json")))
        throw std::runtime_error("parse_mail.py failed: " + testsupport::ReadBytes(dir.File("out.json")));
    mail.json = testsupport::ReadBytes(dir.File("out.json"));
    mail.html = testsupport::ReadBytes(dir.File("letter.html"));
    return mail;
}

/// Valid MIME, one multipart/mixed body holding exactly one text/html part in iso-8859-1.
void ExpectLetterShape(const ReadMail& mail, const std::string& subject)
{
    EXPECT_EQ(mail.Field("content_type"), "multipart/mixed") << mail.json;
    EXPECT_EQ(mail.Field("mime_version"), "1.0");
    EXPECT_EQ(mail.Field("defects"), "[]") << mail.json;
    EXPECT_EQ(mail.Field("html_parts"), "1") << mail.json;
    EXPECT_EQ(fakes::detail::JsonField(mail.json.substr(mail.json.find("\"parts\"")), "charset"), "iso-8859-1");
    EXPECT_EQ(mail.Field("subject"), subject);
    EXPECT_NE(mail.Field("from").find("Orvex"), std::string::npos) << mail.Field("from");
    EXPECT_NE(mail.Field("from").find("orvex@example.com"), std::string::npos) << mail.Field("from");
}

class DeliveryTest : public LetterTest
{
protected:
    void UseServer(const fakes::FakeSmtpServer& server)
    {
        m_settings.smtpServer = "127.0.0.1";
        m_settings.smtpPort = server.Port();
        m_settings.mailTo = "me@example.com; \"Boss, Big\" <boss@example.com>";
        m_settings.mailFrom = "orvex@example.com";
    }
};

TEST_F(DeliveryTest, NotificationArrivesAsTheLetterBuilt)
{
    fakes::FakeSmtpServer server;
    server.Start({"--kind", "aiosmtpd"});
    UseServer(server);
    CLink* changed = AddLink("Caf\xC3\xA9 \xD0\xAF & <b>", "http://partner.example/x?a=1&b=\"2\"", StatusOk, 4, 3);
    CLink* expiring = AddLink("Beta", "http://beta.example/p", StatusExpired);
    expiring->SetLastPaymentDate(OleDateTime::FromParts(2012, 3, 29));
    expiring->SetPeriod(OleDateTimeSpan(0.0));
    // The letter consumes the rank change, so the expected text comes from copies.
    CLink changedCopy = *changed;
    CLink expiringCopy = *expiring;
    const std::string expected = m_manager.BuildLetter({&changedCopy}, {&expiringCopy});

    ASSERT_EQ(m_manager.SendNotification({changed}, {expiring}), 0) << server.Output();
    EXPECT_EQ(changed->GetPreviousPR(), 4);

    const ReadMail mail = ReadDelivered(server, 1);
    ASSERT_FALSE(mail.json.empty()) << "no message arrived\n" << server.Output();
    ExpectLetterShape(mail, "Warning Notification");
    EXPECT_EQ(mail.html, expected);
    EXPECT_NE(server.MessageJson(1).find("\"me@example.com,boss@example.com\""), std::string::npos)
        << "envelope recipients: " << server.MessageJson(1);
}

TEST_F(DeliveryTest, AuthenticatesOnlyWhenAsked)
{
    fakes::FakeSmtpServer server;
    server.Start({"--kind", "scripted", "--auth-line", "LOGIN PLAIN", "--user", "webmaster", "--password", "pa ss"});
    UseServer(server);
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);

    EXPECT_EQ(m_manager.SendNotification({link}, {}), 0);
    EXPECT_EQ(Occurrences(server.Commands(), "AUTH"), 0u);
    EXPECT_EQ(Occurrences(server.Commands(), "EHLO "), 1u) << server.Commands();
    EXPECT_EQ(Occurrences(server.Commands(), "HELO "), 0u);

    // The fake offers no STARTTLS, so the password may only go with the user's leave.
    m_settings.smtpAuth = true;
    m_settings.smtpUser = "webmaster";
    m_settings.smtpPassword = "wrong";
    m_settings.allowUnencryptedPassword = true;
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 1);
    m_settings.smtpPassword = "pa ss";
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 0);
    EXPECT_EQ(Occurrences(server.Commands(), "EHLO "), 3u);
    EXPECT_EQ(Occurrences(server.Commands(), "AUTH LOGIN"), 2u) << server.Commands();
    EXPECT_FALSE(server.MessageJson(2).empty());

    std::string reply;
    EXPECT_EQ(m_manager.SendTestNotification("me@example.com", "127.0.0.1", server.Port(), "orvex@example.com", true,
                                             "webmaster", "wrong", &reply, true),
              1);
    EXPECT_NE(reply.find("535"), std::string::npos) << reply;
    EXPECT_EQ(m_manager.SendTestNotification("me@example.com", "127.0.0.1", server.Port(), "orvex@example.com", true,
                                             "webmaster", "pa ss", &reply, true),
              0)
        << reply;
    EXPECT_EQ(Occurrences(server.Commands(), "AUTH LOGIN"), 4u);
}

TEST_F(DeliveryTest, PasswordIsKeptBackWhenTheServerOffersNoEncryption)
{
    fakes::FakeSmtpServer server;
    server.Start({"--kind", "scripted", "--auth-line", "LOGIN PLAIN", "--user", "webmaster", "--password", "pa ss"});
    UseServer(server);
    m_settings.smtpAuth = true;
    m_settings.smtpUser = "webmaster";
    m_settings.smtpPassword = "pa ss";
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);

    EXPECT_EQ(m_manager.SendNotification({link}, {}), 1);
    std::string reply;
    EXPECT_EQ(m_manager.SendTestNotification("me@example.com", "127.0.0.1", server.Port(), "orvex@example.com", true,
                                             "webmaster", "pa ss", &reply),
              1);
    EXPECT_NE(reply.find("offers no encryption"), std::string::npos) << reply;
    EXPECT_NE(reply.find("password was not sent"), std::string::npos) << reply;
    // Both reached the server, which offered AUTH, and neither took it up.
    EXPECT_EQ(Occurrences(server.Commands(), "EHLO "), 2u) << server.Commands();
    EXPECT_EQ(Occurrences(server.Commands(), "AUTH"), 0u) << server.Commands();
    EXPECT_EQ(Occurrences(server.Commands(), "MAIL"), 0u) << server.Commands();

    m_settings.allowUnencryptedPassword = true;
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 0);
    EXPECT_FALSE(server.MessageJson(1).empty());
}

TEST_F(DeliveryTest, SessionLimitEndsASlowMailing)
{
    // Every reply comes after 400 ms: in time for each step, too slow for a 1 s session.
    fakes::FakeSmtpServer server;
    server.Start({"--kind", "scripted", "--reply-delay", "400"});
    UseServer(server);
    m_manager.SetReplyTimeout(3000);
    m_manager.SetSessionLimit(1000);
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);

    std::string reply;
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_manager.SendTestNotification("me@example.com", "127.0.0.1", server.Port(), "orvex@example.com", false,
                                             "", "", &reply),
              2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_NE(reply.find("took longer than the 1 seconds allowed"), std::string::npos) << reply;
    EXPECT_GE(Occurrences(server.Commands(), "delay: 400 ms"), 4u) << server.Commands();
    EXPECT_EQ(Occurrences(server.Commands(), "DATA"), 0u) << server.Commands();
}

TEST_F(DeliveryTest, AbortFlagStopsMailingWithinASecond)
{
    std::atomic<int> stop{0};
    m_manager.SetReplyTimeout(20000);
    m_manager.SetAbortFlag(&stop);
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);

    // A server that never greets, and one that never answers the end of the letter.
    for (const char* stall : {"--silent", "--stall-after-data"}) {
        SCOPED_TRACE(stall);
        fakes::FakeSmtpServer server;
        server.Start({"--kind", "scripted", stall});
        UseServer(server);
        stop = 0;
        std::chrono::steady_clock::time_point raised;
        std::thread stopper([&] {
            std::this_thread::sleep_for(400ms);
            raised = std::chrono::steady_clock::now();
            stop = 1;
        });
        const auto start = std::chrono::steady_clock::now();
        const int result = m_manager.SendNotification({link}, {});
        const auto ended = std::chrono::steady_clock::now();
        stopper.join();
        EXPECT_EQ(result, 2);
        EXPECT_GE(ended - start, 350ms) << "it returned before the flag went up";
        EXPECT_LT(ended - raised, 1s);
        EXPECT_TRUE(server.LogShows(std::string(stall) == "--silent" ? "silent: accepted" : "stalling after data"))
            << server.Commands();
        EXPECT_EQ(Occurrences(server.Commands(), "QUIT"), 0u) << "nothing more went out: " << server.Commands();
    }

    // With the flag up no connection is even tried.
    SilentListener listener;
    m_settings.smtpServer = "127.0.0.1";
    m_settings.smtpPort = listener.Port();
    stop = 1;
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 2);
    EXPECT_FALSE(listener.SomebodyConnected());
    m_manager.SetAbortFlag(nullptr);
}

TEST_F(DeliveryTest, ConnectionIsClosedByTheSendThatOpenedItOnly)
{
    fakes::FakeSmtpServer server;
    server.Start({"--kind", "scripted"});
    UseServer(server);
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);

    ASSERT_EQ(m_manager.SendNotification({link}, {}), 0);
    EXPECT_EQ(Occurrences(server.Commands(), "QUIT"), 1u);

    ASSERT_EQ(m_manager.Connect(), 1);
    ASSERT_EQ(m_manager.Connect(), 1) << "already open";
    ASSERT_EQ(m_manager.SendNotification({link}, {}), 0);
    ASSERT_EQ(m_manager.SendNotification({link}, {}), 0);
    EXPECT_EQ(Occurrences(server.Commands(), "QUIT"), 1u) << server.Commands();
    EXPECT_EQ(Occurrences(server.Commands(), "EHLO"), 2u) << "both sends used the open connection";
    EXPECT_EQ(m_manager.Disconnect(), 1);
    EXPECT_EQ(Occurrences(server.Commands(), "QUIT"), 2u);
    EXPECT_FALSE(server.MessageJson(3).empty());
}

TEST_F(DeliveryTest, RejectedRecipientFailsTheSendAndClosesTheConnection)
{
    fakes::FakeSmtpServer rejecting;
    rejecting.Start({"--kind", "scripted", "--rcpt-code", "550"});
    UseServer(rejecting);
    CLink* link = AddLink("A", "http://a.example/", StatusNotPresent);
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 2);
    EXPECT_EQ(Occurrences(rejecting.Commands(), "DATA"), 0u);

    std::string reply;
    EXPECT_EQ(m_manager.SendTestNotification("me@example.com", "127.0.0.1", rejecting.Port(), "orvex@example.com",
                                             false, "", "", &reply),
              2);
    EXPECT_NE(reply.find("550"), std::string::npos) << reply;
    EXPECT_EQ(Occurrences(rejecting.Commands(), "QUIT"), 2u) << rejecting.Commands();

    // Had the failed send left its connection open, this letter would go to the old server.
    fakes::FakeSmtpServer accepting;
    accepting.Start({"--kind", "aiosmtpd"});
    UseServer(accepting);
    EXPECT_EQ(m_manager.SendNotification({link}, {}), 0);
    EXPECT_FALSE(accepting.MessageJson(1).empty());
}

TEST_F(DeliveryTest, TestLetterOfAnEmptyDatabaseIsTheSignatureAlone)
{
    fakes::FakeSmtpServer server;
    server.Start({"--kind", "aiosmtpd"});
    std::string reply;
    ASSERT_EQ(m_manager.SendTestNotification("me@example.com", "127.0.0.1", server.Port(), "orvex@example.com", false,
                                             "", "", &reply),
              0)
        << reply;
    EXPECT_NE(reply.find("250"), std::string::npos) << reply;

    const ReadMail mail = ReadDelivered(server, 1);
    ASSERT_FALSE(mail.json.empty());
    ExpectLetterShape(mail, "E-mail Notification Test");
    EXPECT_EQ(mail.html, CNotificationsManager::GetLetterHead() +
                             "<body bgcolor=\"#FFFFFF\">\r\n<table width=\"100%\" border=\"0\" cellpadding=\"0\" "
                             "cellspacing=\"15\" bgcolor=\"#ffffff\">\r\n<tr><td>" +
                             CNotificationsManager::GetLetterSignature() +
                             "</td></tr>\r\n<tr><td>\r\n</td></tr>\r\n</table></body>\r\n</html>\r\n");
}

TEST_F(DeliveryTest, TestLetterListsEveryLinkAndTouchesNothing)
{
    fakes::FakeSmtpServer server;
    server.Start({"--kind", "aiosmtpd"});
    AddLink("A partner with a rather long name", "http://from.example/" + Count(40, "f"), StatusOk, 7, 2);
    CLink* second = AddLink("B", "to-less.example", StatusRobots, 1, 1);
    second->SetToPage("mysite.example/\xD0\xAF\"");
    ASSERT_EQ(m_manager.SendTestNotification("a@example.com, b@example.com", "127.0.0.1", server.Port(),
                                             "orvex@example.com", false, "", ""),
              0);
    EXPECT_EQ(m_links.GetLinks()[0]->GetPreviousPR(), 2) << "the test letter reports no rank change";

    const ReadMail mail = ReadDelivered(server, 1);
    ASSERT_FALSE(mail.json.empty());
    ExpectLetterShape(mail, "E-mail Notification Test");
    EXPECT_NE(server.MessageJson(1).find("\"a@example.com,b@example.com\""), std::string::npos)
        << "envelope recipients: " << server.MessageJson(1);

    const std::string& html = mail.html;
    EXPECT_NE(html.find(CNotificationsManager::MakeCell("<b>Partner</b>", 0x5BACAC, 0xFFFFFF, 12, false, true)),
              std::string::npos);
    EXPECT_NE(html.find(CNotificationsManager::MakeCell("PR", 0x5BACAC, 0xFFFFFF, 6, true, true) + "</tr>\r\n"),
              std::string::npos);
    EXPECT_NE(html.find(">A partner with...</font>"), std::string::npos);
    const std::string from = "http://from.example/" + Count(40, "f");
    EXPECT_NE(html.find("<a href=\"" + from + "\">" + from.substr(0, 32) + "...</a>"), std::string::npos);
    EXPECT_NE(html.find("<a href=\"http://mysite.example/%D0%AF&quot;\">mysite.example/&#1071;&quot;</a>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find(CNotificationsManager::MakeCell("7", 0xFFFFFF, 0x333333, 0, false, true)), std::string::npos);
    EXPECT_NE(html.find(">robots.txt<"), std::string::npos);
    EXPECT_EQ(html.find("Changed:"), std::string::npos);
    EXPECT_NE(html.find("</table><br><br>\r\n</td></tr>\r\n</table></body>\r\n</html>\r\n"), std::string::npos);
}

TEST(NotificationManagerInstance, OneInstanceUntilFreed)
{
    CNotificationsManager* first = GetNotificationsManager();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetNotificationsManager(), first);
    FreeNotificationsManager();
    FreeNotificationsManager(); // a second free is harmless
    CNotificationsManager* again = GetNotificationsManager();
    ASSERT_NE(again, nullptr);
    FreeNotificationsManager();
}

} // namespace
