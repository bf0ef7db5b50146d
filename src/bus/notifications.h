// The desktop's notification server (org.freedesktop.Notifications on the
// session bus): notices with a category, the program's icon and desktop
// entry, one notice taking the place of another, and actions where the
// server offers them.
//
// Every call is asynchronous with a bounded wait, so a missing, slow or
// stuck server never holds up the program: the notice is then reported as
// not taken (id 0), and the caller decides what to do instead.
#pragma once

#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace bus {

// One notice as the program means it.
struct TNotice {
    QString Summary;
    QString Body;                  // plain text; escaped for servers that read markup
    QString Category;              // "network.disconnected", ...; empty = none
    QString Icon;                  // an icon name of the theme, or a file path
    QString DesktopEntry;          // the program's desktop file name without ".desktop"
    uint ReplacesId = 0;           // the notice this one takes the place of; 0 = a new one
    QList<QPair<QString, QString>> Actions;  // key and label; sent only where actions are offered
};

class TNotificationClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kCallTimeoutMs = 3000;
    // A summary or body longer than these is cut: they may carry text from
    // a server the program probed.
    static constexpr int kSummaryMax = 200, kBodyMax = 1000;

    // Notices go out under 'appName'.
    explicit TNotificationClient(const QString &appName, QObject *parent = nullptr);

    // Sends a notice. 'done' is called once, later, from the event loop:
    // with the server's id for the notice, or 0 when no server took it (no
    // bus, no server on it, an error, or no answer within CallTimeoutMs).
    void Show(const TNotice &notice, std::function<void(uint id)> done);

    // The longest wait for each of the server's answers (tests shorten it).
    int CallTimeoutMs = kCallTimeoutMs;

    // The user chose an action of one of our notices.
    std::function<void(uint id, const QString &action)> OnAction;

    // The server's capabilities include the word, as it answered last.
    bool Offered(const QString &capability) const { return capabilities_.contains(capability); }

private slots:
    void actionInvoked(uint id, const QString &action);
    void notificationClosed(uint id, uint reason);

private:
    void sendNotify(const TNotice &notice, std::function<void(uint)> done);
    void remember(uint id);

    QString appName_;
    QStringList capabilities_;
    std::deque<uint> ours_;        // ids of our notices still open, newest last
};

} // namespace bus
