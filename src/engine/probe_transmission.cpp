// One round: resolve the target again, then send one probe to every hop still silent.
#include "dotted_quad.h"
#include "trace_engine.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sched.h>

namespace {
// Running out of buffers or descriptors is usually brief; past this many tries the
// round is skipped like any other creation failure instead of freezing the window.
constexpr int kSocketRetries = 100;
}

void TraceEngine::SendRound()
{
    if (m_list.GetItemCount() == 0 || EveryRowAnswered()) {
        EndTrace(false);
        return;
    }
    SetStatus(m_nRoundsLeft >= m_nTries ? QStringLiteral("Tracing...") : QStringLiteral("Retracing..."));

    const std::string host = m_strHost.toStdString();
    uint32_t target = m_platform.resolver->InetAddr(host);
    if (target == INADDR_NONE && !m_platform.resolver->GetHostByName(host, &target)) {
        SetTarget(QStringLiteral("unknown"));
        EndTrace(true);
        m_bResolveFailed = true;
        SetStatus(QStringLiteral("Lookup of ") + m_strHost + QStringLiteral(" failed dramatically"));
        return;
    }
    char dotted[16];
    SetTarget(QString::fromLatin1(FormatDottedQuad(ntohl(target), dotted)));

    static const char kProbeData[2] = { 0, 0 };
    ProbeSocket& sock = *m_platform.probe;
    for (int attempt = 0;; ++attempt) {
        const int error = sock.Open();
        if (error == 0)
            break;
        if ((error != ENOBUFS && error != EMFILE && error != ENFILE) || attempt >= kSocketRetries)
            return;
        sched_yield();
    }
    m_dwTarget = target;
    for (int j = 0; j < m_list.GetItemCount(); ++j) {
        if (m_list.GetItemData(j)->answered())
            continue;
        sock.SetTtl(j + 1);
        const auto port = uint16_t(-(j + 1)); // 65535 - j
        sched_yield();
        sock.SendTo(target, port, kProbeData, sizeof kProbeData);
        m_list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_SENT,
            m_platform.clock->GetTickCount(), j);
        sched_yield();
    }
    sock.Close();
}
