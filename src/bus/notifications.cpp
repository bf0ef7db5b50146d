#include "bus/notifications.h"

#include "bus/dbusbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>

namespace bus {

namespace {

const char kBusName[] = "idlix-notify";
const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
const char kIface[] = "org.freedesktop.Notifications";
// Ids of open notices kept for their actions; older ones are long gone.
constexpr size_t kOursMax = 32;

QDBusConnection Bus()
{
    return NamedBus(TBusKind::Session, QString::fromLatin1(kBusName));
}

QDBusMessage Call(const char *method, const QVariantList &args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kIface, QString::fromLatin1(method));
    m.setArguments(args);
    return m;
}

// Runs 'then' with the call's reply once it is in, or with an error reply
// when it failed or took too long.
void Await(QObject *owner, const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs,
           std::function<void(const QDBusMessage &)> then)
{
    auto *w = new QDBusPendingCallWatcher(bus.asyncCall(call, std::max(1, timeoutMs)), owner);
    QObject::connect(w, &QDBusPendingCallWatcher::finished, owner, [w, then = std::move(then)] {
        w->deleteLater();
        then(w->reply());
    });
}

} // namespace

TNotificationClient::TNotificationClient(const QString &appName, QObject *parent)
    : QObject(parent), appName_(appName)
{
}

void TNotificationClient::Show(const TNotice &notice, std::function<void(uint)> done)
{
    QDBusConnection bus = Bus();
    if (!bus.isConnected()) {
        // Answered from the loop as a server would be, never from inside the call.
        QTimer::singleShot(0, this, [done = std::move(done)] { done(0); });
        return;
    }
    // The signals of whichever server answers; connecting twice is harmless.
    bus.connect(kService, kPath, kIface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint,QString)));
    bus.connect(kService, kPath, kIface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint,uint)));
    // Asked each time: the server may have been replaced since.
    Await(this, bus, Call("GetCapabilities"), CallTimeoutMs,
          [this, notice, done = std::move(done)](const QDBusMessage &reply) mutable {
              if (reply.type() != QDBusMessage::ReplyMessage) {
                  done(0);
                  return;
              }
              capabilities_ = reply.arguments().value(0).toStringList();
              sendNotify(notice, std::move(done));
          });
}

void TNotificationClient::sendNotify(const TNotice &notice, std::function<void(uint)> done)
{
    QString body = notice.Body.left(kBodyMax);
    if (Offered(QStringLiteral("body-markup")))
        body = body.toHtmlEscaped();
    QStringList actions;
    if (Offered(QStringLiteral("actions"))) {
        for (const auto &[key, label] : notice.Actions)
            actions << key << label;
    }
    QVariantMap hints;
    if (!notice.Category.isEmpty())
        hints.insert(QStringLiteral("category"), notice.Category);
    if (!notice.DesktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), notice.DesktopEntry);
    const QDBusMessage call = Call("Notify", {appName_, notice.ReplacesId, notice.Icon,
                                              notice.Summary.left(kSummaryMax), body, actions, hints,
                                              -1});
    Await(this, Bus(), call, CallTimeoutMs, [this, done = std::move(done)](const QDBusMessage &reply) {
        const uint id = reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toUInt() : 0;
        if (id != 0)
            remember(id);
        done(id);
    });
}

void TNotificationClient::remember(uint id)
{
    ours_.erase(std::remove(ours_.begin(), ours_.end(), id), ours_.end());
    ours_.push_back(id);
    if (ours_.size() > kOursMax)
        ours_.pop_front();
}

void TNotificationClient::actionInvoked(uint id, const QString &action)
{
    // Every program's notices signal on the same object: only ours count.
    if (std::find(ours_.begin(), ours_.end(), id) == ours_.end())
        return;
    if (auto handler = OnAction)
        handler(id, action);
}

void TNotificationClient::notificationClosed(uint id, uint)
{
    ours_.erase(std::remove(ours_.begin(), ours_.end(), id), ours_.end());
}

} // namespace bus
