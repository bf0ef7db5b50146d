#include "net/ras.h"

#include "dialer/dialup.h"

#include <map>

using namespace dialer;

namespace {

// Field lengths of a dial's parameters; longer values are cut.
constexpr int kEntryMax = 256, kPhoneMax = 128, kUserMax = 256, kPasswordMax = 256, kDomainMax = 15;

} // namespace

TRAS::TRAS(QObject *owner) : QObject(owner) {}

TRAS::~TRAS() = default;

TNotifyEvent TRAS::*TRAS::EventOf(unsigned state)
{
    static const std::map<unsigned, TNotifyEvent TRAS::*> events = {
        {kDialOpenPort, &TRAS::OnAboutToOpenPort},
        {kDialPortOpened, &TRAS::OnPortOpened},
        {kDialConnectDevice, &TRAS::OnAboutToConnDev},
        {kDialDeviceConnected, &TRAS::OnDevConnected},
        {kDialAllDevicesConnected, &TRAS::OnAllDevsConnected},
        {kDialAuthenticate, &TRAS::OnAuthenticate},
        {kDialAuthNotify, &TRAS::OnAuthNotify},
        {kDialAuthRetry, &TRAS::OnAuthRetry},
        {kDialAuthCallback, &TRAS::OnAuthCallBack},
        {kDialAuthChangePassword, &TRAS::OnAuthChangePassword},
        {kDialAuthProject, &TRAS::OnAuthProject},
        {kDialAuthLinkSpeed, &TRAS::OnAuthLinkSpeed},
        {kDialAuthAck, &TRAS::OnAuthAck},
        {kDialReAuthenticate, &TRAS::OnReAuthenticate},
        {kDialAuthenticated, &TRAS::OnAuthenticated},
        {kDialPrepareForCallback, &TRAS::OnPrepareforCallback},
        {kDialWaitForModemReset, &TRAS::OnWaitForModemReset},
        {kDialWaitForCallback, &TRAS::OnCallBack},
        {kDialInteractive, &TRAS::OnInteractiveStarted},
        {kDialRetryAuthentication, &TRAS::OnRetryAuth},
        {kDialPasswordExpired, &TRAS::OnPasswordExpired},
        {kDialConnected, &TRAS::OnConnect},
    };
    auto it = events.find(state);
    return it == events.end() ? nullptr : it->second;
}

int TRAS::Dial()
{
    if (m_connHandle != 0)
        HangUpQuietly();
    if (!m_notifyWindow)
        m_notifyWindow = new QObject(this);

    DialParams p;
    p.entry = m_entryName.left(kEntryMax);
    p.phoneNumber = m_phoneNumber.left(kPhoneMax);
    p.callbackNumber = m_callbackNumber.left(kPhoneMax);
    p.userName = m_userName.left(kUserMax);
    p.password = m_password.left(kPasswordMax);
    p.domain = m_domain.left(kDomainMax);
    m_connHandle = 0;

    DialHandle handle = 0;
    QPointer<TRAS> self(this);
    m_lastResult = DialStart(
        m_phoneBookPath, p, m_notifyWindow,
        [self](DialHandle h, unsigned state, int error) {
            if (self)
                self->dialEvent(h, state, error);
        },
        handle, &m_notice);
    if (m_lastResult == 0) {
        m_connHandle = handle;
        setLine(TRasLineState::Dialing);
    }
    return m_lastResult;
}

int TRAS::release(bool withEvent)
{
    const int r = m_connHandle != 0 ? DialHangUp(m_connHandle) : 0;
    m_connHandle = 0;
    // Later deletion: this may run inside a handler of a notification that
    // the window itself is delivering.
    if (m_notifyWindow)
        m_notifyWindow->deleteLater();
    m_notifyWindow = nullptr;
    setLine(TRasLineState::Idle);
    m_lastResult = r;
    if (withEvent)
        fireDisconnect();
    return r;
}

int TRAS::HangUp()
{
    return release(true);
}

int TRAS::HangUpQuietly()
{
    return release(false);
}

int TRAS::UpdateStatus()
{
    if (m_connHandle == 0)
        return 0;
    DialStatus st;
    m_lastResult = DialGetStatus(m_connHandle, st);
    if (m_lastResult == 0) {
        m_deviceName = st.deviceName;
        m_deviceType = st.deviceType;
        m_connState = quint16(st.state);
    }
    m_lastResult = m_lastResult == 0 ? st.error : 0;
    return m_lastResult;
}

int TRAS::EnumEntries()
{
    m_entries.clear();
    QStringList names;
    int r = DialEnumEntries(m_phoneBookPath, names);
    if (r == 0 && names.size() > kMaxEntries)
        r = kDialErrBufferTooSmall;
    m_lastResult = r;
    if (r == 0 || r == kDialErrBufferTooSmall) {
        for (const QString &name : names) {
            if (m_entries.size() == kMaxEntries)
                break;
            if (!name.isEmpty())
                m_entries << name;
        }
    }
    return r;
}

void TRAS::SetPhoneBookPath(const QString &v)
{
    m_phoneBookPath = v;
    EnumEntries();
}

QString TRAS::RasErrorText(int code) const
{
    if (m_connHandle == 0)
        return QString();
    const QString text = DialErrorText(code);
    return text.isEmpty() ? QStringLiteral("Status Unknown") : text;
}

void TRAS::dialEvent(unsigned handle, unsigned state, int error)
{
    // Only the connection held now speaks; a late notification of one that
    // was let go of is dropped.
    if (m_connHandle == 0 || handle != m_connHandle)
        return;
    if (error != 0) {
        dialFailed(error);
        return;
    }
    m_connState = quint16(state);
    if (state == kDialConnected)
        setLine(TRasLineState::Connected);
    if (state == kDialDisconnected) {
        setLine(TRasLineState::Dropped);
        fireDisconnect();
    } else if (auto ev = EventOf(state)) {
        if (auto handler = this->*ev; handler && m_connHandle != 0)
            handler(this);
    }
    UpdateStatus();
}

void TRAS::dialFailed(int error)
{
    // The text first: it is only given while the connection is held.
    const QString text = RasErrorText(error);
    // The service has given up on this dial; holding on to it would leave
    // the line "dialing" until the next dial or hang-up.
    release(false);
    m_lastResult = error;
    if (auto handler = OnDialError)
        handler(this, error, text);
}

void TRAS::fireDisconnect()
{
    auto handler = OnDisconnect;
    if (!handler)
        return;
    DialStatus st;
    const int code = DialGetStatus(m_connHandle, st);
    handler(this, code, RasErrorText(code));
}

// Built with this file rather than with the library's other classes, so that
// a program that never uses them (the headless service) does not link the
// dial-up service and its D-Bus backend.
#include "moc_ras.cpp"
