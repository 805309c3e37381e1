#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// A second start of the program hands the paths on its command line to the
// copy that runs, over a local socket beside the single-instance lock. Only
// the user's own processes are heard: the socket is the user's alone, and
// each side checks who is at the other end.
//
// The message is every path in UTF-8 followed by a NUL, then one more NUL;
// the running copy answers with one byte once it has taken them.

// The running copy's side.
class PathHandoffServer : public QObject {
    Q_OBJECT

public:
    explicit PathHandoffServer(QObject *parent = nullptr);
    ~PathHandoffServer() override;

    // Starts listening at socketPath. Only the holder of the single-instance
    // lock calls this, so a socket left there by a copy that ended is stale
    // and is replaced.
    bool listen(const QString &socketPath);

Q_SIGNALS:
    void pathsReceived(const QStringList &paths);

private:
    void takeConnections();
    void readFrom(QLocalSocket *socket);

    QLocalServer *m_server = nullptr;
    QHash<QLocalSocket *, QByteArray> m_pending; // what each caller has sent so far
};

// The second start's side: hands the paths to the copy listening at
// socketPath, waiting up to timeoutMs for it to come up and take them.
// Gives true only when the running copy said it has them.
bool handPathsToRunningCopy(const QString &socketPath, const QStringList &paths, int timeoutMs);
