#include "utility/stat/ThreadPool.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using qel::EasyTask0;
using qel::IThreadTask;
using qel::ThreadPoolImpl;

namespace {

std::shared_ptr<IThreadTask> MakeTask(ThreadPoolImpl& pool, std::function<void()> work)
{
    auto task = std::make_shared<EasyTask0>(std::move(work));
    task->SetPool(&pool);
    return task;
}

// A one-shot gate a task can wait on and a test can open.
class Gate
{
public:
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    bool WaitOpen(std::chrono::seconds limit = std::chrono::seconds(60))
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, limit, [this] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

}  // namespace

TEST(ThreadPool, StoppedBeforeStartAndAfterStop)
{
    ThreadPoolImpl pool;
    EXPECT_TRUE(pool.IsStopped());
    pool.Stop();  // never started: nothing to do
    EXPECT_TRUE(pool.IsStopped());
    pool.Start();
    EXPECT_FALSE(pool.IsStopped());
    pool.Start();  // already running: no second worker
    pool.Stop();
    EXPECT_TRUE(pool.IsStopped());
    pool.Stop();
    EXPECT_TRUE(pool.IsStopped());
}

TEST(ThreadPool, OneWorkerRunsTasksInPostingOrderOnItsOwnThread)
{
    ThreadPoolImpl pool;
    pool.Start();
    std::mutex lock;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    Gate done;
    for (int i = 1; i <= 3; ++i) {
        pool.Post(MakeTask(pool, [&, i] {
            std::lock_guard<std::mutex> guard(lock);
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            if (i == 3)
                done.Open();
        }));
    }
    ASSERT_TRUE(done.WaitOpen());
    pool.Stop();
    EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
    ASSERT_EQ(3u, threads.size());
    EXPECT_NE(std::this_thread::get_id(), threads[0]);
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_EQ(threads[0], threads[2]);
}

TEST(ThreadPool, StopWaitsForTheRunningTaskAndDropsTheQueuedOnes)
{
    ThreadPoolImpl pool;
    pool.Start();
    Gate started;
    std::atomic<bool> sawStop{false};
    std::atomic<bool> firstFinished{false};
    std::atomic<int> queuedRuns{0};
    pool.Post(MakeTask(pool, [&] {
        started.Open();
        for (int i = 0; i < 60000 && !pool.IsStopped(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawStop = pool.IsStopped();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        firstFinished = true;
    }));
    std::weak_ptr<IThreadTask> queued;
    {
        auto task = MakeTask(pool, [&] { ++queuedRuns; });
        queued = task;
        pool.Post(task);
        pool.Post(MakeTask(pool, [&] { ++queuedRuns; }));
    }
    ASSERT_TRUE(started.WaitOpen());
    pool.Stop();
    EXPECT_TRUE(sawStop) << "the task should still have been running when Stop began";
    EXPECT_TRUE(firstFinished) << "Stop returned before the running task ended";
    EXPECT_EQ(0, queuedRuns.load());
    EXPECT_TRUE(queued.expired()) << "dropped tasks must be released";
    EXPECT_FALSE(pool.HasPendingTasks());
}

TEST(ThreadPool, StartAfterStopRunsNewTasks)
{
    ThreadPoolImpl pool;
    pool.Start();
    pool.Stop();
    pool.Start();
    Gate ran;
    pool.Post(MakeTask(pool, [&] { ran.Open(); }));
    EXPECT_TRUE(ran.WaitOpen());
    pool.Stop();
}

// A post into an idle pool must wake the worker every time: a lost wake-up leaves the task
// waiting for a later post, which never comes here.
TEST(ThreadPool, EveryPostIntoAnIdlePoolIsRun)
{
    ThreadPoolImpl pool;
    pool.Start();
    for (int i = 0; i < 500; ++i) {
        auto ran = std::make_shared<Gate>();
        pool.Post(MakeTask(pool, [ran] { ran->Open(); }));
        ASSERT_TRUE(ran->WaitOpen(std::chrono::seconds(30))) << "post " << i << " was not run";
    }
    pool.Stop();
}

TEST(ThreadPool, ManyPostsFromTwoThreadsRunExactlyOnce)
{
    const int perThread = 3000;
    ThreadPoolImpl pool;
    pool.Start();
    std::vector<std::atomic<int>> runs(2 * perThread);
    std::atomic<int> total{0};
    Gate allRan;
    auto poster = [&](int first) {
        for (int i = first; i < first + perThread; ++i) {
            pool.Post(MakeTask(pool, [&, i] {
                ++runs[i];
                if (++total == 2 * perThread)
                    allRan.Open();
            }));
            if (i % 64 == 0)
                std::this_thread::yield();
        }
    };
    std::thread a(poster, 0);
    std::thread b(poster, perThread);
    a.join();
    b.join();
    ASSERT_TRUE(allRan.WaitOpen(std::chrono::seconds(300))) << total.load() << " of " << 2 * perThread << " ran";
    pool.Stop();
    EXPECT_EQ(2 * perThread, total.load());
    for (int i = 0; i < 2 * perThread; ++i)
        ASSERT_EQ(1, runs[i].load()) << "task " << i;
}

TEST(ThreadPool, WorkerIsASingleThreadedComApartment)
{
    ThreadPoolImpl pool;
    pool.Start();
    Gate ran;
    HRESULT again = E_FAIL;
    pool.Post(MakeTask(pool, [&] {
        again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(again))
            CoUninitialize();
        ran.Open();
    }));
    ASSERT_TRUE(ran.WaitOpen());
    pool.Stop();
    EXPECT_EQ(S_FALSE, again) << "COM was already initialised as an STA on the worker";
}
