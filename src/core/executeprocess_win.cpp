#include "executeprocess.h"

#include <QProcess>

#include <windows.h>

namespace tinsoke {

void endToolGroup(qint64 id)
{
    if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id))) {
        ::TerminateProcess(process, 1);
        ::CloseHandle(process);
    }
}

ToolOutcome startAndWaitForTool(const QString &program, const QStringList &arguments,
                                const QString &folder, RunningTools &running)
{
    ToolOutcome outcome;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        outcome.startError = static_cast<int>(::GetLastError());
        if (outcome.startError == 0)
            outcome.startError = ERROR_FILE_NOT_FOUND;
        return outcome;
    }
    const qint64 id = process.processId();
    if (!running.add(id))
        process.kill();
    while (!process.waitForFinished(100)) {
        const QByteArray chunk = process.readAll();
        const qsizetype room = ToolOutputLimit - outcome.output.size();
        outcome.output.append(chunk.left(qMax<qsizetype>(room, 0)));
        outcome.outputCut = outcome.outputCut || chunk.size() > room;
        if (process.state() == QProcess::NotRunning)
            break;
    }
    outcome.output.append(process.readAll().left(ToolOutputLimit - outcome.output.size()));
    running.remove(id);
    outcome.exited = process.exitStatus() == QProcess::NormalExit;
    outcome.exitCode = outcome.exited ? process.exitCode() : -1;
    outcome.stopped = running.stopped();
    return outcome;
}

} // namespace tinsoke
