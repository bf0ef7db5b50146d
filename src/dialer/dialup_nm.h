// Inside the dial-up service's NetworkManager backend: the bus helpers, the
// profile list and the secret agent. Only the backend and its tests include
// this header.
#pragma once

#include "dialer/dialup_backend.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QVariantMap>
#include <vector>

namespace dialer {

extern const char kNmService[];
extern const char kNmPath[];
extern const char kNmAgentPath[];
// The longest a single bus call may take.
constexpr int kNmCallMs = 3000;

// A connection's settings as NetworkManager sends them (a{sa{sv}}).
using NmSettings = QMap<QString, QVariantMap>;

// A saved profile.
struct NmProfile {
    QString id;    // connection.id, the entry name
    QString type;  // connection.type
    QString path;  // its object path under Settings
};

// A method call to NetworkManager.
QDBusMessage NmMethod(const QString &path, const QString &iface, const QString &method,
                      const QVariantList &args = {});

// This service's own connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS
// applies), made again when the bus went away.
QDBusConnection NmBus();
// The error code for a failed bus call; the message of an error that
// NetworkManager sent becomes the text of kDialErrBusError.
int NmBusError(const QDBusError &e);
// A blocking call with a time-out; 0 and the reply, or an error code.
int NmCall(const QDBusMessage &m, QDBusMessage &reply, int timeoutMs = kNmCallMs);
// One property of a NetworkManager object.
int NmProperty(const QString &path, const QString &iface, const QString &name, QVariant &value);
// The saved profiles, dial-up-like types first, then the rest, each group in
// NetworkManager's order.
int NmListProfiles(std::vector<NmProfile> &out);
// The profile named id: the one the last listing found, when it still has
// that name, else from a new listing. 0, or 623 when there is none.
int NmFindProfile(const QString &id, NmProfile &out);

// Answers NetworkManager's secret requests with the user name and password of
// the connections being dialed; registered with the agent manager while it
// holds any. Answers only NetworkManager itself, and stores nothing.
class NmSecretAgent : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.SecretAgent")
public:
    static NmSecretAgent &instance();
    // Holds the credentials of a profile (by its settings path) for a dial.
    void add(const QString &connectionPath, const QString &user, const QString &password);
    // Forgets them; unregisters once nothing is held.
    void remove(const QString &connectionPath);

public slots:
    QMap<QString, QVariantMap> GetSecrets(const QMap<QString, QVariantMap> &connection,
                                          const QDBusObjectPath &connectionPath,
                                          const QString &settingName, const QStringList &hints,
                                          uint flags);
    void CancelGetSecrets(const QDBusObjectPath &connectionPath, const QString &settingName);
    void SaveSecrets(const QMap<QString, QVariantMap> &connection, const QDBusObjectPath &connectionPath);
    void DeleteSecrets(const QMap<QString, QVariantMap> &connection, const QDBusObjectPath &connectionPath);

private:
    NmSecretAgent() = default;
    QMap<QString, std::pair<QString, QString>> creds_;  // settings path -> user, password
    QString registeredOn_;  // the bus connection the agent is registered on
};

} // namespace dialer
