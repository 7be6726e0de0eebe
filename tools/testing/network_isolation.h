#pragma once
// Cuts the test process, and every process it starts, off from the network before
// anything is resolved, so that host texts can go through the system's real resolver
// without a query ever leaving the machine: a network namespace of its own (a loopback
// device that is down, no routes), and where the mount namespace can be changed as well,
// an empty resolv.conf, as `ip netns exec` gives a namespace. Every lookup that is not
// answered from /etc/hosts then fails at once, on any machine.
//
// Needs root, or user namespaces for anyone else. Call it first thing in main(), before
// any thread exists: a process with threads cannot change its mount namespace.
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace network_isolation {

inline bool WriteFile(const char* path, const char* text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::write(fd, text, std::strlen(text));
    ::close(fd);
    return n == ssize_t(std::strlen(text));
}

// An empty resolv.conf in place of the system's, in a mount namespace of this process.
inline void HideResolverConfiguration()
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return; // the new network namespace alone already keeps every query in
    char empty[] = "/tmp/hoplantern-empty-resolv-XXXXXX";
    const int fd = ::mkstemp(empty);
    if (fd < 0)
        return;
    ::close(fd);
    ::mount(empty, "/etc/resolv.conf", nullptr, MS_BIND, nullptr);
    ::unlink(empty); // the mount keeps the file itself
}

// Empty when the process is cut off; otherwise why it could not be.
inline QString Isolate()
{
    if (::unshare(CLONE_NEWNET) == 0) {
        HideResolverConfiguration();
        return {};
    }
    const int asRoot = errno;
    // Without root: a user namespace owns the new network namespace. The process keeps
    // its own user and group ids in it, so files look as they did.
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return QStringLiteral("no network namespace (%1; user namespaces: %2)")
            .arg(QString::fromLocal8Bit(std::strerror(asRoot)), QString::fromLocal8Bit(std::strerror(errno)));
    char map[64];
    std::snprintf(map, sizeof map, "%u %u 1\n", unsigned(uid), unsigned(uid));
    WriteFile("/proc/self/uid_map", map);
    WriteFile("/proc/self/setgroups", "deny");
    std::snprintf(map, sizeof map, "%u %u 1\n", unsigned(gid), unsigned(gid));
    WriteFile("/proc/self/gid_map", map);
    HideResolverConfiguration();
    return {};
}

} // namespace network_isolation
