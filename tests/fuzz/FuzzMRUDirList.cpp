// The favourites' comma text: whatever the settings file holds is read without a crash,
// and what the list writes reads back as the same entries.

#include "FuzzSupport.h"
#include "shell/MRUDirList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    qv::TMRUDirList list;
    list.SetCommaText(qv::fuzz::AsText(Data, Size));
    const std::string written = list.CommaText();
    qv::TMRUDirList again;
    again.SetCommaText(written);
    if (again.Entries() != list.Entries())
        qv::fuzz::Broken("the comma text does not read back as its entries");
    if (again.CommaText() != written)
        qv::fuzz::Broken("writing the same entries twice gives two texts");
    return 0;
}
