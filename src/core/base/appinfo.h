#pragma once

#include <QString>

namespace tinsoke {

// The program's own name as the user sees it: the caption of its message boxes.
inline QString applicationTitle()
{
    return QStringLiteral("Pelmora Tinsoke");
}

// Name of the per-user lock that keeps a second copy from running.
inline QString singleInstanceName()
{
    return QStringLiteral("PelmoraTinsoke");
}

} // namespace tinsoke
