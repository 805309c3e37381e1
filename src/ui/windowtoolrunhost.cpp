#include "windowtoolrunhost.h"

#include "appinfo.h"
#include "messages.h"

#include <QCoreApplication>

void WindowToolRunHost::reportStartFailure(const QString &message)
{
    messages::show(m_window, tinsoke::applicationTitle(), message);
}

void WindowToolRunHost::processPendingEvents()
{
    QCoreApplication::processEvents();
}
