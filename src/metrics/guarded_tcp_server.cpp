#include "guarded_tcp_server.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

// Lives as the socket's child, so it goes when the socket goes however that happens: the
// HTTP server disconnects every signal of a socket whose request it could not parse, so
// neither the count nor the deadline may hang on the socket's own signals.
class ConnectionGuard final : public QObject {
public:
    ConnectionGuard(GuardedTcpServer& server, QTcpSocket& socket)
        : QObject(&socket)
        , m_server(&server)
    {
        ++server.m_connections;
        const GuardedTcpServer::Limits& limits = server.m_limits;
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [&socket] {
            socket.abort();
            socket.deleteLater();
        });
        m_deadline.start(limits.idleMs);
        // Connected before the HTTP server's own: the request's clock starts with its
        // first byte, whatever the server then makes of it.
        connect(&socket, &QTcpSocket::readyRead, this, [this, requestMs = limits.requestMs] {
            if (!m_inRequest) {
                m_inRequest = true;
                m_deadline.start(requestMs);
            }
        });
        // An answer being read keeps its connection: a large one may take a slow link longer
        // than the deadline, but each part of it must be taken within one.
        connect(&socket, &QTcpSocket::bytesWritten, this, [this, &socket, limits] {
            if (!m_inRequest)
                return;
            m_inRequest = socket.bytesToWrite() > 0;
            m_deadline.start(m_inRequest ? limits.requestMs : limits.idleMs);
        });
    }
    ~ConnectionGuard() override
    {
        if (m_server)
            --m_server->m_connections;
    }

private:
    QPointer<GuardedTcpServer> m_server;
    QTimer m_deadline;
    bool m_inRequest = false;
};

GuardedTcpServer::GuardedTcpServer(Limits limits, QObject* parent)
    : QTcpServer(parent)
    , m_limits(limits)
{
}

void GuardedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    if (m_connections >= m_limits.maxConnections) {
        ::close(int(socketDescriptor));
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        ::close(int(socketDescriptor));
        return;
    }
    socket->setReadBufferSize(m_limits.maxRequestBytes);
    new ConnectionGuard(*this, *socket);
    addPendingConnection(socket);
}
