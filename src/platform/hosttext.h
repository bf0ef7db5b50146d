// The text of a host field, read the same way by every lookup: blanks around
// it are dropped (a pasted " 127.0.0.1 " is an address); an IPv4 address is
// what inet_addr takes; an IPv6 address may stand in brackets ("[::1]") and
// carry a zone ("fe80::1%eth0"); a name with letters beyond ASCII
// ("bücher.test") is asked of the resolver in its ASCII (IDNA) form, while
// the window keeps showing it as typed.
#pragma once

#include "platform/ipaddress.h"

#include <QString>
#include <string>

namespace platform {

struct HostText {
    enum Kind { Empty, Name, Address, Invalid };
    Kind kind = Empty;
    QString shown;       // the text without the blanks around it
    std::string lookup;  // Name: what the resolver is asked (ASCII)
    IpAddress address;   // Address: the address it names
};

// Reads a host as typed. Invalid: brackets around something other than an
// IPv6 address, a zone naming no interface of this host, a link-local IPv6
// address without its zone (it names no single host), a ":" in something
// that is not an IPv6 address, blanks or control characters inside, and an
// international name that has no ASCII form.
HostText ReadHostText(const QString &typed);

// The host as the window shows it: the typed text without the blanks around it.
QString HostShown(const QString &typed);

} // namespace platform
