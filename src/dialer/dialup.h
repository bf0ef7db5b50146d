// The dial-up service: phone books, asynchronous dials with progress
// notifications, connection status and hang-up, in the state numbers and
// error codes the dial-up component speaks.
//
// A phone book is named by a path, and what it names picks the backend:
//   - empty: the system's default, NetworkManager's saved connections when
//     org.freedesktop.NetworkManager is on the system bus, else the pppd
//     peers in /etc/ppp/peers;
//   - a directory: pppd peer files, one entry per file;
//   - a file: a simulated line (INI sections, one per entry; see
//     dialup_sim.cpp) for demonstrations and machines without a modem.
//
// Everything runs on the GUI thread. Notifications are posted to a receiver
// object and dropped once it is gone, so a caller that destroys its receiver
// never hears from an old dial again.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace dialer {

// Connection states, in the numbering of the dial-up component's events.
enum : unsigned {
    kDialOpenPort = 0,
    kDialPortOpened = 1,
    kDialConnectDevice = 2,
    kDialDeviceConnected = 3,
    kDialAllDevicesConnected = 4,
    kDialAuthenticate = 5,
    kDialAuthNotify = 6,
    kDialAuthRetry = 7,
    kDialAuthCallback = 8,
    kDialAuthChangePassword = 9,
    kDialAuthProject = 10,
    kDialAuthLinkSpeed = 11,
    kDialAuthAck = 12,
    kDialReAuthenticate = 13,
    kDialAuthenticated = 14,
    kDialPrepareForCallback = 15,
    kDialWaitForModemReset = 16,
    kDialWaitForCallback = 17,
    kDialInteractive = 0x1000,
    kDialRetryAuthentication = 0x1001,
    kDialCallbackSetByCaller = 0x1002,
    kDialPasswordExpired = 0x1003,
    kDialConnected = 0x2000,
    kDialDisconnected = 0x2001,
};

// Error codes of the service (0 = success). The numbers follow the dial-up
// networking numbering that the component's callers know (602 = the line is
// already up, 691 = the user name or password was refused).
enum : int {
    kDialErrInvalidHandle = 6,        // no such connection
    kDialErrPortAlreadyOpen = 602,    // the entry is already dialing or up
    kDialErrBufferTooSmall = 603,     // more entries than the list can hold
    kDialErrPortNotFound = 615,       // pppd: the serial port could not be opened
    kDialErrCannotOpenPhoneBook = 621,
    kDialErrEntryNotFound = 623,
    kDialErrCorruptPhoneBook = 625,   // a value in the phone book cannot be read
    kDialErrIdleTimeout = 628,        // pppd: closed after the idle time
    kDialErrRemoteDisconnection = 629,  // the line was dropped by the other end
    kDialErrNoKernelSupport = 630,    // pppd: the kernel has no PPP
    kDialErrUserDisconnection = 631,  // pppd ended by a signal from elsewhere
    kDialErrPortLocked = 633,         // pppd: the port is locked by another program
    kDialErrUnknown = 635,
    kDialErrConnectTimeLimit = 646,   // pppd: the connect time limit was reached
    kDialErrPeerNotAuthenticated = 645,  // pppd: the peer did not authenticate itself
    kDialErrConnectScript = 651,      // pppd: the connect script failed
    kDialErrPtyCommand = 657,         // pppd: the pty command could not be run
    kDialErrAuthFailure = 691,        // our user name or password was refused
    kDialErrInitScript = 692,         // pppd: the init script failed
    kDialErrCallback = 704,           // pppd: a callback was negotiated
    kDialErrDialerMissing = 711,      // pppd (or NetworkManager) could not be started
    kDialErrNotPermitted = 712,       // pppd: needs root rights
    kDialErrPeerNotResponding = 721,  // pppd: the peer stopped answering echoes
    kDialErrNegotiation = 734,        // pppd: PPP negotiation failed
    kDialErrLoopback = 737,           // pppd: the line is looped back
    kDialErrOptions = 738,            // pppd: an option in the peer file is wrong
    kDialErrBusMissing = 750,         // NetworkManager: the system bus cannot be reached
    kDialErrManagerGone = 751,        // NetworkManager left the bus
    kDialErrBusError = 752,           // NetworkManager refused or failed the request
    kDialErrActivationFailed = 753,   // NetworkManager could not activate the connection
};

// What a dial is given. The password is handed to the dialer through a pipe
// or the bus, never on a command line or into a file.
struct DialParams {
    QString entry;
    QString phoneNumber;     // overrides the entry's number; empty = the entry's
    QString callbackNumber;
    QString userName;
    QString password;
    QString domain;
};

// The status of a connection.
struct DialStatus {
    unsigned state = 0;   // last connection state
    int error = 0;        // why the dial failed or the line ended, 0 = none
    QString deviceType;   // "modem", "pppoe", a NetworkManager device type, ...
    QString deviceName;   // the port or interface
};

using DialHandle = unsigned;

// One progress notification of a dial: the state reached, or with a
// non-zero error the state at which the dial failed.
using DialNotify = std::function<void(DialHandle handle, unsigned state, int error)>;

// The phone book the program starts with: IDLIX_PHONEBOOK when set, else
// empty (the system's default).
QString StartupPhoneBook();

// Fills names with every entry of a phone book, in the book's order.
// Returns 0 or an error code (621 when the book cannot be read).
int DialEnumEntries(const QString &phoneBook, QStringList &names);

// Starts a dial of params.entry. Returns 0 and a non-zero handle, or an error
// code (602 when that entry is already dialing or up, 623 when it is not in
// the book). Progress is posted to receiver's thread as notify calls and
// dropped once receiver is destroyed. notice, when given, receives a sentence
// for the user about a limit of this dial (for example a password the
// entry's dialer cannot take); empty otherwise.
int DialStart(const QString &phoneBook, const DialParams &params, QObject *receiver,
              DialNotify notify, DialHandle &handle, QString *notice = nullptr);

// The status of a connection that has not been hung up: 0 and status filled,
// or 6 (invalid handle). A line that dropped still answers, with the
// Disconnected state and the reason in status.error.
int DialGetStatus(DialHandle handle, DialStatus &status);

// Ends a connection, waits until the dialer has let go of the line (the event
// loop keeps running meanwhile) and forgets the handle. Returns 0, or 6 for
// an unknown handle. No notification of this connection arrives afterwards.
int DialHangUp(DialHandle handle);

// The program sent something over the dial-up line (a keep-alive probe). A
// real line sees the packets themselves; a simulated line with IdleTimeout=
// starts its idle timer again.
void DialNoteTraffic();

// The text of an error code; empty for a code the service does not know.
QString DialErrorText(int code);

} // namespace dialer
