// The program's icon in the notification area, with its tip, pop-up menu and
// mouse events.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

class QMenu;
namespace desktop {
class TTrayService;
}

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    // Mouse event: button, modifier keys held, cursor position on the screen.
    using TMouseEvent = std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)>;

    explicit TTrayIcon(QObject *parent = nullptr);
    ~TTrayIcon() override;  // removes an active icon

    // Whether the icon should be in the tray; a refused add is not reported.
    bool Active() const { return active_; }
    void SetActive(bool on);
    const QIcon &Icon() const { return icon_; }
    void SetIcon(const QIcon &icon);
    // The tip; only its first 62 characters are kept.
    const QString &ToolTip() const { return tip_; }
    void SetToolTip(const QString &tip);

    QMenu *PopupMenu = nullptr;  // shown on a right click
    TMouseEvent OnClick;         // left button released
    TMouseEvent OnDblClick;      // left button double-clicked
    TMouseEvent OnRightClick;    // right button released, after the menu

    // The longest tip kept.
    static constexpr int kMaxTip = 62;

    // The tray service underneath (balloon messages, and tests that deliver clicks).
    desktop::TTrayService *Service() const { return service_; }

private:
    void update();
    void rightClick(QPoint at);

    desktop::TTrayService *service_;
    QIcon icon_;
    QString tip_;
    bool active_ = false;
};
