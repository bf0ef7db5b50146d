#include "platform/errcodes.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>

using namespace platform;

TEST(ErrCodes, ErrnoByName)
{
    struct Row { int err; int code; } rows[] = {
        {0, 0},
        {EINTR, 10004},
        {EACCES, 10013},
        {EPERM, 10013},
        {EINVAL, 10022},
        {EAGAIN, 10035},
        {EWOULDBLOCK, 10035},
        {EINPROGRESS, 10036},
        {EMSGSIZE, 10040},
        {EADDRINUSE, 10048},
        {ENETUNREACH, 10051},
        {ECONNRESET, 10054},
        {ENOTCONN, 10057},
        {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061},
        {EHOSTDOWN, 10064},
        {EHOSTUNREACH, 10065},
    };
    for (const auto &r : rows)
        EXPECT_EQ(ErrnoToCode(r.err), r.code) << "errno " << r.err;
}

TEST(ErrCodes, UnknownErrnoNeverBorrowsANamedCode)
{
    // EIO is 5 on Linux: 10005 has no socket meaning, so it must not leak out
    // as if it were one; a large errno lands outside the named block as is.
    EXPECT_EQ(ErrnoToCode(EIO), kErrInvalid);
    EXPECT_EQ(ErrnoToCode(ENOKEY), 10000 + ENOKEY);
    EXPECT_EQ(ErrnoToCode(-3), kErrInvalid);
    // Every Linux errno maps to something non-zero.
    for (int e = 1; e < 134; ++e)
        EXPECT_NE(ErrnoToCode(e), 0) << e;
}

TEST(ErrCodes, ResolverOutcomes)
{
    struct Row { int eai; int err; int code; } rows[] = {
        {0, 0, 0},
        {EAI_NONAME, 0, 11001},
        {EAI_AGAIN, 0, 11002},
        {EAI_FAIL, 0, 11003},
        {EAI_NODATA, 0, 11004},
        {EAI_SYSTEM, ECONNREFUSED, 10061},
        {EAI_SYSTEM, ETIMEDOUT, 10060},
        {EAI_SYSTEM, 0, 11003},
        {EAI_MEMORY, 0, 10055},
        {-9999, 0, 11003},
    };
    for (const auto &r : rows)
        EXPECT_EQ(ResolverToCode(r.eai, r.err), r.code) << "eai " << r.eai;
}
