// The install command of the README, run as a new user runs it: the sources
// as a fresh clone has them, copied into a scratch folder, and
// ./scripts/package.sh run there. The program it packs is the one this test
// run built (IDLIX_PACKAGE_BUILT): compiling it a second time would prove
// nothing the build before the tests did not, and would double the time a
// clean machine takes; a clean clone building is what CI checks.
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

Ran RunIn(const QString &dir, const QString &program, const QStringList &args, int timeoutMs,
          const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
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

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("IDLIX_PACKAGE_BUILT", IDLIX_BINARY_DIR);
    const Ran made = RunIn(copy.path(), "./scripts/package.sh", {}, 300 * 1000, env);
    ASSERT_EQ(made.code, 0) << made.out.right(4000).toStdString();

    // The package the README names, holding the program.
    const QString arch = RunIn(copy.path(), "dpkg", {"--print-architecture"}, 10000).out.trimmed();
    const QString deb = copy.filePath(QString("build-package/idlix_%1_%2.deb").arg(IdlixVersion, arch));
    ASSERT_TRUE(QFileInfo::exists(deb)) << made.out.right(2000).toStdString();
    EXPECT_EQ(RunIn(copy.path(), "dpkg-deb", {"-f", deb, "Package"}, 10000).out.trimmed(), "idlix");
    const QString files = RunIn(copy.path(), "dpkg-deb", {"-c", deb}, 10000).out;
    EXPECT_TRUE(files.contains(" ./usr/bin/idlix\n")) << files.toStdString();
    // Packed where it was asked, not left in the build folder it came from.
    EXPECT_FALSE(QFileInfo::exists(QString(IDLIX_BINARY_DIR "/idlix_%1_%2.deb").arg(IdlixVersion, arch)));

    // A folder that holds no built program is refused, with the reason.
    env.insert("IDLIX_PACKAGE_BUILT", copy.filePath("scripts"));
    const Ran refused = RunIn(copy.path(), "./scripts/package.sh", {}, 60 * 1000, env);
    EXPECT_NE(refused.code, 0);
    EXPECT_TRUE(refused.out.contains("holds no built program to pack")) << refused.out.toStdString();
}
