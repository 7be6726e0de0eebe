#pragma once
#include <QTcpServer>

// A listening socket that bounds its connections before Qt's HTTP server reads them. The
// HTTP server (Qt 6.4) limits neither time nor size: a client trickling a request byte by
// byte, or sending headers without end, would hold its connection and buffer for ever, and
// a malformed request leaves the connection open with nothing reading it. Here each
// connection gets
// - a read buffer of maxRequestBytes: the HTTP server keeps a request's bytes until it is
//   whole, so that is the most a request can hold; past it the kernel stops the sender;
// - a deadline: requestMs from a request's first byte until its response starts to go
//   out, then requestMs for each part of the response the client takes (one that does not
//   read is dropped), idleMs between requests; past it the connection is dropped;
// - a place among at most maxConnections, or it is closed at once.
// Nothing here reads or parses the bytes: that stays the HTTP server's.
class GuardedTcpServer final : public QTcpServer {
    Q_OBJECT
public:
    struct Limits {
        int maxConnections = 256;
        qint64 maxRequestBytes = 16 * 1024;
        int requestMs = 3000;
        int idleMs = 30000;
    };

    explicit GuardedTcpServer(Limits limits, QObject* parent = nullptr);
    int connections() const { return m_connections; }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    friend class ConnectionGuard;
    Limits m_limits;
    int m_connections = 0;
};
