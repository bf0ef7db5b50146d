// The one grammar of the command line: the common options mean the same in
// every mode, a mode's own options belong to it alone, and each mode's usage
// comes from the same text.
#include "config/commandline.h"
#include "../support/qtprint.h"

#include <gtest/gtest.h>

using config::ParseCommandLine;
using Family = platform::FamilyChoice;

TEST(CommandLine, CommonOptionsMeanTheSameInEveryMode)
{
    const struct {
        QStringList args;
        QString mode;
        std::optional<Family> family;
        QString dataDir;
        QStringList arguments;
    } cases[] = {
        {{"-4"}, "", Family::IPv4Only, "", {}},
        {{"--headless", "-4"}, "headless", Family::IPv4Only, "", {}},
        {{"-6", "--headless", "--config", "/srv/i"}, "headless", Family::IPv6Only, "/srv/i", {}},
        {{"--export", "probes", "-", "-6"}, "export", Family::IPv6Only, "", {"probes", "-"}},
        {{"--config=/srv/i", "--export", "outages", "o.csv"}, "export", std::nullopt, "/srv/i", {"outages", "o.csv"}},
        {{"--config", "/srv/i", "-platform", "xcb"}, "", std::nullopt, "/srv/i", {}},
        // A value is never taken for a mode: this is the window's folder.
        {{"--config", "--export"}, "", std::nullopt, "--export", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const config::TCommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ(line.Error, "");
        EXPECT_EQ(line.Mode, c.mode);
        EXPECT_EQ(line.Family, c.family);
        EXPECT_EQ(line.DataDir, c.dataDir);
        EXPECT_EQ(line.Arguments, c.arguments);
    }
}

TEST(CommandLine, WhatEachModeRefuses)
{
    const struct {
        QStringList args;
        const char *error;
    } cases[] = {
        {{"--headless", "-4", "-6"}, "conflicting option '-6'"},
        {{"--export", "probes", "x", "-6", "-4"}, "conflicting option '-4'"},
        {{"--export", "probes", "x", "--headless"}, "conflicting option '--headless'"},
        {{"--headless=yes"}, "unknown option '--headless=yes'"},
        {{"--metrics", "9417"}, "'--metrics' is an option of idlix --headless"},
        {{"--headless", "--from", "2024-05-01"}, "'--from' is an option of idlix --export"},
        {{"--export", "probes", "x", "-platform", "xcb"}, "unknown option '-platform'"},
        {{"--export", "probes", "x", "y"}, "unexpected argument 'y'"},
        {{"--export", "probes", "x", "--format"}, "missing value for option '--format'"},
        {{"-4=1"}, "unknown option '-4=1'"},
        {{"--4"}, "unknown option '--4'"},
        {{"--"}, "unknown option '--'"},
        {{"--config="}, "--config needs a folder"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(ParseCommandLine(c.args).Error, c.error);
    }
}

TEST(CommandLine, ModeOptionsAndTheServiceProgramsImpliedMode)
{
    const config::TCommandLine exported =
        ParseCommandLine({"--format=ndjson", "--export", "probes", "p", "--from", "2024-05-01"});
    EXPECT_EQ(exported.Value("format"), "ndjson");
    EXPECT_EQ(exported.Value("from"), "2024-05-01");
    EXPECT_FALSE(exported.Has("to"));
    const config::TCommandLine service = ParseCommandLine({"--metrics", "off"}, "headless");
    EXPECT_EQ(service.Mode, "headless");
    EXPECT_EQ(service.Value("metrics"), "off");
}

TEST(CommandLine, OneUsageTextEveryModeTakesItsPartFrom)
{
    const QString whole = config::UsageText();
    EXPECT_TRUE(whole.startsWith("Usage: idlix [OPTION]\n"));
    for (const config::TModeSpec &mode : config::Modes()) {
        if (!*mode.Name)
            continue;
        SCOPED_TRACE(mode.Name);
        const QString own = config::UsageText(mode.Name);
        EXPECT_TRUE(own.startsWith(QString("Usage: idlix ") + mode.Synopsis + "\n"));
        EXPECT_TRUE(whole.contains(QString("--") + mode.Name));
        // The common options, word for word, in every mode's text.
        const QString common = whole.mid(whole.indexOf("  -4 "), whole.indexOf("--version") - whole.indexOf("  -4 "));
        EXPECT_TRUE(own.contains(common));
        for (const config::TOptionSpec &option : mode.Options)
            EXPECT_TRUE(own.contains(QString("--") + option.Name + " " + option.ValueName)) << option.Name;
    }
    config::TCommandLine refused = ParseCommandLine({"--headless", "--bogus"});
    EXPECT_TRUE(config::RefusalText(refused).startsWith("idlix: unknown option '--bogus'\n\nUsage: idlix --headless"));
}
