#pragma once
// The window's watch: resolves the host, runs a PathWatch on the window's own platform
// (its ICMP socket was opened while the program still had the privilege for a raw one) and
// keeps the statistics it fills until the next watch starts, so the last figures stay on
// show after Stop.

#include "path_stats.h"
#include "path_watch.h"
#include "trace_parameters.h"
#include "watch_parameters.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>

class WatchController final : public QObject {
    Q_OBJECT
public:
    // `platform` is shared with the window's trace engine, which is to be idle while a
    // watch runs; it outlives the controller.
    explicit WatchController(TracePlatform& platform, QObject* parent = nullptr);
    ~WatchController() override;

    // Starts watching `host` (an address, or a name resolved in `family` first) with
    // `params` (its target is filled in here). Ends any watch under way first.
    void Start(const QString& host, AddressChoice family, const WatchParameters& params);
    // Ends the watch at once: probes in flight count in no figure.
    void Stop();

    bool running() const { return m_bRunning; }
    // The statistics of the latest watch, running or ended; nullptr before the first.
    const PathStats* stats() const { return m_stats.get(); }
    PathWatch* watch() { return m_watch.get(); }
    const PathWatch* watch() const { return m_watch.get(); }
    // The wall-clock time of a moment on the watch's clock.
    QDateTime WallTimeOf(int64_t monoUs) const { return m_watch ? m_watch->WallTimeOf(monoUs) : QDateTime(); }
    QString NameOf(const NetAddress& address) const;
    // The newest round whose probes are all decided; -1 before the first.
    int64_t lastFinishedRound() const { return m_lastFinished; }
    // What a report says of the latest watch, kept with its statistics until the next
    // starts: the host as the user gave it, its parameters (the target filled in), and when
    // it ended (null while it runs).
    const QString& host() const { return m_host; }
    const WatchParameters& parameters() const { return m_params; }
    const QDateTime& endedAt() const { return m_wallAtEnd; }

signals:
    void runningChanged(bool running);
    void statusChanged(const QString& text);
    void targetChanged(const QString& text);
    void roundFinished(qint64 round);

private:
    void OnResolved(int id, NetAddress address);
    void Begin(const NetAddress& target);
    void OnFinished();
    void SetRunning(bool running);

    TracePlatform& m_platform;
    std::unique_ptr<PathStats> m_stats;
    std::unique_ptr<PathWatch> m_watch;
    WatchParameters m_params;
    QString m_host;
    // Resolutions are numbered below 0, so that neither this nor the trace engine (whose
    // numbers count up from 0) takes the other's answer.
    int m_nResolveId = 0;
    bool m_bResolving = false;
    bool m_bRunning = false;
    int64_t m_lastFinished = -1;
    QDateTime m_wallAtEnd;
};
