#include "reverse_resolver.h"

#include <QMetaObject>

#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

// The one link between the lookup threads and the resolver: a thread posts its answer
// only while the resolver still exists, checked and posted under the same lock that
// the resolver's destructor takes.
struct ThreadedReverseResolver::Mailbox {
    std::mutex lock;
    ThreadedReverseResolver* owner = nullptr;
};

ThreadedReverseResolver::ThreadedReverseResolver(QObject* parent)
    : ReverseResolver(parent)
    , m_mailbox(std::make_shared<Mailbox>())
{
    m_mailbox->owner = this;
}

ThreadedReverseResolver::~ThreadedReverseResolver()
{
    std::lock_guard guard(m_mailbox->lock);
    m_mailbox->owner = nullptr;
}

int ThreadedReverseResolver::Start(uint32_t addr)
{
    // Handles count up from 1 and skip 0 (start failed) and negatives when they wrap.
    m_nextHandle = m_nextHandle >= 0x7fffffff ? 1 : m_nextHandle + 1;
    const int handle = m_nextHandle;
    try {
        std::thread([mailbox = m_mailbox, handle, addr] {
            sockaddr_in sa {};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = addr;
            char host[NI_MAXHOST] = {};
            const int error = getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host,
                sizeof host, nullptr, 0, NI_NAMEREQD);
            const QByteArray name = error == 0 ? QByteArray(host) : QByteArray();
            std::lock_guard guard(mailbox->lock);
            if (ThreadedReverseResolver* owner = mailbox->owner) {
                QMetaObject::invokeMethod(
                    owner, [owner, handle, error, name] { owner->Deliver(handle, error, name); },
                    Qt::QueuedConnection);
            }
        }).detach();
    } catch (const std::system_error&) {
        return 0;
    }
    m_outstanding.insert(handle);
    return handle;
}

void ThreadedReverseResolver::Cancel(int handle)
{
    m_outstanding.erase(handle);
}

void ThreadedReverseResolver::Deliver(int handle, int error, const QByteArray& name)
{
    if (m_outstanding.erase(handle) == 0)
        return; // cancelled: its row may be gone
    emit lookupDone(handle, error, name);
}
