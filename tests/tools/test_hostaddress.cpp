// The resolve tool's address helpers on loopback: the dotted text of an
// address, which texts count as addresses, and the waiting lookups giving the
// same answers as the blocking ones.
#include "tools/hostaddress.h"

#include "net/wsextra.h"
#include "platform/errcodes.h"
#include "platform/resolver.h"

#include <gtest/gtest.h>

TEST(HostAddress, DottedTextIsMostSignificantByteFirst)
{
    const struct {
        const char *text;
        const char *dotted;
    } rows[] = {
        {"10.200.3.10", "10.200.3.10"},
        {"127.0.0.1", "127.0.0.1"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.254", "255.255.255.254"},
        {"10.1", "10.0.0.1"},          // inet_addr's short form
        {"0x7f.1", "127.0.0.1"},       // hex parts
        {"012.0.0.1", "10.0.0.1"},     // octal parts
    };
    for (const auto &r : rows)
        EXPECT_EQ(tools::DottedAddressText(platform::InetAddr(r.text)), QString(r.dotted)) << r.text;
}

TEST(HostAddress, AddressTextsAreWhatInetAddrTakes)
{
    for (const char *text : {"10.200.3.10", "10.1", "167837953", "0x0a000001", "1.2.3.4 "})
        EXPECT_TRUE(tools::IsDottedAddress(text)) << text;
    for (const char *text : {"", "host", "host.idlix.test", "1.2.3.4.5", "256.1.1.1", "10.1.x",
                             "255.255.255.255"})
        EXPECT_FALSE(tools::IsDottedAddress(text)) << text;
}

TEST(HostAddress, WaitingLookupsAnswerAsTheBlockingOnes)
{
    const std::uint32_t loopback = platform::InetAddr("127.0.0.1");
    const std::optional<THostEntry> blocked = LookupHostByAddress("127.0.0.1");
    int error = -1;
    const std::optional<QString> waited = tools::HostNameOfAddress("127.0.0.1", &error);
    ASSERT_EQ(blocked.has_value(), waited.has_value());
    if (blocked) {
        EXPECT_EQ(error, 0);
        EXPECT_EQ(*waited, blocked->Name);
        EXPECT_EQ(tools::AddressToHostName(loopback), blocked->Name);
    } else {
        EXPECT_GE(error, platform::kErrHostNotFound);
        EXPECT_EQ(tools::AddressToHostName(loopback), QString("127.0.0.1"));
    }

    // A text that is no address is not looked up at all.
    EXPECT_FALSE(tools::HostNameOfAddress("not an address", &error));
    EXPECT_EQ(error, platform::kErrInvalid);
}

TEST(HostAddress, LocalAddressIsTheOwnNamesFirstOrLoopback)
{
    platform::HostEntry entry;
    const std::string name = platform::LocalHostName();
    const bool known = !name.empty() && platform::LookupName(name, entry) == 0 && !entry.addrs.empty();
    EXPECT_EQ(tools::LocalIPAddress(), known ? entry.addrs.front() : platform::InetAddr("127.0.0.1"));
}
