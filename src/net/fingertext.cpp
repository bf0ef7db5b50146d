#include "net/fingertext.h"

#include "platform/cp1252.h"

QList<QByteArray> SplitFingerReply(const QByteArray &reply)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = reply.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = reply[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.append(reply.mid(start, i - start));
        i += (c == '\r' && i + 1 < n && reply[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < n)
        lines.append(reply.mid(start));
    return lines;
}

bool IsValidUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int more;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0)
                lo = 0xA0;  // overlong below U+0800
            else if (b == 0xED)
                hi = 0x9F;  // surrogates U+D800..U+DFFF
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0)
                lo = 0x90;  // overlong below U+10000
            else if (b == 0xF4)
                hi = 0x8F;  // above U+10FFFF
        } else {
            return false;   // continuation byte alone, C0/C1 overlong lead, F5..FF
        }
        if (i + more >= n)
            return false;   // cut short at the end
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int k = 2; k <= more; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        i += 1 + more;
    }
    return true;
}

namespace {

bool isBidiControl(char16_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString FingerDisplayText(const QByteArray &bytes)
{
    QString text = IsValidUtf8(bytes) ? QString::fromUtf8(bytes) : platform::FromCp1252(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == '\t')
            continue;
        if (c < 0x20)
            text[i] = QChar(char16_t(0x2400 + c));
        else if (c == 0x7F)
            text[i] = QChar(char16_t(0x2421));
        else if ((c >= 0x80 && c <= 0x9F) || isBidiControl(c))
            text[i] = QChar(char16_t(0xFFFD));
    }
    return text;
}

QStringList FingerReplyLines(const QByteArray &reply)
{
    QStringList out;
    const QList<QByteArray> lines = SplitFingerReply(reply);
    out.reserve(lines.size());
    for (const QByteArray &line : lines)
        out.append(FingerDisplayText(line));
    return out;
}
