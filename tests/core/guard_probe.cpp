// Takes the single-instance lock as the program does, says what it found,
// and holds the lock for the given number of milliseconds if it got it.
//   guard_probe NAME HOLD_MS
#include "singleinstance.h"

#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    const tinsoke::SingleInstanceGuard guard(QString::fromLocal8Bit(argv[1]));
    switch (guard.state()) {
    case tinsoke::SingleInstanceGuard::State::Acquired:
        std::puts("acquired");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        break;
    case tinsoke::SingleInstanceGuard::State::HeldByAnother:
        std::puts("held");
        break;
    case tinsoke::SingleInstanceGuard::State::Unavailable:
        std::puts("unavailable");
        break;
    }
    return 0;
}
