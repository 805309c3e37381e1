#pragma once

#include "finishedfiles.h"
#include "privatefiles.h"
#include "rowcoordination.h"
#include "runengine.h"

#include <memory>

namespace tinsoke {

// What the row jobs on the worker threads share.
struct RunEngine::Shared {
    RunPlan plan;
    PictureReader readFacts;
    PictureChangeCheck checkChange;
    RunningTools running;
    FileLocks locks;
    std::unique_ptr<RunFolder> folder;
    QString folderError;
    std::unique_ptr<ResultFolder> resultFolder;
    SaveOrder saveOrder;
    std::shared_ptr<FinishedFiles> memory; // none: every file is worked
    bool forgetMemory = false;             // worked all the same; the memory still learns
    std::array<QByteArray, 2> chains;      // each kind's chain fingerprint, by ImageKind
};

// One row, on a worker thread: its private copy, its chain of tools, each
// result through the check, and the one verified write of its result.
RowResult runRow(RunEngine::Shared &shared, const RowTask &task);

} // namespace tinsoke
