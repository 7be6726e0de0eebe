// One round: the target's address, then one probe to every hop still silent that
// still matters, lowest hop first.
#include "probe_sender.h"
#include "trace_engine.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace {
// An address typed with the other family forced is a mistake to point out, not a
// reason to trace something else.
QString FamilyMismatch(const NetAddress& address, AddressChoice choice)
{
    if (choice == AddressChoice::V6 && address.family == NetAddress::V4)
        return QStringLiteral(" is an IPv4 address, not IPv6");
    if (choice == AddressChoice::V4 && address.family == NetAddress::V6)
        return QStringLiteral(" is an IPv6 address, not IPv4");
    return {};
}
} // namespace

void TraceEngine::SendRound()
{
    if (m_list.GetItemCount() == 0 || TraceSettled()) {
        EndTrace(false);
        return;
    }
    SetStatus(m_bFirstRound ? QStringLiteral("Tracing...") : QStringLiteral("Retracing..."));

    const NetAddress literal = HostResolver::ParseAddress(m_params.m_strHost.toStdString());
    if (literal.valid()) {
        const QString mismatch = FamilyMismatch(literal, m_params.m_family);
        if (!mismatch.isEmpty()) {
            FailResolution(m_params.m_strHost + mismatch);
            return;
        }
        SendProbes(literal);
        return;
    }
    // A name is resolved again every round, in the background, one resolution at a
    // time: a round that comes while one still runs starts none. The first round waits
    // for its answer; a later one probes the address found last while it runs. A
    // resolver that answers at once has the round sent from OnResolved.
    const NetAddress known = m_resolved;
    m_bAwaitingTarget = true;
    if (!m_bResolving)
        ResolveTarget();
    if (m_bAwaitingTarget && !m_bDone && known.valid()) {
        m_bAwaitingTarget = false;
        SendProbes(known);
    }
}

void TraceEngine::ResolveTarget()
{
    m_bResolving = true;
    m_platform.resolver->Resolve(++m_nResolveId, m_params.m_strHost.toStdString(), AddressFamily(m_params.m_family));
}

void TraceEngine::OnResolved(int id, NetAddress address)
{
    if (id != m_nResolveId)
        return; // an earlier trace's answer
    m_bResolving = false;
    if (m_bDone)
        return;
    if (!address.valid()) {
        FailResolution(QStringLiteral("Lookup of ") + m_params.m_strHost + QStringLiteral(" failed dramatically"));
        NotifyIfFinished();
        return;
    }
    m_resolved = address;
    if (m_bAwaitingTarget) {
        m_bAwaitingTarget = false;
        SendProbes(address);
        ArmRoundTimer();
    }
    NotifyIfFinished();
}

void TraceEngine::FailResolution(const QString& status)
{
    SetTarget(QStringLiteral("unknown"));
    EndTrace(true);
    m_bResolveFailed = true;
    SetStatus(status);
}

void TraceEngine::SendProbes(const NetAddress& target)
{
    SetTarget(QString::fromStdString(target.ToText()));
    m_nRoundStartUs = m_platform.clock->MonotonicMicros();

    if (m_params.m_bFixedFlow) {
        SendFlowProbes(target);
    } else if (OpenProbeSocket(target, false)) {
        static const uint8_t kProbeData[2] = { 0, 0 };
        ProbeSocket& sock = *m_platform.probe;
        m_target = target;
        m_rounds.Begin(sock.LocalPort(), m_list.GetItemCount());
        for (int j = 0; j < m_list.GetItemCount() && RowMatters(j); ++j) {
            if (!m_list.GetItemData(j)->answered() && !SendProbe(j, ProbePortOfRow(j), kProbeData, sizeof kProbeData))
                break;
        }
        sock.Close();
    }
    if (m_nSendError != 0)
        FailSend();
}

void TraceEngine::FailSend()
{
    EndTrace(true);
    SetStatus(QString::fromLocal8Bit(std::strerror(m_nSendError))); // "Network is unreachable"
}

bool TraceEngine::SendProbe(int row, uint16_t port, const uint8_t* data, size_t len)
{
    const ProbeSend send = ::SendProbe(*m_platform.probe, *m_platform.clock, m_target, row + 1, port, data, len);
    if (send.result == ProbeSend::Failed) {
        m_nSendError = send.error;
        return false;
    }
    // A probe lost to a full buffer counts as sent (and lost): the next round sends it again.
    m_rounds.Sent(row, send.sentUs, send.result == ProbeSend::Sent);
    return true;
}

bool TraceEngine::OpenProbeSocket(const NetAddress& target, bool flow)
{
    const ProbeOpen open
        = ::OpenProbeSocket(*m_platform.probe, target, flow, [this](uint16_t port) { return m_rounds.PortUsed(port); });
    if (open.result == ProbeOpen::Failed)
        m_nSendError = open.error;
    return open.result == ProbeOpen::Opened;
}
