// The numeric error codes the components speak: 10000 + the BSD errno number
// for socket errors and 11001..11004 for resolver failures. Linux numbers its
// errno values differently, so the mapping is by name, in one table.
#pragma once

#include <string>

namespace platform {

enum : int {
    kErrInterrupted = 10004,      // EINTR, also "cancelled"
    kErrBadFd = 10009,            // EBADF
    kErrAccess = 10013,           // EACCES
    kErrFault = 10014,            // EFAULT
    kErrInvalid = 10022,          // EINVAL
    kErrTooManyFiles = 10024,     // EMFILE
    kErrWouldBlock = 10035,       // EAGAIN / EWOULDBLOCK
    kErrInProgress = 10036,       // EINPROGRESS
    kErrAlready = 10037,          // EALREADY
    kErrNotSocket = 10038,        // ENOTSOCK
    kErrDestAddrReq = 10039,      // EDESTADDRREQ
    kErrMsgSize = 10040,          // EMSGSIZE
    kErrProtoType = 10041,        // EPROTOTYPE
    kErrNoProtoOpt = 10042,       // ENOPROTOOPT
    kErrProtoNoSupport = 10043,   // EPROTONOSUPPORT
    kErrSockTNoSupport = 10044,   // ESOCKTNOSUPPORT
    kErrOpNotSupp = 10045,        // EOPNOTSUPP
    kErrPfNoSupport = 10046,      // EPFNOSUPPORT
    kErrAfNoSupport = 10047,      // EAFNOSUPPORT
    kErrAddrInUse = 10048,        // EADDRINUSE
    kErrAddrNotAvail = 10049,     // EADDRNOTAVAIL
    kErrNetDown = 10050,          // ENETDOWN
    kErrNetUnreach = 10051,       // ENETUNREACH
    kErrNetReset = 10052,         // ENETRESET
    kErrConnAborted = 10053,      // ECONNABORTED
    kErrConnReset = 10054,        // ECONNRESET
    kErrNoBufs = 10055,           // ENOBUFS
    kErrIsConn = 10056,           // EISCONN
    kErrNotConn = 10057,          // ENOTCONN
    kErrShutdown = 10058,         // ESHUTDOWN
    kErrTooManyRefs = 10059,      // ETOOMANYREFS
    kErrTimedOut = 10060,         // ETIMEDOUT
    kErrConnRefused = 10061,      // ECONNREFUSED
    kErrLoop = 10062,             // ELOOP
    kErrNameTooLong = 10063,      // ENAMETOOLONG
    kErrHostDown = 10064,         // EHOSTDOWN
    kErrHostUnreach = 10065,      // EHOSTUNREACH
    kErrHostNotFound = 11001,     // resolver: host not found (EAI_NONAME)
    kErrTryAgain = 11002,         // resolver: temporary failure (EAI_AGAIN)
    kErrNoRecovery = 11003,       // resolver: non-recoverable (EAI_FAIL)
    kErrNoData = 11004,           // resolver: name without an address (EAI_NODATA)
};

// Socket-layer code for a Linux errno value; unknown values map to 10000 + errno
// only when that lands outside the named range, else to kErrInvalid.
int ErrnoToCode(int err);
// Socket-layer code for a getaddrinfo/getnameinfo result (EAI_*); EAI_SYSTEM
// takes the errno that goes with it.
int ResolverToCode(int eai, int err);

} // namespace platform
