// The session log on a disk that fills up: a flush lands whole or not at all,
// a lasting failure is reported once, a log that ends in a fragment gets the
// next lines on a line of their own, and once there is room again the lines
// kept back are written.
#include "session/logfile.h"
#include "session/sessionlog.h"

#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

using session::AppendLogLines;

namespace {

// History lines as a session writes them.
QStringList Probes(int n, const QString &host = QStringLiteral("127.0.0.1"))
{
    QStringList lines;
    for (int i = 0; i < n; ++i)
        lines << QStringLiteral("\u2022 Sending 56 bytes to %1").arg(host);
    return lines;
}

// Every line of the log is one the session wrote: ends in CR LF, and is the
// bullet and a text.
void ExpectWholeLines(const QByteArray &log)
{
    ASSERT_TRUE(log.isEmpty() || log.endsWith("\r\n")) << "ends in a fragment";
    for (const QByteArray &line : log.split('\n')) {
        if (line.isEmpty())
            continue;
        EXPECT_TRUE(line.startsWith("\x95 ") && line.endsWith('\r')) << line.constData();
    }
}

// A small tmpfs mounted on a folder while it lives.
class SmallDisk {
public:
    SmallDisk(const QString &where, const char *size) : where_(QFile::encodeName(where))
    {
        const QByteArray options = QByteArray("size=") + size + ",mode=0755";
        mounted_ = ::mount("tmpfs", where_.constData(), "tmpfs", 0, options.constData()) == 0;
        error_ = errno;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(where_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    int error() const { return error_; }

private:
    QByteArray where_;
    bool mounted_ = false;
    int error_ = 0;
};

// Fills the file system of path's folder until no byte more fits.
void FillUp(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (f.write(block) == block.size()) {
    }
    // The last page may still take a few bytes.
    while (f.write("f", 1) == 1) {
    }
}

} // namespace

TEST(LogFile, EachFlushStartsOnALineOfItsOwn)
{
    QTemporaryDir dir;
    const QString log = dir.filePath("AI_Log.txt");
    struct Row {
        const char *name;
        QByteArray before;   // empty: no file
        QByteArray after;
    } rows[] = {
        {"no log yet", "", "\x95 a\r\n\x95 b\r\n"},
        {"whole lines", "\x95 x\r\n", "\x95 x\r\n\x95 a\r\n\x95 b\r\n"},
        {"a line ended by LF alone", "x\n", "x\n\x95 a\r\n\x95 b\r\n"},
        {"a fragment left by a crash", "\x95 127.0.0.",
         "\x95 127.0.0.\r\n\x95 a\r\n\x95 b\r\n"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QFile::remove(log);
        if (!r.before.isEmpty())
            testutil::writeFile(log, r.before);
        QString error;
        EXPECT_TRUE(AppendLogLines(log, {"\u2022 a", "\u2022 b"}, &error)) << error.toStdString();
        EXPECT_EQ(testutil::readFile(log), r.after);
    }
}

TEST(LogFile, AWriteCutShortIsTakenBackToTheLastWholeLine)
{
    // Without root: a file size limit cuts the write in the middle of a line,
    // as a full disk does.
    QTemporaryDir dir;
    const QString log = dir.filePath("AI_Log.txt");
    ASSERT_TRUE(AppendLogLines(log, Probes(2), nullptr));
    const QByteArray before = testutil::readFile(log);
    QString error;
    {
        testutil::FileSizeLimit limit(before.size() + 100);
        ASSERT_TRUE(limit.ok());
        EXPECT_FALSE(AppendLogLines(log, Probes(10), &error));
    }
    EXPECT_EQ(error, "Unable to write to " + log);
    EXPECT_EQ(testutil::readFile(log), before);
    // The same lines once the limit is gone: written whole, once.
    ASSERT_TRUE(AppendLogLines(log, Probes(10), &error));
    EXPECT_TRUE(testutil::readFile(log).startsWith(before));
    EXPECT_EQ(testutil::readFile(log).count("\r\n"), 12);
    ExpectWholeLines(testutil::readFile(log));
}

TEST(LogFile, AFullDiskKeepsWholeLinesTellsOnceAndRecovers)
{
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root to mount a small tmpfs under the data folder";
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    ASSERT_TRUE(QDir().mkpath(data));
    SmallDisk disk(data, "64k");
    ASSERT_TRUE(disk.mounted()) << "mount: " << std::strerror(disk.error());
    const QString log = data + "/AI_Log.txt";
    TSessionLog session(log);
    auto flush = [&](int lines, QString *report) {
        for (const QString &line : Probes(lines))
            session.Add(line);
        return session.FlushAll(report);
    };
    QString report;
    ASSERT_EQ(flush(3, &report), TSessionLog::TFlush::Written);
    const QByteArray before = testutil::readFile(log);
    ASSERT_NO_FATAL_FAILURE(FillUp(data + "/filler"));

    // Every flush while the disk stays full fails whole; the first tells.
    QStringList reports;
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_EQ(flush(201, &report), TSessionLog::TFlush::Failed);
        if (!report.isEmpty())
            reports << report;
        EXPECT_EQ(testutil::readFile(log), before) << "flush " << tick;
    }
    EXPECT_EQ(reports, QStringList{"Unable to write to " + log});
    EXPECT_EQ(session.Pending().size(), 3 * 201);

    // Room again: the lines kept back go in after the last whole line.
    ASSERT_TRUE(QFile::remove(data + "/filler"));
    ASSERT_EQ(session.FlushAll(&report), TSessionLog::TFlush::Written);
    EXPECT_TRUE(report.isEmpty());
    const QByteArray after = testutil::readFile(log);
    EXPECT_TRUE(after.startsWith(before));
    EXPECT_EQ(after.count("\r\n"), 3 + 3 * 201);
    ExpectWholeLines(after);

    // A new failure after a good flush is news again.
    ASSERT_NO_FATAL_FAILURE(FillUp(data + "/filler"));
    EXPECT_EQ(flush(201, &report), TSessionLog::TFlush::Failed);
    EXPECT_EQ(report, "Unable to write to " + log);
}

TEST(LogFile, WhatIsNoFileIsRefusedAtOnce)
{
    QTemporaryDir dir;
    const QString log = dir.filePath("AI_Log.txt");
    struct Row {
        const char *name;
        std::function<void()> make;
    } rows[] = {
        {"a folder", [&] { ASSERT_TRUE(QDir().mkdir(log)); }},
        {"a FIFO nobody reads",
         [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(log).constData(), 0600), 0); }},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QDir(log).removeRecursively();
        QFile::remove(log);
        ASSERT_NO_FATAL_FAILURE(r.make());
        TSessionLog session(log);
        session.Add(Probes(1).first());
        QString report;
        EXPECT_EQ(session.FlushAll(&report), TSessionLog::TFlush::Failed);
        EXPECT_EQ(report, "Cannot create file " + log);
        EXPECT_EQ(session.FlushAll(&report), TSessionLog::TFlush::Failed);
        EXPECT_TRUE(report.isEmpty()) << "told twice";
    }
}
