// Where the program's files live.
//
// Writable files (idlix2.ini, Servers.dat, AI_Log.txt, temp.dat) go to the
// data folder, the first of:
//   0. the folder the command line named (--config DIR, UseDataDir);
//   1. IDLIX_DIR when set and not empty (how tests and demos run on a
//      scratch copy);
//   2. the executable's folder when it holds idlix2.ini and this user may
//      write to it (a portable copy, the build folder); the service that
//      `idlix --headless` starts is given the folder these rules chose for
//      the idlix it was started as, as its --config;
//   3. the user's configuration folder, $XDG_CONFIG_HOME/idlix (or
//      ~/.config/idlix), created with mode 0700 because the settings hold
//      the dial-up password.
// Read-only files (Help.html, bvspin.avi) are found beside the executable or
// under the install prefix (<prefix>/share/idlix, the executable being in
// <prefix>/bin).
#pragma once

#include <QString>

namespace platform {

// The data folder by the rules above, without a trailing slash. Creates the
// user's configuration folder when that is the one chosen and it is missing.
QString DataDir();
// The data folder of a program that lies in programDir (absolute; else the
// running program's own folder), by rules 1 to 3: what `idlix --headless`
// hands to the service it starts.
QString DataDirOf(const QString &programDir);
// Makes dir the data folder for the rest of the run (rule 0), as the
// command line named it. Called once, before any file is read.
void UseDataDir(const QString &dir);
// DataDir() + "/" + name.
QString DataFile(const QString &name);

// Path of a read-only file that ships with the program: beside the
// executable when it is there, else under the install prefix when it is
// there, else the path beside the executable (so a report names a place).
QString ShippedFile(const QString &name);

} // namespace platform
