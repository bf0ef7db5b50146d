// The IP status codes of an echo: what the echo service leaves for the
// caller and what the ICMP decoders map the network's answers onto.
#pragma once

namespace platform {

enum : int {
    kIpSuccess = 0,
    kIpBufTooSmall = 11001,
    kIpDestNetUnreachable = 11002,
    kIpDestHostUnreachable = 11003,
    kIpDestProtUnreachable = 11004,
    kIpDestPortUnreachable = 11005,
    kIpNoResources = 11006,
    kIpBadOption = 11007,
    kIpHwError = 11008,
    kIpPacketTooBig = 11009,
    kIpReqTimedOut = 11010,
    kIpBadReq = 11011,
    kIpBadRoute = 11012,
    kIpTtlExpiredTransit = 11013,
    kIpTtlExpiredReassem = 11014,
    kIpParamProblem = 11015,
    kIpSourceQuench = 11016,
    kIpOptionTooBig = 11017,
    kIpBadDestination = 11018,
    kIpGeneralFailure = 11050,
};

} // namespace platform
