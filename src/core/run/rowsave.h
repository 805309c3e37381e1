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
// with its copy in the Trash, so a revert gives back only that.
std::optional<RunProblem> saveRowResult(RunShared &shared, const RowTask &task,
                                        const OpenedFile &original,
                                        const QByteArray &originalDigest, const QString &working,
                                        RowResult &result);

} // namespace tinsoke
