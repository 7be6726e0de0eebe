#pragma once
#include <QObject>
#include <QSocketNotifier>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The socket every ICMP message addressed to this host arrives on, IPv4 header
// included. The set-up steps are separate calls because each failure has its own
// message and set-up goes on after it.
class IcmpSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool Create() = 0;
    virtual bool SetSendTimeout(int ms) = 0;
    virtual bool SetReceiveTimeout(int ms) = 0;
    virtual bool Bind() = 0;
    // Read-readiness notifications on or off. While on, readReady() fires again as long
    // as datagrams stay queued, so a handler may read exactly one per notification.
    virtual void SetNotify(bool on) = 0;
    // Where a datagram came from, and when the kernel received it where it can tell:
    // the tick of its arrival on the host, free of any wait for the UI thread.
    struct Origin {
        uint32_t sender = 0; // network byte order
        bool stamped = false;
        uint32_t arrivalTick = 0;
    };
    // One datagram into buf. -1 when nothing could be read. Never blocks.
    virtual ptrdiff_t Receive(uint8_t* buf, size_t len, Origin* origin) = 0;
    // errno of the last failed set-up step.
    int LastError() const { return m_lastError; }

signals:
    void readReady();

protected:
    int m_lastError = 0;
};

// Where the probe sockets hand over the descriptors of finished rounds when ICMP
// answers are read from their error queues instead of from a raw socket.
class ProbeErrorSink {
public:
    virtual ~ProbeErrorSink() = default;
    virtual bool WantsProbeErrors() const = 0;
    // Takes over a probe socket (IP_RECVERR set) so its answers can still be read.
    virtual void AdoptProbeSocket(int fd) = 0;
};

// The system's ICMP socket: a raw socket where the process may open one (CAP_NET_RAW).
// Without that privilege it reads the ICMP errors for our probes from the probe sockets'
// own error queues (IP_RECVERR) and hands them out as the datagram a raw socket would
// have delivered, so the trace engine reads both the same way.
class SystemIcmpSocket final : public IcmpSocket, public ProbeErrorSink {
    Q_OBJECT
public:
    using IcmpSocket::IcmpSocket;
    ~SystemIcmpSocket() override;
    bool Create() override;
    bool SetSendTimeout(int ms) override;
    bool SetReceiveTimeout(int ms) override;
    bool Bind() override;
    void SetNotify(bool on) override;
    ptrdiff_t Receive(uint8_t* buf, size_t len, Origin* origin) override;

    bool UsesRawSocket() const { return m_fd >= 0; }
    bool WantsProbeErrors() const override { return m_errorQueue; }
    void AdoptProbeSocket(int fd) override;

private:
    bool SetTimeout(int option, int ms);
    void CloseProbeSockets();

    struct ProbeFd {
        int fd;
        std::unique_ptr<QSocketNotifier> notifier;
    };

    int m_fd = -1;
    bool m_errorQueue = false;
    bool m_notify = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<ProbeFd> m_probes;
};
