#include "support/FileVersion.h"

#include "support/QvUtils.h"
#include "support/Translate.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace qv {

namespace {

constexpr char NoteOwner[] = "Quorvel";
constexpr std::uint32_t NoteType = 1;

// The whole file is not needed: notes are small and near the start, but a reader must not
// trust any offset in the file, so every read is checked against the real size.
class TElfFile {
public:
    explicit TElfFile(const std::string& FileName) : File(FileName, std::ios::binary) {
        if (File) {
            File.seekg(0, std::ios::end);
            Size = std::uint64_t(File.tellg());
        }
    }

    bool Read(std::uint64_t Offset, void* Out, std::uint64_t Length) {
        if (!File || Offset > Size || Length > Size - Offset)
            return false;
        File.seekg(std::streamoff(Offset));
        return bool(File.read(static_cast<char*>(Out), std::streamsize(Length)));
    }

private:
    std::ifstream File;
    std::uint64_t Size = 0;
};

// Looks for our note in one PT_NOTE segment's bytes.
bool FindNote(const std::vector<unsigned char>& Notes, std::array<std::uint32_t, 4>& Version) {
    std::size_t pos = 0;
    auto align4 = [](std::uint64_t n) { return (n + 3) & ~std::uint64_t(3); };
    while (Notes.size() - pos >= 12) {
        std::uint32_t header[3];
        std::memcpy(header, Notes.data() + pos, sizeof header);
        const std::uint64_t nameSize = header[0], descSize = header[1];
        const std::uint64_t nameAt = pos + 12;
        const std::uint64_t descAt = nameAt + align4(nameSize);
        const std::uint64_t next = descAt + align4(descSize);
        if (next > Notes.size() || next <= pos)
            return false;
        if (header[2] == NoteType && nameSize == sizeof NoteOwner && descSize == 16 &&
            std::memcmp(Notes.data() + nameAt, NoteOwner, sizeof NoteOwner) == 0) {
            std::memcpy(Version.data(), Notes.data() + descAt, 16);
            return true;
        }
        pos = std::size_t(next);
    }
    return false;
}

template <class Ehdr, class Phdr>
bool ReadVersion(TElfFile& File, std::array<std::uint32_t, 4>& Version) {
    Ehdr header;
    if (!File.Read(0, &header, sizeof header) || header.e_phentsize != sizeof(Phdr))
        return false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Phdr segment;
        if (!File.Read(header.e_phoff + std::uint64_t(i) * sizeof(Phdr), &segment, sizeof segment))
            return false;
        if (segment.p_type != PT_NOTE || segment.p_filesz > (1u << 20))
            continue;
        std::vector<unsigned char> notes(segment.p_filesz);
        if (File.Read(segment.p_offset, notes.data(), notes.size()) && FindNote(notes, Version))
            return true;
    }
    return false;
}

} // namespace

std::string GetFileVersion(const std::string& FileName) {
    TElfFile file(FileName);
    unsigned char ident[EI_NIDENT];
    if (!file.Read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
        ident[EI_DATA] != ELFDATA2LSB)
        return {};
    std::array<std::uint32_t, 4> version{};
    const bool found =
        ident[EI_CLASS] == ELFCLASS64   ? ReadVersion<Elf64_Ehdr, Elf64_Phdr>(file, version)
        : ident[EI_CLASS] == ELFCLASS32 ? ReadVersion<Elf32_Ehdr, Elf32_Phdr>(file, version)
                                        : false;
    if (!found)
        return {};
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

std::string VersionText(const std::string& FileName) {
    const std::vector<std::string> parts = SplitString(GetFileVersion(FileName), ".");
    if (parts.size() != 4)
        return {};
    std::string text = Tr("Version") + " " + parts[0] + "." + parts[1];
    if (parts[2] != "0")
        text += "." + parts[2];
    return text;
}

std::string ExecutableFileName() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (std::size_t(n) < buffer.size())
            return std::string(buffer.data(), std::size_t(n));
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace qv
