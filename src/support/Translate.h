#pragma once
// The one translation function of the program. Every user-visible text passes through it
// with its catalog key, at the point of use.

#include <string>

namespace qv {

// Returns the translation of the catalog key MsgId in the current language, or MsgId
// itself when no catalog has it. Thread-safe.
std::string Tr(const char* MsgId);

} // namespace qv
