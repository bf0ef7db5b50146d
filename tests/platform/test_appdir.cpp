// Where the program keeps its files, and the message-box hook. The folder
// rules depend on where the executable lies and on the environment, so each
// case runs a copy of a helper program (it prints DataDir() and
// ShippedFile("Help.html")) in a folder and an environment of its own.
#include "platform/appdir.h"

#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

mode_t ModeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A place for one case: <root>/prefix/bin/appdir_probe, a home folder, a
// configuration home and a scratch folder, all reachable for the user the
// probe runs as.
struct ProbeCopy {
    QTemporaryDir root;
    QString bin() const { return root.filePath("prefix/bin"); }
    QString home() const { return root.filePath("home"); }
    QString xdg() const { return root.filePath("xdg"); }
    QString scratch() const { return root.filePath("scratch"); }

    ProbeCopy()
    {
        for (const QString &d : {bin(), home(), xdg(), scratch()})
            QDir().mkpath(d);
        QFile::copy(IDLIX_APPDIR_PROBE, bin() + "/appdir_probe");
    }
    // Hands the writable folders to uid (the probe's user) and opens the root.
    void GiveTo(uid_t uid)
    {
        ::chmod(QFile::encodeName(root.path()).constData(), 0755);
        for (const QString &d : {home(), xdg(), scratch()})
            EXPECT_EQ(::chown(QFile::encodeName(d).constData(), uid, uid), 0);
    }
    // Runs the probe; returns its two lines (data folder, help document).
    QStringList Run(const QProcessEnvironment &env, bool asNobody)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        const QString probe = bin() + "/appdir_probe";
        if (asNobody)
            p.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", probe});
        else
            p.start(probe, {});
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            ADD_FAILURE() << "probe failed: " << p.readAllStandardError().toStdString();
            return {};
        }
        return QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
};

} // namespace

TEST(AppDir, DataFolderRules)
{
    enum Where { Program, Scratch, Xdg, HomeConfig };
    struct Case {
        const char *name;
        bool iniBeside;      // idlix2.ini lies beside the program
        bool folderWritable; // the program's folder takes new files
        bool idlixDir;       // IDLIX_DIR names the scratch folder
        const char *xdg;     // XDG_CONFIG_HOME: nullptr unset, "abs" the xdg folder, else as given
        Where expect;
    };
    const Case cases[] = {
        {"portable copy", true, true, false, "abs", Program},
        {"installed, IDLIX_DIR set", false, true, true, "abs", Scratch},
        {"IDLIX_DIR wins over a portable copy", true, true, true, "abs", Scratch},
        {"installed", false, true, false, "abs", Xdg},
        {"installed, no XDG_CONFIG_HOME", false, true, false, nullptr, HomeConfig},
        {"installed, relative XDG_CONFIG_HOME", false, true, false, "rel/config", HomeConfig},
        {"settings beside an unwritable program", true, false, false, "abs", Xdg},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeCopy copy;
        if (c.iniBeside) {
            QFile ini(copy.bin() + "/idlix2.ini");
            ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        }
        // Root may write anywhere, so an unwritable folder needs another user.
        const bool asNobody = !c.folderWritable && testutil::isRoot();
        if (asNobody)
            copy.GiveTo(kNobody);
        if (!c.folderWritable)
            ::chmod(QFile::encodeName(copy.bin()).constData(), 0555);

        QProcessEnvironment env;
        env.insert("PATH", qEnvironmentVariable("PATH"));
        env.insert("HOME", copy.home());
        if (c.idlixDir)
            env.insert("IDLIX_DIR", copy.scratch() + "/");
        if (c.xdg)
            env.insert("XDG_CONFIG_HOME", QString(c.xdg) == "abs" ? copy.xdg() : QString(c.xdg));

        const QStringList out = copy.Run(env, asNobody);
        ASSERT_EQ(out.size(), 2);
        const QString expected[] = {copy.bin(), copy.scratch(), copy.xdg() + "/idlix",
                                    copy.home() + "/.config/idlix"};
        EXPECT_EQ(out[0].toStdString(), expected[c.expect].toStdString());
        // The configuration folder is made, owner-only, only when it is the
        // one chosen; ~/.config is made owner-only too when it was missing.
        const bool configChosen = c.expect == Xdg || c.expect == HomeConfig;
        EXPECT_TRUE(QDir(out[0]).exists());
        EXPECT_EQ(QFile::exists(copy.xdg() + "/idlix"), c.expect == Xdg);
        EXPECT_EQ(QFile::exists(copy.home() + "/.config"), c.expect == HomeConfig);
        if (configChosen) {
            EXPECT_EQ(ModeOf(out[0]), mode_t(0700));
        }
        if (c.expect == HomeConfig) {
            EXPECT_EQ(ModeOf(copy.home() + "/.config"), mode_t(0700));
        }
        ::chmod(QFile::encodeName(copy.bin()).constData(), 0755);
    }
}

TEST(AppDir, ExistingConfigurationFolderKeepsItsMode)
{
    ProbeCopy copy;
    ASSERT_TRUE(QDir().mkpath(copy.xdg() + "/idlix"));
    ::chmod(QFile::encodeName(copy.xdg() + "/idlix").constData(), 0750);
    QProcessEnvironment env;
    env.insert("HOME", copy.home());
    env.insert("XDG_CONFIG_HOME", copy.xdg());
    const QStringList out = copy.Run(env, false);
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].toStdString(), (copy.xdg() + "/idlix").toStdString());
    EXPECT_EQ(ModeOf(out[0]), mode_t(0750));
}

TEST(AppDir, HelpDocumentBesideTheProgramOrUnderThePrefix)
{
    struct Case {
        const char *name;
        bool beside, underPrefix;
        const char *expect;  // relative to the probe's prefix
    };
    const Case cases[] = {
        {"beside the program", true, true, "bin/Help.html"},
        {"installed", false, true, "share/idlix/Help.html"},
        {"nowhere: the place beside the program", false, false, "bin/Help.html"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeCopy copy;
        const QString prefix = copy.root.filePath("prefix");
        QDir().mkpath(prefix + "/share/idlix");
        if (c.beside)
            QFile(prefix + "/bin/Help.html").open(QIODevice::WriteOnly);
        if (c.underPrefix)
            QFile(prefix + "/share/idlix/Help.html").open(QIODevice::WriteOnly);
        QProcessEnvironment env;
        env.insert("IDLIX_DIR", copy.scratch());
        const QStringList out = copy.Run(env, false);
        ASSERT_EQ(out.size(), 2);
        EXPECT_EQ(out[1].toStdString(), (prefix + "/" + c.expect).toStdString());
    }
}

TEST(AppDir, DataFileJoinsTheFolderAndTheName)
{
    testutil::ScratchDir scratch;
    EXPECT_EQ(platform::DataDir(), scratch.path());
    EXPECT_EQ(platform::DataFile("idlix2.ini"), scratch.path() + "/idlix2.ini");
    qputenv("IDLIX_DIR", (scratch.path() + "//").toLocal8Bit());
    EXPECT_EQ(platform::DataFile("Servers.dat"), scratch.path() + "/Servers.dat");
}

TEST(AppDir, TheHeadlessServiceKeepsTheFolderOfTheIdlixItWasStartedAs)
{
    // The service lies in <prefix>/libexec/idlix; `idlix --headless` finds
    // the data folder of its own, <prefix>/bin, and hands it over.
    struct Case {
        const char *name;
        const char *launcherDir;   // the launcher's folder: "bin" its own, else as given
        bool iniBesideLauncher, iniBesideService;
        const char *expect;        // "bin", "libexec" or "xdg"
    };
    const Case cases[] = {
        {"a portable copy of the launcher", "bin", true, false, "bin"},
        {"the launcher installed: the user's folder", "bin", false, true, "xdg"},
        {"a relative folder is no launcher's", "prefix/bin", true, true, "libexec"},
        {"started directly: its own folder's rule", nullptr, false, true, "libexec"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeCopy copy;
        const QString libexec = copy.root.filePath("prefix/libexec/idlix");
        ASSERT_TRUE(QDir().mkpath(libexec));
        ASSERT_TRUE(QFile::copy(copy.bin() + "/appdir_probe", libexec + "/appdir_probe"));
        if (c.iniBesideLauncher)
            QFile(copy.bin() + "/idlix2.ini").open(QIODevice::WriteOnly);
        if (c.iniBesideService)
            QFile(libexec + "/idlix2.ini").open(QIODevice::WriteOnly);
        QProcessEnvironment env;
        env.insert("HOME", copy.home());
        env.insert("XDG_CONFIG_HOME", copy.xdg());
        QStringList launcher;
        if (c.launcherDir)
            launcher << (QString(c.launcherDir) == "bin" ? copy.bin() : QString(c.launcherDir));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(libexec + "/appdir_probe", launcher);
        ASSERT_TRUE(p.waitForFinished(10000));
        const QStringList out = QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(out.size(), 2);
        const QString expect = QString(c.expect) == "bin"       ? copy.bin()
                               : QString(c.expect) == "libexec" ? libexec
                                                                : copy.xdg() + "/idlix";
        EXPECT_EQ(out[0].toStdString(), expect.toStdString());
    }
}
