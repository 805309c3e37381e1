#pragma once

#include "runplan.h"
#include "runreport.h"
#include "runshared.h"

namespace tinsoke {

// One row, on a worker thread: its private copy, its chain of tools, each
// result through the check, and the one verified write of its result.
RowResult runRow(RunShared &shared, const RowTask &task);

} // namespace tinsoke
