#include "antiidle/feature.h"

#include "antiidle/antiidle.h"
#include "antiidle/report.h"
#include "antiidle/serverlist.h"
#include "antiidle/webclient.h"
#include "shell/shellapi.h"

#include <QWidget>

TAntiIdleFeature::TAntiIdleFeature(IShell &shell) : QObject(shell.Window())
{
    setObjectName(QStringLiteral("AntiIdle"));
    Web = new TWebClient(shell, this);
    Servers = new TServerList(shell, *Web, this);
    Report = new TAntiIdleReport(shell, this);
    Session = new TAntiIdle(shell, *Web, *Servers, *Report, this);
}

TAntiIdleFeature::~TAntiIdleFeature()
{
    delete Session;
    delete Report;
    delete Servers;
    delete Web;
}
