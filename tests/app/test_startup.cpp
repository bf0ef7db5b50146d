// The program as a process: one instance at a time. A second start asks the
// running one to the front and ends at once, leaving the first running.
#include "../support/childprogram.h"
#include "../support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using testutil::programEnvironment;
using testutil::programPath;

TEST(Startup, SecondInstanceEndsAndTheFirstRunsOn)
{
    if (!QFile::exists(programPath()))
        GTEST_SKIP() << "program not built at " << programPath().toStdString();
    testutil::ScratchDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.file("run")));
    QFile::setPermissions(dir.file("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner);

    QProcess first;
    first.setProcessEnvironment(programEnvironment(dir));
    first.start(programPath(), {});
    ASSERT_TRUE(first.waitForStarted(5000));
    // The first instance holds its lock once something appears in the runtime directory.
    ASSERT_TRUE(testutil::waitFor([&] { return !QDir(dir.file("run")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); },
                                  std::chrono::milliseconds(10000)));
    testutil::pump(std::chrono::milliseconds(500));

    QProcess second;
    second.setProcessEnvironment(programEnvironment(dir));
    second.start(programPath(), {});
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second instance kept running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    // It touched no settings: only the running copy writes them, at its exit.
    EXPECT_FALSE(QFile::exists(dir.file("idlix2.ini")));

    EXPECT_EQ(first.state(), QProcess::Running);
    // Its window is up, and nothing it does not paint with is loaded: Qt
    // Print Support and the printing system come with the first Print; the
    // remote write's HTTP client and codecs belong to the headless service
    // alone; the single-instance socket needs no Qt Network (nor the
    // Kerberos and proxy libraries that come with it); OpenSSL comes with
    // the first https:// probe.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(first.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    EXPECT_TRUE(mapped.contains("libQt6Widgets")) << "the map read is the program's";
    for (const char *lib : {"libQt6PrintSupport", "libcups", "idlix-print.so", "libcurl", "libprotobuf",
                            "libsnappy", "libQt6Network", "libgssapi_krb5", "libproxy", "libldap", "libssh2",
                            "libssl", "libcrypto"})
        EXPECT_FALSE(mapped.contains(lib)) << lib;
    first.kill();
    first.waitForFinished(5000);
}
