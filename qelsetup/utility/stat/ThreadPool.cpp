#include "ThreadPool.h"

#include <ole2.h>
#include <objbase.h>

namespace qel {

ThreadPoolImpl::~ThreadPoolImpl()
{
    Stop();
}

bool ThreadPoolImpl::IsStopped() const
{
    return !m_running.load();
}

void ThreadPoolImpl::Start()
{
    if (m_running.exchange(true))
        return;
    for (int index = 0; index < m_threadCount; ++index)
        m_threads.emplace_back(&ThreadPoolImpl::WorkerLoop, this, index);
}

// A worker tests for work and starts waiting under the wait lock; Post and Stop signal under
// the same lock, so a signal can never fall between the test and the wait.
void ThreadPoolImpl::Post(std::shared_ptr<IThreadTask> task)
{
    {
        std::lock_guard<std::mutex> pending(m_pendingLock);
        m_pendingTasks.push_back(std::move(task));
    }
    std::lock_guard<std::mutex> wait(m_waitLock);
    m_wakeUp.notify_one();
}

void ThreadPoolImpl::Stop()
{
    if (!m_running.exchange(false))
        return;
    {
        std::lock_guard<std::mutex> wait(m_waitLock);
        m_wakeUp.notify_all();
    }
    {
        std::lock_guard<std::mutex> running(m_runningLock);
        for (const auto& task : m_runningTasks)
            task->Cancel();
    }
    for (auto& thread : m_threads)
        thread.join();
    {
        std::lock_guard<std::mutex> pending(m_pendingLock);
        m_pendingTasks.clear();
    }
    m_threads.clear();
}

bool ThreadPoolImpl::HasPendingTasks() const
{
    std::lock_guard<std::mutex> pending(m_pendingLock);
    return !m_pendingTasks.empty();
}

std::shared_ptr<IThreadTask> ThreadPoolImpl::TakeOldestPending()
{
    std::lock_guard<std::mutex> pending(m_pendingLock);
    if (m_pendingTasks.empty())
        return nullptr;
    std::shared_ptr<IThreadTask> task = std::move(m_pendingTasks.front());
    m_pendingTasks.pop_front();
    return task;
}

void ThreadPoolImpl::WorkerLoop(int /*index*/)
{
    CoInitialize(nullptr);
    OleInitialize(nullptr);
    while (m_running.load()) {
        {
            std::unique_lock<std::mutex> wait(m_waitLock);
            m_wakeUp.wait(wait, [this] { return !m_running.load() || HasPendingTasks(); });
        }
        if (!m_running.load())
            break;
        std::shared_ptr<IThreadTask> task = TakeOldestPending();
        if (!task)
            continue;
        std::list<std::shared_ptr<IThreadTask>>::iterator entry;
        {
            std::lock_guard<std::mutex> running(m_runningLock);
            entry = m_runningTasks.insert(m_runningTasks.end(), task);
        }
        task->Run();
        {
            std::lock_guard<std::mutex> running(m_runningLock);
            m_runningTasks.erase(entry);
        }
    }
    OleUninitialize();
    CoUninitialize();
}

}  // namespace qel
