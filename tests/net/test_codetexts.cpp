// The texts of the codes against the code that makes them: every IP status
// the ICMP decoders can give has words in the echo engine's and the trace's
// table, every errno and resolver failure the socket layer maps to a code has
// the socket component's words, and the resolver's 11001..11004 read as the
// resolver's in the socket tables and as IP status in the echo tables.
#include "net/codetexts.h"
#include "net/icmp.h"
#include "platform/errcodes.h"
#include "platform/icmpcodec.h"

#include <QSet>
#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>

TEST(CodeTexts, EveryStatusTheDecodersGiveHasBothWordings)
{
    QSet<int> statuses;
    for (int type = 0; type < 256; ++type) {
        for (int code = 0; code < 256; ++code) {
            statuses << platform::icmp::StatusForError(std::uint8_t(type), std::uint8_t(code))
                     << platform::icmp::StatusForErrorV6(std::uint8_t(type), std::uint8_t(code));
        }
    }
    ASSERT_GT(statuses.size(), 8);
    for (int status : statuses) {
        EXPECT_FALSE(EchoStatusText(status).isEmpty()) << status;
        EXPECT_FALSE(IcmpStatusText(status).isEmpty()) << status;
        EXPECT_FALSE(TICMP::ErrorTextFor(status).startsWith("ICMP error #")) << status;
    }
}

TEST(CodeTexts, EveryMappedErrnoAndResolverFailureHasTheSocketWording)
{
    const int errnos[] = {EINTR,      EBADF,        EACCES,      EPERM,        EFAULT,        EINVAL,
                          EMFILE,     ENFILE,       EAGAIN,      EINPROGRESS,  EALREADY,      ENOTSOCK,
                          EDESTADDRREQ, EMSGSIZE,   EPROTOTYPE,  ENOPROTOOPT,  EPROTONOSUPPORT,
                          ESOCKTNOSUPPORT, EOPNOTSUPP, EPFNOSUPPORT, EAFNOSUPPORT, EADDRINUSE,
                          EADDRNOTAVAIL, ENETDOWN,  ENETUNREACH, ENETRESET,    ECONNABORTED,  ECONNRESET,
                          EPIPE,      ENOBUFS,      ENOMEM,      EISCONN,      ENOTCONN,      ESHUTDOWN,
                          ETOOMANYREFS, ETIMEDOUT,  ECONNREFUSED, ELOOP,       ENAMETOOLONG,  EHOSTDOWN,
                          EHOSTUNREACH, ENOTEMPTY,  EUSERS,      EDQUOT,       ESTALE,        EREMOTE};
    for (int e : errnos) {
        const int code = platform::ErrnoToCode(e);
        EXPECT_NE(SocketErrorText(code), "Not a WinSock error") << e << " -> " << code;
    }
    const int failures[] = {EAI_NONAME, EAI_AGAIN,   EAI_FAIL,  EAI_NODATA,   EAI_ADDRFAMILY, EAI_MEMORY,
                            EAI_FAMILY, EAI_SOCKTYPE, EAI_BADFLAGS, EAI_SERVICE, EAI_OVERFLOW, EAI_CANCELED};
    for (int eai : failures) {
        const int code = platform::ResolverToCode(eai, 0);
        EXPECT_NE(SocketErrorText(code), "Not a WinSock error") << eai << " -> " << code;
    }
}

TEST(CodeTexts, TheSameNumberReadsByWhereItCameFrom)
{
    // 11001..11004: the resolver's failures in the socket tables, IP status
    // in the echo tables; never the same words.
    for (int code = platform::kErrHostNotFound; code <= platform::kErrNoData; ++code) {
        SCOPED_TRACE(code);
        const QStringList resolver{SocketErrorText(code), WinsockErrorText(code)};
        const QStringList status{EchoStatusText(code), IcmpStatusText(code)};
        for (const QString &r : resolver) {
            EXPECT_FALSE(r.isEmpty());
            for (const QString &s : status) {
                EXPECT_FALSE(s.isEmpty());
                EXPECT_NE(r, s);
            }
        }
    }
    // Outside every table: the socket component's stock words, the others nothing.
    for (int code : {-1, 1, 9999, 10000, 11100, 12000}) {
        EXPECT_EQ(SocketErrorText(code), "Not a WinSock error") << code;
        EXPECT_TRUE(WinsockErrorText(code).isEmpty()) << code;
        EXPECT_TRUE(EchoStatusText(code).isEmpty()) << code;
        EXPECT_TRUE(IcmpStatusText(code).isEmpty()) << code;
    }
}
