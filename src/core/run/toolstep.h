#pragma once

#include "runplan.h"
#include "runreport.h"
#include "runshared.h"

#include <QString>

#include <optional>

namespace tinsoke {

class Gate;

// Where a row's steps work: its private folder, the copy that holds the
// row's picture so far, and the user's file their messages name.
struct StepPlace {
    QString folder;
    QString working;
    QString userPath;
};

// What one step did to its row.
struct StepResult {
    std::optional<qint64> size; // after the step, when it ran
    bool kept = false;          // its result is now the row's working copy
    std::optional<RunProblem> problem;
};

// One step of a row's chain: the tool reads a private copy of the row's
// picture, its result goes through the gate, and a result the gate takes
// becomes the row's working copy. number counts the row's steps from 1.
StepResult runToolStep(RunShared &shared, const ChainStep &step, int number, const StepPlace &place,
                       Gate &gate);

} // namespace tinsoke
