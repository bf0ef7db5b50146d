// Pretends, for one scope, that a notification area is (or is not) there:
// the offscreen test platform has none, and hiding the window depends on it.
#pragma once

#include "desktop/trayservice.h"

namespace testutil {

class TrayAvailable {
public:
    explicit TrayAvailable(bool available) { desktop::TTrayService::SetAvailableOverride(available ? 1 : 0); }
    ~TrayAvailable() { desktop::TTrayService::SetAvailableOverride(-1); }
    TrayAvailable(const TrayAvailable &) = delete;
    TrayAvailable &operator=(const TrayAvailable &) = delete;
};

} // namespace testutil
