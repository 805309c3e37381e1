#include "singleinstance.h"

#include <windows.h>

namespace tinsoke {

// Kernel objects and pipes of one session are shared by its users: the user
// name goes into the name.
QString instanceFilePath(const QString &name, const QString &suffix)
{
    return name + u'-' + qEnvironmentVariable("USERNAME") + suffix;
}

// A named mutex in the session's namespace: creating it is the test-and-set,
// ERROR_ALREADY_EXISTS tells that another copy holds it.
SingleInstanceGuard::SingleInstanceGuard(const QString &name)
{
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    if (mutex == nullptr)
        return;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        m_state = State::HeldByAnother;
        return;
    }
    m_state = State::Acquired;
    m_handle = reinterpret_cast<std::intptr_t>(mutex);
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    if (m_state == State::Acquired)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

} // namespace tinsoke
