// The anti-idle feature as the program creates it: the report panel, the
// session with its view, and the server list panel that edits the session's
// list and downloads through its web client.
#pragma once

#include <QObject>

class IShell;
class TAntiIdle;
class TAntiIdleReport;
class TAntiIdleSession;
class TServerList;

class TAntiIdleFeature : public QObject {
    Q_OBJECT
public:
    // The parts are children of this object, which is a child of the window.
    explicit TAntiIdleFeature(IShell &shell);
    // Frees the server list panel first and the report last.
    ~TAntiIdleFeature() override;

    TAntiIdleReport *Report = nullptr;
    TAntiIdle *Session = nullptr;     // the view, with the engine as its child
    TServerList *Servers = nullptr;

    // The session engine.
    TAntiIdleSession &Engine() const;
};
