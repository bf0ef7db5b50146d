// The address family of a run: the [Network] setting applied at start and
// whenever preferences are saved, -4 and -6 holding the whole run whatever is
// saved, "automatic" following the client's /etc/gai.conf. Seen where it
// counts: the address a trace of a name with both families goes to, in the
// whole program's window inside the test network's client host.
#include "platform/lookupservice.h"
#include "app/cmdline.h"
#include "app/idlix.h"
#include "net/mstrace.h"
#include "shell/mainform.h"
#include "tools/tracetool.h"
#include "widgets/picturebutton.h"
#include "desktop/msgbox.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"
#include "platform/services.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Choice = platform::FamilyChoice;

namespace {

// The whole program on a scratch folder whose settings hold 'family'
// ("" for none), started with the command line's choice 'forced'.
struct Program {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TIdlix> idlix;

    Program(const char *family, std::optional<Choice> forced)
    {
        QByteArray ini = "[Traceroute Options]\r\nTest Packet=0\r\n";
        if (*family)
            ini += QByteArray("[Network]\r\nAddressFamily=") + family + "\r\n";
        testutil::writeFile(dir.file("idlix2.ini"), ini);
        platform::Services().Message = [this](const QString &t) { messages << t; };
        idlix = std::make_unique<TIdlix>(nullptr, forced);
    }
    ~Program()
    {
        idlix.reset();
        platform::Services().Message = {};
    }

    // Traces host from the Traceroute panel; the address the trace went to.
    std::string TraceTarget(const QString &host)
    {
        TTraceTool &tool = *idlix->TraceTool;
        tool.edt_TrcHost->setText(host);
        tool.btn_TrcYes->Click();
        if (!testutil::waitFor([&] { return !tool.MSTrace1->Busy(); }, 20s))
            return "still tracing";
        return tool.MSTrace1->TargetAddrText.toStdString();
    }

    // Saves the Preferences dialog with the address family 'value' (0, 4, 6).
    void SavePreferences(int value)
    {
        QTimer::singleShot(0, [value] {
            auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            auto *family = d->findChild<QComboBox *>("cb_PrefFamily");
            family->setCurrentIndex(family->findData(value));
            d->accept();
        });
        idlix->Form->MenuItem("Preferences1")->trigger();
    }
};

class FamilyNet : public testnet::NetTest {
protected:
    void TearDown() override
    {
        platform::Lookups().SetRunFamily(Choice::Automatic);
        if (net)
            net->setGaiConf("");
        scope.reset();
    }
};

} // namespace

TEST_F(FamilyNet, SettingAtStartAndOnSaveCommandLineForTheWholeRun)
{
    struct Case {
        const char *setting;          // [Network] AddressFamily at start
        std::optional<Choice> forced; // -4 or -6
        bool ipv4First;               // the client's gai.conf puts IPv4 first
        const char *before;           // where "dual" is traced to at start
        int saved;                    // then saved in Preferences
        const char *after;            // and where it is traced to then
    } cases[] = {
        {"", {}, false, testnet::kHost6, 4, testnet::kHost},
        {"", {}, true, testnet::kHost, 6, testnet::kHost6},
        {"ipv4", {}, false, testnet::kHost, 0, testnet::kHost6},
        {"ipv6", {}, true, testnet::kHost6, 0, testnet::kHost},
        {"ipv6", Choice::IPv4Only, false, testnet::kHost, 6, testnet::kHost},
        {"ipv4", Choice::IPv6Only, true, testnet::kHost6, 0, testnet::kHost6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("setting '") + c.setting + "'"
                     + (c.forced ? (*c.forced == Choice::IPv4Only ? " -4" : " -6") : "")
                     + (c.ipv4First ? " IPv4 first" : ""));
        ASSERT_TRUE(net->setGaiConf(c.ipv4First ? testnet::TestNet::kPreferIPv4 : ""));
        Program p(c.setting, c.forced);
        p.idlix->Form->MenuItem("TraceRoute1")->trigger();
        EXPECT_EQ(p.TraceTarget("dual"), c.before);
        p.SavePreferences(c.saved);
        EXPECT_EQ(p.TraceTarget("dual"), c.after);
        EXPECT_TRUE(p.messages.isEmpty()) << p.messages.join('|').toStdString();
    }
}

// What the command line chooses, as main() hands it to the program.
TEST(CommandLineFamily, FourAndSixChooseTheRunsFamily)
{
    struct Case {
        std::vector<const char *> args;
        int rc;
        std::optional<Choice> family;
    } cases[] = {
        {{}, -1, std::nullopt},
        {{"-4"}, -1, Choice::IPv4Only},
        {{"-6"}, -1, Choice::IPv6Only},
        {{"-6", "-6"}, -1, Choice::IPv6Only},
        {{"-platform", "offscreen", "-4"}, -1, Choice::IPv4Only},
        {{"-4", "-6"}, 64, std::nullopt},
        {{"-6", "-4"}, 64, std::nullopt},
        {{"--4"}, 64, std::nullopt},
        {{"-46"}, 64, std::nullopt},
        {{"-4", "--version"}, 0, std::nullopt},
    };
    for (const Case &c : cases) {
        std::vector<char *> argv{const_cast<char *>("idlix")};
        std::string shown;
        for (const char *a : c.args) {
            argv.push_back(const_cast<char *>(a));
            shown += std::string(" ") + a;
        }
        SCOPED_TRACE(shown);
        TRunOptions run;
        EXPECT_EQ(AnswerCommandLine(int(argv.size()), argv.data(), &run), c.rc);
        if (c.rc < 0) {
            EXPECT_EQ(run.Family, c.family);
        }
    }
}
