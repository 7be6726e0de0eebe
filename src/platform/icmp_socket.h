#pragma once
#include "icmp_answer.h"

#include <QObject>
#include <QSocketNotifier>

#include <deque>
#include <memory>
#include <vector>

// Where the answers to our probes arrive. The set-up steps are separate calls because
// each failure has its own message and set-up goes on after it.
// Probe sockets of rounds whose answers may still come, kept for their error queues. Beyond
// this many the oldest goes: its round is no longer remembered by the trace either.
inline constexpr size_t kMaxProbeSockets = 64;

class IcmpSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool Create() = 0;
    virtual bool SetSendTimeout(int ms) = 0;
    virtual bool SetReceiveTimeout(int ms) = 0;
    virtual bool Bind() = 0;
    // Read-readiness notifications on or off. While on, readReady() fires again as long
    // as answers stay queued, so a handler may read exactly one per notification.
    virtual void SetNotify(bool on) = 0;
    // One answer, read without blocking. False when nothing could be read; a datagram
    // that was read but says nothing usable comes back with kind Malformed or NotUdp.
    virtual bool Receive(IcmpAnswer* answer) = 0;
    // The round that sent from this port is over (its probes' deadlines have passed):
    // a probe socket adopted for its answers closes now, instead of when the cap on
    // adopted sockets pushes it out.
    virtual void ReleaseProbeSocket(uint16_t localPort) { (void)localPort; }
    // On: every probe socket closed by its round stays open (bound, so no other program
    // is given its port while the round's answers may still come) until
    // ReleaseProbeSocket() or the cap on kept sockets, whichever reads the answers. The
    // watch releases each round's socket once its probes are decided; the trace keeps
    // only the sockets whose error queues it reads.
    virtual void KeepProbeSockets(bool on) { (void)on; }
    // Only answers about probes sent to `destination` are wanted (a watch, which has one
    // target): the kernel may drop the rest before they are queued.
    virtual void OnlyAbout(const NetAddress& destination) { (void)destination; }
    // errno of the last failed set-up step.
    int LastError() const { return m_lastError; }

signals:
    void readReady();

protected:
    int m_lastError = 0;
};

// Where the probe sockets hand over the descriptors of their rounds when ICMP answers
// are read from their error queues instead of from a raw socket.
class ProbeErrorSink {
public:
    virtual ~ProbeErrorSink() = default;
    // True when answers of this address family come through the probe sockets.
    virtual bool WantsProbeErrors(int af) const = 0;
    // Takes over a probe socket (IP_RECVERR set) so its answers can still be read.
    virtual void AdoptProbeSocket(int fd, uint16_t localPort) = 0;
    // True when a probe socket whose errors are not read is to be kept bound all the same.
    virtual bool KeepsProbeSockets() const = 0;
    // Takes over a probe socket to keep its port bound; only its transmit stamps are read,
    // when an answer to one of its probes comes.
    virtual void HoldProbeSocket(int fd, uint16_t localPort) = 0;
};

// The system's ICMP sockets: raw ICMP and ICMPv6 sockets where the process may open them
// (CAP_NET_RAW). Without that privilege it reads the errors about our probes from the
// probe sockets' own error queues (IP_RECVERR, IPV6_RECVERR).
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
    bool Receive(IcmpAnswer* answer) override;

    bool UsesRawSocket() const { return m_fd4 >= 0; }
    bool WantsProbeErrors(int af) const override;
    void AdoptProbeSocket(int fd, uint16_t localPort) override;
    void ReleaseProbeSocket(uint16_t localPort) override;
    void KeepProbeSockets(bool on) override { m_keepProbes = on; }
    void OnlyAbout(const NetAddress& destination) override;
    bool KeepsProbeSockets() const override { return m_keepProbes; }
    void HoldProbeSocket(int fd, uint16_t localPort) override;

private:
    struct WatchedFd {
        int fd;
        uint16_t localPort; // of a probe socket; 0 for a raw socket
        std::unique_ptr<QSocketNotifier> notifier; // none for a socket only held
    };
    WatchedFd Watched(int fd, uint16_t localPort);
    bool SetTimeout(int option, int ms);
    void CloseProbeSockets();
    static void Keep(std::vector<WatchedFd>& sockets, WatchedFd&& socket);
    bool ReceiveRaw(const WatchedFd& raw, IcmpAnswer* answer);
    void TakeHeldStamps(const IcmpAnswer& answer);
    bool TakePending(IcmpAnswer* answer);

    int m_fd4 = -1; // raw ICMP socket
    bool m_errorQueue4 = false; // IPv4 answers through the probe sockets
    bool m_errorQueue6 = false; // IPv6 answers through the probe sockets
    bool m_notify = false;
    bool m_keepProbes = false;
    std::vector<WatchedFd> m_raw; // the raw ICMP and ICMPv6 sockets that opened
    std::vector<WatchedFd> m_probes; // read for their errors
    std::vector<WatchedFd> m_held; // only kept bound: the raw sockets read their answers
    std::deque<IcmpAnswer> m_pending; // read, not yet handed out: stamps before their answer
};
