#include "receive_check.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

bool ReportIcmpSetUp(bool canReceive, const QStringList& failures, int socketError)
{
    if (!canReceive) {
        std::fputs(
            QStringLiteral("hoplantern-cli: %1: %2\n"
                           "No ICMP answers can be received: neither a raw ICMP socket nor the probe sockets'\n"
                           "error queues are available to this process. Grant it the raw-socket capability once:\n"
                           "  sudo setcap cap_net_raw+ep %3\n")
                .arg(failures.value(0), QString::fromLocal8Bit(std::strerror(socketError)),
                    QCoreApplication::applicationFilePath())
                .toLocal8Bit()
                .constData(),
            stderr);
        return false;
    }
    for (const QString& failure : failures)
        std::fputs(QStringLiteral("hoplantern-cli: warning: %1\n").arg(failure).toLocal8Bit().constData(), stderr);
    return true;
}
