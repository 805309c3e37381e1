#pragma once

#include <QObject>

class QSocketNotifier;

namespace tinsoke {

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the event loop, so that
// the program stops its run, leaving every file whole, before it ends. The
// handler only writes a byte to a pipe; everything else happens in the loop.
class StopSignals : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();
    QSocketNotifier *m_notifier = nullptr;
};

// A file size limit (ulimit -f) makes a write fail with its reason, for that
// file alone, instead of ending the program at once. Tools get the system's
// default back when they start.
void keepRunningPastFileSizeLimit();

} // namespace tinsoke
