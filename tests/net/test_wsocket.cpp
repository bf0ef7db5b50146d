// The event-driven socket against scripted servers on loopback: the send
// queue blocks, the event order of a client connection, sends that must wait
// for the network, peer closes and resets, the wrong-use guards and their
// texts, and lookups through the system resolver (names from /etc/hosts).
#include "net/wsocket.h"

#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

TEST(SendBlock, WritePeekRemove)
{
    TBuffer b;  // default size
    EXPECT_EQ(b.Size(), 1514);
    EXPECT_EQ(TBuffer(-5).Size(), 1514);
    QByteArray data(3000, 'a');
    EXPECT_EQ(b.Write(data.constData(), 3000), 1514);
    EXPECT_EQ(b.Write("x", 1), 0);  // full
    int len = 0;
    const char *p = b.Peek(len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(len, 1514);
    EXPECT_EQ(b.Remove(14), 14);
    b.Peek(len);
    EXPECT_EQ(len, 1500);
    EXPECT_EQ(b.Write("x", 1), 0);  // the space taken out is not reused until empty
    EXPECT_EQ(b.Remove(5000), 1500);
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(b.WriteCount(), 0);  // both counts back to 0: refillable
    EXPECT_EQ(b.Write("hello", 5), 5);

    b.Remove(2);
    b.SetSize(3);  // keeps the unsent "llo"
    p = b.Peek(len);
    EXPECT_EQ(QByteArray(p, len), "llo");
    b.SetSize(1);  // cannot shrink below what it holds
    EXPECT_EQ(b.Size(), 3);
}

TEST(SocketErrorText, Table)
{
    const std::pair<int, const char *> rows[] = {
        {0, "No Error"}, {10004, "Interrupted system call"}, {10035, "Operation would block"},
        {10054, "Connection reset by peer"}, {10057, "Socket is not connected"},
        {10061, "Connection refused"}, {10065, "No route to host"},
        {10093, "WinSock not initialized"}, {11001, "Host not found"}, {11004, "No Data"},
        {10000, "Not a WinSock error"}, {-1, "Not a WinSock error"}, {11005, "Not a WinSock error"},
    };
    for (auto &[code, text] : rows)
        EXPECT_EQ(SocketErrorText(code), QLatin1String(text)) << code;
}

// Records the socket's events as short texts, in the order they fire.
struct Recorder {
    QStringList events;
    QByteArray data;
    void attach(TWSocket &s, bool readData = true)
    {
        s.OnChangeState = [this](TCustomWSocket *, TSocketState, TSocketState n) {
            events << QStringLiteral("state %1").arg(n);
        };
        s.OnSessionConnected = [this](TCustomWSocket *, quint16 e) {
            events << QStringLiteral("connected %1").arg(e);
        };
        s.OnDataSent = [this](TCustomWSocket *, quint16 e) { events << QStringLiteral("sent %1").arg(e); };
        s.OnSessionClosed = [this](TCustomWSocket *, quint16 e) {
            events << QStringLiteral("closed %1").arg(e);
        };
        if (readData)
            s.OnDataAvailable = [this](TCustomWSocket *sock, quint16) {
                char buf[100];
                int n = sock->Receive(buf, sizeof buf);
                if (n > 0)
                    data.append(buf, n);
                if (events.isEmpty() || events.last() != "data")
                    events << "data";
            };
    }
};

void connectTo(TWSocket &s, std::uint16_t port)
{
    s.SetAddr("127.0.0.1");
    s.SetPort(QString::number(port));
    s.SetProto("tcp");
    s.Connect();
}

TEST(WSocket, ClientEventOrder)
{
    ScriptServer server({Script().readBytes(5).send("hello").close()});
    Recorder r;  // outlives the socket, whose close still reports
    TWSocket s;
    r.attach(s);
    s.OnSessionConnected = [&](TCustomWSocket *sock, quint16 e) {
        r.events << QStringLiteral("connected %1").arg(e);
        sock->SendStr("ping!");
        r.events << "send returned";
    };
    connectTo(s, server.port());
    EXPECT_EQ(r.events, QStringList({"state 1", "state 3"}));
    ASSERT_TRUE(testutil::waitFor([&] { return s.State() == wsClosed; }, 5s));
    EXPECT_EQ(r.events, QStringList({"state 1", "state 3", "state 4", "connected 0", "send returned",
                                     "sent 0", "data", "closed 0", "state 7"}));
    EXPECT_EQ(r.data, "hello");
    EXPECT_EQ(server.received(0), "ping!");
    EXPECT_EQ(s.ReadCount(), 0);  // reset by the close
}

TEST(WSocket, SendQueuesAndSignalsOnceFromTheLoop)
{
    QByteArray payload(3000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7);
    ScriptServer server({Script().readBytes(3000)});
    Recorder r;  // outlives the socket, whose close still reports
    TWSocket s;
    r.attach(s);
    int sentDuringCall = -1;
    s.OnSessionConnected = [&](TCustomWSocket *sock, quint16) {
        EXPECT_EQ(sock->Send(payload.constData(), int(payload.size())), 3000);
        sentDuringCall = int(r.events.count("sent 0"));
    };
    connectTo(s, server.port());
    ASSERT_TRUE(testutil::waitFor([&] { return r.events.contains("closed 0"); }, 5s));
    EXPECT_EQ(sentDuringCall, 0);
    EXPECT_EQ(r.events.count("sent 0"), 1);
    EXPECT_EQ(server.received(0), payload);
}

TEST(WSocket, LargeSendWaitsForTheNetwork)
{
    // Far more than the kernel buffers hold while the peer reads slowly:
    // the queue must hold the rest and let it out as space appears.
    const int size = 8 << 20;
    QByteArray payload(size, 'z');
    payload[size - 1] = 'E';
    ScriptServer server({Script().pause(300).readBytes(size)});
    Recorder r;  // outlives the socket, whose close still reports
    TWSocket s;
    r.attach(s);
    s.OnSessionConnected = [&](TCustomWSocket *sock, quint16) {
        EXPECT_EQ(sock->Send(payload.constData(), size), size);
    };
    connectTo(s, server.port());
    ASSERT_TRUE(testutil::waitFor([&] { return r.events.contains("sent 0"); }, 20s));
    EXPECT_EQ(r.events.count("sent 0"), 1);
    ASSERT_TRUE(testutil::waitFor([&] { return server.received(0).size() >= size; }, 20s));
    EXPECT_EQ(server.received(0), payload);
}

TEST(WSocket, PeerCloseWithUnreadData)
{
    ScriptServer server({Script().send("abc").close()});
    Recorder r;  // outlives the socket, whose close still reports
    TWSocket s;
    r.attach(s);
    connectTo(s, server.port());
    ASSERT_TRUE(testutil::waitFor([&] { return s.State() == wsClosed; }, 5s));
    EXPECT_EQ(r.data, "abc");
    int data = int(r.events.indexOf("data"));
    int closed = int(r.events.indexOf("closed 0"));
    ASSERT_GE(data, 0);
    EXPECT_LT(data, closed);
    EXPECT_EQ(r.events.last(), "state 7");
}

TEST(WSocket, PeerResetAndUnreadHandler)
{
    // Reset by the peer: the close event carries the reset code.
    {
        ScriptServer server({Script().pause(50).reset()});
        Recorder r;  // outlives the socket, whose close still reports
        TWSocket s;
        r.attach(s);
        connectTo(s, server.port());
        ASSERT_TRUE(testutil::waitFor([&] { return s.State() == wsClosed; }, 5s));
        EXPECT_TRUE(r.events.contains("closed 10054")) << r.events.join(',').toStdString();
    }
    // A handler that does not read is not called over and over; reading
    // later picks the data up.
    {
        ScriptServer server({Script().send("waiting").pause(400)});
        TWSocket s;
        int calls = 0;
        s.OnDataAvailable = [&](TCustomWSocket *, quint16) { ++calls; };
        connectTo(s, server.port());
        testutil::pump(200ms);
        EXPECT_GE(calls, 1);
        EXPECT_LE(calls, 3);
        char buf[16];
        EXPECT_EQ(s.Receive(buf, sizeof buf), 7);
        EXPECT_EQ(QByteArray(buf, 7), "waiting");
    }
    // Without a data handler the bytes are read and dropped; the close still comes.
    {
        ScriptServer server({Script().send(QByteArray(5000, 'q')).close()});
        Recorder r;  // outlives the socket, whose close still reports
        TWSocket s;
        r.attach(s, false);
        connectTo(s, server.port());
        ASSERT_TRUE(testutil::waitFor([&] { return s.State() == wsClosed; }, 5s));
        EXPECT_TRUE(r.events.contains("closed 0"));
    }
}

TEST(WSocket, RefusedConnection)
{
    Recorder r;  // outlives the socket, whose close still reports
    TWSocket s;
    r.attach(s);
    int code = 0;
    try {
        connectTo(s, ScriptServer::unusedPort());
        ASSERT_TRUE(testutil::waitFor([&] { return s.State() == wsClosed; }, 5s));
        ASSERT_TRUE(r.events.contains("connected 10061")) << r.events.join(',').toStdString();
        code = 10061;
        // The failed connect closes the socket, with the close event after it.
        EXPECT_GT(r.events.indexOf("closed 0"), r.events.indexOf("connected 10061"));
    } catch (const ESocketException &e) {
        code = s.LastError();
        EXPECT_EQ(e.Message(), "Error 10061 in function Connect\r\nConnection refused");
    }
    EXPECT_EQ(code, 10061);
}

TEST(WSocket, WrongUseGuardsAndTexts)
{
    TWSocket s;
    auto message = [](const std::function<void()> &f) {
        try {
            f();
        } catch (const ESocketException &e) {
            return e.Message();
        }
        return QStringLiteral("(no exception)");
    };
    EXPECT_EQ(message([&] { s.Send("x", 1); }), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(message([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("80");
    EXPECT_EQ(message([&] { s.Connect(); }), "Connect: No IP Address Specified");
    EXPECT_EQ(message([&] { s.SetPort("no-such-service-xyz"); }),
              "Error 11004 in function SetPort: Cannot convert port 'no-such-service-xyz'\r\nNo Data");
    s.SetPort("http");
    EXPECT_EQ(s.Port(), "http");
    EXPECT_EQ(message([&] { s.SetProto("nonsense-proto"); }),
              "Error 11004 in function SetProto: Cannot convert protocol 'nonsense-proto'\r\nNo Data");
    s.SetProto("tcp");
    EXPECT_EQ(message([&] { s.SetSendFlags(7); }), "Invalid SendFlags");
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    s.SetSendFlags(wsSendNormal);
    EXPECT_EQ(message([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");

    // With an OnError handler the report goes there and the call returns.
    int errors = 0;
    quint16 lookupError = 0;
    s.OnError = [&](TCustomWSocket *) { ++errors; };
    s.OnDnsLookupDone = [&](TCustomWSocket *, quint16 e) { lookupError = e; };
    EXPECT_EQ(s.Send("x", 1), -1);
    s.DnsLookup("");
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(lookupError, 10022);
}

TEST(WSocket, ConnectAfterCloseNeedsPortAgain)
{
    ScriptServer server({Script().pause(300)});
    TWSocket s;
    connectTo(s, server.port());
    ASSERT_TRUE(testutil::waitFor([&] { return s.State() == wsConnected; }, 5s));
    try {
        s.SetPort("81");
        FAIL() << "port changed while connected";
    } catch (const ESocketException &e) {
        EXPECT_EQ(e.Message(), "Cannot change Port if not closed");
    }
    s.Close();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.Addr(), "127.0.0.1");  // the text stays readable
    EXPECT_EQ(s.Proto(), "tcp");
    try {
        s.Connect();
        FAIL() << "connected without a port";
    } catch (const ESocketException &e) {
        EXPECT_EQ(e.Message(), "Connect: No Port Specified");
    }
}

TEST(WSocketLookup, DottedAddressesCompleteAtOnce)
{
    const std::pair<const char *, const char *> rows[] = {
        {"127.0.0.1", "127.0.0.1"}, {"127.1", "127.0.0.1"}, {"127.0.0.01", "127.0.0.1"},
        {"0x7f.0.0.2", "127.0.0.2"}, {"010.0.0.1", "8.0.0.1"},
    };
    TWSocket s;
    for (auto &[in, out] : rows) {
        int done = 0;
        quint16 err = 99;
        s.OnDnsLookupDone = [&](TCustomWSocket *, quint16 e) { ++done; err = e; };
        s.DnsLookup(in);
        EXPECT_EQ(done, 1) << in;  // inside the call
        EXPECT_EQ(err, 0);
        EXPECT_EQ(s.DnsResult(), QLatin1String(out));
        EXPECT_TRUE(s.DnsResultList().isEmpty());
    }
}

TEST(WSocketLookup, NamesCancelAndReplace)
{
    TWSocket s;
    QList<quint16> done;
    s.OnDnsLookupDone = [&](TCustomWSocket *, quint16 e) { done << e; };

    s.DnsLookup("localhost");
    EXPECT_TRUE(done.isEmpty());  // arrives through the loop
    ASSERT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s));
    EXPECT_EQ(done, QList<quint16>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_EQ(s.DnsResultList(), QStringList{"127.0.0.1"});

    done.clear();
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(done, QList<quint16>{10004});
    testutil::pump(300ms);
    EXPECT_EQ(done, QList<quint16>{10004});  // the late completion is dropped
    s.CancelDnsLookup();                     // nothing pending: no event
    EXPECT_EQ(done.size(), 1);

    done.clear();
    s.DnsLookup("localhost");
    s.DnsLookup("vm");
    ASSERT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s));
    testutil::pump(300ms);
    EXPECT_EQ(done, QList<quint16>{0});

    done.clear();
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s));
    EXPECT_EQ(done, QList<quint16>{0});
    EXPECT_EQ(s.DnsResult(), "localhost");
    EXPECT_EQ(s.DnsResultList(), QStringList{"localhost"});

    std::optional<THostEntry> e = LookupHostByAddress("127.0.0.1");
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Name, "localhost");
    EXPECT_FALSE(LookupHostByAddress("not an address").has_value());
}

TEST(WSocketLookup, DestroyedWhileLookupPending)
{
    int done = 0;
    {
        TWSocket s;
        s.OnDnsLookupDone = [&](TCustomWSocket *, quint16) { ++done; };
        s.DnsLookup("localhost");
    }
    testutil::pump(300ms);
    EXPECT_EQ(done, 0);
}

} // namespace
