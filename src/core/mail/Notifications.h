#pragma once

#include "SMTPConnection.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CLink;
class CLinksManager;
class CPartnersManager;

/// The mail settings the letters use.
struct MailSettings
{
    std::string smtpServer;
    int smtpPort = 25;
    bool smtpAuth = false;
    std::string smtpUser;
    std::string smtpPassword;
    std::string mailTo;
    std::string mailFrom;
    /// The user agreed that the password may go to a server that offers no encryption.
    bool allowUnencryptedPassword = false;
};

/// How a mailing went, for the user: on failure whether the server was reached, what happened,
/// and the server's last reply.
struct MailOutcome
{
    /// The longest server reply kept: an EHLO list is shown whole, a runaway reply is not.
    static constexpr std::size_t kMaxReply = 2000;

    bool connected = false;  ///< a connection to the mail server stood
    std::string reason;      ///< one sentence; empty when the letter went out
    std::string serverReply; ///< the server's last reply as it came, "" when it said nothing

    /// The reason, then "Server reply: ..." on a line of its own when there is one.
    std::string Text() const;
    /// The same on one line, the reply's line breaks as blanks and other control characters
    /// as visible escapes: a hostile server must not steer the terminal.
    std::string OneLine() const;
    /// `text` on one line as OneLine writes it.
    static std::string Printable(const std::string& text);
};

/// Where the manager finds the current settings and collections (the application's, which a
/// database switch may replace, hence functions rather than pointers).
struct NotificationSources
{
    std::function<MailSettings()> settings;
    std::function<const CPartnersManager*()> partners;
    std::function<const CLinksManager*()> links;
};

/// Builds and mails the notification letter and the test letter.
class CNotificationsManager
{
public:
    CNotificationsManager() = default;
    virtual ~CNotificationsManager();

    void SetSources(NotificationSources sources) { m_sources = std::move(sources); }

    /// 0 sent or nothing to send, 1 no connection, 2 sending failed (or stopped by the abort flag).
    /// "No connection" covers every failure before the server was ready for the letter (refused
    /// TLS, a login that failed); `outcome` tells them apart.
    int SendNotification(const std::vector<CLink*>& changedLinks, const std::vector<CLink*>& expiringLinks,
                         MailOutcome* outcome = nullptr);
    /// Mails a letter BuildLetter made: it reads no record, so it may run on a thread of its own
    /// while the window changes links. 0 sent, 1 no connection, 2 sending failed.
    int SendLetter(const std::string& letter, MailOutcome* outcome = nullptr);
    /// The letter with every link of the database, sent with the values the dialog holds.
    /// 0 sent, 1 connecting failed, 2 connected but sending failed; `outcome` says what happened
    /// with the server's reply. Without TLS the password goes out only with
    /// `allowUnencryptedPassword`.
    int SendTestNotification(const std::string& mailTo, const std::string& server, int port,
                             const std::string& mailFrom, bool auth, const std::string& userName,
                             const std::string& password, MailOutcome* outcome = nullptr,
                             bool allowUnencryptedPassword = false);
    /// 1 connected (or already), 0 not.
    int Connect();
    int Disconnect();

    std::string BuildLetter(const std::vector<CLink*>& changedLinks, const std::vector<CLink*>& expiringLinks);

    static std::string MakeCell(const std::string& text, uint32_t background, uint32_t fontColor, int width, bool bold,
                                bool centered);
    static std::string ShortenText(const std::string& text, std::size_t maxLength);
    static std::string GetLetterHead();
    static std::string GetLetterSignature();

    /// For tests: the reply time-out of the connections this manager opens.
    void SetReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }
    /// The longest one mailing may take, connecting to closing (default 300000 ms).
    void SetSessionLimit(int milliseconds) { m_sessionLimitMs = milliseconds; }
    /// While `*flag` is non-zero, mailing stops within about 200 ms: SendNotification returns 2
    /// and nothing further goes to the server. Null (the default): no flag. The flag must outlive
    /// the manager's use of it; set it before mailing starts, not during.
    void SetAbortFlag(const std::atomic<int>* flag);

private:
    std::string PartnerName(const CLink& link, std::size_t maxLength) const;
    void Configure(CQRMSMTPConnection& connection, bool allowUnencryptedPassword) const;
    int Connect(MailOutcome* outcome);
    bool Aborted() const;

    NotificationSources m_sources;
    std::mutex m_sendMutex; ///< the date refresh and a handed-over run may both want to mail
    CQRMSMTPConnection m_connection;
    int m_replyTimeoutMs = 60000;
    int m_sessionLimitMs = 300000;
    const std::atomic<int>* m_abortFlag = nullptr;
};

CNotificationsManager* GetNotificationsManager();
void FreeNotificationsManager();
