// The settings file: the pure INI text functions, and TIniFile on disk.
#include "platform/inifile.h"
#include "platform/services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <cctype>
#include <map>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::EIniWriteError;
using platform::IniFindValue;
using platform::IniParseInteger;
using platform::IniSetValue;
using platform::TIniFile;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

} // namespace

TEST(IniText, FindsValuesWithoutRegardToCase)
{
    const QByteArray text = "; settings\r\n[Anti-Idle Options]\r\nMethod = 2\r\n"
                            "Host=example.test  \r\n\r\n[General]\r\nStay on Top=1\r\nEmpty=\r\n";
    struct Row { const char *section, *key; std::optional<QByteArray> want; } rows[] = {
        {"Anti-Idle Options", "Method", QByteArray("2")},
        {"ANTI-IDLE OPTIONS", "method", QByteArray("2")},
        {"anti-idle options", "HOST", QByteArray("example.test")},
        {"general", "stay ON top", QByteArray("1")},
        {"General", "Empty", QByteArray("")},
        {"General", "Method", std::nullopt},        // key of another section
        {"Missing", "Method", std::nullopt},
        {"; settings", "Method", std::nullopt},     // comments are not sections
    };
    for (const Row &r : rows)
        EXPECT_EQ(IniFindValue(text, r.section, r.key), r.want) << r.section << "/" << r.key;
}

TEST(IniText, WritesReplaceInPlaceAndAppend)
{
    const QByteArray base = "[A]\nx=1\ny=2\n\n[B]\nz=3\n";
    struct Row { const char *section, *key, *value, *want; } rows[] = {
        {"a", "Y", "20", "[A]\nx=1\nY=20\n\n[B]\nz=3\n"},               // replaced where it stands
        {"A", "w", "9", "[A]\nx=1\ny=2\nw=9\n\n[B]\nz=3\n"},            // end of its section
        {"B", "q", "", "[A]\nx=1\ny=2\n\n[B]\nz=3\nq=\n"},
        {"C", "k", "v", "[A]\nx=1\ny=2\n\n[B]\nz=3\n[C]\nk=v\n"},      // new section at the end
        {"A", "x", "two\r\nlines", "[A]\nx=two  lines\ny=2\n\n[B]\nz=3\n"}, // no line injection
    };
    for (const Row &r : rows)
        EXPECT_EQ(IniSetValue(base, r.section, r.key, r.value), QByteArray(r.want)) << r.key;

    // An editor's byte-order mark does not hide the first section.
    EXPECT_EQ(IniFindValue("\xEF\xBB\xBF[A]\nx=1\n", "a", "x"), QByteArray("1"));
    EXPECT_EQ(IniSetValue("\xEF\xBB\xBF[A]\nx=1\n", "A", "x", "2"), QByteArray("\xEF\xBB\xBF[A]\nx=2\n"));

    // CR LF files get CR LF lines; a last line without a break gets one first.
    EXPECT_EQ(IniSetValue("[A]\r\nx=1\r\n", "A", "y", "2"), QByteArray("[A]\r\nx=1\r\ny=2\r\n"));
    EXPECT_EQ(IniSetValue("[A]\nx=1", "A", "y", "2"), QByteArray("[A]\nx=1\ny=2"));
    EXPECT_EQ(IniSetValue("[A]\nx=1", "B", "y", "2"), QByteArray("[A]\nx=1\n[B]\ny=2\n"));
    EXPECT_EQ(IniSetValue("", "S", "k", "v"), QByteArray("[S]\nk=v\n"));
}

TEST(IniText, ListsSectionNamesInFileOrder)
{
    struct Row { QByteArray text; QStringList want; } rows[] = {
        {"", {}},
        {"\xEF\xBB\xBF[First]\r\nk=v\r\n[ Second ]\n", {"First", "Second"}},
        {"; [Comment]\n[B]\n[a]\n[b]\n[A]\n", {"B", "a"}},     // repeats listed once
        {"[]\n[Open\nkey=[x]\n[Last]", {"Open", "Last"}},     // empty name skipped, unclosed kept
    };
    for (const Row &r : rows)
        EXPECT_EQ(platform::IniSectionNames(r.text), r.want) << r.text.constData();
}

TEST(IniText, ManySectionsAreListedOnceEachInOrder)
{
    // A phone book of 130,000 sections, each name also coming again in
    // another case further down.
    QByteArray text;
    QStringList want;
    for (int i = 0; i < 130000; ++i) {
        text += "[Entry" + QByteArray::number(i, 16) + "]\n";
        want << "Entry" + QString::number(i, 16);
    }
    text += "[ENTRY0]\n[entryff]\n[New]\n";
    want << "New";
    EXPECT_EQ(platform::IniSectionNames(text), want);
    EXPECT_TRUE(platform::IniHasSection(text, "entry1fbcf"));   // the last of them
    EXPECT_FALSE(platform::IniHasSection(text, "Entry1fbd0"));
}

TEST(IniText, FindsASectionWithoutRegardToCase)
{
    struct Row { QByteArray text, section; bool has; } rows[] = {
        {"", "A", false},
        {"[Demo ISP]\r\nStepMs=1\r\n", "demo isp", true},
        {"; [Hidden]\n[Shown]\n", "Hidden", false},
        {"key=[Inside]\n", "Inside", false},
        {"[ Padded ]\n", "Padded", true},
        {"[<b>Demo</b>]\n", "<b>Demo</b>", true},
    };
    for (const Row &r : rows)
        EXPECT_EQ(platform::IniHasSection(r.text, r.section), r.has) << r.text.constData();
}

TEST(IniText, ParsesIntegersAsTheStoreWritesThem)
{
    struct Row { const char *text; std::optional<int> want; } rows[] = {
        {"0", 0}, {"56", 56}, {" 70000 ", 70000}, {"-1", -1}, {"+5", 5},
        {"0x1F", 31}, {"0X1f", 31}, {"$ff", 255}, {"-$10", -16}, {"$FFFFFFFF", -1},
        {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt}, {"$100000000", std::nullopt},
        {"", std::nullopt}, {"x", std::nullopt}, {"12abc", std::nullopt}, {"0x", std::nullopt},
        {"$", std::nullopt}, {"1.5", std::nullopt}, {"99999999999", std::nullopt},
    };
    for (const Row &r : rows)
        EXPECT_EQ(IniParseInteger(r.text), r.want) << r.text;
}

// Random texts against a model: after any sequence of writes every written key
// reads back, untouched lines keep their bytes, and the text stays parseable.
TEST(IniText, RandomizedWritesAgreeWithAModel)
{
    std::mt19937 rng(20261208);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const char *sections[] = {"Alpha", "beta", "Gamma Options", "D"};
    const char *keys[] = {"Host", "time-out", "Bytes", "k", "Stay on Top"};
    auto randCase = [&](QByteArray s) {
        for (char &c : s)
            if (pick(2))
                c = char(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        QByteArray text;
        const QByteArray eol = pick(2) ? "\r\n" : "\n";
        const bool crlf = eol == "\r\n" && pick(3) == 0;
        if (crlf || pick(3) == 0)
            text = "; comment" + eol + "junk line" + eol;
        std::map<std::pair<QByteArray, QByteArray>, QByteArray> model;
        for (int step = 0; step < 20; ++step) {
            QByteArray s = sections[pick(4)], k = keys[pick(5)];
            QByteArray v = QByteArray::number(int(rng() % 100000));
            if (pick(4) == 0)
                v = " padded value ";
            const QByteArray before = text;
            text = IniSetValue(text, randCase(s), randCase(k), v);
            model[{s.toLower(), k.toLower()}] = v.trimmed();
            // At most one line of the old text was rewritten; all others survive.
            QList<QByteArray> now = text.split('\n');
            int lost = 0;
            for (const QByteArray &line : before.split('\n')) {
                qsizetype at = now.indexOf(line);
                if (at < 0)
                    ++lost;
                else
                    now.removeAt(at);
            }
            EXPECT_LE(lost, 1);
            if (crlf) {
                EXPECT_EQ(text.count('\n'), text.count("\r\n"));
            }
        }
        for (const char *s : sections)
            for (const char *k : keys) {
                auto it = model.find({QByteArray(s).toLower(), QByteArray(k).toLower()});
                auto got = IniFindValue(text, randCase(s), randCase(k));
                if (it == model.end())
                    EXPECT_FALSE(got.has_value()) << s << "/" << k;
                else
                    EXPECT_EQ(got, it->second) << s << "/" << k << "\n" << text.constData();
            }
    }
}

// Arbitrary bytes never break the functions, and a write always reads back.
TEST(IniText, GarbageInputIsHandled)
{
    std::mt19937 rng(7);
    const char alphabet[] = "[]=;\r\n \tabcAB$0x9";
    for (int round = 0; round < 2000; ++round) {
        QByteArray text;
        int n = int(rng() % 80);
        for (int i = 0; i < n; ++i)
            text += (rng() % 8 == 0) ? char(rng() % 256) : alphabet[rng() % (sizeof alphabet - 1)];
        (void)IniFindValue(text, "a", "b");
        (void)IniParseInteger(text);
        QByteArray out = IniSetValue(text, "Sec", "Key", "v=1");
        EXPECT_EQ(IniFindValue(out, "sec", "key"), QByteArray("v=1")) << text.toHex().constData();
    }
}

TEST(IniFile, RoundTripsAndDefaults)
{
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("idlix2.ini"));
    EXPECT_EQ(ini.FileName(), QFileInfo(dir.filePath("idlix2.ini")).absoluteFilePath());

    // No file at all: every read gives its default.
    EXPECT_EQ(ini.ReadString("Latency Test", "Host", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("Latency Test", "Interval", 500), 500);
    EXPECT_TRUE(ini.ReadBool("General", "Stay on Top", true));

    ini.WriteInteger("Anti-Idle Options", "Method", 2);
    ini.WriteString("Anti-Idle Options", "Frequecy", "15");
    ini.WriteString("Dial-Up Options", "Password", QString::fromUtf8("p\xc3\xa4ss =;[x]"));
    ini.WriteBool("General", "Stay on Top", false);
    ini.WriteBool("Traceroute Options", "Test Packet", true);

    TIniFile again(dir.filePath("idlix2.ini"));
    EXPECT_EQ(again.ReadInteger("anti-idle options", "METHOD", 0), 2);
    EXPECT_EQ(again.ReadString("Anti-Idle Options", "Frequecy", "1"), "15");
    EXPECT_EQ(again.ReadString("Dial-Up Options", "Password", ""), QString::fromUtf8("p\xc3\xa4ss =;[x]"));
    EXPECT_FALSE(again.ReadBool("General", "Stay on Top", true));
    EXPECT_TRUE(again.ReadBool("Traceroute Options", "Test Packet", false));
    EXPECT_EQ(readAll(ini.FileName()),
              QByteArray("[Anti-Idle Options]\nMethod=2\nFrequecy=15\n[Dial-Up Options]\n"
                         "Password=p\xc3\xa4ss =;[x]\n[General]\nStay on Top=0\n"
                         "[Traceroute Options]\nTest Packet=1\n"));
}

TEST(IniFile, ReadsHandWrittenValues)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("idlix2.ini");
    writeAll(path, "[Ping Options]\r\nBytes=0x40\r\nTime-out=abc\r\n[General]\r\n"
                   "Stay on Top=7\r\nOff=0\r\nHex=$0\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Ping Options", "Bytes", 56), 64);
    EXPECT_EQ(ini.ReadInteger("Ping Options", "Time-out", 5), 5);     // not a number
    EXPECT_TRUE(ini.ReadBool("General", "Stay on Top", false));       // any non-zero
    EXPECT_FALSE(ini.ReadBool("General", "Off", true));
    EXPECT_FALSE(ini.ReadBool("General", "Hex", true));
    EXPECT_TRUE(ini.ReadBool("Ping Options", "Time-out", true));      // not a number: default

    // Writing keeps the CR LF style and the other lines.
    ini.WriteInteger("ping options", "time-out", 9);
    EXPECT_EQ(readAll(path), QByteArray("[Ping Options]\r\nBytes=0x40\r\ntime-out=9\r\n"
                                        "[General]\r\nStay on Top=7\r\nOff=0\r\nHex=$0\r\n"));
}

TEST(IniFile, FileIsPrivateToItsOwner)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("idlix2.ini");
    TIniFile ini(path);
    ini.WriteString("Dial-Up Options", "Password", "secret");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // An existing file readable by others is made private at the next write.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    ini.WriteString("Dial-Up Options", "Username", "me");
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary files are left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"idlix2.ini"});
}

// A refused write reports the full path and leaves the old file whole. The
// attempt runs in a child process without root rights (root ignores the
// directory's permissions) and sends the error text back through a pipe.
TEST(IniFile, RefusedWriteKeepsTheOldFile)
{
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString sub = dir.filePath("ro");
    ASSERT_TRUE(QDir().mkdir(sub));
    const QString path = sub + "/idlix2.ini";
    const QByteArray old = "[General]\nStay on Top=1\n";
    writeAll(path, old);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(sub).constData(), 0555), 0);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        std::string msg = "no error";
        try {
            TIniFile ini(path);
            ini.WriteBool("General", "Stay on Top", false);
        } catch (const EIniWriteError &e) {
            msg = e.what();
        }
        ssize_t ignored = ::write(fds[1], msg.data(), msg.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(fds[1]);
    char buf[512];
    std::string got;
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        got.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::chmod(QFile::encodeName(sub).constData(), 0755);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(got, ("Unable to write to " + QFileInfo(path).absoluteFilePath()).toStdString());
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(QDir(sub).entryList(QDir::Files), QStringList{"idlix2.ini"});
}

TEST(IniFile, UnreadableFileIsNotOverwritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("idlix2.ini");
    ASSERT_TRUE(QDir().mkdir(path));  // a directory where the file should be: cannot be read
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("General", "x", "d"), "d");
    try {
        ini.WriteString("General", "x", "1");
        FAIL() << "write into an unreadable file succeeded";
    } catch (const EIniWriteError &e) {
        EXPECT_EQ(std::string(e.what()), ("Unable to write to " + path).toStdString());
    }
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(IniFile, HostileFilesAreReadWithinBoundsAndNeverBlock)
{
    QTemporaryDir dir;
    platform::Services().Notice = [](const QString &) {};
    struct Row {
        const char *name;
        std::function<void(const QString &path)> make;
        QString host;           // what ReadString gives for Anti-Idle Options/Host
        bool writable;          // a write goes through
    } rows[] = {
        {"a FIFO without a writer",
         [](const QString &p) { ASSERT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0600), 0); },
         "default", false},
        {"a line of 20 MB after the values",
         [](const QString &p) {
             writeAll(p, "[Anti-Idle Options]\nHost=before.example\n"
                             + QByteArray(20 * 1000 * 1000, 'j') + "\n");
         },
         "before.example", true},
        {"a line of 200 KB before the values (skipped, the rest read)",
         [](const QString &p) {
             writeAll(p, QByteArray(200 * 1000, 'j') + "\n[Anti-Idle Options]\nHost=after.example\n");
         },
         "after.example", true},
        {"a value as long as a field may hold",
         [](const QString &p) {
             writeAll(p, "[Anti-Idle Options]\nHost=" + QByteArray(32767 * 3, 'h') + "\n");
         },
         QString(32767 * 3, 'h'), true},
    };
    int n = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QString path = dir.filePath(QString::number(++n) + ".ini");
        r.make(path);
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadString("Anti-Idle Options", "Host", "default"), r.host);
        bool written = true;
        try {
            ini.WriteString("General", "Stay on Top", "1");
        } catch (const EIniWriteError &) {
            written = false;
        }
        EXPECT_EQ(written, r.writable);
        if (written) {
            // What was within the limits is kept; the junk is gone.
            EXPECT_EQ(ini.ReadString("Anti-Idle Options", "Host", "default"), r.host);
            EXPECT_LT(QFileInfo(path).size(), platform::IniReadLimits.maxBytes);
        }
    }
    EXPECT_EQ(QFileInfo(dir.filePath("1.ini")).isFile(), false);   // the FIFO stays a FIFO
    platform::Services().Notice = {};
}

TEST(IniFile, KeysWrittenIntoAFilePastTheLimitsAreReadBack)
{
    // Junk past the limits is dropped when the file is written; what the
    // program writes after it must not be dropped with it by the next read.
    QTemporaryDir dir;
    platform::Services().Notice = [](const QString &) {};
    QByteArray manyLines, manyBytes;
    for (int i = 0; i < 20000; ++i)
        manyLines += "[S" + QByteArray::number(i) + "]\n";
    for (int i = 0; i < 40; ++i)
        manyBytes += "[B" + QByteArray::number(i) + "]\nk=" + QByteArray(64 * 1024, 'b') + "\n";
    const struct {
        const char *name;
        QByteArray text;
    } rows[] = {{"20,000 sections", manyLines}, {"2.5 MiB", manyBytes}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const QString path = dir.filePath(QString::fromLatin1(r.name).left(2) + ".ini");
        writeAll(path, r.text);
        TIniFile ini(path);
        // A save as the program makes it: key after key, each a write of its own,
        // three of them values as long as a field holds.
        const QString big(32767, QChar(0x20AC));
        for (int i = 0; i < 18; ++i)
            ini.WriteInteger(QStringLiteral("Section %1").arg(i % 6), QStringLiteral("Key %1").arg(i), i);
        for (const char *key : {"Host", "Username", "Password"})
            ini.WriteString("Dial-Up Options", key, big);
        for (int i = 0; i < 18; ++i)
            EXPECT_EQ(ini.ReadInteger(QStringLiteral("Section %1").arg(i % 6), QStringLiteral("Key %1").arg(i), -1), i);
        for (const char *key : {"Host", "Username", "Password"})
            EXPECT_EQ(ini.ReadString("Dial-Up Options", key, QString()), big) << key;
        const platform::TBoundedText again = platform::ReadBoundedText(path, platform::IniReadLimits);
        EXPECT_EQ(again.cut, platform::TReadCut::None);
    }
    platform::Services().Notice = {};
}

TEST(IniFile, ALinkedFileIsWrittenThroughTheLink)
{
    // Settings kept in a dotfiles repository, linked into place.
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("dotfiles"));
    const QString target = dir.filePath("dotfiles/idlix2.ini");
    writeAll(target, "[General]\nStay on Top=1\n");
    ASSERT_TRUE(QFile::link("dotfiles/idlix2.ini", dir.filePath("idlix2.ini")));
    TIniFile ini(dir.filePath("idlix2.ini"));
    ini.WriteString("Dial-Up Options", "Password", "secret");
    EXPECT_TRUE(QFileInfo(dir.filePath("idlix2.ini")).isSymLink());
    EXPECT_EQ(readAll(target), QByteArray("[General]\nStay on Top=1\n[Dial-Up Options]\n"
                                          "Password=secret\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(dir.filePath("dotfiles")).entryList(QDir::Files), QStringList{"idlix2.ini"});
}
