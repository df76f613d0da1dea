#pragma once

// Real servers on 127.0.0.1 for tests and benchmarks (header-only, no GoogleTest dependency):
//  - FakeHttpServer runs tests/fakes/http_server.py (HTTP, optionally HTTPS, and a "silent" port
//    that accepts connections and never answers); see the script for its special paths.
//  - MakeTestCertificate makes a self-signed certificate for localhost and *.localhost.
//  - FakeProxy runs Debian's tinyproxy with a generated configuration.
// Host names: libcurl resolves every name ending in ".localhost" to the loopback address by
// itself, so tests address the server as "partner.localhost:PORT" without any DNS. Programs that
// use the system resolver (tinyproxy) cannot resolve those names; address them as 127.0.0.1:PORT.

#ifndef ORVEX_FAKES_DIR
#error "ORVEX_FAKES_DIR must name the tests/fakes directory"
#endif

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace fakes {

inline std::string ScriptPath()
{
    return std::string(ORVEX_FAKES_DIR) + "/http_server.py";
}

// ---------------------------------------------------------------------------------------------
// Small helpers

/// A port that was free a moment ago (bound to 127.0.0.1:0 and released).
inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

/// True when something accepts TCP connections on 127.0.0.1:port.
inline bool PortAccepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

/// Polls `done` every 20 ms until it is true or `timeout` passed; returns its last answer.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// A fresh directory under $TMPDIR, removed with its contents.
class TempDirectory
{
public:
    explicit TempDirectory(const char* prefix = "orvex-fake")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDirectory()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(std::string_view name) const { return m_path + "/" + std::string(name); }

private:
    std::string m_path;
};

/// A child process started with posix_spawn (safe in a threaded test process); its stdout and
/// stderr go to `outputFile`. The destructor ends it (SIGTERM, then SIGKILL after 3 s).
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Spawn(const std::vector<std::string>& args, const std::string& outputFile)
    {
        Stop();
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return false;
        m_pid = pid;
        return true;
    }

    /// False once the process has ended.
    bool Running()
    {
        if (m_pid <= 0)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        return true;
    }

    void Stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        const pid_t pid = m_pid;
        const bool ended = WaitUntil(
            [pid] {
                int status = 0;
                return ::waitpid(pid, &status, WNOHANG) == pid;
            },
            std::chrono::milliseconds(3000));
        if (!ended) {
            ::kill(pid, SIGKILL);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
        m_pid = -1;
    }

    /// Waits for the end; the exit code, or -1 when it did not exit normally.
    int Wait()
    {
        if (m_pid <= 0)
            return -1;
        int status = 0;
        const pid_t rc = ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return rc > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

/// Runs a program to its end; true when it exits with 0.
inline bool RunProgram(const std::vector<std::string>& args, const std::string& outputFile)
{
    ChildProcess child;
    return child.Spawn(args, outputFile) && child.Wait() == 0;
}

// ---------------------------------------------------------------------------------------------
// Test certificate

struct TestCertificate
{
    std::string certFile; // PEM; also what a client passes as its CA file to trust it
    std::string keyFile;
};

/// A self-signed certificate (valid two days) for localhost, *.localhost, 127.0.0.1 and the
/// extra host names given, made with the openssl command line into `dir`. OpenSSL's host check
/// does not let "*.localhost" match (a wildcard needs two labels after it), so the names tests
/// use are listed one by one as well. Throws when openssl fails.
inline TestCertificate MakeTestCertificate(const std::string& dir,
                                           const std::vector<std::string>& extraHosts = {
                                               "partner.localhost", "www.partner.localhost", "other.localhost"})
{
    TestCertificate cert{dir + "/cert.pem", dir + "/key.pem"};
    std::string san = "subjectAltName=DNS:localhost,DNS:*.localhost,IP:127.0.0.1";
    for (const auto& host : extraHosts)
        san += ",DNS:" + host;
    const std::vector<std::string> args = {
        "/usr/bin/openssl", "req",     "-x509", "-newkey", "rsa:2048",   "-nodes", "-sha256",     "-days", "2", "-subj",
        "/CN=localhost",    "-addext", san,     "-keyout", cert.keyFile, "-out",   cert.certFile,
    };
    if (!RunProgram(args, dir + "/openssl.out"))
        throw std::runtime_error("openssl failed: " + ReadWholeFile(dir + "/openssl.out"));
    return cert;
}

// ---------------------------------------------------------------------------------------------
// The fake HTTP(S) server

/// One request as the server logged it.
struct LoggedRequest
{
    std::string method;
    std::string host;
    std::string path;
    double time = 0;
    long conn = 0;
};

namespace detail {

/// The value of "key" in one flat JSON object line as written by http_server.py.
inline std::string JsonField(const std::string& line, const std::string& key)
{
    const std::string needle = "\"" + key + "\":";
    std::size_t at = line.find(needle);
    if (at == std::string::npos)
        return {};
    at += needle.size();
    if (at < line.size() && line[at] == '"') {
        std::string out;
        for (std::size_t i = at + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"')
                break;
            if (c == '\\' && i + 1 < line.size()) {
                const char e = line[++i];
                switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    if (i + 4 < line.size()) {
                        const unsigned long cp = std::strtoul(line.substr(i + 1, 4).c_str(), nullptr, 16);
                        out += cp < 0x80 ? static_cast<char>(cp) : '?';
                        i += 4;
                    }
                    break;
                default:
                    out += e;
                    break;
                }
            } else {
                out += c;
            }
        }
        return out;
    }
    const std::size_t end = line.find_first_of(",}", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

inline int JsonPort(const std::string& json, const std::string& key)
{
    const std::string value = JsonField(json, key);
    return value.empty() || value == "null" ? 0 : std::atoi(value.c_str());
}

} // namespace detail

class FakeHttpServer
{
public:
    struct Options
    {
        /// Serve HTTPS on a second port with this certificate (both files must be set).
        std::string certFile;
        std::string keyFile;
        /// Every answer after this many milliseconds.
        int delayMs = 0;
        /// Request log; "" = a file in the server's own temp directory.
        std::string logFile;
    };

    FakeHttpServer() = default;
    ~FakeHttpServer() { Stop(); }
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    /// Starts the server on `root` and waits (at most 10 s) until it listens. Throws on failure.
    void Start(const std::string& root) { Start(root, Options()); }
    void Start(const std::string& root, const Options& options)
    {
        Stop();
        m_dir = std::make_unique<TempDirectory>("orvex-httpd");
        m_logFile = options.logFile.empty() ? m_dir->File("requests.jsonl") : options.logFile;
        const std::string ready = m_dir->File("ready.json");
        std::vector<std::string> args = {
            "/usr/bin/python3", ScriptPath(), "--root",       root,  "--port", "0",
            "--silent-port",    "0",          "--ready-file", ready, "--log",  m_logFile,
        };
        if (!options.certFile.empty() && !options.keyFile.empty()) {
            args.insert(args.end(), {"--https-port", "0", "--cert", options.certFile, "--key", options.keyFile});
        }
        if (options.delayMs > 0)
            args.insert(args.end(), {"--delay-ms", std::to_string(options.delayMs)});
        if (!m_process.Spawn(args, m_dir->File("server.out")))
            throw std::runtime_error("cannot start /usr/bin/python3");
        const bool up =
            WaitUntil([&] { return FileReady(ready) || !m_process.Running(); }, std::chrono::milliseconds(10000));
        if (!up || !FileReady(ready)) {
            const std::string output = ReadWholeFile(m_dir->File("server.out"));
            m_process.Stop();
            throw std::runtime_error("the fake HTTP server did not start: " + output);
        }
        const std::string json = ReadWholeFile(ready);
        m_httpPort = detail::JsonPort(json, "http");
        m_httpsPort = detail::JsonPort(json, "https");
        m_silentPort = detail::JsonPort(json, "silent");
    }

    void Stop()
    {
        m_process.Stop();
        m_httpPort = m_httpsPort = m_silentPort = 0;
    }

    int HttpPort() const { return m_httpPort; }
    int HttpsPort() const { return m_httpsPort; }
    int SilentPort() const { return m_silentPort; }

    /// "http://HOST:PORT" + path, e.g. Url("partner.localhost", "/page.html").
    std::string Url(const std::string& host, const std::string& path) const
    {
        return "http://" + host + ":" + std::to_string(m_httpPort) + path;
    }
    std::string HttpsUrl(const std::string& host, const std::string& path) const
    {
        return "https://" + host + ":" + std::to_string(m_httpsPort) + path;
    }

    const std::string& LogFile() const { return m_logFile; }

    /// Every request logged so far, oldest first.
    std::vector<LoggedRequest> Requests() const
    {
        std::vector<LoggedRequest> out;
        std::istringstream in(ReadWholeFile(m_logFile));
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty())
                continue;
            LoggedRequest r;
            r.method = detail::JsonField(line, "method");
            r.host = detail::JsonField(line, "host");
            r.path = detail::JsonField(line, "path");
            r.time = std::atof(detail::JsonField(line, "time").c_str());
            r.conn = std::atol(detail::JsonField(line, "conn").c_str());
            out.push_back(std::move(r));
        }
        return out;
    }

    /// Requests whose path (with query) equals `path`, for `host` when it is not empty.
    std::size_t CountRequests(const std::string& path, const std::string& host = {}) const
    {
        std::size_t n = 0;
        for (const auto& r : Requests()) {
            if (r.path == path && (host.empty() || r.host == host))
                ++n;
        }
        return n;
    }

    /// Empties the request log.
    void ClearLog() const { std::ofstream(m_logFile, std::ios::trunc); }

private:
    static bool FileReady(const std::string& path)
    {
        std::error_code ec;
        return std::filesystem::exists(path, ec);
    }

    std::unique_ptr<TempDirectory> m_dir;
    ChildProcess m_process;
    std::string m_logFile;
    int m_httpPort = 0;
    int m_httpsPort = 0;
    int m_silentPort = 0;
};

// ---------------------------------------------------------------------------------------------
// A real HTTP proxy: tinyproxy

/// tinyproxy on 127.0.0.1 with its configuration, log and pid file in a temp directory. It
/// resolves names with the system resolver, so it cannot reach "*.localhost" names: send it
/// 127.0.0.1:PORT addresses (the fake server then serves the "default" host folder).
class FakeProxy
{
public:
    FakeProxy() = default;
    ~FakeProxy() { Stop(); }
    FakeProxy(const FakeProxy&) = delete;
    FakeProxy& operator=(const FakeProxy&) = delete;

    /// Starts tinyproxy on a free port and waits (at most 10 s) until it accepts. Throws on failure.
    void Start()
    {
        Stop();
        m_dir = std::make_unique<TempDirectory>("orvex-proxy");
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_port = FreePort();
            {
                std::ofstream conf(m_dir->File("tinyproxy.conf"), std::ios::trunc);
                conf << "Port " << m_port << "\n"
                     << "Listen 127.0.0.1\n"
                     << "Allow 127.0.0.1\n"
                     << "Timeout 30\n"
                     << "MaxClients 50\n"
                     << "LogLevel Info\n"
                     << "LogFile \"" << LogFile() << "\"\n"
                     << "PidFile \"" << m_dir->File("tinyproxy.pid") << "\"\n";
            }
            if (!m_process.Spawn({"/usr/bin/tinyproxy", "-d", "-c", m_dir->File("tinyproxy.conf")},
                                 m_dir->File("tinyproxy.out")))
                throw std::runtime_error("cannot start /usr/bin/tinyproxy");
            const int port = m_port;
            if (WaitUntil([&] { return PortAccepts(port) || !m_process.Running(); },
                          std::chrono::milliseconds(10000)) &&
                m_process.Running())
                return;
            m_process.Stop(); // the port was taken in between: try another
        }
        throw std::runtime_error("tinyproxy did not start: " + ReadWholeFile(m_dir->File("tinyproxy.out")));
    }

    void Stop()
    {
        m_process.Stop();
        m_port = 0;
    }

    int Port() const { return m_port; }
    std::string LogFile() const { return m_dir ? m_dir->File("tinyproxy.log") : std::string(); }
    /// tinyproxy's own log: each proxied request appears as "Request (file descriptor N): GET URL".
    std::string LogText() const { return ReadWholeFile(LogFile()); }

private:
    std::unique_ptr<TempDirectory> m_dir;
    ChildProcess m_process;
    int m_port = 0;
};

} // namespace fakes
