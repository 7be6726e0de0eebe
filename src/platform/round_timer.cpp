#include "round_timer.h"

#include <algorithm>

RoundTimer::RoundTimer(QObject* parent)
    : QObject(parent)
{
    // A coarse timer may fire up to 5% late; rounds should be as long as asked.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { emit timeout(m_id); });
}

void RoundTimer::SetTimer(int id, int ms)
{
    m_id = id;
    m_timer.setSingleShot(false);
    m_timer.start(std::max(ms, 0));
}

void RoundTimer::SetTimerOnce(int id, int ms)
{
    m_id = id;
    m_timer.setSingleShot(true);
    m_timer.start(std::max(ms, 0));
}

void RoundTimer::KillTimer(int id)
{
    if (id == m_id)
        m_timer.stop();
}
