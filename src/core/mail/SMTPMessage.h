#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

/// A mail address with an optional friendly name.
class CQRMSMTPAddress
{
public:
    CQRMSMTPAddress() = default;
    explicit CQRMSMTPAddress(std::string emailAddress) : m_emailAddress(std::move(emailAddress)) {}
    CQRMSMTPAddress(std::string friendlyName, std::string emailAddress)
        : m_friendlyName(std::move(friendlyName)), m_emailAddress(std::move(emailAddress))
    {
    }

    /// "name <address>", the bare address without a name; the name as encoded words when asked.
    std::string FormatForHeader(bool encode, const std::string& charset) const;
    /// "Name <a@b>", "a@b (Name)", "Name (a@b)" (split by position) or a bare address.
    static CQRMSMTPAddress ParseAddress(std::string_view text);

    std::string m_friendlyName;
    std::string m_emailAddress;
};

/// One MIME part; the root part of a message holds the others.
class CQRMSMTPBodyPart
{
public:
    CQRMSMTPBodyPart();
    CQRMSMTPBodyPart(const CQRMSMTPBodyPart& other);
    CQRMSMTPBodyPart& operator=(const CQRMSMTPBodyPart& other);
    virtual ~CQRMSMTPBodyPart();

    /// Line ends unified to CR LF; the content type goes back to "text/plain".
    void SetText(const std::string& text);
    const std::string& GetText() const { return m_text; }
    void SetContentType(std::string type) { m_contentType = std::move(type); }
    const std::string& GetContentType() const { return m_contentType; }
    void SetCharset(std::string charset) { m_charset = std::move(charset); }
    const std::string& GetCharset() const { return m_charset; }
    void SetContentBase(std::string base) { m_contentBase = std::move(base); }
    void SetContentID(std::string id) { m_contentId = std::move(id); }
    void SetContentLocation(std::string location) { m_contentLocation = std::move(location); }
    void SetQuotedPrintable(bool on) { m_quotedPrintable = on; }
    void SetBase64(bool on) { m_base64 = on; }

    /// Takes a copy; returns its index.
    std::size_t AddChildBodyPart(const CQRMSMTPBodyPart& part);
    void RemoveAllChildren();
    std::size_t GetNumberOfChildBodyParts() const { return m_children.size(); }
    CQRMSMTPBodyPart* GetChildBodyPart(std::size_t index) const;
    CQRMSMTPBodyPart* GetParentBodyPart() const { return m_parent; }
    /// A fresh UUID per part, 36 characters.
    const std::string& GetBoundary() const { return m_boundary; }

    std::string BuildPartHeader() const;
    std::string BuildPartBody(bool stuffDots) const;
    std::string BuildPartTrailer() const;

private:
    std::string m_contentType = "text/plain";
    std::string m_charset = "iso-8859-1";
    std::string m_contentBase;
    std::string m_contentId;
    std::string m_contentLocation;
    std::string m_text;
    std::vector<std::unique_ptr<CQRMSMTPBodyPart>> m_children;
    CQRMSMTPBodyPart* m_parent = nullptr;
    std::string m_boundary;
    bool m_quotedPrintable = true;
    bool m_base64 = false;
};

/// One outgoing mail: addresses, subject, MIME switch and a tree of parts.
class CQRMSMTPMessage
{
public:
    enum RecipientType
    {
        RecipientTo = 0,
        RecipientCc = 1,
        RecipientBcc = 2,
    };

    CQRMSMTPMessage();
    CQRMSMTPMessage(const CQRMSMTPMessage& other);
    CQRMSMTPMessage& operator=(const CQRMSMTPMessage& other);
    virtual ~CQRMSMTPMessage();

    /// The header block (From, To, Cc, Subject, X-Mailer, Content-Type, Reply-To, Date, ...).
    virtual std::string BuildHeaderBlock() const;

    /// Addresses separated by "," or ";" outside double quotes; true when any was added.
    bool AddRecipientList(std::string_view text, RecipientType type = RecipientTo);
    /// Returns the index, or -1 for a kind that is not one of the three.
    int AddAddress(const CQRMSMTPAddress& address, int type);
    const std::vector<CQRMSMTPAddress>& GetRecipients(RecipientType type) const;

    void EnableMime(bool on);
    bool IsMimeEnabled() const { return m_mime; }
    /// Replaces the text of the first "text/html" child, or adds one.
    void SetHtmlText(const std::string& html, const std::string& contentBase);

    CQRMSMTPAddress m_From;
    std::string m_sSubject;
    std::string m_sXMailer = "CQRMSMTPConnection v2.67";
    CQRMSMTPAddress m_ReplyTo;
    CQRMSMTPBodyPart m_RootPart;
    int m_Priority = 0;
    int m_DSNReturnType = 0;
    int m_dwDSNFlags = -1;
    std::string m_sENVID;
    std::vector<std::string> m_CustomHeaders;

private:
    std::vector<CQRMSMTPAddress> m_to;
    std::vector<CQRMSMTPAddress> m_cc;
    std::vector<CQRMSMTPAddress> m_bcc;
    bool m_mime = false;
};

/// Encoders the message and the SMTP client share.
namespace MailEncoding {
std::string EncodeHeaderWord(std::string_view bytes, const std::string& charset);
std::string EncodeHeaderText(std::string_view text, const std::string& charset);
std::string EncodeQuotedPrintable(std::string_view bytes);
std::string StuffDots(std::string_view text);
std::string Base64Encode(std::string_view bytes);
/// False on characters outside the alphabet or a bad length.
bool Base64Decode(std::string_view text, std::string& bytes);
/// UTF-8 text as ISO-8859-1 bytes for the letter's charset; characters beyond it become "?".
std::string Utf8ToLatin1(std::string_view text);
} // namespace MailEncoding
