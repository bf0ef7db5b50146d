// Inside the dial-up service: what every backend provides, and the pure
// pieces that the tests check on their own. Only the service's own files and
// its tests include this header; everything else uses dialup.h.
#pragma once

#include "dialer/dialup.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <vector>

namespace dialer {

// One dial, from its start until it is hung up.
class DialLine : public QObject {
public:
    DialLine(const QString &phoneBook, const QString &entry);
    ~DialLine() override;

    // Where progress goes; set once, right after the backend made the line.
    void setSink(DialHandle handle, QObject *receiver, DialNotify notify);
    // The connection's status as the backend last saw it.
    virtual DialStatus status() const { return status_; }
    // Ends the dial or the connection and waits until the line is released.
    // No notification is posted after it returns.
    virtual void hangUp() = 0;
    // True while the line is dialing or up (a second dial of the entry is
    // then refused with 602).
    bool live() const { return !ended_ && !hungUp_; }
    const QString &phoneBook() const { return phoneBook_; }
    const QString &entry() const { return entry_; }

protected:
    // Records a state reached and posts it.
    void reportState(unsigned state);
    // Records a failure at the current state and posts it; the line is over.
    void reportFailure(int error);
    // The line dropped after it was up: the reason goes into the status and
    // the Disconnected state is posted.
    void reportDrop(int reason);
    void markHungUp() { hungUp_ = true; }

    DialStatus status_;

private:
    void post(unsigned state, int error);

    QString phoneBook_, entry_;
    DialHandle handle_ = 0;
    QPointer<QObject> receiver_;
    DialNotify notify_;
    std::vector<std::pair<unsigned, int>> early_;  // reported before setSink
    bool ended_ = false;
    bool hungUp_ = false;
};

// The backends' starts: each returns 0 and the new line, or an error code.
int PppdEnumEntries(const QString &dir, QStringList &names);
int PppdStart(const QString &dir, const DialParams &params, std::unique_ptr<DialLine> &line,
              QString *notice);
int SimEnumEntries(const QString &file, QStringList &names);
int SimStart(const QString &file, const DialParams &params, std::unique_ptr<DialLine> &line);
void SimNoteTraffic();
// NetworkManager: available() tells whether it is on the system bus.
bool NmAvailable();
int NmEnumEntries(QStringList &names);
int NmStart(const DialParams &params, std::unique_ptr<DialLine> &line);

// Remembers the detail (a D-Bus error's message) that the text of code
// carries from now on, at most 500 characters.
void NoteErrorDetail(int code, const QString &detail);

// The directory of the system's pppd peer files.
extern const char kSystemPeersDir[];

// ---- pppd, pure parts ----

// pppd's arguments for a dial. systemDir: the phone book is the system's
// peers directory (so the entry is named with "call"); pluginInPeerFile: the
// peer file already loads passwordfd.so; mayLoadPlugin: this process may
// name a plugin on the command line (root). passwordFd is the descriptor
// pppd reads the password from, or -1 when no password is handed over.
QStringList PppdArguments(const QString &dir, bool systemDir, const QString &entry,
                          const QString &userName, int passwordFd, bool pluginInPeerFile,
                          bool mayLoadPlugin);

// What one line of pppd's output tells: the state it shows was reached, the
// device it names, or nothing.
struct PppdLineInfo {
    std::optional<unsigned> state;
    QString deviceName;  // the port or interface the line names, if any
    QString deviceType;  // "modem" for a serial port, "pppoe" for an interface
};
PppdLineInfo PppdParseLine(const QByteArray &line);

// The error code for an exit status of pppd (pppd(8): 0 to 19).
int PppdExitError(int exitStatus);

// ---- simulated line, pure parts ----

// One entry of a simulated phone book.
struct SimEntry {
    std::vector<unsigned> steps{kDialOpenPort, kDialPortOpened, kDialConnectDevice,
                                kDialDeviceConnected, kDialAllDevicesConnected,
                                kDialAuthenticate, kDialAuthenticated, kDialConnected};
    int stepMs = 300;
    int dialResult = 0;
    std::optional<unsigned> failAt;
    int failCode = kDialErrAuthFailure;
    QString user, password;  // required credentials; empty = any
    int dropAfter = 0;       // seconds after Connected, 0 = stays up
    int idleTimeout = 0;     // seconds without DialNoteTraffic() until it drops, 0 = never
    QString deviceType = QStringLiteral("modem");
    QString deviceName = QStringLiteral("Simulated modem");
};

// Reads entry's section; returns 0, 623 when missing or 625 when a value
// cannot be read.
int SimParseEntry(const QByteArray &text, const QString &entry, SimEntry &out);

} // namespace dialer
