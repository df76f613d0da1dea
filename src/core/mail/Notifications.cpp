#include "Notifications.h"

#include "core/platform/TerminalText.h"

#include "core/fetch/Url.h"
#include "core/records/Link.h"
#include "core/records/LinksManager.h"
#include "core/records/OleDateTime.h"
#include "core/records/Partner.h"
#include "core/records/PartnersManager.h"

#include <cstdio>
#include <exception>
#include <new>

namespace {

constexpr uint32_t kHeaderBackground = 0x5BACAC;
constexpr uint32_t kHeaderFont = 0xFFFFFF;
constexpr uint32_t kCellBackground = 0xFFFFFF;
constexpr uint32_t kCellFont = 0x333333;
constexpr uint32_t kChangedFont = 0xFF0000;

constexpr const char* kSenderName = "Orvex";
constexpr const char* kBodyStart = "<body bgcolor=\"#FFFFFF\">\r\n";
constexpr const char* kOuterTableStart =
    "<table width=\"100%\" border=\"0\" cellpadding=\"0\" cellspacing=\"15\" bgcolor=\"#ffffff\">\r\n";
constexpr const char* kInnerTableStart =
    "<table width=\"100%\" border=\"0\" cellpadding=\"5\" cellspacing=\"1\" bgcolor=\"#5bacac\">\r\n";
constexpr const char* kLetterEnd = "</table></body>\r\n</html>\r\n";

CNotificationsManager* g_manager = nullptr;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

/// Length of the UTF-8 sequence that starts with `lead` when the bytes after it continue it
/// properly; 1 for anything malformed, so a broken byte counts as one character of its own.
std::size_t SequenceLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (at + length > text.size())
        return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

uint32_t DecodeSequence(std::string_view text, std::size_t at, std::size_t length)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (length == 1)
        return lead < 0x80 ? lead : 0xFFFD;
    uint32_t cp = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i)
        cp = (cp << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    // Overlong forms and surrogates are not characters; the letter shows the replacement mark.
    static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        return 0xFFFD;
    return cp;
}

/// Database text for the letter. The markup characters must not reach the reader's mail program
/// as markup, and the letter goes out as iso-8859-1: Latin-1 characters stay as they are (the
/// message converts them), anything beyond becomes a numeric reference so nothing turns into "?".
std::string EscapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = SequenceLength(text, i);
        const uint32_t cp = DecodeSequence(text, i, length);
        switch (cp) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (cp <= 0xFF)
                out.append(text, i, length);
            else
                out += "&#" + std::to_string(cp) + ";";
            break;
        }
        i += length;
    }
    return out;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

std::string TitleRow(const char* title)
{
    return std::string("<tr><td>\r\n<font color=\"#9b8566\" face=\"Arial, Helvetica, sans-serif\" size=\"4\">") +
           title + "</font></td></tr>\r\n";
}

std::string HeaderCell(const char* title, int width)
{
    return CNotificationsManager::MakeCell(title, kHeaderBackground, kHeaderFont, width, true, true);
}

std::string TextCell(const std::string& text)
{
    return CNotificationsManager::MakeCell(text, kCellBackground, kCellFont, 0, false, false);
}

std::string ValueCell(const std::string& text)
{
    return CNotificationsManager::MakeCell(text, kCellBackground, kCellFont, 0, false, true);
}

/// A page address as a hyperlink whose shown text is cut to `maxLength` characters.
std::string PageLinkCell(const std::string& url, std::size_t maxLength)
{
    return TextCell("<a href=\"" + EscapeHtml(NormalizeUrl(url)) + "\">" +
                    EscapeHtml(CNotificationsManager::ShortenText(url, maxLength)) + "</a>");
}

CQRMSMTPMessage MakeMessage(const std::string& mailTo, const std::string& mailFrom, const char* subject,
                            const std::string& html)
{
    CQRMSMTPMessage message;
    message.AddRecipientList(mailTo, CQRMSMTPMessage::RecipientTo);
    message.m_From = CQRMSMTPAddress(kSenderName, mailFrom);
    message.m_sSubject = subject;
    message.EnableMime(true);
    message.SetHtmlText(html, "");
    return message;
}

/// A QUIT the server answers badly changes nothing for the user: the letter is either out already
/// or has failed for a reason reported otherwise.
void CloseQuietly(CQRMSMTPConnection& connection)
{
    try {
        connection.Close(true);
    } catch (...) {
    }
}

std::string BoundedReply(const std::string& reply)
{
    if (reply.size() <= MailOutcome::kMaxReply)
        return reply;
    return reply.substr(0, MailOutcome::kMaxReply) + "...";
}

/// Fills `outcome` from a failure of the session with `host`; `connected` is the guess for
/// failures that are not the mail layer's own (they carry no stage).
void RecordFailure(MailOutcome* outcome, const std::exception& e, const std::string& host, int port, bool connected)
{
    if (!outcome)
        return;
    if (const auto* smtp = dynamic_cast<const CQRMSMTPException*>(&e)) {
        outcome->connected = smtp->GetStage() != SmtpStage::Connect;
        outcome->reason = DescribeSmtpFailure(*smtp, host, port);
        outcome->serverReply = BoundedReply(smtp->GetLastResponse());
        return;
    }
    outcome->connected = connected;
    outcome->reason = std::string("The letter could not be sent: ") + e.what() + ".";
    outcome->serverReply.clear();
}

void RecordReason(MailOutcome* outcome, std::string reason, bool connected = false)
{
    if (!outcome)
        return;
    outcome->connected = connected;
    outcome->reason = std::move(reason);
    outcome->serverReply.clear();
}

} // namespace

CNotificationsManager::~CNotificationsManager()
{
    if (m_connection.IsConnected())
        CloseQuietly(m_connection);
}

std::string CNotificationsManager::MakeCell(const std::string& text, uint32_t background, uint32_t fontColor, int width,
                                            bool bold, bool centered)
{
    const std::string widthAttribute = width > 0 ? "width=\"" + std::to_string(width) + "%\"" : " ";
    const char* alignAttribute = centered ? "align=\"center\"" : "align=\"left\"";
    std::string content = text.empty() ? "&nbsp" : text;
    if (bold)
        content = "<b>" + content + "</b>";
    return "<td " + widthAttribute + " " + alignAttribute + " bgcolor=\"#" + Hex(background) + "\"><font color=\"#" +
           Hex(fontColor) + "\" face=\"Arial, Helvetica, sans-serif\" size=\"3\">" + content + "</font></td>\r\n";
}

std::string CNotificationsManager::ShortenText(const std::string& text, std::size_t maxLength)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    const std::string_view trimmed(text.data() + begin, end - begin);

    // Characters, not bytes: a name in Cyrillic must not be cut in the middle of a letter.
    const std::size_t keep = maxLength > 3 ? maxLength - 3 : 0;
    std::size_t count = 0;
    std::size_t keepBytes = 0;
    for (std::size_t i = 0; i < trimmed.size(); i += SequenceLength(trimmed, i)) {
        if (count == keep)
            keepBytes = i;
        ++count;
    }
    if (count == keep)
        keepBytes = trimmed.size();
    if (count < maxLength)
        return std::string(trimmed);
    return std::string(trimmed.substr(0, keepBytes)) + "...";
}

std::string CNotificationsManager::GetLetterHead()
{
    return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n"
           "<head>\r\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\"/>\r\n"
           "<title>Orvex</title>\r\n"
           "</head>\r\n";
}

std::string CNotificationsManager::GetLetterSignature()
{
    return "<font color=\"#9b8566\" face=\"Arial, Helvetica, sans-serif\" size=\"4\">This letter was automatically "
           "generated by <strong>Orvex</strong> application.</font>\r\n";
}

std::string CNotificationsManager::PartnerName(const CLink& link, std::size_t maxLength) const
{
    const CPartnersManager* partners = m_sources.partners ? m_sources.partners() : nullptr;
    const CPartner* partner = partners ? partners->FindById(link.GetPartnerId()) : nullptr;
    return partner ? EscapeHtml(ShortenText(partner->GetName(), maxLength)) : std::string();
}

namespace {

// A link never checked says so: an empty cell reads like a glitch, and "Ok" would be a claim no
// check made.
std::string StatusText(uint32_t status)
{
    return status == StatusNone ? std::string("Not checked") : GetStatusName(status);
}

// Both tables of the letter: a title row, then Partner, From Page, Status and one last column.
std::string LetterTableStart(const char* title, const char* lastHeader)
{
    return TitleRow(title) + "<tr><td>\r\n" + kInnerTableStart + "<tr>\r\n" + HeaderCell("Partner", 25) +
           HeaderCell("From Page", 0) + HeaderCell("Status", 14) + HeaderCell(lastHeader, 15) + "</tr>\r\n";
}

} // namespace

std::string CNotificationsManager::BuildLetter(const std::vector<CLink*>& changedLinks,
                                               const std::vector<CLink*>& expiringLinks)
{
    std::string letter = GetLetterHead() + kBodyStart + kOuterTableStart;

    if (!changedLinks.empty()) {
        letter += LetterTableStart("The following links changed their status or PR:", "PR");
        for (CLink* link : changedLinks) {
            letter += "<tr>\r\n";
            letter += TextCell(PartnerName(*link, 26));
            letter += PageLinkCell(link->GetFromPage(), 55);
            letter += ValueCell(StatusText(link->GetStatus()));
            if (link->HasPRChanged()) {
                letter += MakeCell("Changed: " + std::to_string(link->GetCurrentPR()), kCellBackground, kChangedFont, 0,
                                   false, true);
                // The letter is what tells the user; the next one reports only a new move.
                link->SetPreviousPR(link->GetCurrentPR());
            } else {
                letter += ValueCell(std::to_string(link->GetCurrentPR()));
            }
            letter += "</tr>\r\n";
        }
        letter += "</table>\r\n</td></tr><br>\r\n";
    }

    if (!expiringLinks.empty()) {
        letter += LetterTableStart("All your expiring and expired links:", "Expiry date");
        for (const CLink* link : expiringLinks) {
            letter += "<tr>";
            letter += TextCell(PartnerName(*link, 26));
            letter += PageLinkCell(link->GetFromPage(), 55);
            letter += ValueCell(StatusText(link->GetStatus()));
            letter += ValueCell(FormatExpiryDate(*link));
            letter += "</tr>";
        }
        letter += "</table>\r\n</td></tr><br>\r\n";
    }

    return letter + kLetterEnd;
}

void CNotificationsManager::SetAbortFlag(const std::atomic<int>* flag)
{
    m_abortFlag = flag;
    m_connection.SetAbortFlag(flag);
}

bool CNotificationsManager::Aborted() const
{
    return m_abortFlag && m_abortFlag->load(std::memory_order_relaxed) != 0;
}

void CNotificationsManager::Configure(CQRMSMTPConnection& connection, bool allowUnencryptedPassword) const
{
    connection.SetTimeout(m_replyTimeoutMs);
    connection.SetSessionLimit(m_sessionLimitMs);
    connection.SetAbortFlag(m_abortFlag);
    connection.SetAllowUnencryptedPassword(allowUnencryptedPassword);
}

int CNotificationsManager::Connect()
{
    return Connect(nullptr);
}

int CNotificationsManager::Connect(MailOutcome* outcome)
{
    const MailSettings settings = m_sources.settings ? m_sources.settings() : MailSettings();
    if (settings.smtpServer.empty()) {
        RecordReason(outcome, "No mail server is set.");
        return 0;
    }
    if (settings.smtpPort < 1 || settings.smtpPort > 65536) {
        RecordReason(outcome, "The mail server's port " + std::to_string(settings.smtpPort) +
                                  " does not lie between 1 and 65536.");
        return 0;
    }
    if (m_connection.IsConnected())
        return 1;
    try {
        Configure(m_connection, settings.allowUnencryptedPassword);
        if (settings.smtpAuth)
            m_connection.Open(settings.smtpServer, AuthAutomatic, settings.smtpUser, settings.smtpPassword,
                              settings.smtpPort);
        else
            m_connection.Open(settings.smtpServer, AuthNone, std::string(), std::string(), settings.smtpPort);
        return 1;
    } catch (const std::exception& e) {
        RecordFailure(outcome, e, settings.smtpServer, settings.smtpPort, false);
        return 0;
    } catch (...) {
        RecordReason(outcome, "No connection to the mail server \"" + settings.smtpServer + "\".");
        return 0;
    }
}

int CNotificationsManager::Disconnect()
{
    if (m_connection.IsConnected())
        CloseQuietly(m_connection);
    return 1;
}

int CNotificationsManager::SendNotification(const std::vector<CLink*>& changedLinks,
                                            const std::vector<CLink*>& expiringLinks, MailOutcome* outcome)
{
    // Expiring links alone are no news: they were in the last letter too. Nothing to send means
    // no reason to bother the server at all.
    if (changedLinks.empty())
        return 0;
    return SendLetter(BuildLetter(changedLinks, expiringLinks), outcome);
}

int CNotificationsManager::SendLetter(const std::string& letter, MailOutcome* outcome)
{
    std::lock_guard lock(m_sendMutex);
    if (outcome)
        *outcome = MailOutcome();
    const char* stopped = "Mailing was stopped on request.";
    if (Aborted()) {
        RecordReason(outcome, stopped);
        return 2;
    }
    bool openedHere = false;
    if (!m_connection.IsConnected()) {
        if (!Connect(outcome)) {
            if (!Aborted())
                return 1;
            RecordReason(outcome, stopped, outcome && outcome->connected);
            return 2;
        }
        openedHere = true;
    } else {
        // A connection kept open since an earlier letter gets the whole time for this one.
        m_connection.RestartSessionClock();
    }

    MailSettings settings;
    try {
        settings = m_sources.settings ? m_sources.settings() : MailSettings();
        const CQRMSMTPMessage message = MakeMessage(settings.mailTo, settings.mailFrom, "Warning Notification", letter);
        m_connection.SendMail(message);
    } catch (const std::exception& e) {
        RecordFailure(outcome, e, settings.smtpServer, settings.smtpPort, true);
        if (openedHere)
            CloseQuietly(m_connection);
        return 2;
    } catch (...) {
        RecordReason(outcome, "The letter could not be sent.", true);
        if (openedHere)
            CloseQuietly(m_connection);
        return 2;
    }
    if (outcome) {
        outcome->connected = true;
        outcome->serverReply = BoundedReply(m_connection.GetLastResponse());
    }
    if (openedHere)
        CloseQuietly(m_connection);
    return 0;
}

int CNotificationsManager::SendTestNotification(const std::string& mailTo, const std::string& server, int port,
                                                const std::string& mailFrom, bool auth, const std::string& userName,
                                                const std::string& password, MailOutcome* outcome,
                                                bool allowUnencryptedPassword)
{
    if (outcome)
        *outcome = MailOutcome();
    if (server.empty() || port < 1 || port > 65536) {
        RecordReason(outcome,
                     server.empty() ? "No SMTP server is set." : "The SMTP port must lie between 1 and 65536.");
        return 1;
    }

    CQRMSMTPConnection connection;
    Configure(connection, allowUnencryptedPassword);
    try {
        if (auth)
            connection.Open(server, AuthAutomatic, userName, password, port);
        else
            connection.Open(server, AuthNone, std::string(), std::string(), port);
    } catch (const std::exception& e) {
        RecordFailure(outcome, e, server, port, false);
        return 1;
    } catch (...) {
        RecordReason(outcome, "No connection to the mail server \"" + server + "\".");
        return 1;
    }

    try {
        std::string html = GetLetterHead() + kBodyStart + kOuterTableStart;
        html += "<tr><td>" + GetLetterSignature() + "</td></tr>\r\n";
        html += "<tr><td>\r\n";
        const CLinksManager* links = m_sources.links ? m_sources.links() : nullptr;
        if (links && links->GetCount() > 0) {
            html += kInnerTableStart;
            html += "<tr>\r\n";
            html += HeaderCell("Partner", 12) + HeaderCell("From Page", 0) + HeaderCell("To Page", 0) +
                    HeaderCell("Status", 12) + HeaderCell("PR", 6) + "</tr>\r\n";
            for (const CLink* link : links->GetLinks()) {
                html += "<tr>\r\n";
                html += TextCell(PartnerName(*link, 17));
                html += PageLinkCell(link->GetFromPage(), 35);
                html += PageLinkCell(link->GetToPage(), 35);
                html += ValueCell(StatusText(link->GetStatus()));
                html += ValueCell(std::to_string(link->GetCurrentPR()));
                html += "</tr>\r\n";
            }
            html += "</table><br><br>\r\n";
        }
        html += "</td></tr>\r\n";
        html += kLetterEnd;

        connection.SendMail(MakeMessage(mailTo, mailFrom, "E-mail Notification Test", html));
        if (outcome) {
            outcome->connected = true;
            outcome->serverReply = BoundedReply(connection.GetLastResponse());
        }
    } catch (const std::exception& e) {
        RecordFailure(outcome, e, server, port, true);
        CloseQuietly(connection);
        return 2;
    } catch (...) {
        RecordReason(outcome, "The letter could not be sent.", true);
        CloseQuietly(connection);
        return 2;
    }
    CloseQuietly(connection);
    return 0;
}

std::string MailOutcome::Text() const
{
    if (serverReply.empty())
        return reason;
    std::string reply;
    for (const char c : serverReply)
        if (c != '\r')
            reply += c;
    return reason + (reason.empty() ? "" : "\n") + "Server reply: " + reply;
}

std::string MailOutcome::OneLine() const
{
    return Printable(Text());
}

std::string MailOutcome::Printable(const std::string& text)
{
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        // A carriage return only ends a reply line, before the line feed that stands for it.
        if (c != '\r')
            line += c == '\n' ? ' ' : c;
    }
    return EscapeControls(line);
}

CNotificationsManager* GetNotificationsManager()
{
    if (!g_manager)
        g_manager = new (std::nothrow) CNotificationsManager();
    return g_manager;
}

void FreeNotificationsManager()
{
    delete g_manager;
    g_manager = nullptr;
}
