#include "platform/execprogram.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string ExecutableDir()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string FirstExecutable(const std::initializer_list<std::string> &candidates)
{
    for (const std::string &path : candidates) {
        struct stat st = {};
        if (!path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
            && ::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

std::string ExecReplace(const std::string &path, char **argv)
{
    ::execv(path.c_str(), argv);
    return std::strerror(errno);
}

} // namespace platform
