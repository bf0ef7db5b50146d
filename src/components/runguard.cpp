#include "components/runguard.h"

TRunGuard::TTicket TRunGuard::Begin()
{
    // 64 bits do not wrap in any lifetime, so a stale ticket never comes back.
    ++serial_;
    active_ = true;
    return serial_;
}

void TRunGuard::End()
{
    active_ = false;
}
