#pragma once
#include <QObject>
#include <QTimer>

// The round timer: one timer with an id, periodic or for one shot, as the trace engine's handler
// expects. A negative period (the wait time has no range check) runs as 0 instead of
// not running at all, which would leave a trace that never ends.
class RoundTimer : public QObject {
    Q_OBJECT
public:
    explicit RoundTimer(QObject* parent = nullptr);
    void SetTimer(int id, int ms);
    // Fires once, after ms (at the earliest at once), unless set again or killed first.
    void SetTimerOnce(int id, int ms);
    void KillTimer(int id);
    bool IsActive() const { return m_timer.isActive(); }

signals:
    void timeout(int id);

private:
    QTimer m_timer;
    int m_id = 0;
};
