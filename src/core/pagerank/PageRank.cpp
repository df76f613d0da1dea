#include "PageRank.h"

#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/fetch/Url.h"
#include "core/records/Link.h"

namespace {

constexpr uint32_t kGoldenRatio = 0x9E3779B9;
constexpr uint32_t kChecksumSeed = 0x6B1D4E37;

// The service answers one short line; the fetch may stop once it holds this many characters.
constexpr std::size_t kAnswerReadLength = 12;
constexpr std::size_t kAnswerScanLength = 10;

void Mix(uint32_t& a, uint32_t& b, uint32_t& c)
{
    a -= b;
    a -= c;
    a ^= c >> 13;
    b -= c;
    b -= a;
    b ^= a << 8;
    c -= a;
    c -= b;
    c ^= b >> 13;
    a -= b;
    a -= c;
    a ^= c >> 12;
    b -= c;
    b -= a;
    b ^= a << 16;
    c -= a;
    c -= b;
    c ^= b >> 5;
    a -= b;
    a -= c;
    a ^= c >> 3;
    b -= c;
    b -= a;
    b ^= a << 10;
    c -= a;
    c -= b;
    c ^= b >> 15;
}

uint32_t LittleEndianWord(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool IsScanSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// What "%d" accepts: blanks, an optional sign, at least one digit. The value saturates instead of
// overflowing; anything that large is out of range for a rank anyway.
bool ScanInt(std::string_view text, std::size_t& pos, long& value)
{
    while (pos < text.size() && IsScanSpace(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t digitsStart = pos;
    long magnitude = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (magnitude < 1000000)
            magnitude = magnitude * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos == digitsStart)
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

} // namespace

uint32_t Lookup2Hash(const uint8_t* data, std::size_t length, uint32_t initval)
{
    uint32_t a = kGoldenRatio;
    uint32_t b = kGoldenRatio;
    uint32_t c = initval;

    std::size_t left = length;
    for (; left >= 12; left -= 12, data += 12) {
        a += LittleEndianWord(data);
        b += LittleEndianWord(data + 4);
        c += LittleEndianWord(data + 8);
        Mix(a, b, c);
    }

    // Only the low 32 bits of the length take part, as in the original 32-bit code.
    c += static_cast<uint32_t>(length);
    // The lowest byte of c holds the length, so the tail's bytes 8..10 go in one byte higher.
    for (std::size_t i = 0; i < left; ++i) {
        const uint32_t byte = data[i];
        if (i < 4)
            a += byte << (8 * i);
        else if (i < 8)
            b += byte << (8 * (i - 4));
        else
            c += byte << (8 * (i - 7));
    }
    Mix(a, b, c);
    return c;
}

std::string PageRankChecksum(const std::string& url)
{
    const std::string input = "info:" + url;
    const uint32_t hash = Lookup2Hash(reinterpret_cast<const uint8_t*>(input.data()), input.size(), kChecksumSeed);
    // Appended rather than "6" + to_string(): GCC 12 at -O2 reports a false -Wrestrict on the latter.
    std::string checksum = "6";
    checksum += std::to_string(hash);
    return checksum;
}

int ParsePageRankAnswer(std::string_view answer)
{
    if (answer.size() < kAnswerScanLength)
        return -1;
    // The pattern is read from the first 10 characters, except that a rank whose digits run past
    // them is read whole: cutting "Rank_1:1:10" to "Rank_1:1:1" would store a wrong rank of 1.
    std::string_view text = answer.substr(0, kAnswerScanLength);
    const std::size_t lineEnd = answer.find('\n');
    const std::string_view firstLine = answer.substr(0, lineEnd);
    if (firstLine.size() > text.size() && text.back() >= '0' && text.back() <= '9') {
        std::size_t end = text.size();
        while (end < firstLine.size() && firstLine[end] >= '0' && firstLine[end] <= '9')
            ++end;
        text = firstLine.substr(0, end);
    }

    constexpr std::string_view prefix = "Rank_1:";
    if (!text.starts_with(prefix))
        return -1;
    std::size_t pos = prefix.size();
    long first = 0;
    if (!ScanInt(text, pos, first))
        return -1;
    if (pos >= text.size() || text[pos] != ':')
        return -1;
    ++pos;
    long rank = 0;
    if (!ScanInt(text, pos, rank))
        return -1;
    if (rank < 0 || rank > 10)
        return -1;
    return static_cast<int>(rank);
}

int QueryPageRank(const std::string& url)
{
    try {
        const std::string host = GetCheckSettings().pageRankHost;
        if (host.empty())
            return -1;
        CUrlParts parts;
        if (!SplitUrl(url, parts))
            return -1;

        // The URL goes into the query as it is: the service hashes exactly what it receives.
        const std::string query = "http://" + host + "/tbr?client=navclient-auto&ch=" + PageRankChecksum(url) +
                                  "&features=Rank&q=info:" + url;
        std::string answer;
        uint32_t status = 0;
        // The status is not judged: a service that answers with the pattern under any code is heard.
        if (!FetchPageText(query, answer, status, nullptr, kAnswerReadLength))
            return -1;
        return ParsePageRankAnswer(answer);
    } catch (...) {
        return -1;
    }
}

bool CheckPageRank(CLink* link, bool& changed)
{
    changed = false;
    if (!link)
        return false;

    const int32_t previous = link->GetCurrentPR();
    link->SetPreviousPR(previous);
    int rank = -1;
    try {
        rank = QueryPageRank(NormalizeUrl(link->GetFromPage()));
    } catch (...) {
        rank = -1;
    }
    // A failed lookup (-1) is refused by the record, so it keeps the rank it had.
    link->SetCurrentPR(rank);
    // A first rank for a record that never had one is news to nobody, hence the -1 test.
    changed = previous != -1 && previous != link->GetCurrentPR();
    return true;
}
