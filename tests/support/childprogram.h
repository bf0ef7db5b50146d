// Starting the real program as a child process: where it is built and the
// environment that gives it a scratch program directory of its own.
#pragma once

#include "testutil.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcessEnvironment>

namespace testutil {

// The program is built beside the tests' folder.
inline QString programPath()
{
    return QFileInfo(QCoreApplication::applicationDirPath() + "/../idlix").absoluteFilePath();
}

inline QProcessEnvironment programEnvironment(const ScratchDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("IDLIX_DIR", dir.path());
    // Its own runtime directory, so the lock never meets a real running copy.
    env.insert("XDG_RUNTIME_DIR", dir.file("run"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

} // namespace testutil
