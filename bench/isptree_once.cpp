// One full ISP tree scan as the window runs it: a main window (offscreen is
// fine) with the ISP tree, Map of a dotted address, and the wall time from
// the click to the end of the scan. Prints every node, then the time.
//
//   isptree_once ADDRESS
#include "shell/mainform.h"
#include "tools/isptree.h"
#include "widgets/picturebutton.h"
#include "../tests/support/ctl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeWidget>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: isptree_once ADDRESS\n");
        return 2;
    }
    TMainForm form;
    auto *isp = new TISPTree(form);
    Ctl<QAction>(form, "ISPTree1")->trigger();
    isp->edt_ISPHost->setText(QString::fromLocal8Bit(argv[1]));
    QElapsedTimer took;
    took.start();
    isp->btn_ISPMap->Click();
    // The scan may run inside the click or go on from the event loop.
    while (isp->Run.MapState != TISPTree::TMapState::Idle)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 ms = took.elapsed();
    for (int i = 0; i < isp->tv_ISP->topLevelItemCount(); ++i)
        std::printf("    %s\n", qPrintable(isp->tv_ISP->topLevelItem(i)->text(0)));
    std::printf("gauge %d\nwall %lld ms\n", Ctl<QProgressBar>(form, "Gauge1")->value(), static_cast<long long>(ms));
    return Ctl<QProgressBar>(form, "Gauge1")->value() == 255 ? 0 : 1;
}
