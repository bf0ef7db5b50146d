// Enter in a host field: the action runs on its chosen edge only, a held
// key's repeats do nothing, the field never sees Enter, and the press effect
// installed after it still moves the button.
#include "widgets/picturebutton.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct Field {
    QWidget window;
    QLineEdit *edit = new QLineEdit(&window);
    TPictureButton *button = new TPictureButton(&window);
    int actions = 0;
    explicit Field(TKeyEdge edge)
    {
        button->setGeometry(100, 10, 20, 20);
        InstallEnterAction(edit, edge, [this] { ++actions; });
        InstallEnterPressEffect(edit, button);
    }
    void Send(QEvent::Type type, Qt::Key key, bool repeat = false)
    {
        QKeyEvent event(type, key, Qt::NoModifier, QString(), repeat);
        QCoreApplication::sendEvent(edit, &event);
    }
};

} // namespace

TEST(EnterAction, RunsOnItsEdgeOnceAndSwallowsTheKey)
{
    const struct {
        TKeyEdge edge;
        int afterDown, afterRepeats, afterUp;
    } cases[] = {{TKeyEdge::Down, 1, 1, 1}, {TKeyEdge::Up, 0, 0, 1}};
    for (const auto &c : cases) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            SCOPED_TRACE(int(c.edge) * 1000 + key);
            Field f(c.edge);
            QSignalSpy returned(f.edit, &QLineEdit::returnPressed);
            const QPoint at = f.button->pos();
            f.Send(QEvent::KeyPress, key);
            EXPECT_EQ(f.actions, c.afterDown);
            EXPECT_EQ(f.button->pos(), at + QPoint(1, 1));
            // A held key repeats release/press pairs.
            for (int i = 0; i < 3; ++i) {
                f.Send(QEvent::KeyRelease, key, true);
                f.Send(QEvent::KeyPress, key, true);
            }
            EXPECT_EQ(f.actions, c.afterRepeats);
            EXPECT_EQ(f.button->pos(), at + QPoint(1, 1));
            f.Send(QEvent::KeyRelease, key);
            EXPECT_EQ(f.actions, c.afterUp);
            EXPECT_EQ(f.button->pos(), at);
            EXPECT_EQ(returned.count(), 0);
        }
    }
}

TEST(EnterAction, OtherKeysReachTheField)
{
    Field f(TKeyEdge::Down);
    QTest::keyClicks(f.edit, "host.test");
    QTest::keyClick(f.edit, Qt::Key_Backspace);
    EXPECT_EQ(f.edit->text(), "host.tes");
    EXPECT_EQ(f.actions, 0);
}
