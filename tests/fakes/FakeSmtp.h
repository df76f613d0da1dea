#pragma once

// Local SMTP servers for tests (header-only): tests/fakes/smtp_server.py run with Debian's
// /usr/bin/python3, which has aiosmtpd. Kind "aiosmtpd" is a real server (no auth, LOGIN/PLAIN,
// STARTTLS, TLS from the first byte); kind "scripted" plays the replies aiosmtpd cannot (CRAM-MD5,
// NTLM, split, long, endless, slow and bare-code replies, odd greetings, optional, refused and
// stalled STARTTLS, drops and silence) and notes in its log what it did. Each delivered message
// lands in MailDir() as N.eml plus N.json, the latter as Python's email package parsed it.

#include "FakeServers.h"

namespace fakes {

class FakeSmtpServer
{
public:
    FakeSmtpServer() = default;
    ~FakeSmtpServer() { Stop(); }
    FakeSmtpServer(const FakeSmtpServer&) = delete;
    FakeSmtpServer& operator=(const FakeSmtpServer&) = delete;

    /// Starts smtp_server.py with `args` (e.g. {"--kind", "aiosmtpd", "--auth"}) and waits (at most
    /// 10 s) until it listens. Throws on failure.
    void Start(const std::vector<std::string>& args)
    {
        Stop();
        m_dir = std::make_unique<TempDirectory>("orvex-smtpd");
        std::filesystem::create_directory(MailDir());
        const std::string ready = m_dir->File("ready.json");
        std::vector<std::string> argv = {
            "/usr/bin/python3",
            std::string(ORVEX_FAKES_DIR) + "/smtp_server.py",
            "--ready-file",
            ready,
            "--maildir",
            MailDir(),
            "--log",
            LogFile(),
        };
        argv.insert(argv.end(), args.begin(), args.end());
        if (!m_process.Spawn(argv, m_dir->File("server.out")))
            throw std::runtime_error("cannot start /usr/bin/python3");
        const bool up = WaitUntil([&] { return std::filesystem::exists(ready) || !m_process.Running(); },
                                  std::chrono::milliseconds(10000));
        if (!up || !std::filesystem::exists(ready)) {
            m_process.Stop();
            throw std::runtime_error("the fake SMTP server did not start: " + Output());
        }
        m_port = detail::JsonPort(ReadWholeFile(ready), "port");
        // The Controller answers its own probe before the ready file appears; the scripted server
        // listens before it, so this is only a guard against a slow start.
        const int port = m_port;
        WaitUntil([port] { return PortAccepts(port); }, std::chrono::milliseconds(5000));
    }

    void Stop()
    {
        m_process.Stop();
        m_port = 0;
    }

    int Port() const { return m_port; }
    std::string MailDir() const { return m_dir ? m_dir->File("mail") : std::string(); }
    std::string LogFile() const { return m_dir ? m_dir->File("commands.log") : std::string(); }
    /// Every command line the scripted server received, one per line.
    std::string Commands() const { return ReadWholeFile(LogFile()); }
    std::string Output() const { return m_dir ? ReadWholeFile(m_dir->File("server.out")) : std::string(); }

    /// Waits (at most `timeout`) until the scripted server's log holds `text`.
    bool LogShows(const std::string& text, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const
    {
        return WaitUntil([&] { return Commands().find(text) != std::string::npos; }, timeout);
    }

    /// The parsed form of the n-th message (1-based), waiting up to 5 s for it; "" when none came.
    std::string MessageJson(int n = 1) const
    {
        const std::string path = MailDir() + "/" + std::to_string(n) + ".json";
        if (!WaitUntil([&] { return std::filesystem::exists(path); }, std::chrono::milliseconds(5000)))
            return {};
        return ReadWholeFile(path);
    }
    /// The raw bytes of the n-th message as received.
    std::string MessageRaw(int n = 1) const { return ReadWholeFile(MailDir() + "/" + std::to_string(n) + ".eml"); }

    /// One string field of a MessageJson text.
    static std::string Field(const std::string& json, const std::string& key) { return detail::JsonField(json, key); }

private:
    std::unique_ptr<TempDirectory> m_dir;
    ChildProcess m_process;
    int m_port = 0;
};

} // namespace fakes
