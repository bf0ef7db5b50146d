// The option values of the program, one struct per section of idlix2.ini.
//
// These are the values the program runs with. The option panels of the main
// window show and edit them (an edit takes effect in the struct at once, as it
// did in the panel's control), the settings file is read into them and
// written from them (optionsfile.h), and everything else reads them here: a
// session its frequency when it starts and its host at each tick, a tool its
// packet size when it runs.
#pragma once

#include "config/diagnosisoptions.h"
#include "platform/resolver.h"

#include <QString>

#include <array>

namespace config {

// An inclusive range of an integer option; values read from the file are
// clamped to it, as the panel's spin field would.
struct TRange {
    int Min, Max;
    int Clamp(int value) const { return value < Min ? Min : value > Max ? Max : value; }
};

// [Anti-Idle Options]
struct TAntiIdleOptions {
    // Items of the method; -1 = none selected.
    enum TMethod { HttpGets = 0, IcmpPings = 1, Alternate = 2 };
    // Items of the option list.
    enum TOption { CycleServerList = 0, MinimizeOnStart = 1, VaryPacketSize = 2, ShowReportOnStop = 3 };
    static constexpr int OptionCount = 4;
    static constexpr TRange FrequencyRange{1, 60};   // minutes; the field's arrows keep to it

    int Method = HttpGets;
    QString Frequency = QStringLiteral("1");         // minutes between probes, as typed
    QString Host;                                    // "Host to Ping (Optional)"
    std::array<bool, OptionCount> Options{};         // checked items

    bool Checked(TOption option) const { return Options[option]; }
};

// [Latency Test]
struct TLatencyOptions {
    static constexpr TRange TimeOutRange{1, 1000};       // seconds
    static constexpr TRange IntervalRange{1, 100000};    // milliseconds
    QString Host;
    int TimeOut = 5;
    int Interval = 500;
};

// [Ping Options]
struct TPingOptions {
    static constexpr TRange BytesRange{1, 65535};
    static constexpr TRange TimeOutRange{1, 1000};       // seconds
    int Bytes = 56;       // as typed: may lie past BytesRange until a ping refuses it
    int TimeOut = 5;
};

// [Traceroute Options]
struct TTraceOptions {
    enum TMode { Asynchronous = 0, Blocking = 1 };
    static constexpr TRange BytesRange{1, 65535};
    static constexpr TRange TimeOutRange{1, 1000};       // seconds
    int Bytes = 56;
    int TimeOut = 5;
    bool TestPacket = true;
    int Mode = Asynchronous;                             // -1 = none selected
};

// [Dial-Up Options]
struct TDialUpOptions {
    static constexpr TRange DisconnectTimeRange{1, 1000000};   // minutes
    // Index of the connection in the phone book's entry list. Kept as stored
    // even when the list is shorter (an entry that comes back later, a phone
    // book that failed to list): only the user's choice changes it.
    int Connection = 0;
    QString UserName;
    QString Password;                                    // stored as typed
    bool ConnectOnStart = false;
    bool StartAntiIdle = false;
    bool Disconnect = false;
    int DisconnectTime = 60;
};

// The proxy of the HTTP transfers: never stored, empty at every start.
struct TProxyOptions {
    QString Server, Port, UserName, Password;
};

// [General]
struct TGeneralOptions {
    bool StayOnTop = true;
};

// ---- Preferences (Options > Preferences...), each in a section of its own ----

// [Window]: the size of the main window.
struct TWindowOptions {
    // Percent of the drawn size; Automatic follows the screen's pixel density.
    enum TScale { Automatic = 0, Scale100 = 100, Scale150 = 150, Scale200 = 200 };
    int Scale = Automatic;
};

// [History]: when the line counts as down and up again, and how long the
// connection history is kept.
struct THistoryOptions {
    static constexpr TRange DownAfterRange{1, 100};
    static constexpr TRange UpAfterRange{1, 100};
    static constexpr TRange KeepDaysRange{1, 3650};
    int DownAfter = 3;        // consecutive failed probes
    int UpAfter = 2;          // consecutive successful probes
    int KeepDays = 365;
};

// [History Window]: what the Connection History window shows when it opens.
struct THistoryWindowOptions {
    static constexpr TRange RangeRange{0, 4};
    int Range = -1;           // the range item last chosen; -1 = none yet (a range that fits the data)
};

// [Notifications]: desktop notices of the line's state.
struct TNotifyOptions {
    bool Enabled = true;
    bool PauseOnMetered = false;   // no probes while the connection is metered
};

// [Network]: which address family lookups give.
struct TNetworkOptions {
    enum TFamily { Automatic = 0, IPv4Only = 4, IPv6Only = 6 };
    int AddressFamily = Automatic;

    // The lookups' choice for this setting; automatic for anything but
    // IPv4 only and IPv6 only.
    platform::FamilyChoice Choice() const
    {
        switch (AddressFamily) {
        case IPv4Only: return platform::FamilyChoice::IPv4Only;
        case IPv6Only: return platform::FamilyChoice::IPv6Only;
        default: return platform::FamilyChoice::Automatic;
        }
    }
};

// [Service]: the unattended service and the metrics endpoint.
struct TServiceOptions {
    QString MetricsAddress;   // host:port of the Prometheus endpoint; empty = off
    // Remote write: where the service pushes its figures (empty = off), how
    // it signs in ("bearer FILE" or "basic USER FILE"), the node's name (the
    // `instance` label; empty = the host name), extra labels
    // ("site=shop,line=mobile"), hours of samples kept while the receiver
    // cannot be reached, and seconds between two samples of every figure.
    QString RemoteWrite;
    QString RemoteWriteAuth;
    QString Node;
    QString Labels;
    int RemoteWriteKeepHours = 72;
    int RemoteWriteInterval = 60;
    static constexpr TRange RemoteWriteKeepHoursRange{1, 24 * 90};
    static constexpr TRange RemoteWriteIntervalRange{1, 3600};
    // ProbeAll= and ProbeAllInterval= of the service, which take the place
    // of [Probe All] when given: -1 / 0 when the file does not set them (an
    // interval that is no number reads as -1).
    int ProbeAll = -1;
    int ProbeAllInterval = 0;
};

// [Probe All]: every entry probed once per interval of its own, the entries
// spread evenly over it, rather than one probe per tick to each in turn.
struct TProbeAllOptions {
    // Seconds. Below 5 s a list of a few entries would probe without pause;
    // a day is the longest interval a watch of several targets makes sense at.
    static constexpr TRange IntervalRange{5, 86400};
    bool Enabled = false;
    int Interval = 60;    // as read: a start refuses one outside IntervalRange, with the reason
};

// [KeepAlive]: where the probe interval comes from.
struct TKeepAliveOptions {
    enum TIntervalFrom { AsSet = 0, Measured = 1 };
    int IntervalFrom = AsSet;     // Measured: 0.8 x the shortest idle timer measured on the network
    // Skip a probe when the line carried traffic other than the probes, both
    // ways, since the last one.
    bool SkipWhenBusy = false;
};

// [Reflector]: the idle-timer finder's far end. The same key on both sides;
// the host is where the finder looks for it (HOST[:PORT]).
struct TReflectorOptions {
    QString Key;
    QString Host;
};

struct TOptions {
    TAntiIdleOptions AntiIdle;
    TLatencyOptions Latency;
    TPingOptions Ping;
    TTraceOptions Trace;
    TDialUpOptions DialUp;
    TProxyOptions Proxy;
    TGeneralOptions General;

    TWindowOptions Window;
    THistoryOptions History;
    THistoryWindowOptions HistoryWindow;
    TNotifyOptions Notify;
    TNetworkOptions Network;
    TServiceOptions Service;
    TReflectorOptions Reflector;
    TKeepAliveOptions KeepAlive;
    TProbeAllOptions ProbeAll;
    TDiagnosisOptions Diagnosis;
};

} // namespace config
