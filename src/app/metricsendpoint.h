// The desktop program's metrics endpoint: the figures of the window's
// anti-idle session in the same Prometheus form as the headless service,
// served while a metrics address is set (Options > Preferences..., Service).
// Saving a new address moves the endpoint there; clearing it closes it.
#pragma once

#include "service/metrics.h"

#include <QString>

#include <memory>

class IShell;
class TAntiIdleSession;

namespace service {
class TMetricsServer;
}

class TMetricsEndpoint {
public:
    // Watches 'engine' from now on and serves when the options say so.
    TMetricsEndpoint(IShell &shell, TAntiIdleSession &engine);
    ~TMetricsEndpoint();
    TMetricsEndpoint(const TMetricsEndpoint &) = delete;
    TMetricsEndpoint &operator=(const TMetricsEndpoint &) = delete;

    // Follows the address of the options: opens, moves or closes the
    // endpoint; an address that cannot be served is told in a message box.
    void Apply();
    // The endpoint while it serves, else null.
    service::TMetricsServer *Server() const { return server_.get(); }

private:
    IShell &shell_;
    TAntiIdleSession &engine_;
    service::TMetrics metrics_;
    std::unique_ptr<service::TMetricsServer> server_;
    QString address_;   // the address asked for and served now; empty = off
};
