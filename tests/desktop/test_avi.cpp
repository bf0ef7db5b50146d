// AVI reader: the shipped logo clip, RLE8 codes, uncompressed frames, the
// index, hostile headers, and a randomized damage run over the real file.
#include "desktop/avimovie.h"

#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include "testpaths.h"

using desktop::TAviMovie;

namespace {

const QString kClip = QStringLiteral(IDLIX_SOURCE_DIR "/res/data/bvspin.avi");

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Put16(QByteArray &b, quint32 v) { b.append(char(v & 0xff)); b.append(char((v >> 8) & 0xff)); }
void Put32(QByteArray &b, quint32 v) { Put16(b, v & 0xffff); Put16(b, v >> 16); }

QByteArray Chunk(const char *tag, const QByteArray &body)
{
    QByteArray c(tag, 4);
    Put32(c, quint32(body.size()));
    c += body;
    if (body.size() & 1)
        c.append('\0');
    return c;
}

QByteArray List(const char *type, const QByteArray &body)
{
    return Chunk("LIST", QByteArray(type, 4) + body);
}

// A minimal clip description for building test files.
struct TClip {
    int w = 4, h = 2;
    qint32 heightField = 0;   // 0: use h (bottom-up)
    int bits = 8;
    quint32 comp = 0;
    quint32 colours = 4;      // palette entries written
    QList<QByteArray> frames;
    enum { NoIndex, RelativeIndex, AbsoluteIndex, ReversedIndex, BrokenIndex } index = NoIndex;
};

QByteArray Build(const TClip &c)
{
    QByteArray avih;
    Put32(avih, 100000);                 // 10 fps
    for (int i = 0; i < 3; ++i) Put32(avih, 0);
    Put32(avih, quint32(c.frames.size()));
    Put32(avih, 0); Put32(avih, 1); Put32(avih, 0);
    Put32(avih, quint32(c.w)); Put32(avih, quint32(c.h));
    for (int i = 0; i < 4; ++i) Put32(avih, 0);
    QByteArray strh("vids", 4);
    strh += QByteArray(4, '\0');
    for (int i = 0; i < 12; ++i) Put32(strh, i == 3 ? 1 : i == 4 ? 10 : 0);
    QByteArray strf;
    Put32(strf, 40); Put32(strf, quint32(c.w));
    Put32(strf, quint32(c.heightField ? c.heightField : c.h));
    Put16(strf, 1); Put16(strf, quint32(c.bits)); Put32(strf, c.comp);
    Put32(strf, 0); Put32(strf, 0); Put32(strf, 0);
    Put32(strf, c.bits == 8 ? c.colours : 0); Put32(strf, 0);
    if (c.bits == 8)
        for (quint32 i = 0; i < c.colours; ++i)
            Put32(strf, (i * 10) << 16 | (i * 20) << 8 | (i * 30));  // B G R 0
    const QByteArray hdrl = List("hdrl", Chunk("avih", avih)
                                 + List("strl", Chunk("strh", strh) + Chunk("strf", strf)));
    QByteArray movi;
    QList<quint32> offsets;
    for (const QByteArray &f : c.frames) {
        offsets << quint32(4 + movi.size());
        movi += Chunk(c.comp ? "00dc" : "00db", f);
    }
    QByteArray body("AVI ", 4);
    body += hdrl;
    const quint32 moviAt = quint32(12 + body.size() + 8);   // file offset of 'movi'
    body += List("movi", movi);
    if (c.index != TClip::NoIndex) {
        QByteArray idx;
        for (int k = 0; k < c.frames.size(); ++k) {
            const int i = c.index == TClip::ReversedIndex ? int(c.frames.size()) - 1 - k : k;
            idx += QByteArray(c.comp ? "00dc" : "00db", 4);
            Put32(idx, 0x10);
            quint32 off = offsets[i];
            if (c.index == TClip::AbsoluteIndex) off += moviAt;
            if (c.index == TClip::BrokenIndex) off += 3;
            Put32(idx, off);
            Put32(idx, quint32(c.frames[i].size()));
        }
        body += Chunk("idx1", idx);
    }
    return Chunk("RIFF", body);
}

// Rows of an indexed image, top row first, as lists of indices.
QList<QList<int>> Rows(const QImage &img)
{
    QList<QList<int>> rows;
    for (int y = 0; y < img.height(); ++y) {
        QList<int> r;
        for (int x = 0; x < img.width(); ++x)
            r << img.pixelIndex(x, y);
        rows << r;
    }
    return rows;
}

} // namespace

TEST(Avi, ShippedLogoClipParsesAndPlays)
{
    TAviMovie m;
    QString err;
    ASSERT_TRUE(desktop::LoadAvi(kClip, &m, &err)) << err.toStdString();
    EXPECT_EQ(m.Width, 85);
    EXPECT_EQ(m.Height, 75);
    EXPECT_GE(m.Frames.size(), 42);
    EXPECT_EQ(m.BitCount, 8);
    EXPECT_EQ(m.Palette.size(), 256);
    EXPECT_GE(m.FrameIntervalMs(), 66);   // 12 to 15 frames a second
    EXPECT_LE(m.FrameIntervalMs(), 84);
    QImage prev;
    QList<QImage> pics;
    for (int i = 0; i < m.Frames.size(); ++i) {
        const QImage f = desktop::DecodeAviFrame(m, i, prev, &err);
        ASSERT_FALSE(f.isNull()) << "frame " << i << ": " << err.toStdString();
        EXPECT_EQ(f.size(), QSize(85, 75));
        pics << f;
        prev = f;
    }
    // The globe sits in the middle: bright teal there, dark glass in the corner.
    const QRgb centre = pics[0].pixel(44, 36), corner = pics[0].pixel(1, 1);
    EXPECT_GT(qGreen(centre), 80);
    EXPECT_GT(qBlue(centre), qRed(centre));
    EXPECT_LT(qGray(corner), 60);
    // It spins: frames a quarter turn apart differ.
    EXPECT_NE(pics[0], pics[12]);
}

TEST(Avi, Rle8Codes)
{
    // Each case: RLE8 bytes over a 4 x 3 frame pre-filled with 9; expected rows top first.
    const struct {
        const char *what;
        QByteArray data;
        bool ok;
        QList<QList<int>> rows;
    } cases[] = {
        {"runs fill the bottom row first",
         QByteArray("\x02\x01\x02\x02\x00\x00\x04\x03\x00\x00\x04\x05\x00\x01", 14), true,
         {{5, 5, 5, 5}, {3, 3, 3, 3}, {1, 1, 2, 2}}},
        {"absolute run, odd length, padded",
         QByteArray("\x00\x03\x07\x06\x05\x00\x01\x04\x00\x01", 10), true,
         {{9, 9, 9, 9}, {9, 9, 9, 9}, {7, 6, 5, 4}}},
        {"delta keeps the pixels it skips",
         QByteArray("\x01\x01\x00\x02\x02\x01\x01\x02\x00\x01", 10), true,
         {{9, 9, 9, 9}, {9, 9, 9, 2}, {1, 9, 9, 9}}},
        {"end of bitmap leaves the rest untouched",
         QByteArray("\x02\x04\x00\x01\x04\x05", 6), true,
         {{9, 9, 9, 9}, {9, 9, 9, 9}, {4, 4, 9, 9}}},
        {"runs past the right edge and top are clipped",
         QByteArray("\xff\x01\x00\x00\x00\x00\x06\x02\x00\x00\x03\x07\x00\x01", 14), true,
         {{2, 2, 2, 2}, {9, 9, 9, 9}, {1, 1, 1, 1}}},
        {"no end-of-bitmap", QByteArray("\x04\x01\x00\x00", 4), false, {}},
        {"delta cut short", QByteArray("\x00\x02\x01", 3), false, {}},
        {"absolute run cut short", QByteArray("\x00\x05\x01\x02", 4), false, {}},
        {"empty", QByteArray(), false, {}},
    };
    for (const auto &c : cases) {
        QImage img(4, 3, QImage::Format_Indexed8);
        img.setColorCount(256);
        img.fill(9);
        QString err;
        EXPECT_EQ(desktop::DecodeRle8(c.data, &img, &err), c.ok) << c.what;
        if (c.ok)
            EXPECT_EQ(Rows(img), c.rows) << c.what;
        else
            EXPECT_FALSE(err.isEmpty()) << c.what;
    }
}

TEST(Avi, UncompressedFramesAndRowOrder)
{
    // 8-bit, 3 x 2: rows are padded to 4 bytes and stored bottom row first.
    TClip c8;
    c8.w = 3; c8.h = 2;
    c8.frames = {QByteArray("\x01\x02\x03\x00\x00\x01\x02\x00", 8)};
    TAviMovie m;
    QString err;
    ASSERT_TRUE(desktop::ParseAvi(Build(c8), &m, &err)) << err.toStdString();
    EXPECT_EQ(m.FrameIntervalMs(), 100);
    QImage f = desktop::DecodeAviFrame(m, 0, QImage(), &err);
    ASSERT_FALSE(f.isNull()) << err.toStdString();
    EXPECT_EQ(Rows(f), (QList<QList<int>>{{0, 1, 2}, {1, 2, 3}}));
    EXPECT_EQ(f.pixel(1, 0), qRgb(10, 20, 30));   // palette entry 1, stored as B G R 0
    // The same rows with a negative height are top-down.
    c8.heightField = -2;
    ASSERT_TRUE(desktop::ParseAvi(Build(c8), &m, &err));
    f = desktop::DecodeAviFrame(m, 0, QImage(), &err);
    EXPECT_EQ(Rows(f), (QList<QList<int>>{{1, 2, 3}, {0, 1, 2}}));

    // 24-bit, 2 x 1: BGR triplets, row padded to 8 bytes.
    TClip c24;
    c24.w = 2; c24.h = 1; c24.bits = 24;
    c24.frames = {QByteArray("\x10\x20\x30\x40\x50\x60\x00\x00", 8)};
    ASSERT_TRUE(desktop::ParseAvi(Build(c24), &m, &err)) << err.toStdString();
    f = desktop::DecodeAviFrame(m, 0, QImage(), &err);
    ASSERT_FALSE(f.isNull());
    EXPECT_EQ(f.pixel(0, 0), qRgb(0x30, 0x20, 0x10));
    EXPECT_EQ(f.pixel(1, 0), qRgb(0x60, 0x50, 0x40));

    // A frame shorter than its rows is refused, an empty one repeats the last picture.
    c24.frames = {QByteArray("\x10\x20\x30\x40\x50\x60\x00\x00", 8), QByteArray(5, 'x'), QByteArray()};
    ASSERT_TRUE(desktop::ParseAvi(Build(c24), &m, &err));
    const QImage first = desktop::DecodeAviFrame(m, 0, QImage());
    EXPECT_TRUE(desktop::DecodeAviFrame(m, 1, first, &err).isNull());
    EXPECT_FALSE(err.isEmpty());
    EXPECT_EQ(desktop::DecodeAviFrame(m, 2, first), first);
    EXPECT_TRUE(desktop::DecodeAviFrame(m, 2, QImage()).isNull());
    EXPECT_TRUE(desktop::DecodeAviFrame(m, 3, first).isNull());
}

TEST(Avi, IndexGivesThePlayOrder)
{
    TClip c;
    c.w = 4; c.h = 1;
    c.frames = {QByteArray("\x01\x01\x01\x01", 4), QByteArray("\x02\x02\x02\x02", 4),
                QByteArray("\x03\x03\x03\x03", 4)};
    const struct { decltype(TClip::index) index; QList<char> order; } rows[] = {
        {TClip::NoIndex, {1, 2, 3}},
        {TClip::RelativeIndex, {1, 2, 3}},
        {TClip::AbsoluteIndex, {1, 2, 3}},
        {TClip::ReversedIndex, {3, 2, 1}},
        {TClip::BrokenIndex, {1, 2, 3}},   // offsets point nowhere: the movi order stands
    };
    for (const auto &r : rows) {
        c.index = r.index;
        TAviMovie m;
        QString err;
        ASSERT_TRUE(desktop::ParseAvi(Build(c), &m, &err)) << err.toStdString();
        QList<char> got;
        for (const QByteArray &f : m.Frames)
            got << f[0];
        EXPECT_EQ(got, r.order) << int(r.index);
    }
}

TEST(Avi, HostileHeadersAreRefused)
{
    TClip base;
    base.frames = {QByteArray(8, '\1')};
    auto with = [&](auto change) { TClip c = base; change(c); return Build(c); };
    QByteArray longRiff = Build(base);
    longRiff[4] = char(0xf0);                         // RIFF size beyond the data
    QByteArray longChunk = Build(base);
    const int avih = longChunk.indexOf("avih");
    longChunk[avih + 6] = char(0x7f);                 // a chunk size past its list
    const struct { const char *what; QByteArray data; } rows[] = {
        {"empty", QByteArray()},
        {"not RIFF", QByteArray("RIFX\x04\x00\x00\x00" "AVI ", 12)},
        {"wave file", QByteArray("RIFF\x04\x00\x00\x00WAVE", 12)},
        {"RIFF longer than file", longRiff},
        {"chunk past its list", longChunk},
        {"truncated", Build(base).left(Build(base).size() - 3)},
        {"zero width", with([](TClip &c) { c.w = 0; })},
        {"huge width", with([](TClip &c) { c.w = 5000; })},
        {"huge height", with([](TClip &c) { c.heightField = -100000; })},
        {"16-bit frames", with([](TClip &c) { c.bits = 16; })},
        {"RLE on 24-bit", with([](TClip &c) { c.bits = 24; c.comp = 1; })},
        {"RLE top-down", with([](TClip &c) { c.comp = 1; c.heightField = -2; })},
        {"300 colours", with([](TClip &c) { c.colours = 300; })},
        {"no frames", with([](TClip &c) { c.frames.clear(); })},
    };
    for (const auto &r : rows) {
        TAviMovie m;
        QString err;
        EXPECT_FALSE(desktop::ParseAvi(r.data, &m, &err)) << r.what;
        EXPECT_FALSE(err.isEmpty()) << r.what;
        EXPECT_TRUE(m.Frames.isEmpty()) << r.what;
    }
    TAviMovie m;
    EXPECT_FALSE(desktop::LoadAvi(QStringLiteral("/nonexistent/bvspin.avi"), &m));
}

// Thousands of damaged copies of the real clip: byte flips, overwritten chunk
// sizes and truncations. None may crash; every clip that still parses must
// stay within the bounds, and each of its frames decodes or is refused.
TEST(Avi, RandomDamageNeverCrashes)
{
    const QByteArray good = ReadFile(kClip);
    TAviMovie ref;
    ASSERT_TRUE(desktop::ParseAvi(good, &ref));
    QRandomGenerator rng(8122026);
    int parsed = 0, refused = 0, badFrames = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray d = good;
        switch (rng.bounded(4)) {
        case 0:   // flips in the headers, where the sizes live
            for (int k = 0, n = 1 + int(rng.bounded(4)); k < n; ++k)
                d[int(rng.bounded(1200))] = char(rng.bounded(256));
            break;
        case 1:   // flips anywhere, mostly in frame data
            for (int k = 0, n = 1 + int(rng.bounded(16)); k < n; ++k)
                d[int(rng.bounded(d.size()))] = char(rng.bounded(256));
            break;
        case 2: {  // a chunk size word replaced by a random value
            const int at = int(rng.bounded(d.size() - 4));
            const quint32 v = rng.generate();
            memcpy(d.data() + at, &v, 4);
            break;
        }
        default:
            d.truncate(int(rng.bounded(d.size())));
        }
        TAviMovie m;
        QString err;
        if (!desktop::ParseAvi(d, &m, &err)) {
            ++refused;
            ASSERT_FALSE(err.isEmpty());
            continue;
        }
        ++parsed;
        ASSERT_GT(m.Width, 0);
        ASSERT_LE(m.Width, desktop::kAviMaxSide);
        ASSERT_LE(m.Height, desktop::kAviMaxSide);
        // Frames identical to the good clip's decode as they do there; decode
        // the rest, or all of them when the format itself changed.
        const bool sameFormat = m.Width == ref.Width && m.Height == ref.Height
                                && m.BitCount == ref.BitCount && m.Compression == ref.Compression
                                && m.Frames.size() == ref.Frames.size();
        QImage prev;
        for (int f = 0; f < m.Frames.size() && f < 60; ++f) {
            if (sameFormat && m.Frames[f] == ref.Frames[f])
                continue;
            const QImage img = desktop::DecodeAviFrame(m, f, prev);
            if (img.isNull()) {
                ++badFrames;
            } else {
                ASSERT_EQ(img.size(), QSize(m.Width, m.Height));
            }
            prev = img;
        }
    }
    EXPECT_GT(parsed, 100);
    EXPECT_GT(refused, 100);
    EXPECT_GT(badFrames, 0);
}
