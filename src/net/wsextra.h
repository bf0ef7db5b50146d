// Socket-layer helpers shared by the tools and the HTTP client: the fixed
// English texts of the error codes and the blocking reverse lookup.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Fixed English text of a socket-layer error code; "Not a WinSock error" for
// codes outside the table.
QString SocketErrorText(int code);

// What the blocking reverse lookup found.
struct THostEntry {
    QString Name;           // official host name
    QStringList Addresses;  // dotted IPv4 texts
};

// Blocking reverse lookup of a dotted IPv4 text (inet_addr forms accepted);
// no value when the text is not an address or no name is known for it.
std::optional<THostEntry> LookupHostByAddress(const QString &address);
