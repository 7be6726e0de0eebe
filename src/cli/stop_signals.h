#pragma once
#include <QObject>
#include <QSocketNotifier>

#include <memory>

// SIGINT, SIGTERM and SIGHUP as an event of the event loop (signalfd, read by a
// QSocketNotifier), so that the handler may print and finish like any other slot instead
// of running inside a signal handler. Block() must come first in main, before any thread
// starts, so that every thread keeps those signals blocked for the descriptor to take.
class StopSignals final : public QObject {
    Q_OBJECT
public:
    static void Block();
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signo);

private:
    void OnReadable();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
