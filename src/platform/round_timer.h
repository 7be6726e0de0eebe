#pragma once
#include <QObject>
#include <QTimer>

// The round timer: one periodic timer with an id, as the trace engine's handler
// expects. A negative period (the wait time has no range check) runs as 0 instead of
// not running at all, which would leave a trace that never ends.
class RoundTimer : public QObject {
    Q_OBJECT
public:
    explicit RoundTimer(QObject* parent = nullptr);
    void SetTimer(int id, int ms);
    void KillTimer(int id);
    bool IsActive() const { return m_timer.isActive(); }

signals:
    void timeout(int id);

private:
    QTimer m_timer;
    int m_id = 0;
};
