#include "executeprocess.h"

#include <windows.h>

#include <vector>

namespace tinsoke {

void RunExternalTool(const QString &commandLine, ToolRunHost &host)
{
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION;
    si.dwX = 0;
    si.dwY = 0;
    si.dwXSize = 640;
    si.dwYSize = 480;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};

    // The system may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> buffer(commandLine.size() + 1, L'\0');
    commandLine.toWCharArray(buffer.data());

    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE,
                          CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &si, &pi)) {
        const DWORD error = ::GetLastError();
        host.reportStartFailure(startFailureMessage(error));
        return;
    }
    while (::WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT)
        host.processPendingEvents();
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
}

} // namespace tinsoke
