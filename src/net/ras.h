// TRAS: the dial-up component. Lists the entries of a phone book, dials one
// asynchronously through the platform's dial-up service, turns each progress
// notification into the event of its connection state, and reports the end
// of the connection. Everything runs on the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

using TNotifyEvent = std::function<void(QObject *Sender)>;
using TRasStateEvent = std::function<void(QObject *Sender, int Error, const QString &ErrorString)>;

// Where the line stands, as this component has seen it.
enum class TRasLineState { Idle, Dialing, Connected, Dropped };

class TRAS : public QObject {
    Q_OBJECT
public:
    // The most entries Entries holds.
    static constexpr int kMaxEntries = 20;

    explicit TRAS(QObject *owner = nullptr);
    // Does not hang up: a line that is up stays up while the program runs.
    ~TRAS() override;

    // Starts dialing EntryName (a connection still held is hung up quietly
    // first). Returns 0 when the dial runs, else the code it could not start
    // with (602: the line is already up); the outcome arrives as events:
    // OnConnect, or OnDialError when the dial fails.
    int Dial();
    // Ends the connection, fires OnDisconnect and returns the service's result.
    int HangUp();
    // As HangUp without the event.
    int HangUpQuietly();
    // Refreshes ConnState, DeviceType, DeviceName and LastResult from the
    // connection's status; returns the connection's error code (0 when idle).
    int UpdateStatus();
    // Refills Entries from the phone book (at most kMaxEntries names); 603
    // when the book holds more.
    int EnumEntries();
    // The text of an error code; empty when no connection is held,
    // "Status Unknown" for a code the service has no text for.
    QString RasErrorText(int code) const;

    const QStringList &Entries() const { return m_entries; }
    int LastResult() const { return m_lastResult; }
    quint16 ConnState() const { return m_connState; }
    // The connection being dialed or up; 0 = none.
    unsigned ConnHandle() const { return m_connHandle; }
    TRasLineState LineState() const { return m_line; }
    // A sentence for the user about a limit of the last dial (a password the
    // dialer could not take), empty when there is none.
    QString DialNotice() const { return m_notice; }

    QString EntryName() const { return m_entryName; }
    void SetEntryName(const QString &v) { m_entryName = v; }
    QString PhoneNumber() const { return m_phoneNumber; }
    void SetPhoneNumber(const QString &v) { m_phoneNumber = v; }
    QString PhoneBookPath() const { return m_phoneBookPath; }
    // Stores the path and refills Entries at once.
    void SetPhoneBookPath(const QString &v);
    QString CallbackNumber() const { return m_callbackNumber; }
    void SetCallbackNumber(const QString &v) { m_callbackNumber = v; }
    QString UserName() const { return m_userName; }
    void SetUserName(const QString &v) { m_userName = v; }
    QString Password() const { return m_password; }
    void SetPassword(const QString &v) { m_password = v; }
    // Kept for the settings; nothing redials.
    int RedialAttempts() const { return m_redialAttempts; }
    void SetRedialAttempts(int v) { m_redialAttempts = v; }
    QString Domain() const { return m_domain; }
    void SetDomain(const QString &v) { m_domain = v; }
    QString DeviceType() const { return m_deviceType; }
    QString DeviceName() const { return m_deviceName; }

    TNotifyEvent OnConnect;
    TRasStateEvent OnDisconnect;
    // The dial failed before the line came up (the service's code and its
    // text). The failed connection is let go of first, so the line is idle
    // again and a handler may dial at once.
    TRasStateEvent OnDialError;
    TNotifyEvent OnCallBack, OnAboutToOpenPort, OnPortOpened, OnAboutToConnDev, OnDevConnected,
        OnAllDevsConnected, OnAuthenticate, OnAuthNotify, OnAuthRetry, OnAuthCallBack,
        OnAuthChangePassword, OnAuthProject, OnAuthLinkSpeed, OnAuthAck, OnReAuthenticate,
        OnAuthenticated, OnPrepareforCallback, OnWaitForModemReset, OnInteractiveStarted,
        OnRetryAuth, OnPasswordExpired;

    // The event a connection state fires, or nullptr for a state without one
    // (Disconnected has its own event with the error).
    static TNotifyEvent TRAS::*EventOf(unsigned state);

private:
    int release(bool withEvent);
    void dialEvent(unsigned handle, unsigned state, int error);
    void dialFailed(int error);
    void fireDisconnect();
    void setLine(TRasLineState s) { m_line = s; }

    QString m_entryName, m_phoneNumber, m_phoneBookPath, m_callbackNumber, m_userName,
        m_password, m_domain, m_deviceType, m_deviceName, m_notice;
    int m_redialAttempts = 1;
    QStringList m_entries;
    int m_lastResult = 0;
    unsigned m_connHandle = 0;
    quint16 m_connState = 0;
    TRasLineState m_line = TRasLineState::Idle;
    // Receives the dial's notifications; made by Dial, dropped by HangUp, so
    // notifications of a connection let go of never arrive.
    QPointer<QObject> m_notifyWindow;
};
