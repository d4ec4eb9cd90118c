#include "platform/NamedMutex.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qv {

TNamedMutex::TNamedMutex(const std::string& Name) {
    const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
    Path = Runtime && *Runtime == '/' ? std::string(Runtime) + "/" + Name
                                      : "/tmp/" + Name + "-" + std::to_string(::getuid());
    // O_NOFOLLOW: in /tmp another user could have put a link in its place.
    Fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (Fd >= 0 && ::flock(Fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(Fd);
        Fd = -1;
    }
}

TNamedMutex::~TNamedMutex() {
    if (Fd >= 0) {
        ::close(Fd);
    }
}

} // namespace qv
