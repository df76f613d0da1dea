#include "SMTPMessage.h"

#include "core/platform/TextEncoding.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <stdexcept>

namespace {

constexpr const char* kMultipartPreamble = "This is a multi-part message in MIME format";
constexpr const char* kWhiteSpace = " \t\r\n\v\f";
constexpr const char* kHexDigits = "0123456789ABCDEF";

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

std::string_view TrimEnd(std::string_view text)
{
    const auto last = text.find_last_not_of(kWhiteSpace);
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

bool IsUtf8Charset(const std::string& charset)
{
    static constexpr std::string_view kUtf8 = "utf-8";
    if (charset.size() != kUtf8.size())
        return false;
    for (std::size_t i = 0; i < charset.size(); ++i) {
        char c = charset[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kUtf8[i])
            return false;
    }
    return true;
}

// Our texts are UTF-8; a part or header in any other charset is written in Latin-1, the only
// other charset the letters use.
std::string BytesForCharset(std::string_view text, const std::string& charset)
{
    return IsUtf8Charset(charset) ? std::string(text) : MailEncoding::Utf8ToLatin1(text);
}

void AppendEscape(std::string& out, unsigned char byte)
{
    out += '=';
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 15];
}

void RandomBytes(unsigned char* buffer, std::size_t size)
{
    if (RAND_bytes(buffer, static_cast<int>(size)) == 1)
        return;
    // OpenSSL's generator should never fail; if it does, the kernel's pool is good enough for
    // a boundary, which needs to be unique rather than secret.
    std::random_device device;
    for (std::size_t i = 0; i < size; ++i)
        buffer[i] = static_cast<unsigned char>(device() & 0xFF);
}

std::string NewBoundary()
{
    std::array<unsigned char, 16> bytes = {};
    RandomBytes(bytes.data(), bytes.size());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    static constexpr char kLower[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kLower[bytes[i] >> 4];
        text += kLower[bytes[i] & 15];
    }
    return text;
}

std::string UnifyLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

// RFC 2045 caps base64 body lines at 76 characters; the shared encoder writes one long line
// because the SMTP commands need it that way.
std::string WrapLines(const std::string& text, std::size_t width)
{
    std::string out;
    out.reserve(text.size() + (text.size() / width + 1) * 2);
    for (std::size_t pos = 0; pos < text.size(); pos += width) {
        if (pos != 0)
            out += "\r\n";
        out.append(text, pos, width);
    }
    return out;
}

// Mail dates are English whatever the user's locale; the names come from here rather than from
// strftime so that no locale has to be switched in a process that runs other threads.
constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string DateText()
{
    tzset(); // the zone is the one in force when the mail is sent, not at program start
    const std::time_t now = std::time(nullptr);
    struct tm local = {};
    if (!localtime_r(&now, &local))
        throw std::runtime_error("local time is not available");
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDayNames.at(static_cast<std::size_t>(local.tm_wday)), local.tm_mday,
                  kMonthNames.at(static_cast<std::size_t>(local.tm_mon)), local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    return buffer;
}

std::string JoinForHeader(const std::vector<CQRMSMTPAddress>& addresses, const std::string& charset)
{
    std::string out;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (i != 0)
            out += ',';
        out += addresses[i].FormatForHeader(true, charset);
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CQRMSMTPAddress

std::string CQRMSMTPAddress::FormatForHeader(bool encode, const std::string& charset) const
{
    if (m_friendlyName.empty())
        return m_emailAddress;
    const std::string name = encode ? MailEncoding::EncodeHeaderText(m_friendlyName, charset) : m_friendlyName;
    return name + " <" + m_emailAddress + ">";
}

CQRMSMTPAddress CQRMSMTPAddress::ParseAddress(std::string_view text)
{
    text = Trim(text);
    const auto open = text.find('<');
    const auto close = text.find('>');
    if (open != std::string_view::npos && close != std::string_view::npos && open + 2 <= close) {
        // Blanks inside the brackets would end up in RCPT TO, where servers refuse them.
        return CQRMSMTPAddress(std::string(Trim(text.substr(0, open))),
                               std::string(Trim(text.substr(open + 1, close - open - 1))));
    }
    const auto paren = text.find('(');
    const auto parenClose = text.find(')');
    if (paren == std::string_view::npos || parenClose == std::string_view::npos || paren + 2 > parenClose)
        return CQRMSMTPAddress(std::string(text));
    return CQRMSMTPAddress(std::string(Trim(text.substr(paren + 1, parenClose - paren - 1))),
                           std::string(TrimEnd(text.substr(0, paren))));
}

// ---------------------------------------------------------------------------------------------
// CQRMSMTPBodyPart

CQRMSMTPBodyPart::CQRMSMTPBodyPart() : m_boundary(NewBoundary())
{
}

// A copy gets a boundary of its own: were a copy ever nested inside its original, equal
// boundaries would make the inner parts unreadable.
CQRMSMTPBodyPart::CQRMSMTPBodyPart(const CQRMSMTPBodyPart& other)
    : m_contentType(other.m_contentType), m_charset(other.m_charset), m_contentBase(other.m_contentBase),
      m_contentId(other.m_contentId), m_contentLocation(other.m_contentLocation), m_text(other.m_text),
      m_boundary(NewBoundary()), m_quotedPrintable(other.m_quotedPrintable), m_base64(other.m_base64)
{
    m_children.reserve(other.m_children.size());
    for (const auto& child : other.m_children)
        AddChildBodyPart(*child);
}

CQRMSMTPBodyPart& CQRMSMTPBodyPart::operator=(const CQRMSMTPBodyPart& other)
{
    if (this == &other)
        return *this;
    // Copy the children before dropping ours: `other` may be one of our own descendants.
    std::vector<std::unique_ptr<CQRMSMTPBodyPart>> children;
    children.reserve(other.m_children.size());
    for (const auto& child : other.m_children) {
        children.push_back(std::make_unique<CQRMSMTPBodyPart>(*child));
        children.back()->m_parent = this;
    }
    m_contentType = other.m_contentType;
    m_charset = other.m_charset;
    m_contentBase = other.m_contentBase;
    m_contentId = other.m_contentId;
    m_contentLocation = other.m_contentLocation;
    m_text = other.m_text;
    m_quotedPrintable = other.m_quotedPrintable;
    m_base64 = other.m_base64;
    m_children = std::move(children);
    return *this;
}

CQRMSMTPBodyPart::~CQRMSMTPBodyPart() = default;

void CQRMSMTPBodyPart::SetText(const std::string& text)
{
    m_text = UnifyLineEnds(text);
    m_contentType = "text/plain";
}

std::size_t CQRMSMTPBodyPart::AddChildBodyPart(const CQRMSMTPBodyPart& part)
{
    auto child = std::make_unique<CQRMSMTPBodyPart>(part);
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return m_children.size() - 1;
}

void CQRMSMTPBodyPart::RemoveAllChildren()
{
    m_children.clear();
}

CQRMSMTPBodyPart* CQRMSMTPBodyPart::GetChildBodyPart(std::size_t index) const
{
    return index < m_children.size() ? m_children[index].get() : nullptr;
}

std::string CQRMSMTPBodyPart::BuildPartHeader() const
{
    // The root's header lines belong to the message header block.
    if (!m_parent)
        return {};
    std::string header =
        "\r\n--" + m_parent->m_boundary + "\r\nContent-Type: " + m_contentType + "; charset=" + m_charset;
    if (!m_children.empty())
        header += "; Boundary=\"" + m_boundary + "\"";
    header += "\r\n";
    if (m_base64)
        header += "Content-Transfer-Encoding: base64\r\n";
    else if (m_quotedPrintable)
        header += "Content-Transfer-Encoding: quoted-printable\r\n";
    if (!m_contentBase.empty())
        header += "Content-Base: " + m_contentBase + "\r\n";
    if (!m_contentId.empty())
        header += "Content-ID: " + m_contentId + "\r\n";
    if (!m_contentLocation.empty())
        header += "Content-Location: " + m_contentLocation + "\r\n";
    header += "\r\n";
    return header;
}

std::string CQRMSMTPBodyPart::BuildPartBody(bool stuffDots) const
{
    const std::string bytes = BytesForCharset(m_text, m_charset);
    if (m_base64)
        return WrapLines(MailEncoding::Base64Encode(bytes), 76);
    std::string body = m_quotedPrintable ? MailEncoding::EncodeQuotedPrintable(bytes) : bytes;
    return stuffDots ? MailEncoding::StuffDots(body) : body;
}

std::string CQRMSMTPBodyPart::BuildPartTrailer() const
{
    return "\r\n--" + m_boundary + "--";
}

// ---------------------------------------------------------------------------------------------
// CQRMSMTPMessage

CQRMSMTPMessage::CQRMSMTPMessage() = default;
CQRMSMTPMessage::CQRMSMTPMessage(const CQRMSMTPMessage& other) = default;
CQRMSMTPMessage& CQRMSMTPMessage::operator=(const CQRMSMTPMessage& other) = default;
CQRMSMTPMessage::~CQRMSMTPMessage() = default;

std::string CQRMSMTPMessage::BuildHeaderBlock() const
{
    const std::string& charset = m_RootPart.GetCharset();
    std::string header = "From: " + m_From.FormatForHeader(true, charset);
    header += "\r\nTo: " + JoinForHeader(m_to, charset) + "\r\n";
    if (!m_cc.empty())
        header += "Cc: " + JoinForHeader(m_cc, charset) + "\r\n";
    header += "Subject: " + MailEncoding::EncodeHeaderText(m_sSubject, charset);
    if (!m_sXMailer.empty())
        header += "\r\nX-Mailer: " + m_sXMailer;
    header += "\r\n";

    if (!m_mime) {
        header += "Content-Type: " + m_RootPart.GetContentType() + ";\r\n\tcharset=" + charset + "\r\n";
    } else if (m_RootPart.GetNumberOfChildBodyParts() != 0) {
        header += "MIME-Version: 1.0\r\nContent-Type: " + m_RootPart.GetContentType() + "; boundary=\"" +
                  m_RootPart.GetBoundary() + "\"\r\n";
    } else {
        header += "MIME-Version: 1.0\r\nContent-Type: " + m_RootPart.GetContentType() + "\r\n";
    }

    if (!m_ReplyTo.m_emailAddress.empty())
        header += "Reply-To: " + m_ReplyTo.FormatForHeader(true, charset) + "\r\n";
    header += "Date: " + DateText() + "\r\n";

    switch (m_Priority) {
    case 1:
        header += "X-Priority: 5\r\n";
        break;
    case 2:
        header += "X-Priority: 3\r\n";
        break;
    case 3:
        header += "X-Priority: 1\r\n";
        break;
    default:
        break;
    }
    for (const auto& line : m_CustomHeaders)
        header += line + "\r\n";
    return header;
}

bool CQRMSMTPMessage::AddRecipientList(std::string_view text, RecipientType type)
{
    bool added = false;
    bool inQuotes = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const bool atEnd = i == text.size();
        if (!atEnd && text[i] == '"')
            inQuotes = !inQuotes;
        if (!atEnd && (inQuotes || (text[i] != ',' && text[i] != ';')))
            continue;
        const CQRMSMTPAddress address = CQRMSMTPAddress::ParseAddress(Trim(text.substr(start, i - start)));
        if (!address.m_emailAddress.empty() && AddAddress(address, type) >= 0)
            added = true;
        start = i + 1;
    }
    return added;
}

int CQRMSMTPMessage::AddAddress(const CQRMSMTPAddress& address, int type)
{
    std::vector<CQRMSMTPAddress>* list = nullptr;
    switch (type) {
    case RecipientTo:
        list = &m_to;
        break;
    case RecipientCc:
        list = &m_cc;
        break;
    case RecipientBcc:
        list = &m_bcc;
        break;
    default:
        return -1;
    }
    list->push_back(address);
    return static_cast<int>(list->size() - 1);
}

const std::vector<CQRMSMTPAddress>& CQRMSMTPMessage::GetRecipients(RecipientType type) const
{
    switch (type) {
    case RecipientCc:
        return m_cc;
    case RecipientBcc:
        return m_bcc;
    default:
        return m_to;
    }
}

void CQRMSMTPMessage::EnableMime(bool on)
{
    if (m_mime == on)
        return;
    m_mime = on;
    m_RootPart.RemoveAllChildren();
    if (!on)
        return;
    const std::string kept = m_RootPart.GetText();
    m_RootPart.SetText(kMultipartPreamble);
    m_RootPart.SetContentType("multipart/mixed");
    if (!kept.empty()) {
        CQRMSMTPBodyPart text;
        text.SetText(kept);
        text.SetCharset(m_RootPart.GetCharset());
        m_RootPart.AddChildBodyPart(text);
    }
}

void CQRMSMTPMessage::SetHtmlText(const std::string& html, const std::string& contentBase)
{
    for (std::size_t i = 0; i < m_RootPart.GetNumberOfChildBodyParts(); ++i) {
        CQRMSMTPBodyPart* child = m_RootPart.GetChildBodyPart(i);
        if (child->GetContentType() == "text/html") {
            child->SetText(html);
            child->SetContentType("text/html"); // SetText resets the type
            return;
        }
    }
    m_RootPart.SetText(kMultipartPreamble);
    m_RootPart.SetContentType("multipart/mixed");
    CQRMSMTPBodyPart part;
    part.SetCharset(m_RootPart.GetCharset());
    part.SetText(html);
    part.SetContentType("text/html");
    part.SetContentBase(contentBase);
    m_RootPart.AddChildBodyPart(part);
}

// ---------------------------------------------------------------------------------------------
// MailEncoding

namespace MailEncoding {

std::string EncodeHeaderWord(std::string_view bytes, const std::string& charset)
{
    bool high = false;
    for (const char c : bytes)
        high = high || (static_cast<unsigned char>(c) & 0x80) != 0;
    if (!high)
        return std::string(bytes);

    std::string out = "=?" + charset + "?q?";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ')
            out += '_';
        else if (byte >= 0x80 || byte == '=' || byte == '?' || byte == '_')
            AppendEscape(out, byte);
        else
            out += c;
    }
    out += "?=";
    return out;
}

std::string EncodeHeaderText(std::string_view text, const std::string& charset)
{
    const std::string bytes = BytesForCharset(text, charset);
    const bool utf8 = IsUtf8Charset(charset);
    std::string out;
    std::string_view rest = bytes;
    while (rest.size() > 70) {
        std::size_t cut = 70;
        // Each encoded word must hold whole characters; in UTF-8 never cut before a continuation byte.
        while (utf8 && cut > 1 && (static_cast<unsigned char>(rest[cut]) & 0xC0) == 0x80)
            --cut;
        out += EncodeHeaderWord(rest.substr(0, cut), charset);
        rest.remove_prefix(cut);
    }
    out += EncodeHeaderWord(rest, charset);
    return out;
}

std::string EncodeQuotedPrintable(std::string_view bytes)
{
    std::string escaped;
    escaped.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool literal = (byte >= '!' && byte <= '<') || (byte >= '>' && byte <= '~') || byte == ' ' ||
                             byte == '\t' || byte == '\r' || byte == '\n';
        if (literal)
            escaped += c;
        else
            AppendEscape(escaped, byte);
    }

    std::string out;
    out.reserve(escaped.size() + escaped.size() / 24);
    const std::size_t n = escaped.size();
    std::size_t start = 0;
    std::size_t j = 0;
    while (j < n) {
        const char c = escaped[j];
        if (c == '\r' || c == '\n' || j == n - 1) {
            out.append(escaped, start, j - start + 1);
            start = ++j;
            continue;
        }
        if (j - start <= 76) {
            ++j;
            continue;
        }
        // Prefer to break after white space or right after an escape, whichever comes last.
        std::size_t cut = j;
        while (cut > start) {
            const char at = escaped[cut];
            if (at == ' ' || at == '\t' || (cut >= start + 2 && escaped[cut - 2] == '='))
                break;
            --cut;
        }
        if (cut == start) {
            cut = start + 76;
            // An escape starting right at the forced cut would be split from its digits.
            if (escaped[cut] == '=')
                --cut;
        }
        out.append(escaped, start, cut - start + 1);
        out += "=\r\n";
        start = j = cut + 1;
    }
    return out;
}

std::string StuffDots(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

namespace {
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}
} // namespace

std::string Base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += kBase64Alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest != 0) {
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Base64Decode(std::string_view text, std::string& bytes)
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int padding = 0;
        uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=') {
                // Padding only in the last two places of the last quantum, and nothing after it.
                if (!last || k < 2)
                    return false;
                ++padding;
                v <<= 6;
                continue;
            }
            const int value = Base64Value(c);
            if (value < 0 || padding != 0)
                return false;
            v = (v << 6) | static_cast<uint32_t>(value);
        }
        out += static_cast<char>((v >> 16) & 0xFF);
        if (padding < 2)
            out += static_cast<char>((v >> 8) & 0xFF);
        if (padding < 1)
            out += static_cast<char>(v & 0xFF);
    }
    bytes = std::move(out);
    return true;
}

std::string Utf8ToLatin1(std::string_view text)
{
    if (TextEncoding::IsAscii(text))
        return std::string(text);
    const std::u16string units = TextEncoding::Utf8ToUtf16(text);
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit < 0x100) {
            out += static_cast<char>(unit);
            continue;
        }
        // A surrogate pair is one character, so one "?".
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF)
            ++i;
        out += '?';
    }
    return out;
}

} // namespace MailEncoding
