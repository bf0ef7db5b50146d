// Replacing a file whole: the bytes land exactly, the permissions are the
// ones asked for, and every failure (a size limit cutting a write short, a
// missing directory) says why and leaves the old file and nothing else.
#include "platform/replacefile.h"

#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
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
        testutil::FileSizeLimit limit(100);
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
        testutil::FileSizeLimit limit(100);
        ASSERT_TRUE(limit.ok());
        EXPECT_FALSE(out.Write(QByteArray(4096, 'x')));
        EXPECT_FALSE(out.Write("y"));
        EXPECT_FALSE(out.Commit(&reason));
        EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(EFBIG)));
    }
    EXPECT_EQ(ReadAll(path).size(), 210000);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"export.csv"});

    // Through a link the target gets the bytes and the link stays.
    ASSERT_TRUE(QFile::link(path, dir.filePath("link.csv")));
    {
        platform::TFileReplacer out;
        ASSERT_TRUE(out.Open(dir.filePath("link.csv"), TFileAccess::Shared));
        ASSERT_TRUE(out.Write("via link\r\n"));
        ASSERT_TRUE(out.Commit());
    }
    EXPECT_TRUE(QFileInfo(dir.filePath("link.csv")).isSymLink());
    EXPECT_EQ(ReadAll(path), QByteArray("via link\r\n"));

    platform::TFileReplacer nowhere;
    EXPECT_FALSE(nowhere.Open(dir.filePath("missing/x.csv"), TFileAccess::Shared, &reason));
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
    EXPECT_FALSE(nowhere.Commit(&reason));
}

TEST(ReplaceFile, ALinkKeepsPointingAtTheNewContent)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("repo/sub"));
    struct Row {
        const char *name;
        QString link;           // the path written to
        QString linkText;       // what the link holds
        QString target;         // where the bytes must land
    } rows[] = {
        {"absolute link", "a.ini", dir.filePath("repo/a.ini"), "repo/a.ini"},
        {"relative link", "b.ini", "repo/b.ini", "repo/b.ini"},
        {"relative to the link's own folder", "repo/sub/c.ini", "../c.ini", "repo/c.ini"},
        {"dangling link: its target is made", "d.ini", "repo/new.ini", "repo/new.ini"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QString link = dir.filePath(r.link);
        if (!r.linkText.endsWith("new.ini")) {
            ASSERT_TRUE(ReplaceFile(dir.filePath(r.target), "old\r\n", TFileAccess::Shared));
        }
        ASSERT_EQ(::symlink(QFile::encodeName(r.linkText).constData(),
                            QFile::encodeName(link).constData()), 0);
        QString reason;
        EXPECT_TRUE(ReplaceFile(link, "new\r\n", TFileAccess::OwnerOnly, &reason))
            << reason.toStdString();
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_EQ(QFile::symLinkTarget(link), QFileInfo(dir.filePath(r.target)).absoluteFilePath());
        EXPECT_EQ(ReadAll(dir.filePath(r.target)), QByteArray("new\r\n"));
        EXPECT_EQ(ModeOf(dir.filePath(r.target)), 0600u);
    }
    // A chain of two links ends at the file.
    ASSERT_EQ(::symlink("a.ini", QFile::encodeName(dir.filePath("chain")).constData()), 0);
    EXPECT_TRUE(ReplaceFile(dir.filePath("chain"), "chained\r\n", TFileAccess::Shared));
    EXPECT_EQ(ReadAll(dir.filePath("repo/a.ini")), QByteArray("chained\r\n"));
    // No temporary file is left anywhere.
    EXPECT_EQ(QDir(dir.filePath("repo")).entryList(QDir::Files),
              (QStringList{"a.ini", "b.ini", "c.ini", "new.ini"}));
}

TEST(ReplaceFile, ALoopOrAFifoIsNotReplaced)
{
    QTemporaryDir dir;
    const QString loop = dir.filePath("loop");
    ASSERT_EQ(::symlink("loop", QFile::encodeName(loop).constData()), 0);
    QString reason;
    EXPECT_FALSE(ReplaceFile(loop, "x", TFileAccess::Shared, &reason));
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(ELOOP)));
    EXPECT_TRUE(QFileInfo(loop).isSymLink());

    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(ReplaceFile(fifo, "x", TFileAccess::Shared, &reason));
    EXPECT_EQ(reason, "not a regular file");
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System), (QStringList{"fifo", "loop"}));
}
