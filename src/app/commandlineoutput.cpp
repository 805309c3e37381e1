#include "commandlineoutput.h"

#include "finishedfiles.h"
#include "paths.h"
#include "runengine.h"
#include "runtexts.h"
#include "stopsignals.h"

void print(FILE *stream, const QString &text)
{
    std::fputs(tinsoke::bytesOfPath(text).constData(), stream);
}

QString field(const QString &path)
{
    QString out;
    out.reserve(path.size());
    for (const QChar c : path) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString change(qint64 before, qint64 after)
{
    if (before <= 0)
        return QStringLiteral("0.0%");
    return QString::number(100.0 * static_cast<double>(after - before) / before, 'f', 1) + u'%';
}

QString resultLine(const QString &path, const tinsoke::RowResult &r)
{
    const bool remembered = r.outcome == tinsoke::RowResult::Outcome::Remembered;
    return QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\n")
        .arg(field(path))
        .arg(r.before)
        .arg(r.after)
        .arg(change(r.before, r.after),
             remembered         ? QStringLiteral("=")
             : r.kept.isEmpty() ? QStringLiteral("-")
                                : r.kept.join(u','),
             field(r.savedAs));
}

QString problemText(const tinsoke::RunProblem &p)
{
    QString text = QStringLiteral("%1: %2\n").arg(field(p.path), tinsoke::reasonText(p));
    const QString output = p.output.trimmed();
    if (!output.isEmpty())
        text += QStringLiteral("  ") + output.split(u'\n').join(QStringLiteral("\n  ")) + u'\n';
    return text;
}

void tell(const QString &text)
{
    print(stderr, QStringLiteral("pelmora-tinsoke: %1\n").arg(text));
}

void tellMemoryProblem(tinsoke::FinishedFiles &memory)
{
    const QString problem = memory.takeProblem();
    if (!problem.isEmpty())
        tell(problem);
}

void stopOnSignals(tinsoke::StopSignals &signals, tinsoke::RunEngine &engine, int *stoppedBy)
{
    QObject::connect(&signals, &tinsoke::StopSignals::received, &engine,
                     [&engine, stoppedBy](int number) {
                         if (*stoppedBy == 0)
                             *stoppedBy = number;
                         engine.stop();
                     });
}
