#include "net/httpparse.h"

#include <QDate>
#include <cmath>
#include <cstring>

TUrlParts SplitUrl(const QString &url)
{
    TUrlParts p;
    if (url.isEmpty())
        return p;
    QString rest;
    int sep = url.indexOf(QLatin1String("://"));
    if (sep >= 0) {
        p.Proto = url.left(sep);
        rest = url.mid(sep + 3);
    } else if (url.startsWith(QLatin1Char('/'))) {
        p.Proto = QStringLiteral("http");
        if (url.size() > 1 && url.at(1) != QLatin1Char('/')) {
            p.Path = url;
            return p;
        }
        rest = url.mid(1);
    } else if (url.left(5).toLower() == QLatin1String("http:")) {
        p.Proto = QStringLiteral("http");
        if (url.size() > 6 && url.at(6) != QLatin1Char('/')) {
            p.Path = url.mid(5);
            return p;
        }
        rest = url.mid(6);
    } else if (url.left(7).toLower() == QLatin1String("mailto:")) {
        p.Proto = QStringLiteral("mailto");
        rest = url.mid(url.indexOf(QLatin1Char(':')) + 1);
    } else {
        rest = url;
    }

    int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash >= 0 ? rest.left(slash) : rest;
    if (slash >= 0)
        p.Path = rest.mid(slash);

    const int at = authority.lastIndexOf(QLatin1Char('@'));
    const QString hostPort = authority.mid(at + 1);
    if (hostPort.startsWith(QLatin1Char('['))) {
        // An IPv6 literal in brackets; a port may follow the closing one.
        const int close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0) {
            p.Host = hostPort;
        } else {
            p.Host = hostPort.left(close + 1);
            if (hostPort.mid(close + 1).startsWith(QLatin1Char(':')))
                p.Port = hostPort.mid(close + 2);
        }
    } else if (hostPort.count(QLatin1Char(':')) >= 2) {
        // A bare IPv6 address, as a host field holds it: it takes no port,
        // and is given its brackets so that it reads as a URL host.
        p.Host = QLatin1Char('[') + hostPort + QLatin1Char(']');
    } else {
        const int colon = hostPort.lastIndexOf(QLatin1Char(':'));
        p.Host = colon < 0 ? hostPort : hostPort.left(colon);
        if (colon >= 0)
            p.Port = hostPort.mid(colon + 1);
    }
    if (at >= 0) {
        QString info = authority.left(at);
        int c = info.indexOf(QLatin1Char(':'));
        if (c >= 0) {
            p.User = info.left(c);
            p.Pass = info.mid(c + 1);
        } else {
            p.User = info;
        }
    }
    return p;
}

QString UrlHostToHostText(const QString &host)
{
    if (!host.startsWith(QLatin1Char('[')))
        return host;
    // A zone in a URL is written "%25" (RFC 6874); a host field writes "%".
    QString text = host;
    const int zone = text.indexOf(QLatin1String("%25"));
    if (zone >= 0)
        text.remove(zone + 1, 2);
    return text;
}

QString HostHeaderText(const QString &host)
{
    if (!host.startsWith(QLatin1Char('[')))
        return host;
    // The zone means something only on this machine: the server never sees it.
    const int zone = host.indexOf(QLatin1Char('%'));
    const int close = host.indexOf(QLatin1Char(']'));
    if (zone < 0 || close < zone)
        return host;
    return host.left(zone) + host.mid(close);
}

QString Base64Text(const QString &s)
{
    return QString::fromLatin1(s.toUtf8().toBase64());
}

QString HttpDateText(double d)
{
    static const char days[] = "MonTueWedThuFriSatSun";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    double whole = std::floor(d);
    qint64 dayNo = static_cast<qint64>(whole);
    // Day 2 (1 January 1900) was a Monday; the modulo stays positive for older dates.
    int dow = static_cast<int>(((dayNo - 2) % 7 + 7) % 7);
    QDate date = QDate(1899, 12, 30).addDays(dayNo);
    qint64 ms = std::llround((d - whole) * 86400000.0);
    if (ms >= 86400000)
        ms = 86399999;
    int secs = static_cast<int>(ms / 1000);
    return QString::asprintf("%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", days + dow * 3,
                             date.day(), months + (date.month() - 1) * 3, date.year(),
                             secs / 3600, secs / 60 % 60, secs % 60);
}

QString DocumentNameOf(const QString &path)
{
    if (path.isEmpty() || path == QLatin1String("/"))
        return QStringLiteral("document.htm");
    QString name = path;
    if (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1).left(255);
    int q = name.indexOf(QLatin1Char('?'));
    if (q >= 0)
        name.truncate(q);
    return name;
}

QString FixExeDocumentName(const QString &name, const QString &contentType)
{
    int dot = name.lastIndexOf(QLatin1Char('.'));
    QString ext = dot >= 0 ? name.mid(dot).toLower() : QString();
    if (ext != QLatin1String(".exe") || contentType != QLatin1String("text/html"))
        return name;
    return name.left(dot + 1) + QLatin1String("htm");
}

TStatusLine ParseStatusLine(const QByteArray &line, int &code, QString &reason)
{
    if (!line.startsWith("HTTP/1.0") && !line.startsWith("HTTP/1.1"))
        return TStatusLine::NotStatus;
    // "HTTP/1.x NNN reason": the code sits at characters 10 to 12, the reason from 14 on.
    QByteArray digits = line.mid(9, 3);
    if (digits.size() != 3)
        return TStatusLine::BadCode;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return TStatusLine::BadCode;
        n = n * 10 + (c - '0');
    }
    code = n;
    reason = QString::fromLatin1(line.mid(13));
    return TStatusLine::Valid;
}

bool SplitHeaderLine(const QByteArray &line, QByteArray &name, QString &value)
{
    int p = line.indexOf(':');
    if (p < 0)
        return false;
    name = line.left(p).toLower();
    // Servers write one blank after the colon; some write none or several.
    value = QString::fromLatin1(line.mid(p + 1)).trimmed();
    return true;
}

bool ParseDecimal(const QString &text, int &value)
{
    bool ok = false;
    int v = text.trimmed().toInt(&ok, 10);
    if (ok)
        value = v;
    return ok;
}

void ApplyLocation(const QString &location, bool viaProxy, TRequestTarget &t)
{
    if (!viaProxy && location.startsWith(QLatin1Char('/'))) {
        t.RequestPath = location;
        return;
    }
    TUrlParts p = SplitUrl(location);
    QString scheme = p.Proto.isEmpty() ? QStringLiteral("http") : p.Proto;
    if (viaProxy) {
        if (p.Path.isEmpty())
            t.RequestPath = scheme + QLatin1String("://") + t.HostName + QLatin1Char('/') + p.Host;
        else if (p.Host.isEmpty())
            t.RequestPath = scheme + QLatin1String("://") + t.HostName + p.Path;
        else
            t.RequestPath = location;
        return;
    }
    if (p.Path.isEmpty()) {
        // A bare name ("page.html") is relative to the current host.
        t.RequestPath = scheme + QLatin1String("://") + t.HostName + QLatin1Char('/') + p.Host;
        t.TargetHost = t.HostName;
        if (!p.Port.isEmpty())
            t.TargetPort = p.Port;
    } else if (p.Host.isEmpty()) {
        t.RequestPath = scheme + QLatin1String("://") + t.HostName + p.Path;
        t.TargetHost = t.HostName;
        if (!p.Port.isEmpty())
            t.TargetPort = p.Port;
    } else {
        // Another server: its own port, or the default one when the value names none.
        t.TargetHost = p.Host;
        t.TargetPort = p.Port.isEmpty() ? QStringLiteral("80") : p.Port;
        t.RequestPath = p.Path;
        t.HostName = p.Host;
    }
}

QStringList RequestLines(const TRequestHeader &h)
{
    QStringList lines;
    bool post = h.Method == QLatin1String("POST");
    lines << h.Method + QLatin1Char(' ') + h.Path + QLatin1String(" HTTP/") + h.Version;
    if (!h.Sender.isEmpty())
        lines << QLatin1String("From: ") + h.Sender;
    if (!h.Reference.isEmpty())
        lines << QLatin1String("Referer: ") + h.Reference;
    if (post && !h.ContentTypePost.isEmpty())
        lines << QLatin1String("Content-Type: ") + h.ContentTypePost;
    if (!h.Agent.isEmpty())
        lines << QLatin1String("User-Agent: ") + h.Agent;
    lines << QLatin1String("Host: ") + HostHeaderText(h.HostName);
    if (h.NoCache)
        lines << QStringLiteral("Pragma: no-cache");
    if (post)
        lines << QLatin1String("Content-Length: ") + QString::number(h.PostSize);
    if (h.ModifiedSince != 0)
        lines << QLatin1String("If-Modified-Since: ") + HttpDateText(h.ModifiedSince)
                     + QLatin1String(" GMT");
    if (!h.Username.isEmpty())
        lines << QLatin1String("Authorization: Basic ")
                     + Base64Text(h.Username + QLatin1Char(':') + h.Password);
    if (h.ViaProxy && !h.ProxyUsername.isEmpty())
        lines << QLatin1String("Proxy-Authorization: Basic ")
                     + Base64Text(h.ProxyUsername + QLatin1Char(':') + h.ProxyPassword);
    if (!h.Cookie.isEmpty())
        lines << QLatin1String("Cookie: ") + h.Cookie;
    return lines;
}

void THttpLineBuffer::Commit(int n)
{
    if (n <= 0)
        return;
    count_ += std::min(n, Room());
    buf_[count_] = 0;
}

int THttpLineBuffer::Append(const char *data, int len)
{
    int n = std::min(std::max(len, 0), Room());
    if (n > 0)
        std::memcpy(Tail(), data, static_cast<size_t>(n));
    Commit(n);
    return n;
}

bool THttpLineBuffer::NextLine(QByteArray &line)
{
    // The whole buffered run is searched: a zero byte inside a line must not
    // hide the line end behind it (the buffer would fill and never drain).
    const char *lf = static_cast<const char *>(std::memchr(buf_.data(), '\n', count_));
    if (!lf)
        return false;
    int len = static_cast<int>(lf - buf_.data());
    int take = len > 0 && buf_[len - 1] == '\r' ? len - 1 : len;
    line = QByteArray(buf_.data(), take);
    int rest = count_ - len - 1;
    std::memmove(buf_.data(), lf + 1, static_cast<size_t>(rest) + 1);  // with its terminating zero
    count_ = rest;
    return true;
}

QByteArray THttpLineBuffer::TakeAll()
{
    QByteArray all(buf_.data(), count_);
    Clear();
    return all;
}
