#include "stop_signals.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

void StopSignals::Block()
{
    const sigset_t set = StopSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
{
    const sigset_t set = StopSet();
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        // Without the descriptor the signals must at least keep ending the program.
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::OnReadable);
}

StopSignals::~StopSignals()
{
    m_notifier.reset();
    if (m_fd >= 0)
        close(m_fd);
}

void StopSignals::OnReadable()
{
    signalfd_siginfo info {};
    while (read(m_fd, &info, sizeof info) == ssize_t(sizeof info))
        emit stopRequested(int(info.ssi_signo));
}
