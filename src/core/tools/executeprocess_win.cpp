#include "executeprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

#include <windows.h>

namespace tinsoke {

// A tool's "group" here is the job object it runs in: ending the job ends the
// tool and everything it started, and closing its last handle (our own, when
// the program ends in any way) ends them too.
void endToolGroup(qint64 group)
{
    ::TerminateJobObject(reinterpret_cast<HANDLE>(group), 1);
}

namespace {

// The command line CreateProcessW gets, each argument quoted so that
// CommandLineToArgvW, and the C runtime of the tool, read it back as it was.
QString quotedCommandLine(const QString &program, const QStringList &arguments)
{
    // The program's name is read up to the next quote or blank, without escapes;
    // no name of a file holds a quote.
    QString line = program.contains(u' ') || program.contains(u'\t') || program.isEmpty()
                       ? u'"' + program + u'"'
                       : program;
    for (const QString &argument : arguments) {
        line += u' ';
        if (!argument.isEmpty() && !argument.contains(u' ') && !argument.contains(u'\t') &&
            !argument.contains(u'\n') && !argument.contains(u'\v') && !argument.contains(u'"')) {
            line += argument;
            continue;
        }
        // Backslashes are plain unless a quote follows them: before a quote,
        // and before the closing one, each is doubled.
        line += u'"';
        int backslashes = 0;
        for (const QChar c : argument) {
            if (c == u'\\') {
                ++backslashes;
                continue;
            }
            if (c == u'"')
                line += QString(backslashes * 2 + 1, u'\\');
            else
                line += QString(backslashes, u'\\');
            backslashes = 0;
            line += c;
        }
        line += QString(backslashes * 2, u'\\');
        line += u'"';
    }
    return line;
}

// The handles a tool inherits are made inheritable only while this is held,
// so a tool started at the same time on another thread never gets another
// tool's pipe, which would keep that pipe open after its own tool ended.
QMutex inheritLock;

class Handle {
public:
    explicit Handle(HANDLE h = nullptr)
        : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h)
    {}
    ~Handle() { reset(); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return m_h; }
    HANDLE *out() { return &m_h; }
    void reset(HANDLE h = nullptr)
    {
        if (m_h)
            ::CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h;
};

// The program as the system will run it: a bare name is looked up along PATH.
QString resolveProgram(const QString &program)
{
    if (program.isEmpty())
        return {};
    if (program.contains(u'/') || program.contains(u'\\'))
        return QDir::toNativeSeparators(QFileInfo(program).absoluteFilePath());
    return QDir::toNativeSeparators(QStandardPaths::findExecutable(program));
}

const wchar_t *wide(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

// Reads what is there without waiting.
void drain(HANDLE pipe, ToolOutcome &outcome)
{
    char buffer[16384];
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0)
            return;
        DWORD n = 0;
        if (!::ReadFile(pipe, buffer, qMin<DWORD>(available, sizeof buffer), &n, nullptr) || n == 0)
            return;
        const qsizetype room = ToolOutputLimit - outcome.output.size();
        if (room > 0)
            outcome.output.append(buffer, qMin<qsizetype>(room, n));
        if (qsizetype(n) > room)
            outcome.outputCut = true;
    }
}

} // namespace

ToolOutcome startAndWaitForTool(const QString &program, const QStringList &arguments,
                                const QString &folder, RunningTools &running)
{
    ToolOutcome outcome;
    const QString resolved = resolveProgram(program);
    if (resolved.isEmpty()) {
        outcome.startError = ERROR_FILE_NOT_FOUND;
        return outcome;
    }
    if (QFileInfo(resolved).isDir()) {
        outcome.startError = ERROR_ACCESS_DENIED;
        return outcome;
    }

    Handle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job.get()) {
        outcome.startError = int(::GetLastError());
        return outcome;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    Handle readEnd;
    Handle writeEnd;
    SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    if (!::CreatePipe(readEnd.out(), writeEnd.out(), &plain, 64 * 1024)) {
        outcome.startError = int(::GetLastError());
        return outcome;
    }
    Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &plain,
                               OPEN_EXISTING, 0, nullptr));

    // CreateProcessW may change the text it is given.
    std::wstring commandLine = quotedCommandLine(program, arguments).toStdWString();
    const QString nativeFolder = QDir::toNativeSeparators(folder);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    {
        const QMutexLocker lock(&inheritLock);
        ::SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        if (input.get())
            ::SetHandleInformation(input.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        // Suspended until it is in its job, so nothing it starts escapes it.
        started = ::CreateProcessW(wide(resolved), commandLine.data(), nullptr, nullptr, TRUE,
                                   CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                                   nullptr, folder.isEmpty() ? nullptr : wide(nativeFolder),
                                   &startup, &info);
        if (!started)
            outcome.startError = int(::GetLastError());
        writeEnd.reset();
        input.reset();
    }
    if (!started) {
        if (outcome.startError == 0)
            outcome.startError = ERROR_FILE_NOT_FOUND;
        return outcome;
    }
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    if (!::AssignProcessToJobObject(job.get(), process.get())) {
        outcome.startError = int(::GetLastError());
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), INFINITE);
        return outcome;
    }
    const qint64 group = reinterpret_cast<qint64>(job.get());
    if (!running.add(group))
        ::TerminateJobObject(job.get(), 1);
    ::ResumeThread(thread.get());

    // Looks at the output every 20 ms until the tool ends; what it started and
    // left holding the pipe is not waited for.
    while (::WaitForSingleObject(process.get(), 20) == WAIT_TIMEOUT)
        drain(readEnd.get(), outcome);
    drain(readEnd.get(), outcome);
    running.remove(group);
    ::TerminateJobObject(job.get(), 1); // anything the tool left running

    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    outcome.exited = true; // Windows has no signals; a crash is told by its exit code
    outcome.exitCode = int(code);
    outcome.stopped = running.stopped();
    return outcome;
}

} // namespace tinsoke
