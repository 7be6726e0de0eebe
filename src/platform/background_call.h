#pragma once
#include <QMetaObject>
#include <QObject>

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

// Runs blocking work (a name lookup) on a detached thread and hands its result to the
// owner on the owner's thread. Detached, so that a slow name server never holds up a
// new trace or the end of the program; the thread posts its result only while the
// owner still exists, checked and posted under the lock the owner's destructor takes.
class BackgroundCalls {
public:
    explicit BackgroundCalls(QObject* owner)
        : m_mailbox(std::make_shared<Mailbox>())
    {
        m_mailbox->owner = owner;
    }
    ~BackgroundCalls()
    {
        std::lock_guard guard(m_mailbox->lock);
        m_mailbox->owner = nullptr;
    }
    BackgroundCalls(const BackgroundCalls&) = delete;
    BackgroundCalls& operator=(const BackgroundCalls&) = delete;

    // work() runs on the new thread; deliver(result) later on the owner's thread.
    // False when no thread could be started.
    template <typename Work, typename Deliver> bool Run(Work work, Deliver deliver)
    {
        try {
            std::thread([mailbox = m_mailbox, work = std::move(work), deliver = std::move(deliver)] {
                auto result = work();
                std::lock_guard guard(mailbox->lock);
                if (mailbox->owner) {
                    QMetaObject::invokeMethod(
                        mailbox->owner, [deliver, result] { deliver(result); }, Qt::QueuedConnection);
                }
            }).detach();
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

private:
    struct Mailbox {
        std::mutex lock;
        QObject* owner = nullptr;
    };
    std::shared_ptr<Mailbox> m_mailbox;
};
