#include "net/codetexts.h"

#include "platform/errcodes.h"
#include "platform/ipstatus.h"

using namespace platform;

namespace {

// One code and the two components' words for it; nullptr where a component
// has none.
struct TWordings {
    int Code;
    const char *First;
    const char *Second;
};

// IP status: the echo engine's words, then the trace's.
constexpr TWordings kIpStatus[] = {
    {kIpSuccess, "No error", "Success"},
    {kIpBufTooSmall, "Buffer too small", "Buffer too small"},
    {kIpDestNetUnreachable, "Destination network unreachable", "Destination net unreachable"},
    {kIpDestHostUnreachable, "Destination host unreachable", "Destination host unreachable"},
    {kIpDestProtUnreachable, "Destination protocol unreachable", "Destination protocol unreachable"},
    {kIpDestPortUnreachable, "Destination port unreachable", "Destination port unreachable"},
    {kIpNoResources, "No resources", "No resources"},
    {kIpBadOption, "Bad option", "Bad Option"},
    {kIpHwError, "Hardware error", "Hardware Error"},
    {kIpPacketTooBig, "Packet too big", "Packet too big"},
    {kIpReqTimedOut, "Request timed out", "Request timed out"},
    {kIpBadReq, "Bad request", "Bad request"},
    {kIpBadRoute, "Bad route", "Bad route"},
    {kIpTtlExpiredTransit, "TTL expired in transit", "TTL expired in transit"},
    {kIpTtlExpiredReassem, "TTL expired in reassembly", "TTL expired in reassembly"},
    {kIpParamProblem, "Parameter problem", "Parameter problem"},
    {kIpSourceQuench, "Source quench", "Source quench"},
    {kIpOptionTooBig, "Option too big", "Option too big"},
    {kIpBadDestination, "Bad Destination", "Bad destination"},
    {11019, "Address deleted", "Address deleted"},
    {11020, "Spec MTU change", "Spec MTU change"},
    {11021, "MTU change", "MTU change"},
    {11022, nullptr, "Unload"},
    {kIpGeneralFailure, "General failure", "General failure"},
    {11255, "Pending", nullptr},
};

// Socket-layer and resolver codes: the socket component's words, then the
// trace's.
constexpr TWordings kSocketErrors[] = {
    {0, "No Error", nullptr},
    {kErrInterrupted, "Interrupted system call", "Blocking call cancelled"},
    {kErrBadFd, "Bad file number", nullptr},
    {kErrAccess, "Permission denied", nullptr},
    {kErrFault, "Bad address", nullptr},
    {kErrInvalid, "Invalid argument", "App version not supported by DLL"},
    {kErrTooManyFiles, "Too many open files", "No file descriptors available"},
    {kErrWouldBlock, "Operation would block", "Socket marked as non-blocking and SO_LINGER set not 0"},
    {kErrInProgress, "Operation now in progress", "Blocking operation in progress"},
    {kErrAlready, "Operation already in progress", nullptr},
    {kErrNotSocket, "Socket operation on non-socket", "Descriptor is not a socket"},
    {kErrDestAddrReq, "Destination address required", nullptr},
    {kErrMsgSize, "Message too long", nullptr},
    {kErrProtoType, "Protocol wrong type for socket", "Protocol wrong type for this socket"},
    {kErrNoProtoOpt, "Protocol not available", nullptr},
    {kErrProtoNoSupport, "Protocol not supported", "Specified protocol not supported"},
    {kErrSockTNoSupport, "Socket type not supported", "Socket type not supported for address family"},
    {kErrOpNotSupp, "Operation not supported on socket", nullptr},
    {kErrPfNoSupport, "Protocol family not supported", nullptr},
    {kErrAfNoSupport, "Address family not supported by protocol family", "Address family not supported"},
    {kErrAddrInUse, "Address already in use", "Address already in use"},
    {kErrAddrNotAvail, "Address not available", "Address not available"},
    {kErrNetDown, "Network is down", "Network subsystem failed"},
    {kErrNetUnreach, "Network is unreachable", "Network unreachable"},
    {kErrNetReset, "Network dropped connection on reset", nullptr},
    {kErrConnAborted, "Connection aborted", "Connection aborted"},
    {kErrConnReset, "Connection reset by peer", "Connection reset"},
    {kErrNoBufs, "No buffer space available", "No buffer space available"},
    {kErrIsConn, "Socket is already connected", nullptr},
    {kErrNotConn, "Socket is not connected", "Not connected"},
    {kErrShutdown, "Can't send after socket shutdown", nullptr},
    {kErrTooManyRefs, "Too many references: can't splice", nullptr},
    {kErrTimedOut, "Connection timed out", "Connection timed out"},
    {kErrConnRefused, "Connection refused", "Connection refused"},
    {kErrLoop, "Too many levels of symbolic links", nullptr},
    {kErrNameTooLong, "File name too long", nullptr},
    {kErrHostDown, "Host is down", "Host down"},
    {kErrHostUnreach, "No route to host", "Host unreachable"},
    {10066, "Directory not empty", nullptr},
    {10067, "Too many processes", nullptr},
    {10068, "Too many users", nullptr},
    {10069, "Disc quota exceeded", nullptr},
    {10070, "Stale NFS file handle", nullptr},
    {10071, "Too many levels of remote in path", nullptr},
    {10091, "Network sub-system is unusable", "WinSock not present or not responding"},
    {10092, "WinSock DLL cannot support this application", "Version of WinSock not supported"},
    {10093, "WinSock not initialized", "WSA Startup not initialized"},
    {kErrHostNotFound, "Host not found", "Authoritative Host not found"},
    {kErrTryAgain, "Non-authoritative host not found", "Non-authoritative Host not found or server failure"},
    {kErrNoRecovery, "Non-recoverable error", "Non-recoverable: refused or not implemented"},
    {kErrNoData, "No Data", "Valid name, no data record for type"},
};

// Which of a row's two wordings is asked for.
enum class TColumn { First, Second };

template <std::size_t N>
const char *Find(const TWordings (&rows)[N], int code, TColumn column)
{
    for (const TWordings &r : rows) {
        if (r.Code == code)
            return column == TColumn::First ? r.First : r.Second;
    }
    return nullptr;
}

QString Text(const char *text)
{
    return text ? QString::fromLatin1(text) : QString();
}

} // namespace

QString EchoStatusText(int code)
{
    return Text(Find(kIpStatus, code, TColumn::First));
}

QString IcmpStatusText(int code)
{
    return Text(Find(kIpStatus, code, TColumn::Second));
}

QString SocketErrorText(int code)
{
    const char *text = Find(kSocketErrors, code, TColumn::First);
    return QString::fromLatin1(text ? text : "Not a WinSock error");
}

QString WinsockErrorText(int code)
{
    return Text(Find(kSocketErrors, code, TColumn::Second));
}
