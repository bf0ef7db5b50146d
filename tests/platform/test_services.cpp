// The services object: which instance is in use while several are put in
// use and taken out again, and the notice memory that tells each problem
// once, per services object and from any thread.
#include "platform/services.h"
#include "platform/boundedread.h"

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace platform;

TEST(Services, InUseNestsAndRestores)
{
    TServices &before = Services();
    TServices outer;
    {
        const TServicesInUse useOuter(outer);
        EXPECT_EQ(&Services(), &outer);
        TServices inner;
        {
            const TServicesInUse useInner(inner);
            EXPECT_EQ(&Services(), &inner);
        }
        EXPECT_EQ(&Services(), &outer);
    }
    EXPECT_EQ(&Services(), &before);
}

TEST(Services, TellOnceByKey)
{
    struct Case {
        const char *name;
        QStringList keys;     // told in this order, each with notice "n<i>"
        QStringList expected; // what reaches the Notice route
    };
    const std::vector<Case> cases = {
        {"one key once", {"a"}, {"n0"}},
        {"same key twice", {"a", "a"}, {"n0"}},
        {"two keys", {"a", "b"}, {"n0", "n1"}},
        {"key comes back", {"a", "b", "a", "b", "c"}, {"n0", "n1", "n4"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TServices services;
        QStringList seen;
        services.Notice = [&](const QString &n) { seen << n; };
        for (int i = 0; i < c.keys.size(); ++i)
            services.TellOnce(c.keys[i], QStringLiteral("n%1").arg(i));
        EXPECT_EQ(seen, c.expected);
    }
}

TEST(Services, EachObjectKeepsItsOwnMemory)
{
    // A run of the service after the window's (or a test after another) is
    // told again what the first was told.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("long.ini"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(200, 'x') + "\nkey=value\n");
    f.close();
    const TReadLimits limits{1 << 20, 1000, 100};

    QStringList first, second;
    TServices a;
    a.Notice = [&](const QString &n) { first << n; };
    {
        const TServicesInUse use(a);
        ReadBoundedText(path, limits);
        ReadBoundedText(path, limits);
    }
    TServices b;
    b.Notice = [&](const QString &n) { second << n; };
    {
        const TServicesInUse use(b);
        ReadBoundedText(path, limits);
    }
    ASSERT_EQ(first.size(), 1);
    EXPECT_TRUE(first[0].startsWith(path)) << first[0].toStdString();
    EXPECT_EQ(second, first);
}

TEST(Services, TellOnceFromManyThreads)
{
    // Readers run on worker threads too: however many tell the same problem
    // at once, it reaches the route once.
    TServices services;
    std::atomic<int> told{0};
    services.Notice = [&](const QString &) { ++told; };
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&services] {
            for (int i = 0; i < 200; ++i)
                services.TellOnce(QStringLiteral("k%1").arg(i % 50), QStringLiteral("n"));
        });
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(told.load(), 50);
}
