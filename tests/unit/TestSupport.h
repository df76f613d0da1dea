#pragma once

#include "core/fetch/CheckSettings.h"
#include "fakes/FakeServers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace testsupport {

/// A fresh directory under $TMPDIR, removed with everything in it.
class TempDir : public fakes::TempDirectory
{
public:
    TempDir() : fakes::TempDirectory("orvex-test") {}
};

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, std::string_view bytes)
{
    // A fresh file rather than a truncated one: some filesystems flush a truncated file on close,
    // which makes loops over thousands of small files crawl.
    std::error_code ec;
    std::filesystem::remove(path, ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string DataFile(std::string_view name)
{
    return std::string(ORVEX_TEST_DATA) + "/" + std::string(name);
}

inline unsigned FileMode(const std::string& path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return 0xFFFF;
    return st.st_mode & 07777;
}

/// A host name that never resolves and never leaves the machine: a label longer than 63 characters
/// is refused by the resolver before any query is built.
inline std::string UnresolvableHost()
{
    return std::string(70, 'x') + ".invalid";
}

/// Sets (or, with null, removes) an environment variable for one scope and puts the old value back.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

/// Nothing in the environment may route the tests through some other proxy.
struct NoProxyEnvironment
{
    ScopedEnv a{"http_proxy", nullptr};
    ScopedEnv b{"https_proxy", nullptr};
    ScopedEnv c{"all_proxy", nullptr};
    ScopedEnv d{"HTTP_PROXY", nullptr};
    ScopedEnv e{"HTTPS_PROXY", nullptr};
    ScopedEnv f{"ALL_PROXY", nullptr};
    ScopedEnv g{"no_proxy", nullptr};
    ScopedEnv h{"NO_PROXY", nullptr};
};

/// Sets TZ for one scope; the C library reads it again on entry and once the old value is back.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* zone) : m_env("TZ", zone) { ::tzset(); }

private:
    struct Retzset
    {
        ~Retzset() { ::tzset(); }
    };
    Retzset m_retzset; // declared first, so it runs after m_env has restored TZ
    ScopedEnv m_env;
};

/// Changes the check settings the fetches read, in place.
inline void UpdateCheckSettings(const std::function<void(CheckSettings&)>& change)
{
    CheckSettings settings = GetCheckSettings();
    change(settings);
    SetCheckSettings(settings);
}

/// Puts the check settings back as they were when it was made.
class ScopedCheckSettings
{
public:
    ScopedCheckSettings() : m_saved(GetCheckSettings()) {}
    ~ScopedCheckSettings() { SetCheckSettings(m_saved); }
    ScopedCheckSettings(const ScopedCheckSettings&) = delete;
    ScopedCheckSettings& operator=(const ScopedCheckSettings&) = delete;

private:
    CheckSettings m_saved;
};

/// The fake HTTP(S) server over a root folder of its own, with no proxy from the environment:
/// ROOT/<host>/<path> is what it serves for that host, ROOT/default/ for any other.
class FakeSite : public fakes::FakeHttpServer
{
public:
    explicit FakeSite(const char* prefix = "orvex-site") : m_dir(prefix) {}
    ~FakeSite() { Stop(); }

    /// Writes ROOT/rel, making its folders.
    void Put(const std::string& rel, std::string_view bytes) const
    {
        const std::string path = Root() + "/" + rel;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteBytes(path, bytes);
    }
    std::string Root() const { return m_dir.File("root"); }
    const fakes::TempDirectory& Dir() const { return m_dir; }
    void Start(const Options& options = {})
    {
        std::filesystem::create_directories(Root() + "/default");
        fakes::FakeHttpServer::Start(Root(), options);
    }

private:
    NoProxyEnvironment m_env;
    fakes::TempDirectory m_dir;
};

namespace detail {
struct MadeCertificate
{
    fakes::TempDirectory dir{"orvex-cert"};
    fakes::TestCertificate cert = fakes::MakeTestCertificate(dir.Path());
};
} // namespace detail

/// A self-signed certificate for localhost, *.localhost and 127.0.0.1 (see MakeTestCertificate),
/// made once per test program.
inline const fakes::TestCertificate& SharedCertificate()
{
    static const detail::MadeCertificate made;
    return made.cert;
}

/// Another such certificate, of a stranger nobody trusts.
inline const fakes::TestCertificate& StrangerCertificate()
{
    static const detail::MadeCertificate made;
    return made.cert;
}

/// How often `what` occurs in `text`, counting only occurrences that do not overlap.
inline std::size_t Occurrences(std::string_view text, std::string_view what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

/// `piece` `times` times over.
inline std::string Repeat(std::string_view piece, std::size_t times)
{
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

/// Little-endian archive bytes built by hand, so tests state layouts without going through the
/// writer under test.
class Bytes
{
public:
    Bytes& Raw(std::string_view s)
    {
        m_data += s;
        return *this;
    }
    Bytes& U8(uint8_t v)
    {
        m_data += static_cast<char>(v);
        return *this;
    }
    Bytes& U16(uint16_t v) { return Le(v, 2); }
    Bytes& I32(int32_t v) { return Le(static_cast<uint32_t>(v), 4); }
    Bytes& U32(uint32_t v) { return Le(v, 4); }
    Bytes& U64(uint64_t v) { return Le(v, 8); }
    Bytes& F64(double v)
    {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        return Le(bits, 8);
    }
    /// Short text (below 255 characters) with its one-byte prefix.
    Bytes& Text(std::string_view s)
    {
        U8(static_cast<uint8_t>(s.size()));
        return Raw(s);
    }
    Bytes& ClassRecord(std::string_view name, uint16_t schema = 1)
    {
        U16(0xFFFF).U16(schema).U16(static_cast<uint16_t>(name.size()));
        return Raw(name);
    }
    Bytes& Date(int32_t status, double value) { return I32(status).F64(value); }
    /// The CPartner body with every text empty but the name.
    Bytes& PartnerBody(int32_t id, std::string_view name)
    {
        I32(id).Text(name);
        for (int i = 0; i < 10; ++i)
            U8(0);
        return *this;
    }
    /// The CLink body with every text empty but the project.
    Bytes& LinkBody(int32_t partnerId, std::string_view project)
    {
        I32(partnerId).Text(project);
        Date(0, 41000.0).Date(0, 41365.0).Date(0, 365.0);
        I32(0).I32(0).I32(0);
        U8(0).U8(0).U8(0);
        I32(0).I32(-1).I32(0).I32(-1).I32(0);
        U8(0);
        return I32(0);
    }

    const std::string& Str() const { return m_data; }
    std::size_t Size() const { return m_data.size(); }

private:
    Bytes& Le(uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            m_data += static_cast<char>((v >> (8 * i)) & 0xFF);
        return *this;
    }

    std::string m_data;
};

/// Bytes of `s` as hex pairs, for readable failure messages.
inline std::string Hex(std::string_view s)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

} // namespace testsupport
