// The desktop's notification server played by python3-dbusmock's
// notification_daemon template on a private session bus: the test reads
// back every Notify call with its arguments and can click a notice's action.
#pragma once

#include "mockbus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace testsupport {

// One Notify call as the server received it.
struct SeenNotice {
    QString AppName;
    uint ReplacesId = 0;
    QString Icon, Summary, Body;
    QStringList Actions;
    QJsonObject Hints;
};

class NotifyServer {
public:
    static constexpr char kService[] = "org.freedesktop.Notifications";
    static constexpr char kPath[] = "/org/freedesktop/Notifications";

    NotifyServer() : bus(MockBus::Kind::Session) {}

    // Starts the bus and a server offering 'capabilities' (space-separated).
    bool Start(const QString &capabilities = QStringLiteral("body body-markup actions"))
    {
        if (!bus.Start())
            return false;
        const QString params = QStringLiteral("{\"capabilities\": \"%1\"}").arg(capabilities);
        if (!bus.StartService(QStringLiteral("notification_daemon"), QLatin1String(kService), params))
            return false;
        // The call log as JSON; dbus values are Python str, int, list and dict.
        return AddMethod(QStringLiteral("NotifyLog"), QString(), QStringLiteral("s"),
                         QStringLiteral("import json\n"
                                        "ret = json.dumps([list(c[2]) for c in self.call_log if c[1] == 'Notify'])"));
    }

    // Adds or replaces a method of the server's interface (Python code as
    // dbusmock takes it).
    bool AddMethod(const QString &name, const QString &in, const QString &out, const QString &code)
    {
        return Mock(QStringLiteral("AddMethod"), {QString(), name, in, out, code}).type() == QDBusMessage::ReplyMessage;
    }

    // Every Notify call so far, in order.
    std::vector<SeenNotice> Notices()
    {
        const QDBusMessage r = bus.Call(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kService),
                                        QStringLiteral("NotifyLog"));
        std::vector<SeenNotice> out;
        const QJsonArray calls = QJsonDocument::fromJson(r.arguments().value(0).toString().toUtf8()).array();
        for (const QJsonValue &c : calls) {
            const QJsonArray a = c.toArray();
            SeenNotice n;
            n.AppName = a.at(0).toString();
            n.ReplacesId = uint(a.at(1).toInteger());
            n.Icon = a.at(2).toString();
            n.Summary = a.at(3).toString();
            n.Body = a.at(4).toString();
            for (const QJsonValue &v : a.at(5).toArray())
                n.Actions << v.toString();
            n.Hints = a.at(6).toObject();
            out.push_back(n);
        }
        return out;
    }

    // The user chooses 'action' of notice 'id'.
    void Click(uint id, const QString &action)
    {
        Mock(QStringLiteral("EmitSignal"),
             {QString(), QStringLiteral("ActionInvoked"), QStringLiteral("us"), QVariantList{id, action}});
    }

    MockBus bus;

private:
    QDBusMessage Mock(const QString &method, const QVariantList &args)
    {
        return bus.Call(QLatin1String(kService), QLatin1String(kPath), QStringLiteral("org.freedesktop.DBus.Mock"),
                        method, args);
    }
};

} // namespace testsupport
