// The anti-idle feature as the program creates it: the web client, the
// server list panel, the report panel and the session that uses all three.
#pragma once

#include <QObject>

class IShell;
class TAntiIdle;
class TAntiIdleReport;
class TServerList;
class TWebClient;

class TAntiIdleFeature : public QObject {
    Q_OBJECT
public:
    // The parts are children of this object, which is a child of the window.
    explicit TAntiIdleFeature(IShell &shell);
    // Frees the session first and the client it uses last.
    ~TAntiIdleFeature() override;

    TWebClient *Web = nullptr;
    TServerList *Servers = nullptr;
    TAntiIdleReport *Report = nullptr;
    TAntiIdle *Session = nullptr;
};
