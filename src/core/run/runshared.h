#pragma once

#include "executeprocess.h"
#include "finishedfiles.h"
#include "picturefacts.h"
#include "privatefiles.h"
#include "rowcoordination.h"
#include "runplan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

namespace tinsoke {

// What the row jobs of one run share on the worker threads.
struct RunShared {
    RunPlan plan;
    PictureReader readFacts;
    PictureChangeCheck checkChange;
    ToolRunner runTool = runToolProcess;
    RunningTools running;
    FileLocks locks;
    std::unique_ptr<RunFolder> folder;
    QString folderError;
    std::unique_ptr<ResultFolder> resultFolder;
    SaveOrder saveOrder;
    std::shared_ptr<FinishedFiles> memory; // none: every file is worked
    bool forgetMemory = false;             // worked all the same; the memory still learns
    std::array<QByteArray, 2> chains;      // each kind's chain fingerprint, by ImageKind
    qint64 undoRun = 0; // the memory's number of a run that overwrites, 0 without
};

} // namespace tinsoke
