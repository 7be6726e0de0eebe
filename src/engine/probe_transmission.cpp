// One round: the target's address, then one probe to every hop still silent that
// still matters, lowest hop first.
#include "trace_engine.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/socket.h>

namespace {
// Running out of buffers or descriptors is usually brief; past this many tries the
// round is skipped like any other creation failure instead of freezing the window.
constexpr int kSocketRetries = 100;
// A socket given a port an earlier round of the trace had is opened again; the system
// picks ports at random, so a few tries find a new one unless the trace has used them
// all (tens of thousands of rounds), and then the round is skipped.
constexpr int kPortRetries = 16;

// A send that failed for want of buffers goes again next round; any other failure (no
// route, a rule forbidding it, an address the system cannot send from) fails every
// probe alike. ECONNREFUSED only ever echoes an answer that arrived (the target's
// "port unreachable" as the socket's pending error).
bool TransientSendError(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ENOMEM || error == EINTR
        || error == ECONNREFUSED;
}

int AddressFamily(AddressChoice choice)
{
    return choice == AddressChoice::V4 ? AF_INET : choice == AddressChoice::V6 ? AF_INET6 : AF_UNSPEC;
}

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
            const uint16_t port = uint16_t(-(j + 1)); // 65535 - j
            if (!m_list.GetItemData(j)->answered() && !SendProbe(j, port, kProbeData, sizeof kProbeData))
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
    ProbeSocket& sock = *m_platform.probe;
    sock.SetTtl(row + 1);
    sched_yield();
    const int error = sock.SendTo(m_target, port, data, len);
    if (error != 0 && !TransientSendError(error)) {
        m_nSendError = error;
        return false;
    }
    // A probe lost to a full buffer counts as sent (and lost): the next round sends it again.
    const int64_t sentUs = m_platform.clock->MonotonicMicros();
    m_rounds.Sent(row, sentUs);
    sched_yield();
    return true;
}

bool TraceEngine::OpenProbeSocket(const NetAddress& target, bool flow)
{
    ProbeSocket& sock = *m_platform.probe;
    int reopened = 0;
    for (int attempt = 0;; ++attempt) {
        const int error = flow ? sock.OpenFlow(target) : sock.Open(target.af());
        if (error == 0 && !m_rounds.PortUsed(sock.LocalPort()))
            return true;
        if (error == 0) {
            if (++reopened > kPortRetries) {
                sock.Close();
                return false;
            }
            continue;
        }
        if (error != ENOBUFS && error != EMFILE && error != ENFILE) {
            m_nSendError = error; // no socket of this family or for this route: no probe can go
            return false;
        }
        if (attempt >= kSocketRetries)
            return false;
        sched_yield();
    }
}
