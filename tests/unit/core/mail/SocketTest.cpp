#include "core/mail/Socket.h"

#include "Loopback.h"
#include "fakes/FakeServers.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kLarge = 1024 * 1024;

/// Bytes that differ from one position to the next, so a dropped or repeated chunk shows.
std::string Pattern(std::size_t size, unsigned seed)
{
    std::string out(size, '\0');
    unsigned v = seed;
    for (auto& c : out) {
        v = v * 1103515245u + 12345u;
        c = static_cast<char>(v >> 16);
    }
    return out;
}

std::string ReceiveExactly(CWSocket& socket, std::size_t size)
{
    std::string out;
    char buffer[65536];
    while (out.size() < size) {
        const int got = socket.ReceiveBytes(buffer, std::min(sizeof buffer, size - out.size()));
        if (got <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

using mail_test::Channel;
using mail_test::LoopbackServer;

/// The error number of what `action` raised, or nullopt when it raised nothing.
template <typename F> std::optional<CWSocketException> Raised(F action)
{
    try {
        action();
    } catch (const CWSocketException& e) {
        return e;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------

TEST(SocketTest, ConnectsByAddressOrNameAndSeesThePeerClose)
{
    struct Case
    {
        int family;
        std::string host;
    };
    const std::vector<Case> cases = {
        {AF_INET, "127.0.0.1"}, {AF_INET, "localhost"}, {AF_INET6, "::1"}, {AF_INET6, "[::1]"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        LoopbackServer server(c.family);
        std::string request;
        server.ServePlain([&](const Channel& ch) {
            request = ch.ReadExactly(4);
            ch.WriteAll("pong");
        });
        CWSocket socket;
        socket.CreateSocket();
        ASSERT_NO_THROW(socket.ConnectTo(c.host, server.Port()));
        EXPECT_TRUE(socket.IsOpen());
        EXPECT_FALSE(socket.IsTls());
        socket.SendAll("ping");
        EXPECT_EQ(ReceiveExactly(socket, 4), "pong");
        char byte = 0;
        EXPECT_EQ(socket.ReceiveBytes(&byte, 1), 0) << "the server closed its end";
        server.Join();
        EXPECT_EQ(request, "ping");
    }
}

TEST(SocketTest, ConnectFailuresCarryTheirErrorNumbers)
{
    CWSocket socket;
    const auto unresolved = Raised([&] { socket.ConnectTo(testsupport::UnresolvableHost(), 25); });
    ASSERT_TRUE(unresolved);
    EXPECT_EQ(unresolved->GetErrorNumber(), EHOSTUNREACH);
    EXPECT_NE(unresolved->GetErrorText().find("could not be resolved"), std::string::npos)
        << unresolved->GetErrorText();
    EXPECT_FALSE(socket.IsOpen());

    // Nothing listens on a port that was just released; both connect paths must report it.
    const int port = fakes::FreePort();
    for (const int timeoutMs : {0, 5000}) {
        SCOPED_TRACE(timeoutMs);
        const auto refused = Raised([&] { socket.ConnectTo("127.0.0.1", port, timeoutMs); });
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->GetErrorNumber(), ECONNREFUSED) << refused->GetErrorText();
        EXPECT_FALSE(socket.IsOpen());
    }

    const auto badPort = Raised([&] { socket.ConnectTo("127.0.0.1", 70000); });
    ASSERT_TRUE(badPort);
    EXPECT_EQ(badPort->GetErrorNumber(), EINVAL);
}

/// A listener that never accepts and whose queue is full drops further handshakes, so a connect
/// to it hangs until something ends it.
class FullListener
{
public:
    FullListener()
    {
        for (int i = 0; i < 8; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in a = {};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(m_server.Port()));
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            m_fillers.push_back(fd);
        }
        std::this_thread::sleep_for(200ms);
    }
    ~FullListener()
    {
        for (const int fd : m_fillers)
            ::close(fd);
    }
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;

    int Port() const { return m_server.Port(); }

private:
    LoopbackServer m_server{AF_INET, 0};
    std::vector<int> m_fillers;
};

TEST(SocketTest, ConnectTimeOutEndsAConnectThatWouldHang)
{
    FullListener listener;
    CWSocket socket;
    const auto raised = Raised([&] { socket.ConnectTo("127.0.0.1", listener.Port(), 300); });
    ASSERT_TRUE(raised) << "connected to a listener with a full queue";
    EXPECT_EQ(raised->GetErrorNumber(), ETIMEDOUT) << raised->GetErrorText();
    EXPECT_FALSE(socket.IsOpen());
}

TEST(SocketTest, TimeOutAndDeadlineBoundReadsAndWrites)
{
    // The peer sends nothing and reads nothing until the client is done.
    LoopbackServer server;
    std::atomic<bool> done{false};
    server.ServePlain([&](const Channel&) {
        while (!done)
            std::this_thread::sleep_for(20ms);
    });
    CWSocket socket;
    socket.ConnectTo("127.0.0.1", server.Port());
    socket.SetTimeout(300);
    auto since = [](std::chrono::steady_clock::time_point start) { return std::chrono::steady_clock::now() - start; };

    auto start = std::chrono::steady_clock::now();
    char byte = 0;
    auto raised = Raised([&] { socket.ReceiveBytes(&byte, 1); });
    ASSERT_TRUE(raised) << "a receive with nothing coming returned";
    EXPECT_EQ(raised->GetErrorNumber(), ETIMEDOUT) << raised->GetErrorText();
    EXPECT_GE(since(start), 250ms);
    EXPECT_LT(since(start), 2s);

    // Once the buffers on both sides are full a send has to wait for the reader that never comes.
    start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    raised = Raised([&] {
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 1024; ++i, sent += block.size())
            socket.SendAll(block);
    });
    ASSERT_TRUE(raised) << "a gigabyte went to a peer that reads nothing";
    EXPECT_EQ(raised->GetErrorNumber(), ETIMEDOUT) << raised->GetErrorText();
    EXPECT_LT(since(start), 3s);
    EXPECT_GT(sent, 0u) << "the first megabyte fits the buffers, so the wait came later";

    // The connection's deadline cuts a longer wait short, and raises instead of answering "not
    // readable", so that the caller can tell the two apart.
    socket.SetDeadline(std::chrono::steady_clock::now() + 300ms);
    start = std::chrono::steady_clock::now();
    raised = Raised([&] { socket.WaitReadable(10000); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->GetErrorNumber(), ETIMEDOUT) << raised->GetErrorText();
    EXPECT_GE(since(start), 250ms);
    EXPECT_LT(since(start), 2s);
    done = true;
}

TEST(SocketTest, AbortFlagEndsEveryBlockingWait)
{
    // Raises the flag 200 ms after the start and runs `action`; what it raised and how long after
    // the flag went up.
    auto stopDuring = [](CWSocket& socket, const std::function<void()>& action) {
        std::atomic<int> flag{0};
        socket.SetAbortFlag(&flag);
        std::chrono::steady_clock::time_point raisedAt;
        std::thread stopper([&] {
            std::this_thread::sleep_for(200ms);
            raisedAt = std::chrono::steady_clock::now();
            flag = 1;
        });
        const auto error = Raised(action);
        const auto ended = std::chrono::steady_clock::now();
        stopper.join();
        socket.SetAbortFlag(nullptr);
        return std::make_pair(error, ended - raisedAt);
    };

    {
        SCOPED_TRACE("connect without a time-out of its own");
        FullListener listener;
        CWSocket socket;
        const auto [error, after] = stopDuring(socket, [&] { socket.ConnectTo("127.0.0.1", listener.Port()); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetErrorNumber(), ECANCELED) << error->GetErrorText();
        EXPECT_GE(after.count(), 0) << "it ended before the flag went up";
        EXPECT_LT(after, 500ms);
        EXPECT_FALSE(socket.IsOpen());
    }

    LoopbackServer server;
    std::atomic<bool> done{false};
    std::string received;
    server.ServePlain([&](const Channel& ch) {
        while (!done)
            std::this_thread::sleep_for(20ms);
        // What arrived after the flag was already up when the client sent "late".
        received = ch.ReadExactly(64 * 1024 * 1024);
    });
    CWSocket socket;
    socket.ConnectTo("127.0.0.1", server.Port());
    {
        SCOPED_TRACE("waiting for data");
        const auto [error, after] = stopDuring(socket, [&] { socket.WaitReadable(20000); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetErrorNumber(), ECANCELED) << error->GetErrorText();
        EXPECT_GE(after.count(), 0);
        EXPECT_LT(after, 500ms);
    }
    std::size_t sent = 0;
    {
        SCOPED_TRACE("sending to a peer that reads nothing");
        const auto [error, after] = stopDuring(socket, [&] {
            const std::string block(1 << 20, 'x');
            for (int i = 0; i < 1024; ++i, sent += block.size())
                socket.SendAll(block);
        });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetErrorNumber(), ECANCELED) << error->GetErrorText();
        EXPECT_GE(after.count(), 0);
        EXPECT_LT(after, 500ms);
    }
    {
        SCOPED_TRACE("a send that would not have to wait");
        std::atomic<int> flag{1};
        socket.SetAbortFlag(&flag);
        const auto error = Raised([&] { socket.SendAll("late"); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetErrorNumber(), ECANCELED);
        socket.SetAbortFlag(nullptr);
    }
    socket.CloseSocket();
    done = true;
    server.Join();
    // The blocks sent before the stop, the one under way in part, and nothing after it.
    EXPECT_GE(received.size(), sent);
    EXPECT_LT(received.size(), sent + (1 << 20));
    EXPECT_EQ(received.find("late"), std::string::npos);
}

TEST(SocketTest, WaitReadableWaitsForData)
{
    LoopbackServer server;
    server.ServePlain([](const Channel& ch) {
        if (ch.ReadExactly(1) == "g")
            ch.WriteAll("x");
        ch.ReadExactly(1); // stay connected until the client is done
    });
    CWSocket socket;
    socket.ConnectTo("127.0.0.1", server.Port());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket.WaitReadable(300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms) << "returned before the time passed";

    socket.SendAll("g");
    EXPECT_TRUE(socket.WaitReadable(10000));
    EXPECT_EQ(ReceiveExactly(socket, 1), "x");
    socket.SendAll("e");
}

TEST(SocketTest, CloseIsHarmlessWhenRepeatedAndUseAfterCloseRaises)
{
    CWSocket never;
    EXPECT_EQ(never.CloseSocket(), -1);
    EXPECT_FALSE(never.IsOpen());

    LoopbackServer server;
    server.ServePlain([](const Channel& ch) { ch.ReadExactly(1); });
    CWSocket socket;
    socket.ConnectTo("127.0.0.1", server.Port());
    EXPECT_EQ(socket.CloseSocket(), 0);
    EXPECT_EQ(socket.CloseSocket(), -1);
    EXPECT_FALSE(socket.IsOpen());

    const auto send = Raised([&] { socket.SendAll("x"); });
    ASSERT_TRUE(send);
    EXPECT_EQ(send->GetErrorNumber(), ENOTCONN);
    char byte = 0;
    EXPECT_TRUE(Raised([&] { socket.ReceiveBytes(&byte, 1); }));
    EXPECT_TRUE(Raised([&] { socket.WaitReadable(0); }));
}

// ---------------------------------------------------------------------------------------------
// TLS against an in-test OpenSSL server with the shared certificate for localhost and 127.0.0.1,
// trusted through SSL_CERT_FILE unless a test says otherwise

class SocketTlsTest : public ::testing::Test
{
protected:
    const fakes::TestCertificate& m_cert = testsupport::SharedCertificate();
    testsupport::ScopedEnv m_trust{"SSL_CERT_FILE", m_cert.certFile.c_str()};
};

TEST_F(SocketTlsTest, TrustedCertificateCarriesARoundTripAndTheOrderlyClose)
{
    // An IP address is checked against the certificate's address and sent without SNI.
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {{"localhost", "localhost"},
                                                                                   {"127.0.0.1", std::nullopt}};
    for (const auto& [host, expectedSni] : cases) {
        SCOPED_TRACE(host);
        LoopbackServer server;
        std::string request;
        server.ServeTls(m_cert, [&](SSL* ssl, const Channel& ch) {
            request = ch.ReadExactly(4);
            ch.WriteAll("pong");
            SSL_shutdown(ssl);
        });
        CWSocket socket;
        socket.ConnectTo(host, server.Port());
        ASSERT_NO_THROW(socket.StartTls(host));
        EXPECT_TRUE(socket.IsTls());
        socket.SendAll("ping");
        EXPECT_EQ(ReceiveExactly(socket, 4), "pong");
        char byte = 0;
        EXPECT_EQ(socket.ReceiveBytes(&byte, 1), 0) << "close_notify is the end of the stream";
        server.Join();
        EXPECT_EQ(request, "ping");
        EXPECT_EQ(server.ServerName(), expectedSni);
        EXPECT_EQ(socket.CloseSocket(), 0);
        EXPECT_FALSE(socket.IsTls());
    }
}

TEST_F(SocketTlsTest, RejectsUntrustedCertificateAndWrongNames)
{
    struct Case
    {
        bool trusted;
        std::string name;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {false, "localhost", "certificate verify failed"},
        {true, "mail.example.org", "hostname mismatch"},
        {true, "127.0.0.2", "IP address mismatch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedEnv file("SSL_CERT_FILE", c.trusted ? m_cert.certFile.c_str() : nullptr);
        testsupport::ScopedEnv dir("SSL_CERT_DIR", nullptr);
        LoopbackServer server;
        server.ServeTls(m_cert, [](SSL*, const Channel& ch) { ch.ReadExactly(1); });
        CWSocket socket;
        socket.ConnectTo("127.0.0.1", server.Port());
        const auto raised = Raised([&] { socket.StartTls(c.name); });
        ASSERT_TRUE(raised);
        EXPECT_EQ(raised->GetErrorNumber(), EPROTO);
        EXPECT_NE(raised->GetErrorText().find(c.reason), std::string::npos) << raised->GetErrorText();
        // Nothing may go on in plain text after a failed handshake.
        EXPECT_FALSE(socket.IsOpen());
        EXPECT_FALSE(socket.IsTls());
        server.Join();
        EXPECT_FALSE(server.HandshakeDone());
    }
}

TEST_F(SocketTlsTest, StalledHandshakeAndHalfARecordTimeOut)
{
    {
        SCOPED_TRACE("handshake");
        // Takes the ClientHello and answers nothing until the client has gone.
        LoopbackServer server;
        std::string hello;
        server.ServePlain([&](const Channel& ch) {
            hello = ch.ReadExactly(5);
            ch.ReadExactly(1 << 20);
        });
        CWSocket socket;
        socket.ConnectTo("127.0.0.1", server.Port());
        socket.SetTimeout(300);
        const auto start = std::chrono::steady_clock::now();
        const auto raised = Raised([&] { socket.StartTls("localhost"); });
        ASSERT_TRUE(raised) << "the handshake finished without a server";
        EXPECT_EQ(raised->GetErrorNumber(), ETIMEDOUT) << raised->GetErrorText();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_FALSE(socket.IsOpen()) << "nothing may go on in plain text";
        server.Join();
        ASSERT_EQ(hello.size(), 5u);
        EXPECT_EQ(hello[0], '\x16') << "a handshake record was under way";
    }
    {
        SCOPED_TRACE("record");
        // A record header that announces 64 bytes, and three of them, past the TLS layer.
        LoopbackServer server;
        std::atomic<bool> sentHalf{false};
        server.ServeTls(m_cert, [&](SSL* ssl, const Channel& ch) {
            static const char half[] = "\x17\x03\x03\x00\x40"
                                       "abc";
            sentHalf = ::send(SSL_get_fd(ssl), half, sizeof half - 1, MSG_NOSIGNAL) == 8;
            ch.ReadExactly(1);
        });
        CWSocket socket;
        socket.ConnectTo("127.0.0.1", server.Port());
        socket.SetTimeout(300);
        socket.StartTls("localhost");
        ASSERT_TRUE(socket.WaitReadable(5000));
        const auto start = std::chrono::steady_clock::now();
        char buffer[64];
        const auto raised = Raised([&] { socket.ReceiveBytes(buffer, sizeof buffer); });
        ASSERT_TRUE(raised) << "half a record was taken for a whole one";
        EXPECT_EQ(raised->GetErrorNumber(), ETIMEDOUT) << raised->GetErrorText();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        socket.CloseSocket();
        server.Join();
        EXPECT_TRUE(sentHalf);
    }
}

TEST_F(SocketTlsTest, BufferedTlsDataCountsAsReadable)
{
    LoopbackServer server;
    server.ServeTls(m_cert, [](SSL*, const Channel& ch) {
        ch.WriteAll("hello world"); // one record
        ch.ReadExactly(1);
    });
    CWSocket socket;
    socket.ConnectTo("127.0.0.1", server.Port());
    socket.StartTls("localhost");
    EXPECT_EQ(ReceiveExactly(socket, 5), "hello");
    // The rest of the record sits in OpenSSL's buffer; the socket itself has nothing to read.
    EXPECT_TRUE(socket.WaitReadable(0));
    EXPECT_EQ(ReceiveExactly(socket, 6), " world");
    EXPECT_FALSE(socket.WaitReadable(0));
    socket.SendAll("e");
}

TEST_F(SocketTlsTest, MegabyteTransfersBothWaysPlainOrTls)
{
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        const std::string up = Pattern(kLarge, tls ? 3 : 1);
        const std::string down = Pattern(kLarge, tls ? 4 : 2);
        LoopbackServer server;
        std::string received;
        server.ServeChannel(tls ? &m_cert : nullptr, [&](const Channel& ch) {
            received = ch.ReadExactly(kLarge);
            ch.WriteAll(down);
        });
        CWSocket socket;
        socket.ConnectTo(tls ? "localhost" : "127.0.0.1", server.Port());
        if (tls)
            socket.StartTls("localhost");
        socket.SendAll(up);
        EXPECT_TRUE(ReceiveExactly(socket, kLarge) == down) << "the download arrived changed";
        server.Join();
        EXPECT_TRUE(received == up) << "the upload arrived changed (" << received.size() << " bytes)";
    }
}

// The peer goes without a word (no close_notify over TLS). The first sends may still be accepted
// locally; the reset makes a later one fail.
TEST_F(SocketTlsTest, SendingToAVanishedPeerRaisesInsteadOfSigpipe)
{
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        LoopbackServer server;
        server.ServeChannel(tls ? &m_cert : nullptr, [](const Channel& ch) { ch.ReadExactly(1); });
        CWSocket socket;
        socket.ConnectTo("127.0.0.1", server.Port());
        if (tls)
            socket.StartTls("127.0.0.1");
        socket.SendAll("x");
        server.Join();
        const auto raised = Raised([&] {
            for (int i = 0; i < 200; ++i)
                socket.SendAll(std::string(65536, 'x'));
        });
        ASSERT_TRUE(raised) << "sending to a closed peer never failed";
        EXPECT_TRUE(raised->GetErrorNumber() == EPIPE || raised->GetErrorNumber() == ECONNRESET)
            << raised->GetErrorText();
        EXPECT_EQ(socket.CloseSocket(), 0);
    }
}

} // namespace
