#include "stopsignals.h"

#include <QMutex>

#include <csignal>

#include <windows.h>

namespace tinsoke {

namespace {

// Ctrl+C and Ctrl+Break in the console come on a thread of their own; the
// stop is handed to the event loop of the one StopSignals that listens.
QMutex listenerLock;
StopSignals *listener = nullptr;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE; // closing the console ends the program; the job ends its tools
    const QMutexLocker lock(&listenerLock);
    if (!listener)
        return FALSE;
    StopSignals *target = listener;
    const int number = type == CTRL_C_EVENT ? SIGINT : SIGBREAK;
    QMetaObject::invokeMethod(
        target, [target, number] { Q_EMIT target->received(number); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    const QMutexLocker lock(&listenerLock);
    listener = this;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopSignals::~StopSignals()
{
    const QMutexLocker lock(&listenerLock);
    if (listener == this)
        listener = nullptr;
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

void StopSignals::readPipe() {}

void keepRunningPastFileSizeLimit() {}

} // namespace tinsoke
