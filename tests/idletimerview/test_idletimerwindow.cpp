// The Find Idle Timer window over a reflector on loopback: a whole short
// measurement from Start to the verdict, what it says without a key or a
// reflector, and Stop.
#include "config/options.h"
#include "idletimer/reflector.h"
#include "idletimerview/idletimerwindow.h"
#include "platform/resolver.h"
#include "../support/testutil.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <gtest/gtest.h>

using namespace idletimer;
using namespace idletimerview;
using namespace std::chrono_literals;

namespace {

const QString Key = QStringLiteral("window test key, long enough");

struct Fixture {
    config::TOptions options;
    TReflector reflector{KeyBytes(Key)};
    std::unique_ptr<TIdleTimerWindow> window;
    Fixture(const QString &key = Key)
    {
        options.Reflector.Key = key;
        QString error;
        reflector.Listen(platform::IpAddress::V4(platform::InetAddr("127.0.0.1")), 0, &error);
        options.Reflector.Host = QStringLiteral("127.0.0.1:%1").arg(reflector.Port());
        qputenv("IDLIX_FINDER_FIRST", "1");
        window = std::make_unique<TIdleTimerWindow>(options);
    }
    ~Fixture() { qunsetenv("IDLIX_FINDER_FIRST"); }
};

} // namespace

TEST(IdleTimerWindow, MeasuresFromStartToTheVerdict)
{
    Fixture f;
    auto &w = *f.window;
    EXPECT_EQ(w.edt_IdleReflector->text(), f.options.Reflector.Host);
    // Each kind brings its own longest silence.
    w.cb_IdleKind->setCurrentIndex(TIdleTimerWindow::Tcp);
    EXPECT_EQ(w.se_IdleMax->value(), 7800);
    w.cb_IdleKind->setCurrentIndex(TIdleTimerWindow::Udp);
    EXPECT_EQ(w.se_IdleMax->value(), 1800);
    w.se_IdleMax->setValue(2);
    std::optional<TIdleResult> told;
    w.OnResult = [&](const TIdleResult &r) { told = r; };
    w.btn_IdleStart->click();
    EXPECT_FALSE(w.btn_IdleStart->isEnabled());
    EXPECT_TRUE(w.btn_IdleStop->isEnabled());
    ASSERT_TRUE(testutil::waitFor([&] { return told.has_value(); }, 15s)) << w.re_IdleProgress->toPlainText().toStdString();
    EXPECT_EQ(told->State, TTrialPlan::TState::AtLeast);
    EXPECT_TRUE(w.lbl_IdleResult->text().startsWith("udp idle timer: at least 2 s")) << w.lbl_IdleResult->text().toStdString();
    EXPECT_TRUE(w.re_IdleProgress->toPlainText().contains("trial: 2 s of silence: answer came"));
    EXPECT_TRUE(w.btn_IdleStart->isEnabled());
    EXPECT_FALSE(w.btn_IdleStop->isEnabled());
    EXPECT_EQ(f.reflector.Counts().Accepted, 2u);
}

TEST(IdleTimerWindow, SaysWhatIsMissingAndStops)
{
    struct Row {
        QString key;
        QString reflector;
        const char *says;
    } rows[] = {
        {QString(), QString(), "no key: set [Reflector] Key="},
        {Key, QString(), "Give the reflector's host"},
        {Key, QStringLiteral("127.0.0.1:0"), "the port must be a number"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.says);
        Fixture f(r.key);
        f.window->edt_IdleReflector->setText(r.reflector);
        f.window->btn_IdleStartClick();
        EXPECT_TRUE(f.window->lbl_IdleResult->text().contains(r.says)) << f.window->lbl_IdleResult->text().toStdString();
        EXPECT_FALSE(f.window->Running());
    }
    Fixture f;
    f.window->btn_IdleStartClick();
    ASSERT_TRUE(testutil::waitFor([&] { return f.window->Running(); }, 5s));
    f.window->btn_IdleStop->click();
    ASSERT_TRUE(testutil::waitFor([&] { return !f.window->Running(); }, 5s));
    EXPECT_TRUE(f.window->lbl_IdleResult->text().contains("not measured (stopped)")) << f.window->lbl_IdleResult->text().toStdString();
}

TEST(IdleTimerWindow, TheDialUpLineOnlyWithTheUsersConsent)
{
    Fixture f;
    auto &w = *f.window;
    testutil::ScratchDir dir;
    QFile book(dir.file("lines.ini"));
    ASSERT_TRUE(book.open(QIODevice::WriteOnly));
    book.write("[Idle]\nStepMs=10\nIdleTimeout=2\n");
    book.close();
    qputenv("IDLIX_PHONEBOOK", QFile::encodeName(dir.file("lines.ini")));
    w.cb_IdleKind->setCurrentIndex(TIdleTimerWindow::Line);
    EXPECT_EQ(w.se_IdleMax->value(), 3 * 3600);
    EXPECT_FALSE(w.edt_IdleReflector->isEnabled()) << "no reflector for the line";
    int asked = 0;
    bool agree = false;
    w.ConfirmLineDrop = [&] { ++asked; return agree; };
    std::optional<TIdleResult> told;
    w.OnResult = [&](const TIdleResult &r) { told = r; };
    w.btn_IdleStart->click();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(w.Running()) << "declined: nothing dialled";
    EXPECT_TRUE(w.re_IdleProgress->toPlainText().isEmpty());

    agree = true;
    w.btn_IdleStart->click();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(w.Running());
    ASSERT_TRUE(testutil::waitFor([&] { return told.has_value(); }, 10s)) << w.re_IdleProgress->toPlainText().toStdString();
    qunsetenv("IDLIX_PHONEBOOK");
    EXPECT_EQ(told->Kind, TIdleKind::Line);
    // Polled each second: the drop at 2 s is seen between the last poll and the next.
    EXPECT_TRUE(QRegularExpression("^line idle timer: 2 s \\(alive after [12] s, gone after [23] s\\)$")
                    .match(w.lbl_IdleResult->text())
                    .hasMatch())
        << w.lbl_IdleResult->text().toStdString();
    EXPECT_LT(told->Alive, told->Gone);
    EXPECT_TRUE(w.re_IdleProgress->toPlainText().contains("dialling Idle"));
    EXPECT_TRUE(w.btn_IdleStart->isEnabled());
    EXPECT_FALSE(w.Running());
}
