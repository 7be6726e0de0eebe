// The ICMP socket: set up once, then one datagram read per notification, matched to
// its hop by the quoted destination port and timed against the hop's latest probe.
#include "dotted_quad.h"
#include "icmp_reply.h"
#include "trace_engine.h"

#include <arpa/inet.h>

QStringList TraceEngine::OpenIcmpSocket()
{
    QStringList failures;
    if (!m_sockIcmp->Create()) {
        // Without the socket nothing below can succeed; one message says it all.
        failures << QStringLiteral("Cannot open raw socket");
        return failures;
    }
    m_bIcmpOpen = true;
    if (!m_sockIcmp->SetSendTimeout(m_nTimeout))
        failures << QStringLiteral("Unable to set send timeout");
    if (!m_sockIcmp->SetReceiveTimeout(m_nTimeout))
        failures << QStringLiteral("Unable to set recieve timeout");
    if (!m_sockIcmp->Bind())
        failures << QStringLiteral("Unable to bind socket");
    return failures;
}

void TraceEngine::OnIcmpRead()
{
    const uint32_t arrival = m_platform.clock->GetTickCount();
    if (m_bDone)
        return;

    uint8_t buf[kIcmpReadBuffer];
    IcmpSocket::Origin origin;
    const ptrdiff_t n = m_sockIcmp->Receive(buf, sizeof buf, &origin);
    if (n < 0)
        return;
    const IcmpReply reply = ParseIcmpReply(buf, size_t(n));
    if (reply.kind == IcmpReply::Malformed)
        return;
    if (reply.kind == IcmpReply::Probe) {
        const int j = 255 - reply.quotedPortLowByte;
        if (j >= m_list.GetItemCount() || reply.quotedDestination != m_dwTarget)
            return;
        char dotted[16];
        FormatDottedQuad(ntohl(origin.sender), dotted);
        const std::string result = ClassifyIcmp(reply.type, reply.code);
        // The kernel's receive time measures the path alone; the handler's tick would
        // add however long the UI thread was busy (a repaint, a burst of answers). On a
        // fast link the answer can arrive before sendto() has returned and the send tick
        // was read: that round trip was under a tick, not negative.
        uint32_t tick = arrival;
        if (origin.stamped) {
            const uint32_t sent = m_list.GetItemData(j)->dwSendTick;
            tick = int32_t(origin.arrivalTick - sent) < 0 ? sent : origin.arrivalTick;
        }
        m_list.UpdateHopRow(nullptr, dotted, nullptr, nullptr, result.c_str(), HOPROW_TIME_ANSWERED, tick, j);
    }
    if (m_list.GetItemCount() == 0 || EveryRowAnswered())
        EndTrace(false);
    NotifyIfFinished();
}
