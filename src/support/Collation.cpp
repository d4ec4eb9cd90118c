#include "support/Collation.h"

#include <cstring>
#include <locale.h> // newlocale, strcoll_l, strxfrm_l: POSIX 2008
#include <string.h>

namespace qv {

namespace {

// Opened on first use and kept for the life of the process: a sort may still run on some
// thread while static objects are destroyed.
locale_t UserCollation() noexcept {
    static const locale_t Locale = [] {
        locale_t locale = ::newlocale(LC_COLLATE_MASK, "", locale_t(nullptr));
        if (locale == locale_t(nullptr))
            locale = ::newlocale(LC_COLLATE_MASK, "C", locale_t(nullptr));
        return locale;
    }();
    return Locale;
}

} // namespace

int CollateCompare(const char* A, const char* B) noexcept {
    const locale_t locale = UserCollation();
    if (locale == locale_t(nullptr))
        return std::strcmp(A, B);
    return ::strcoll_l(A, B, locale);
}

std::string CollationKey(const char* Text) {
    const locale_t locale = UserCollation();
    if (locale == locale_t(nullptr))
        return Text;
    // Keys are usually a few times longer than the text; one retry covers the rest.
    std::string key(std::strlen(Text) * 4 + 16, '\0');
    std::size_t needed = ::strxfrm_l(key.data(), Text, key.size(), locale);
    if (needed >= key.size()) {
        key.resize(needed + 1);
        needed = ::strxfrm_l(key.data(), Text, key.size(), locale);
    }
    key.resize(needed);
    return key;
}

} // namespace qv
