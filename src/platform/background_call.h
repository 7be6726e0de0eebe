#pragma once
#include <QMetaObject>
#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

// Runs blocking work (a name lookup) in the background and hands its result to the
// owner on the owner's thread. The work waits in a queue for one of at most
// `maxThreads` workers, so a trace with hundreds of rows, or a resolver that never
// answers, cannot make the process start threads without end. The workers are
// detached: a slow name server never holds up a new trace or the end of the program
// (QThreadPool's global pool would be waited for when the application ends). A worker
// posts a result only while the owner still exists, checked and posted under the lock
// the owner's destructor takes, which also drops the work not yet started.
class BackgroundCalls {
public:
    BackgroundCalls(QObject* owner, int maxThreads)
        : m_pool(std::make_shared<Pool>())
    {
        m_pool->owner = owner;
        m_pool->maxThreads = maxThreads;
    }
    ~BackgroundCalls()
    {
        std::lock_guard guard(m_pool->lock);
        m_pool->owner = nullptr;
        m_pool->queue.clear();
    }
    BackgroundCalls(const BackgroundCalls&) = delete;
    BackgroundCalls& operator=(const BackgroundCalls&) = delete;

    // work() runs on a worker; deliver(result) later on the owner's thread. False when
    // no worker could be started and none is running to take the work.
    template <typename Work, typename Deliver> bool Run(Work work, Deliver deliver)
    {
        return Post([pool = m_pool.get(), work = std::move(work), deliver = std::move(deliver)] {
            auto result = work();
            std::lock_guard guard(pool->lock);
            if (pool->owner) {
                QMetaObject::invokeMethod(
                    pool->owner, [deliver, result] { deliver(result); }, Qt::QueuedConnection);
            }
        });
    }

private:
    struct Pool {
        std::mutex lock;
        QObject* owner = nullptr;
        std::deque<std::function<void()>> queue;
        int threads = 0; // workers running
        int maxThreads = 1;
    };

    bool Post(std::function<void()> job)
    {
        std::lock_guard guard(m_pool->lock);
        m_pool->queue.push_back(std::move(job));
        if (m_pool->threads >= m_pool->maxThreads)
            return true; // a running worker takes it in turn
        try {
            std::thread(TakeWork, m_pool).detach();
            ++m_pool->threads;
        } catch (const std::system_error&) {
            if (m_pool->threads == 0) {
                m_pool->queue.pop_back();
                return false;
            }
        }
        return true;
    }

    // A worker: takes work until the queue is empty, then ends.
    static void TakeWork(std::shared_ptr<Pool> pool)
    {
        std::unique_lock guard(pool->lock);
        while (!pool->queue.empty()) {
            std::function<void()> job = std::move(pool->queue.front());
            pool->queue.pop_front();
            guard.unlock();
            job();
            guard.lock();
        }
        --pool->threads;
    }

    std::shared_ptr<Pool> m_pool;
};
