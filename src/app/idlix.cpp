#include "app/idlix.h"

#include "antiidle/feature.h"
#include "antiidle/serverlist.h"
#include "dialup/dialupcontrol.h"
#include "platform/startuptrace.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "tools/fingertool.h"
#include "tools/isptree.h"
#include "tools/latency.h"
#include "tools/pingtool.h"
#include "tools/resolvetool.h"
#include "tools/tracetool.h"

#include <QAction>

TIdlix::TIdlix() : Form(std::make_unique<TMainForm>())
{
    // The window is on the screen (it painted before its constructor
    // returned), and the user's input waits until the loop runs: nothing
    // built from here on changes what it shows (the features fill hidden
    // panels and bind the switches), and all of it is in place before the
    // first click. The tray icon first, as the hold window would have had it.
    if (HoldForm)
        HoldForm->ShowTrayIcon();
    AntiIdle = new TAntiIdleFeature(*Form);
    Latency = new TLatencyTest(*Form);
    PingTool = new TPingTool(*Form);
    FingerTool = new TFingerTool(*Form);
    TraceTool = new TTraceTool(*Form);
    ISPTree = new TISPTree(*Form);
    ResolveTool = new TResolveTool(*Form);
    // Last: "Connect on start" may start the anti-idle session, and the
    // auto-disconnect switches the tools off.
    DialUp = new TDialUpControl(*Form);

    // Menu items that reach a feature without being its switch.
    TServerList *servers = AntiIdle->Servers;
    QObject::connect(Form->ServerList1, &QAction::triggered, Form.get(),
                     [servers] { servers->ServerList1Click(); });

    // What is not built into the program is shown disabled: the tools no
    // feature has bound.
    Form->DisableUnboundTools();
    platform::StartupMark("features");
}

TIdlix::~TIdlix()
{
    delete DialUp;
    delete TraceTool;
    delete FingerTool;
    delete ResolveTool;
    delete ISPTree;
    delete PingTool;
    delete Latency;
    delete AntiIdle;
    Form.reset();
}
