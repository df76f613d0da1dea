#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Requests from curl are a few hundred bytes; anything past this is not a client we serve.
constexpr std::size_t kMaxRequestHead = 64 * 1024;

std::string_view ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Writes both pieces in full; MSG_NOSIGNAL because a client may hang up at any moment.
bool SendAll(int fd, std::string_view head, std::string_view body)
{
    iovec parts[2] = {{const_cast<char*>(head.data()), head.size()}, {const_cast<char*>(body.data()), body.size()}};
    int first = 0;
    while (first < 2) {
        msghdr message = {};
        message.msg_iov = parts + first;
        message.msg_iovlen = static_cast<std::size_t>(2 - first);
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        std::size_t left = static_cast<std::size_t>(sent);
        while (first < 2 && left >= parts[first].iov_len) {
            left -= parts[first].iov_len;
            ++first;
        }
        if (first < 2) {
            parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
            parts[first].iov_len -= left;
        }
    }
    return true;
}

} // namespace

CLocalHttpServer::CLocalHttpServer(Handler handler) : CLocalHttpServer(std::move(handler), Options{})
{
}

CLocalHttpServer::CLocalHttpServer(Handler handler, Options options)
    : m_handler(std::move(handler)), m_options(std::move(options))
{
}

CLocalHttpServer::~CLocalHttpServer()
{
    Stop();
}

bool CLocalHttpServer::Start(std::string* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    };

    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return fail("socket");
    const int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(m_options.port));
    if (::inet_pton(AF_INET, m_options.bindAddress.c_str(), &address.sin_addr) != 1) {
        errno = EINVAL;
        return fail("bind address");
    }
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return fail("bind");
    if (::listen(m_listenFd, 256) != 0)
        return fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return fail("getsockname");
    m_port = ntohs(address.sin_port);

    m_stopping = false;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void CLocalHttpServer::Stop()
{
    if (m_listenFd < 0)
        return;
    m_stopping = true;
    // shutdown, not close: it wakes the threads blocked on these sockets without freeing the
    // descriptor numbers while they still use them.
    ::shutdown(m_listenFd, SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    ::close(m_listenFd);
    m_listenFd = -1;

    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard lock(m_mutex);
        for (auto& connection : m_connections)
            ::shutdown(connection->fd, SHUT_RDWR);
        connections.swap(m_connections);
    }
    for (auto& connection : connections) {
        connection->thread.join();
        ::close(connection->fd);
    }
}

std::string CLocalHttpServer::HostPort() const
{
    return m_options.bindAddress + ":" + std::to_string(m_port);
}

void CLocalHttpServer::AcceptLoop()
{
    while (!m_stopping) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

        ReapFinished();
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            ::close(fd);
            return;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection* raw = connection.get();
        m_connections.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] { Serve(*raw); });
    }
}

void CLocalHttpServer::ReapFinished()
{
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            auto next = std::next(it);
            if ((*it)->done)
                finished.splice(finished.end(), m_connections, it);
            it = next;
        }
    }
    for (auto& connection : finished) {
        connection->thread.join();
        ::close(connection->fd);
    }
}

void CLocalHttpServer::Serve(Connection& connection)
{
    std::string buffer;
    char chunk[16384];
    // Appends what the client sent next; false once it closed or failed.
    const auto receiveMore = [&] {
        for (;;) {
            const ssize_t got = ::recv(connection.fd, chunk, sizeof chunk, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            buffer.append(chunk, static_cast<std::size_t>(got));
            return true;
        }
    };
    bool keepAlive = true;
    while (keepAlive && !m_stopping) {
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxRequestHead) {
                connection.done = true;
                return;
            }
            if (!receiveMore()) {
                connection.done = true;
                return;
            }
        }

        const std::string_view head(buffer.data(), headEnd);
        LocalHttpRequest request;
        std::size_t lineEnd = head.find("\r\n");
        const std::string_view requestLine = head.substr(0, lineEnd);
        const std::size_t space1 = requestLine.find(' ');
        const std::size_t space2 = requestLine.rfind(' ');
        if (space1 == std::string_view::npos || space2 == space1) {
            connection.done = true;
            return;
        }
        request.method = requestLine.substr(0, space1);
        request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
        keepAlive = requestLine.substr(space2 + 1) == "HTTP/1.1";

        std::size_t contentLength = 0;
        while (lineEnd != std::string_view::npos) {
            const std::size_t start = lineEnd + 2;
            lineEnd = head.find("\r\n", start);
            const std::string_view line =
                head.substr(start, lineEnd == std::string_view::npos ? head.npos : lineEnd - start);
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                continue;
            const std::string_view name = line.substr(0, colon);
            const std::string_view value = Trim(line.substr(colon + 1));
            if (EqualsNoCase(name, "Content-Length"))
                contentLength = std::strtoul(std::string(value).c_str(), nullptr, 10);
            else if (EqualsNoCase(name, "Connection"))
                keepAlive = keepAlive ? !EqualsNoCase(value, "close") : EqualsNoCase(value, "keep-alive");
            else if (EqualsNoCase(name, "Host"))
                request.hostHeader = value;
        }

        // Request bodies are read and dropped; none of our clients depends on them.
        std::size_t consumed = headEnd + 4;
        while (buffer.size() < consumed + contentLength) {
            if (!receiveMore()) {
                connection.done = true;
                return;
            }
        }
        buffer.erase(0, consumed + contentLength);

        LocalHttpResponse response;
        try {
            response = m_handler(request);
        } catch (...) {
            response = LocalHttpResponse{};
            response.status = 500;
        }
        if (m_options.responseDelay.count() > 0)
            std::this_thread::sleep_for(m_options.responseDelay);

        const std::string_view body =
            response.body && request.method != "HEAD" ? std::string_view(*response.body) : std::string_view();
        std::string out = "HTTP/1.1 " + std::to_string(response.status) + " ";
        out += ReasonPhrase(response.status);
        out += "\r\nContent-Type: " + response.contentType;
        out += "\r\nContent-Length: " + std::to_string(response.body ? response.body->size() : 0);
        out += keepAlive ? "\r\nConnection: keep-alive\r\n" : "\r\nConnection: close\r\n";
        out += response.extraHeaders;
        out += "\r\n";
        ++m_requests;
        const std::size_t split = std::min(response.pauseAfter, body.size());
        if (!SendAll(connection.fd, out, body.substr(0, split)))
            break;
        if (split < body.size()) {
            std::this_thread::sleep_for(response.pause);
            if (!SendAll(connection.fd, {}, body.substr(split)))
                break;
        }
    }
    if (!keepAlive)
        ::shutdown(connection.fd, SHUT_WR);
    connection.done = true;
}

std::vector<std::shared_ptr<const std::string>> GenerateLinkPages(std::size_t count, std::size_t pageBytes,
                                                                  int anchorsPerPage, const std::string& toPage,
                                                                  const std::string& anchorText)
{
    static constexpr std::string_view kWords[] = {
        "garden", "review",  "partner", "weather", "travel", "kitchen", "guide",   "market",
        "energy", "history", "design",  "science", "music",  "harbour", "library", "season",
    };
    std::vector<std::shared_ptr<const std::string>> pages;
    pages.reserve(count);
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };

    for (std::size_t i = 0; i < count; ++i) {
        std::string html;
        html.reserve(pageBytes + 1024);
        html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
        html += "<title>Page " + std::to_string(i) + "</title>\n";
        html += "<meta name=\"description\" content=\"A generated page for the check benchmark\">\n";
        html += "<link rel=\"stylesheet\" href=\"/style.css\">\n</head>\n<body>\n<div id=\"main\">\n";

        // The anchors are spread through the text so the parser meets them among paragraphs.
        // Paragraph a ends at its share of the page, so the anchors count towards the size.
        constexpr std::size_t kTailBytes = 96;
        const std::size_t headBytes = html.size();
        const std::size_t bodyBytes = pageBytes > headBytes + kTailBytes ? pageBytes - headBytes - kTailBytes : 1024;
        const int matchingAt = (i % 2 == 0) ? anchorsPerPage / 2 : -1;
        for (int a = 0; a <= anchorsPerPage; ++a) {
            html += "<p>";
            const std::size_t paragraphEnd =
                headBytes + bodyBytes * static_cast<std::size_t>(a + 1) / static_cast<std::size_t>(anchorsPerPage + 1);
            while (html.size() < paragraphEnd) {
                html += kWords[next() % std::size(kWords)];
                html += ' ';
            }
            html += "</p>\n";
            if (a == anchorsPerPage)
                break;
            if (a == matchingAt)
                html += "<a href=\"" + toPage + "\" title=\"partner\">" + anchorText + "</a>\n";
            else if (a % 3 == 0)
                html += "<a href=\"/section/" + std::to_string(next() % 500) + ".html\">Section</a>\n";
            else if (a % 3 == 1)
                html += "<a href=\"http://site" + std::to_string(next() % 900) +
                        ".example.org/item?id=" + std::to_string(next() % 10000) + "\">External " + std::to_string(a) +
                        "</a>\n";
            else
                html += "<a rel=\"nofollow\" href=\"https://ads" + std::to_string(next() % 50) +
                        ".example.net/\"><img src=\"/b.png\" alt=\"banner\"></a>\n";
        }
        html += "</div>\n<ul class=\"footer\"><li>Contact</li><li>About</li></ul>\n</body>\n</html>\n";
        pages.push_back(std::make_shared<const std::string>(std::move(html)));
    }
    return pages;
}

CLocalHttpServer::Handler PagesHandler(std::vector<std::shared_ptr<const std::string>> pages)
{
    auto shared = std::make_shared<const std::vector<std::shared_ptr<const std::string>>>(std::move(pages));
    return [shared](const LocalHttpRequest& request) {
        LocalHttpResponse response;
        constexpr std::string_view prefix = "/page/";
        constexpr std::string_view suffix = ".html";
        std::string_view target = request.target;
        if (target.starts_with(prefix) && target.ends_with(suffix)) {
            target = target.substr(prefix.size(), target.size() - prefix.size() - suffix.size());
            std::size_t index = 0;
            bool digits = !target.empty();
            for (const char ch : target) {
                if (ch < '0' || ch > '9') {
                    digits = false;
                    break;
                }
                index = index * 10 + static_cast<std::size_t>(ch - '0');
            }
            if (digits && index < shared->size()) {
                response.body = (*shared)[index];
                return response;
            }
        }
        response.status = 404;
        response.body = std::make_shared<const std::string>("<html><body>Not found</body></html>\n");
        return response;
    };
}
