// Handing the process over to another program of the installation (the
// unattended service, which links no windowing library), before Qt starts.
#pragma once

#include <initializer_list>
#include <string>

namespace platform {

// The folder of the running executable, from /proc/self/exe (symbolic links
// resolved), without a trailing slash; empty when the system does not say.
std::string ExecutableDir();

// The first of 'candidates' that is an executable regular file; empty when
// none is.
std::string FirstExecutable(const std::initializer_list<std::string> &candidates);

// Replaces this process with the program at 'path', given argv (argv[0]
// included, null-terminated) and this environment. The process id, open
// descriptors without close-on-exec and ambient capabilities stay. Returns
// only when the program could not be started, with the system's reason.
std::string ExecReplace(const std::string &path, char **argv);

} // namespace platform
