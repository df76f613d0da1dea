#include "Socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>
#include <system_error>

namespace {

std::string ErrorText(int error, const std::string& detail)
{
    // Building the text must not disturb errno: the number is read again after it.
    const int saved = errno;
    std::string text = std::generic_category().message(error);
    if (!detail.empty())
        text += ": " + detail;
    errno = saved;
    return text;
}

int ErrorOrErrno(int error)
{
    return error != 0 ? error : errno;
}

[[noreturn]] void Raise(int error, const std::string& detail = {})
{
    throw CWSocketException(error, detail);
}

using Clock = CWSocket::Clock;

// A set abort flag is looked at this often while a wait goes on.
constexpr int kAbortSliceMs = 100;

/// Milliseconds until `until`, rounded up so that a poll for them does not wake early; 0 once it
/// passed, -1 for "never".
int MillisecondsUntil(Clock::time_point until)
{
    if (until == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

/// The end of a step that may take `milliseconds` from now; negative means no end.
Clock::time_point StepEnd(int milliseconds)
{
    if (milliseconds < 0)
        return Clock::time_point::max();
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

bool IsIpLiteral(const std::string& host)
{
    in6_addr buffer = {};
    return ::inet_pton(AF_INET, host.c_str(), &buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), &buffer) == 1;
}

std::string StripBrackets(const std::string& host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the server has gone;
// this one sends with MSG_NOSIGNAL so a dropped TLS connection is an error, not the end of the
// process.
int BioWrite(BIO* bio, const char* data, int size)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t sent;
    do
        sent = ::send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return static_cast<int>(sent);
}

int BioRead(BIO* bio, char* buffer, int size)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t got;
    do
        got = ::recv(fd, buffer, static_cast<std::size_t>(size), 0);
    while (got < 0 && errno == EINTR);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(bio);
    return static_cast<int>(got);
}

long BioCtrl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketBioMethod()
{
    // Made once and kept for the life of the process; OpenSSL reads it from any thread.
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "orvex socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
        }
        return m;
    }();
    return method;
}

/// OpenSSL's reasons for the last failure, with the certificate check's own verdict when the
/// peer's certificate was rejected. Empties the thread's error queue.
std::string TlsReason(SSL* ssl)
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        const char* reason = ERR_reason_error_string(code);
        if (!text.empty())
            text += "; ";
        text += reason ? reason : "TLS error " + std::to_string(ERR_GET_REASON(code));
    }
    if (ssl) {
        const long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK)
            text += std::string(text.empty() ? "" : ": ") + X509_verify_cert_error_string(verify);
    }
    return text.empty() ? "TLS failure" : text;
}

} // namespace

CWSocketException::CWSocketException(int error, const std::string& detail)
    : std::runtime_error(ErrorText(ErrorOrErrno(error), detail)), m_error(ErrorOrErrno(error))
{
}

struct CWSocket::Impl
{
    int fd = -1;
    int type = SOCK_STREAM;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    // After a fatal TLS error OpenSSL must not be asked to send close_notify.
    bool tlsBroken = false;
    int timeoutMs = -1;
    Clock::time_point deadline = Clock::time_point::max();
    const std::atomic<int>* abort = nullptr;

    void FreeTls() noexcept
    {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        ssl = nullptr;
        ctx = nullptr;
        tlsBroken = false;
    }

    void RequireOpen() const
    {
        if (fd < 0)
            Raise(ENOTCONN, "the socket is not connected");
    }

    bool Aborted() const { return abort && abort->load(std::memory_order_relaxed) != 0; }

    void RaiseIfAborted() const
    {
        if (Aborted())
            Raise(ECANCELED, "stopped on request");
    }

    /// Waits for `events` on `socket` until `stepEnd`. Returns the events seen, or 0 once `stepEnd`
    /// passed. The connection's deadline raises ETIMEDOUT and the abort flag ECANCELED. Without a
    /// flag this is one poll; with one, poll runs in short slices (a signal's EINTR among them)
    /// so that the flag is seen soon after it goes up.
    short Wait(int socket, short events, Clock::time_point stepEnd) const
    {
        const bool deadlineFirst = deadline < stepEnd;
        const Clock::time_point until = deadlineFirst ? deadline : stepEnd;
        pollfd p = {};
        p.fd = socket;
        p.events = events;
        for (;;) {
            RaiseIfAborted();
            int slice = MillisecondsUntil(until);
            if (abort && (slice < 0 || slice > kAbortSliceMs))
                slice = kAbortSliceMs;
            const int rc = ::poll(&p, 1, slice);
            if (rc > 0)
                return p.revents;
            if (rc < 0 && errno != EINTR)
                Raise(0, "poll failed");
            if (until != Clock::time_point::max() && Clock::now() >= until) {
                if (deadlineFirst)
                    Raise(ETIMEDOUT, "the time allowed for the connection has passed");
                return 0;
            }
        }
    }

    /// Connects the non-blocking `socket`, waiting at most until `stepEnd`. Returns 0 or the error
    /// number; the deadline and the abort flag raise.
    int Connect(int socket, const sockaddr* address, socklen_t length, Clock::time_point stepEnd) const
    {
        if (::connect(socket, address, length) == 0)
            return 0;
        int error = errno;
        // An interrupted connect goes on in the background, like a non-blocking one.
        if (error != EINPROGRESS && error != EINTR)
            return error;
        if (Wait(socket, POLLOUT, stepEnd) == 0)
            return ETIMEDOUT;
        socklen_t size = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        return error;
    }

    /// Waits for a TLS retry; a wait that ends without the socket being ready ends the TLS layer.
    void WaitForTls(short events, Clock::time_point stepEnd, const char* what)
    {
        try {
            if (Wait(fd, events, stepEnd) == 0)
                Raise(ETIMEDOUT, std::string(what) + ": the server did not answer in time");
        } catch (const CWSocketException&) {
            // A record may be half read or half written: the TLS stream cannot go on.
            tlsBroken = true;
            throw;
        }
    }

    /// Turns a failed SSL_read/SSL_write/SSL_connect into "retry" (true) or an exception. A retry
    /// waits for the socket at most until `stepEnd`. `peerClosed` is set for an orderly end of
    /// the TLS stream.
    bool HandleTlsResult(int result, const char* what, Clock::time_point stepEnd, bool* peerClosed = nullptr)
    {
        const int savedErrno = errno;
        const int code = SSL_get_error(ssl, result);
        switch (code) {
        case SSL_ERROR_WANT_READ:
            ERR_clear_error();
            WaitForTls(POLLIN, stepEnd, what);
            return true;
        case SSL_ERROR_WANT_WRITE:
            ERR_clear_error();
            WaitForTls(POLLOUT, stepEnd, what);
            return true;
        case SSL_ERROR_ZERO_RETURN:
            ERR_clear_error();
            if (peerClosed) {
                *peerClosed = true;
                return false;
            }
            Raise(EPIPE, std::string(what) + ": the server closed the TLS connection");
        case SSL_ERROR_SYSCALL: {
            tlsBroken = true;
            const std::string reason = ERR_peek_error() != 0 ? TlsReason(nullptr) : std::string();
            if (savedErrno == 0 || result == 0) {
                if (peerClosed) {
                    *peerClosed = true;
                    return false;
                }
                Raise(ECONNRESET, std::string(what) + ": the server closed the connection");
            }
            Raise(savedErrno, reason.empty() ? std::string(what) : std::string(what) + ": " + reason);
        }
        default:
            tlsBroken = true;
            Raise(EPROTO, TlsReason(ssl));
        }
    }
};

CWSocket::CWSocket() : m_impl(new Impl)
{
}

CWSocket::~CWSocket()
{
    CloseSocket();
    delete m_impl;
}

void CWSocket::CreateSocket(bool stream)
{
    m_impl->type = stream ? SOCK_STREAM : SOCK_DGRAM;
}

void CWSocket::SetTimeout(int milliseconds)
{
    m_impl->timeoutMs = milliseconds;
}

void CWSocket::SetDeadline(Clock::time_point deadline)
{
    m_impl->deadline = deadline;
}

void CWSocket::SetAbortFlag(const std::atomic<int>* flag)
{
    m_impl->abort = flag;
}

void CWSocket::ConnectTo(const std::string& host, int port, int timeoutMs)
{
    if (port <= 0 || port > 65535)
        Raise(EINVAL, "port " + std::to_string(port) + " is out of range");
    if (m_impl->fd >= 0)
        CloseSocket();
    m_impl->RaiseIfAborted();

    const std::string name = StripBrackets(host);
    const std::string service = std::to_string(port);
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = m_impl->type;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
    if (rc == EAI_NONAME) {
        hints.ai_flags = AI_NUMERICSERV;
        rc = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
    }
    if (rc != 0) {
        const int error = rc == EAI_SYSTEM ? errno : rc == EAI_MEMORY ? ENOMEM : EHOSTUNREACH;
        Raise(error, "host \"" + host + "\" could not be resolved (" + ::gai_strerror(rc) + ")");
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);

    // Without a time-out of its own the kernel's connect time-out ends a connect that is never
    // answered.
    const Clock::time_point stepEnd = StepEnd(timeoutMs > 0 ? timeoutMs : -1);
    // A name may resolve to addresses of which only some answer (::1 and 127.0.0.1 for
    // "localhost" with the server on one of them); the first that connects wins.
    int lastError = EHOSTUNREACH;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        // Non-blocking for good: every later wait goes through poll, where time-outs and the abort
        // flag can end it.
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int error = 0;
        try {
            error = m_impl->Connect(fd, a->ai_addr, a->ai_addrlen, stepEnd);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (error == 0) {
            m_impl->fd = fd;
            return;
        }
        ::close(fd);
        lastError = error;
    }
    Raise(lastError, "cannot connect to " + host + " port " + service);
}

int CWSocket::SendBytes(const void* data, std::size_t size)
{
    m_impl->RequireOpen();
    m_impl->RaiseIfAborted();
    if (size == 0)
        return 0;
    const int count = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    const Clock::time_point stepEnd = StepEnd(m_impl->timeoutMs);
    if (m_impl->ssl) {
        for (;;) {
            ERR_clear_error();
            errno = 0;
            const int sent = SSL_write(m_impl->ssl, data, count);
            if (sent > 0)
                return sent;
            m_impl->HandleTlsResult(sent, "sending", stepEnd);
        }
    }
    for (;;) {
        const ssize_t sent = ::send(m_impl->fd, data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<int>(sent);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (m_impl->Wait(m_impl->fd, POLLOUT, stepEnd) == 0)
                Raise(ETIMEDOUT, "sending: the server took no data in time");
        } else if (errno != EINTR) {
            Raise(0, "send failed");
        }
    }
}

void CWSocket::SendAll(const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const int sent = SendBytes(data.data() + done, data.size() - done);
        if (sent <= 0)
            Raise(EPIPE, "the connection accepted no more data");
        done += static_cast<std::size_t>(sent);
    }
}

int CWSocket::ReceiveBytes(void* buffer, std::size_t size)
{
    m_impl->RequireOpen();
    if (size == 0)
        return 0;
    const int count = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    const Clock::time_point stepEnd = StepEnd(m_impl->timeoutMs);
    if (m_impl->ssl) {
        for (;;) {
            ERR_clear_error();
            errno = 0;
            const int got = SSL_read(m_impl->ssl, buffer, count);
            if (got > 0)
                return got;
            bool peerClosed = false;
            if (!m_impl->HandleTlsResult(got, "receiving", stepEnd, &peerClosed) && peerClosed)
                return 0;
        }
    }
    for (;;) {
        const ssize_t got = ::recv(m_impl->fd, buffer, static_cast<std::size_t>(count), 0);
        if (got >= 0)
            return static_cast<int>(got);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (m_impl->Wait(m_impl->fd, POLLIN, stepEnd) == 0)
                Raise(ETIMEDOUT, "receiving: the server sent nothing in time");
        } else if (errno != EINTR) {
            Raise(0, "receive failed");
        }
    }
}

bool CWSocket::WaitReadable(int milliseconds)
{
    m_impl->RequireOpen();
    // Bytes OpenSSL already took off the socket would never wake poll.
    if (m_impl->ssl && SSL_pending(m_impl->ssl) > 0)
        return true;
    // A hang-up or error counts: the next receive returns at once with 0 or the error.
    return (m_impl->Wait(m_impl->fd, POLLIN, StepEnd(milliseconds)) & (POLLIN | POLLHUP | POLLERR)) != 0;
}

int CWSocket::CloseSocket()
{
    // close_notify is a courtesy: the socket is non-blocking, so a server that stopped reading
    // cannot hold the close up; after a stop on request nothing more goes out at all.
    if (m_impl->ssl && !m_impl->tlsBroken && m_impl->fd >= 0 && !m_impl->Aborted()) {
        SSL_shutdown(m_impl->ssl);
        ERR_clear_error();
    }
    m_impl->FreeTls();
    if (m_impl->fd < 0)
        return -1;
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    const int rc = ::close(m_impl->fd);
    m_impl->fd = -1;
    return rc;
}

void CWSocket::StartTls(const std::string& serverName)
{
    m_impl->RequireOpen();
    if (m_impl->ssl)
        Raise(EALREADY, "TLS is already active");
    m_impl->RaiseIfAborted();
    const std::string name = StripBrackets(serverName);
    if (name.empty())
        Raise(EINVAL, "no server name to verify the certificate against");

    try {
        ERR_clear_error();
        m_impl->ctx = SSL_CTX_new(TLS_client_method());
        if (!m_impl->ctx)
            Raise(ENOMEM, TlsReason(nullptr));
        SSL_CTX_set_min_proto_version(m_impl->ctx, TLS1_2_VERSION);
        // Picks up SSL_CERT_FILE and SSL_CERT_DIR as well as the system's store.
        SSL_CTX_set_default_verify_paths(m_impl->ctx);
        SSL_CTX_set_verify(m_impl->ctx, SSL_VERIFY_PEER, nullptr);
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
        // Many mail servers drop the connection after QUIT without close_notify; SMTP ends its
        // own replies, so a missing close_notify is an ordinary end, not a truncation.
        SSL_CTX_set_options(m_impl->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
        m_impl->ssl = SSL_new(m_impl->ctx);
        if (!m_impl->ssl)
            Raise(ENOMEM, TlsReason(nullptr));
        BIO* bio = SocketBioMethod() ? BIO_new(SocketBioMethod()) : nullptr;
        if (!bio)
            Raise(ENOMEM, TlsReason(nullptr));
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(m_impl->fd)));
        BIO_set_init(bio, 1);
        SSL_set_bio(m_impl->ssl, bio, bio);

        if (IsIpLiteral(name)) {
            // No SNI for addresses (RFC 6066); the certificate must name the address itself.
            if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_impl->ssl), name.c_str()) != 1)
                Raise(EINVAL, "cannot verify against address " + name);
        } else {
            SSL_set_hostflags(m_impl->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            if (SSL_set_tlsext_host_name(m_impl->ssl, name.c_str()) != 1 ||
                SSL_set1_host(m_impl->ssl, name.c_str()) != 1)
                Raise(EINVAL, "cannot verify against host name " + name + ": " + TlsReason(nullptr));
        }

        // The whole handshake, not each of its reads, is bounded by the time-out.
        const Clock::time_point stepEnd = StepEnd(m_impl->timeoutMs);
        for (;;) {
            ERR_clear_error();
            errno = 0;
            const int rc = SSL_connect(m_impl->ssl);
            if (rc == 1)
                return;
            m_impl->HandleTlsResult(rc, "TLS handshake", stepEnd);
        }
    } catch (...) {
        // A half-made TLS layer must not let the caller go on in plain text (credentials would
        // follow), so the whole connection goes.
        m_impl->tlsBroken = true;
        CloseSocket();
        throw;
    }
}

bool CWSocket::IsTls() const
{
    return m_impl->ssl != nullptr;
}

bool CWSocket::IsOpen() const
{
    return m_impl->fd >= 0;
}
