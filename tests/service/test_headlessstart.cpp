// The service's start when the session refuses to: the reason in its log as
// an error, and a failing exit status, with nothing sent. The settings checks
// before it catch the usual cases; this is what holds when one slips past.
#include "config/options.h"
#include "service/headlessservice.h"
#include "service/serviceargs.h"
#include "../support/testutil.h"

#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Everything written to the read end of a pipe so far.
QByteArray Drain(int fd)
{
    QByteArray all;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, int(n));
    return all;
}

} // namespace

TEST(HeadlessStart, ASessionThatCannotStartIsAnErrorAndAFailure)
{
    const struct {
        const char *name;
        const char *host, *frequency;
        const char *reason;
    } cases[] = {
        {"no host", "", "1", "No host to probe"},
        {"a frequency that is no number", "127.0.0.1", "often", "'often' is not a valid integer value"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ScratchDir dir;
        int pipeFds[2];
        ASSERT_EQ(::pipe2(pipeFds, O_NONBLOCK), 0);
        config::TOptions options;
        options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
        options.AntiIdle.Host = QString::fromLatin1(c.host);
        options.AntiIdle.Frequency = QString::fromLatin1(c.frequency);
        {
            const service::TServiceLog log(pipeFds[1], true);
            service::THeadlessService headless(log, options, std::nullopt);
            EXPECT_EQ(headless.Start(), service::kExitFailure);
        }
        const QString written = QString::fromUtf8(Drain(pipeFds[0]));
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        // The journal's priority 3 is an error.
        EXPECT_TRUE(written.contains(QStringLiteral("<3>The session did not start: ") + c.reason))
            << written.toStdString();
        EXPECT_FALSE(written.contains("Sending ")) << written.toStdString();
    }
}
