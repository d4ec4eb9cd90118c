#include "platform/SysError.h"

#include <cstring>

namespace qv {
namespace {

// glibc offers two strerror_r functions with the same name: the GNU one returns the message
// (which may live in a static table instead of our buffer), the XSI one an error code and
// always fills the buffer. Which one we get depends on feature macros we do not control,
// so overload resolution on the return type picks the right reading.
[[maybe_unused]] std::string FromStrErrorR(const char* Message, const char* /*Buffer*/, int Code) {
    if (Message == nullptr || *Message == '\0')
        return "Unknown error " + std::to_string(Code);
    return Message;
}

[[maybe_unused]] std::string FromStrErrorR(int Result, const char* Buffer, int Code) {
    // Some XSI versions leave "Unknown error N" in the buffer and still fail with EINVAL;
    // older ones return -1 and leave nothing. Use whatever text there is.
    if (Result != 0 && *Buffer == '\0')
        return "Unknown error " + std::to_string(Code);
    return Buffer;
}

} // namespace

std::string SysErrorMessage(int Code) {
    char buffer[256];
    buffer[0] = '\0';
    return FromStrErrorR(strerror_r(Code, buffer, sizeof buffer), buffer, Code);
}

} // namespace qv
