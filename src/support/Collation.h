#pragma once
// Name order as the user expects it: byte strings compared with the collation of the
// user's LC_COLLATE (LC_ALL, LC_COLLATE, LANG), case sensitive. The locale is opened once
// through its own handle, "C" when the environment names one the system lacks; the
// process's global locale is never touched.
//
// Threading: every function may be called from any thread.

#include <string>

namespace qv {

// Negative, 0 or positive as A sorts before, with or after B.
[[nodiscard]] int CollateCompare(const char* A, const char* B) noexcept;

// A key whose byte order (std::string's <) is the collation order of the texts: cheaper
// than CollateCompare when one text takes part in many comparisons, as in a sort.
[[nodiscard]] std::string CollationKey(const char* Text);

} // namespace qv
