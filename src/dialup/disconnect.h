// The auto-disconnect countdown: a small always-on-top dialog that warns that
// the line is about to be cut and counts 30 seconds down. Staying silent
// agrees to the disconnect; "DO NOT DISCONNECT" refuses it.
#pragma once

#include <QDialog>

class QLabel;
class QTimer;
class TPictureButton;

class Tfrm_Disc : public QDialog {
    Q_OBJECT
public:
    // Seconds the dialog waits for an answer.
    static constexpr int CountdownStart = 30;

    // tickMs: length of one countdown second (1000; shorter only in tests).
    explicit Tfrm_Disc(QWidget *parent = nullptr, int tickMs = 1000);
    ~Tfrm_Disc() override;

    QLabel *Label1 = nullptr;           // the warning sentence
    QLabel *Label2 = nullptr;           // "N seconds" left
    TPictureButton *btn_No = nullptr;   // refuse: keep the line up
    QLabel *Label3 = nullptr;           // "DO NOT DISCONNECT" (not clickable)
    TPictureButton *btn_Yes = nullptr;  // agree: disconnect now
    QLabel *Label4 = nullptr;           // "Ok, Disconnect" (clicks as btn_Yes)
    QTimer *Timer1 = nullptr;           // one tick per countdown second, runs from creation
    int Countdown = CountdownStart;     // ticks left until the dialog decides by itself

    // The answer: true once the user agreed or the countdown ran out. A
    // dialog closed any other way (its close box, Escape) answers false, so
    // closing a warning never cuts the line.
    bool DisconnectWanted() const { return disconnectWanted_; }

    void Timer1Timer();
    void btn_YesClick();
    void btn_NoClick();

    // Ends the dialog and its countdown.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void finish(bool disconnect);
    bool disconnectWanted_ = false;
    bool beeped_ = false;
};

// Shows a countdown dialog modally (the event loop, and with it every timer
// of the program, runs meanwhile) and returns its answer.
bool AskToDisconnect(QWidget *parent, int tickMs = 1000);
