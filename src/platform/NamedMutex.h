#pragma once
// A lock file that marks a running program, as a named mutex would: held shared while the
// object lives, so any number of instances may hold it; nobody ever tests it.

#include <string>

namespace qv {

class TNamedMutex {
public:
    // $XDG_RUNTIME_DIR/<Name>, or /tmp/<Name>-<uid> without a runtime folder. A file that
    // cannot be made or locked is silently done without.
    explicit TNamedMutex(const std::string& Name);
    ~TNamedMutex();
    TNamedMutex(const TNamedMutex&) = delete;
    TNamedMutex& operator=(const TNamedMutex&) = delete;

    [[nodiscard]] bool Held() const noexcept { return Fd >= 0; }
    [[nodiscard]] const std::string& FileName() const noexcept { return Path; }

private:
    std::string Path;
    int Fd = -1;
};

} // namespace qv
