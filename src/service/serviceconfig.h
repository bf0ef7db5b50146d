// Whether the settings let the service run, checked before anything starts
// so that a setting that can never work stops the service with its reason
// (and a status that tells systemd not to try again) instead of running
// without probing.
#pragma once

#include "config/options.h"
#include "service/serviceargs.h"

#include <QString>
#include <QStringList>

namespace service {

struct TServiceProblem {
    int Code = kExitOk;
    QString Reason;
    explicit operator bool() const { return Code != kExitOk; }
};

// The data folder named by --config exists and is a folder; the settings
// file in it is readable when it exists (a missing one gives the defaults).
TServiceProblem CheckDataFolder(const QString &dir, const QString &settingsPath);

// The files the service writes as it runs (the connection history, the
// session log) can be written, or made in their folder; else kExitConfig
// with the system's reason.
TServiceProblem CheckWritableFiles(const QStringList &paths);

// The settings give something to probe, how often, and how: a host, or the
// server list when cycling (its entries as read; 'listRead' false when the
// file is missing or unreadable); a frequency that is a number; a method;
// with every target each interval, an interval of 5 s to a day.
TServiceProblem CheckSessionOptions(const config::TOptions &options, const QString &settingsPath,
                                    const QString &listPath, bool listRead, const QStringList &list);

// [Service] ProbeAll= and ProbeAllInterval=, where the file sets them, take
// the place of the window's [Probe All]: the service is set up on its own.
void TakeServiceProbeAll(config::TOptions &options);

// Echo probes need ICMP: the echo method, or "Alternate", on a system that
// refuses the program ICMP sockets gives kExitNoPermission, with how to
// allow them. (An HTTP session without cycling still opens with one echo;
// that one fails alone and the session goes on.)
TServiceProblem CheckEchoPermission(const config::TOptions &options, bool icmpAllowed);

} // namespace service
