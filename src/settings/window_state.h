#pragma once

// What the main window keeps beside its rectangle and the column order: whether it was
// maximised, and the hosts traced last. A settings file from before they existed lacks
// both, which reads as a normal window and no hosts.

#include "registry_store.h"

#include <QStringList>

namespace hl {

// In the "Options" profile section: 1 when the window was maximised at its close, else 0.
inline constexpr char kWindowMaximizedEntry[] = "Window maximized";
// Under the program key, as a multi-string (type 7): UTF-16LE, each host ended by a null
// character, the list by one more. Most recent first.
inline constexpr char kRecentHostsValue[] = "Recent hosts";
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr int kRecentHostsMax = 20;

bool LoadWindowMaximized(RegistryStore& store);
bool SaveWindowMaximized(RegistryStore& store, bool bMaximized);

// A value of another type, or one not ended as a multi-string is, reads as no hosts;
// empty entries are left out and at most kRecentHostsMax are read.
QStringList LoadRecentHosts(RegistryStore& store);
bool SaveRecentHosts(RegistryStore& store, const QStringList& hosts);

// The list after `host` was traced: it comes first, an earlier entry that names the same
// host (host names do not care for case) goes, and the oldest beyond kRecentHostsMax
// drop off. An empty host changes nothing.
QStringList WithRecentHost(QStringList hosts, const QString& host);

} // namespace hl
