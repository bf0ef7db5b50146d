// The ISP tree's texts: the scanned prefix, the node text and the saved bytes.
#include "tools/isptreefile.h"

#include <gtest/gtest.h>

using tools::TTreeLine;

TEST(ISPTreeText, ScanPrefixKeepsEverythingUpToTheLastDot)
{
    const struct {
        const char *base, *prefix;
    } rows[] = {
        {"10.1.2.3", "10.1.2."},
        {"192.168.0.255", "192.168.0."},
        {"10.1", "10."},      // inet_addr's short form: the scan follows the text
        {"1.2.3.", "1.2.3."},
        {"167837953", ""},    // a plain number has no dot
        {"", ""},
    };
    for (const auto &r : rows)
        EXPECT_EQ(tools::ScanPrefix(r.base), QString(r.prefix)) << r.base;
}

TEST(ISPTreeText, NodeIsTheNameAndTheAddressInParentheses)
{
    EXPECT_EQ(tools::ISPNodeText("host.idlix.test", "10.200.3.10"),
              QString("host.idlix.test (10.200.3.10)"));
    EXPECT_EQ(tools::ISPNodeText("", "10.0.0.1"), QString(" (10.0.0.1)"));
}

TEST(ISPTreeText, FileHasOneCrLfLinePerNodeWithATabPerLevel)
{
    const struct {
        QList<TTreeLine> nodes;
        QByteArray bytes;
    } rows[] = {
        {{}, QByteArray()},
        {{{"a.test (10.0.0.1)", 0}, {"b.test (10.0.0.7)", 0}, {"c.test (10.0.0.255)", 0}},
         "a.test (10.0.0.1)\r\nb.test (10.0.0.7)\r\nc.test (10.0.0.255)\r\n"},
        {{{"top", 0}, {"child", 1}, {"grandchild", 2}, {"next", 0}},
         "top\r\n\tchild\r\n\t\tgrandchild\r\nnext\r\n"},
        // Windows-1252: e acute is one byte, the euro sign 0x80, the rest '?'.
        {{{QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac \xe4\xb8\xad"), 0}},
         "caf\xe9 \x80 ?\r\n"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(tools::ISPTreeFileBytes(r.nodes), r.bytes) << r.bytes.toStdString();
}
