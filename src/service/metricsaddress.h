// Where the metrics endpoint listens, from the text of [Service]
// MetricsAddress or --metrics: "ADDRESS:PORT" with an IPv4 address, an IPv6
// address in brackets, or "localhost"; a port alone ("9417" or ":9417")
// listens on loopback. Only an address that says so reaches beyond this
// machine ("0.0.0.0:9417", "[::]:9417", a LAN address).
#pragma once

#include "platform/ipaddress.h"

#include <QString>

#include <cstdint>

namespace service {

struct TListenAddress {
    platform::IpAddress Address;
    std::uint16_t Port = 0;
    // As a URL's authority: "127.0.0.1:9417", "[::1]:9417".
    QString Text() const;
};

// Parses 'text' (blanks around it ignored). False with the reason in
// 'error' for anything else; an empty text is an error too (callers treat
// it as "off" before asking). Port 0 is refused: a scraper must know it.
bool ParseListenAddress(const QString &text, TListenAddress *out, QString *error);

} // namespace service
