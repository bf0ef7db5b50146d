// Test helper: prints the data folder and the path of the help document as
// this copy of the program sees them from where it lies and from its
// environment (or, given a folder, as a launcher lying there sees the data
// folder), one per line.
#include "platform/appdir.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = argc > 1 ? platform::DataDirOf(QString::fromLocal8Bit(argv[1])) : platform::DataDir();
    std::printf("%s\n%s\n", qPrintable(dir),
                qPrintable(platform::ShippedFile("Help.html")));
    return 0;
}
