#pragma once
#include "background_call.h"
#include "net_address.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <memory>
#include <unordered_map>

// Asynchronous reverse lookups that report back on the UI thread, each identified by
// the handle Start() returned. All lookups run at once; answers come in any order.
class ReverseResolver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // A handle above 0, or 0 when the lookup could not be started.
    virtual int Start(const NetAddress& addr) = 0;
    // After Cancel() the lookup's completion is never reported.
    virtual void Cancel(int handle) = 0;

signals:
    // error 0 and the official name on success; otherwise a non-zero error.
    void lookupDone(int handle, int error, const QByteArray& name);
};

// getnameinfo(NI_NAMEREQD) (in-addr.arpa or ip6.arpa, as the address's family asks) on
// a bounded number of background threads: enough for the rows of a usual path at once,
// the rest of a long one queued.
class ThreadedReverseResolver final : public ReverseResolver {
    Q_OBJECT
public:
    using ReverseResolver::ReverseResolver;
    int Start(const NetAddress& addr) override;
    void Cancel(int handle) override;

private:
    void Deliver(int handle, int error, const QByteArray& name);

    BackgroundCalls m_calls { this, 16 };
    // Each outstanding lookup's cancel flag: a cancelled lookup still queued is skipped.
    std::unordered_map<int, std::shared_ptr<std::atomic_bool>> m_outstanding;
    int m_nextHandle = 0;
};
