#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// What the server saw of one request.
struct LocalHttpRequest
{
    std::string method;
    /// The request target as sent: path and query.
    std::string target;
    std::string hostHeader;
};

/// One answer. The body is shared so that generated pages are not copied for every request.
struct LocalHttpResponse
{
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::shared_ptr<const std::string> body;
    /// Extra header lines, each ending in CR LF.
    std::string extraHeaders;
    /// After this many bytes of the body the server falls silent for `pause` before the rest.
    std::size_t pauseAfter = static_cast<std::size_t>(-1);
    std::chrono::milliseconds pause{0};
};

/// A small HTTP/1.1 server on a loopback address for benchmarks and tests: one thread accepts,
/// one thread per connection answers requests in turn and keeps the connection open until the
/// client closes it or asks to. Good enough for curl; not a general HTTP implementation (no
/// chunked request bodies, no pipelining beyond reading requests one after another).
class CLocalHttpServer
{
public:
    using Handler = std::function<LocalHttpResponse(const LocalHttpRequest&)>;

    struct Options
    {
        /// Waited before each response is sent, to stand in for a slow or distant site.
        std::chrono::milliseconds responseDelay{0};
        /// Any address of 127.0.0.0/8; 0 as the port picks a free one.
        std::string bindAddress = "127.0.0.1";
        int port = 0;
    };

    explicit CLocalHttpServer(Handler handler);
    CLocalHttpServer(Handler handler, Options options);
    ~CLocalHttpServer();
    CLocalHttpServer(const CLocalHttpServer&) = delete;
    CLocalHttpServer& operator=(const CLocalHttpServer&) = delete;

    /// Binds and starts accepting; false (with `error` filled) when the socket cannot be set up.
    bool Start(std::string* error = nullptr);
    /// Closes the listening socket and every open connection and waits for all threads.
    void Stop();

    int Port() const { return m_port; }
    /// "address:port", ready to follow "http://".
    std::string HostPort() const;
    std::size_t RequestsServed() const { return m_requests.load(); }

private:
    struct Connection
    {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void Serve(Connection& connection);
    void ReapFinished();

    Handler m_handler;
    Options m_options;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<std::size_t> m_requests{0};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::list<std::unique_ptr<Connection>> m_connections;
};

/// `count` HTML pages of about `pageBytes` bytes with `anchorsPerPage` anchors each: internal and
/// external links, and on every other page a link to `toPage` with `anchorText`. Page i is served
/// as "/page/<i>.html". Deterministic, so runs compare.
std::vector<std::shared_ptr<const std::string>> GenerateLinkPages(std::size_t count, std::size_t pageBytes,
                                                                  int anchorsPerPage, const std::string& toPage,
                                                                  const std::string& anchorText);

/// A handler serving those pages by number, 404 for anything else.
CLocalHttpServer::Handler PagesHandler(std::vector<std::shared_ptr<const std::string>> pages);
