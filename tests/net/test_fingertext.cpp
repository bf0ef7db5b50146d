// The finger reply's byte-level functions: line splitting, the UTF-8 check,
// the display text (encoding choice, control characters made visible, markup
// left as characters), and a randomized run over hostile replies.
#include "net/fingertext.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

TEST(FingerReply, SplitsAtEveryLineBreak)
{
    struct Row {
        QByteArray in;
        QList<QByteArray> out;
    };
    const Row rows[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\r\n", {"one"}},
        {"one\r\ntwo", {"one", "two"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\n\r", {"a", ""}},        // LF then a lone CR: two breaks
        {"a\r\r\n", {"a", ""}},      // lone CR, then CR LF
        {"\r\n", {""}},
        {"\n\n", {"", ""}},
        {QByteArray("x\0y\r\nz", 6), {QByteArray("x\0y", 3), "z"}},  // a zero byte is data
    };
    for (const Row &r : rows)
        EXPECT_EQ(SplitFingerReply(r.in), r.out) << r.in.toPercentEncoding().constData();
}

TEST(FingerReply, Utf8Validity)
{
    const std::pair<QByteArray, bool> rows[] = {
        {"", true},
        {"plain ascii", true},
        {"J\xc3\xbcrgen", true},                // U+00FC
        {"\xe2\x82\xac", true},                 // U+20AC
        {"\xf0\x9f\x98\x80", true},             // U+1F600
        {"\xf4\x8f\xbf\xbf", true},             // U+10FFFF
        {"J\xfcrgen", false},                   // Latin-1 byte
        {"\xc0\xaf", false},                    // overlong "/"
        {"\xe0\x80\xaf", false},                // overlong, three bytes
        {"\xf0\x80\x80\xaf", false},            // overlong, four bytes
        {"\xed\xa0\x80", false},                // surrogate U+D800
        {"\xf4\x90\x80\x80", false},            // above U+10FFFF
        {"\xf5\x80\x80\x80", false},
        {"\x80", false},                        // continuation alone
        {"\xc3", false},                        // cut short at the end
        {"\xe2\x82", false},
        {"\xe2\x82x", false},                   // broken in the middle
        {"\xff", false},
    };
    for (const auto &[bytes, valid] : rows)
        EXPECT_EQ(IsValidUtf8(bytes), valid) << bytes.toHex().constData();
}

TEST(FingerReply, DisplayTextIsPlainAndVisible)
{
    const std::pair<QByteArray, QString> rows[] = {
        {"Login: root", u"Login: root"_qs},
        {"J\xc3\xbcrgen \xe2\x82\xac", u"J\u00fcrgen \u20ac"_qs},           // UTF-8
        {"J\xfcrgen \x80 \x93q\x94 \x95", u"J\u00fcrgen \u20ac \u201cq\u201d \u2022"_qs},  // Windows-1252
        {"<b>bold</b> <img src=x> <a href=\"http://x\">y</a> &amp;",
         u"<b>bold</b> <img src=x> <a href=\"http://x\">y</a> &amp;"_qs},  // markup is text
        {"a\tb", u"a\tb"_qs},                                              // tab kept
        {QByteArray("\x1b[31mred\x07", 9), u"\u241b[31mred\u2407"_qs},     // ESC, BEL
        {QByteArray("nul\0end", 7), u"nul\u2400end"_qs},
        {"del\x7f", u"del\u2421"_qs},
        {"cr\rlf\n", u"cr\u240dlf\u240a"_qs},                               // breaks in one line
        {"\xc2\x85next", u"\ufffdnext"_qs},                                 // C1 NEL from UTF-8
        {"x\x81y", u"x\ufffdy"_qs},                                         // byte undefined in 1252
        {"abc\xe2\x80\xaeRTL\xe2\x81\xa6", u"abc\ufffdRTL\ufffd"_qs},       // bidi override, isolate
    };
    for (const auto &[bytes, text] : rows)
        EXPECT_EQ(FingerDisplayText(bytes), text) << bytes.toHex().constData();
}

TEST(FingerReply, EncodingIsChosenPerLine)
{
    EXPECT_EQ(FingerReplyLines("caf\xc3\xa9\r\ncaf\xe9\r\n"),
              (QStringList{u"caf\u00e9"_qs, u"caf\u00e9"_qs}));
}

// Random replies, biased towards line breaks, controls and high bytes: the
// lines never hold a break or an unsafe character, and rejoined they give the
// reply back with its breaks normalised.
TEST(FingerReply, RandomRepliesStaySafe)
{
    QRandomGenerator rng(20240514);
    const char pool[] = {'\r', '\n', '\t', '\0', '\x1b', '\x7f', '\x85', '\xc3', '\xa9',
                         '\xe2', '\x80', '\xae', '<', 'a', ' '};
    for (int round = 0; round < 3000; ++round) {
        QByteArray reply;
        const int len = rng.bounded(200);
        for (int i = 0; i < len; ++i)
            reply += rng.bounded(3) ? pool[rng.bounded(int(sizeof pool))]
                                    : char(rng.bounded(256));
        const QList<QByteArray> lines = SplitFingerReply(reply);
        QByteArray normal = reply;
        normal.replace("\r\n", "\n").replace('\r', '\n');
        if (normal.endsWith('\n'))
            normal.chop(1);
        QByteArray joined;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            ASSERT_FALSE(lines[i].contains('\r') || lines[i].contains('\n'));
            joined += (i ? "\n" : "") + lines[i];
        }
        ASSERT_EQ(joined, normal) << reply.toHex().constData();

        const QStringList shown = FingerReplyLines(reply);
        ASSERT_EQ(shown.size(), lines.size());
        for (const QString &line : shown)
            for (QChar c : line) {
                const char16_t u = c.unicode();
                ASSERT_TRUE(u == '\t' || (u >= 0x20 && u != 0x7f && !(u >= 0x80 && u <= 0x9f)
                                          && !(u >= 0x202a && u <= 0x202e)
                                          && !(u >= 0x2066 && u <= 0x2069)))
                    << std::hex << int(u) << " in " << reply.toHex().constData();
            }
    }
}

} // namespace
