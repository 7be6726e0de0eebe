#pragma once
#include <QObject>
#include <QSocketNotifier>

#include <cstddef>
#include <cstdint>
#include <memory>

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
    // One datagram into buf; the sender's address (network byte order) into *sender.
    // -1 when nothing could be read. Never blocks.
    virtual ptrdiff_t Receive(uint8_t* buf, size_t len, uint32_t* sender) = 0;
    // errno of the last failed set-up step.
    int LastError() const { return m_lastError; }

signals:
    void readReady();

protected:
    int m_lastError = 0;
};

class RawIcmpSocket final : public IcmpSocket {
    Q_OBJECT
public:
    using IcmpSocket::IcmpSocket;
    ~RawIcmpSocket() override;
    bool Create() override;
    bool SetSendTimeout(int ms) override;
    bool SetReceiveTimeout(int ms) override;
    bool Bind() override;
    void SetNotify(bool on) override;
    ptrdiff_t Receive(uint8_t* buf, size_t len, uint32_t* sender) override;
private:
    bool SetTimeout(int option, int ms);

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
