// A dial through NetworkManager: ActivateConnection of the profile, then the
// active connection's and its device's StateChanged signals turned into the
// dial's states:
//
//   device prepare (40)       -> port opened
//   device config (50)        -> device connected
//   device need-auth (60)     -> authenticate
//   device ip-config (70)     -> authenticated
//   device activated (100), active connection activated (2) -> connected
//   active connection deactivated (4) -> disconnected when the line was up,
//                                        else the dial fails with its reason
//   NetworkManager leaving the bus    -> the same, with code 751
#include "dialer/dialup_nm.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QTimer>

namespace dialer {

namespace {

constexpr int kHangUpWaitMs = 5000;

enum : uint {
    kDevPrepare = 40, kDevConfig = 50, kDevNeedAuth = 60, kDevIpConfig = 70, kDevActivated = 100,
};
enum : uint { kActActivating = 1, kActActivated = 2, kActDeactivated = 4 };

QString activeIface() { return QString::fromLatin1(kNmService) + ".Connection.Active"; }
QString deviceIface() { return QString::fromLatin1(kNmService) + ".Device"; }

// The order of the states this backend reports.
int rankOf(unsigned state)
{
    static const unsigned order[] = {kDialOpenPort, kDialPortOpened, kDialDeviceConnected,
                                     kDialAuthenticate, kDialAuthenticated, kDialConnected};
    for (int i = 0; i < int(std::size(order)); ++i)
        if (order[i] == state)
            return i;
    return -1;
}

// What the end of an activation means (NMActiveConnectionStateReason).
int reasonError(uint reason)
{
    static const char *const names[] = {
        "unknown", "none", "user-disconnected", "device-disconnected", "service-stopped",
        "ip-config-invalid", "connect-timeout", "service-start-timeout", "service-start-failed",
        "no-secrets", "login-failed", "connection-removed", "dependency-failed",
        "device-realize-failed", "device-removed"};
    switch (reason) {
    case 2:
        return kDialErrUserDisconnection;
    case 3:
        return kDialErrRemoteDisconnection;
    case 9:
    case 10:
        return kDialErrAuthFailure;
    default:
        NoteErrorDetail(kDialErrActivationFailed,
                        reason < std::size(names) ? QString::fromLatin1(names[reason])
                                                  : QStringLiteral("reason %1").arg(reason));
        return kDialErrActivationFailed;
    }
}

} // namespace

class NmLine : public DialLine {
    Q_OBJECT
public:
    NmLine(const NmProfile &profile, const DialParams &params)
        : DialLine(QString(), profile.id), profile_(profile)
    {
        status_.deviceType = profile.type;
        if (!params.password.isEmpty()) {
            NmSecretAgent::instance().add(profile.path, params.userName, params.password);
            agentHeld_ = true;
        }
    }

    ~NmLine() override { releaseAgent(); }

    void start()
    {
        QDBusConnection bus = NmBus();
        watcher_ = new QDBusServiceWatcher(QString::fromLatin1(kNmService), bus,
                                           QDBusServiceWatcher::WatchForUnregistration, this);
        connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { end(kDialErrManagerGone); });
        reportState(kDialOpenPort);
        const QDBusMessage m = NmMethod(kNmPath, kNmService, QStringLiteral("ActivateConnection"),
                                        {QVariant::fromValue(QDBusObjectPath(profile_.path)),
                                         QVariant::fromValue(QDBusObjectPath("/")),
                                         QVariant::fromValue(QDBusObjectPath("/"))});
        // NetworkManager may ask for an authorization before it answers, so
        // the reply is awaited with the event loop running.
        activation_ = new QDBusPendingCallWatcher(bus.asyncCall(m, 60000), this);
        connect(activation_, &QDBusPendingCallWatcher::finished, this, [this] { activated(); });
    }

    void hangUp() override
    {
        markHungUp();
        releaseAgent();
        if (activation_ && !activation_->isFinished())
            waitFor(activation_, &QDBusPendingCallWatcher::finished);
        if (active_.isEmpty() || over_)
            return;
        const QDBusMessage m = NmMethod(kNmPath, kNmService, QStringLiteral("DeactivateConnection"),
                                        {QVariant::fromValue(QDBusObjectPath(active_))});
        auto *w = new QDBusPendingCallWatcher(NmBus().asyncCall(m, kHangUpWaitMs), this);
        waitFor(w, &QDBusPendingCallWatcher::finished);
    }

private slots:
    void activeStateChanged(uint state, uint reason)
    {
        if (state == kActActivated)
            advance(kDialConnected);
        else if (state == kActDeactivated)
            end(reasonError(reason));
    }

    void deviceStateChanged(uint state, uint, uint)
    {
        switch (state) {
        case kDevPrepare: advance(kDialPortOpened); break;
        case kDevConfig: advance(kDialDeviceConnected); break;
        case kDevNeedAuth: advance(kDialAuthenticate); break;
        case kDevIpConfig: advance(kDialAuthenticated); break;
        case kDevActivated: advance(kDialConnected); break;
        default: break;
        }
    }

private:
    // Runs the event loop until signal of obj fires or the wait runs out.
    template <typename Obj, typename Signal>
    static void waitFor(Obj *obj, Signal signal)
    {
        QEventLoop loop;
        QObject::connect(obj, signal, &loop, &QEventLoop::quit);
        QTimer::singleShot(kHangUpWaitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }

    void activated()
    {
        const QDBusPendingReply<QDBusObjectPath> reply = *activation_;
        if (reply.isError()) {
            end(NmBusError(reply.error()));
            return;
        }
        active_ = reply.value().path();
        if (over_)
            return;
        QDBusConnection bus = NmBus();
        bus.connect(kNmService, active_, activeIface(), QStringLiteral("StateChanged"), this,
                    SLOT(activeStateChanged(uint,uint)));
        // The device may have moved on before the signals were subscribed:
        // its present state is read once after subscribing.
        QVariant v;
        if (NmProperty(active_, activeIface(), QStringLiteral("Devices"), v) == 0) {
            const auto devices = qdbus_cast<QList<QDBusObjectPath>>(v);
            if (!devices.isEmpty()) {
                device_ = devices.first().path();
                bus.connect(kNmService, device_, deviceIface(), QStringLiteral("StateChanged"), this,
                            SLOT(deviceStateChanged(uint,uint,uint)));
                if (NmProperty(device_, deviceIface(), QStringLiteral("Interface"), v) == 0)
                    status_.deviceName = v.toString();
                if (NmProperty(device_, deviceIface(), QStringLiteral("State"), v) == 0)
                    deviceStateChanged(v.toUInt(), 0, 0);
            }
        }
        if (NmProperty(active_, activeIface(), QStringLiteral("Type"), v) == 0 && !v.toString().isEmpty())
            status_.deviceType = v.toString();
        if (NmProperty(active_, activeIface(), QStringLiteral("State"), v) == 0)
            activeStateChanged(v.toUInt(), 0);
    }

    void advance(unsigned state)
    {
        const int rank = rankOf(state);
        if (over_ || rank <= rank_)
            return;
        rank_ = rank;
        reportState(state);
        if (state == kDialConnected)
            releaseAgent();  // the dial is over: the secrets are needed no more
    }

    void end(int error)
    {
        if (over_)
            return;
        over_ = true;
        releaseAgent();
        if (rank_ >= rankOf(kDialConnected))
            reportDrop(error);
        else
            reportFailure(error);
    }

    void releaseAgent()
    {
        if (agentHeld_)
            NmSecretAgent::instance().remove(profile_.path);
        agentHeld_ = false;
    }

    NmProfile profile_;
    QString active_, device_;
    QDBusServiceWatcher *watcher_ = nullptr;
    QDBusPendingCallWatcher *activation_ = nullptr;
    int rank_ = -1;
    bool over_ = false;
    bool agentHeld_ = false;
};

int NmStart(const DialParams &params, std::unique_ptr<DialLine> &line)
{
    NmProfile profile;
    if (const int err = NmFindProfile(params.entry, profile); err != 0)
        return err;
    // A profile that is already activating or up is the line already open.
    QVariant v;
    if (NmProperty(kNmPath, kNmService, QStringLiteral("ActiveConnections"), v) == 0) {
        for (const QDBusObjectPath &a : qdbus_cast<QList<QDBusObjectPath>>(v)) {
            QVariant conn, state;
            if (NmProperty(a.path(), activeIface(), QStringLiteral("Connection"), conn) == 0
                && qdbus_cast<QDBusObjectPath>(conn).path() == profile.path
                && NmProperty(a.path(), activeIface(), QStringLiteral("State"), state) == 0
                && (state.toUInt() == kActActivating || state.toUInt() == kActActivated))
                return kDialErrPortAlreadyOpen;
        }
    }
    auto nm = std::make_unique<NmLine>(profile, params);
    nm->start();
    line = std::move(nm);
    return 0;
}

} // namespace dialer

#include "dialup_nmline.moc"
