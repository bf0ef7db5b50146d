// The finger tool end to end on the test network: Debian's in.fingerd (run
// per connection by socat) on the test host and on a host that ignores
// echoes, reached by name through the test name server. Root only; the
// window is built inside the client host so its sockets live there.
#include "tools/fingertool.h"
#include "platform/services.h"

#include "desktop/msgbox.h"
#include "net/finger.h"
#include "net/ping.h"
#include "shell/mainform.h"
#include "widgets/picturebutton.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"
#include "../support/ctl.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class FingerToolNet : public testnet::NetTest {
protected:
    static void SetUpTestSuite()
    {
        NetTest::SetUpTestSuite();
        if (net && net->ok()) {
            hostFingerd = net->startFingerd(testnet::Role::Host);
            quietFingerd = net->startFingerd(testnet::Role::Quiet);
        }
    }
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        ASSERT_GT(hostFingerd, 0) << "in.fingerd did not start on the test host";
        ASSERT_GT(quietFingerd, 0) << "in.fingerd did not start on the quiet host";
        platform::Services().Message = [this](const QString &t) { messages << t; };
        form = std::make_unique<TMainForm>();
        fng = new TFingerTool(*form);
        Ctl<TPictureButton>(form, "btn_Finger")->Click();
    }
    void TearDown() override
    {
        form.reset();
        platform::Services().Message = {};
        scope.reset();
    }
    // Types 'query', presses Query and waits for the end of the query.
    void Query(const QString &query)
    {
        fng->edt_Finger->setText(query);
        fng->btn_FngYes->Click();
        ASSERT_TRUE(testutil::waitFor([&] { return fng->Step() == TFingerStep::Idle; }, 20000ms));
    }
    QString Status() const { return Ctl<QLabel>(form, "StatusLBL")->text(); }
    QStringList ReplyLines() const
    {
        const QString text = fng->re_finger->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QChar('\n'));
    }

    static inline pid_t hostFingerd = -1, quietFingerd = -1;
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TMainForm> form;
    TFingerTool *fng = nullptr;
};

} // namespace

TEST_F(FingerToolNet, RealServerReplies)
{
    if (!Ready())
        return;
    const struct {
        QString query;
        QString firstLine;   // of the reply; empty: no reply at all
        QString status;
    } rows[] = {
        {"root@host.idlix.test", "Login: root",
         " Status: Successfully fingered root@host.idlix.test"},
        {"root@10.200.3.10", "Login: root", " Status: Successfully fingered root@10.200.3.10"},
        // in.fingerd keeps finger's "no such user" to itself: the server
        // closes without data.
        {"nosuchuser7@host.idlix.test", "", " Status: Server returned no data for user."},
        // Nothing listens on the finger port of a router.
        {"root@10.200.3.1", "", " Status: Server returned no data for user."},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.query.toStdString());
        Query(r.query);
        EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
        EXPECT_EQ(Status(), r.status);
        const QStringList lines = ReplyLines();
        if (r.firstLine.isEmpty()) {
            EXPECT_TRUE(lines.isEmpty()) << lines.join('|').toStdString();
        } else {
            ASSERT_FALSE(lines.isEmpty());
            EXPECT_TRUE(lines.first().startsWith(r.firstLine)) << lines.first().toStdString();
            // finger's entry of root names its shell.
            EXPECT_TRUE(lines.join('\n').contains("Shell: ")) << lines.join('|').toStdString();
        }
    }
}

TEST_F(FingerToolNet, UnknownHostStopsBeforeTheQuery)
{
    if (!Ready())
        return;
    Query("root@nohost.idlix.test");
    EXPECT_EQ(Status(), "Status: Unknown Host nohost.idlix.test");
    EXPECT_TRUE(ReplyLines().isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FingerToolNet, HostThatIgnoresEchoesIsStillFingeredAfterTheEchoTimeOut)
{
    if (!Ready())
        return;
    // The full 10 s wait is the component's own; a shorter one says the same.
    fng->FingerPing->SetTimeout(1500);
    QElapsedTimer t;
    t.start();
    Query("root@quiet.idlix.test");
    EXPECT_GE(t.elapsed(), 1500);
    EXPECT_EQ(fng->FingerPing->LastError(), 11010);   // the echo timed out
    EXPECT_EQ(Status(), " Status: Successfully fingered root@quiet.idlix.test");
    ASSERT_FALSE(ReplyLines().isEmpty());
    EXPECT_TRUE(ReplyLines().first().startsWith("Login: root"));
}
