// Test helper: prints the data folder and the path of the help document as
// this copy of the program sees them from where it lies and from its
// environment, one per line.
#include "platform/appdir.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%s\n%s\n", qPrintable(platform::DataDir()),
                qPrintable(platform::ShippedFile("Help.html")));
    return 0;
}
