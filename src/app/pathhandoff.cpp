#include "pathhandoff.h"

#include "paths.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr char Taken = '\x06';
// Far more than the longest command line; a caller sending more is cut off.
constexpr qsizetype LongestMessage = 64 * 1024 * 1024;
// A caller that has not finished its message by then is let go.
constexpr int CallerPatienceMs = 10000;

// Whether the process at the other end of a connected local socket is this
// user's. In a shared temp folder another user could have put a socket where
// ours belongs; neither side talks to it.
bool peerIsThisUser(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return false;
    return peer.uid == ::geteuid();
#else
    Q_UNUSED(descriptor);
    return true; // the pipe is the user's own
#endif
}

// Paths are never empty, so two NULs in a row (or a lone one, for no paths)
// can only be the end.
bool isWhole(const QByteArray &message)
{
    return message == QByteArray(1, '\0') || message.endsWith(QByteArray(2, '\0'));
}

QStringList pathsIn(const QByteArray &message)
{
    QStringList paths;
    for (qsizetype start = 0;;) {
        const qsizetype end = message.indexOf('\0', start);
        if (end <= start)
            break; // the empty record that closes the list
        paths.append(tinsoke::pathFromBytes(message.mid(start, end - start)));
        start = end + 1;
    }
    return paths;
}

} // namespace

PathHandoffServer::PathHandoffServer(QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &PathHandoffServer::takeConnections);
}

PathHandoffServer::~PathHandoffServer() = default;

bool PathHandoffServer::listen(const QString &socketPath)
{
    QLocalServer::removeServer(socketPath);
    return m_server->listen(socketPath);
}

void PathHandoffServer::takeConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_pending.insert(socket, QByteArray());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        QTimer::singleShot(CallerPatienceMs, socket, [socket] { socket->abort(); });
        readFrom(socket); // the message may be there already
    }
}

void PathHandoffServer::readFrom(QLocalSocket *socket)
{
    const auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    it->append(socket->readAll());
    if (it->size() > LongestMessage) {
        m_pending.erase(it);
        socket->abort();
        return;
    }
    if (!isWhole(*it))
        return;
    const QStringList paths = pathsIn(*it);
    m_pending.erase(it);
    // The caller may go as soon as it knows; taking a folder in can take a while.
    socket->write(&Taken, 1);
    socket->flush();
    socket->disconnectFromServer();
    Q_EMIT pathsReceived(paths);
}

bool handPathsToRunningCopy(const QString &socketPath, const QStringList &paths, int timeoutMs)
{
    QByteArray message;
    for (const QString &path : paths) {
        message += tinsoke::bytesOfPath(path); // as the system names it, UTF-8 or not
        message += '\0';
    }
    message += '\0';

    const QDeadlineTimer deadline(timeoutMs);
    const auto remaining = [&deadline] {
        return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
    };
    QLocalSocket socket;
    // The running copy may have taken the lock a moment ago and not listen yet.
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(remaining()))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    if (!peerIsThisUser(socket.socketDescriptor()))
        return false;
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remaining()))
            return false;
    }
    while (socket.bytesAvailable() == 0) {
        if (!socket.waitForReadyRead(remaining()))
            return false;
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == Taken;
}
