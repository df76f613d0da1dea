#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

/// NTLMv2 pieces for the mail client's AUTH NTLM. Byte strings are std::string.
namespace ntlm {

/// A challenge message that is not one, or whose fields point outside it.
class CNtlmFormatError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// MD4 (RFC 1320). Written here because OpenSSL 3 keeps MD4 in its legacy provider, which a
/// system need not load.
std::array<uint8_t, 16> Md4(std::string_view data);

/// HMAC-MD5 (RFC 2104) through OpenSSL; 16 bytes.
std::string HmacMd5(std::string_view key, std::string_view data);

/// UTF-8 text as UTF-16LE bytes.
std::string ToUtf16Le(std::string_view utf8);

/// NTOWFv2 = HMAC-MD5(MD4(UTF-16LE(password)), UTF-16LE(uppercase(user) + domain)).
std::string NtowfV2(std::string_view password, std::string_view user, std::string_view domain);

/// Splits "DOMAIN\\user" at the first backslash; without one the domain is empty.
void SplitUserName(std::string_view userName, std::string& domain, std::string& user);

/// The negotiate (type 1) message.
std::string BuildNegotiateMessage();

/// What the client needs from the server's challenge (type 2) message.
struct ChallengeMessage
{
    uint32_t flags = 0;
    std::string serverChallenge; // 8 bytes
    std::string targetInfo;      // AV pairs as sent, possibly empty
};

/// Throws CNtlmFormatError on a malformed message.
ChallengeMessage ParseChallengeMessage(std::string_view bytes);

/// The MsvAvTimestamp value of the target info, or 0 when there is none.
uint64_t FindTimestamp(std::string_view targetInfo);

/// Now as a Windows FILETIME (100 ns units since 1601).
uint64_t CurrentFileTime();

/// The two responses of NTLMv2.
struct Responses
{
    std::string ntResponse; // NTProofStr + the blob
    std::string lmResponse; // LMv2: HMAC + client challenge, 24 bytes
};

Responses ComputeResponses(const std::string& ntowfV2, std::string_view serverChallenge,
                           std::string_view clientChallenge, uint64_t timestamp, std::string_view targetInfo);

/// The authenticate (type 3) message. `clientChallenge` is 8 bytes; `timestamp` 0 means the
/// target info's timestamp, or now when it has none.
std::string BuildAuthenticateMessage(const ChallengeMessage& challenge, std::string_view domain, std::string_view user,
                                     std::string_view password, std::string_view workstation,
                                     std::string_view clientChallenge, uint64_t timestamp = 0);

} // namespace ntlm
