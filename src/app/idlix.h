// The program's main window as it is put together: the shell with every
// feature that is part of the program, and the menu items that reach the
// features. Adding a tool is one class in src/tools and one line here.
#pragma once

#include "platform/lookupservice.h"
#include "platform/resolver.h"

#include <memory>
#include <optional>

class TAntiIdleFeature;
class TDialUpControl;
class TFingerTool;
class TISPTree;
class TLatencyTest;
class TLineNotices;
class TCertNotices;
class TExitRoutes;
class TPreviousInstance;
class THoldForm;
class TMainForm;
class TMetricsEndpoint;
class TMeteredGuard;
class TPingTool;
class TResolveTool;
class TTraceTool;
namespace history {
class THistoryKeeper;
}
namespace historyview {
class THistoryFeature;
}
namespace idletimerview {
class TIdleTimerFeature;
}
namespace service {
class TIntervalFollower;
}
namespace bus {
class TMeteredWatch;
}

class TIdlix {
public:
    // Creates the main window (shown, settings loaded), applies the address
    // family (the setting's, or 'family' when the command line chose one for
    // this run), then creates the features; the hold window, when given, is
    // the one the program ends through, by the exit routes when given; the
    // single-instance guard, when given, brings the window to the front.
    explicit TIdlix(THoldForm *hold = nullptr, std::optional<platform::FamilyChoice> family = {},
                    TExitRoutes *exitRoutes = nullptr, TPreviousInstance *instance = nullptr);
    // Frees the features first, then the window, which saves the settings.
    ~TIdlix();
    TIdlix(const TIdlix &) = delete;
    TIdlix &operator=(const TIdlix &) = delete;

    // The program's name lookups, made first and joined last: every feature's
    // lookups are forgotten before the service's threads are joined.
    platform::TLookupService Lookups;
    platform::TLookupService::TInstall LookupsInstalled{Lookups};
    std::unique_ptr<TMainForm> Form;
    // Children of the window; freed here before it.
    TAntiIdleFeature *AntiIdle = nullptr;
    TLatencyTest *Latency = nullptr;
    TPingTool *PingTool = nullptr;
    TFingerTool *FingerTool = nullptr;
    TTraceTool *TraceTool = nullptr;
    TISPTree *ISPTree = nullptr;
    TResolveTool *ResolveTool = nullptr;
    TDialUpControl *DialUp = nullptr;
    history::THistoryKeeper *History = nullptr;        // the session's history
    historyview::THistoryFeature *HistoryView = nullptr;   // Tools > History...
    idletimerview::TIdleTimerFeature *IdleTimer = nullptr; // Tools > Find Idle Timer...
    service::TIntervalFollower *Intervals = nullptr;   // the session's interval from the idle timers
    // The session's metrics, served while an address is set; freed first.
    std::unique_ptr<TMetricsEndpoint> Metrics;
    // What the user is told about the line: notices of drops and returns,
    // of certificates about to expire, and the keep-alive on metered
    // connections.
    TLineNotices *Notices = nullptr;
    TCertNotices *CertNotices = nullptr;
    TMeteredGuard *Metered = nullptr;
    bus::TMeteredWatch *MeteredWatch = nullptr;

private:
    void WatchTheLine();
    // The finder's verdicts into the history, and the session's interval from them.
    void FollowIdleTimers();
};
