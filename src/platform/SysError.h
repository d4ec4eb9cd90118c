#pragma once

#include <string>

namespace qv {

// The system's message for an errno value ("Permission denied" for 13), thread-safe.
// Unknown codes give the system's "Unknown error N" text.
[[nodiscard]] std::string SysErrorMessage(int Code);

} // namespace qv
