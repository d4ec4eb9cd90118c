// The mount table parser on arbitrary text: no crash, and every entry it keeps has the
// fields a line must have.

#include "FuzzSupport.h"
#include "platform/Mounts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    for (const qv::TMountEntry& entry : qv::ParseMountInfo(qv::fuzz::AsText(Data, Size))) {
        if (entry.MountPoint.empty() || entry.FsType.empty())
            qv::fuzz::Broken("an entry without mount point or type");
        (void)qv::IsPseudoFileSystem(entry.FsType);
    }
    return 0;
}
