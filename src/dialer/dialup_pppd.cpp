// pppd backend: a phone book is a directory of peer files and a dial runs
// pppd in the foreground, reading its log lines for progress and its exit
// status for the outcome. The password goes to pppd's passwordfd plugin
// through a pipe, so it is never on a command line, in a file or in a log.
#include "dialer/dialup_backend.h"
#include "platform/boundedread.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

namespace dialer {

using platform::ReadBoundedText;
using platform::TBoundedText;
using platform::TLineEnds;
using platform::TReadLimits;
using platform::TellFileNotice;

namespace {

// The descriptor pppd reads the password from.
constexpr int kPasswordFd = 3;
// A peer file is a few lines of options; anything bigger is not read whole.
const TReadLimits kPeerFileLimits{64 * 1024, 2000, 4096, TLineEnds::Lf, {}};
// More peer files than anyone keeps: a folder holding more is listed only
// this far (and then sorted), so listing it stays quick.
constexpr int kPeersMax = 10000;
// pppd's log lines are short; a longer one is cut there, so a flood of output
// without line breaks cannot grow the buffer.
constexpr qsizetype kLineMax = 4096;
// pppd sends LCP terminate requests after SIGTERM and waits for the peer's
// acknowledgement (3 tries of 3 s by default) before it exits.
constexpr int kHangUpWaitMs = 10000;

// The order in which states are reported; a line showing an earlier or the
// same state again changes nothing.
int rankOf(unsigned state)
{
    static const unsigned order[] = {kDialOpenPort, kDialPortOpened, kDialDeviceConnected,
                                     kDialAllDevicesConnected, kDialAuthenticate,
                                     kDialAuthenticated, kDialConnected};
    for (int i = 0; i < int(std::size(order)); ++i)
        if (order[i] == state)
            return i;
    return -1;
}

bool usableEntryName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith('.') && !name.contains('/') && !name.endsWith('~')
           && !name.contains(QLatin1String(".dpkg-"));
}

// The option lines of a peer file, without comments.
QStringList peerOptions(const QString &path)
{
    const TBoundedText read = ReadBoundedText(path, kPeerFileLimits);
    QStringList out;
    for (const QByteArray &raw : read.text.split('\n')) {
        QString line = QString::fromUtf8(raw);
        const qsizetype hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (!line.isEmpty())
            out << line;
    }
    return out;
}

QString pppdProgram()
{
    const QString forced = qEnvironmentVariable("IDLIX_PPPD");
    if (!forced.isEmpty())
        return QFileInfo(forced).isExecutable() ? forced : QString();
    QString p = QStandardPaths::findExecutable(QStringLiteral("pppd"));
    if (p.isEmpty())
        p = QStandardPaths::findExecutable(QStringLiteral("pppd"),
                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return p;
}

class PppdLine : public DialLine {
public:
    PppdLine(const QString &dir, const QString &entry, const QString &deviceName)
        : DialLine(dir, entry)
    {
        status_.deviceName = deviceName;
        status_.deviceType = deviceName.isEmpty() ? QString() : QStringLiteral("modem");
        proc_.setProcessChannelMode(QProcess::MergedChannels);
        proc_.setStandardInputFile(QProcess::nullDevice());
        QObject::connect(&proc_, &QProcess::readyReadStandardOutput, this, [this] { readLines(); });
        QObject::connect(&proc_, &QProcess::finished, this,
                         [this](int code, QProcess::ExitStatus how) { finished(code, how); });
        QObject::connect(&proc_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart)
                reportFailure(kDialErrDialerMissing);
        });
    }

    ~PppdLine() override
    {
        // The program is ending with the line up: let pppd close it properly
        // rather than leave it to QProcess's kill.
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            proc_.waitForFinished(3000);
        }
    }

    // Starts pppd; passwordReadFd (or -1) becomes descriptor 3 in the child.
    bool start(const QString &program, const QStringList &args, int passwordReadFd)
    {
        proc_.setChildProcessModifier([passwordReadFd] {
            if (passwordReadFd < 0)
                return;
            if (passwordReadFd == kPasswordFd)
                ::fcntl(kPasswordFd, F_SETFD, 0);
            else
                ::dup2(passwordReadFd, kPasswordFd);  // the copy is inherited
        });
        proc_.start(program, args);
        if (!proc_.waitForStarted(5000))
            return false;
        reportState(kDialOpenPort);
        return true;
    }

    void hangUp() override
    {
        markHungUp();
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        // The event loop keeps running while pppd closes the line.
        QEventLoop loop;
        QObject::connect(&proc_, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(kHangUpWaitMs, &loop, &QEventLoop::quit);
        if (proc_.state() != QProcess::NotRunning)
            loop.exec();
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(2000);
        }
    }

private:
    void readLines()
    {
        buf_ += proc_.readAllStandardOutput();
        qsizetype nl;
        while ((nl = buf_.indexOf('\n')) >= 0) {
            handleLine(buf_.left(nl));
            buf_.remove(0, nl + 1);
        }
        if (buf_.size() > kLineMax) {
            handleLine(buf_.left(kLineMax));
            buf_.clear();
        }
    }

    void handleLine(const QByteArray &line)
    {
        const PppdLineInfo info = PppdParseLine(line);
        if (!info.deviceName.isEmpty()) {
            status_.deviceName = info.deviceName;
            status_.deviceType = info.deviceType;
        }
        if (!info.state)
            return;
        const unsigned s = *info.state;
        // A line that shows a later stage implies the stages pppd does not
        // print: the device was connected through an opened port, and a
        // success of authentication followed its start.
        if (s == kDialDeviceConnected || s == kDialAllDevicesConnected)
            advance(kDialPortOpened);
        if (s == kDialAllDevicesConnected)
            advance(kDialDeviceConnected);
        if (s == kDialAuthenticated)
            advance(kDialAuthenticate);
        advance(s);
    }

    void advance(unsigned state)
    {
        const int rank = rankOf(state);
        if (rank <= rank_)
            return;
        rank_ = rank;
        reportState(state);
    }

    void finished(int code, QProcess::ExitStatus how)
    {
        readLines();
        if (!buf_.isEmpty()) {
            handleLine(buf_);
            buf_.clear();
        }
        int error = how == QProcess::CrashExit ? kDialErrUserDisconnection : PppdExitError(code);
        // pppd's 0 is a link that the peer ended.
        if (error == 0)
            error = kDialErrRemoteDisconnection;
        if (rank_ >= rankOf(kDialConnected))
            reportDrop(error);
        else
            reportFailure(error);
    }

    QProcess proc_;
    QByteArray buf_;
    int rank_ = -1;
};

} // namespace

QStringList PppdArguments(const QString &dir, bool systemDir, const QString &entry,
                          const QString &userName, int passwordFd, bool pluginInPeerFile,
                          bool mayLoadPlugin)
{
    QStringList args;
    // "call" reads the system's peer files with their privileges; a peer file
    // elsewhere is named by its path.
    if (systemDir)
        args << QStringLiteral("call") << entry;
    else
        args << QStringLiteral("file") << QDir(dir).filePath(entry);
    args << QStringLiteral("nodetach");
    if (!userName.isEmpty())
        args << QStringLiteral("user") << userName;
    if (passwordFd >= 0 && (pluginInPeerFile || mayLoadPlugin)) {
        if (!pluginInPeerFile)
            args << QStringLiteral("plugin") << QStringLiteral("passwordfd.so");
        args << QStringLiteral("passwordfd") << QString::number(passwordFd);
    }
    return args;
}

PppdLineInfo PppdParseLine(const QByteArray &raw)
{
    // pppd's messages are not a stable interface: look for the words that
    // every version prints, wherever they stand in the line.
    static const QRegularExpression connectLine(QStringLiteral("\\bConnect:\\s+\\S+\\s+<-->\\s+(\\S+)"));
    static const QRegularExpression viaIface(QStringLiteral("\\bConnected to \\S+ via interface (\\S+)"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression localAddr(QStringLiteral("\\blocal\\s+(IP|LL)\\s+address\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QString line = QString::fromUtf8(raw).trimmed();
    PppdLineInfo info;
    auto has = [&line](const char *word) { return line.contains(QLatin1String(word), Qt::CaseInsensitive); };
    QRegularExpressionMatch m;
    if ((m = connectLine.match(line)).hasMatch()) {
        info.state = kDialAllDevicesConnected;
        info.deviceName = m.captured(1);
        info.deviceType = info.deviceName.startsWith(QLatin1String("/dev/")) ? QStringLiteral("modem")
                                                                             : QStringLiteral("pppoe");
    } else if (has("Using interface")) {
        info.state = kDialAllDevicesConnected;
    } else if ((m = viaIface.match(line)).hasMatch()) {
        info.state = kDialDeviceConnected;
        info.deviceName = m.captured(1);
        info.deviceType = QStringLiteral("pppoe");
    } else if (has("Serial connection established") || has("PPP session is")) {
        info.state = kDialDeviceConnected;
    } else if (has("authentication succeeded")) {
        info.state = kDialAuthenticated;
    } else if (has("AuthReq") || has("CHAP Challenge") || has("EAP Request")) {
        info.state = kDialAuthenticate;
    } else if (localAddr.match(line).hasMatch()) {
        info.state = kDialConnected;
    }
    return info;
}

int PppdExitError(int exitStatus)
{
    // pppd(8), EXIT STATUS.
    static const int codes[] = {
        0,                             // 0: link ended by the peer (or detached)
        kDialErrUnknown,               // 1: fatal error
        kDialErrOptions,               // 2: error in the options
        kDialErrNotPermitted,          // 3: not setuid-root and run by a user
        kDialErrNoKernelSupport,       // 4: no PPP in the kernel
        kDialErrUserDisconnection,     // 5: SIGINT, SIGTERM or SIGHUP
        kDialErrPortLocked,            // 6: the serial port could not be locked
        kDialErrPortNotFound,          // 7: the serial port could not be opened
        kDialErrConnectScript,         // 8: the connect script failed
        kDialErrPtyCommand,            // 9: the pty command could not be run
        kDialErrNegotiation,           // 10: PPP negotiation failed
        kDialErrPeerNotAuthenticated,  // 11: the peer failed to authenticate itself
        kDialErrIdleTimeout,           // 12: idle
        kDialErrConnectTimeLimit,      // 13: connect time limit
        kDialErrCallback,              // 14: callback negotiated
        kDialErrPeerNotResponding,     // 15: no answer to LCP echo requests
        kDialErrRemoteDisconnection,   // 16: the modem hung up
        kDialErrLoopback,              // 17: serial loopback detected
        kDialErrInitScript,            // 18: the init script failed
        kDialErrAuthFailure,           // 19: we failed to authenticate to the peer
    };
    if (exitStatus < 0 || exitStatus >= int(std::size(codes)))
        return kDialErrUnknown;
    return codes[exitStatus];
}

int PppdEnumEntries(const QString &dir, QStringList &names)
{
    if (!QFileInfo(dir).isDir() || !QFileInfo(dir).isReadable())
        return kDialErrCannotOpenPhoneBook;
    // Files only (FIFOs, devices and sockets are not peer files), in name order.
    QDirIterator it(dir, QDir::Files);
    while (it.hasNext()) {
        const QString name = it.nextFileInfo().fileName();
        if (!usableEntryName(name))
            continue;
        if (names.size() == kPeersMax) {
            TellFileNotice(dir, QStringLiteral("%1: only the first %2 peer files were listed.")
                                    .arg(dir).arg(kPeersMax));
            break;
        }
        names << name;
    }
    names.sort();
    return 0;
}

int PppdStart(const QString &dir, const DialParams &params, std::unique_ptr<DialLine> &line,
              QString *notice)
{
    const QString peerFile = QDir(dir).filePath(params.entry);
    if (!usableEntryName(params.entry) || !QFileInfo(peerFile).isFile())
        return kDialErrEntryNotFound;
    const QString program = pppdProgram();
    if (program.isEmpty())
        return kDialErrDialerMissing;

    bool pluginInPeerFile = false;
    QString device;
    for (const QString &opt : peerOptions(peerFile)) {
        if (opt.startsWith(QLatin1String("plugin")) && opt.contains(QLatin1String("passwordfd")))
            pluginInPeerFile = true;
        if (device.isEmpty() && opt.startsWith(QLatin1String("/dev/")))
            device = opt.section(' ', 0, 0);
    }
    const bool mayLoadPlugin = ::geteuid() == 0;

    int pipeFds[2] = {-1, -1};
    if (!params.password.isEmpty()) {
        if (pluginInPeerFile || mayLoadPlugin) {
            if (::pipe2(pipeFds, O_CLOEXEC) != 0)
                return kDialErrUnknown;
            // A password is far shorter than a pipe's buffer, so this write
            // cannot block; pppd reads it up to the end of the pipe.
            const QByteArray pw = params.password.toUtf8().left(255);
            const bool written = ::write(pipeFds[1], pw.constData(), size_t(pw.size())) == pw.size();
            ::close(pipeFds[1]);
            if (!written) {
                ::close(pipeFds[0]);
                return kDialErrUnknown;
            }
        } else if (notice) {
            *notice = QStringLiteral(
                          "The peer file of %1 does not load the passwordfd.so plugin, so pppd "
                          "cannot take the password from Idlix: dialing with the entry's own "
                          "secrets. Add \"plugin passwordfd.so\" to %2 to use the password.")
                          .arg(params.entry, peerFile);
        }
    }
    const QStringList args =
        PppdArguments(dir, QFileInfo(dir).canonicalFilePath() == QLatin1String(kSystemPeersDir),
                      params.entry, params.userName, pipeFds[0] >= 0 ? kPasswordFd : -1,
                      pluginInPeerFile, mayLoadPlugin);
    auto pppd = std::make_unique<PppdLine>(dir, params.entry, device);
    const bool started = pppd->start(program, args, pipeFds[0]);
    if (pipeFds[0] >= 0)
        ::close(pipeFds[0]);
    if (!started)
        return kDialErrDialerMissing;
    line = std::move(pppd);
    return 0;
}

} // namespace dialer
