#pragma once
// A loopback server written for the socket tests: it accepts one connection and hands it, plain
// or over TLS, to a handler on a thread of its own. Left without a handler it never accepts, and
// tells whether anybody knocked.

#include "fakes/FakeServers.h"

#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace mail_test {

/// Reads or writes through the server side of a connection (plain or TLS); each returns the
/// count moved, 0 or less on the end or an error.
struct Channel
{
    std::function<int(char*, int)> read;
    std::function<int(const char*, int)> write;

    std::string ReadExactly(std::size_t size) const
    {
        std::string out;
        char buffer[65536];
        while (out.size() < size) {
            const int got = read(buffer, static_cast<int>(std::min(sizeof buffer, size - out.size())));
            if (got <= 0)
                break;
            out.append(buffer, static_cast<std::size_t>(got));
        }
        return out;
    }
    bool WriteAll(const std::string& data) const
    {
        for (std::size_t done = 0; done < data.size();) {
            const int sent =
                write(data.data() + done, static_cast<int>(std::min<std::size_t>(data.size() - done, 65536)));
            if (sent <= 0)
                return false;
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }
};

/// Accepts one connection on a loopback address and runs the handler on its own thread. Reads
/// and writes time out after 10 s, so a client that misbehaves fails the test instead of hanging it.
class LoopbackServer
{
public:
    explicit LoopbackServer(int family = AF_INET, int backlog = 4)
    {
        m_listener = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage storage = {};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            length = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&storage);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *a;
        }
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
            ::listen(m_listener, backlog) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
            throw std::runtime_error("cannot listen on the loopback address");
        m_port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    }
    ~LoopbackServer()
    {
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return m_port; }

    void Serve(std::function<void(int)> handler)
    {
        m_thread = std::thread([this, handler = std::move(handler)] {
            pollfd p = {m_listener, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1)
                return;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            timeval limit = {10, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            handler(fd);
            ::close(fd);
        });
    }

    /// Serves plain bytes.
    void ServePlain(std::function<void(const Channel&)> handler)
    {
        Serve([handler = std::move(handler)](int fd) {
            Channel channel{[fd](char* b, int n) { return static_cast<int>(::recv(fd, b, static_cast<size_t>(n), 0)); },
                            [fd](const char* b, int n) {
                                return static_cast<int>(::send(fd, b, static_cast<size_t>(n), MSG_NOSIGNAL));
                            }};
            handler(channel);
        });
    }

    /// Notes the handshake outcome and the name the client asked for (SNI), then serves TLS.
    void ServeTls(const fakes::TestCertificate& cert, std::function<void(SSL*, const Channel&)> handler)
    {
        Serve([this, cert, handler = std::move(handler)](int fd) {
            std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free);
            if (!ctx || SSL_CTX_use_certificate_chain_file(ctx.get(), cert.certFile.c_str()) != 1 ||
                SSL_CTX_use_PrivateKey_file(ctx.get(), cert.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
                return;
            std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), &SSL_free);
            SSL_set_fd(ssl.get(), fd);
            if (SSL_accept(ssl.get()) != 1) {
                ERR_clear_error();
                return;
            }
            m_handshakeDone = true;
            if (const char* name = SSL_get_servername(ssl.get(), TLSEXT_NAMETYPE_host_name))
                m_serverName = name;
            SSL* s = ssl.get();
            Channel channel{[s](char* b, int n) { return SSL_read(s, b, n); },
                            [s](const char* b, int n) { return SSL_write(s, b, n); }};
            handler(s, channel);
            ERR_clear_error();
        });
    }

    /// TLS with a certificate, plain bytes without one.
    void ServeChannel(const fakes::TestCertificate* cert, std::function<void(const Channel&)> handler)
    {
        if (cert)
            ServeTls(*cert, [handler = std::move(handler)](SSL*, const Channel& ch) { handler(ch); });
        else
            ServePlain(std::move(handler));
    }

    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    /// True when a connection waits to be accepted, for a server that serves none.
    bool Knocked() const
    {
        pollfd p = {m_listener, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }
    bool HandshakeDone() const { return m_handshakeDone; }
    std::optional<std::string> ServerName() const { return m_serverName; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_handshakeDone{false};
    std::optional<std::string> m_serverName;
};

} // namespace mail_test
