#include "app/WindowModule.h"

#include "support/FileVersion.h"
#include "support/Translate.h"

#include <dlfcn.h>
#include <ostream>
#include <unistd.h>

namespace qv {

namespace {

std::string Format(std::string Text, const std::string& First, const std::string& Second = {}) {
    for (const std::string* value : {&First, &Second}) {
        const std::size_t at = Text.find("%s");
        if (at == std::string::npos)
            break;
        Text.replace(at, 2, *value);
    }
    return Text;
}

} // namespace

std::vector<std::string> WindowModuleCandidates(const std::string& Exe) {
    const std::size_t slash = Exe.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : Exe.substr(0, slash);
    return {dir + "/" + WindowModuleName, dir + "/../lib/quorvel/" + WindowModuleName};
}

int RunWindowModule(int Argc, char** Argv, std::ostream& Err) {
    const std::vector<std::string> candidates = WindowModuleCandidates(ExecutableFileName());
    std::string module;
    for (const std::string& candidate : candidates)
        if (::access(candidate.c_str(), F_OK) == 0) {
            module = candidate;
            break;
        }
    if (module.empty()) {
        Err << "quorvel: "
            << Format(Tr("The window module is missing: neither %s nor %s exists."), candidates[0],
                      candidates[1])
            << '\n';
        return 1;
    }
    // Never closed: the window's static objects are destroyed at exit like the program's.
    // RTLD_LOCAL keeps its symbols (it exports only the entry) away from everybody else.
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* entry = handle ? ::dlsym(handle, WindowEntryName) : nullptr;
    if (!entry) {
        const char* reason = ::dlerror();
        Err << "quorvel: "
            << Format(Tr("The window module %s cannot be loaded: %s"), module,
                      reason ? reason : "?")
            << '\n';
        return 1;
    }
    return reinterpret_cast<TWindowEntry*>(entry)(Argc, Argv);
}

} // namespace qv
