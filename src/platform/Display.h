#pragma once
// Whether a window can open at all, asked before the GUI starts: Qt aborts the process,
// with advice to reinstall, when it finds no display; users deserve a pointer to the
// export mode instead.

#include <optional>
#include <string>

namespace qv {

// Why no window can open (translated), or nothing when it may: no DISPLAY and no
// WAYLAND_DISPLAY, or a local X display whose socket does not answer. A platform chosen
// through QT_QPA_PLATFORM is trusted; a remote X display is not probed.
[[nodiscard]] std::optional<std::string> NoDisplayMessage();

} // namespace qv
