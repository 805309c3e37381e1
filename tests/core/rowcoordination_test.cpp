#include "executeprocess.h"
#include "privatefiles.h"
#include "rowcoordination.h"

#include <QMutex>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

using namespace tinsoke;

namespace {

// Only a guard against a wait that never ends: a waiter that still waits
// then fails the test instead of hanging it.
constexpr auto HangGuard = std::chrono::seconds(10);

// The waits have no timeout: a waiter that returns was woken.
bool returns(std::future<bool> &waiter)
{
    return waiter.wait_for(HangGuard) == std::future_status::ready;
}

// Whether a stop ended waiter's wait, refused; free lets it go otherwise.
bool stopEnds(std::future<bool> &waiter, const std::function<void()> &free)
{
    if (returns(waiter))
        return !waiter.get();
    free();
    waiter.wait();
    return false;
}

// What the rows did, in the order they did it.
class Log {
public:
    void add(int what)
    {
        const QMutexLocker lock(&m_mutex);
        m_entries.push_back(what);
    }
    std::vector<int> entries()
    {
        const QMutexLocker lock(&m_mutex);
        return m_entries;
    }

private:
    QMutex m_mutex;
    std::vector<int> m_entries;
};

// Gives a thread just started the time to reach its wait; the outcome does
// not depend on it.
void letItWait()
{
    QThread::msleep(50);
}

void stopFromAnotherThread(RunningTools &running)
{
    std::thread([&running] { running.stopAll(); }).join();
}

FileIdentity fileNumber(quint64 inode)
{
    FileIdentity id;
    id.exists = id.regular = true;
    id.device = 1;
    id.inode = inode;
    return id;
}

} // namespace

TEST(RowCoordinationTest, RowsOfOneFileTakeTurnsAndAStopFreesTheWaiter)
{
    FileLocks locks;
    RunningTools running;
    const FileIdentity file = fileNumber(42);
    ASSERT_TRUE(locks.acquire(file, running));
    EXPECT_TRUE(locks.acquire(fileNumber(43), running)); // another file does not wait

    Log log;
    auto second = std::async(std::launch::async, [&] {
        const bool got = locks.acquire(file, running);
        log.add(2);
        locks.release(file);
        return got;
    });
    letItWait();
    log.add(1);
    locks.release(file);
    ASSERT_TRUE(returns(second));
    EXPECT_TRUE(second.get());
    EXPECT_EQ(log.entries(), (std::vector<int>{1, 2}));

    // A stop from a third thread frees a row waiting for the file at once.
    ASSERT_TRUE(locks.acquire(file, running));
    auto waiter = std::async(std::launch::async, [&] { return locks.acquire(file, running); });
    letItWait();
    stopFromAnotherThread(running);
    const auto free = [&] {
        locks.release(file);
    };
    EXPECT_TRUE(stopEnds(waiter, free));
    // After the stop no row waits any more; a free file is still taken.
    auto late = std::async(std::launch::async, [&] { return locks.acquire(file, running); });
    EXPECT_TRUE(stopEnds(late, free));
    EXPECT_TRUE(locks.acquire(fileNumber(44), running));
}

TEST(RowCoordinationTest, NamesThatCouldMeetSaveInListOrderAcrossLots)
{
    SaveOrder order;
    RunningTools running;
    order.plan({{0, QStringLiteral("/a/x.png"), {}},
                {1, QStringLiteral("/b/x.png"), {}},
                {2, QStringLiteral("/b/y.png"), {}}},
               SaveMethod::ResultFolder);
    order.plan({{3, QStringLiteral("/c/x_.png"), {}}, {4, QStringLiteral("/c/z.png"), {}}},
               SaveMethod::ResultFolder);
    EXPECT_TRUE(order.waitTurn(2, running)); // no name met: no wait
    EXPECT_TRUE(order.waitTurn(4, running));

    Log log;
    const auto row = [&](int number) {
        return std::async(std::launch::async, [&, number] {
            const bool turn = order.waitTurn(number, running);
            log.add(number);
            order.done(number);
            return turn;
        });
    };
    auto fourth = row(3); // started before the rows it follows
    auto second = row(1);
    letItWait();
    log.add(0);
    order.done(0);
    ASSERT_TRUE(returns(second));
    ASSERT_TRUE(returns(fourth));
    EXPECT_TRUE(second.get());
    EXPECT_TRUE(fourth.get());
    EXPECT_EQ(log.entries(), (std::vector<int>{0, 1, 3}));

    // A row waiting for one that never saves is freed by a stop.
    order.plan({{5, QStringLiteral("/d/w.png"), {}}, {6, QStringLiteral("/e/w.png"), {}}},
               SaveMethod::ResultFolder);
    auto waiter = std::async(std::launch::async, [&] { return order.waitTurn(6, running); });
    letItWait();
    stopFromAnotherThread(running);
    EXPECT_TRUE(stopEnds(waiter, [&] { order.done(5); }));
}
