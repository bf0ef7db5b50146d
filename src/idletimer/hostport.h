// "HOST[:PORT]" as the reflector's options take it: a name or an IPv4
// address with an optional ":PORT", an IPv6 address in brackets with an
// optional ":PORT" or bare without one, or ":PORT" alone (no host).
#pragma once

#include <QString>

#include <cstdint>

namespace idletimer {

// False with the reason for anything else; 'port' keeps its value (the
// default) when the text names none.
bool SplitHostPort(const QString &text, QString *host, std::uint16_t *port, QString *error);

} // namespace idletimer
