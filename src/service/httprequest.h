// The metrics endpoint's HTTP, as pure functions over bytes: what a client
// has sent so far makes a request head (or not yet, or never), and a head
// gets one whole response. Each connection carries one request and is then
// closed ("Connection: close"), so nothing else of HTTP is needed.
#pragma once

#include <QByteArray>

namespace service {

struct TRequestHead {
    enum class TState {
        Incomplete,   // no blank line yet, and still under the limit
        Complete,     // Method and Target hold the request line's parts
        TooLarge,     // no end within the limit (431)
        Bad,          // not an HTTP/1.x request line (400)
    };
    TState State = TState::Incomplete;
    QByteArray Method;
    QByteArray Target;
};

// Reads the request line and looks for the blank line that ends the head
// (CR LF or a bare LF). Only the first 'limit' bytes are ever looked at;
// blank lines before the request line are skipped. A request line that is
// already wrong is Bad at once, before its head ends.
TRequestHead ParseRequestHead(const QByteArray &received, int limit);

// The status code the endpoint answers a head with: 200 for GET or HEAD of
// /metrics or /, 404 for another path, 405 for another method, 400 or 431
// for heads that are Bad or TooLarge.
int ResponseStatus(const TRequestHead &head);

// The whole response, headers and (but for HEAD) body: 'metrics' for
// /metrics in the exposition format's content type, a short text for the
// rest.
QByteArray BuildResponse(const TRequestHead &head, const QByteArray &metrics);

// The content type of the text exposition format.
inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

} // namespace service
