#include "service/httprequest.h"

#include <QList>

namespace service {

namespace {

// RFC 9110 token characters, which a method is made of.
bool IsTokenChar(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArray("!#$%&'*+-.^_`|~").contains(c);
}

bool IsToken(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (const char c : s) {
        if (!IsTokenChar(c))
            return false;
    }
    return true;
}

// An origin-form target: a path from '/', visible ASCII only.
bool IsOriginTarget(const QByteArray &s)
{
    if (!s.startsWith('/'))
        return false;
    for (const char c : s) {
        if (c <= ' ' || c >= 0x7f)
            return false;
    }
    return true;
}

bool IsHttp1(const QByteArray &s)
{
    return s.size() == 8 && s.startsWith("HTTP/1.") && s[7] >= '0' && s[7] <= '9';
}

// "METHOD SP TARGET SP HTTP/1.x": the parts, or false.
bool SplitRequestLine(QByteArray line, QByteArray *method, QByteArray *target)
{
    if (line.endsWith('\r'))
        line.chop(1);
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !IsToken(parts[0]) || !IsOriginTarget(parts[1]) || !IsHttp1(parts[2]))
        return false;
    *method = parts[0];
    *target = parts[1];
    return true;
}

QByteArray PathOf(const QByteArray &target)
{
    const int query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

const char *Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    default: return "Error";
    }
}

} // namespace

TRequestHead ParseRequestHead(const QByteArray &received, int limit)
{
    TRequestHead head;
    const QByteArray seen = received.left(limit);
    // Not yet whole: too large once the limit is reached without an end.
    head.State = received.size() >= limit ? TRequestHead::TState::TooLarge : TRequestHead::TState::Incomplete;
    int start = 0;
    while (start < seen.size() && (seen[start] == '\r' || seen[start] == '\n'))
        ++start;
    const int lineEnd = seen.indexOf('\n', start);
    if (lineEnd < 0)
        return head;
    QByteArray method, target;
    if (!SplitRequestLine(seen.mid(start, lineEnd - start), &method, &target)) {
        head.State = TRequestHead::TState::Bad;
        return head;
    }
    // The head ends with an empty line: LF, optionally after CR.
    for (int at = lineEnd; at >= 0; at = seen.indexOf('\n', at + 1)) {
        const int next = at + 1;
        const bool blank = (next < seen.size() && seen[next] == '\n')
            || (next + 1 < seen.size() && seen[next] == '\r' && seen[next + 1] == '\n');
        if (blank) {
            head.State = TRequestHead::TState::Complete;
            head.Method = method;
            head.Target = target;
            return head;
        }
    }
    return head;
}

int ResponseStatus(const TRequestHead &head)
{
    switch (head.State) {
    case TRequestHead::TState::Incomplete:
    case TRequestHead::TState::Bad:
        return 400;
    case TRequestHead::TState::TooLarge:
        return 431;
    case TRequestHead::TState::Complete:
        break;
    }
    if (head.Method != "GET" && head.Method != "HEAD")
        return 405;
    const QByteArray path = PathOf(head.Target);
    return path == "/metrics" || path == "/" ? 200 : 404;
}

QByteArray BuildResponse(const TRequestHead &head, const QByteArray &metrics)
{
    const int status = ResponseStatus(head);
    QByteArray type = "text/plain; charset=utf-8";
    QByteArray body;
    if (status == 200 && PathOf(head.Target) == "/metrics") {
        type = kMetricsContentType;
        body = metrics;
    } else if (status == 200) {
        body = "Idlix: the metrics are at /metrics\n";
    } else {
        body = QByteArray::number(status) + ' ' + Reason(status) + '\n';
    }

    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + Reason(status) + "\r\n";
    out += "Content-Type: " + type + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (status == 405)
        out += "Allow: GET, HEAD\r\n";
    out += "Connection: close\r\n\r\n";
    if (head.Method != "HEAD")
        out += body;
    return out;
}

} // namespace service
