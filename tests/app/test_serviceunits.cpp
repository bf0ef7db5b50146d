// The systemd units of the headless service as systemd reads them: both
// verify without a complaint, the system unit's hardening keeps its
// exposure low, and the statuses systemd must not restart on are the ones
// the service exits with for what a restart cannot mend.
#include "service/serviceargs.h"
#include "../support/childprogram.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include "testpaths.h"

namespace {

const QString kSystemUnit = QStringLiteral(IDLIX_SOURCE_DIR "/packaging/systemd/idlix.service");
const QString kUserUnit = QStringLiteral(IDLIX_SOURCE_DIR "/packaging/systemd/user/idlix.service");
const QString kReflectorUnit = QStringLiteral(IDLIX_SOURCE_DIR "/packaging/systemd/idlix-reflector.service");

// The value of a unit's key (the last one that sets it).
QString Key(const QString &unit, const QString &key)
{
    QString value;
    for (const QString &line : QString::fromUtf8(testutil::readFile(unit)).split('\n')) {
        if (line.startsWith(key + '='))
            value = line.mid(key.size() + 1).trimmed();
    }
    return value;
}

struct Outcome {
    int code = -1;
    QString out;
};

Outcome Analyze(const QStringList &args, const QString &runtimeDir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    env.insert("SYSTEMD_LOG_COLOR", "0");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("systemd-analyze", args);
    Outcome o;
    if (p.waitForStarted(5000) && p.waitForFinished(60000))
        o.code = p.exitCode();
    o.out = QString::fromUtf8(p.readAll());
    return o;
}

} // namespace

TEST(ServiceUnits, SystemdVerifiesBothWithoutAComplaint)
{
    if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed: the units are not verified";
    if (!QFile::exists(testutil::programPath()))
        GTEST_SKIP() << "program not built at " << testutil::programPath().toStdString();
    testutil::ScratchDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.file("run")));
    QFile::setPermissions(dir.file("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const struct {
        const char *name;
        QString unit;
        QStringList mode;
    } units[] = {
        {"system", kSystemUnit, {}},
        {"user", kUserUnit, {"--user"}},
        {"reflector", kReflectorUnit, {}},
    };
    for (const auto &u : units) {
        SCOPED_TRACE(u.name);
        // systemd checks that the program is there: the one just built
        // stands in for the installed one.
        QByteArray text = testutil::readFile(u.unit);
        ASSERT_TRUE(text.contains("ExecStart=/usr/bin/idlix --"));
        text.replace("/usr/bin/idlix", QFile::encodeName(testutil::programPath()));
        const QString copy = dir.file(QStringLiteral("%1/%2").arg(u.name, QFileInfo(u.unit).fileName()));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(copy).path()));
        QFile f(copy);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        const Outcome o = Analyze(u.mode + QStringList{"verify", "--man=no", copy}, dir.file("run"));
        if (o.code != 0 && o.out.contains("Failed to initialize manager"))
            GTEST_SKIP() << "systemd-analyze cannot run here: " << o.out.toStdString();
        // Unknown keys and bad values are only warned about: none may show.
        EXPECT_EQ(o.code, 0) << o.out.toStdString();
        EXPECT_EQ(o.out.trimmed().toStdString(), "");
    }
}

TEST(ServiceUnits, TheSystemUnitsHardeningKeepsItsExposureLow)
{
    if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    testutil::ScratchDir dir;
    const Outcome o = Analyze({"security", "--offline=true", "--no-pager", kSystemUnit}, dir.path());
    const auto m = QRegularExpression(R"(Overall exposure level for idlix\.service: ([0-9.]+) )").match(o.out);
    if (!m.hasMatch())
        GTEST_SKIP() << "this systemd-analyze cannot rate a unit file offline: " << o.out.left(300).toStdString();
    // 0 is a sealed box, 10 no protection at all; 2.0 and below is rated "OK".
    EXPECT_LE(m.captured(1).toDouble(), 2.0) << o.out.toStdString();
    // The probes still have what they need.
    const QStringList families = Key(kSystemUnit, "RestrictAddressFamilies").split(' ');
    for (const char *family : {"AF_INET", "AF_INET6", "AF_NETLINK", "AF_UNIX"})
        EXPECT_TRUE(families.contains(family)) << family;
    EXPECT_EQ(Key(kSystemUnit, "AmbientCapabilities"), "CAP_NET_RAW");
    // The reflector needs less still: no capability, no netlink.
    const Outcome r = Analyze({"security", "--offline=true", "--no-pager", kReflectorUnit}, dir.path());
    const auto rm = QRegularExpression(R"(Overall exposure level for idlix-reflector\.service: ([0-9.]+) )").match(r.out);
    ASSERT_TRUE(rm.hasMatch()) << r.out.left(300).toStdString();
    EXPECT_LE(rm.captured(1).toDouble(), 2.0) << r.out.toStdString();
    // Its status for "no key" is one systemd does not restart on.
    EXPECT_TRUE(Key(kReflectorUnit, "RestartPreventExitStatus").split(' ').contains(QString::number(service::kExitConfig)));
}

TEST(ServiceUnits, NoRestartForWhatARestartCannotMend)
{
    const QString prevented = QStringLiteral("%1 %2 %3")
                                  .arg(service::kExitUsage)
                                  .arg(service::kExitNoPermission)
                                  .arg(service::kExitConfig);
    for (const QString &unit : {kSystemUnit, kUserUnit}) {
        SCOPED_TRACE(unit.toStdString());
        EXPECT_EQ(Key(unit, "Type"), "notify");
        EXPECT_EQ(Key(unit, "Restart"), "on-failure");
        EXPECT_EQ(Key(unit, "RestartPreventExitStatus"), prevented);
        // The watchdog leaves room for a 5 s echo that blocks the loop.
        const QString watchdog = Key(unit, "WatchdogSec");
        ASSERT_TRUE(watchdog.endsWith('s'));
        EXPECT_GE(watchdog.chopped(1).toInt(), 2 * 5 + 5);
    }
    // The system service keeps its data in its state folder.
    EXPECT_TRUE(Key(kSystemUnit, "ExecStart").endsWith("--config %S/" + Key(kSystemUnit, "StateDirectory")));
    EXPECT_EQ(Key(kSystemUnit, "DynamicUser"), "yes");
}
