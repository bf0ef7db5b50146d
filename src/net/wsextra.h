// Socket-layer helpers shared by the tools and the HTTP client: the blocking
// reverse lookup, and (from net/codetexts.h) the texts of the error codes.
#pragma once

#include "net/codetexts.h"

#include <QString>
#include <QStringList>
#include <optional>

// What the blocking reverse lookup found.
struct THostEntry {
    QString Name;           // official host name
    QStringList Addresses;  // canonical address texts
};

// Blocking reverse lookup of an address text: IPv4 in the forms inet_addr
// takes, or IPv6 (with or without brackets and zone, through ip6.arpa); no
// value when the text is not an address or no name is known for it.
std::optional<THostEntry> LookupHostByAddress(const QString &address);
