#pragma once

#include "extratools.h"
#include "picturefacts.h"
#include "settings.h"
#include "tools.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace tinsoke {

// One tool as a run uses it, taken once when the run starts.
struct ToolPlan {
    bool use = false;  // ticked, and its program was found
    QString program;   // as the user named it
    QStringList words; // its options, word by word
    PictureAllowances allow;
};

// A tool of the user's own as a run uses it: after the built-in tools of its
// kind, in the user's order. Its words still hold {in} and {out}.
struct ExtraToolPlan {
    QString name;
    ImageKind kind = ImageKind::Png;
    ToolPlan plan;
};

// Where a row's result goes; the numbers are the settings file's and the
// window's radio items.
enum class SaveMethod { None = -1, InPlace = 0, CopyBeside = 1, ResultFolder = 2 };

// The save method a stored number or a radio index names; anything else is none.
SaveMethod saveMethodOf(int number);

struct RunPlan {
    std::array<ToolPlan, ToolCount> tools; // in tool order
    QList<ExtraToolPlan> extras;           // the user's own tools, in their order
    SaveMethod saveMethod = SaveMethod::InPlace;
    int jobs = 0; // rows at once; 0 one per core
    // An overwrite first puts the original into the user's Trash.
    Originals originals = Originals::Keep;
};

// One step of a kind's chain as a row runs it: a built-in tool or one of
// the user's own, on the same track.
struct ChainStep {
    QString name;     // as its column and the messages name it
    bool own = false; // one of the user's tools
    const ToolPlan *plan = nullptr;
    Output output = Output::InPlace;
    QStringList (*arguments)(const QStringList &words, const QString &input,
                             const QString &output) = nullptr;
    int alsoFine = 0;   // an exit code besides 0 that still means success, or 0
    int listColumn = 0; // its size's column in the file list
};

// The steps a kind's files go through, in order: the ticked built-in tools,
// then the user's own. The steps point into plan.
std::vector<ChainStep> chainSteps(const RunPlan &plan, ImageKind kind);

// A tool's plan from its tick, program and option words.
ToolPlan toolPlan(Tool tool, bool use, const QString &program, const QStringList &words);

// A user's tool's plan; one that cannot run as it stands is not used.
ExtraToolPlan extraToolPlan(const ExtraTool &tool);

// The ticked tools of the user's own that cannot run as they stand (an
// argument line that cannot be used, a program that is not there), one line
// each with its reason; empty when every ticked one can run.
QStringList unusableTickedTools(const QList<ExtraTool> &tools);

// A whole plan from the settings file's values and the user's own tools, as
// the command line uses it.
RunPlan runPlanFromSettings(const SettingValues &values, const QList<ExtraTool> &extras = {});

// How many rows run at once for a Jobs value: 0 means one per core.
int effectiveJobs(int jobs);

// The chain a listed file goes through: JPEG by its path's extension (.jpg,
// .jpeg), PNG by its caption's (.png); none for anything else.
std::optional<ImageKind> chainFor(const QString &path, const QString &fileName);

// One listed file handed to a run.
struct RowTask {
    int row = 0;
    QString path;     // as listed
    QString fileName; // the row's caption
};

} // namespace tinsoke
