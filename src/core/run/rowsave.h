#pragma once

#include "runreport.h"
#include "runshared.h"

#include <QString>

#include <optional>

namespace tinsoke {

class OpenedFile;

// A row's result goes where the save method says, in one verified write:
// savedAs, after and written tell what was saved. A problem says why
// nothing was, and the row is then passed over. The original's digest goes
// with its copy in the Trash, and the result's (the one the last check
// verified the working file by) with what was written over it, so a revert
// gives back only the one over the other.
std::optional<RunProblem> saveRowResult(RunShared &shared, const RowTask &task,
                                        const OpenedFile &original,
                                        const QByteArray &originalDigest, const QString &working,
                                        const QByteArray &resultDigest, RowResult &result);

} // namespace tinsoke
