#pragma once
// Who we are, in the words the exports and the about box print. Kept in one place so that
// a new web address is one edit, not a hunt through the writers.

namespace qv {

// The program's name as it appears in generated files (and as the XML root element).
constexpr const char* AppName = "Quorvel";
// The project's site: the title of the credit link and its address. Ours to choose; the
// address has a trailing "/" because it is printed as the link text too.
constexpr const char* MakerSiteName = "Quorvel Project";
constexpr const char* MakerWebAddress = "https://quorvel.example.org/";

} // namespace qv
