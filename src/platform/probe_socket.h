#pragma once
#include "net_address.h"

#include <cstddef>
#include <cstdint>

// The UDP socket a round sends its probes from. One socket per round, only its hop
// limit changing between probes, so every probe of a round shares a source port and
// that port tells the rounds apart in the answers. In fixed-flow mode one socket,
// bound to the address and port of the route to the target, serves the whole trace.
class ProbeSocket {
public:
    virtual ~ProbeSocket() = default;
    // A socket of this address family (AF_INET or AF_INET6), bound to a port of its
    // own. 0 on success, otherwise the errno of the failed call.
    virtual int Open(int af) = 0;
    // A socket for every probe of a trace to `target`: bound to the source address the
    // route to it takes (which the UDP checksum covers) and a port of its own, its
    // errors, where a sink reads them, read from the start while it keeps sending.
    virtual int OpenFlow(const NetAddress& target) = 0;
    // The port the socket is bound to, host byte order.
    virtual uint16_t LocalPort() const = 0;
    // The address an OpenFlow() socket is bound to.
    virtual NetAddress LocalAddress() const = 0;
    virtual bool SetTtl(int ttl) = 0;
    // port in host byte order. 0 when the probe left, otherwise the errno of the send.
    virtual int SendTo(const NetAddress& to, uint16_t port, const void* data, size_t len) = 0;
    virtual void Close() = 0;
};

class ProbeErrorSink;

class UdpProbeSocket final : public ProbeSocket {
public:
    // With a sink that reads answers from the probe sockets, each round's socket asks
    // for ICMP errors (IP_RECVERR) and is handed to the sink instead of being closed; a
    // sink that keeps probe sockets (the watch) is handed it all the same, to hold (a
    // fixed flow's at once). Either way the socket asks for transmit stamps, which the
    // sink reads from its error queue.
    explicit UdpProbeSocket(ProbeErrorSink* sink = nullptr);
    ~UdpProbeSocket() override;
    int Open(int af) override;
    int OpenFlow(const NetAddress& target) override;
    uint16_t LocalPort() const override { return m_port; }
    NetAddress LocalAddress() const override { return m_local; }
    bool SetTtl(int ttl) override;
    int SendTo(const NetAddress& to, uint16_t port, const void* data, size_t len) override;
    void Close() override;

private:
    bool HandsOverErrors() const;
    bool KeepsStamps() const;
    int OpenBound(int af, const NetAddress& local);

    ProbeErrorSink* m_sink;
    int m_fd = -1;
    int m_af = 0;
    uint16_t m_port = 0;
    NetAddress m_local;
    bool m_bShared = false; // the sink already reads (and will close) this socket
};
