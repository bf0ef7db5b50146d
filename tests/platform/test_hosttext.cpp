// The host text every lookup reads: blanks, address literals of both
// families with brackets and zones, international names and bad forms; and
// the canonical text of addresses (RFC 5952).
#include "platform/hosttext.h"
#include "platform/resolver.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace platform;

namespace {

// The loopback interface is there on every Linux host, also inside a fresh
// network namespace; its index is what a zone of "lo" stands for.
const std::string kLoZone = "fe80::1%" + std::to_string(if_nametoindex("lo"));

} // namespace

TEST(HostText, EveryFormOfTypedHost)
{
    using K = HostText::Kind;
    const struct {
        const char *typed;
        K kind;
        const char *shown;   // what the window keeps showing
        const char *lookup;  // Name: what the resolver is asked
        const char *address; // Address: its canonical text
    } rows[] = {
        {"", K::Empty, "", "", ""},
        {" \t ", K::Empty, "", "", ""},
        {"host.example", K::Name, "host.example", "host.example", ""},
        {"  host.example\t", K::Name, "host.example", "host.example", ""},
        {" 127.0.0.1 ", K::Address, "127.0.0.1", "", "127.0.0.1"},
        {"10.1", K::Address, "10.1", "", "10.0.0.1"},        // inet_addr's short form
        {"0x7f.1", K::Address, "0x7f.1", "", "127.0.0.1"},
        {"::1", K::Address, "::1", "", "::1"},
        {"[::1]", K::Address, "[::1]", "", "::1"},
        {" [fd00:200:3::10] ", K::Address, "[fd00:200:3::10]", "", "fd00:200:3::10"},
        {"FD00:200:3:0:0:0:0:10", K::Address, "FD00:200:3:0:0:0:0:10", "", "fd00:200:3::10"},
        {"::ffff:10.200.3.10", K::Address, "::ffff:10.200.3.10", "", "::ffff:10.200.3.10"},
        {"fe80::1%lo", K::Address, "fe80::1%lo", "", "fe80::1%lo"},
        {"[fe80::1%lo]", K::Address, "[fe80::1%lo]", "", "fe80::1%lo"},
        // A zone by number is written back with the interface's name.
        {kLoZone.c_str(), K::Address, nullptr, "", "fe80::1%lo"},
        // International names: asked in their ASCII form, shown as typed.
        {"bücher.test", K::Name, "bücher.test", "xn--bcher-kva.test", ""},
        {" BÜCHER.test ", K::Name, "BÜCHER.test", "xn--bcher-kva.test", ""},
        {"日本.test", K::Name, "日本.test", "xn--wgv71a.test", ""},
        {"xn--bcher-kva.test", K::Name, "xn--bcher-kva.test", "xn--bcher-kva.test", ""},
        // ASCII names go as typed, even where the IDNA rules are stricter.
        {"my_host", K::Name, "my_host", "my_host", ""},
        // Bad forms.
        {"fe80::1", K::Invalid, "fe80::1", "", ""},          // link-local without its zone
        {"fe80::1%", K::Invalid, "fe80::1%", "", ""},
        {"fe80::1%nosuchif9", K::Invalid, "fe80::1%nosuchif9", "", ""},
        {"[10.200.3.10]", K::Invalid, "[10.200.3.10]", "", ""},  // brackets are IPv6's
        {"[host.example]", K::Invalid, "[host.example]", "", ""},
        {"[::1", K::Invalid, "[::1", "", ""},
        {"::1]", K::Invalid, "::1]", "", ""},
        {"[[::1]]", K::Invalid, "[[::1]]", "", ""},
        {"1:2:3:4:5:6:7:8:9", K::Invalid, "1:2:3:4:5:6:7:8:9", "", ""},
        {"host:80", K::Invalid, "host:80", "", ""},          // a port is not part of a host
        {"two words", K::Invalid, "two words", "", ""},
        {"tab\there", K::Invalid, "tab\there", "", ""},
        {"bü..test", K::Invalid, "bü..test", "", ""},        // no ASCII form
        {"bü cher.test", K::Invalid, "bü cher.test", "", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.typed);
        const HostText t = ReadHostText(QString::fromUtf8(r.typed));
        EXPECT_EQ(t.kind, r.kind);
        if (r.shown) {
            EXPECT_EQ(t.shown, QString::fromUtf8(r.shown));
        }
        EXPECT_EQ(t.lookup, r.lookup);
        EXPECT_EQ(AddressText(t.address), r.address);
    }
    EXPECT_EQ(HostShown(QStringLiteral("  bücher.test \n")), QStringLiteral("bücher.test"));
}

TEST(HostText, ControlCharactersInsideAreRefused)
{
    for (const QString &text : {QStringLiteral("ho\u0000st"), QStringLiteral("ho\u0007st"),
                                QStringLiteral("host\u0085.test")})
        EXPECT_EQ(ReadHostText(text).kind, HostText::Invalid) << text.toStdString();
}

TEST(IpAddressText, CanonicalFormOfRfc5952)
{
    const struct {
        const char *in, *out;
    } rows[] = {
        // Section 4.1: no leading zeros; 4.2.1: the longest run shortened;
        // 4.2.2: a single zero group kept; 4.2.3: the first of equal runs;
        // 4.3: lower case; 5: an IPv4-mapped address in dotted form.
        {"2001:0db8::0001", "2001:db8::1"},
        {"2001:db8:0:0:0:0:2:1", "2001:db8::2:1"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},
        {"2001:DB8::AbCd", "2001:db8::abcd"},
        {"0:0:0:0:0:ffff:c000:0201", "::ffff:192.0.2.1"},
        {"0:0:0:0:0:0:0:0", "::"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"1:0:0:0:0:0:0:0", "1::"},
    };
    for (const auto &r : rows) {
        IpAddress a;
        ASSERT_TRUE(ParseIPv6(r.in, a)) << r.in;
        EXPECT_EQ(AddressText(a), r.out) << r.in;
    }
    EXPECT_EQ(AddressText(IpAddress::V4(InetAddr("10.200.3.10"))), "10.200.3.10");
    EXPECT_EQ(AddressText(IpAddress{}), "");
}

TEST(IpAddressText, ZonesAndSocketAddresses)
{
    IpAddress a;
    ASSERT_TRUE(ParseIPv6("fe80::1%lo", a));
    EXPECT_TRUE(a.IsLinkLocal());
    EXPECT_EQ(a.scope, if_nametoindex("lo"));
    IpAddress global;
    ASSERT_TRUE(ParseIPv6("fd00::1", global));
    EXPECT_FALSE(global.IsLinkLocal());
    EXPECT_EQ(global.v4(), 0xFFFFFFFFu);
    // A zone whose interface is not there is written as its number.
    IpAddress gone = a;
    gone.scope = 987654;
    EXPECT_EQ(AddressText(gone), "fe80::1%987654");

    // Socket addresses of both families and back, with port and zone.
    for (const IpAddress &x : {a, global, IpAddress::V4(InetAddr("10.200.3.10"))}) {
        SCOPED_TRACE(AddressText(x));
        sockaddr_storage ss;
        const unsigned len = ToSockaddr(x, 8080, ss);
        EXPECT_EQ(len, x.IsV6() ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
        std::uint16_t port = 0;
        EXPECT_EQ(FromSockaddr(reinterpret_cast<const sockaddr *>(&ss), &port), x);
        EXPECT_EQ(port, 8080);
    }
    sockaddr_storage ss;
    EXPECT_EQ(ToSockaddr(IpAddress{}, 1, ss), 0u);
    sockaddr unix_{};
    unix_.sa_family = AF_UNIX;
    EXPECT_FALSE(FromSockaddr(&unix_).Valid());
    EXPECT_FALSE(FromSockaddr(nullptr).Valid());
}

TEST(Resolver, FamilyChoiceOnAddressLiterals)
{
    // No name server is asked for an address, so this runs anywhere.
    const struct {
        FamilyChoice choice;
        const char *host;
        int error;
        const char *first;
    } rows[] = {
        {FamilyChoice::Automatic, "[::1]", 0, "::1"},
        {FamilyChoice::Automatic, " 127.0.0.1 ", 0, "127.0.0.1"},
        {FamilyChoice::IPv4Only, "::1", 10047, ""},
        {FamilyChoice::IPv4Only, "127.0.0.1", 0, "127.0.0.1"},
        {FamilyChoice::IPv6Only, "127.0.0.1", 10047, ""},
        {FamilyChoice::IPv6Only, "[fe80::1%lo]", 0, "fe80::1%lo"},
        {FamilyChoice::Automatic, "fe80::1", 11001, ""},   // link-local without its zone
        {FamilyChoice::Automatic, "[10.0.0.1]", 11001, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.host) + " choice " + std::to_string(int(r.choice)));
        HostEntry e;
        EXPECT_EQ(LookupHost(r.host, r.choice, e), r.error);
        EXPECT_EQ(e.addresses.empty() ? std::string() : AddressText(e.addresses.front()), r.first);
    }
    // The IPv4-only lookup of the traceroute takes no IPv6 address.
    HostEntry e;
    EXPECT_EQ(LookupName("::1", e), 10047);
    EXPECT_EQ(LookupName(" 127.0.0.1", e), 0);
    ASSERT_EQ(e.addrs.size(), 1u);
    EXPECT_EQ(InetNtoa(e.addrs.front()), "127.0.0.1");
}
