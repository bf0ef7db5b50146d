// Replacing a file whole: the bytes land exactly, the permissions are the
// ones asked for, and every failure (a size limit cutting a write short, a
// missing directory) says why and leaves the old file and nothing else.
#include "platform/replacefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using platform::ReplaceFile;
using platform::TFileAccess;

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

unsigned ModeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// Files may grow to at most 'bytes' while it lives (root is bound by this
// too), with the signal that would end the process ignored, so a write past
// the limit comes back short and then fails with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old_;
        lim.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};

} // namespace

TEST(ReplaceFile, WritesTheBytesWithTheAskedPermissions)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tree.txt");
    const mode_t oldMask = ::umask(022);
    QString reason;
    const struct {
        QByteArray bytes;
        TFileAccess access;
        unsigned mode;
    } rows[] = {
        {"first\r\n", TFileAccess::Shared, 0644},
        {QByteArray(100000, '\x95'), TFileAccess::OwnerOnly, 0600},
        {"", TFileAccess::Shared, 0644},   // an empty file, not a missing one
    };
    for (const auto &r : rows) {
        EXPECT_TRUE(ReplaceFile(path, r.bytes, r.access, &reason)) << reason.toStdString();
        EXPECT_EQ(ReadAll(path), r.bytes);
        EXPECT_EQ(ModeOf(path), r.mode);
    }
    ::umask(oldMask);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tree.txt"});
}

TEST(ReplaceFile, AFailedWriteTellsWhyAndLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tree.txt");
    ASSERT_TRUE(ReplaceFile(path, "old line\r\n", TFileAccess::Shared));

    QString reason;
    {
        FileSizeLimit limit(100);
        ASSERT_TRUE(limit.ok());
        EXPECT_FALSE(ReplaceFile(path, QByteArray(4096, 'x'), TFileAccess::Shared, &reason));
    }
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(EFBIG)));
    EXPECT_EQ(ReadAll(path), QByteArray("old line\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tree.txt"});

    const QString nowhere = dir.filePath("missing/tree.txt");
    EXPECT_FALSE(ReplaceFile(nowhere, "x\r\n", TFileAccess::Shared, &reason));
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
    EXPECT_FALSE(QFile::exists(nowhere));

    // A directory standing where the file should be is not replaced.
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    EXPECT_FALSE(ReplaceFile(dir.filePath("sub"), "x\r\n", TFileAccess::Shared, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(QFileInfo(dir.filePath("sub")).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tree.txt"});
}

TEST(FileReplacer, PiecesLandOnlyOnCommit)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("export.csv");
    ASSERT_TRUE(ReplaceFile(path, "old\r\n", TFileAccess::Shared));
    QString reason;
    {
        platform::TFileReplacer out;
        ASSERT_TRUE(out.Open(path, TFileAccess::Shared, &reason)) << reason.toStdString();
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(out.Write(QByteArray(70000, char('a' + i))));
        // Until it is committed the old file stands.
        EXPECT_EQ(ReadAll(path), QByteArray("old\r\n"));
        ASSERT_TRUE(out.Commit(&reason)) << reason.toStdString();
    }
    EXPECT_EQ(ReadAll(path), QByteArray(70000, 'a') + QByteArray(70000, 'b') + QByteArray(70000, 'c'));
    {
        // Given up half-way (no Commit): the old file stays, the pieces go.
        platform::TFileReplacer out;
        ASSERT_TRUE(out.Open(path, TFileAccess::Shared));
        ASSERT_TRUE(out.Write("half"));
    }
    EXPECT_EQ(ReadAll(path).size(), 210000);
    {
        // A write the system cuts short fails, and so do the rest and the commit.
        platform::TFileReplacer out;
        ASSERT_TRUE(out.Open(path, TFileAccess::Shared));
        FileSizeLimit limit(100);
        ASSERT_TRUE(limit.ok());
        EXPECT_FALSE(out.Write(QByteArray(4096, 'x')));
        EXPECT_FALSE(out.Write("y"));
        EXPECT_FALSE(out.Commit(&reason));
        EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(EFBIG)));
    }
    EXPECT_EQ(ReadAll(path).size(), 210000);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"export.csv"});

    platform::TFileReplacer nowhere;
    EXPECT_FALSE(nowhere.Open(dir.filePath("missing/x.csv"), TFileAccess::Shared, &reason));
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
    EXPECT_FALSE(nowhere.Commit(&reason));
}
