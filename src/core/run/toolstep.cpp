#include "toolstep.h"

#include "fileops.h"
#include "paths.h"
#include "privatefiles.h"
#include "resultcheck.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <utility>

namespace tinsoke {

namespace {

// What a tool printed, as the user can use it: the private copies it was
// given, gone by the time anyone reads this, are named by the user's file.
QString outputText(const ToolOutcome &outcome, const QStringList &privatePaths,
                   const QString &rowFolder, const QString &userPath)
{
    QString text = QString::fromLocal8Bit(outcome.output);
    for (const QString &path : privatePaths)
        if (!path.isEmpty())
            text.replace(path, userPath);
    text.replace(QRegularExpression(QRegularExpression::escape(rowFolder) + QStringLiteral("\\S*")),
                 userPath);
    if (outcome.outputCut)
        text += QStringLiteral("\n…");
    return text;
}

RunProblem stepProblem(RunProblem::Reason reason, RunProblem::Kind kind, const ChainStep &step,
                       const StepPlace &place, const QString &detail = QString())
{
    RunProblem p;
    p.reason = reason;
    p.kind = kind;
    p.path = place.userPath;
    p.detail = detail;
    p.tool = step.name;
    return p;
}

} // namespace

StepResult runToolStep(RunShared &shared, const ChainStep &step, int number, const StepPlace &place,
                       Gate &gate)
{
    StepResult result;
    const ToolPlan &plan = *step.plan;
    const qint64 sizeBefore = FileIdentity::of(place.working).size;
    // Every tool reads a private copy of its own: one that damages the file
    // it reads costs only its own step.
    const QString stepFolder = place.folder + QStringLiteral("/step%1").arg(number);
    const QString input = stepFolder + u'/' + fileNameOf(place.working);
    QString error;
    if (!QDir().mkdir(stepFolder) || !copyPrivateFile(place.working, input, &error)) {
        result.problem =
            stepProblem(RunProblem::Reason::StepCopyFailed, RunProblem::Kind::ToolFailed, step,
                        place, error.isEmpty() ? stepFolder : error);
        return result;
    }
    QString output;
    switch (step.output) {
    case Output::InPlace:
        output = input;
        break;
    case Output::BesideWithJpg:
        output = input + QStringLiteral(".jpg");
        break;
    case Output::TemporaryFile:
        // With the picture's own extension: some tools go by it.
        output = place.folder + QStringLiteral("/step%1-out").arg(number) +
                 fileExtension(place.working).toLower();
        break;
    }

    const ToolOutcome outcome = shared.runTool(
        plan.program, step.arguments(plan.words, input, output), place.folder, shared.running);
    if (outcome.stopped)
        return result;
    if (!outcome.started()) {
        RunProblem p = stepProblem(RunProblem::Reason::ToolNotStarted, RunProblem::Kind::NotStarted,
                                   step, place);
        p.systemError = outcome.startError;
        result.problem = std::move(p);
        return result; // its column stays empty: it did not run
    }
    result.size = sizeBefore;
    const auto printed = [&] {
        return outputText(outcome, {output, input, place.working}, place.folder, place.userPath);
    };
    if (!outcome.exited) {
        RunProblem p =
            stepProblem(RunProblem::Reason::ToolCrashed, RunProblem::Kind::ToolFailed, step, place);
        p.signal = outcome.signal;
        p.output = printed();
        result.problem = std::move(p);
        return result;
    }
    if (outcome.exitCode != 0 && outcome.exitCode != step.alsoFine) {
        RunProblem p = stepProblem(RunProblem::Reason::ToolExitCode, RunProblem::Kind::ToolFailed,
                                   step, place);
        p.exitCode = outcome.exitCode;
        p.output = printed();
        result.problem = std::move(p);
        return result;
    }
    const QString ready = place.folder + QStringLiteral("/step%1.kept").arg(number);
    const Verdict verdict = gate.judge(place.working, output, ready, plan.allow);
    if (!verdict.accepted) {
        if (!verdict.notSmaller) {
            RunProblem p = verdict.why;
            p.path = place.userPath;
            p.tool = step.name;
            p.output = printed();
            p.kind = verdict.missing ? RunProblem::Kind::ToolFailed : RunProblem::Kind::Refused;
            result.problem = std::move(p);
        }
        return result;
    }
    if (!QFile::remove(place.working) || !QFile::rename(ready, place.working)) {
        result.problem = stepProblem(RunProblem::Reason::ResultNotTaken,
                                     RunProblem::Kind::ToolFailed, step, place);
        return result;
    }
    result.size = FileIdentity::of(place.working).size;
    result.kept = true;
    return result;
}

} // namespace tinsoke
