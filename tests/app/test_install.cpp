// Installing Idlix: the files under a prefix, the desktop entry and metadata
// as their validators see them, --help and --version, and the Debian package
// with its post-install step. The install and the package are made once, from
// the build folder, into scratch folders, and shared by the cases: the file
// runs as ONE_PROCESS.
#include "app/cmdline.h"

#include "../support/childprogram.h"
#include "../support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Result {
    int code = -1;
    QString out, err;
};

Result RunTool(const QString &program, const QStringList &args,
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 60000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Result r;
    if (!p.waitForStarted(5000)) {
        r.err = program + ": not started";
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        r.err = program + ": did not finish";
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Runs the program with args on a scratch folder and no display: a window
// could not open (Qt would abort), so whatever answers must answer first.
// untouched tells whether the instance guard and the settings were left alone.
Result RunWithoutDisplay(const QStringList &args, bool &untouched)
{
    testutil::ScratchDir dir;
    untouched = false;
    if (!QDir().mkpath(dir.file("run")))
        return {};
    QProcessEnvironment env = testutil::programEnvironment(dir);
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    const Result r = RunTool(testutil::programPath(), args, env, 10000);
    untouched = QDir(dir.file("run")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                && !QFile::exists(dir.file("idlix2.ini"));
    return r;
}

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Every file an install puts under its prefix.
QStringList ExpectedFiles()
{
    QStringList files = {"bin/idlix",
                         "share/applications/com.brisvane.Idlix.desktop",
                         "share/idlix/Help.html",
                         "share/idlix/bvspin.avi",
                         "share/idlix/bvspin@2x.avi",
                         "share/idlix/idlix-rules.yml",
                         "share/man/man1/idlix.1.gz",
                         "share/metainfo/com.brisvane.Idlix.metainfo.xml"};
    for (const int size : kIconSizes)
        files << QString("share/icons/hicolor/%1x%1/apps/idlix.png").arg(size);
    // The headless service, its units and the package's own documents.
    files << "libexec/idlix/idlix-headless" << "lib/idlix/modules/idlix-print.so" << "lib/systemd/system/idlix.service"
          << "lib/systemd/system/idlix-reflector.service" << "lib/systemd/user/idlix.service" << "share/doc/idlix/changelog.gz" << "share/doc/idlix/copyright";
    files.sort();
    return files;
}

QStringList FilesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

// One install into a scratch prefix for the whole run; empty when it failed.
QString Prefix()
{
    static QTemporaryDir dir;
    static const bool installed = [] {
        const Result r = RunTool("cmake", {"--install", IDLIX_BINARY_DIR, "--prefix", dir.path()});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        return r.code == 0;
    }();
    return installed ? dir.path() : QString();
}

QString ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The value of "Key=" in a desktop entry.
QString DesktopKey(const QString &entry, const QString &key)
{
    const auto m = QRegularExpression("^" + key + "=(.*)$", QRegularExpression::MultilineOption)
                       .match(entry);
    return m.hasMatch() ? m.captured(1) : QString();
}

} // namespace

TEST(Install, PrefixGetsExactlyTheExpectedFiles)
{
    ASSERT_FALSE(Prefix().isEmpty());
    EXPECT_EQ(FilesUnder(Prefix()), ExpectedFiles());
    // The installed program runs from there.
    const Result r = RunTool(Prefix() + "/bin/idlix", {"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.toStdString(), std::string("Idlix ") + IdlixVersion + "\n");
}

TEST(Install, ThemeIconsHaveTheSizeOfTheirFolder)
{
    ASSERT_FALSE(Prefix().isEmpty());
    for (const int size : kIconSizes) {
        SCOPED_TRACE(size);
        const QImage icon(Prefix() + QString("/share/icons/hicolor/%1x%1/apps/idlix.png").arg(size));
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.size(), QSize(size, size));
        EXPECT_TRUE(icon.hasAlphaChannel());
    }
}

TEST(Install, DesktopEntryAndMetadataValidate)
{
    ASSERT_FALSE(Prefix().isEmpty());
    struct Validator {
        const char *program;
        QStringList args;
    };
    const Validator validators[] = {
        {"desktop-file-validate", {Prefix() + "/share/applications/com.brisvane.Idlix.desktop"}},
        {"appstreamcli",
         {"validate", "--no-net", "--pedantic",
          Prefix() + "/share/metainfo/com.brisvane.Idlix.metainfo.xml"}},
    };
    int ran = 0;
    for (const Validator &v : validators) {
        SCOPED_TRACE(v.program);
        if (QStandardPaths::findExecutable(v.program).isEmpty()) {
            std::printf("%s is not installed: not checked\n", v.program);
            continue;
        }
        ++ran;
        const Result r = RunTool(v.program, v.args);
        // Both tools answer 0 when there are no errors or warnings.
        EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    }
    if (ran == 0)
        GTEST_SKIP() << "neither desktop-file-validate nor appstreamcli is installed";
}

TEST(Install, DesktopEntryAndMetadataAgreeWithTheInstall)
{
    ASSERT_FALSE(Prefix().isEmpty());
    const QString entry = ReadFile(Prefix() + "/share/applications/com.brisvane.Idlix.desktop");
    const QString meta = ReadFile(Prefix() + "/share/metainfo/com.brisvane.Idlix.metainfo.xml");
    ASSERT_FALSE(entry.isEmpty());
    ASSERT_FALSE(meta.isEmpty());
    // The menu starts the installed program and shows the theme icon.
    EXPECT_TRUE(QFile::exists(Prefix() + "/bin/" + DesktopKey(entry, "Exec")));
    EXPECT_TRUE(QFile::exists(Prefix() + "/share/icons/hicolor/48x48/apps/" +
                              DesktopKey(entry, "Icon") + ".png"));
    const QStringList categories = DesktopKey(entry, "Categories").split(';', Qt::SkipEmptyParts);
    EXPECT_TRUE(categories.contains("Network"));
    EXPECT_TRUE(categories.contains("Monitor"));
    EXPECT_FALSE(DesktopKey(entry, "Comment").isEmpty());
    // The metadata names the entry, the icon, a captioned screenshot and this release.
    EXPECT_TRUE(meta.contains("<launchable type=\"desktop-id\">com.brisvane.Idlix.desktop</launchable>"));
    EXPECT_TRUE(meta.contains("<icon type=\"stock\">" + DesktopKey(entry, "Icon") + "</icon>"));
    EXPECT_TRUE(QRegularExpression("<screenshot[^>]*>\\s*<caption>[^<]+</caption>").match(meta).hasMatch());
    EXPECT_TRUE(meta.contains(QString("<release version=\"%1\"").arg(IdlixVersion)));
}

TEST(Install, ManualPageReadsCleanAndCoversTheOptions)
{
    ASSERT_FALSE(Prefix().isEmpty());
    const QString page = Prefix() + "/share/man/man1/idlix.1.gz";
    if (QStandardPaths::findExecutable("man").isEmpty())
        GTEST_SKIP() << "man is not installed";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MANWIDTH", "80");
    env.insert("LC_ALL", "C.UTF-8");
    const Result r = RunTool("man", {"--warnings", "-l", page}, env);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err.toStdString(), "");
    // Every option --help lists is described (man renders "--help" as "--help").
    const Result help = RunTool(testutil::programPath(), {"--help"});
    const auto options = QRegularExpression("(?<=\\s)--?[a-z]+").globalMatch(help.out);
    int count = 0;
    for (auto it = options; it.hasNext(); ++count) {
        const QString option = it.next().captured(0);
        EXPECT_TRUE(r.out.contains(option)) << option.toStdString();
    }
    EXPECT_GE(count, 3);
}

TEST(CommandLine, HelpAndVersionAnswerWithoutWindowOrGuard)
{
    struct Case {
        QStringList args;
        const char *firstLine;
    };
    const std::string version = std::string("Idlix ") + IdlixVersion;
    const Case cases[] = {
        {{"--help"}, "Usage: idlix [OPTION]"},
        {{"-h"}, "Usage: idlix [OPTION]"},
        {{"--version"}, version.c_str()},
        {{"-platform", "offscreen", "--version"}, version.c_str()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        bool untouched = false;
        const Result r = RunWithoutDisplay(c.args, untouched);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(r.out.section('\n', 0, 0).toStdString(), c.firstLine);
        EXPECT_EQ(r.err.toStdString(), "");
        EXPECT_TRUE(untouched);
    }
}

TEST(CommandLine, WhatItCannotUnderstandIsRefusedBeforeAnyDisplay)
{
    struct Case {
        QStringList args;
        int code;
        const char *complaint;  // first line on standard error, empty for none
    };
    const Case cases[] = {
        {{"--foo"}, 64, "idlix: unknown option '--foo'"},
        {{"-x"}, 64, "idlix: unknown option '-x'"},
        {{"--version=2"}, 64, "idlix: unknown option '--version=2'"},
        {{"-reverse=1"}, 64, "idlix: unknown option '-reverse=1'"},
        {{"somefile"}, 64, "idlix: unexpected argument 'somefile'"},
        {{"-"}, 64, "idlix: unexpected argument '-'"},
        {{"-platform"}, 64, "idlix: missing value for option '-platform'"},
        {{"--foo", "--help"}, 64, "idlix: unknown option '--foo'"},
        // Qt's own options, in each of its spellings, pass; --version then answers.
        {{"-style", "fusion", "--version"}, 0, ""},
        {{"-style=fusion", "--version"}, 0, ""},
        {{"--platform", "offscreen", "-reverse", "--version"}, 0, ""},
        {{"-session", "1234abcd", "--help"}, 0, ""},
        // A value is never taken for an option.
        {{"-display", "--foo", "--version"}, 0, ""},
        // -4 and -6 are the program's own: taken alone, refused together.
        {{"-4", "-6"}, 64, "idlix: conflicting option '-6'"},
        {{"-6", "--version"}, 0, ""},
        {{"-4", "-4", "--help"}, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        bool untouched = false;
        const Result r = RunWithoutDisplay(c.args, untouched);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.err.section('\n', 0, 0).toStdString(), c.complaint);
        if (c.code != 0) {
            EXPECT_TRUE(r.err.contains("\nUsage: idlix [OPTION]\n")) << r.err.toStdString();
            EXPECT_EQ(r.out.toStdString(), "");
        }
        EXPECT_TRUE(untouched);
    }
}

TEST(CommandLine, VersionAnswersWhileAnotherIdlixRuns)
{
    testutil::ScratchDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.file("run")));
    QFile::setPermissions(dir.file("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner);
    QProcess first;
    first.setProcessEnvironment(testutil::programEnvironment(dir));
    first.start(testutil::programPath(), {});
    ASSERT_TRUE(first.waitForStarted(5000));
    ASSERT_TRUE(testutil::waitFor([&] { return !QDir(dir.file("run")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); },
                                  std::chrono::milliseconds(10000)));
    // A second start would hand over to the first and print nothing; these answer.
    const Result r = RunTool(testutil::programPath(), {"--version"}, testutil::programEnvironment(dir), 10000);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.toStdString(), std::string("Idlix ") + IdlixVersion + "\n");
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(5000);
}

namespace {

// The Debian package, made once for the whole run from the build folder.
struct Package {
    QTemporaryDir dir;
    QString deb;
    Package()
    {
        const Result r = RunTool("cpack", {"-G", "DEB", "-B", dir.path(), "--config",
                                       QString(IDLIX_BINARY_DIR) + "/CPackConfig.cmake"},
                             QProcessEnvironment::systemEnvironment(), 120000);
        EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        const QStringList debs = QDir(dir.path()).entryList({"idlix_*.deb"}, QDir::Files);
        if (debs.size() == 1)
            deb = dir.filePath(debs.front());
    }
    QString Field(const QString &name) const
    {
        return RunTool("dpkg-deb", {"-f", deb, name}).out.trimmed();
    }
};

const Package &ThePackage()
{
    static const Package package;
    return package;
}

bool HavePackageTools()
{
    return !QStandardPaths::findExecutable("dpkg-deb").isEmpty() &&
           !QStandardPaths::findExecutable("dpkg-shlibdeps").isEmpty();
}

} // namespace

TEST(Package, ControlFields)
{
    if (!HavePackageTools())
        GTEST_SKIP() << "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
    const Package &p = ThePackage();
    ASSERT_FALSE(p.deb.isEmpty());
    const QString arch = RunTool("dpkg", {"--print-architecture"}).out.trimmed();
    struct Field {
        const char *name;
        QString expect;
    };
    const Field exact[] = {
        {"Package", "idlix"},
        {"Version", IdlixVersion},
        {"Architecture", arch},
        {"Section", "net"},
        {"Priority", "optional"},
    };
    for (const Field &f : exact)
        EXPECT_EQ(p.Field(f.name).toStdString(), f.expect.toStdString()) << f.name;
    EXPECT_EQ(QFileInfo(p.deb).fileName(), QString("idlix_%1_%2.deb").arg(IdlixVersion, arch));
    EXPECT_TRUE(p.Field("Maintainer").contains('@'));
    EXPECT_TRUE(p.Field("Description").startsWith("keep an idle-sensitive Internet connection alive\n"));

    // The libraries come from the program itself, with their versions; the
    // platform plugins, OpenSSL (loaded by the first https:// probe) and
    // setcap are named by hand. Nothing uses Qt Network.
    QStringList depends;
    for (const QString &d : p.Field("Depends").split(',', Qt::SkipEmptyParts))
        depends << d.trimmed().section(' ', 0, 0);
    for (const char *needed : {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                               "libqt6printsupport6", "libjpeg62-turbo", "qt6-qpa-plugins", "libssl3",
                               "libcap2-bin"})
        EXPECT_TRUE(depends.contains(needed)) << needed << " missing from " << p.Field("Depends").toStdString();
    EXPECT_FALSE(depends.contains("libqt6network6")) << p.Field("Depends").toStdString();
    EXPECT_TRUE(p.Field("Depends").contains(QRegularExpression("libqt6core6 \\(>= [0-9.]+\\)")));
    // The window's face comes recommended, so its captions fit their boxes.
    EXPECT_TRUE(p.Field("Recommends").split(", ").contains("fonts-liberation2"))
        << p.Field("Recommends").toStdString();
}

TEST(Package, FilesArePrefixedCopiesOfTheInstall)
{
    if (!HavePackageTools())
        GTEST_SKIP() << "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
    const Package &p = ThePackage();
    ASSERT_FALSE(p.deb.isEmpty());
    QStringList files, expected;
    QString programLine;
    for (const QString &line : RunTool("dpkg-deb", {"-c", p.deb}).out.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith('d'))
            continue;  // folders
        const QString path = line.section(' ', -1);
        files << path;
        if (path == "./usr/bin/idlix")
            programLine = line;
    }
    files.sort();
    for (const QString &f : ExpectedFiles())
        expected << "./usr/" + f;
    EXPECT_EQ(files, expected);
    // Owned by root and executable; stripped, so far smaller than the build's copy.
    EXPECT_TRUE(programLine.startsWith("-rwxr-xr-x root/root")) << programLine.toStdString();
    const qint64 packedSize = programLine.simplified().section(' ', 2, 2).toLongLong();
    EXPECT_GT(packedSize, 0);
    EXPECT_LT(packedSize, QFileInfo(testutil::programPath()).size());
}

TEST(Package, PostInstallGivesTheCapabilityOnlyWhereUsersCannotPing)
{
    if (!HavePackageTools())
        GTEST_SKIP() << "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root: the ICMP setting is changed in a network namespace of its own";
    if (QStandardPaths::findExecutable("setcap").isEmpty() || QStandardPaths::findExecutable("unshare").isEmpty())
        GTEST_SKIP() << "setcap (libcap2-bin) or unshare is not installed";
    const Package &p = ThePackage();
    ASSERT_FALSE(p.deb.isEmpty());
    QTemporaryDir control;
    ASSERT_EQ(RunTool("dpkg-deb", {"-e", p.deb, control.path()}).code, 0);
    const QString postinst = ReadFile(control.filePath("postinst"));
    ASSERT_TRUE(postinst.contains("\"/usr/bin/idlix\""));
    ASSERT_TRUE(postinst.contains("\"/usr/libexec/idlix/idlix-headless\""));
    EXPECT_TRUE(QFileInfo(control.filePath("postinst")).isExecutable());

    struct Case {
        const char *range;  // net.ipv4.ping_group_range in the namespace
        const char *action; // the maintainer script's argument
        bool capability;
    };
    const Case cases[] = {
        {"1 0", "configure", true},            // the kernel's default: nobody
        {"100 100", "configure", true},        // only one group
        {"0 2147483647", "configure", false},  // everyone (systemd's default)
        {"1 2147483647", "configure", false},  // everyone but root, who needs none
        {"1 0", "abort-upgrade", false},       // not a configure step
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.range) + " " + c.action);
        // The script run on scratch copies of a program instead of
        // /usr/bin/idlix and of the headless service it hands over to.
        QTemporaryDir scratch;
        const QString program = scratch.filePath("idlix");
        const QString headless = scratch.filePath("idlix-headless");
        ASSERT_TRUE(QFile::copy(QStandardPaths::findExecutable("true"), program));
        ASSERT_TRUE(QFile::copy(QStandardPaths::findExecutable("true"), headless));
        QFile script(scratch.filePath("postinst"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QString(postinst)
                         .replace("\"/usr/bin/idlix\"", "\"" + program + "\"")
                         .replace("\"/usr/libexec/idlix/idlix-headless\"", "\"" + headless + "\"")
                         .toUtf8());
        script.close();
        const Result r = RunTool("unshare", {"--net", "sh", "-c",
                                         QString("echo '%1' > /proc/sys/net/ipv4/ping_group_range && sh %2 %3")
                                             .arg(c.range, script.fileName(), c.action)});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        // Both or neither: a capability from one file does not pass to the next.
        for (const QString &file : {program, headless}) {
            const QString caps = RunTool("getcap", {file}).out;
            EXPECT_EQ(caps.contains("cap_net_raw=ep"), c.capability) << file.toStdString() << caps.toStdString();
        }
    }
}

TEST(Package, ServiceUnitsAreInstalledAndNothingEnablesThem)
{
    if (!HavePackageTools())
        GTEST_SKIP() << "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
    const Package &p = ThePackage();
    ASSERT_FALSE(p.deb.isEmpty());
    QStringList files;
    QString serviceLine;
    for (const QString &line : RunTool("dpkg-deb", {"-c", p.deb}).out.split('\n', Qt::SkipEmptyParts)) {
        files << line.section(' ', -1);
        if (line.endsWith("./usr/libexec/idlix/idlix-headless"))
            serviceLine = line;
    }
    EXPECT_TRUE(files.contains("./usr/lib/systemd/system/idlix.service"));
    EXPECT_TRUE(files.contains("./usr/lib/systemd/user/idlix.service"));
    // Enabling is a link under /etc, or a maintainer script asking for one.
    for (const QString &f : files)
        EXPECT_FALSE(f.startsWith("./etc/")) << f.toStdString();
    QTemporaryDir control;
    ASSERT_EQ(RunTool("dpkg-deb", {"-e", p.deb, control.path()}).code, 0);
    for (const QString &script : QDir(control.path()).entryList({"preinst", "postinst", "prerm", "postrm"})) {
        const QString text = ReadFile(control.filePath(script));
        for (const char *word : {"systemctl", "deb-systemd-helper", "deb-systemd-invoke"})
            EXPECT_FALSE(text.contains(word)) << script.toStdString() << " " << word;
    }
    // The service is stripped like the program.
    EXPECT_TRUE(serviceLine.startsWith("-rwxr-xr-x root/root")) << serviceLine.toStdString();
    const qint64 packed = serviceLine.simplified().section(' ', 2, 2).toLongLong();
    EXPECT_GT(packed, 0);
    EXPECT_LT(packed, QFileInfo(QString(IDLIX_BINARY_DIR) + "/idlix-headless").size());
}

TEST(Package, LintianFindsNoErrorsOrWarnings)
{
    if (!HavePackageTools())
        GTEST_SKIP() << "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
    if (QStandardPaths::findExecutable("lintian").isEmpty())
        GTEST_SKIP() << "lintian is not installed";
    const Package &p = ThePackage();
    ASSERT_FALSE(p.deb.isEmpty());
    const Result r = RunTool("lintian", {"--fail-on", "error,warning", p.deb},
                             QProcessEnvironment::systemEnvironment(), 300000);
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts))
        EXPECT_FALSE(line.startsWith("E: ") || line.startsWith("W: ")) << line.toStdString();
}
