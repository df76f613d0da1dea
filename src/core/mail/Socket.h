#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>

/// A failed socket (or TLS) operation, with the system's error number.
class CWSocketException : public std::runtime_error
{
public:
    /// `error` 0 means errno at the time of the call. `detail` adds to the system's text (TLS reasons).
    explicit CWSocketException(int error, const std::string& detail = {});
    int GetErrorNumber() const { return m_error; }
    /// The system's message for the number, with the detail when there is one.
    std::string GetErrorText() const { return what(); }

private:
    int m_error;
};

/// A blocking TCP connection for the mail client: host names resolve to IPv4 or IPv6, and the
/// connection can be switched to TLS (STARTTLS, or from the first byte) with the server's
/// certificate and host name verified against the system's store (OpenSSL's default paths, so
/// SSL_CERT_FILE and SSL_CERT_DIR apply).
///
/// Every wait (connect, read, write, TLS handshake) is bounded: by the step's time-out
/// (SetTimeout), by the connection's deadline (SetDeadline, ETIMEDOUT) and by the abort flag
/// (SetAbortFlag, ECANCELED).
class CWSocket
{
public:
    using Clock = std::chrono::steady_clock;

    CWSocket();
    virtual ~CWSocket();
    CWSocket(const CWSocket&) = delete;
    CWSocket& operator=(const CWSocket&) = delete;

    /// Remembers the kind (stream for mail); the socket itself is made by ConnectTo, once the
    /// address family is known.
    void CreateSocket(bool stream = true);
    /// Resolves and connects; a dotted address needs no lookup. `timeoutMs` 0 = the system's own.
    void ConnectTo(const std::string& host, int port, int timeoutMs = 0);
    /// One send; returns the count sent.
    int SendBytes(const void* data, std::size_t size);
    /// Sends everything or throws.
    void SendAll(const std::string& data);
    /// One receive; 0 when the peer closed.
    int ReceiveBytes(void* buffer, std::size_t size);
    /// True when data can be read (or buffered TLS data waits) within the time.
    bool WaitReadable(int milliseconds);
    /// Closes the handle if there is one; -1 when there was nothing to close. Never throws.
    int CloseSocket();

    /// TLS handshake over the connected socket, verifying the certificate for `serverName`.
    void StartTls(const std::string& serverName);

    /// The longest a connect without a time-out of its own, one SendBytes, one ReceiveBytes or the
    /// TLS handshake may wait for the peer; past it the step raises ETIMEDOUT. Negative (the
    /// default): no limit of its own.
    void SetTimeout(int milliseconds);
    /// Every wait past this moment raises ETIMEDOUT; Clock::time_point::max() (the default): none.
    void SetDeadline(Clock::time_point deadline);
    /// While `*flag` is non-zero, a wait ends within about 200 ms and no send starts: both raise
    /// ECANCELED. Null (the default): no flag. The flag must outlive its use here.
    void SetAbortFlag(const std::atomic<int>* flag);
    bool IsTls() const;
    bool IsOpen() const;

private:
    struct Impl;
    Impl* m_impl;
};
