// The errno and resolver mappings, each in one table.
#include "platform/errcodes.h"

#include <cerrno>
#include <netdb.h>

namespace platform {

namespace {

struct ErrnoRow {
    int err;
    int code;
};

// Linux errno -> the socket layer's 10000 + BSD errno numbering. The BSD
// numbers are fixed by the codes the components and their texts speak.
constexpr ErrnoRow kErrnoTable[] = {
    {EINTR, kErrInterrupted},
    {EBADF, kErrBadFd},
    {EACCES, kErrAccess},
    {EPERM, kErrAccess},  // raw sockets without the capability answer EPERM
    {EFAULT, kErrFault},
    {EINVAL, kErrInvalid},
    {EMFILE, kErrTooManyFiles},
    {ENFILE, kErrTooManyFiles},
    {EAGAIN, kErrWouldBlock},
    {EINPROGRESS, kErrInProgress},
    {EALREADY, kErrAlready},
    {ENOTSOCK, kErrNotSocket},
    {EDESTADDRREQ, kErrDestAddrReq},
    {EMSGSIZE, kErrMsgSize},
    {EPROTOTYPE, kErrProtoType},
    {ENOPROTOOPT, kErrNoProtoOpt},
    {EPROTONOSUPPORT, kErrProtoNoSupport},
    {ESOCKTNOSUPPORT, kErrSockTNoSupport},
    {EOPNOTSUPP, kErrOpNotSupp},
    {EPFNOSUPPORT, kErrPfNoSupport},
    {EAFNOSUPPORT, kErrAfNoSupport},
    {EADDRINUSE, kErrAddrInUse},
    {EADDRNOTAVAIL, kErrAddrNotAvail},
    {ENETDOWN, kErrNetDown},
    {ENETUNREACH, kErrNetUnreach},
    {ENETRESET, kErrNetReset},
    {ECONNABORTED, kErrConnAborted},
    {ECONNRESET, kErrConnReset},
    {EPIPE, kErrConnReset},  // writing to a connection the peer has reset
    {ENOBUFS, kErrNoBufs},
    {ENOMEM, kErrNoBufs},
    {EISCONN, kErrIsConn},
    {ENOTCONN, kErrNotConn},
    {ESHUTDOWN, kErrShutdown},
    {ETOOMANYREFS, kErrTooManyRefs},
    {ETIMEDOUT, kErrTimedOut},
    {ECONNREFUSED, kErrConnRefused},
    {ELOOP, kErrLoop},
    {ENAMETOOLONG, kErrNameTooLong},
    {EHOSTDOWN, kErrHostDown},
    {EHOSTUNREACH, kErrHostUnreach},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
};

struct ResolverRow {
    int eai;
    int code;
};

// getaddrinfo/getnameinfo outcomes. EAI_SYSTEM is handled apart: its detail
// is in errno.
constexpr ResolverRow kResolverTable[] = {
    {0, 0},
    {EAI_NONAME, kErrHostNotFound},
    {EAI_AGAIN, kErrTryAgain},
    {EAI_FAIL, kErrNoRecovery},
    {EAI_NODATA, kErrNoData},
    {EAI_ADDRFAMILY, kErrNoData},  // the name exists, but has no IPv4 address
    {EAI_MEMORY, kErrNoBufs},
    {EAI_FAMILY, kErrAfNoSupport},
    {EAI_SOCKTYPE, kErrSockTNoSupport},
    {EAI_BADFLAGS, kErrInvalid},
    {EAI_SERVICE, kErrInvalid},
    {EAI_OVERFLOW, kErrFault},
    {EAI_CANCELED, kErrInterrupted},
};

// The codes 10000..10099 all have a BSD meaning; an errno we do not know must
// not borrow one of them.
constexpr int kNamedFirst = 10000;
constexpr int kNamedLast = 10099;

} // namespace

int ErrnoToCode(int err)
{
    if (err == 0)
        return 0;
    for (const auto &row : kErrnoTable)
        if (row.err == err)
            return row.code;
    const int code = 10000 + err;
    if (err < 0 || (code >= kNamedFirst && code <= kNamedLast))
        return kErrInvalid;
    return code;
}

int ResolverToCode(int eai, int err)
{
    if (eai == EAI_SYSTEM) {
        const int code = ErrnoToCode(err);
        return code ? code : kErrNoRecovery;
    }
    for (const auto &row : kResolverTable)
        if (row.eai == eai)
            return row.code;
    return kErrNoRecovery;
}

} // namespace platform
