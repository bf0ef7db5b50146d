// The traceroute tool on a real window: the switch and its panel, the header
// and the columns under it, the options reaching the engine, traces to
// loopback in both modes, Enter and the press effects, Cancel, and the options
// arrow.
#include "tracetest.h"

#include "platform/icmpecho.h"
#include "widgets/picturebutton.h"
#include "../support/ctl.h"

#include <QAction>
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

using namespace std::chrono_literals;
using tracetest::Lines;
using tracetest::MaskedLines;

namespace {

class TraceTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = std::make_unique<tracetest::Window>();
        f = w->form.get();
        trc = w->trc;
    }
    // Tests that send echoes skip where this process may not.
    bool IcmpAllowed()
    {
        QString hint;
        if (platform::IcmpAvailable(&hint))
            return true;
        skipReason = hint.toStdString();
        return false;
    }
    std::unique_ptr<tracetest::Window> w;
    TMainForm *f = nullptr;
    TTraceTool *trc = nullptr;
    std::string skipReason;
};

} // namespace

TEST_F(TraceTool, SwitchShowsThePanelWithItsGaugeAndClearsItWhenTurnedOff)
{
    EXPECT_EQ(Ctl<QAction>(f, "TraceRoute1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
    EXPECT_TRUE(Ctl<TPictureButton>(f, "btn_Trace")->isEnabled());
    Ctl<QProgressBar>(f, "Gauge1")->setValue(40);
    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    EXPECT_FALSE(Ctl<QLabel>(f, "img_TrcGreen")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_TrcRed")->isHidden());
    EXPECT_TRUE(Ctl<TPictureButton>(f, "img_TrcArrow")->isHidden());
    EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Trace")->ImageIndex(), 1);
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Trace")->isHidden());
    EXPECT_FALSE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
    EXPECT_FALSE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
    EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->value(), Ctl<QProgressBar>(f, "Gauge1")->minimum());
    for (QWidget *child : {(QWidget *)trc->edt_TrcHost, (QWidget *)trc->re_Trace,
                           (QWidget *)trc->TraceHeader, (QWidget *)trc->btn_TrcYes,
                           (QWidget *)trc->btn_TrcNo, (QWidget *)trc->lbl_TrcTrace,
                           (QWidget *)trc->lbl_TrcCancel})
        EXPECT_EQ(child->parentWidget(), Ctl<QFrame>(f, "pnl_Trace")) << child->objectName().toStdString();
    EXPECT_EQ(trc->lbl_TrcTrace->text(), "Trace");
    EXPECT_EQ(trc->lbl_TrcCancel->text(), "Cancel");
    EXPECT_EQ(Ctl<QFrame>(f, "pnl_Trace")->findChild<QLabel *>("lbl_TrcHost")->text(), "Host:");
    EXPECT_EQ(Ctl<QFrame>(f, "pnl_Trace")->findChild<QLabel *>("pnl_Trace_title")->text(), "Traceroute");
    EXPECT_TRUE(trc->re_Trace->isReadOnly());
    EXPECT_EQ(trc->re_Trace->lineWrapMode(), QTextEdit::NoWrap);
    EXPECT_EQ(f->findChild<TMSTrace *>("MSTrace1"), trc->MSTrace1);

    // Off (from the menu), with and without another wide panel on the backdrop.
    for (bool servers : {false, true}) {
        if (servers)
            f->AcquireBackdrop();   // as the server list does while it is open
        trc->edt_TrcHost->setText("host");
        trc->re_Trace->setPlainText("old output");
        f->SetStatus("Status: busy");
        Ctl<QAction>(f, "TraceRoute1")->trigger();
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Trace")->isHidden());
        EXPECT_TRUE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
        EXPECT_EQ(Ctl<QLabel>(f, "img_Bg2")->isHidden(), !servers);
        EXPECT_FALSE(Ctl<QLabel>(f, "img_TrcRed")->isHidden());
        EXPECT_TRUE(Ctl<QLabel>(f, "img_TrcGreen")->isHidden());
        EXPECT_FALSE(Ctl<TPictureButton>(f, "img_TrcArrow")->isHidden());
        EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Trace")->ImageIndex(), 0);
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
        EXPECT_TRUE(trc->edt_TrcHost->text().isEmpty());
        EXPECT_TRUE(trc->re_Trace->toPlainText().isEmpty());
        Ctl<QAction>(f, "TraceRoute1")->trigger();
        EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Trace")->isHidden());
        EXPECT_FALSE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
    }
}

TEST_F(TraceTool, HeaderSectionsKeepTheirLimits)
{
    QHeaderView *h = trc->TraceHeader;
    ASSERT_EQ(h->count(), 3);
    const struct {
        const char *caption;
        Qt::Alignment align;
        int width;
    } sections[] = {{"Hop", Qt::AlignCenter, 34},
                    {"Time (ms)", Qt::AlignCenter, 54},
                    {"Host", Qt::AlignLeft | Qt::AlignVCenter, 300}};
    for (int i = 0; i < 3; ++i) {
        QAbstractItemModel *m = h->model();
        EXPECT_EQ(m->headerData(i, Qt::Horizontal).toString(), sections[i].caption);
        EXPECT_EQ(m->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                  sections[i].align);
        EXPECT_EQ(h->sectionSize(i), sections[i].width) << i;
    }
    EXPECT_FALSE(h->sectionsClickable());
    EXPECT_EQ(h->sectionResizeMode(1), QHeaderView::Fixed);
    EXPECT_EQ(h->sectionResizeMode(2), QHeaderView::Fixed);

    // The Hop section moves between 32 and 44 pixels only.
    const struct {
        int asked, kept;
    } drags[] = {{40, 40}, {60, 44}, {10, 32}, {33, 33}, {34, 34}};
    for (const auto &d : drags) {
        h->resizeSection(0, d.asked);
        EXPECT_EQ(h->sectionSize(0), d.kept) << d.asked;
        EXPECT_EQ(h->sectionPosition(2), d.kept + 54) << d.asked;
    }
}

// Where a character of the pane's first line is drawn, in header coordinates.
static QRectF CharBox(QTextEdit *pane, QHeaderView *header, int pos)
{
    QTextCursor c(pane->document());
    c.setPosition(pos);
    const QRect at = pane->cursorRect(c);
    c.setPosition(pos + 1);
    const QRect next = pane->cursorRect(c);
    const QPoint left = pane->viewport()->mapTo(header->parentWidget(), at.topLeft());
    const QPoint right = pane->viewport()->mapTo(header->parentWidget(), next.topLeft());
    return QRectF(left.x() - header->x(), left.y(), right.x() - left.x(), at.height());
}

TEST_F(TraceTool, HopColumnsLineUpUnderTheHeader)
{
    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    QHeaderView *h = trc->TraceHeader;
    // Round trips of one to four digits, short and long host names; the
    // columns follow the Hop section as it is dragged, for lines already
    // written too.
    for (const QString rtt : {"7", "31", "305", "4711"}) {
        for (const QString name : {"r1.idlix.test", "a-much-longer-name.example.test"}) {
            const QString line = QStringLiteral("    3\t") + rtt + QStringLiteral("\t") + name;
            trc->re_Trace->clear();
            h->resizeSection(0, 34);
            trc->AddTraceLine(QStringLiteral("Error 11001: Authoritative Host not found"));
            trc->AddTraceLine(line);
            const int start = trc->re_Trace->document()->lastBlock().position();
            const int rttAt = start + line.indexOf(rtt), hostAt = start + line.indexOf(name);
            for (int hopWidth : {34, 44, 32}) {
                SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(hopWidth).arg(rtt, name).toStdString());
                h->resizeSection(0, hopWidth);
                const QRectF first = CharBox(trc->re_Trace, h, rttAt);
                const QRectF last = CharBox(trc->re_Trace, h, rttAt + rtt.size() - 1);
                const qreal centre = (first.left() + last.right()) / 2;
                const qreal timeCentre = h->sectionPosition(1) + h->sectionSize(1) / 2.0;
                EXPECT_NEAR(centre, timeCentre, 1.5);
                const QRectF host = CharBox(trc->re_Trace, h, hostAt);
                EXPECT_GE(host.left(), h->sectionPosition(2));
                EXPECT_LE(host.left(), h->sectionPosition(2) + 6);
            }
        }
    }
}

TEST_F(TraceTool, TimeOutsBeyondTheEnginesLimitAreCut)
{
    const struct {
        int seconds, ms;
    } cases[] = {{1, 1000}, {5, 5000}, {65, 65000}, {66, 65535}, {1000, 65535}, {0, 0}, {-3, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(TTraceTool::TimeOutMs(c.seconds), c.ms) << c.seconds;
}

TEST_F(TraceTool, OptionsReachTheEngineAtEachTrace)
{
    if (!IcmpAllowed())
        GTEST_SKIP() << skipReason;
    // Stored settings the options do not touch.
    EXPECT_EQ(trc->MSTrace1->TimeToLive(), 64);
    EXPECT_TRUE(trc->MSTrace1->Resolve);
    EXPECT_EQ(trc->MSTrace1->TimeOut(), 15000);
    EXPECT_TRUE(trc->MSTrace1->SendTestPacket);
    // The options as a first start finds them (no settings file).
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcBytes")->value(), 56);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcTO")->value(), 5);
    EXPECT_TRUE(Ctl<QCheckBox>(f, "cb_TrcTestPack")->isChecked());
    EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_TrcMode")->ItemIndex(), 0);

    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    const struct {
        int bytes, seconds;
        bool test;
        int mode;
        int size, ms;
        TWSMode engineMode;
    } cases[] = {
        {56, 5, true, 0, 56, 5000, wsmAsync},
        {3, 100, false, 1, 8, 65535, wsmBlocking},
        {1000, 1, true, -1, 1000, 1000, wsmBlocking},   // no item: the mode stays
        {65535, 1000, false, 0, 65535, 65535, wsmAsync},
    };
    for (const auto &c : cases) {
        Ctl<QSpinBox>(f, "se_TrcBytes")->setValue(c.bytes);
        tracetest::SetOptions(*f, c.mode, c.test, c.seconds);
        tracetest::Watch watch(*f, *trc);
        // An empty host ends the run at once, after the options were taken.
        ASSERT_TRUE(watch.Trace(""));
        EXPECT_EQ(trc->MSTrace1->PacketSize(), c.size) << c.bytes;
        EXPECT_EQ(trc->MSTrace1->TimeOut(), c.ms) << c.seconds;
        EXPECT_EQ(trc->MSTrace1->SendTestPacket, c.test);
        EXPECT_EQ(trc->MSTrace1->Mode, c.engineMode) << c.mode;
        EXPECT_EQ(trc->MSTrace1->TimeToLive(), 64);
        EXPECT_EQ(Lines(trc->re_Trace), QStringList{"Error -2147483646: No Address Specified"});
        EXPECT_EQ(watch.seen, QStringList{"error [0/100] Status: Routing halted - Error."});
        EXPECT_TRUE(trc->edt_TrcHost->isEnabled());
    }
}

TEST_F(TraceTool, TraceToLoopbackInBothModes)
{
    if (!IcmpAllowed())
        GTEST_SKIP() << skipReason;
    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    for (int mode : {0, 1}) {
        SCOPED_TRACE(tracetest::ModeName(mode));
        // Without the test echo the gauge stands still and fills at the end.
        Ctl<QProgressBar>(f, "Gauge1")->setMaximum(100);
        tracetest::SetOptions(*f, mode, false, 2);
        trc->re_Trace->setPlainText("left from before");
        tracetest::Watch watch(*f, *trc);
        ASSERT_TRUE(watch.Trace("127.0.0.1"));
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (QStringList{"    1\tRTT\tlocalhost\treached", "localhost reached in 1 hops."}));
        EXPECT_EQ(watch.seen, (QStringList{"data [0/100] Status: Tracing to 127.0.0.1",
                                           "finished [100/100] Status: localhost reached in 1 hops."}));
        EXPECT_TRUE(trc->edt_TrcHost->isEnabled());

        // With it: loopback is one hop away, and the gauge counts to it.
        Ctl<QCheckBox>(f, "cb_TrcTestPack")->setChecked(true);
        ASSERT_TRUE(watch.Trace("127.0.0.1"));
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (QStringList{"    1\tRTT\tlocalhost\treached",
                               "localhost reached in 1 hops. (expected: 1)"}));
        EXPECT_EQ(watch.seen,
                  (QStringList{"test [0/1] Status: Tracing...  1 hops expected",
                               "data [1/1] Status: Tracing...  1 hops expected",
                               "finished [1/1] Status: localhost reached in 1 hops. (expected: 1)"}));
        const int rtt = Lines(trc->re_Trace)[0].split('\t')[1].toInt();
        EXPECT_LT(rtt, 1000);
    }
}

TEST_F(TraceTool, EnterPressesTheButtonAndTracesWhenLetGo)
{
    if (!IcmpAllowed())
        GTEST_SKIP() << skipReason;
    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    tracetest::SetOptions(*f, 1, true, 2);
    tracetest::Watch watch(*f, *trc);
    trc->edt_TrcHost->setText("127.0.0.1");
    int reachedField = 0;
    QObject::connect(trc->edt_TrcHost, &QLineEdit::returnPressed, [&] { ++reachedField; });
    const QPoint button = trc->btn_TrcYes->pos(), caption = trc->lbl_TrcTrace->pos();
    QTest::keyPress(trc->edt_TrcHost, Qt::Key_Return);
    EXPECT_EQ(trc->btn_TrcYes->pos(), button + QPoint(1, 1));
    EXPECT_EQ(trc->lbl_TrcTrace->pos(), caption + QPoint(1, 1));
    EXPECT_TRUE(watch.seen.isEmpty()) << "traced on key down";
    EXPECT_FALSE(Ctl<QLabel>(f, "StatusLBL")->text().startsWith("Status: Tracing"));
    // Blocking mode: the whole trace runs inside the key's release.
    QTest::keyRelease(trc->edt_TrcHost, Qt::Key_Return);
    EXPECT_EQ(trc->btn_TrcYes->pos(), button);
    EXPECT_EQ(trc->lbl_TrcTrace->pos(), caption);
    EXPECT_EQ(watch.ends, 1);
    EXPECT_EQ(MaskedLines(trc->re_Trace).last(), "localhost reached in 1 hops. (expected: 1)");
    EXPECT_EQ(reachedField, 0);
}

TEST_F(TraceTool, ButtonsAndArrowMoveWhilePressed)
{
    // Pressing a picture or its caption moves both; letting go outside clicks
    // nothing and moves them back.
    auto press = [](QWidget *pressed, QWidget *button, QWidget *caption) {
        SCOPED_TRACE(pressed->objectName().toStdString());
        const QPoint b = button->pos();
        const QPoint l = caption ? caption->pos() : QPoint();
        QTest::mousePress(pressed, Qt::LeftButton, {}, QPoint(2, 2));
        EXPECT_EQ(button->pos(), b + QPoint(1, 1));
        if (caption) {
            EXPECT_EQ(caption->pos(), l + QPoint(1, 1));
        }
        QTest::mouseRelease(pressed, Qt::LeftButton, {}, QPoint(-50, -50));
        EXPECT_EQ(button->pos(), b);
        if (caption) {
            EXPECT_EQ(caption->pos(), l);
        }
    };
    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    f->SetStatus("Status: before");
    press(trc->btn_TrcYes, trc->btn_TrcYes, trc->lbl_TrcTrace);
    press(trc->lbl_TrcTrace, trc->btn_TrcYes, trc->lbl_TrcTrace);
    press(trc->btn_TrcNo, trc->btn_TrcNo, trc->lbl_TrcCancel);
    press(trc->lbl_TrcCancel, trc->btn_TrcNo, trc->lbl_TrcCancel);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: before");
    Ctl<TPictureButton>(f, "btn_Trace")->Click();   // closed: the arrow shows
    press(Ctl<TPictureButton>(f, "img_TrcArrow"), Ctl<TPictureButton>(f, "img_TrcArrow"), nullptr);
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_traceOptions")->isHidden());
}

TEST_F(TraceTool, CancelEndsALookupAndDoesNothingWhenIdle)
{
    if (!IcmpAllowed())
        GTEST_SKIP() << skipReason;
    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    // Nothing runs: Cancel leaves everything as it is.
    trc->re_Trace->setPlainText("old output");
    f->SetStatus("Status: before");
    QTest::mouseClick(trc->lbl_TrcCancel, Qt::LeftButton);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: before");
    EXPECT_EQ(Lines(trc->re_Trace), QStringList{"old output"});

    // A name is looked up on the resolver's worker: Cancel ends it at once.
    tracetest::SetOptions(*f, 0, true, 2);
    tracetest::Watch watch(*f, *trc);
    trc->edt_TrcHost->setText("localhost");
    QTest::mouseClick(trc->lbl_TrcTrace, Qt::LeftButton);
    ASSERT_EQ(trc->MSTrace1->State(), TMSicmpTask::TState::LookingUp);
    EXPECT_FALSE(trc->edt_TrcHost->isEnabled());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Tracing to localhost");
    QTest::mouseClick(trc->btn_TrcNo, Qt::LeftButton);
    EXPECT_FALSE(trc->MSTrace1->Busy());
    EXPECT_EQ(Lines(trc->re_Trace), QStringList{"Error -2147483647: Cancelled Asynchronous lookup"});
    EXPECT_EQ(watch.seen, QStringList{"error [0/100] Status: Routing halted - Error."});
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Routing halted.");
    EXPECT_TRUE(trc->edt_TrcHost->isEnabled());
    testutil::pump(300ms);
    EXPECT_EQ(watch.ends, 1);
}

TEST_F(TraceTool, OptionsArrowOpensThePanelWithItsQuestion)
{
    const struct {
        const char *name, *text;
    } captions[] = {{"lbl_TrcBytes", "Packet Size:"}, {"lbl_TrcBytesUnit", "bytes"},
                    {"lbl_TrcTO", "Time-out:"}, {"lbl_TrcTOUnit", "seconds"}};
    for (const auto &c : captions) {
        auto *label = Ctl<QFrame>(f, "pnl_traceOptions")->findChild<QLabel *>(c.name);
        ASSERT_NE(label, nullptr) << c.name;
        EXPECT_EQ(label->text(), c.text);
    }
    EXPECT_EQ(Ctl<QCheckBox>(f, "cb_TrcTestPack")->text(), "Send Test Packet");
    EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_TrcMode")->title(), "Mode");
    ASSERT_EQ(Ctl<TRadioGroup>(f, "rg_TrcMode")->Count(), 2);
    EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_TrcMode")->Button(0)->text(), "Asynchronous");
    EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_TrcMode")->Button(1)->text(), "Blocking");
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcBytes")->minimum(), 1);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcBytes")->maximum(), 65535);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcTO")->minimum(), 1);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcTO")->maximum(), 1000);

    Ctl<QSpinBox>(f, "se_TrcBytes")->setValue(300);   // not saved: the opener reloads the file
    for (bool fromMenu : {false, true}) {
        f->SetStatus("Status: before");
        if (fromMenu)
            Ctl<QAction>(f, "Traceroute2")->trigger();
        else
            Ctl<TPictureButton>(f, "img_TrcArrow")->Click();
        EXPECT_FALSE(Ctl<QFrame>(f, "pnl_traceOptions")->isHidden());
        EXPECT_EQ(Ctl<TPictureButton>(f, "img_TrcArrow")->ImageIndex(), 1);
        EXPECT_EQ(Ctl<QLabel>(f, "lbl_Question")->text(), "Save changes to Traceroute Options?");
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
        EXPECT_FALSE(Ctl<TPictureButton>(f, "btn_Yes")->isHidden());
        EXPECT_FALSE(Ctl<TPictureButton>(f, "btn_No")->isHidden());
        EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcBytes")->value(), 56);
        // A second click answers No.
        Ctl<TPictureButton>(f, "img_TrcArrow")->Click();
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_traceOptions")->isHidden());
        EXPECT_EQ(Ctl<TPictureButton>(f, "img_TrcArrow")->ImageIndex(), 0);
        EXPECT_TRUE(Ctl<TPictureButton>(f, "btn_No")->isHidden());
        EXPECT_TRUE(Ctl<QLabel>(f, "lbl_Question")->text().isEmpty());
    }
}

// A trace that failed takes its gauge with it, so an option panel opened
// after shows its save question whole; each trace brings the gauge back.
TEST_F(TraceTool, TheGaugeGoesWithTheTraceSoTheSaveQuestionShowsWhole)
{
    auto *gauge = Ctl<QProgressBar>(f, "Gauge1");
    Ctl<TPictureButton>(f, "btn_Trace")->Click();
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool shownAtStart = false;
        QObject::connect(gauge, &QProgressBar::valueChanged, trc, [&] { shownAtStart |= gauge->isVisible(); });
        gauge->setValue(5);
        trc->btn_TrcYes->Click();   // no host: the trace fails at once
        EXPECT_TRUE(shownAtStart);
        QObject::disconnect(gauge, &QProgressBar::valueChanged, trc, nullptr);
        EXPECT_EQ(Lines(trc->re_Trace), QStringList{"Error -2147483646: No Address Specified"});
        EXPECT_TRUE(gauge->isHidden());
        Ctl<TPictureButton>(f, "img_LatArrow")->Click();
        EXPECT_EQ(Ctl<QLabel>(f, "lbl_Question")->text(), "Save changes to Latency Options?");
        EXPECT_TRUE(gauge->isHidden());
        Ctl<TPictureButton>(f, "img_LatArrow")->Click();   // No
    }
}
