#pragma once

#include <QString>

#include <string>
#include <string_view>

/// Find's test of one cell: does the cell's text hold the searched text, with letter case
/// ignored unless asked? Case is compared as QString::toUpper makes it ("ß" is "SS").
class CTextMatcher
{
public:
    CTextMatcher(const QString& text, bool matchCase);

    bool Matches(std::string_view cell) const;
    /// The searched text in UTF-8, upper case when case is ignored.
    std::string_view Needle() const
    {
        return std::string_view(m_needleBytes.constData(), static_cast<std::size_t>(m_needleBytes.size()));
    }
    bool IgnoresCase() const { return !m_matchCase; }

private:
    bool m_matchCase;
    QString m_needle;
    QByteArray m_needleBytes;
    bool m_asciiNeedle;
};
