// The notification-area icon over QSystemTrayIcon. On a desktop without a
// tray, adding the icon simply fails and nothing is reported.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>

class QSystemTrayIcon;

namespace desktop {

class TTrayService : public QObject {
    Q_OBJECT
public:
    explicit TTrayService(QObject *parent = nullptr);
    ~TTrayService() override;  // removes the icon

    // True when the desktop offers a notification area.
    static bool Available();
    // Replaces the desktop's answer for Available() in the services in use
    // (platform/services.h): 1 available, 0 not, -1 asks the desktop again.
    // For tests, where the offscreen platform never has a tray.
    static void SetAvailableOverride(int available);

    // Shows the icon with its tip; false when there is no tray.
    bool Add(const QIcon &icon, const QString &tip);
    // Removes the icon (nothing when it is not shown).
    void Remove();
    // Updates icon and tip of a shown icon.
    void Modify(const QIcon &icon, const QString &tip);
    // True while the icon is in the tray.
    bool Shown() const { return shown_; }
    // A balloon message from the icon, in plain text; false when the icon
    // is not in a tray that shows messages.
    bool ShowMessage(const QString &title, const QString &text);

    // Mouse events on the icon; the right click carries the cursor position.
    std::function<void()> OnLeftClick;
    std::function<void()> OnDoubleClick;
    std::function<void(QPoint)> OnRightClick;

    // Routes one activation of the icon (a QSystemTrayIcon::ActivationReason
    // value) to the handlers above.
    void Activated(int reason);

private:
    QSystemTrayIcon *icon_ = nullptr;
    bool shown_ = false;
};

} // namespace desktop
