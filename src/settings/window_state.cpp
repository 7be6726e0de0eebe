#include "window_state.h"
#include "settings_ops.h"

#include <QtEndian>

namespace hl {

bool LoadWindowMaximized(RegistryStore& store)
{
    return store.GetProfileInt(QString::fromLatin1(kOptionsSection), QString::fromLatin1(kWindowMaximizedEntry), 0)
        != 0;
}

bool SaveWindowMaximized(RegistryStore& store, bool bMaximized)
{
    return store.WriteProfileInt(
        QString::fromLatin1(kOptionsSection), QString::fromLatin1(kWindowMaximizedEntry), bMaximized ? 1 : 0);
}

QStringList LoadRecentHosts(RegistryStore& store)
{
    const std::optional<RegValue> value
        = store.QueryValue(QString::fromLatin1(kProgramKey), QString::fromLatin1(kRecentHostsValue));
    if (!value || value->type != kRegMultiSz || value->data.size() % 2 != 0)
        return {};
    QString text(value->data.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(qFromLittleEndian<char16_t>(value->data.constData() + 2 * i));
    const QChar nul(0);
    if (!text.endsWith(QString(2, nul)) && text != QString(nul))
        return {};
    QStringList hosts = text.split(nul, Qt::SkipEmptyParts);
    if (hosts.size() > kRecentHostsMax)
        hosts.resize(kRecentHostsMax);
    return hosts;
}

bool SaveRecentHosts(RegistryStore& store, const QStringList& hosts)
{
    QString text;
    for (const QString& host : hosts)
        text += host + QChar(0);
    text += QChar(0);
    QByteArray bytes(2 * text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<char16_t>(text[i].unicode(), bytes.data() + 2 * i);
    return store.SetValue(QString::fromLatin1(kProgramKey), QString::fromLatin1(kRecentHostsValue), kRegMultiSz, bytes);
}

QStringList WithRecentHost(QStringList hosts, const QString& host)
{
    if (host.isEmpty())
        return hosts;
    hosts.removeIf([&](const QString& h) { return h.compare(host, Qt::CaseInsensitive) == 0; });
    hosts.prepend(host);
    if (hosts.size() > kRecentHostsMax)
        hosts.resize(kRecentHostsMax);
    return hosts;
}

} // namespace hl
