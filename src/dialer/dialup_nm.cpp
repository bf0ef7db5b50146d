// NetworkManager backend: the system's default phone book whenever
// NetworkManager is on the system bus. Entries are the saved profiles, a dial
// activates one, and the active connection's and its device's state changes
// become the dial's progress. When the dial carries a password, this process
// answers NetworkManager's secret requests for that profile while it dials.
//
// Every bus call has a short time-out, and calls that may take long (the
// activation, which can wait for an authorization) run asynchronously, so a
// missing or stuck NetworkManager never freezes the window.
#include "dialer/dialup_nm.h"

#include "bus/dbusbus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <map>

namespace dialer {

namespace {

const char kBusName[] = "idlix-dialup";
// A profile list is short; a bus that sends thousands is not believed.
constexpr int kProfilesMax = 500;
// Reading the profiles one by one (on the GUI thread) stops after this long in
// all, so the window keeps answering whatever the bus sends.
constexpr int kListMs = 1500;

// The rank of a profile type in the entry list: dial-up-like types first.
int typeRank(const QString &type)
{
    static const QStringList order = {"gsm", "cdma", "pppoe", "bluetooth", "vpn", "wireguard"};
    const qsizetype i = order.indexOf(type);
    return i < 0 ? int(order.size()) : int(i);
}

// The keys under which a setting keeps its user name and password.
std::pair<QString, QString> credentialKeys(const QString &setting)
{
    if (setting == QLatin1String("802-1x"))
        return {QStringLiteral("identity"), QStringLiteral("password")};
    if (setting == QLatin1String("vpn"))
        return {QStringLiteral("user-name"), QStringLiteral("password")};
    return {QStringLiteral("username"), QStringLiteral("password")};
}

} // namespace

const char kNmService[] = "org.freedesktop.NetworkManager";
const char kNmPath[] = "/org/freedesktop/NetworkManager";
const char kNmAgentPath[] = "/org/freedesktop/NetworkManager/SecretAgent";

QDBusMessage NmMethod(const QString &path, const QString &iface, const QString &method,
                      const QVariantList &args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kNmService, path, iface, method);
    m.setArguments(args);
    return m;
}

QDBusConnection NmBus()
{
    static const bool typesKnown = [] {
        qDBusRegisterMetaType<NmSettings>();
        return true;
    }();
    (void)typesKnown;
    return bus::NamedBus(bus::TBusKind::System, QString::fromLatin1(kBusName));
}

int NmBusError(const QDBusError &e)
{
    const QString name = e.name();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return kDialErrManagerGone;
    if (name == QLatin1String("org.freedesktop.DBus.Error.Disconnected")
        || name == QLatin1String("org.freedesktop.DBus.Error.NoServer"))
        return kDialErrBusMissing;
    NoteErrorDetail(kDialErrBusError, e.message().isEmpty() ? name : e.message());
    return kDialErrBusError;
}

int NmCall(const QDBusMessage &m, QDBusMessage &reply, int timeoutMs)
{
    QDBusConnection bus = NmBus();
    if (!bus.isConnected())
        return kDialErrBusMissing;
    reply = bus.call(m, QDBus::Block, std::max(1, timeoutMs));
    if (reply.type() == QDBusMessage::ErrorMessage)
        return NmBusError(QDBusError(reply));
    return 0;
}

int NmProperty(const QString &path, const QString &iface, const QString &name, QVariant &value)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kNmService, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({iface, name});
    QDBusMessage reply;
    if (const int err = NmCall(get, reply); err != 0)
        return err;
    if (reply.arguments().isEmpty())
        return kDialErrBusError;
    value = reply.arguments().at(0).value<QDBusVariant>().variant();
    return 0;
}

bool NmAvailable()
{
    QDBusConnection bus = NmBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(QString::fromLatin1(kNmService));
}

namespace {

// The profile behind one settings path, or false when it is gone.
bool readProfile(const QString &path, int timeoutMs, NmProfile &out)
{
    QDBusMessage r;
    if (NmCall(NmMethod(path, QString::fromLatin1(kNmService) + ".Settings.Connection",
                        QStringLiteral("GetSettings")),
               r, timeoutMs)
            != 0
        || r.arguments().isEmpty())
        return false;
    const NmSettings s = qdbus_cast<NmSettings>(r.arguments().at(0));
    const QVariantMap conn = s.value(QStringLiteral("connection"));
    out = {conn.value(QStringLiteral("id")).toString(), conn.value(QStringLiteral("type")).toString(),
           path};
    return !out.id.isEmpty();
}

// The profiles of the last listing, so that a dial finds its profile without
// listing them all again; it goes with the process-wide handle table.
std::vector<NmProfile> &lastListed()
{
    static std::vector<NmProfile> profiles;
    return profiles;
}

} // namespace

int NmListProfiles(std::vector<NmProfile> &out)
{
    out.clear();
    const QDeadlineTimer deadline(kListMs);
    auto remaining = [&] { return int(std::min<qint64>(kNmCallMs, deadline.remainingTime())); };
    const QString settingsPath = QString::fromLatin1(kNmPath) + QStringLiteral("/Settings");
    QDBusMessage reply;
    if (const int err = NmCall(NmMethod(settingsPath, QString::fromLatin1(kNmService) + ".Settings",
                                      QStringLiteral("ListConnections")),
                               reply, remaining());
        err != 0)
        return err;
    if (reply.arguments().isEmpty())
        return kDialErrBusError;
    const auto paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0));
    for (const QDBusObjectPath &p : paths) {
        if (int(out.size()) >= kProfilesMax || deadline.hasExpired())
            break;
        NmProfile profile;
        // A profile that vanished meanwhile is simply not listed.
        if (readProfile(p.path(), remaining(), profile))
            out.push_back(profile);
    }
    std::stable_sort(out.begin(), out.end(), [](const NmProfile &a, const NmProfile &b) {
        return typeRank(a.type) < typeRank(b.type);
    });
    lastListed() = out;
    return 0;
}

int NmFindProfile(const QString &id, NmProfile &out)
{
    // The last listing is believed once the profile still carries that name.
    for (const NmProfile &p : lastListed()) {
        if (p.id == id && readProfile(p.path, kNmCallMs, out) && out.id == id)
            return 0;
    }
    std::vector<NmProfile> profiles;
    if (const int err = NmListProfiles(profiles); err != 0)
        return err;
    auto it = std::find_if(profiles.begin(), profiles.end(),
                           [&](const NmProfile &p) { return p.id == id; });
    if (it == profiles.end())
        return kDialErrEntryNotFound;
    out = *it;
    return 0;
}

int NmEnumEntries(QStringList &names)
{
    std::vector<NmProfile> profiles;
    const int rc = NmListProfiles(profiles);
    for (const NmProfile &p : profiles)
        names << p.id;
    return rc;
}

// ---- secret agent ----

NmSecretAgent &NmSecretAgent::instance()
{
    // One agent for the process: NetworkManager knows it by the bus name
    // and object path it registered, of which the process has one.
    static NmSecretAgent agent;
    return agent;
}

void NmSecretAgent::add(const QString &connectionPath, const QString &user, const QString &password)
{
    creds_[connectionPath] = {user, password};
    QDBusConnection bus = NmBus();
    if (registeredOn_ == bus.baseService() && bus.isConnected())
        return;
    bus.registerObject(QString::fromLatin1(kNmAgentPath), this, QDBusConnection::ExportAllSlots);
    QDBusMessage reply;
    // An agent whose registration fails leaves NetworkManager to its other
    // agents; the dial goes on and may fail for want of secrets.
    if (NmCall(NmMethod(QString::fromLatin1(kNmPath) + "/AgentManager",
                      QString::fromLatin1(kNmService) + ".AgentManager", QStringLiteral("Register"),
                      {QStringLiteral("org.idlix.Dialup")}),
               reply)
        == 0)
        registeredOn_ = bus.baseService();
}

void NmSecretAgent::remove(const QString &connectionPath)
{
    creds_.remove(connectionPath);
    if (!creds_.isEmpty() || registeredOn_.isEmpty())
        return;
    QDBusConnection bus = NmBus();
    if (bus.isConnected() && bus.baseService() == registeredOn_) {
        bus.asyncCall(NmMethod(QString::fromLatin1(kNmPath) + "/AgentManager",
                             QString::fromLatin1(kNmService) + ".AgentManager",
                             QStringLiteral("Unregister")),
                      kNmCallMs);
        bus.unregisterObject(QString::fromLatin1(kNmAgentPath));
    }
    registeredOn_.clear();
}

NmSettings NmSecretAgent::GetSecrets(const NmSettings &, const QDBusObjectPath &connectionPath,
                                     const QString &settingName, const QStringList &, uint)
{
    static const QString secretErr = QStringLiteral("org.freedesktop.NetworkManager.SecretAgent.");
    if (!calledFromDBus())
        return {};
    // Only NetworkManager itself may have the password, never another
    // program on the bus.
    const QString owner = connection().interface()->serviceOwner(QString::fromLatin1(kNmService));
    if (owner.isEmpty() || message().service() != owner) {
        sendErrorReply(secretErr + "PermissionDenied", QStringLiteral("Only NetworkManager may ask."));
        return {};
    }
    auto it = creds_.constFind(connectionPath.path());
    if (it == creds_.constEnd()) {
        sendErrorReply(secretErr + "NoSecrets", QStringLiteral("No secrets for this connection."));
        return {};
    }
    const auto [userKey, passwordKey] = credentialKeys(settingName);
    QVariantMap setting;
    if (!it->first.isEmpty())
        setting.insert(userKey, it->first);
    if (settingName == QLatin1String("vpn"))
        setting.insert(QStringLiteral("secrets"),
                       QVariant::fromValue(QMap<QString, QString>{{passwordKey, it->second}}));
    else
        setting.insert(passwordKey, it->second);
    return NmSettings{{settingName, setting}};
}

void NmSecretAgent::CancelGetSecrets(const QDBusObjectPath &, const QString &) {}

// The password lives only in this process's memory: nothing is saved.
void NmSecretAgent::SaveSecrets(const NmSettings &, const QDBusObjectPath &) {}
void NmSecretAgent::DeleteSecrets(const NmSettings &, const QDBusObjectPath &) {}

} // namespace dialer

// Built with this file rather than with the library's other classes, so that
// a program that never uses them (the headless service) does not link Qt D-Bus.
#include "moc_dialup_nm.cpp"
