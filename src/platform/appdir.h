// Where the program's data files live: beside the executable, or in the
// directory named by IDLIX_DIR (how tests and demos run on a scratch copy).
#pragma once

#include <QString>

namespace platform {

// IDLIX_DIR when set and not empty, else the executable's directory.
QString ProgramDir();
// ProgramDir() + "/" + name.
QString ProgramFile(const QString &name);

} // namespace platform
