// A message catalog of any content: checked before use, so a damaged file is either
// refused (the ids are shown) or translates, and never brings the program down.

#include "FuzzSupport.h"
#include "support/Translate.h"

#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    static const std::string folder = [] {
        const std::string base = qv::fuzz::WorkFolder();
        for (const char* part : {"/xx", "/xx/LC_MESSAGES"})
            ::mkdir((base + part).c_str(), 0700);
        qv::SetCatalogFolders({base});
        return base;
    }();
    qv::fuzz::WriteFile(folder + "/xx/LC_MESSAGES/default.mo", qv::fuzz::AsText(Data, Size));
    qv::UseLanguage("xx");
    for (const char* id : {"", "Grouped Files", "大小", "秒", "&File"})
        (void)qv::Tr(id);
    return 0;
}
