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
#include <mutex>

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
    bool keepsWayBack = false; // an in-place run with a memory: its overwrites can be undone

    // The memory's number of this run, taken at its first overwrite: a run
    // that overwrites nothing leaves 元に戻す with the last one that did.
    // 0 without a memory.
    qint64 undoRun()
    {
        const std::lock_guard<std::mutex> lock(m_undoMutex);
        if (m_undoRun == 0 && keepsWayBack && memory)
            m_undoRun = memory->newRun();
        return m_undoRun;
    }

private:
    std::mutex m_undoMutex;
    qint64 m_undoRun = 0;
};

} // namespace tinsoke
