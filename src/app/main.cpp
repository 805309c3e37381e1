#include "appinfo.h"
#include "commandlinerun.h"
#include "pathhandoff.h"
#include "paths.h"
#include "programicon.h"
#include "programstyle.h"
#include "singleinstance.h"
#include "stopsignals.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

// How long a second start waits for the running copy to take its files: the
// copy may have taken the lock a moment ago and still be setting up.
constexpr int HandoffTimeoutMs = 10000;

// The words after the program's own name, as the system gave them.
QStringList argumentWords(int argc, char *argv[])
{
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(tinsoke::pathFromBytes(QByteArray(argv[i])));
    return words;
}

QString handoffSocketPath()
{
    return tinsoke::instanceFilePath(tinsoke::singleInstanceName(), QStringLiteral(".socket"));
}

// A second start: its files go to the list of the copy that runs, and it ends
// without a window. Without files it ends at once, silently.
int handToRunningCopy(int argc, char *argv[], const QStringList &paths)
{
    if (paths.isEmpty())
        return 0;
    // The socket wants an application object; the window system is never touched.
    const QCoreApplication app(argc, argv);
    if (handPathsToRunningCopy(handoffSocketPath(), paths, HandoffTimeoutMs))
        return 0;
    std::fputs("Pelmora Tinsoke: 起動中のプログラムにファイルを渡せませんでした。\n", stderr);
    return 1;
}

int runWindow(int argc, char *argv[], const tinsoke::SingleInstanceGuard &guard,
              const QStringList &paths)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(tinsoke::applicationTitle());
    QApplication::setDesktopFileName(QStringLiteral("pelmora-tinsoke"));
    QApplication::setWindowIcon(programIcon());
    installProgramStyle();

    TForm1 form;
    // SIGTERM, SIGINT and SIGHUP stop a run as 中止 does, then the window closes.
    tinsoke::StopSignals stopSignals;
    QObject::connect(&stopSignals, &tinsoke::StopSignals::received, &form, [&form] {
        form.stopRun();
        form.close();
    });
    PathHandoffServer handoff;
    QObject::connect(&handoff, &PathHandoffServer::pathsReceived, &form,
                     [&form](const QStringList &handed) {
                         form.addPaths(handed);
                         form.raise();
                         form.activateWindow();
                     });
    if (guard.state() == tinsoke::SingleInstanceGuard::State::Acquired)
        handoff.listen(handoffSocketPath()); // without it, later starts are told they failed

    form.findToolsOnPath();
    form.addPaths(paths);
    form.show();
    QApplication::exec();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    tinsoke::keepRunningPastFileSizeLimit();
    // For scripts: no window, no display, no single-instance lock.
    if (wantsCommandLineMode(argc, argv))
        return runFromCommandLine(argc, argv);

    const QStringList paths =
        tinsoke::pathsFromArguments(argumentWords(argc, argv), QDir::currentPath());

    // A second copy leaves before it touches the window system.
    const tinsoke::SingleInstanceGuard guard(tinsoke::singleInstanceName());
    if (guard.anotherCopyRuns())
        return handToRunningCopy(argc, argv, paths);
    return runWindow(argc, argv, guard, paths);
}
