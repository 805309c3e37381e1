// A stand-in optimizer for the Windows tests, a plain Windows program. What
// it does is told by the first line of the file beside it with its own name
// and ".txt" in place of ".exe"; the last argument is the file it works on:
//   copy SOURCE  copies SOURCE over the file (a smaller result)
//   exit N       ends with exit code N, the file untouched
//   crash        ends as an access violation does
//   hang         never ends (writes its process id to the file + ".pid")
//   spawn        starts a copy of itself that hangs, then ends
//   args FILE    writes its arguments, as CommandLineToArgvW reads them, to FILE
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring ownPath()
{
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
    return std::wstring(buffer, n);
}

std::wstring firstLine(const std::wstring &path)
{
    FILE *f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return std::wstring();
    char buffer[4096] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    std::string line(buffer, n);
    line = line.substr(0, line.find_first_of("\r\n"));
    std::wstring wide(
        size_t(::MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0)),
        L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), wide.data(), int(wide.size()));
    return wide;
}

void writeText(const std::wstring &path, const std::wstring &text)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string bytes(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), n, nullptr,
                          nullptr);
    FILE *f = _wfopen(path.c_str(), L"wb");
    if (!f)
        std::exit(90);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

[[noreturn]] void hangWritingPid(const std::wstring &pidFile)
{
    writeText(pidFile + L".tmp", std::to_wstring(::GetCurrentProcessId()));
    ::MoveFileExW((pidFile + L".tmp").c_str(), pidFile.c_str(), MOVEFILE_REPLACE_EXISTING);
    for (;;)
        ::Sleep(1000);
}

} // namespace

int wmain()
{
    int argc = 0;
    wchar_t **argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const std::wstring self = ownPath();
    const std::wstring target = argc > 1 ? argv[argc - 1] : L"";
    const std::wstring order = firstLine(self.substr(0, self.size() - 4) + L".txt");
    const std::wstring word = order.substr(0, order.find(L' '));
    const std::wstring rest =
        order.find(L' ') == std::wstring::npos ? L"" : order.substr(order.find(L' ') + 1);

    if (word == L"copy")
        return ::CopyFileW(rest.c_str(), target.c_str(), FALSE) ? 0 : 91;
    if (word == L"exit") {
        std::fputs("the fake tool says no\n", stderr);
        return std::stoi(rest);
    }
    if (word == L"crash") // ends as an access violation ends it, without a debugger's help
        ::TerminateProcess(::GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
    if (word == L"hang")
        hangWritingPid(target + L".pid");
    if (word == L"child")
        hangWritingPid(rest);
    if (word == L"spawn") {
        // The child is told by the order file of a second name: copy ourselves.
        const std::wstring child = self.substr(0, self.size() - 4) + L"-child.exe";
        ::CopyFileW(self.c_str(), child.c_str(), FALSE);
        writeText(child.substr(0, child.size() - 4) + L".txt", L"child " + target + L".pid");
        std::wstring line = L"\"" + child + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(child.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info))
            return 92;
        // Ends once the child is there, leaving it running.
        const std::wstring pidFile = target + L".pid";
        while (::GetFileAttributesW(pidFile.c_str()) == INVALID_FILE_ATTRIBUTES)
            ::Sleep(20);
        return 0;
    }
    if (word == L"args") {
        std::wstring all;
        for (int i = 1; i < argc; ++i)
            all += std::wstring(argv[i]) + L"\n";
        writeText(rest, all);
        return 0;
    }
    return 99;
}
