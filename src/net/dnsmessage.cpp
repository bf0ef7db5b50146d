#include "net/dnsmessage.h"

#include <QStringList>

#include <array>

namespace dnsmsg {

namespace {

constexpr int kHeaderLen = 12;
constexpr quint16 kClassIn = 1;
constexpr int kMaxLabel = 63;
constexpr int kMaxWireName = 255;
// More labels than a 255-byte name can hold means a pointer loop.
constexpr int kMaxLabels = 128;

struct TTypeName {
    TType Type;
    const char *Name;
};
constexpr std::array<TTypeName, 6> kTypes = {{
    {TType::A, "A"}, {TType::AAAA, "AAAA"}, {TType::MX, "MX"},
    {TType::TXT, "TXT"}, {TType::NS, "NS"}, {TType::SOA, "SOA"},
}};

quint16 Get16(const QByteArray &b, int at)
{
    return quint16((quint8(b[at]) << 8) | quint8(b[at + 1]));
}

void Put16(QByteArray &b, quint16 v)
{
    b += char(v >> 8);
    b += char(v & 0xff);
}

bool NameChar(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-'
           || u == '_';
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Reads the name at 'at' into 'out' (wire form, lower case, uncompressed)
// and sets 'next' to the byte after it where it sits in the message. A
// pointer must point before the name it ends, so that no chain can loop.
bool ReadName(const QByteArray &b, int at, QByteArray &out, int &next)
{
    out.clear();
    next = -1;
    int pos = at;
    int limit = at;   // pointers must go below this
    for (int labels = 0; labels < kMaxLabels; ++labels) {
        if (pos >= b.size())
            return false;
        const quint8 len = quint8(b[pos]);
        if ((len & 0xc0) == 0xc0) {
            if (pos + 1 >= b.size())
                return false;
            const int target = ((len & 0x3f) << 8) | quint8(b[pos + 1]);
            if (next < 0)
                next = pos + 2;
            if (target >= limit)
                return false;
            limit = target;
            pos = target;
            continue;
        }
        if ((len & 0xc0) != 0)
            return false;   // the 01 and 10 label kinds were never put to use
        if (pos + 1 + len > b.size())
            return false;
        out += char(len);
        for (int i = 0; i < len; ++i)
            out += Lower(b[pos + 1 + i]);
        if (out.size() > kMaxWireName)
            return false;
        pos += 1 + len;
        if (len == 0) {
            if (next < 0)
                next = pos;
            return true;
        }
    }
    return false;
}

QByteArray LowerName(const QByteArray &wire)
{
    QByteArray out = wire;
    for (char &c : out)
        c = Lower(c);
    return out;
}

void SetWhy(QString *why, const char *text)
{
    if (why)
        *why = QString::fromLatin1(text);
}

} // namespace

std::optional<TType> TypeByName(const QString &name)
{
    for (const TTypeName &t : kTypes)
        if (name.compare(QLatin1String(t.Name), Qt::CaseInsensitive) == 0)
            return t.Type;
    return std::nullopt;
}

QString TypeName(TType type)
{
    for (const TTypeName &t : kTypes)
        if (t.Type == type)
            return QLatin1String(t.Name);
    return QString::number(quint16(type));
}

std::optional<QByteArray> EncodeName(const QString &name, QString *error)
{
    auto fail = [error](const QString &text) -> std::optional<QByteArray> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    QString text = name;
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (text.isEmpty())
        return fail(QStringLiteral("no name to ask for"));
    QByteArray wire;
    for (const QString &label : text.split(QLatin1Char('.'))) {
        if (label.isEmpty())
            return fail(QStringLiteral("empty label in \"%1\"").arg(name));
        if (label.size() > kMaxLabel)
            return fail(QStringLiteral("label longer than 63 characters in \"%1\"").arg(name));
        for (const QChar c : label)
            if (!NameChar(c))
                return fail(QStringLiteral("\"%1\" is not a host name").arg(name));
        wire += char(label.size());
        wire += label.toLatin1();
    }
    wire += '\0';
    if (wire.size() > kMaxWireName)
        return fail(QStringLiteral("name longer than 255 bytes: \"%1\"").arg(name));
    return wire;
}

QByteArray BuildQuery(quint16 id, const QByteArray &wireName, TType type)
{
    QByteArray q;
    q.reserve(kHeaderLen + wireName.size() + 4);
    Put16(q, id);
    Put16(q, 0x0100);   // a standard query, recursion desired
    Put16(q, 1);        // one question
    Put16(q, 0);
    Put16(q, 0);
    Put16(q, 0);
    q += wireName;
    Put16(q, quint16(type));
    Put16(q, kClassIn);
    return q;
}

TParse ParseReply(const QByteArray &b, quint16 id, const QByteArray &wireName, TType type,
                  TReplyInfo &info, QString *why)
{
    info = {};
    if (b.size() < kHeaderLen || Get16(b, 0) != id)
        return TParse::OtherId;
    const quint16 flags = Get16(b, 2);
    if (!(flags & 0x8000)) {
        SetWhy(why, "not a reply");
        return TParse::Malformed;
    }
    if (b.size() > kMaxUdpReply) {
        SetWhy(why, "reply longer than 512 bytes");
        return TParse::Malformed;
    }
    const int questions = Get16(b, 4);
    const int records[3] = {Get16(b, 6), Get16(b, 8), Get16(b, 10)};
    if (questions != 1) {
        SetWhy(why, "reply without our question");
        return TParse::Malformed;
    }
    QByteArray name;
    int pos = kHeaderLen;
    int next = 0;
    if (!ReadName(b, pos, name, next) || next + 4 > b.size()) {
        SetWhy(why, "broken question");
        return TParse::Malformed;
    }
    if (name != LowerName(wireName) || Get16(b, next) != quint16(type) || Get16(b, next + 2) != kClassIn) {
        SetWhy(why, "reply to another question");
        return TParse::Malformed;
    }
    pos = next + 4;
    int answers = 0;
    for (int section = 0; section < 3; ++section) {
        for (int i = 0; i < records[section]; ++i) {
            if (!ReadName(b, pos, name, next) || next + 10 > b.size()) {
                SetWhy(why, "broken record");
                return TParse::Malformed;
            }
            const quint16 rtype = Get16(b, next);
            const quint16 rclass = Get16(b, next + 2);
            const int rdlength = Get16(b, next + 8);
            pos = next + 10 + rdlength;
            if (pos > b.size()) {
                SetWhy(why, "record longer than the reply");
                return TParse::Malformed;
            }
            if (section == 0 && rtype == quint16(type) && rclass == kClassIn)
                ++answers;
        }
    }
    info.Rcode = flags & 0x000f;
    info.Answers = answers;
    info.Truncated = (flags & 0x0200) != 0;
    return TParse::Reply;
}

QString RcodeText(int rcode)
{
    switch (rcode) {
    case kNoError:
        return QStringLiteral("no error (NOERROR)");
    case kFormErr:
        return QStringLiteral("query not understood (FORMERR)");
    case kServFail:
        return QStringLiteral("server failure (SERVFAIL)");
    case kNxDomain:
        return QStringLiteral("no such name (NXDOMAIN)");
    case kNotImp:
        return QStringLiteral("query kind not supported (NOTIMP)");
    case kRefused:
        return QStringLiteral("query refused (REFUSED)");
    default:
        return QStringLiteral("error code %1").arg(rcode);
    }
}

} // namespace dnsmsg
