#include "app/idlix.h"

#include "antiidle/feature.h"
#include "antiidle/serverlist.h"
#include "dialup/dialupcontrol.h"
#include "shell/mainform.h"
#include "tools/latency.h"
#include "tools/pingtool.h"

#include <QAction>

TIdlix::TIdlix() : Form(std::make_unique<TMainForm>())
{
    AntiIdle = new TAntiIdleFeature(*Form);
    Latency = new TLatencyTest(*Form);
    PingTool = new TPingTool(*Form);
    // After the anti-idle feature, which "Connect on start" may start.
    DialUp = new TDialUpControl(*Form);

    // Menu items that reach a feature without being its switch.
    TServerList *servers = AntiIdle->Servers;
    QObject::connect(Form->ServerList1, &QAction::triggered, Form.get(),
                     [servers] { servers->ServerList1Click(); });

    // What is not built into the program is shown disabled: the tools no
    // feature has bound (finger, traceroute, ISP tree, resolve).
    Form->DisableUnboundTools();
}

TIdlix::~TIdlix()
{
    delete DialUp;
    delete PingTool;
    delete Latency;
    delete AntiIdle;
    Form.reset();
}
