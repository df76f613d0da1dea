#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <string>

class QLocalServer;

/// How a second start reaches the running copy of the same program folder: a local socket
/// whose name is derived from that folder. A request is one line; the running copy answers "ok".
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

    /// Hands a request to the running copy; false when none answered within the time.
    static bool Send(const std::string& programFolder, const QByteArray& request, int timeoutMs = 3000);

    static QString ServerName(const std::string& programFolder);

signals:
    void CheckAllRequested();
    void ShowRequested();

private:
    void OnNewConnection();

    std::string m_programFolder;
    QLocalServer* m_server = nullptr;
};
