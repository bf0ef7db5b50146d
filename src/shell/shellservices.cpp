// The window's side of IShell: what the features ask of it, and the
// composition's switches for tools that are not part of the program.
#include "shell/mainform.h"

#include "desktop/msgbox.h"
#include "desktop/pictures.h"
#include "desktop/trayservice.h"
#include "shell/hidewindow.h"
#include "shell/holdform.h"
#include "shell/trayicon.h"
#include "widgets/optioncontrols.h"
#include "widgets/textpane.h"
#include "widgets/toolswitch.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QTextEdit>

void TMainForm::SetHistoryInFront(bool front)
{
    if (front) {
        pnl_History->raise();
        return;
    }
    // Behind every other panel but still over the background pictures.
    pnl_History->lower();
    img_Bg2->lower();
    img_Background->lower();
}

void TMainForm::AddHistoryLine(const QString &text)
{
    if (historyWriter_)
        historyWriter_(text);
    else
        AddPaneLine(re_History, TLineStyle::Bulleted, text);
}

void TMainForm::SetHistoryWriter(std::function<void(const QString &)> writer)
{
    historyWriter_ = std::move(writer);
}

void TMainForm::RepaintBackground()
{
    img_Background->repaint();
}

TInfoColumn TMainForm::Info()
{
    return {PingLight, lbl_Method, ModeLBL, GoodLBL, TimeLBL, anm_BV};
}

void TMainForm::AcquireBackdrop()
{
    ++backdropUsers_;
    // Decoded at its first use rather than at the start: it is hidden until now.
    if (img_Bg2->pixmap().isNull())
        img_Bg2->setPixmap(desktop::Picture("backdrop.jpg"));
    img_Bg2->show();
}

void TMainForm::ReleaseBackdrop()
{
    if (backdropUsers_ > 0)
        --backdropUsers_;
    if (backdropUsers_ == 0 && !img_Bg2->isHidden()) {
        img_Bg2->hide();
        img_Background->update();
    }
}

void TMainForm::ShowMessage(const QString &text)
{
    desktop::ShowMessage(text);
}

void TMainForm::ShowWarning(const QString &text)
{
    desktop::ShowWarning(text);
}

void TMainForm::HideWindow()
{
    HideOrMinimize(this);
}

bool TMainForm::ShowTrayMessage(const QString &title, const QString &text)
{
    // The tray icon belongs to the hold window, which outlives this one.
    return hold_ && hold_->TrayIcon1 && hold_->TrayIcon1->Service()->ShowMessage(title, text);
}

TToolSwitch &TMainForm::Switch(TToolId tool)
{
    return *switches_.at(tool);
}

QList<TToolId> TMainForm::RunningTools() const
{
    QList<TToolId> running;
    for (const auto &[tool, sw] : switches_) {
        if (sw->Running())
            running << tool;
    }
    return running;
}

QFrame *TMainForm::Panel(TPanelId panel)
{
    switch (panel) {
    case TPanelId::AIReport: return pnl_AIReport;
    case TPanelId::Servers: return pnl_Servers;
    case TPanelId::Finger: return pnl_Finger;
    case TPanelId::Ping: return pnl_Ping;
    case TPanelId::Trace: return pnl_Trace;
    case TPanelId::ISPTree: return pnl_ISPTree;
    case TPanelId::Resolve: return pnl_Resolve;
    }
    return nullptr;
}

void TMainForm::OpenOptions(TToolId tool)
{
    switch (tool) {
    case TToolId::AntiIdle: img_AIArrowClick(); break;
    case TToolId::Latency: img_LatArrowClick(); break;
    case TToolId::Ping: img_PngArrowClick(); break;
    case TToolId::Trace: img_TrcArrowClick(); break;
    case TToolId::Finger:
    case TToolId::ISPTree:
    case TToolId::Resolve:
        break;   // no options panel
    }
}

QAction *TMainForm::MenuItem(const QString &name) const
{
    return MainMenu1->findChild<QAction *>(name);
}

void TMainForm::DisableUnboundTools()
{
    for (const auto &[tool, sw] : switches_) {
        if (!sw->Bound())
            sw->SetAvailable(false);
    }
}
