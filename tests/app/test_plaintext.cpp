// Text is shown as characters, never as markup: every label the program
// makes, whatever is put into it later. (The texts that come from a file or a
// typed field are followed to the window by the dial-up and anti-idle tests.)
#include "program.h"

#include "dialup/disconnect.h"
#include "shell/about.h"

#include <QFileDialog>
#include <QLabel>
#include <gtest/gtest.h>

using apptest::Program;

namespace {

bool FileDialogOf(const QWidget *w)
{
    for (; w; w = w->parentWidget()) {
        if (qobject_cast<const QFileDialog *>(w))
            return true;
    }
    return false;
}

// Puts markup into every label under root; the names of those that take it
// for markup.
QStringList LabelsReadingMarkup(QWidget *root)
{
    QStringList wrong;
    const QString markup = QStringLiteral("<b>bold</b> <i>and</i> <h1>big</h1>");
    for (QLabel *label : root->findChildren<QLabel *>()) {
        // Qt's own file dialog (where the ISP tree is saved) labels its
        // fields with texts of its own.
        if (FileDialogOf(label))
            continue;
        const QString old = label->text();
        const QPixmap picture = label->pixmap();
        label->setText(markup);
        if (!testutil::showsLiterally(label))
            wrong << label->objectName();
        label->setText(old);
        if (!picture.isNull())
            label->setPixmap(picture);
    }
    return wrong;
}

} // namespace

TEST(PlainText, EveryLabelOfEveryWindowShowsItsTextAsCharacters)
{
    Program p(1);
    Tfrm_About about;
    Tfrm_Disc countdown;
    struct Row {
        const char *window;
        QWidget *root;
    } rows[] = {
        {"main window", &*p.main},
        {"hold window", p.hold.get()},
        {"about box", &about},
        {"countdown", &countdown},
    };
    int labels = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.window);
        labels += int(r.root->findChildren<QLabel *>().size());
        EXPECT_EQ(LabelsReadingMarkup(r.root), QStringList()) << "labels that read markup";
    }
    // The status line, the lamps, the captions, the report's time: all of them.
    EXPECT_GT(labels, 60);
}
