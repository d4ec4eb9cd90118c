#include "support/Translate.h"

namespace qv {

// No catalogs are loaded yet: every key stands for itself.
std::string Tr(const char* MsgId) {
    return MsgId;
}

} // namespace qv
