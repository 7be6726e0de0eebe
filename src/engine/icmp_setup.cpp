#include "icmp_setup.h"

QStringList SetUpIcmpSocket(IcmpSocket& sock, int timeoutMs, bool* created)
{
    QStringList failures;
    *created = sock.Create();
    if (!*created) {
        // Without the socket nothing below can succeed; one message says it all.
        failures << QStringLiteral("Cannot open raw socket");
        return failures;
    }
    if (!sock.SetSendTimeout(timeoutMs))
        failures << QStringLiteral("Unable to set send timeout");
    if (!sock.SetReceiveTimeout(timeoutMs))
        failures << QStringLiteral("Unable to set recieve timeout");
    if (!sock.Bind())
        failures << QStringLiteral("Unable to bind socket");
    return failures;
}
