// The Windows-1252 codec.
#include "platform/cp1252.h"

#include <gtest/gtest.h>

using platform::FromCp1252;
using platform::ToCp1252;

TEST(Cp1252, HighControlRangeMapsToTheCodePage)
{
    // Every byte 0x80..0x9F and its character; the five undefined bytes stand
    // for the C1 control of the same value.
    const char16_t table[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    for (int i = 0; i < 32; ++i) {
        const QByteArray byte(1, char(0x80 + i));
        const QString ch(QChar(table[i]));
        EXPECT_EQ(FromCp1252(byte), ch) << "byte 0x" << std::hex << 0x80 + i;
        EXPECT_EQ(ToCp1252(ch), byte) << "byte 0x" << std::hex << 0x80 + i;
    }
}

TEST(Cp1252, BulletLinesAndLatin1)
{
    EXPECT_EQ(ToCp1252(QString::fromUtf8("\xe2\x80\xa2 Reply from host")),
              QByteArray("\x95 Reply from host"));
    EXPECT_EQ(FromCp1252("\x95 12 msecs\r\n"), QString::fromUtf8("\xe2\x80\xa2 12 msecs\r\n"));
    EXPECT_EQ(ToCp1252(QString::fromUtf8("caf\xc3\xa9 \xc2\xa0\xc3\xbf")), QByteArray("caf\xe9 \xa0\xff"));
    EXPECT_EQ(FromCp1252(QByteArray("\0a", 2)), QString(QChar(0)) + "a");
}

TEST(Cp1252, TextFileLinesEndInCrLf)
{
    EXPECT_EQ(platform::ToCp1252Lines({QString::fromUtf8("\xe2\x80\xa2 a"), "", "b"}),
              QByteArray("\x95 a\r\n\r\nb\r\n"));
    EXPECT_EQ(platform::ToCp1252Lines({}), QByteArray());
}

TEST(Cp1252, UnmappableCharactersBecomeQuestionMarks)
{
    struct Row { const char *utf8; const char *want; } rows[] = {
        {"\xe2\x82\xac" "5", "\x80" "5"},            // euro sign is in the page
        {"\xd0\x96", "?"},                           // Cyrillic
        {"a\xe6\x97\xa5" "b", "a?b"},                // CJK
        {"\xf0\x9f\x98\x80!", "?!"},                 // outside the BMP: one '?', not two
        {"\xc4\x80", "?"},                           // U+0100 just above Latin-1
    };
    for (const Row &r : rows)
        EXPECT_EQ(ToCp1252(QString::fromUtf8(r.utf8)), QByteArray(r.want)) << r.utf8;
    // A lone surrogate cannot be encoded either.
    EXPECT_EQ(ToCp1252(QString(QChar(0xD800))), QByteArray("?"));
}

TEST(Cp1252, EveryByteSurvivesARoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const QString text = FromCp1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(ToCp1252(text), all);
}
