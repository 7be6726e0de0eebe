#pragma once
#include "metrics_text.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QObject>

#include <array>
#include <functional>

class GuardedTcpServer;

// Serves the watch's metrics over HTTP, on exactly the address and port given:
//   GET /metrics  the exposition text (OpenMetrics when the Accept header asks for it);
//   GET /         a page listing the targets, with a link to the metrics;
// any other method on those 405, any other path 404. The text is made at most once per
// round and format, however many scrapers ask in between: a hundred parallel scrapes cost
// one making, and the watch's timer, on the same event loop, waits for none of them.
class MetricsServer final : public QObject {
    Q_OBJECT
public:
    using Targets = std::function<std::vector<MetricsTarget>()>;
    using Clock = std::function<int64_t()>; // now, on the watches' clock

    MetricsServer(Targets targets, Clock nowUs, QObject* parent = nullptr);
    ~MetricsServer() override;

    // False, with the reason in *error, when the address and port cannot be bound.
    bool Listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;
    // While paused, connections wait in the listening socket's queue, unanswered.
    void PauseAccepting();
    void ResumeAccepting();

public slots:
    // The figures changed (a round finished): the next scrape makes the text afresh.
    void Invalidate();

private:
    QHttpServerResponse Metrics(const QHttpServerRequest& request);

    Targets m_targets;
    Clock m_nowUs;
    QHttpServer m_http;
    GuardedTcpServer* m_tcp = nullptr; // owned by m_http once bound
    std::array<QByteArray, 2> m_texts; // by MetricsFormat; null: to be made
};
