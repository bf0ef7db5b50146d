// One small HTTP exchange, bounded in time and size, for the checks that
// want to see what a server (or whatever stands in its way) answers: a
// request sent whole, the reply's head read until the blank line, the
// connection closed. Blocks the calling thread: for worker threads only.
#pragma once

#include "platform/ipaddress.h"

#include <cstdint>
#include <string>

namespace platform {

// Sends 'request' to addr:port and reads the reply's head (status line and
// header fields) into *head, at most 8 KB, all within timeoutMs. 0 when a
// head came (whole, or cut at the limit), else a socket-layer code (10060
// no answer in time, 10061 refused, ...). With 'body', the reply is read on
// to its end (the server closes), at most 8 KB of it, into *body; what came
// by the time-out is kept.
int HttpExchange(const IpAddress &addr, std::uint16_t port, const std::string &request,
                 std::string *head, int timeoutMs, std::string *body = nullptr);

} // namespace platform
