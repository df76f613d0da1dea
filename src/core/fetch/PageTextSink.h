#pragma once

// The page consumer: a page's bytes decoded to UTF-8 as they arrive, within the caller's length
// and the pages' memory budget. Private to the fetch.

#include "BodySinks.h"
#include "PageEncoding.h"
#include "core/platform/TextEncoding.h"
#include "core/records/TextUtil.h"

#include <string>

namespace fetchsink {

using pageencoding::CharsetConverter;
using pageencoding::CharsetParameter;
using pageencoding::Encoding;
using pageencoding::EncodingKind;
using pageencoding::MetaCharsetName;
using pageencoding::ResolveEncodingLabel;
using pageencoding::SanitizeUtf8;
using pageencoding::Utf16Decoder;

class PageTextSink : public BodySink
{
public:
    /// `budgeted`: the page's memory counts against the pages' budget, and its reading waits for
    /// room there.
    PageTextSink(std::size_t maxLength, bool budgeted) : m_max(maxLength), m_budgeted(budgeted)
    {
        if (budgeted)
            m_reader.lease = &m_lease;
    }

    const CPageLease* Lease() const override { return m_budgeted ? &m_lease : nullptr; }

    /// The text leaves with what it holds of the budget; the rest goes back.
    CPageLease TakeLease()
    {
        m_reader.Release();
        if (m_text.capacity() > m_text.size() + m_text.size() / 8)
            m_lease.Shrink(m_text);
        m_lease.EndGrowth();
        return std::move(m_lease);
    }

    bool Write(const char* data, std::size_t size) override
    {
        if (m_text.size() >= m_max)
            return false;
        if (m_mode != Mode::Undecided)
            return FeedDecoded(data, size);
        // The byte order mark needs the first three bytes; a shorter first block waits for more.
        if (m_head.empty() && size >= kBomLookahead) {
            const std::size_t skip = Decide(std::string_view(data, size));
            return FeedDecoded(data + skip, size - skip);
        }
        m_head.append(data, size);
        if (m_head.size() < kBomLookahead)
            return true;
        return FeedHead();
    }

    void Finish() override
    {
        if (stopped || m_text.size() >= m_max)
            return;
        if (m_mode == Mode::Undecided && !FeedHead())
            return;
        if (m_mode == Mode::Utf16) {
            const std::string tail = m_utf16.Flush();
            if (!FeedUtf8(tail.data(), tail.size()))
                return;
        }
        m_reader.Finish([this](std::string& line) { return OnLine(line); });
    }

    std::string& Text() { return m_text; }

private:
    enum class Mode
    {
        Undecided,
        Utf8,      // a byte order mark or the header said UTF-8
        Converted, // the header named another charset
        Utf16,     // a byte order mark or the header said UTF-16
        Meta,      // neither: UTF-8 until a meta line names a charset
    };

    static constexpr std::size_t kBomLookahead = 3;

    bool FeedHead()
    {
        const std::string head = std::move(m_head);
        m_head.clear();
        const std::size_t skip = Decide(head);
        return FeedDecoded(head.data() + skip, head.size() - skip);
    }

    /// Picks the encoding as browsers do: byte order mark, then the Content-Type header's
    /// charset, then meta lines. Returns the length of the byte order mark.
    std::size_t Decide(std::string_view head)
    {
        if (head.starts_with("\xEF\xBB\xBF")) {
            m_mode = Mode::Utf8;
            return 3;
        }
        if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF")) {
            m_mode = Mode::Utf16;
            m_utf16.SetBigEndian(head[0] == '\xFE');
            return 2;
        }
        char* contentType = nullptr;
        if (handle && curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType) {
            const std::string label = CharsetParameter(contentType);
            if (!label.empty()) {
                const Encoding encoding = ResolveEncodingLabel(label);
                switch (encoding.kind) {
                case EncodingKind::Utf8:
                    m_mode = Mode::Utf8;
                    return 0;
                case EncodingKind::Utf16Le:
                case EncodingKind::Utf16Be:
                    m_mode = Mode::Utf16;
                    m_utf16.SetBigEndian(encoding.kind == EncodingKind::Utf16Be);
                    return 0;
                case EncodingKind::Other:
                    // A charset nobody knows is no declaration; the page may still declare one.
                    if (m_converter.Open(encoding.name)) {
                        m_mode = Mode::Converted;
                        return 0;
                    }
                    break;
                }
            }
        }
        m_mode = Mode::Meta;
        return 0;
    }

    bool FeedDecoded(const char* data, std::size_t size)
    {
        if (m_mode != Mode::Utf16)
            return FeedUtf8(data, size);
        const std::string text = m_utf16.Decode(data, size);
        return FeedUtf8(text.data(), text.size());
    }

    bool FeedUtf8(const char* data, std::size_t size)
    {
        return m_reader.Feed(data, size, m_max + kLongLineSlack, [this](std::string& line) { return OnLine(line); });
    }

    bool OnLine(std::string& line)
    {
        if (m_text.size() >= m_max)
            return false;
        switch (m_mode) {
        case Mode::Converted:
            Append(m_converter.Convert(line));
            break;
        case Mode::Meta:
            OnMetaModeLine(line);
            break;
        default:
            AppendUtf8(line);
            break;
        }
        Append("\n");
        return m_text.size() < m_max;
    }

    void Append(std::string_view piece)
    {
        FitInLease(m_budgeted ? &m_lease : nullptr, m_text, piece.size());
        m_text += piece;
    }

    void AppendUtf8(std::string& line)
    {
        if (TextEncoding::IsValidUtf8(line)) {
            // A page that is one line (link lists often are) becomes the text without a copy.
            if (m_text.empty())
                m_text.swap(line);
            else
                Append(line);
        } else
            Append(SanitizeUtf8(line));
    }

    void OnMetaModeLine(std::string& line)
    {
        // The probe (lower case, blanks removed) is built only for the rare line that can hold a
        // declaration; every other line is appended as it is.
        if (ProbeCanMatch(line)) {
            m_probe.clear();
            for (const char c : line) {
                if (c != ' ')
                    m_probe += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            }
            if (m_probe.find("meta") != std::string::npos && m_probe.find("charset=") != std::string::npos) {
                const Encoding encoding = ResolveEncodingLabel(MetaCharsetName(line, m_probe));
                // A page that calls itself UTF-16 in a meta line was read as ASCII to find that
                // line, so it is not UTF-16: browsers take it as UTF-8.
                m_utf8 = m_probe.find("charset=utf-8") != std::string::npos ||
                         m_probe.find("charset=\"utf-8\"") != std::string::npos || encoding.kind != EncodingKind::Other;
                if (!m_utf8)
                    m_converter.Select(encoding.name);
            }
        }
        if (!m_utf8)
            Append(m_converter.Convert(line));
        else
            AppendUtf8(line);
    }

    /// Whether the line, read without blanks and case, contains "charset=": a pass without copies.
    static bool ProbeCanMatch(const std::string& line)
    {
        static constexpr std::string_view kWord = "charset=";
        if (line.find('=') == std::string::npos)
            return false;
        std::size_t matched = 0;
        for (const char raw : line) {
            if (raw == ' ')
                continue;
            const char c = raw >= 'A' && raw <= 'Z' ? static_cast<char>(raw - 'A' + 'a') : raw;
            if (c == kWord[matched]) {
                if (++matched == kWord.size())
                    return true;
            } else {
                // "charset=" repeats no prefix of itself, so a mismatch restarts at this character.
                matched = c == kWord[0] ? 1 : 0;
            }
        }
        return false;
    }

    std::size_t m_max;
    bool m_budgeted;
    // Before the strings it counts, so that it outlives them.
    CPageLease m_lease;
    Mode m_mode = Mode::Undecided;
    std::string m_head;
    std::string m_text;
    std::string m_probe;
    bool m_utf8 = true;
    CharsetConverter m_converter;
    Utf16Decoder m_utf16;
    LineReader m_reader;
};

} // namespace fetchsink
