// Where the program's files live.
//
// Writable files (idlix2.ini, Servers.dat, AI_Log.txt, temp.dat) go to the
// data folder, the first of:
//   1. IDLIX_DIR when set and not empty (how tests and demos run on a
//      scratch copy; an explicit choice wins over everything else);
//   2. the executable's folder when it holds idlix2.ini and this user may
//      write to it (a portable copy, the build folder); for the service
//      that `idlix --headless` starts, the folder of the idlix it was
//      started as (IDLIX_PROGRAM_DIR, set by that launcher);
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
// DataDir() + "/" + name.
QString DataFile(const QString &name);

// Path of a read-only file that ships with the program: beside the
// executable when it is there, else under the install prefix when it is
// there, else the path beside the executable (so a report names a place).
QString ShippedFile(const QString &name);

} // namespace platform
