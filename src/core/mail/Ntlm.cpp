#include "Ntlm.h"

#include "SMTPConnection.h"
#include "core/platform/TextEncoding.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <chrono>
#include <cstring>

namespace ntlm {

namespace {

constexpr uint32_t kNegotiateUnicode = 0x00000001;
constexpr uint32_t kNegotiateOem = 0x00000002;
constexpr uint32_t kRequestTarget = 0x00000004;
constexpr uint32_t kNegotiateNtlm = 0x00000200;
constexpr uint32_t kAlwaysSign = 0x00008000;
constexpr uint32_t kExtendedSessionSecurity = 0x00080000;
constexpr uint32_t kTargetInfo = 0x00800000;
constexpr uint32_t kNegotiate128 = 0x20000000;
constexpr uint32_t kNegotiate56 = 0x80000000;

constexpr uint32_t kClientFlags = kNegotiateUnicode | kNegotiateOem | kRequestTarget | kNegotiateNtlm | kAlwaysSign |
                                  kExtendedSessionSecurity | kNegotiate128 | kNegotiate56;

constexpr char kSignature[] = "NTLMSSP"; // with its terminating zero: 8 bytes on the wire

uint32_t Rotl(uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

void Md4Block(uint32_t state[4], const uint8_t* block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    auto f = [](uint32_t x1, uint32_t y, uint32_t z) { return (x1 & y) | (~x1 & z); };
    auto g = [](uint32_t x1, uint32_t y, uint32_t z) { return (x1 & y) | (x1 & z) | (y & z); };
    auto h = [](uint32_t x1, uint32_t y, uint32_t z) { return x1 ^ y ^ z; };

    static const int kRound1[4] = {3, 7, 11, 19};
    for (int i = 0; i < 16; ++i) {
        const uint32_t t = Rotl(a + f(b, c, d) + x[i], kRound1[i % 4]);
        a = d;
        d = c;
        c = b;
        b = t;
    }
    static const int kRound2[4] = {3, 5, 9, 13};
    for (int i = 0; i < 16; ++i) {
        const int k = (i % 4) * 4 + i / 4;
        const uint32_t t = Rotl(a + g(b, c, d) + x[k] + 0x5A827999u, kRound2[i % 4]);
        a = d;
        d = c;
        c = b;
        b = t;
    }
    static const int kRound3[4] = {3, 9, 11, 15};
    static const int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; ++i) {
        const uint32_t t = Rotl(a + h(b, c, d) + x[kOrder3[i]] + 0x6ED9EBA1u, kRound3[i % 4]);
        a = d;
        d = c;
        c = b;
        b = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void PutU16(std::string& out, std::size_t at, uint16_t value)
{
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>(value >> 8);
}

void PutU32(std::string& out, std::size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendU64(std::string& out, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint16_t GetU16(std::string_view in, std::size_t at)
{
    return static_cast<uint16_t>(uint8_t(in[at]) | uint8_t(in[at + 1]) << 8);
}

uint32_t GetU32(std::string_view in, std::size_t at)
{
    return uint32_t(uint8_t(in[at])) | uint32_t(uint8_t(in[at + 1])) << 8 | uint32_t(uint8_t(in[at + 2])) << 16 |
           uint32_t(uint8_t(in[at + 3])) << 24;
}

// Windows upper-cases the user name with its own Unicode tables; the ranges below cover the
// scripts the program's legacy code pages can carry.
char16_t ToUpper(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

std::string Utf16LeBytes(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (const char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

} // namespace

std::array<uint8_t, 16> Md4(std::string_view data)
{
    uint32_t state[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
    std::size_t done = 0;
    while (data.size() - done >= 64) {
        Md4Block(state, reinterpret_cast<const uint8_t*>(data.data() + done));
        done += 64;
    }
    uint8_t tail[128] = {};
    const std::size_t rest = data.size() - done;
    std::memcpy(tail, data.data() + done, rest);
    tail[rest] = 0x80;
    const std::size_t tailSize = rest < 56 ? 64 : 128;
    const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
    for (int i = 0; i < 8; ++i)
        tail[tailSize - 8 + i] = static_cast<uint8_t>(bits >> (8 * i));
    for (std::size_t at = 0; at < tailSize; at += 64)
        Md4Block(state, tail + at);

    std::array<uint8_t, 16> digest{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[i * 4 + j] = static_cast<uint8_t>(state[i] >> (8 * j));
    return digest;
}

std::string HmacMd5(std::string_view key, std::string_view data)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int outSize = 0;
    if (!HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
              data.size(), out, &outSize))
        throw std::runtime_error("HMAC-MD5 is not available");
    return std::string(reinterpret_cast<const char*>(out), outSize);
}

std::string ToUtf16Le(std::string_view utf8)
{
    return Utf16LeBytes(TextEncoding::Utf8ToUtf16(utf8));
}

std::string NtowfV2(std::string_view password, std::string_view user, std::string_view domain)
{
    const auto ntHash = Md4(ToUtf16Le(password));
    std::u16string identity = TextEncoding::Utf8ToUtf16(user);
    for (auto& c : identity)
        c = ToUpper(c);
    identity += TextEncoding::Utf8ToUtf16(domain);
    return HmacMd5(std::string_view(reinterpret_cast<const char*>(ntHash.data()), ntHash.size()),
                   Utf16LeBytes(identity));
}

void SplitUserName(std::string_view userName, std::string& domain, std::string& user)
{
    const std::size_t slash = userName.find('\\');
    if (slash == std::string_view::npos) {
        domain.clear();
        user = std::string(userName);
    } else {
        domain = std::string(userName.substr(0, slash));
        user = std::string(userName.substr(slash + 1));
    }
}

std::string BuildNegotiateMessage()
{
    // Signature, type, flags, then empty domain and workstation fields pointing at the end.
    std::string out(32, '\0');
    std::memcpy(out.data(), kSignature, 8);
    PutU32(out, 8, 1);
    PutU32(out, 12, kClientFlags);
    PutU32(out, 20, 32);
    PutU32(out, 28, 32);
    return out;
}

ChallengeMessage ParseChallengeMessage(std::string_view bytes)
{
    if (bytes.size() < 32 || std::memcmp(bytes.data(), kSignature, 8) != 0 || GetU32(bytes, 8) != 2)
        throw CNtlmFormatError("not an NTLM challenge message");
    ChallengeMessage message;
    message.flags = GetU32(bytes, 20);
    message.serverChallenge = std::string(bytes.substr(24, 8));
    // Old servers end the message before the target info fields.
    if (bytes.size() >= 48 && (message.flags & kTargetInfo)) {
        const uint16_t length = GetU16(bytes, 40);
        const uint32_t offset = GetU32(bytes, 44);
        if (offset > bytes.size() || length > bytes.size() - offset)
            throw CNtlmFormatError("NTLM target info lies outside the message");
        message.targetInfo = std::string(bytes.substr(offset, length));
    }
    return message;
}

uint64_t FindTimestamp(std::string_view targetInfo)
{
    std::size_t at = 0;
    while (at + 4 <= targetInfo.size()) {
        const uint16_t id = GetU16(targetInfo, at);
        const uint16_t length = GetU16(targetInfo, at + 2);
        at += 4;
        if (id == 0 || length > targetInfo.size() - at)
            break;
        if (id == 7 && length == 8) {
            uint64_t value = 0;
            for (int i = 7; i >= 0; --i)
                value = (value << 8) | uint8_t(targetInfo[at + i]);
            return value;
        }
        at += length;
    }
    return 0;
}

uint64_t CurrentFileTime()
{
    constexpr uint64_t kEpochDifference = 11644473600ull; // seconds from 1601 to 1970
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto units = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return kEpochDifference * 10000000ull + static_cast<uint64_t>(units);
}

Responses ComputeResponses(const std::string& ntowfV2, std::string_view serverChallenge,
                           std::string_view clientChallenge, uint64_t timestamp, std::string_view targetInfo)
{
    std::string blob = std::string("\x01\x01\0\0\0\0\0\0", 8);
    AppendU64(blob, timestamp);
    blob += clientChallenge;
    blob += std::string(4, '\0');
    blob += targetInfo;
    blob += std::string(4, '\0');

    const std::string proof = HmacMd5(ntowfV2, std::string(serverChallenge) + blob);
    Responses out;
    out.ntResponse = proof + blob;
    out.lmResponse =
        HmacMd5(ntowfV2, std::string(serverChallenge) + std::string(clientChallenge)) + std::string(clientChallenge);
    return out;
}

std::string BuildAuthenticateMessage(const ChallengeMessage& challenge, std::string_view domain, std::string_view user,
                                     std::string_view password, std::string_view workstation,
                                     std::string_view clientChallenge, uint64_t timestamp)
{
    if (timestamp == 0)
        timestamp = FindTimestamp(challenge.targetInfo);
    if (timestamp == 0)
        timestamp = CurrentFileTime();
    const Responses responses = ComputeResponses(NtowfV2(password, user, domain), challenge.serverChallenge,
                                                 clientChallenge, timestamp, challenge.targetInfo);

    const std::string fields[] = {responses.lmResponse, responses.ntResponse,   ToUtf16Le(domain),
                                  ToUtf16Le(user),      ToUtf16Le(workstation), std::string()};
    std::string out(64, '\0');
    std::memcpy(out.data(), kSignature, 8);
    PutU32(out, 8, 3);
    std::size_t offset = out.size();
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        const std::size_t at = 12 + i * 8;
        PutU16(out, at, static_cast<uint16_t>(fields[i].size()));
        PutU16(out, at + 2, static_cast<uint16_t>(fields[i].size()));
        PutU32(out, at + 4, static_cast<uint32_t>(offset));
        offset += fields[i].size();
    }
    // Only what both sides support, and always Unicode: the names above are UTF-16.
    const uint32_t flags = (kClientFlags & challenge.flags & ~kNegotiateOem) | kNegotiateUnicode;
    PutU32(out, 60, flags);
    for (const auto& field : fields)
        out += field;
    return out;
}

} // namespace ntlm

void CNTLMClientAuth::NtlmAuthenticate(const std::string& userName, const std::string& password)
{
    std::string domain;
    std::string user;
    ntlm::SplitUserName(userName, domain, user);

    SendNtlmFirstToken(MailEncoding::Base64Encode(ntlm::BuildNegotiateMessage()));
    const ntlm::ChallengeMessage challenge = ntlm::ParseChallengeMessage(ReadNtlmChallenge());

    unsigned char clientChallenge[8];
    if (RAND_bytes(clientChallenge, sizeof clientChallenge) != 1)
        throw std::runtime_error("no random bytes for the NTLM client challenge");
    const std::string token = ntlm::BuildAuthenticateMessage(
        challenge, domain, user, password, std::string_view(),
        std::string_view(reinterpret_cast<const char*>(clientChallenge), sizeof clientChallenge));
    SendNtlmResponse(MailEncoding::Base64Encode(token));
}
