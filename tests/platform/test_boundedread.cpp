// Reading files within limits: which lines are kept, what is told to the
// user, and that no kind of file (a FIFO without a writer, an endless device,
// a folder, a very long line) can make a read block or grow without end.
#include "platform/boundedread.h"
#include "platform/services.h"

#include "../support/testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;

namespace {

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Collects the notices while it lives.
struct Notices {
    Notices() { platform::Services().Notice = [this](const QString &n) { seen << n; }; }
    ~Notices() { platform::Services().Notice = {}; }
    QStringList seen;
};

// The lines of bytes by the rules of ends, breaks included: a model written
// apart from the reader, one byte at a time.
QList<QByteArray> ModelLines(const QByteArray &bytes, TLineEnds ends)
{
    QList<QByteArray> lines;
    QByteArray cur;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        cur += c;
        const bool lf = c == '\n';
        const bool cr = c == '\r' && ends == TLineEnds::CrOrLf;
        if (cr && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            cur += '\n';
            ++i;
        }
        if (lf || cr) {
            lines << cur;
            cur.clear();
        }
    }
    if (!cur.isEmpty())
        lines << cur;
    return lines;
}

// The length of a line without its break, as the limits count it.
qsizetype ContentLength(const QByteArray &line, TLineEnds ends)
{
    if (line.endsWith("\r\n"))
        return line.size() - 2;
    if (line.endsWith('\n') || (ends == TLineEnds::CrOrLf && line.endsWith('\r')))
        return line.size() - 1;
    return line.size();
}

} // namespace

TEST(BoundText, KeepsWholeLinesWithinTheLimits)
{
    const TReadLimits lf{100, 3, 5, TLineEnds::Lf, {}};
    const TReadLimits crlf{100, 3, 5, TLineEnds::CrOrLf, {}};
    const TReadLimits tiny{8, 10, 5, TLineEnds::Lf, {}};
    struct Row {
        const char *name;
        QByteArray bytes;
        TReadLimits limits;
        QByteArray text;
        int kept, longLines;
        qint64 firstLong;
        TReadCut cut;
    } rows[] = {
        {"empty", "", lf, "", 0, 0, 0, TReadCut::None},
        {"last line without a break", "ab\ncd", lf, "ab\ncd", 2, 0, 0, TReadCut::None},
        {"CR LF kept as it is", "ab\r\ncd\r\n", lf, "ab\r\ncd\r\n", 2, 0, 0, TReadCut::None},
        {"CR before LF not counted in the length", "abcde\r\n", lf, "abcde\r\n", 1, 0, 0,
         TReadCut::None},
        {"lone CR is no break by LF rules", "a\rb\rc\rd\n", lf, "", 0, 1, 1, TReadCut::None},
        {"lone CR breaks by CR-or-LF rules", "a\rb\r\nc\n", crlf, "a\rb\r\nc\n", 3, 0, 0,
         TReadCut::None},
        {"long lines skipped, numbered from 1", "ok\nabcdef\nok2\nxxxxxxx\n", lf,
         "ok\nok2\n", 2, 2, 2, TReadCut::None},
        {"a line of exactly the limit is kept", "abcde\n", lf, "abcde\n", 1, 0, 0,
         TReadCut::None},
        {"line limit stops the reading", "1\n2\n3\n4\n5\n", lf, "1\n2\n3\n", 3, 0, 0,
         TReadCut::Lines},
        {"three lines and nothing after is no cut", "1\n2\n3\n", lf, "1\n2\n3\n", 3, 0, 0,
         TReadCut::None},
        {"byte limit inside a line drops that line", "abc\ndefgh\n", tiny, "abc\n", 1, 0, 0,
         TReadCut::Bytes},
        {"byte limit right after a break", "abc\nabc\nz", tiny, "abc\nabc\n", 2, 0, 0,
         TReadCut::Bytes},
        {"one endless line", QByteArray(50, 'x'), tiny, "", 0, 1, 1, TReadCut::Bytes},
        {"a short line cut by the byte limit is not long", "abc\ndefg", {6, 10, 5, TLineEnds::Lf, {}},
         "abc\n", 1, 0, 0, TReadCut::Bytes},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const TBoundedText t = BoundText(r.bytes, r.limits);
        EXPECT_EQ(t.status, TReadStatus::Read);
        EXPECT_EQ(t.text, r.text);
        EXPECT_EQ(t.keptLines, r.kept);
        EXPECT_EQ(t.longLines, r.longLines);
        EXPECT_EQ(t.firstLongLine, r.firstLong);
        EXPECT_EQ(t.cut, r.cut);
    }
}

TEST(BoundText, RandomBytesAgreeWithALineModel)
{
    // Every kept line is a whole line of the input, in order, within the
    // length limit; the lines skipped are exactly the long ones before the
    // reading stopped.
    QRandomGenerator rng(25);
    const char alphabet[] = {'a', 'b', '\r', '\n', ' '};
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes;
        const int n = rng.bounded(60);
        for (int i = 0; i < n; ++i)
            bytes += alphabet[rng.bounded(int(sizeof alphabet))];
        const TLineEnds ends = rng.bounded(2) ? TLineEnds::Lf : TLineEnds::CrOrLf;
        const TReadLimits limits{rng.bounded(1, 70), rng.bounded(1, 12), rng.bounded(0, 8), ends,
                                 {}};
        const TBoundedText t = BoundText(bytes, limits);
        SCOPED_TRACE(testing::Message() << "round " << round << " bytes "
                                        << bytes.toPercentEncoding().constData());

        const QByteArray seen = bytes.left(limits.maxBytes);
        const QList<QByteArray> lines = ModelLines(seen, ends);
        QByteArray want;
        int kept = 0, longLines = 0;
        qint64 firstLong = 0;
        TReadCut cut = TReadCut::None;
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray &line = lines[i];
            // A line that reaches the end of what was read while more follows
            // is cut by the byte limit (a CR at the very end ends its line).
            const bool whole = line.endsWith('\n')
                               || (ends == TLineEnds::CrOrLf && line.endsWith('\r'));
            if (!whole && bytes.size() > limits.maxBytes) {
                cut = TReadCut::Bytes;
                if (line.size() > limits.maxLineLength && longLines++ == 0)
                    firstLong = i + 1;
                break;
            }
            if (ContentLength(line, ends) > limits.maxLineLength) {
                if (longLines++ == 0)
                    firstLong = i + 1;
            } else if (kept == limits.maxLines) {
                cut = TReadCut::Lines;
                break;
            } else {
                want += line;
                ++kept;
            }
        }
        if (cut == TReadCut::None && bytes.size() > limits.maxBytes)
            cut = TReadCut::Bytes;
        ASSERT_EQ(t.text, want);
        ASSERT_EQ(t.keptLines, kept);
        ASSERT_EQ(t.longLines, longLines);
        ASSERT_EQ(t.firstLongLine, firstLong);
        ASSERT_EQ(t.cut, cut);
        for (const QByteArray &line : ModelLines(t.text, ends))
            ASSERT_LE(ContentLength(line, ends), limits.maxLineLength);
    }
}

TEST(ReadBoundedText, EveryKindOfFileAnswersAtOnce)
{
    QTemporaryDir dir;
    const TReadLimits limits{1024 * 1024, 1000, 253, TLineEnds::CrOrLf, {}};
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    WriteFile(dir.filePath("plain"), "a\r\nb\r\n");
    ASSERT_TRUE(QFile::link(dir.filePath("plain"), dir.filePath("link")));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), dir.filePath("dangling")));
    // 20 MB in one line: only the first MiB is ever read.
    WriteFile(dir.filePath("huge"), QByteArray(20 * 1000 * 1000, 'h'));

    struct Row {
        const char *name;
        QString path;
        TReadStatus status;
        QString kind;
        QByteArray text;
    } rows[] = {
        {"missing", dir.filePath("none"), TReadStatus::Missing, "", ""},
        {"in a missing folder", dir.filePath("none/x"), TReadStatus::Missing, "", ""},
        {"FIFO without a writer", fifo, TReadStatus::NotRegular, "a FIFO", ""},
        {"folder", dir.filePath("folder"), TReadStatus::NotRegular, "a folder", ""},
        {"endless device", "/dev/zero", TReadStatus::NotRegular, "a device", ""},
        {"regular file", dir.filePath("plain"), TReadStatus::Read, "", "a\r\nb\r\n"},
        {"link to a regular file", dir.filePath("link"), TReadStatus::Read, "", "a\r\nb\r\n"},
        {"dangling link", dir.filePath("dangling"), TReadStatus::Missing, "", ""},
        {"one line of 20 MB", dir.filePath("huge"), TReadStatus::Read, "", ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        // On a thread of its own: a read that blocks fails the row instead of
        // hanging the test.
        auto result = std::async(std::launch::async, [&] { return ReadBoundedText(r.path, limits); });
        if (result.wait_for(5s) != std::future_status::ready) {
            // Free the reader stuck in open() of the FIFO, then fail.
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            FAIL() << "the read blocked";
        }
        const TBoundedText t = result.get();
        EXPECT_EQ(t.status, r.status);
        EXPECT_EQ(t.kind, r.kind);
        EXPECT_EQ(t.text, r.text);
    }
}

TEST(ReadBoundedText, UnreadableFileSaysWhy)
{
    if (testutil::isRoot())
        GTEST_SKIP() << "root reads any file whatever its permissions";
    QTemporaryDir dir;
    const QString path = dir.filePath("secret");
    WriteFile(path, "x\n");
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::WriteOwner));
    const TBoundedText t = ReadBoundedText(path, {100, 10, 10, TLineEnds::Lf, {}});
    EXPECT_EQ(t.status, TReadStatus::Unreadable);
    EXPECT_EQ(t.error, EACCES);
}

TEST(ReadBoundedText, TellsWhatWasSkippedOncePerFileAsItStands)
{
    QTemporaryDir dir;
    Notices notices;
    const QString list = dir.filePath("Servers.dat");
    const TReadLimits hosts{1024, 3, 10, TLineEnds::CrOrLf,
                            QStringLiteral("longer than a host name can be")};
    WriteFile(list, "ok\r\n" + QByteArray(11, 'x') + "\r\nok\r\n" + QByteArray(12, 'y') + "\r\n");
    ReadBoundedText(list, hosts);
    ReadBoundedText(list, hosts);   // the settings file is read many times in a row
    ASSERT_EQ(notices.seen.size(), 1);
    EXPECT_EQ(notices.seen[0], list + ": 2 lines longer than a host name can be were skipped, "
                                      "the first at line 2.");

    // Changed, it is news again.
    WriteFile(list, "1\r\n2\r\n3\r\n4\r\n" + QByteArray(20, 'z'));
    ReadBoundedText(list, hosts);
    ASSERT_EQ(notices.seen.size(), 2);
    EXPECT_EQ(notices.seen[1], list + ": Only the first 3 lines were read; the rest was skipped.");

    const QString big = dir.filePath("big.ini");
    WriteFile(big, "k=v\n" + QByteArray(3000, 'v') + "\n");
    ReadBoundedText(big, {2048, 100, 4096, TLineEnds::Lf, {}});
    ASSERT_EQ(notices.seen.size(), 3);
    EXPECT_EQ(notices.seen[2], big + ": Only its first 2 KiB was read; the rest was skipped.");

    const QString fifo = dir.filePath("idlix2.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ReadBoundedText(fifo, {2048, 100, 4096, TLineEnds::Lf, {}});
    ASSERT_EQ(notices.seen.size(), 4);
    EXPECT_EQ(notices.seen[3], fifo + " is a FIFO, not a file; it was not read.");

    // Read whole, or missing: nothing to tell.
    WriteFile(dir.filePath("fine"), "a\nb\n");
    ReadBoundedText(dir.filePath("fine"), {2048, 100, 4096, TLineEnds::Lf, {}});
    ReadBoundedText(dir.filePath("none"), {2048, 100, 4096, TLineEnds::Lf, {}});
    EXPECT_EQ(notices.seen.size(), 4);
}
