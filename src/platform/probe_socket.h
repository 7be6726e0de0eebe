#pragma once
#include <cstddef>
#include <cstdint>

// The UDP socket a round sends its probes from. One socket per round, only its
// time-to-live changing between probes, so every probe of a round shares a source port.
class ProbeSocket {
public:
    virtual ~ProbeSocket() = default;
    // 0 on success, otherwise the errno of the failed socket() call.
    virtual int Open() = 0;
    virtual bool SetTtl(int ttl) = 0;
    // addr in network byte order, port in host byte order.
    virtual bool SendTo(uint32_t addr, uint16_t port, const void* data, size_t len) = 0;
    virtual void Close() = 0;
};

class ProbeErrorSink;

class UdpProbeSocket final : public ProbeSocket {
public:
    // With a sink that reads answers from the probe sockets, each round's socket asks
    // for ICMP errors (IP_RECVERR) and is handed to the sink instead of being closed.
    explicit UdpProbeSocket(ProbeErrorSink* sink = nullptr);
    ~UdpProbeSocket() override;
    int Open() override;
    bool SetTtl(int ttl) override;
    bool SendTo(uint32_t addr, uint16_t port, const void* data, size_t len) override;
    void Close() override;

private:
    ProbeErrorSink* m_sink;
    int m_fd = -1;
};
