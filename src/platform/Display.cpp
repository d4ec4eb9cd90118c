#include "platform/Display.h"

#include "support/Translate.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qv {

namespace {

std::string_view Environment(const char* Name) {
    const char* value = std::getenv(Name);
    return value != nullptr ? value : "";
}

// The socket of a display on this machine (":0", ":1.0", "unix:0"); nothing for a display
// reached over the network, which is not probed, since that could wait on the network.
std::optional<std::string> LocalXSocket(std::string_view Display) {
    const std::size_t colon = Display.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view host = Display.substr(0, colon);
    std::string_view number = Display.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if ((!host.empty() && host != "unix") || number.empty() ||
        number.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return "/tmp/.X11-unix/X" + std::string(number);
}

// Whether a server listens on the Unix socket Path, in the abstract namespace or as a file:
// the X libraries try both.
bool SocketAnswers(const std::string& Path, bool Abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = Abstract ? 1 : 0;
    if (Path.size() + offset >= sizeof address.sun_path)
        return false;
    Path.copy(address.sun_path + offset, Path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true; // no way to tell: leave it to Qt
    const auto length =
        socklen_t(offsetof(sockaddr_un, sun_path) + offset + Path.size() + (Abstract ? 0 : 1));
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 ||
                         errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return answers;
}

} // namespace

std::optional<std::string> NoDisplayMessage() {
    // A platform chosen on purpose (offscreen, vnc, wayland, ...) is the user's business.
    if (!Environment("QT_QPA_PLATFORM").empty() || !Environment("WAYLAND_DISPLAY").empty())
        return std::nullopt;
    const std::string display(Environment("DISPLAY"));
    if (display.empty())
        return Tr("no display found. To scan without a window, use --export (see quorvel "
                  "--help).");
    if (const std::optional<std::string> socket = LocalXSocket(display);
        socket && !SocketAnswers(*socket, true) && !SocketAnswers(*socket, false)) {
        std::string message = Tr("cannot connect to display %s. To scan without a window, "
                                 "use --export (see quorvel --help).");
        if (const std::size_t at = message.find("%s"); at != std::string::npos)
            message.replace(at, 2, display);
        return message;
    }
    return std::nullopt;
}

} // namespace qv
