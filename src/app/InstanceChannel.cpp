#include "InstanceChannel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <unistd.h>

CInstanceChannel::CInstanceChannel(const std::string& programFolder, QObject* parent)
    : QObject(parent), m_programFolder(programFolder)
{
}

CInstanceChannel::~CInstanceChannel() = default;

QString CInstanceChannel::ServerName(const std::string& programFolder)
{
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(programFolder), QCryptographicHash::Sha1);
    return QStringLiteral("orvex-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash.toHex().left(16)));
}

bool CInstanceChannel::Listen(QString* error)
{
    const QString name = ServerName(m_programFolder);
    // We hold the instance lock, so a socket left by a copy that crashed is safe to remove.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &CInstanceChannel::OnNewConnection);
    return true;
}

void CInstanceChannel::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64)
                    socket->abort();
                return;
            }
            const QByteArray request = socket->readLine(64).trimmed();
            const bool taken = m_handler && m_handler(request);
            socket->write(taken ? "ok\n" : "busy\n");
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

bool CInstanceChannel::Send(const std::string& programFolder, const QByteArray& request, int timeoutMs)
{
    const QString name = ServerName(programFolder);
    const QDeadlineTimer deadline(timeoutMs);
    // The running copy may hold the lock a moment before it listens: try again until the deadline.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(request + '\n');
            if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
                return false;
            while (!socket.canReadLine() && socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            }
            return socket.readLine().trimmed() == "ok";
        }
        QThread::msleep(100);
    }
    return false;
}
