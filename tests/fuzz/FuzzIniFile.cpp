// The settings file: whatever bytes it holds are read without a crash, and a write keeps
// the writer's promises on them: the value reads back exactly, every other line stays byte
// for byte, and writing the same value again changes nothing.

#include "FuzzSupport.h"
#include "settings/QvIniFile.h"

#include <algorithm>
#include <vector>

namespace {

using qv::fuzz::Broken;

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string_view> Lines(std::string_view Text) {
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0;;) {
        const std::size_t newline = Text.find('\n', pos);
        lines.push_back(Text.substr(pos, newline - pos));
        if (newline == std::string_view::npos)
            return lines;
        pos = newline + 1;
    }
}

bool Storable(std::string_view Name) {
    return !Name.empty() && Name.find_first_of("\r\n]=") == std::string_view::npos &&
           Name.front() != ';' && Name.front() != '#' && Name.front() != '[';
}

// Before and After differ by one line whose start up to its value stayed, or by lines
// added in one place that are blank, the section header or the key's line.
void CheckOnlyTheKeyChanged(const std::string& Before, const std::string& After,
                            std::string_view Section, std::string_view Key) {
    const std::vector<std::string_view> old = Lines(Before), now = Lines(After);
    // A last line without a line end gets the file's one, which may be "\r\n".
    const auto same = [&](std::size_t i) {
        return old[i] == now[i] || (i + 1 == old.size() && !Before.ends_with('\n') &&
                                    now[i].size() == old[i].size() + 1 &&
                                    now[i].starts_with(old[i]) && now[i].back() == '\r');
    };
    std::size_t prefix = 0;
    while (prefix < old.size() && prefix < now.size() && same(prefix))
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const std::size_t removed = old.size() - prefix - suffix;
    const std::size_t added = now.size() - prefix - suffix;
    if (removed > 1 || (removed == 1 && added != 1) || added > 4)
        Broken("a write changed more than the key's line");
    if (removed == 1) {
        std::string_view was = old[prefix];
        if (was.ends_with('\r')) // the line end, not a blank before the value
            was.remove_suffix(1);
        const std::size_t equals = was.find('=');
        std::size_t valueAt = equals + 1;
        while (valueAt < was.size() &&
               std::string_view(" \t\v\f\r").find(was[valueAt]) != std::string_view::npos)
            ++valueAt;
        if (equals == std::string_view::npos ||
            now[prefix].substr(0, valueAt) != was.substr(0, valueAt))
            Broken("a write changed the line of its key before the value");
        return;
    }
    const std::string header = "[" + std::string(Section) + "]";
    const std::string entry = std::string(Key) + "=";
    for (std::size_t i = prefix; i < prefix + added; ++i) {
        std::string_view line = now[i];
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (!line.empty() && line != header && !line.starts_with(entry))
            Broken("a write added a line that is none of its own");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const std::string_view input = qv::fuzz::AsText(Data, Size);
    if (input.size() > (1 << 20)) // beyond what a write may make of it; tested elsewhere
        return 0;
    const std::string path = qv::fuzz::WorkFolder() + "/Quorvel.ini";
    qv::fuzz::WriteFile(path, input);
    qv::TQvIniFile ini(path);

    const qv::TQvIniSnapshot snapshot = ini.Read();
    const std::vector<std::string> sections = snapshot.ReadSections();
    for (const std::string& section : sections) {
        if (!snapshot.SectionExists(section))
            Broken("a listed section does not exist");
        for (const std::string& key : snapshot.ReadSection(section))
            if (!snapshot.ValueExists(section, key) ||
                snapshot.ReadString(section, key, "") != ini.ReadString(section, key, ""))
                Broken("a listed key does not read the same twice");
    }
    for (const char* key : {"GroupFileSize", "Language", "PaintOptions", "Position"}) {
        (void)ini.ReadString("Settings", key, "");
        (void)ini.ReadInt64("Settings", key, 0);
        (void)ini.ReadInteger("1280x1024", key, 0);
    }

    // A key that exists where there is one, so that the in-place path is taken too; the
    // value is the input's last line, blanks and quotes included.
    std::string section = "Settings";
    std::string key = "FuzzKey";
    if (!sections.empty() && Storable(sections[Size % sections.size()])) {
        section = sections[Size % sections.size()];
        const std::vector<std::string> keys = ini.ReadSection(section);
        if (!keys.empty() && Storable(keys.back()))
            key = keys.back();
    }
    const std::size_t lastBreak = input.find_last_of("\r\n");
    const std::string value(lastBreak == std::string_view::npos ? input
                                                                : input.substr(lastBreak + 1));

    const std::string before = ReadFile(path);
    try {
        ini.WriteString(section, key, value);
    } catch (const qv::ESettingsError&) {
        Broken("a storable key and value were refused");
    }
    const std::string after = ReadFile(path);
    if (ini.ReadString(section, key, "\n") != value)
        Broken("the value written does not read back");
    CheckOnlyTheKeyChanged(before, after, section, key);
    ini.WriteString(section, key, value);
    if (ReadFile(path) != after)
        Broken("writing the same value again changed the file");
    return 0;
}
