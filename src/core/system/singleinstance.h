#pragma once

#include <QString>

#include <cstdint>

namespace tinsoke {

// Where the named instance keeps a per-user file, such as its lock or the
// socket through which a second start hands over its files: the user's
// runtime folder when the session has one, else the temp folder with the user
// id in the name. On Windows, a name for a per-user kernel object or pipe.
QString instanceFilePath(const QString &name, const QString &suffix);

// A per-user lock that at most one process holds at a time. Taking it is a
// single test-and-set, so two copies started at the same moment cannot both
// win. The lock is released by the destructor and, whatever happens, by the
// system when the holding process ends.
class SingleInstanceGuard {
public:
    enum class State {
        Acquired,      // this process holds the lock
        HeldByAnother, // another process holds it
        Unavailable,   // no lock could be set up; the caller runs without one
    };

    explicit SingleInstanceGuard(const QString &name);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    State state() const { return m_state; }
    bool anotherCopyRuns() const { return m_state == State::HeldByAnother; }

private:
    State m_state = State::Unavailable;
    std::intptr_t m_handle = 0; // platform lock handle, valid while Acquired
};

} // namespace tinsoke
