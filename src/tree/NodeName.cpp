#include "tree/NodeName.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qv {

namespace {

std::string_view UpToNul(std::string_view Text) {
    const std::size_t nul = Text.find('\0');
    return nul == std::string_view::npos ? Text : Text.substr(0, nul);
}

char* CopyToHeap(std::string_view Text) {
    char* block = new char[Text.size() + 1];
    std::memcpy(block, Text.data(), Text.size());
    block[Text.size()] = '\0';
    return block;
}

} // namespace

void TNodeName::Release() noexcept {
    if (Raw && !(Raw & (InlineTag | SharedTag)))
        delete[] reinterpret_cast<char*>(Raw);
    Raw = 0;
}

void TNodeName::Assign(std::string_view Text) {
    Text = UpToNul(Text);
    std::uintptr_t raw = 0;
    if (Text.size() <= InlineMax) {
        if (!Text.empty()) {
            unsigned char bytes[sizeof raw] = {};
            bytes[0] = static_cast<unsigned char>(InlineTag | (Text.size() << 1));
            std::memcpy(bytes + 1, Text.data(), Text.size());
            std::memcpy(&raw, bytes, sizeof raw);
        }
    } else {
        raw = reinterpret_cast<std::uintptr_t>(CopyToHeap(Text));
    }
    Release();
    Raw = raw;
}

void TNodeName::AssignShared(std::string_view Text) {
    Text = UpToNul(Text);
    if (Text.size() <= InlineMax) {
        Assign(Text);
        return;
    }
    // Interned copies are never freed; there is one per distinct shared text (a handful:
    // the translations of one caption).
    static std::mutex lock;
    static std::unordered_map<std::string, std::unique_ptr<char[]>> interned;
    const char* copy;
    {
        std::lock_guard guard(lock);
        auto& slot = interned[std::string(Text)];
        if (!slot)
            slot.reset(CopyToHeap(Text));
        copy = slot.get();
    }
    Release();
    Raw = reinterpret_cast<std::uintptr_t>(copy) | SharedTag;
}

} // namespace qv
