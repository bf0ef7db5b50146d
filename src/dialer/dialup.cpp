// The dial-up service's front: picks the backend a phone book names, keeps
// the table of live connections by handle, and knows the error texts.
#include "dialer/dialup_backend.h"

#include <QFileInfo>
#include <QMetaObject>
#include <map>

namespace dialer {

const char kSystemPeersDir[] = "/etc/ppp/peers";

namespace {

enum class Book { Manager, Peers, Simulated, Missing };

// What a phone-book path names; dir receives the directory or file to use.
Book bookOf(const QString &phoneBook, QString &path)
{
    path = phoneBook;
    if (phoneBook.isEmpty()) {
        if (NmAvailable())
            return Book::Manager;
        path = QString::fromLatin1(kSystemPeersDir);
    }
    const QFileInfo info(path);
    if (info.isDir())
        return Book::Peers;
    // Anything else that exists is read as a simulated line's file; the
    // reader refuses a FIFO or a device and says so.
    if (info.exists())
        return Book::Simulated;
    return Book::Missing;
}

// Connections from their start until they are hung up. Only the GUI thread
// touches it. A handle names a line for the whole process, as the system's
// own connections are the machine's: a line outlives the window that dialled
// it, and whoever holds the handle hangs it up, so the table is the
// process's, not an owner's.
std::map<DialHandle, std::unique_ptr<DialLine>> &lines()
{
    static std::map<DialHandle, std::unique_ptr<DialLine>> table;
    return table;
}

DialHandle nextHandle()
{
    static DialHandle last = 0;
    do
        ++last;
    while (last == 0 || lines().count(last));
    return last;
}

// The detail last seen for each code whose text depends on the event (the
// message of a D-Bus error); process-wide as the codes are.
std::map<int, QString> &details()
{
    static std::map<int, QString> table;
    return table;
}

} // namespace

void NoteErrorDetail(int code, const QString &detail)
{
    details()[code] = detail.left(500);
}

DialLine::DialLine(const QString &phoneBook, const QString &entry)
    : phoneBook_(phoneBook), entry_(entry)
{
}

DialLine::~DialLine() = default;

void DialLine::setSink(DialHandle handle, QObject *receiver, DialNotify notify)
{
    handle_ = handle;
    receiver_ = receiver;
    notify_ = std::move(notify);
    // What the backend reported while it started goes out now, in order.
    for (const auto &[state, error] : early_)
        post(state, error);
    early_.clear();
}

void DialLine::post(unsigned state, int error)
{
    if (handle_ == 0) {
        early_.emplace_back(state, error);
        return;
    }
    if (hungUp_ || !receiver_ || !notify_)
        return;
    // Posted rather than called, so a handler never runs inside the backend's
    // own code and may hang up or dial again freely.
    QMetaObject::invokeMethod(
        receiver_.data(),
        [notify = notify_, handle = handle_, state, error] { notify(handle, state, error); },
        Qt::QueuedConnection);
}

void DialLine::reportState(unsigned state)
{
    if (ended_)
        return;
    status_.state = state;
    post(state, 0);
}

void DialLine::reportFailure(int error)
{
    if (ended_)
        return;
    ended_ = true;
    status_.error = error;
    post(status_.state, error);
}

void DialLine::reportDrop(int reason)
{
    if (ended_)
        return;
    ended_ = true;
    status_.state = kDialDisconnected;
    status_.error = reason;
    post(kDialDisconnected, 0);
}

QString StartupPhoneBook()
{
    return qEnvironmentVariable("IDLIX_PHONEBOOK");
}

int DialEnumEntries(const QString &phoneBook, QStringList &names)
{
    names.clear();
    QString path;
    switch (bookOf(phoneBook, path)) {
    case Book::Manager:
        return NmEnumEntries(names);
    case Book::Peers:
        return PppdEnumEntries(path, names);
    case Book::Simulated:
        return SimEnumEntries(path, names);
    case Book::Missing:
        break;
    }
    return kDialErrCannotOpenPhoneBook;
}

int DialStart(const QString &phoneBook, const DialParams &params, QObject *receiver,
              DialNotify notify, DialHandle &handle, QString *notice)
{
    handle = 0;
    if (notice)
        notice->clear();
    QString path;
    const Book book = bookOf(phoneBook, path);
    if (book == Book::Missing)
        return kDialErrCannotOpenPhoneBook;
    for (const auto &[h, line] : lines()) {
        if (line->live() && line->phoneBook() == path && line->entry() == params.entry)
            return kDialErrPortAlreadyOpen;
    }
    std::unique_ptr<DialLine> line;
    int rc = kDialErrUnknown;
    switch (book) {
    case Book::Manager:
        rc = NmStart(params, line);
        break;
    case Book::Peers:
        rc = PppdStart(path, params, line, notice);
        break;
    case Book::Simulated:
        rc = SimStart(path, params, line);
        break;
    case Book::Missing:
        break;
    }
    if (rc != 0 || !line)
        return rc != 0 ? rc : kDialErrUnknown;
    handle = nextHandle();
    line->setSink(handle, receiver, std::move(notify));
    lines().emplace(handle, std::move(line));
    return 0;
}

int DialGetStatus(DialHandle handle, DialStatus &status)
{
    auto it = lines().find(handle);
    if (it == lines().end())
        return kDialErrInvalidHandle;
    status = it->second->status();
    return 0;
}

int DialHangUp(DialHandle handle)
{
    auto it = lines().find(handle);
    if (it == lines().end())
        return kDialErrInvalidHandle;
    // Out of the table first: hanging up may wait in a nested event loop, and
    // a handler running there must find the handle already gone.
    std::unique_ptr<DialLine> line = std::move(it->second);
    lines().erase(it);
    line->hangUp();
    line.release()->deleteLater();
    return 0;
}

void DialNoteTraffic()
{
    SimNoteTraffic();
}

QString DialErrorText(int code)
{
    static const std::map<int, const char *> texts = {
        {kDialErrInvalidHandle, "The connection handle is not valid."},
        {kDialErrPortAlreadyOpen, "The port is already open: the connection is already up."},
        {kDialErrBufferTooSmall, "The phone book holds more entries than can be listed."},
        {kDialErrPortNotFound, "The modem's port could not be opened."},
        {kDialErrCannotOpenPhoneBook, "The phone book cannot be opened."},
        {kDialErrEntryNotFound, "The phone-book entry does not exist."},
        {kDialErrCorruptPhoneBook, "The phone-book entry holds a value that cannot be read."},
        {kDialErrIdleTimeout, "The connection was closed because it was idle."},
        {kDialErrRemoteDisconnection, "The line was dropped by the other end."},
        {kDialErrNoKernelSupport, "This system's kernel has no PPP support."},
        {kDialErrUserDisconnection, "The dialer was stopped by a signal."},
        {kDialErrPortLocked, "The modem's port is in use by another program."},
        {kDialErrUnknown, "The dialer stopped on an unexpected error."},
        {kDialErrPeerNotAuthenticated, "The remote computer did not authenticate itself."},
        {kDialErrConnectTimeLimit, "The connection was closed at its time limit."},
        {kDialErrConnectScript, "The modem did not connect (no answer, busy or no carrier)."},
        {kDialErrPtyCommand, "The entry's pty command could not be run."},
        {kDialErrAuthFailure, "The user name or password was refused."},
        {kDialErrInitScript, "The modem's initialisation script failed."},
        {kDialErrCallback, "The remote computer will call back."},
        {kDialErrDialerMissing, "The dialer program could not be started."},
        {kDialErrNotPermitted, "The dialer needs root rights to run for this user."},
        {kDialErrPeerNotResponding, "The remote computer stopped responding."},
        {kDialErrNegotiation, "The PPP link could not be negotiated."},
        {kDialErrLoopback, "The line is looped back to this computer."},
        {kDialErrOptions, "The phone-book entry has an option the dialer refuses."},
        {kDialErrBusMissing, "The system message bus cannot be reached."},
        {kDialErrManagerGone, "NetworkManager stopped while the line was in use."},
        {kDialErrBusError, "NetworkManager refused the request."},
        {kDialErrActivationFailed, "NetworkManager could not bring the connection up."},
    };
    auto it = texts.find(code);
    if (it == texts.end())
        return QString();
    QString text = QString::fromUtf8(it->second);
    auto d = details().find(code);
    if (d != details().end() && !d->second.isEmpty()) {
        text.chop(1);  // the full stop gives way to the detail
        text += QStringLiteral(": ") + d->second;
    }
    return text;
}

} // namespace dialer
