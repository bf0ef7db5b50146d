#include "antiidle/antiidlefeature.h"

#include "antiidle/antiidle.h"
#include "antiidle/antiidlereport.h"
#include "antiidle/serverlist.h"
#include "session/antiidlesession.h"
#include "shell/shellapi.h"

#include <QWidget>

TAntiIdleFeature::TAntiIdleFeature(IShell &shell) : QObject(shell.Window())
{
    setObjectName(QStringLiteral("AntiIdle"));
    Report = new TAntiIdleReport(shell, this);
    Session = new TAntiIdle(shell, *Report, this);
    Servers = new TServerList(shell, Session->Engine->Servers(), Session->Engine->Web(), this);
}

TAntiIdleFeature::~TAntiIdleFeature()
{
    delete Servers;
    delete Session;
    delete Report;
}

TAntiIdleSession &TAntiIdleFeature::Engine() const
{
    return *Session->Engine;
}
