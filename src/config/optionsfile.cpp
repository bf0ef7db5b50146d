#include "config/optionsfile.h"

#include "platform/appdir.h"
#include "platform/inifile.h"

#include <stdexcept>

namespace config {

namespace {

const QString AISection = QStringLiteral("Anti-Idle Options");
const QString LatSection = QStringLiteral("Latency Test");
const QString PngSection = QStringLiteral("Ping Options");
const QString TrcSection = QStringLiteral("Traceroute Options");
const QString RasSection = QStringLiteral("Dial-Up Options");
const QString GeneralSection = QStringLiteral("General");
const QString WindowSection = QStringLiteral("Window");
const QString HistorySection = QStringLiteral("History");
const QString HistoryWindowSection = QStringLiteral("History Window");
const QString NotifySection = QStringLiteral("Notifications");
const QString NetworkSection = QStringLiteral("Network");
const QString ServiceSection = QStringLiteral("Service");
const QString ReflectorSection = QStringLiteral("Reflector");
const QString DiagnosisSection = QStringLiteral("Diagnosis");
const QString KeepAliveSection = QStringLiteral("KeepAlive");
const QString ProbeAllSection = QStringLiteral("Probe All");

// Items of the two radio groups.
constexpr int MethodItems = 3, TraceModeItems = 2;

// A radio group's index as the group takes it: nothing below -1, the last
// item past the end.
int ClampItem(int index, int items)
{
    return index < -1 ? -1 : index >= items ? items - 1 : index;
}

int ReadClamped(const platform::TIniDocument &ini, const QString &section, const char *key,
                int def, TRange range)
{
    return range.Clamp(ini.ReadInteger(section, QLatin1String(key), def));
}

// A length in seconds as written, unclamped: 'absent' when the key is missing
// or empty, -1 when its text is no number (a start refuses both -1 and a
// length out of range, and says which key is wrong).
int ReadSeconds(const platform::TIniDocument &ini, const QString &section, const char *key, int absent)
{
    if (ini.ReadString(section, QLatin1String(key), QString()).trimmed().isEmpty())
        return absent;
    return ini.ReadInteger(section, QLatin1String(key), -1);
}

// Makes the edits of one save on the file's text and writes it once: all of
// them reach the file, or none (with the message of the refused write).
template <typename Writes>
bool Save(const QString &path, QString *error, Writes writes)
{
    platform::TIniDocument ini(path);
    writes(ini);
    if (ini.Save())
        return true;
    if (error)
        *error = QString::fromUtf8(platform::EIniWriteError(ini.FileName()).what());
    return false;
}

} // namespace

QString SettingsPath()
{
    return platform::DataFile(QLatin1String(SettingsFileName));
}

QString ScaleText(int scale)
{
    switch (scale) {
    case TWindowOptions::Scale100:
    case TWindowOptions::Scale150:
    case TWindowOptions::Scale200:
        return QString::number(scale);
    default:
        return QStringLiteral("auto");
    }
}

int ParseScale(const QString &text)
{
    const int percent = text.trimmed().toInt();
    switch (percent) {
    case TWindowOptions::Scale100:
    case TWindowOptions::Scale150:
    case TWindowOptions::Scale200:
        return percent;
    default:
        return TWindowOptions::Automatic;
    }
}

QString FamilyText(int family)
{
    switch (family) {
    case TNetworkOptions::IPv4Only: return QStringLiteral("ipv4");
    case TNetworkOptions::IPv6Only: return QStringLiteral("ipv6");
    default: return QStringLiteral("auto");
    }
}

int ParseFamily(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("ipv4") || t == QLatin1String("4"))
        return TNetworkOptions::IPv4Only;
    if (t == QLatin1String("ipv6") || t == QLatin1String("6"))
        return TNetworkOptions::IPv6Only;
    return TNetworkOptions::Automatic;
}

void LoadOptions(const QString &path, TOptions &o)
{
    const platform::TIniDocument ini(path);

    TAntiIdleOptions &ai = o.AntiIdle;
    ai.Method = ClampItem(ini.ReadInteger(AISection, QStringLiteral("Method"), 0), MethodItems);
    // Kept as typed; a session converts it when it starts.
    const QString freq = ini.ReadString(AISection, QStringLiteral("Frequecy"), QStringLiteral("1"));
    ai.Frequency = freq.isEmpty() ? QStringLiteral("1") : freq;
    ai.Host = ini.ReadString(AISection, QStringLiteral("Host"), QString());
    const QString checked = ini.ReadString(AISection, QStringLiteral("Options"), QString());
    for (int i = 0; i < TAntiIdleOptions::OptionCount; ++i) {
        if (checked.contains(QChar('0' + i)))
            ai.Options[i] = true;
    }

    o.Latency.Host = ini.ReadString(LatSection, QStringLiteral("Host"), QString());
    o.Latency.TimeOut = ReadClamped(ini, LatSection, "Time-out", 5, TLatencyOptions::TimeOutRange);
    o.Latency.Interval = ReadClamped(ini, LatSection, "Interval", 500, TLatencyOptions::IntervalRange);

    o.Ping.Bytes = ReadClamped(ini, PngSection, "Bytes", 56, TPingOptions::BytesRange);
    o.Ping.TimeOut = ReadClamped(ini, PngSection, "Time-out", 5, TPingOptions::TimeOutRange);

    o.Trace.Bytes = ReadClamped(ini, TrcSection, "Bytes", 56, TTraceOptions::BytesRange);
    o.Trace.TimeOut = ReadClamped(ini, TrcSection, "Time-out", 5, TTraceOptions::TimeOutRange);
    o.Trace.TestPacket = ini.ReadBool(TrcSection, QStringLiteral("Test Packet"), true);
    o.Trace.Mode = ClampItem(ini.ReadInteger(TrcSection, QStringLiteral("Mode"), 0), TraceModeItems);

    TDialUpOptions &ras = o.DialUp;
    ras.Connection = ini.ReadInteger(RasSection, QStringLiteral("Connection"), 0);
    ras.UserName = ini.ReadString(RasSection, QStringLiteral("Username"), QString());
    ras.Password = ini.ReadString(RasSection, QStringLiteral("Password"), QString());
    ras.ConnectOnStart = ini.ReadBool(RasSection, QStringLiteral("Connect On Start"), false);
    ras.StartAntiIdle = ini.ReadBool(RasSection, QStringLiteral("Start AI"), false);
    ras.Disconnect = ini.ReadBool(RasSection, QStringLiteral("Disconnect"), false);
    ras.DisconnectTime = ReadClamped(ini, RasSection, "Disconnect Time", 60,
                                     TDialUpOptions::DisconnectTimeRange);

    o.General.StayOnTop = ini.ReadBool(GeneralSection, QStringLiteral("Stay on Top"), true);

    o.Window.Scale = ParseScale(ini.ReadString(WindowSection, QStringLiteral("Scale"), QString()));
    o.History.DownAfter = ReadClamped(ini, HistorySection, "DownAfter", 3, THistoryOptions::DownAfterRange);
    o.History.UpAfter = ReadClamped(ini, HistorySection, "UpAfter", 2, THistoryOptions::UpAfterRange);
    o.History.KeepDays = ReadClamped(ini, HistorySection, "KeepDays", 365, THistoryOptions::KeepDaysRange);
    const int range = ini.ReadInteger(HistoryWindowSection, QStringLiteral("Range"), -1);
    o.HistoryWindow.Range = THistoryWindowOptions::RangeRange.Clamp(range) == range ? range : -1;
    o.Notify.Enabled = ini.ReadBool(NotifySection, QStringLiteral("Enabled"), true);
    o.Notify.PauseOnMetered = ini.ReadBool(NotifySection, QStringLiteral("PauseOnMetered"), false);
    o.Network.AddressFamily =
        ParseFamily(ini.ReadString(NetworkSection, QStringLiteral("AddressFamily"), QString()));
    o.Service.MetricsAddress =
        ini.ReadString(ServiceSection, QStringLiteral("MetricsAddress"), QString()).trimmed();
    auto &svc = o.Service;
    svc.RemoteWrite = ini.ReadString(ServiceSection, QStringLiteral("RemoteWrite"), QString()).trimmed();
    svc.RemoteWriteAuth = ini.ReadString(ServiceSection, QStringLiteral("RemoteWriteAuth"), QString()).trimmed();
    svc.Node = ini.ReadString(ServiceSection, QStringLiteral("Node"), QString()).trimmed();
    svc.Labels = ini.ReadString(ServiceSection, QStringLiteral("Labels"), QString()).trimmed();
    svc.RemoteWriteKeepHours = ReadClamped(ini, ServiceSection, "RemoteWriteKeepHours", 72,
                                           TServiceOptions::RemoteWriteKeepHoursRange);
    svc.RemoteWriteInterval = ReadClamped(ini, ServiceSection, "RemoteWriteInterval", 60,
                                          TServiceOptions::RemoteWriteIntervalRange);
    // Kept as typed: the key is written by hand on both machines and never
    // saved back by the program.
    o.Reflector.Key = ini.ReadString(ReflectorSection, QStringLiteral("Key"), QString());
    o.Reflector.Host = ini.ReadString(ReflectorSection, QStringLiteral("Host"), QString()).trimmed();
    o.KeepAlive.IntervalFrom =
        ini.ReadString(KeepAliveSection, QStringLiteral("IntervalFrom"), QString()).trimmed() == QLatin1String("measured")
            ? TKeepAliveOptions::Measured
            : TKeepAliveOptions::AsSet;
    o.KeepAlive.SkipWhenBusy = ini.ReadBool(KeepAliveSection, QStringLiteral("SkipWhenBusy"), false);
    // Kept as read, not clamped: an interval too short is refused when the
    // session starts, with the reason, rather than quietly made longer.
    o.ProbeAll.Enabled = ini.ReadBool(ProbeAllSection, QStringLiteral("Enabled"), false);
    o.ProbeAll.Interval = ReadSeconds(ini, ProbeAllSection, "Interval", 60);
    svc.ProbeAll = ini.ReadString(ServiceSection, QStringLiteral("ProbeAll"), QString()).trimmed().isEmpty()
        ? -1
        : ini.ReadBool(ServiceSection, QStringLiteral("ProbeAll"), false);
    svc.ProbeAllInterval = ReadSeconds(ini, ServiceSection, "ProbeAllInterval", 0);
    // A check or anchors the dialog would refuse are none: the diagnosis
    // asks no one the user did not clearly name.
    auto &dia = o.Diagnosis;
    dia.CheckUrl = ini.ReadString(DiagnosisSection, QStringLiteral("CheckUrl"), QString()).trimmed();
    dia.CheckExpect = ini.ReadString(DiagnosisSection, QStringLiteral("CheckExpect"), QString());
    if (!CheckProblem(dia.CheckUrl, dia.CheckExpect).isEmpty())
        dia.CheckUrl.clear(), dia.CheckExpect.clear();
    dia.Anchors = ParseAnchors(ini.ReadString(DiagnosisSection, QStringLiteral("Anchors"), QString()), nullptr)
                      .value_or(QStringList());
}

bool SaveOptions(const QString &path, const TOptions &o, QString *error)
{
    QString checked;
    for (int i = 0; i < TAntiIdleOptions::OptionCount; ++i) {
        if (o.AntiIdle.Options[i])
            checked += QChar('0' + i);
    }
    // A fixed order, so a first save lays the file out section by section.
    return Save(path, error, [&](platform::TIniDocument &ini) {
        ini.WriteInteger(AISection, QStringLiteral("Method"), o.AntiIdle.Method);
        ini.WriteString(AISection, QStringLiteral("Frequecy"), o.AntiIdle.Frequency);
        ini.WriteString(AISection, QStringLiteral("Host"), o.AntiIdle.Host);
        ini.WriteString(AISection, QStringLiteral("Options"), checked);
        ini.WriteString(LatSection, QStringLiteral("Host"), o.Latency.Host);
        ini.WriteInteger(LatSection, QStringLiteral("Time-out"), o.Latency.TimeOut);
        ini.WriteInteger(LatSection, QStringLiteral("Interval"), o.Latency.Interval);
        // A size typed past the field's range is never stored as such.
        ini.WriteInteger(PngSection, QStringLiteral("Bytes"), TPingOptions::BytesRange.Clamp(o.Ping.Bytes));
        ini.WriteInteger(PngSection, QStringLiteral("Time-out"), o.Ping.TimeOut);
        ini.WriteInteger(TrcSection, QStringLiteral("Bytes"), o.Trace.Bytes);
        ini.WriteInteger(TrcSection, QStringLiteral("Time-out"), o.Trace.TimeOut);
        ini.WriteBool(TrcSection, QStringLiteral("Test Packet"), o.Trace.TestPacket);
        ini.WriteInteger(TrcSection, QStringLiteral("Mode"), o.Trace.Mode);
        ini.WriteInteger(RasSection, QStringLiteral("Connection"), o.DialUp.Connection);
        ini.WriteString(RasSection, QStringLiteral("Username"), o.DialUp.UserName);
        ini.WriteString(RasSection, QStringLiteral("Password"), o.DialUp.Password);
        ini.WriteBool(RasSection, QStringLiteral("Connect On Start"), o.DialUp.ConnectOnStart);
        ini.WriteBool(RasSection, QStringLiteral("Start AI"), o.DialUp.StartAntiIdle);
        ini.WriteBool(RasSection, QStringLiteral("Disconnect"), o.DialUp.Disconnect);
        ini.WriteInteger(RasSection, QStringLiteral("Disconnect Time"), o.DialUp.DisconnectTime);
        ini.WriteBool(GeneralSection, QStringLiteral("Stay on Top"), o.General.StayOnTop);
    });
}

bool SavePreferences(const QString &path, const TOptions &o, QString *error)
{
    return Save(path, error, [&](platform::TIniDocument &ini) {
        ini.WriteString(WindowSection, QStringLiteral("Scale"), ScaleText(o.Window.Scale));
        ini.WriteInteger(HistorySection, QStringLiteral("DownAfter"), o.History.DownAfter);
        ini.WriteInteger(HistorySection, QStringLiteral("UpAfter"), o.History.UpAfter);
        ini.WriteInteger(HistorySection, QStringLiteral("KeepDays"), o.History.KeepDays);
        ini.WriteBool(NotifySection, QStringLiteral("Enabled"), o.Notify.Enabled);
        ini.WriteBool(NotifySection, QStringLiteral("PauseOnMetered"), o.Notify.PauseOnMetered);
        ini.WriteString(NetworkSection, QStringLiteral("AddressFamily"),
                        FamilyText(o.Network.AddressFamily));
        ini.WriteString(ServiceSection, QStringLiteral("MetricsAddress"), o.Service.MetricsAddress);
        ini.WriteString(ServiceSection, QStringLiteral("RemoteWrite"), o.Service.RemoteWrite);
        ini.WriteString(ServiceSection, QStringLiteral("Node"), o.Service.Node);
        ini.WriteString(ServiceSection, QStringLiteral("Labels"), o.Service.Labels);
        ini.WriteString(KeepAliveSection, QStringLiteral("IntervalFrom"),
                        o.KeepAlive.IntervalFrom == TKeepAliveOptions::Measured ? QStringLiteral("measured")
                                                                                : QStringLiteral("setting"));
        ini.WriteBool(KeepAliveSection, QStringLiteral("SkipWhenBusy"), o.KeepAlive.SkipWhenBusy);
        ini.WriteBool(ProbeAllSection, QStringLiteral("Enabled"), o.ProbeAll.Enabled);
        ini.WriteInteger(ProbeAllSection, QStringLiteral("Interval"), o.ProbeAll.Interval);
        ini.WriteString(DiagnosisSection, QStringLiteral("CheckUrl"), o.Diagnosis.CheckUrl);
        ini.WriteString(DiagnosisSection, QStringLiteral("CheckExpect"), o.Diagnosis.CheckExpect);
        ini.WriteString(DiagnosisSection, QStringLiteral("Anchors"), AnchorsText(o.Diagnosis.Anchors));
    });
}

bool SaveHistoryWindow(const QString &path, const THistoryWindowOptions &o, QString *error)
{
    return Save(path, error, [&](platform::TIniDocument &ini) {
        ini.WriteInteger(HistoryWindowSection, QStringLiteral("Range"), o.Range);
    });
}

} // namespace config
