// The hidden hold window: the program's real main form. It is never shown;
// it owns the tray icon with its pop-up menu, and closing it ends the program.
// The visible main window can be hidden and shown freely meanwhile.
#pragma once

#include <QWidget>

#include <QPointer>

class QAction;
class QMenu;
class TMainForm;
class TTrayIcon;

class THoldForm : public QWidget {
    Q_OBJECT
public:
    explicit THoldForm(QWidget *parent = nullptr);
    ~THoldForm() override;

    // The main window the tray menu shows and hides (handed over by the
    // composition once it is made).
    void SetMainWindow(TMainForm *main);

    TTrayIcon *TrayIcon1 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *ShowIdlix1 = nullptr;   // "Show Idlix" / "Hide Idlix"
    QAction *Help3 = nullptr;
    QAction *About2 = nullptr;
    QAction *Exit2 = nullptr;

    // Puts the icon in the tray. The main window does it once it is on the
    // screen: asking the desktop for its tray takes a round trip or more on
    // the session bus.
    void ShowTrayIcon();
    // Left click on the tray icon: the main window comes back, restored and in front.
    void TrayIcon1Click();
    // Shows or hides the main window.
    void ShowIdlix1Click();
    void Help3Click();
    void About2Click();
    // Closes this window, which ends the program.
    void Exit2Click();
    // The window has started closing: the program is on its way out, and an
    // application quit request is its own.
    bool Closing() const { return closing_; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();

    QPointer<TMainForm> main_;
    bool closing_ = false;
};
