#pragma once

#include "privatefiles.h"
#include "tools.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace tinsoke {

// Something that went wrong with a file. The core tells what happened; the
// window and the command line word it, and the report groups by those words.
struct RunProblem {
    enum class Kind {
        PassedOver, // nothing of the file was saved
        ToolFailed, // a tool failed on it; the file went on without that step
        NotStarted, // a tool could not be started at all
        Refused,    // a tool's result was not used; the file was processed
    };
    // What went wrong, and which of the arguments below its words take.
    enum class Reason {
        WorkFolderFailed, // detail: the file layer's words (the private folder)
        NotOpened,        // detail: the file layer's words (the user's file)
        CopyFailed,       // detail: why a copy of the file could not be made
        NotAPicture,      // detail: the picture layer's words
        StepCopyFailed,   // tool; detail: why, or the folder
        ToolNotStarted,   // tool, systemError
        ToolCrashed,      // tool, signal
        ToolExitCode,     // tool, exitCode
        NoResult,         // tool
        ResultNotRegular, // tool
        ResultBroken,     // tool
        PartsNotKept,     // tool; detail: the picture layer's words, %1 for the tool
        EdgeBlocks,       // tool
        ResultNotTaken,   // tool
        FramesChanged,    // tool, framesBefore, framesAfter
        PixelsChanged,    // tool
        ColourLost,       // tool
        ChangeNotAsAsked, // tool; detail: the picture check's words
        LastCheckFailed,
        FileChangedDuringRun,
        WriteFailed,        // detail: the file layer's words
        ResultFolderFailed, // detail: the folder's path
        TrashFailed,        // detail: why the Trash could not take the original
        NoSaveMethod,
    };
    Reason reason = Reason::NoResult;
    QString path;
    QString output; // what a failing tool printed, if anything
    Kind kind = Kind::ToolFailed;
    QString tool;
    QString detail;
    int systemError = 0;
    int exitCode = 0;
    int signal = 0;
    int framesBefore = 0;
    int framesAfter = 0;
};
// Every reason, for those that word them all (NoSaveMethod stays last).
constexpr int RunProblemReasonCount = int(RunProblem::Reason::NoSaveMethod) + 1;

struct RowResult {
    enum class Outcome {
        Done,       // went through its chain; its result (or its unchanged copy) is saved
        PassedOver, // nothing of it was saved; problems say why
        Stopped,    // the run was stopped: the file is as it was
        Remembered, // known finished for its chain: no tool started, nothing written
    };
    int row = 0;
    QString path;
    Outcome outcome = Outcome::Done;
    // The size after each step of the chain that was reached, with its list
    // column; a step that did not start has none.
    struct StepSize {
        int listColumn = 0;
        std::optional<qint64> size;
    };
    QList<StepSize> steps;
    qint64 before = 0;    // the file's size when its turn came
    qint64 after = 0;     // the size of what was saved
    QString savedAs;      // where the result went
    FileIdentity written; // what the row wrote there, as it left it; none when it wrote nothing
    QStringList kept;     // the tools whose result was kept
    QList<RunProblem> problems;
};

// What a run did: the window and the command line tell it from this.
struct RunSummary {
    int done = 0;
    int passedOver = 0;
    int remembered = 0; // of done, those the memory knew
    qint64 before = 0;
    qint64 after = 0;
    bool stopped = false;
    QList<RunProblem> problems;
    QString folderLeft; // the run's temporary folder, when it could not be removed

    void add(const RowResult &row);
};

} // namespace tinsoke
