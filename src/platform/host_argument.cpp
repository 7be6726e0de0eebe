#include "host_argument.h"

#include <QUrl>

QString HostFromArgument(const QString& text)
{
    const QString host = text.trimmed();
    // Only a text with a scheme is read as a URL: "host:80" or "[2001:db8::1]" are not.
    if (!host.contains(QStringLiteral("://")))
        return host;
    const QUrl url(host, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() ? url.host() : host;
}
