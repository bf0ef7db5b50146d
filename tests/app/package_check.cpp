// The install command of the README, run as a new user runs it: the sources
// as a fresh clone has them, copied into a scratch folder, and
// ./scripts/package.sh run there. It must make the package without being
// given anything. Registered on its own (tests/app/extra.cmake) with a long
// time-out: on a machine whose compiler cache is still empty it compiles the
// whole program once more.
#include "app/cmdline.h"

#include "../support/testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include "testpaths.h"

namespace {

struct Ran {
    int code = -1;
    QString out;
};

Ran RunIn(const QString &dir, const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Ran r;
    if (!p.waitForStarted(5000) || !p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        r.out = program + " did not start or did not finish\n" + QString::fromUtf8(p.readAll());
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAll());
    return r;
}

} // namespace

TEST(PackageScript, MakesThePackageFromAFreshCopyOfTheSources)
{
    const QString source = IDLIX_SOURCE_DIR;
    if (!QFileInfo::exists(source + "/.git"))
        GTEST_SKIP() << "the sources are not a git checkout: no fresh copy can be made";
    // The script installs what it lacks; a test must not. Everything it
    // needs is in the test set, so this only skips on a half-equipped machine.
    const Ran check = RunIn(source, source + "/scripts/deps.sh", {"package", "--check"}, 30000);
    if (check.code != 0)
        GTEST_SKIP() << "scripts/deps.sh package is not installed: " << check.out.toStdString();

    // What a clone holds: the tracked files (and new ones not yet committed),
    // none of the build folders.
    QTemporaryDir copy;
    ASSERT_TRUE(copy.isValid());
    const Ran copied = RunIn(source, "sh",
                             {"-c", "git ls-files -z --cached --others --exclude-standard"
                                    " | xargs -0 cp --parents -t \"$0\"",
                              copy.path()},
                             60000);
    ASSERT_EQ(copied.code, 0) << copied.out.toStdString();
    ASSERT_TRUE(QFileInfo(copy.filePath("scripts/package.sh")).isExecutable());
    ASSERT_FALSE(QFileInfo::exists(copy.filePath("build-package")));

    const Ran made = RunIn(copy.path(), "./scripts/package.sh", {}, 1400 * 1000);
    ASSERT_EQ(made.code, 0) << made.out.right(4000).toStdString();

    // The package the README names, holding the program.
    const QString arch = RunIn(copy.path(), "dpkg", {"--print-architecture"}, 10000).out.trimmed();
    const QString deb = copy.filePath(QString("build-package/idlix_%1_%2.deb").arg(IdlixVersion, arch));
    ASSERT_TRUE(QFileInfo::exists(deb)) << made.out.right(2000).toStdString();
    EXPECT_EQ(RunIn(copy.path(), "dpkg-deb", {"-f", deb, "Package"}, 10000).out.trimmed(), "idlix");
    const QString files = RunIn(copy.path(), "dpkg-deb", {"-c", deb}, 10000).out;
    EXPECT_TRUE(files.contains(" ./usr/bin/idlix\n")) << files.toStdString();
}
