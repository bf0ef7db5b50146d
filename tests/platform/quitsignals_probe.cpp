// Test helper: a program whose way out hangs. It takes the first quit signal
// (prints "quit <signal>") and then waits for ever, as a program stuck on its
// way out (a blocked file, a box nobody answers) would; only a further
// signal can end it.
#include "platform/quitsignals.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    platform::TQuitSignals quit;
    quit.OnQuit = [](int signo) {
        std::printf("quit %d\n", signo);
        std::fflush(stdout);
        for (;;)
            ::pause();
    };
    quit.SetWatching(true);
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
