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

#ifdef Q_OS_WIN
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

// How long a second start waits for the running copy to take its files: the
// copy may have taken the lock a moment ago and still be setting up.
constexpr int HandoffTimeoutMs = 10000;

// The words after the program's own name, as the system gave them.
QStringList argumentWords(int argc, char *argv[])
{
    QStringList words;
#ifdef Q_OS_WIN
    // As UTF-16: argv holds them in the ANSI code page, which not every name fits.
    Q_UNUSED(argv);
    int count = 0;
    if (wchar_t **wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count && i < argc; ++i)
            words.append(QString::fromWCharArray(wide[i]));
        ::LocalFree(wide);
    }
#else
    for (int i = 1; i < argc; ++i)
        words.append(tinsoke::pathFromBytes(QByteArray(argv[i])));
#endif
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

#ifdef Q_OS_WIN
// A window program has no console: what the command line prints goes to the
// console it was started from, where it is not redirected already.
void useStartingConsole()
{
    const bool out = ::GetStdHandle(STD_OUTPUT_HANDLE) != nullptr;
    const bool err = ::GetStdHandle(STD_ERROR_HANDLE) != nullptr;
    if ((out && err) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    tinsoke::keepRunningPastFileSizeLimit();
    // For scripts: no window, no display, no single-instance lock.
    if (wantsCommandLineMode(argc, argv)) {
#ifdef Q_OS_WIN
        useStartingConsole();
#endif
        const int code = runFromCommandLine(argc, argv);
#ifdef Q_OS_WIN
        // Every file and the memory are closed by now. The end of the MinGW C++
        // runtime's DLL can wait forever after a run: the process ends here.
        std::fflush(nullptr);
        ::TerminateProcess(::GetCurrentProcess(), UINT(code));
#endif
        return code;
    }

    const QStringList paths =
        tinsoke::pathsFromArguments(argumentWords(argc, argv), QDir::currentPath());

    // A second copy leaves before it touches the window system.
    const tinsoke::SingleInstanceGuard guard(tinsoke::singleInstanceName());
    if (guard.anotherCopyRuns())
        return handToRunningCopy(argc, argv, paths);
    return runWindow(argc, argv, guard, paths);
}
