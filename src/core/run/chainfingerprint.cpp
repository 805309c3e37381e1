#include "chainfingerprint.h"

#include "paths.h"
#include "privatefiles.h"
#include "resultcheck.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace tinsoke {

namespace {

// What a program is as far as a result can tell: where it really is, its
// size and its times. Another program at the same path is another program.
QByteArray programIdentity(const QString &program)
{
    const QString found = program.contains(u'/') || QDir::isAbsolutePath(program)
                              ? program
                              : findProgramOnPath(program);
    const QString real = QFileInfo(found).canonicalFilePath();
    const FileIdentity id = FileIdentity::of(real);
    return bytesOfPath(real.isEmpty() ? program : real) + '\n' + QByteArray::number(id.size) + ' ' +
           QByteArray::number(id.modifiedNs) + ' ' + QByteArray::number(id.changedNs) + ' ' +
           QByteArray::number(id.inode);
}

void addStep(QByteArray &text, const QString &name, const ToolPlan &plan)
{
    text += "tool " + name.toUtf8() + '\n' + programIdentity(plan.program) + '\n';
    for (const QString &word : plan.words)
        text += "  " + word.toUtf8() + '\0';
    text += '\n';
}

} // namespace

QByteArray chainFingerprint(const RunPlan &plan, ImageKind kind)
{
    QByteArray text;
    for (const ChainStep &step : chainSteps(plan, kind))
        addStep(text, step.own ? QStringLiteral("own ") + step.name : step.name, *step.plan);
    if (text.isEmpty())
        return {};
    text.prepend("pelmora-tinsoke " TINSOKE_VERSION "\ncheck " +
                 QByteArray::number(ResultCheckRules) + '\n' +
                 (kind == ImageKind::Png ? "PNG\n" : "JPEG\n"));
    return QCryptographicHash::hash(text, QCryptographicHash::Blake2b_256);
}

} // namespace tinsoke
