// The latency test: one echo to one host every LatTimer interval until the
// user switches it off, each round trip plotted on img_LatGraph over the
// graph background on img_AIGraph, each outcome on the status line.
//
// An echo blocks the GUI thread and its handlers let pending events run, so
// timer ticks (and clicks on the switch) can arrive while an echo is in
// flight. Ticks that fall due then are skipped: one echo at a time. An echo
// that completes after the test was switched off, or after it was switched
// off and on again, no longer reports.
#include "app/mainform.h"

#include "app/animate.h"
#include "app/picturebutton.h"
#include "net/ping.h"
#include "platform/msgbox.h"
#include "tools/pingtool.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include <climits>
#include <exception>

void TMainForm::btn_LatencyClick()
{
    // The test and an anti-idle session share the graph: never both.
    if (!img_AIGreen->isHidden())
        return;

    if (img_LatRed->isHidden()) {
        // Running: switch off.
        LatTimer->stop();
        btn_Latency->SetImageIndex(0);
        img_LatRed->show();
        img_LatGreen->hide();
        LatencyTest1->setEnabled(true);
        AntiIdle1->setEnabled(true);
        Latency1->setEnabled(true);
        anm_BV->Play();
        anm_BV->show();
        img_LatArrow->show();
        img_AIGraph->clear();
        img_LatGraph->clear();
        img_AIGraph->hide();
        img_LatGraph->hide();
        img_Background->repaint();
        SetStatus(QStringLiteral("Status:"));
        return;
    }

    // Off: without a host, open the options so one can be entered.
    if (edt_LatHost->text().isEmpty()) {
        img_LatArrowClick();
        return;
    }

    img_LatGreen->show();
    btn_Latency->SetImageIndex(1);
    img_LatRed->hide();
    anm_BV->Stop();
    anm_BV->hide();
    img_LatArrow->hide();
    img_AIGraph->show();
    LatencyTest1->setEnabled(false);
    AntiIdle1->setEnabled(false);
    Latency1->setEnabled(false);
    img_Background->repaint();

    ClearResponseHistory();
    DrawGraph();   // background on img_AIGraph, the flat line on img_LatGraph
    img_LatGraph->show();

    ++LatRun;
    LatHost = edt_LatHost->text();
    Ping4->SetTimeout(se_LatTO->value() * 1000);
    LatTimer->setInterval(se_LatInterval->value());
    // The timer starts when the lookup has found the host.
    try {
        Ping4->DnsLookup(LatHost);
    } catch (const std::exception &e) {
        platform::ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TMainForm::Ping4DnsLookupDone(QObject *Sender, quint16 Error)
{
    // A lookup that ends after the test was switched off has no one to tell.
    const int run = LatRun;
    if (img_LatGreen->isHidden())
        return;
    QCoreApplication::processEvents();
    if (img_LatGreen->isHidden() || run != LatRun)
        return;

    if (Error != 0) {
        // The test stays on without a timer until the user switches it off.
        SetStatus(QStringLiteral("Status: Unknown Host ") + LatHost);
    } else {
        SetStatus(QStringLiteral("Status: Lookup complete: ") + LatHost + QStringLiteral(" (") +
                  Ping4->DnsResult() + QStringLiteral(")"));
        Ping4->SetAddress(Ping4->DnsResult());
        LatTimer->start();
    }
    QCoreApplication::processEvents();
}

void TMainForm::LatTimerTimer()
{
    if (img_LatGreen->isHidden() || LatEchoActive)
        return;

    LatEchoActive = true;
    LatEchoRun = LatRun;
    LatReplySeen = false;
    struct Release {
        bool &flag;
        ~Release() { flag = false; }
    } release{LatEchoActive};

    try {
        Ping4->Ping();
    } catch (const std::exception &e) {
        // Stop ticking, or every tick would raise the same error again; the
        // test stays on until the user switches it off.
        LatTimer->stop();
        platform::ShowMessage(QString::fromUtf8(e.what()));
        return;
    }
    // An echo refused before it was sent (an address the engine cannot use)
    // fires no reply event; report it as the failure it is.
    if (!LatReplySeen)
        Ping4EchoReply(Ping4.get(), 0);
}

void TMainForm::Ping4EchoRequest(QObject *Sender)
{
    QCoreApplication::processEvents();
    if (img_LatGreen->isHidden() || LatEchoRun != LatRun)
        return;
    SetStatus(QStringLiteral("Status: Sending %1 bytes to %2").arg(Ping4->Size()).arg(LatHost),
              true);
}

void TMainForm::Ping4EchoReply(QObject *Sender, int Error)
{
    LatReplySeen = true;
    QCoreApplication::processEvents();
    if (img_LatGreen->isHidden() || LatEchoRun != LatRun)
        return;

    if (Error != 0) {
        const quint32 rtt = Ping4->Reply().RoundTripTime;
        SetStatus(QStringLiteral("Status: %1 successfully pinged in %2 msecs").arg(LatHost).arg(rtt),
                  true);
        PushResponse(rtt > quint32(INT_MAX) ? INT_MAX : int(rtt));
        img_LatGraph->clear();
        img_AIGraph->repaint();
        try {
            DrawResponseLine(img_LatGraph);
        } catch (...) {
            // A graph that cannot be drawn this time is left empty.
        }
    } else {
        SetStatus(QStringLiteral("Status: Error pinging ") + LatHost + QStringLiteral(" : ") +
                      Ping4->ErrorText(),
                  true);
        tools::ExplainIcmpAccess(*Ping4);
    }
    QCoreApplication::processEvents();
}
