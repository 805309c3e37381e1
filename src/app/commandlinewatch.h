#pragma once

#include "runhost.h"
#include "runplan.h"

#include <QString>
#include <QStringList>

// "pelmora-tinsoke --watch DIR…": runs over what the folders hold, then keeps
// them optimized as pictures arrive or change, until a signal ends it. Gives
// 128 + the signal's number then, or 1 when the folders cannot be watched.
int watchFolders(const tinsoke::RunPlan &plan, tinsoke::RunHost &host, const QStringList &folders,
                 bool quiet, bool force);
