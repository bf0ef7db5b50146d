// The ISP tree on a window without the test network: the panel and its
// controls, opening, closing with the backdrop shared, Map of an empty host,
// and Save to File through the dialog: the empty tree, the overwrite
// question, a cancelled dialog and a file that cannot be written.
#include "lookuptools.h"

#include "widgets/picturebutton.h"
#include "../support/ctl.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using lookuptest::Nodes;

namespace {

class ISPTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = std::make_unique<lookuptest::Window>();
        f = w->form.get();
        isp = w->isp;
    }
    // Runs Save to File; 'answer' works the dialog (and what it opens) once
    // it is up.
    void Save(std::function<void(QFileDialog *)> answer)
    {
        QTimer::singleShot(0, isp, [this, answer] { answer(isp->SaveDialog()); });
        isp->btn_IspSave->Click();
    }
    static QByteArray Read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    std::unique_ptr<lookuptest::Window> w;
    TMainForm *f = nullptr;
    TISPTree *isp = nullptr;
};

// Clicks the button of the message box now open.
void Answer(QMessageBox::StandardButton which)
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    box->button(which)->click();
}

} // namespace

TEST_F(ISPTree, PanelHoldsItsControls)
{
    EXPECT_TRUE(Ctl<QAction>(f, "ISPTree1")->isEnabled());
    EXPECT_EQ(Ctl<QAction>(f, "ISPTree1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_I));
    EXPECT_EQ(isp->WSocket2->objectName(), "WSocket2");
    EXPECT_EQ(isp->tv_ISP->indentation(), 22);
    EXPECT_EQ(isp->tv_ISP->iconSize(), QSize(19, 17));
    EXPECT_EQ(isp->tv_ISP->palette().color(QPalette::Base), QColor(Qt::white));
    const struct {
        TPictureButton *button;
        QLabel *label;
        const char *name, *text;
    } buttons[] = {
        {isp->btn_ISPMap, isp->lbl_ISPMap, "lbl_ISPMap", "Map ISP"},
        {isp->btn_ISPCancel, isp->lbl_ISPCancel, "lbl_ISPCancel", "Cancel"},
        {isp->btn_IspSave, isp->lbl_IspSave, "lbl_IspSave", "Save to File"},
        {isp->btn_ISPClose, isp->lbl_ISPClose, "lbl_ISPClose", "Close"},
    };
    for (const auto &b : buttons) {
        EXPECT_EQ(b.label->objectName(), b.name);
        EXPECT_EQ(b.label->text(), b.text);
        EXPECT_EQ(b.button->parentWidget(), Ctl<QFrame>(f, "pnl_ISPTree"));
        EXPECT_EQ(b.button->CaptionLabel(), b.label);
    }
    QFileDialog *d = isp->SaveDialog();
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(d->defaultSuffix(), "txt");
    EXPECT_EQ(d->nameFilters(), QStringList({"Text Document (*.txt)", "All Files (*)"}));
    EXPECT_FALSE(d->testOption(QFileDialog::DontConfirmOverwrite));
}

TEST_F(ISPTree, MenuOpensOnlyCloseCloses)
{
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_ISPTree")->isHidden());
    for (int i = 0; i < 2; ++i) {
        Ctl<QAction>(f, "ISPTree1")->trigger();
        EXPECT_FALSE(Ctl<QFrame>(f, "pnl_ISPTree")->isHidden());
        EXPECT_FALSE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
    }
    // Close keeps the backdrop while another wide panel stands on it.
    for (bool other : {true, false}) {
        SCOPED_TRACE(other ? "another panel open" : "alone");
        if (other)
            f->AcquireBackdrop();
        Ctl<QAction>(f, "ISPTree1")->trigger();
        isp->edt_ISPHost->setText("host");
        new QTreeWidgetItem(isp->tv_ISP, {"node (10.0.0.1)"});
        Ctl<QProgressBar>(f, "Gauge1")->show();
        isp->btn_ISPClose->Click();
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_ISPTree")->isHidden());
        EXPECT_TRUE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
        EXPECT_EQ(Ctl<QLabel>(f, "img_Bg2")->isHidden(), !other);
        EXPECT_TRUE(isp->edt_ISPHost->text().isEmpty());
        EXPECT_EQ(isp->tv_ISP->topLevelItemCount(), 0);
        if (other)
            f->ReleaseBackdrop();
    }
}

TEST_F(ISPTree, EmptyHostIsRefusedByTheLookupWithItsText)
{
    Ctl<QAction>(f, "ISPTree1")->trigger();
    QTest::keyClick(isp->edt_ISPHost, Qt::Key_Return);
    EXPECT_EQ(w->messages, QStringList{"DNS lookup: invalid host name."});
    EXPECT_EQ(isp->Run.MapState, TISPTree::TMapState::Idle);
    EXPECT_FALSE(isp->Run.ScanActive);
    EXPECT_TRUE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
}

TEST_F(ISPTree, EnterGivesMapThePressEffect)
{
    Ctl<QAction>(f, "ISPTree1")->trigger();
    const QPoint button = isp->btn_ISPMap->pos(), caption = isp->lbl_ISPMap->pos();
    QTest::keyPress(isp->edt_ISPHost, Qt::Key_Return);
    EXPECT_EQ(isp->btn_ISPMap->pos(), button + QPoint(1, 1));
    EXPECT_EQ(isp->lbl_ISPMap->pos(), caption + QPoint(1, 1));
    QTest::keyRelease(isp->edt_ISPHost, Qt::Key_Return);
    EXPECT_EQ(isp->btn_ISPMap->pos(), button);
    EXPECT_EQ(isp->lbl_ISPMap->pos(), caption);
}

TEST_F(ISPTree, SaveWritesTheTreeAndAsksBeforeReplacingAFile)
{
    Ctl<QAction>(f, "ISPTree1")->trigger();
    QTemporaryDir dir;
    const QString path = dir.filePath("tree.txt");

    // An empty tree, to a name without an extension: "txt" is added.
    Save([&](QFileDialog *d) {
        d->selectFile(dir.filePath("tree"));
        static_cast<QDialog *>(d)->accept();   // as the dialog's Save button does
    });
    EXPECT_EQ(Read(path), QByteArray());

    // Three nodes over it: the dialog asks first; No keeps the old file.
    for (const char *name : {"a.test (10.0.0.1)", "b.test (10.0.0.2)", "c.test (10.0.0.3)"})
        new QTreeWidgetItem(isp->tv_ISP, {name});
    for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        bool asked = false;
        Save([&](QFileDialog *d) {
            d->selectFile(path);
            QTimer::singleShot(0, isp, [&] {
                asked = QApplication::activeModalWidget() != d;
                Answer(answer);
                if (answer == QMessageBox::No)
                    d->reject();
            });
            static_cast<QDialog *>(d)->accept();   // as the dialog's Save button does
        });
        EXPECT_TRUE(asked);
        EXPECT_EQ(Read(path), answer == QMessageBox::Yes
                                  ? QByteArray("a.test (10.0.0.1)\r\nb.test (10.0.0.2)\r\nc.test (10.0.0.3)\r\n")
                                  : QByteArray());
    }

    // A cancelled dialog writes nothing.
    isp->tv_ISP->clear();
    Save([](QFileDialog *d) { d->reject(); });
    EXPECT_EQ(Read(path).size(), 57);
    EXPECT_TRUE(w->messages.isEmpty());
}

TEST_F(ISPTree, AFileThatCannotBeWrittenIsToldWithPathAndReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing/tree.txt");
    new QTreeWidgetItem(isp->tv_ISP, {"a.test (10.0.0.1)"});
    EXPECT_FALSE(isp->SaveTree(path));
    EXPECT_EQ(w->messages, QStringList{"Unable to write to " + path + "\nNo such file or directory"});
    EXPECT_FALSE(QFile::exists(path));
}
