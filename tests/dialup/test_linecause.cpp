// Why the line ended, in words: the words for the dial-up service's codes,
// and the control telling them when a line that was up ends on the
// simulated line (dropped by the line, hung up here), and nothing when there
// was no line to end.
#include "dialtest.h"
#include "dialup/linecause.h"
#include "dialer/dialup.h"

#include <QAction>

using namespace std::chrono_literals;
using dialtest::Window;

TEST(LineCause, WordsForTheServiceCodes)
{
    using namespace dialer;
    const std::pair<int, const char *> cases[] = {
        // A line dropped by the other end: pppd's modem hang-up, the simulated
        // line's DropAfter, NetworkManager's device-disconnected.
        {kDialErrRemoteDisconnection, "the modem hung up"},
        {kDialErrAuthFailure, "authentication failed"},
        {kDialErrIdleTimeout, "the line was idle too long"},
        {kDialErrConnectTimeLimit, "the connect time limit was reached"},
        {kDialErrPeerNotResponding, "the provider stopped answering"},
        {kDialErrUserDisconnection, "it was disconnected outside Idlix"},
        {kDialErrManagerGone, "NetworkManager stopped"},
        {kDialErrNegotiation, "the PPP link failed"},
        {kDialErrActivationFailed, "NetworkManager ended the connection"},
        {0, "the dial-up line ended"},
        // Codes without words of their own: the service's text, as a clause.
        {kDialErrPortLocked, "the modem's port is in use by another program"},
        {kDialErrBusMissing, "the system message bus cannot be reached"},
        {kDialErrBusError, "NetworkManager refused the request"},
        {99999, "the dial-up service gave code 99999"},
    };
    for (const auto &[code, words] : cases)
        EXPECT_EQ(LineEndCause(code), QLatin1String(words)) << code;
}

namespace {

struct EndCase {
    const char *name;
    QByteArray book;
    const char *settle;                    // dial first, and wait for this event; none = no dial
    QAction *TDialUpControl::*then;        // what the user does next; none = wait
    QStringList causes;
};

void PrintTo(const EndCase &c, std::ostream *os) { *os << c.name; }

class LineEnded : public ::testing::TestWithParam<EndCase> {};

} // namespace

TEST_P(LineEnded, TellsWhyOnceForALineThatWasUp)
{
    const EndCase &c = GetParam();
    Window w(c.book, "[Dial-Up Options]\r\nConnection=0\r\n");
    QStringList causes;
    w.ctl->OnLineEnded = [&](const QString &cause) {
        // Told before the status line says the line is gone.
        EXPECT_NE(w.Status(), "Status: Disconnected.");
        causes << cause;
    };
    if (c.settle) {
        w.Run(w.ctl->Connect1);
        ASSERT_TRUE(w.WaitEvent(QLatin1String(c.settle)));
        testutil::pump(100ms);
    }
    if (c.then) {
        w.Run(w.ctl->*(c.then));
    } else {
        ASSERT_TRUE(w.WaitEvent("Disconnect", 5s));
    }
    // Whatever else could come (a second end, a late drop) has had its time.
    testutil::pump(300ms);
    EXPECT_EQ(causes, c.causes);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, LineEnded,
    ::testing::Values(
        EndCase{"dropped by the line", "[Provider]\nStepMs=5\nDropAfter=1\n", "Connect", nullptr, {"the modem hung up"}},
        EndCase{"hung up here", "[Provider]\nStepMs=5\n", "Connect", &TDialUpControl::Disconnect1,
                {"it was hung up from Idlix"}},
        EndCase{"reset of a line up", "[Provider]\nStepMs=5\n", "Connect", &TDialUpControl::Reset1,
                {"it was hung up from Idlix"}},
        EndCase{"disconnect with no line", "[Provider]\nStepMs=5\n", nullptr, &TDialUpControl::Disconnect1, {}},
        // A dial that never came up ended nothing.
        EndCase{"dial that failed", "[Provider]\nStepMs=5\nFailAt=5\n", "AllDevsConnected", &TDialUpControl::Disconnect1, {}}));
