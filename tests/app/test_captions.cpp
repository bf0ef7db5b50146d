// No caption is cut off: every visible label, check box, radio button, group
// title, column heading and list item of the window, each of its panels (the
// report after a real session), and its dialogs (the countdown, the about
// box, each tab of the preferences), measured in the face the
// window draws with against the box it is drawn in, and against whatever
// control stands on top of it.
#include "desktop/fonts.h"
#include "dialup/disconnect.h"
#include "shell/about.h"
#include "shell/mainform.h"
#include "shell/preferencesdialog.h"
#include "widgets/reportgrid.h"
#include "widgets/toolswitch.h"
#include "../support/testutil.h"
#include "program.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabWidget>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QString Name(const QWidget *w)
{
    return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                     : w->objectName();
}

// Collects every caption that does not fit, as "scene: control 'text' why".
class Captions {
public:
    QStringList cut;
    int measured = 0;

    // Measures every visible control under root.
    void Walk(QWidget *root, const QString &scene)
    {
        scene_ = scene;
        QList<QWidget *> all = root->findChildren<QWidget *>();
        all.prepend(root);
        for (QWidget *w : all) {
            if (!w->isVisible())
                continue;
            if (auto *grid = qobject_cast<TReportGrid *>(w))
                Grid(grid);
            else if (auto *header = qobject_cast<QHeaderView *>(w))
                Header(header);
            else if (auto *list = qobject_cast<QListWidget *>(w))
                List(list);
            if (auto *label = qobject_cast<QLabel *>(w))
                Label(label);
            else if (auto *button = qobject_cast<QAbstractButton *>(w))
                Button(button);
            else if (auto *group = qobject_cast<QGroupBox *>(w))
                Group(group);
        }
    }

private:
    void Fail(const QWidget *w, const QString &text, const QString &why)
    {
        cut << QStringLiteral("%1: %2 '%3' %4").arg(scene_, Name(w), text, why);
    }

    // The text's rectangle in w's parent must not be covered by a control
    // stacked above w, nor run outside the parent.
    void Uncovered(const QWidget *w, const QRect &textInW, const QString &text)
    {
        const QWidget *parent = w->parentWidget();
        if (!parent || w->isWindow())
            return;
        const QRect r = textInW.translated(w->pos());
        if (!parent->rect().contains(r))
            Fail(w, text, QStringLiteral("runs outside %1").arg(Name(parent)));
        const QObjectList &siblings = parent->children();
        for (qsizetype i = siblings.indexOf(const_cast<QWidget *>(w)) + 1; i < siblings.size(); ++i) {
            auto *s = qobject_cast<QWidget *>(siblings[i]);
            if (s && s->isVisible() && !s->isWindow() && s->geometry().intersects(r))
                Fail(w, text, QStringLiteral("runs under %1").arg(Name(s)));
        }
    }

    void Label(QLabel *label)
    {
        const QString text = label->text();
        if (text.isEmpty() || !label->pixmap().isNull() || Qt::mightBeRichText(text))
            return;
        ++measured;
        const int m = label->margin();
        const QRect box = label->contentsRect().adjusted(m, m, -m, -m);
        const QFontMetrics fm = label->fontMetrics();
        const int flags = int(label->alignment() & Qt::AlignHorizontal_Mask)
                          | (label->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect need = fm.boundingRect(QRect(box.topLeft(), QSize(box.width(), 10000)), flags, text);
        if (label->wordWrap()) {
            for (const QString &word : text.split(' ', Qt::SkipEmptyParts)) {
                if (fm.horizontalAdvance(word) > box.width())
                    Fail(label, text, QStringLiteral("has a word wider than %1").arg(box.width()));
            }
        } else if (need.width() > box.width()) {
            Fail(label, text, QStringLiteral("needs %1 pixels, has %2").arg(need.width()).arg(box.width()));
        }
        if (need.height() > box.height())
            Fail(label, text, QStringLiteral("needs %1 pixels of height, has %2")
                                  .arg(need.height()).arg(box.height()));
        Uncovered(label, QStyle::alignedRect(label->layoutDirection(), label->alignment(),
                                             need.size().boundedTo(box.size()), box),
                  text);
    }

    // A check box's or radio button's text goes beside its indicator, in the
    // place the style gives it.
    void Button(QAbstractButton *button)
    {
        const QString text = button->text();
        if (text.isEmpty())
            return;
        ++measured;
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = text;
        QStyle::SubElement contents = QStyle::SE_PushButtonContents;
        if (qobject_cast<QCheckBox *>(button))
            contents = QStyle::SE_CheckBoxContents;
        else if (qobject_cast<QRadioButton *>(button))
            contents = QStyle::SE_RadioButtonContents;
        const QRect box = button->style()->subElementRect(contents, &opt, button);
        const QSize need = button->fontMetrics().size(Qt::TextShowMnemonic, text);
        if (need.width() > box.width())
            Fail(button, text, QStringLiteral("needs %1 pixels, has %2").arg(need.width()).arg(box.width()));
        if (need.height() > box.height())
            Fail(button, text, QStringLiteral("needs %1 pixels of height, has %2")
                                   .arg(need.height()).arg(box.height()));
        Uncovered(button, QStyle::alignedRect(button->layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter,
                                              need.boundedTo(box.size()), box),
                  text);
    }

    void Group(QGroupBox *group)
    {
        if (group->title().isEmpty())
            return;
        ++measured;
        QStyleOptionGroupBox opt;
        opt.initFrom(group);
        opt.text = group->title();
        opt.textAlignment = group->alignment();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        opt.lineWidth = 1;
        const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &opt,
                                                           QStyle::SC_GroupBoxLabel, group);
        if (!group->rect().contains(title))
            Fail(group, group->title(), QStringLiteral("title runs outside its box"));
    }

    void Header(QHeaderView *header)
    {
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int i = 0; i < header->count(); ++i) {
            const QString text =
                header->model()->headerData(i, header->orientation(), Qt::DisplayRole).toString();
            if (text.isEmpty() || header->isSectionHidden(i))
                continue;
            ++measured;
            const int need = header->fontMetrics().horizontalAdvance(text) + 2 * margin;
            if (need > header->sectionSize(i))
                Fail(header, text, QStringLiteral("needs %1 pixels, section has %2")
                                       .arg(need).arg(header->sectionSize(i)));
        }
    }

    // The report's headings, drawn 3 pixels into their cells.
    void Grid(TReportGrid *grid)
    {
        const QFontMetrics fm(grid->font());
        for (int c = 0; c < grid->columnCount(); ++c) {
            const QString text = grid->Cells(c, 0);
            ++measured;
            const int need = 3 + fm.horizontalAdvance(text);
            if (need > grid->columnWidth(c) - 1)
                Fail(grid, text, QStringLiteral("needs %1 pixels, column has %2")
                                     .arg(need).arg(grid->columnWidth(c) - 1));
        }
    }

    // A short list shows all its items whole, without scroll bars.
    void List(QListWidget *list)
    {
        const QFontMetrics fm(list->font());
        const int indicator = list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, list);
        for (int i = 0; i < list->count(); ++i) {
            const QString text = list->item(i)->text();
            ++measured;
            const int need = indicator + 8 + fm.horizontalAdvance(text);
            if (need > list->viewport()->width())
                Fail(list, text, QStringLiteral("needs %1 pixels, list has %2")
                                     .arg(need).arg(list->viewport()->width()));
        }
        if (list->verticalScrollBar()->maximum() > 0 || list->horizontalScrollBar()->maximum() > 0)
            Fail(list, QString(), QStringLiteral("needs a scroll bar for its %1 items").arg(list->count()));
    }

    QString scene_;
};

// The program as main() makes it, on an echo session to this machine that
// shows its report when stopped.
struct Program : apptest::Program {
    TMainForm *form = main.idlix->Form.get();
    Program()
    {
        testutil::writeFile(dir.file("idlix2.ini"), "[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\n"
                                                    "Host=127.0.0.1\r\nOptions=3\r\n");
        form->LoadSettings();
    }
    template <typename T> T *Get(const char *name) const { return form->findChild<T *>(name); }
};

} // namespace

TEST(Captions, TheWindowDrawsInAFaceWhoseWidthsFitItsBoxes)
{
    Program p;
    const QString face = QFontInfo(p.form->font()).family();
    EXPECT_TRUE(face == "Tahoma" || face == "Liberation Sans")
        << "the window draws in " << face.toStdString()
        << ": install fonts-liberation2 (scripts/deps.sh run installs it)";
    EXPECT_EQ(desktop::WindowFaces().mid(0, 2), (QStringList{"Tahoma", "Liberation Sans"}));
}

TEST(Captions, EveryCaptionFitsItsBox)
{
    Program p;
    Captions captions;
    captions.Walk(p.form, "window");

    // The option panels, opened as the user opens them.
    for (const char *opener : {"AntiIdle2", "Latency1", "Ping5", "Traceroute2", "DialUpOptions1"}) {
        QAction *item = p.Get<QAction>(opener);
        ASSERT_NE(item, nullptr) << opener;
        item->trigger();
        captions.Walk(p.form, opener);
        p.Get<QLabel>("btn_No")->setFocus();
        p.form->btn_NoClick();
    }
    // The feature panels, and the proxy panel that nothing opens.
    for (const char *name : {"pnl_Proxy", "pnl_Resolve", "pnl_Finger", "pnl_Ping", "pnl_Trace",
                             "pnl_ISPTree", "pnl_Servers"}) {
        QWidget *panel = p.Get<QWidget>(name);
        ASSERT_NE(panel, nullptr) << name;
        panel->raise();
        panel->show();
        captions.Walk(panel, name);
        panel->hide();
    }
    // The report of a session just run, with its start and end.
    TToolSwitch &antiIdle = p.form->Switch(TToolId::AntiIdle);
    antiIdle.Click();
    ASSERT_TRUE(antiIdle.Running());
    testutil::pump(300ms);
    antiIdle.Click();
    auto *report = p.Get<QWidget>("pnl_AIReport");
    ASSERT_TRUE(testutil::waitFor([&] { return report->isVisible(); }, 5s));
    QLabel *time = p.Get<QLabel>("lbl_RptTime");
    ASSERT_TRUE(time->text().contains("Session End: "));
    // Start and end on one line, not wrapped onto the box's second line.
    EXPECT_LE(time->fontMetrics().horizontalAdvance(time->text()), time->contentsRect().width())
        << time->text().toStdString();
    captions.Walk(report, "report");
    // The countdown and about dialogs.
    {
        Tfrm_Disc countdown(p.form, 100000);
        countdown.show();
        captions.Walk(&countdown, "countdown");
    }
    {
        Tfrm_About about(p.form);
        about.show();
        captions.Walk(&about, "about");
    }
    // The preferences, tab by tab.
    {
        TPreferencesDialog prefs(config::TOptions{}, p.form);
        prefs.show();
        ASSERT_GT(prefs.Tabs->count(), 1);
        for (int i = 0; i < prefs.Tabs->count(); ++i) {
            prefs.Tabs->setCurrentIndex(i);
            captions.Walk(&prefs, "preferences " + prefs.Tabs->tabText(i));
        }
    }

    EXPECT_TRUE(captions.cut.isEmpty()) << captions.cut.join('\n').toStdString();
    // The walk saw the captions it is meant to see.
    EXPECT_GT(captions.measured, 100);
}
