#include "service/serviceconfig.h"

#include "platform/boundedread.h"
#include "platform/inifile.h"
#include "session/probeallplan.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace service {

namespace {

TServiceProblem Config(const QString &reason)
{
    return {kExitConfig, reason};
}

} // namespace

TServiceProblem CheckDataFolder(const QString &dir, const QString &settingsPath)
{
    if (!dir.isEmpty()) {
        const QFileInfo folder(dir);
        if (!folder.exists())
            return Config(QStringLiteral("the configuration folder %1 does not exist").arg(dir));
        if (!folder.isDir())
            return Config(QStringLiteral("%1 is not a folder").arg(dir));
    }
    if (settingsPath.isEmpty())
        return {};
    // Read as the settings reader reads it: a missing file gives the
    // defaults; one that is not there to be read stops the service.
    const platform::TBoundedText read = platform::ReadBoundedText(settingsPath, platform::IniReadLimits);
    switch (read.status) {
    case platform::TReadStatus::Read:
    case platform::TReadStatus::Missing:
        return {};
    case platform::TReadStatus::NotRegular:
        return Config(QStringLiteral("cannot read the settings %1: it is %2").arg(settingsPath, read.kind));
    case platform::TReadStatus::Unreadable:
        break;
    }
    return Config(QStringLiteral("cannot read the settings %1: %2")
                      .arg(settingsPath, QString::fromLocal8Bit(std::strerror(read.error))));
}

TServiceProblem CheckWritableFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        const QFileInfo file(path);
        const bool exists = file.exists();
        const QString where = exists ? path : file.absolutePath();
        if (::access(QFile::encodeName(where).constData(), W_OK) != 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            return Config(exists ? QStringLiteral("cannot write %1: %2").arg(path, why)
                                 : QStringLiteral("cannot create %1: %2").arg(path, why));
        }
    }
    return {};
}

TServiceProblem CheckSessionOptions(const config::TOptions &options, const QString &settingsPath,
                                    const QString &listPath, bool listRead, const QStringList &list)
{
    const config::TAntiIdleOptions &ai = options.AntiIdle;
    const QString where = QStringLiteral(" in [Anti-Idle Options] of %1").arg(settingsPath);
    if (ai.Checked(config::TAntiIdleOptions::CycleServerList)) {
        if (!listRead)
            return Config(QStringLiteral("\"Cycle server list\" is on, but the server list %1 cannot be read")
                              .arg(listPath));
        bool any = false;
        for (const QString &host : list)
            any = any || !host.trimmed().isEmpty();
        if (!any)
            return Config(QStringLiteral("\"Cycle server list\" is on, but the server list %1 is empty").arg(listPath));
    } else if (ai.Host.trimmed().isEmpty()) {
        return Config(QStringLiteral("no host to probe: set Host=%1, or Options=0 (\"Cycle server list\") "
                                     "with servers in %2%3")
                          .arg(where, listPath,
                               QFileInfo::exists(settingsPath) ? QString() : QStringLiteral(" (there is no settings file)")));
    }
    bool number = false;
    ai.Frequency.trimmed().toInt(&number);
    if (!number)
        return Config(QStringLiteral("'%1' is not a valid integer value: Frequecy=%2").arg(ai.Frequency, where));
    if (ai.Method < 0)
        return Config(QStringLiteral("no probe method: Method=%1 must be 0 (HTTP Gets), 1 (ICMP Pings) or 2 (Alternate)")
                          .arg(where));
    if (options.ProbeAll.Enabled) {
        const QString key = options.Service.ProbeAllInterval != 0 ? QStringLiteral("[Service] ProbeAllInterval")
                                                                   : QStringLiteral("[Probe All] Interval");
        if (const QString why = session::ProbeAllIntervalProblem(options.ProbeAll.Interval, key); !why.isEmpty())
            return Config(QStringLiteral("%1 (%2)").arg(why, settingsPath));
    }
    return {};
}

void TakeServiceProbeAll(config::TOptions &options)
{
    const config::TServiceOptions &service = options.Service;
    if (service.ProbeAll >= 0)
        options.ProbeAll.Enabled = service.ProbeAll != 0;
    if (service.ProbeAllInterval != 0)
        options.ProbeAll.Interval = service.ProbeAllInterval;
}

TServiceProblem CheckEchoPermission(const config::TOptions &options, bool icmpAllowed)
{
    const int method = options.AntiIdle.Method;
    if (icmpAllowed || (method != config::TAntiIdleOptions::IcmpPings && method != config::TAntiIdleOptions::Alternate))
        return {};
    return {kExitNoPermission,
            QStringLiteral("this system does not let Idlix send ICMP echoes. Allow them for every group with "
                           "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\", or give the program the "
                           "CAP_NET_RAW capability (AmbientCapabilities=CAP_NET_RAW in its unit, or "
                           "setcap cap_net_raw+ep on it)")};
}

} // namespace service
