#pragma once

// What every host of a run (the window's 実行, --run and --watch) sets up
// the same way: a first start's settings, the tools found on PATH, and an
// engine with the memory that belongs to the settings file.

#include "picturefacts.h"
#include "runengine.h"
#include "runplan.h"
#include "settings.h"
#include "tools.h"

#include <QList>
#include <QString>

#include <memory>

namespace tinsoke {

class FinishedFiles;

// Where a built-in tool's program is found on PATH, or empty.
QString toolOnPath(Tool tool);

// The settings of a first start: the defaults, with every tool found on
// PATH named and ticked.
SettingValues firstStartSettings();

class RunHost {
public:
    RunHost(QString settingsPath, PictureReader readFacts, PictureChangeCheck checkChange);

    // The memory of finished files beside the settings file, made at the
    // first call; what is wrong with it is its own to tell.
    std::shared_ptr<FinishedFiles> memory();

    // An engine over the rows with that memory; with force no file is
    // passed over as finished, and the memory still learns.
    std::unique_ptr<RunEngine> engine(const RunPlan &plan, QList<RowTask> rows, bool force);

private:
    QString m_settingsPath;
    PictureReader m_readFacts;
    PictureChangeCheck m_checkChange;
    std::shared_ptr<FinishedFiles> m_memory;
};

} // namespace tinsoke
