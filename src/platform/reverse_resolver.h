#pragma once
#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <memory>
#include <unordered_set>

// Asynchronous reverse lookups that report back on the UI thread, each identified by
// the handle Start() returned. All lookups run at once; answers come in any order.
class ReverseResolver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // A handle above 0, or 0 when the lookup could not be started.
    virtual int Start(uint32_t addr) = 0;
    // After Cancel() the lookup's completion is never reported.
    virtual void Cancel(int handle) = 0;

signals:
    // error 0 and the official name on success; otherwise a non-zero error.
    void lookupDone(int handle, int error, const QByteArray& name);
};

// getnameinfo(NI_NAMEREQD) on a detached thread per lookup. Threads are detached so
// that a slow name server never holds up a new trace or the end of the program; what
// they share with the resolver outlives it.
class ThreadedReverseResolver final : public ReverseResolver {
    Q_OBJECT
public:
    explicit ThreadedReverseResolver(QObject* parent = nullptr);
    ~ThreadedReverseResolver() override;
    int Start(uint32_t addr) override;
    void Cancel(int handle) override;

    struct Mailbox;

private:
    void Deliver(int handle, int error, const QByteArray& name);

    std::shared_ptr<Mailbox> m_mailbox;
    std::unordered_set<int> m_outstanding;
    int m_nextHandle = 0;
};
