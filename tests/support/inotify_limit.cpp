// Loaded with LD_PRELOAD, it stands in for a system whose limit of folder
// watches is reached: a folder named "unwatchable" cannot be watched; one
// named "refused" is refused as if it could not be read.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>

extern "C" int inotify_add_watch(int fd, const char *path, std::uint32_t mask)
{
    using AddWatch = int (*)(int, const char *, std::uint32_t);
    static const auto real = reinterpret_cast<AddWatch>(dlsym(RTLD_NEXT, "inotify_add_watch"));
    if (std::strstr(path, "unwatchable")) {
        errno = ENOSPC;
        return -1;
    }
    if (std::strstr(path, "refused")) {
        errno = EACCES;
        return -1;
    }
    return real(fd, path, mask);
}
