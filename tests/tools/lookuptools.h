// Shared pieces of the resolve tool and ISP tree tests: a main window with
// both tools, and the test name server with its questions counted and a
// switch to silence it.
#pragma once

#include "net/wsocket.h"
#include "tooltest.h"
#include "tools/isptree.h"
#include "tools/resolvetool.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QStringList>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace lookuptest {

// The window with the resolve tool and the ISP tree.
struct Window : tooltest::BareWindow {
    TResolveTool *rsv = new TResolveTool(*form);   // children of the window
    TISPTree *isp = new TISPTree(*form);
};

// The texts of the tree's top-level nodes.
inline QStringList Nodes(const QTreeWidget *tree)
{
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out << tree->topLevelItem(i)->text(0);
    return out;
}

// "10.3.200.10.in-addr.arpa" -> "10.200.3.10"; empty for other names.
inline QString ReverseNameAddress(const QString &name)
{
    const QString suffix = QStringLiteral(".in-addr.arpa");
    if (!name.endsWith(suffix))
        return {};
    QStringList parts = name.chopped(suffix.size()).split(QLatin1Char('.'));
    std::reverse(parts.begin(), parts.end());
    return parts.join(QLatin1Char('.'));
}

// The test network with the window built in the client host.
class LookupNetTest : public testnet::NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        w = std::make_unique<Window>();
        f = w->form.get();
    }
    void TearDown() override
    {
        Speak();
        w.reset();
        scope.reset();
    }
    // The name server stops answering (its questions queue up) until Speak.
    void Silence() { ASSERT_TRUE(net->silenceNameServer(true)); }
    void Speak()
    {
        if (net)
            net->silenceNameServer(false);
    }
    // Questions asked so far, as "TYPE NAME".
    static QStringList Queries()
    {
        QStringList out;
        for (const std::string &q : net->nameServerQueries())
            out << QString::fromStdString(q);
        return out;
    }
    // Addresses whose names were asked for after the first 'skip' questions,
    // in the order asked.
    static QStringList ReverseQueries(qsizetype skip)
    {
        QStringList out;
        const QStringList all = Queries();
        for (qsizetype i = skip; i < all.size(); ++i) {
            if (all[i].startsWith(QLatin1String("PTR ")))
                out << ReverseNameAddress(all[i].mid(4));
        }
        return out;
    }

    std::unique_ptr<Window> w;
    TMainForm *f = nullptr;
};

} // namespace lookuptest
