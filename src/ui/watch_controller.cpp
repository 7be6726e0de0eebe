#include "watch_controller.h"

#include "host_resolver.h"

#include <cstring>

WatchController::WatchController(TracePlatform& platform, QObject* parent)
    : QObject(parent)
    , m_platform(platform)
{
    connect(m_platform.resolver.get(), &HostResolver::resolved, this, &WatchController::OnResolved);
}

WatchController::~WatchController() = default;

void WatchController::Start(const QString& host, AddressChoice family, const WatchParameters& params)
{
    m_watch.reset();
    m_stats.reset();
    m_wallAtEnd = QDateTime();
    m_params = params;
    m_host = host;
    m_bResolving = false;
    --m_nResolveId;
    SetRunning(true);
    emit targetChanged(host);
    const NetAddress literal = HostResolver::ParseAddress(host.toStdString());
    if (literal.valid()) {
        Begin(literal);
        return;
    }
    emit statusChanged(QStringLiteral("Resolving..."));
    m_bResolving = true;
    m_platform.resolver->Resolve(m_nResolveId, host.toStdString(), AddressFamily(family));
}

void WatchController::OnResolved(int id, NetAddress address)
{
    if (id != m_nResolveId || !m_bResolving)
        return;
    m_bResolving = false;
    if (!address.valid()) {
        emit statusChanged(QStringLiteral("Lookup of %1 failed dramatically").arg(m_host));
        SetRunning(false);
        return;
    }
    Begin(address);
}

void WatchController::Begin(const NetAddress& target)
{
    m_params.target = target;
    emit targetChanged(QString::fromStdString(target.ToText()));
    m_stats = std::make_unique<PathStats>(m_params.fixedFlow);
    m_watch = std::make_unique<PathWatch>(&m_platform, *m_stats);
    m_lastFinished = -1;
    connect(m_watch.get(), &PathWatch::roundFinished, this, [this](qint64 round) {
        m_lastFinished = round;
        emit statusChanged(QStringLiteral("Watching... round %1").arg(round + 1));
        emit roundFinished(round);
    });
    connect(m_watch.get(), &PathWatch::finished, this, &WatchController::OnFinished);
    emit statusChanged(QStringLiteral("Watching..."));
    m_watch->Start(m_params);
}

void WatchController::Stop()
{
    if (m_bResolving) {
        m_bResolving = false;
        emit statusChanged(QStringLiteral("Stopped."));
        SetRunning(false);
        return;
    }
    if (m_watch && !m_watch->done())
        m_watch->StopNow(); // finished() follows at once
}

void WatchController::OnFinished()
{
    m_wallAtEnd = WallTimeOf(m_platform.clock->MonotonicMicros());
    if (m_watch && m_watch->sendError() != 0)
        emit statusChanged(QString::fromLocal8Bit(std::strerror(m_watch->sendError())));
    else
        emit statusChanged(QStringLiteral("Stopped."));
    SetRunning(false);
}

void WatchController::SetRunning(bool running)
{
    if (running == m_bRunning)
        return;
    m_bRunning = running;
    emit runningChanged(running);
}

QString WatchController::NameOf(const NetAddress& address) const
{
    return m_watch ? m_watch->NameOf(address) : QString();
}
