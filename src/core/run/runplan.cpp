#include "runplan.h"

#include "fileops.h"
#include "paths.h"

#include <QDir>
#include <QThread>

namespace tinsoke {

SaveMethod saveMethodOf(int number)
{
    return number >= 0 && number <= 2 ? static_cast<SaveMethod>(number) : SaveMethod::None;
}

ToolPlan toolPlan(Tool tool, bool use, const QString &program, const QStringList &words)
{
    ToolPlan plan;
    plan.use = use && !program.isEmpty();
    plan.program = program;
    plan.words = words;
    plan.allow = toolInfo(tool).allowances(plan.words);
    return plan;
}

std::vector<ChainStep> chainSteps(const RunPlan &plan, ImageKind kind)
{
    std::vector<ChainStep> steps;
    for (const Tool tool : AllTools) {
        const ToolInfo &info = toolInfo(tool);
        const ToolPlan &step = plan.tools.at(static_cast<std::size_t>(tool));
        if (info.kind == kind && step.use)
            steps.push_back({QString::fromUtf16(info.name), false, &step, info.output,
                             info.arguments, info.alsoFine, info.column});
    }
    for (qsizetype i = 0; i < plan.extras.size(); ++i) {
        const ExtraToolPlan &extra = plan.extras.at(i);
        if (extra.kind == kind && extra.plan.use)
            steps.push_back(
                {extra.name, true, &extra.plan,
                 writesSecondFile(extra.plan.words) ? Output::TemporaryFile : Output::InPlace,
                 extraToolArguments, 0, FirstOwnToolColumn + int(i)});
    }
    return steps;
}

ExtraToolPlan extraToolPlan(const ExtraTool &tool)
{
    ExtraToolPlan extra;
    extra.name = tool.name;
    extra.kind = tool.kind;
    // A bare name is looked up on PATH, as the page offers it.
    extra.plan.program = tool.path.contains(u'/') || QDir::isAbsolutePath(tool.path)
                             ? tool.path
                             : findProgramOnPath(tool.path);
    extra.plan.use = tool.use && extraToolProblem(tool).isEmpty() &&
                     splitShellWords(tool.args, &extra.plan.words);
    return extra; // no option of its own may change the picture
}

QStringList unusableTickedTools(const QList<ExtraTool> &tools)
{
    QStringList lines;
    for (const ExtraTool &tool : tools) {
        if (!tool.use)
            continue;
        QString problem = extraToolProblem(tool);
        if (problem.isEmpty() && !namesUsableProgram(extraToolPlan(tool).plan.program))
            problem = QStringLiteral("プログラム %1 が見つかりません").arg(tool.path);
        if (!problem.isEmpty())
            lines.append(
                QStringLiteral("追加ツール「%1」は使えません（%2）。").arg(tool.name, problem));
    }
    return lines;
}

RunPlan runPlanFromSettings(const SettingValues &values, const QList<ExtraTool> &extras)
{
    RunPlan plan;
    for (const ExtraTool &tool : extras)
        plan.extras.append(extraToolPlan(tool));
    for (const Tool tool : AllTools) {
        plan.tools.at(static_cast<std::size_t>(tool)) =
            toolPlan(tool, valueOf(values, toolUseSetting(tool)).toBool(),
                     valueOf(values, toolPathSetting(tool)).toString(),
                     toolInfo(tool).options(toolSettings(values, tool)));
    }
    plan.saveMethod = saveMethodOf(valueOf(values, Setting::SaveMode).toInt());
    plan.jobs = valueOf(values, Setting::Jobs).toInt();
#ifndef Q_OS_WIN
    plan.originals = valueOf(values, Setting::Originals).toInt() == int(Originals::Trash)
                         ? Originals::Trash
                         : Originals::Keep;
#endif // this Trash is the freedesktop one; Windows keeps nothing yet
    return plan;
}

std::optional<ImageKind> chainFor(const QString &path, const QString &fileName)
{
    const QString ext = fileExtension(path).toLower();
    if (ext == u".jpg" || ext == u".jpeg")
        return ImageKind::Jpeg;
    if (fileExtension(fileName).toLower() == u".png")
        return ImageKind::Png;
    return std::nullopt;
}

int effectiveJobs(int jobs)
{
    return jobs > 0 ? jobs : qMax(1, QThread::idealThreadCount());
}

} // namespace tinsoke
