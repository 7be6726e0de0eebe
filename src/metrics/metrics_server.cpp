#include "metrics_server.h"

#include "guarded_tcp_server.h"

#include <QHttpServerRequest>

namespace {
QHttpServerResponse NotAllowed()
{
    QHttpServerResponse response(
        "text/plain", "Method Not Allowed\n", QHttpServerResponse::StatusCode::MethodNotAllowed);
    response.setHeader("Allow", "GET");
    return response;
}
} // namespace

MetricsServer::MetricsServer(Targets targets, Clock nowUs, QObject* parent)
    : QObject(parent)
    , m_targets(std::move(targets))
    , m_nowUs(std::move(nowUs))
{
    m_http.route("/metrics", [this](const QHttpServerRequest& request) {
        return request.method() == QHttpServerRequest::Method::Get ? Metrics(request) : NotAllowed();
    });
    m_http.route("/", [this](const QHttpServerRequest& request) {
        if (request.method() != QHttpServerRequest::Method::Get)
            return NotAllowed();
        return QHttpServerResponse("text/html; charset=utf-8", MetricsIndexPage(m_targets()));
    });
}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::Listen(const QHostAddress& address, quint16 port, QString* error)
{
    auto* tcp = new GuardedTcpServer(GuardedTcpServer::Limits {}, this);
    if (!tcp->listen(address, port)) {
        *error = tcp->errorString();
        delete tcp;
        return false;
    }
    m_http.bind(tcp);
    m_tcp = tcp;
    return true;
}

quint16 MetricsServer::port() const
{
    return m_tcp ? m_tcp->serverPort() : 0;
}

void MetricsServer::PauseAccepting()
{
    if (m_tcp)
        m_tcp->pauseAccepting();
}

void MetricsServer::ResumeAccepting()
{
    if (m_tcp)
        m_tcp->resumeAccepting();
}

void MetricsServer::Invalidate()
{
    for (QByteArray& text : m_texts)
        text.clear();
}

QHttpServerResponse MetricsServer::Metrics(const QHttpServerRequest& request)
{
    const MetricsFormat format = FormatForAccept(request.value("Accept"));
    QByteArray& text = m_texts[size_t(format)];
    if (text.isEmpty())
        text = MetricsText(m_targets(), m_nowUs(), format);
    return QHttpServerResponse(ContentTypeOf(format), text);
}
