#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QLocalServer;

/// How a second start reaches the running copy of the same program folder: a local socket
/// whose name is derived from that folder. A request is one line; the running copy answers "ok"
/// when it took the request on, "busy" when it could not.
class CInstanceChannel : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kCheckRequest = "check";
    static constexpr const char* kShowRequest = "show";

    explicit CInstanceChannel(const std::string& programFolder, QObject* parent = nullptr);
    ~CInstanceChannel() override;

    /// Starts answering requests; only the holder of the instance lock may call it.
    bool Listen(QString* error = nullptr);
    /// Decides each request (true: taken on); without one every request is answered "busy".
    void SetRequestHandler(std::function<bool(const QByteArray& request)> handler) { m_handler = std::move(handler); }

    /// Hands a request to the running copy; true only when it answered that it took it on.
    static bool Send(const std::string& programFolder, const QByteArray& request, int timeoutMs = 3000);

    static QString ServerName(const std::string& programFolder);

private:
    void OnNewConnection();

    std::string m_programFolder;
    QLocalServer* m_server = nullptr;
    std::function<bool(const QByteArray&)> m_handler;
};
