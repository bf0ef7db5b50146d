#include "platform/cp1252.h"

namespace platform {

namespace {

// Code points of the bytes 0x80..0x9F; the rest of the page is Latin-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char encodeOne(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

} // namespace

QByteArray ToCp1252(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += '?';
            ++i;
            continue;
        }
        out += encodeOne(c);
    }
    return out;
}

QString FromCp1252(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        auto u = static_cast<unsigned char>(b);
        out += QChar(u >= 0x80 && u <= 0x9F ? kHigh[u - 0x80] : char16_t(u));
    }
    return out;
}

QByteArray ToCp1252Lines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines) {
        out += ToCp1252(line);
        out += "\r\n";
    }
    return out;
}

} // namespace platform
