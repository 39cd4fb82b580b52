#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qel {

class IThreadPool
{
public:
    virtual bool IsStopped() const = 0;
    virtual ~IThreadPool() = default;
};

// A unit of work for the pool. Tasks live in shared pointers (queue, worker and poster each hold
// one), so the interface needs no virtual destructor.
class IThreadTask
{
public:
    virtual void SetPool(IThreadPool* pool) = 0;
    virtual void Cancel() = 0;
    virtual void Run() = 0;

protected:
    ~IThreadTask() = default;
};

// The task that wraps a callable.
class EasyTask0 final : public IThreadTask
{
public:
    explicit EasyTask0(std::function<void()> work) : m_work(std::move(work)) {}
    ~EasyTask0() = default;

    void SetPool(IThreadPool* pool) override { m_pool = pool; }
    void Cancel() override {}
    void Run() override { m_work(); }

private:
    IThreadPool* m_pool = nullptr;
    std::function<void()> m_work;
};

// A fixed number of worker threads (one unless changed) that run posted tasks oldest first.
// Every worker is a COM single-threaded apartment with OLE initialised.
class ThreadPoolImpl : public IThreadPool
{
public:
    ThreadPoolImpl() = default;
    ~ThreadPoolImpl() override;
    ThreadPoolImpl(const ThreadPoolImpl&) = delete;
    ThreadPoolImpl& operator=(const ThreadPoolImpl&) = delete;

    bool IsStopped() const override;

    // Starts the workers; does nothing when the pool already runs.
    void Start();
    // Queues the task and wakes one worker. The caller has given the task the pool with SetPool.
    void Post(std::shared_ptr<IThreadTask> task);
    // Wakes every worker, waits for the tasks that run now and drops the queued ones.
    void Stop();

    bool HasPendingTasks() const;

protected:
    void SetThreadCount(int count) { m_threadCount = count; }

private:
    void WorkerLoop(int index);
    std::shared_ptr<IThreadTask> TakeOldestPending();

    std::list<std::shared_ptr<IThreadTask>> m_runningTasks;
    std::mutex m_runningLock;
    std::list<std::shared_ptr<IThreadTask>> m_pendingTasks;
    mutable std::mutex m_pendingLock;
    std::mutex m_waitLock;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_running{false};
    std::condition_variable m_wakeUp;
    int m_threadCount = 1;
};

}  // namespace qel
