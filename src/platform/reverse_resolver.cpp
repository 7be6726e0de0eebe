#include "reverse_resolver.h"

#include <netdb.h>
#include <sys/socket.h>
#include <utility>

int ThreadedReverseResolver::Start(const NetAddress& addr)
{
    // Handles count up from 1 and skip 0 (start failed) and negatives when they wrap.
    m_nextHandle = m_nextHandle >= 0x7fffffff ? 1 : m_nextHandle + 1;
    const int handle = m_nextHandle;
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    auto lookUp = [addr, cancelled] {
        if (*cancelled)
            return std::make_pair(int(EAI_AGAIN), QByteArray()); // never reported
        sockaddr_storage sa;
        const socklen_t len = addr.ToSockaddr(0, &sa);
        char host[NI_MAXHOST] = {};
        const int error = len == 0
            ? EAI_FAMILY
            : getnameinfo(reinterpret_cast<const sockaddr*>(&sa), len, host, sizeof host, nullptr, 0, NI_NAMEREQD);
        return std::make_pair(error, error == 0 ? QByteArray(host) : QByteArray());
    };
    auto deliver = [this, handle](const std::pair<int, QByteArray>& r) { Deliver(handle, r.first, r.second); };
    if (!m_calls.Run(lookUp, deliver))
        return 0;
    m_outstanding.emplace(handle, std::move(cancelled));
    return handle;
}

void ThreadedReverseResolver::Cancel(int handle)
{
    const auto it = m_outstanding.find(handle);
    if (it == m_outstanding.end())
        return;
    *it->second = true;
    m_outstanding.erase(it);
}

void ThreadedReverseResolver::Deliver(int handle, int error, const QByteArray& name)
{
    if (m_outstanding.erase(handle) == 0)
        return; // cancelled: its row may be gone
    emit lookupDone(handle, error, name);
}
