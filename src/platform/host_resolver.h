#pragma once
#include "background_call.h"
#include "net_address.h"

#include <QObject>

#include <string>

// Forward resolution of the target. Address texts are read at once; names are looked up
// in the background, so a slow resolver never freezes the window, and the answer comes
// back as resolved() with the id the caller chose.
class HostResolver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The target typed as an address: the classic inet_addr forms for IPv4 ("10.1" is
    // valid), or an IPv6 address with or without brackets, with an optional "%zone".
    // An empty address when the text is no address.
    static NetAddress ParseAddress(const std::string& text);
    // Starts looking up a name: AF_UNSPEC takes the first address of the system's own
    // order (the family the user's connections use), AF_INET or AF_INET6 the first of
    // that family. resolved(id, …) follows, with an empty address when it failed.
    virtual void Resolve(int id, const std::string& name, int af) = 0;

signals:
    void resolved(int id, NetAddress address);
};

// getaddrinfo on a few background threads. A trace resolves one name at a time; the
// spare threads let a new trace resolve while an abandoned one's lookup still hangs.
class SystemHostResolver final : public HostResolver {
    Q_OBJECT
public:
    using HostResolver::HostResolver;
    void Resolve(int id, const std::string& name, int af) override;

private:
    BackgroundCalls m_calls { this, 4 };
};
