#include "support/QvLogger.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <langinfo.h>
#include <log4cxx/appender.h>
#include <log4cxx/fileappender.h>
#include <log4cxx/helpers/class.h>
#include <log4cxx/helpers/classregistration.h>
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/optionconverter.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/hierarchy.h>
#include <log4cxx/layout.h>
#include <log4cxx/level.h>
#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/propertyconfigurator.h>
#include <log4cxx/spi/defaultrepositoryselector.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// log4cxx is built here with UTF-8 std::string as its internal string type; the facade hands
// messages over without any conversion because of that.
static_assert(LOG4CXX_LOGCHAR_IS_UTF8, "the facade passes UTF-8 text to log4cxx unconverted");

namespace fs = std::filesystem;

namespace qv {
namespace {

const char* const LoggerName = "Quorvel";

// A configuration file larger than this is not a hand-written log.cfg; reading on would only
// hang on something like a device file.
constexpr std::size_t MaxConfigSize = 1 << 20;

// ---------------------------------------------------------------------------------------
// Small text helpers. Everything here is ASCII-only on purpose: key, class and level names
// are ASCII, while values (file names) must keep their bytes.

std::string ToLower(std::string_view Text) {
    std::string result(Text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\r' || c == '\v';
}

std::string_view Trim(std::string_view Text) {
    while (!Text.empty() && IsBlank(Text.front()))
        Text.remove_prefix(1);
    while (!Text.empty() && IsBlank(Text.back()))
        Text.remove_suffix(1);
    return Text;
}

bool StartsWithI(std::string_view Text, std::string_view Prefix) {
    return Text.size() >= Prefix.size() && ToLower(Text.substr(0, Prefix.size())) == Prefix;
}

std::vector<std::string> SplitList(std::string_view Text) {
    std::vector<std::string> parts;
    while (true) {
        const auto comma = Text.find(',');
        parts.emplace_back(Trim(Text.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        Text.remove_prefix(comma + 1);
    }
    return parts;
}

std::string SystemMessage(int Error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in the buffer.
    return ::strerror_r(Error, buffer, sizeof buffer);
}

// One whole line in one write, so that lines of several threads never mix.
void WriteStderrLine(std::string Line) {
    Line += '\n';
    WriteStandardError(Line);
}

// ---------------------------------------------------------------------------------------
// A size-limited log file. log4cxx has one, but its fixed-window policy frees its private
// part through the wrong type (AddressSanitizer stops on it), and the program needs nothing
// beyond log4j's two options: MaxFileSize (default 10 MB) and MaxBackupIndex (default 1).
// After the file has reached MaxFileSize, "name.N" is deleted, each "name.i" becomes
// "name.i+1", the file becomes "name.1", and a new file starts.

class TRollingFileAppender : public log4cxx::FileAppender {
public:
    class TClass : public log4cxx::helpers::Class {
    public:
        log4cxx::LogString getName() const override { return "QvRollingFileAppender"; }
        log4cxx::helpers::Object* newInstance() const override {
            return new TRollingFileAppender();
        }
    };

    static const log4cxx::helpers::Class& getStaticClass() {
        static const TClass theClass;
        return theClass;
    }
    const log4cxx::helpers::Class& getClass() const override { return getStaticClass(); }
    const void* cast(const log4cxx::helpers::Class& Clazz) const override {
        if (&Clazz == &getStaticClass())
            return this;
        return FileAppender::cast(Clazz);
    }
    bool instanceof (const log4cxx::helpers::Class& Clazz) const override {
        return cast(Clazz) != nullptr;
    }

    // Makes the class known to log4cxx's configurator by its name.
    static void Register() {
        static const log4cxx::helpers::ClassRegistration registration(&getStaticClass);
    }

    void setOption(const log4cxx::LogString& Option, const log4cxx::LogString& Value) override {
        const std::string option = ToLower(Option);
        if (option == "maxfilesize")
            MaxFileSize = log4cxx::helpers::OptionConverter::toFileSize(Value, MaxFileSize + 1);
        else if (option == "maxbackupindex")
            MaxBackupIndex = std::max(0, log4cxx::helpers::OptionConverter::toInt(Value, 1));
        else
            FileAppender::setOption(Option, Value);
    }

protected:
    // log4cxx holds the appender's lock around this, which the reopening relies on.
    void subAppend(const log4cxx::spi::LoggingEventPtr& Event,
                   log4cxx::helpers::Pool& Pool) override {
        FileAppender::subAppend(Event, Pool);
        struct stat info {};
        const std::string file = getFile();
        if (::stat(file.c_str(), &info) == 0 && info.st_size >= MaxFileSize)
            RollOver(file, Pool);
    }

private:
    void RollOver(const std::string& File, log4cxx::helpers::Pool& Pool) {
        if (MaxBackupIndex > 0) {
            const auto backup = [&File](int Index) { return File + "." + std::to_string(Index); };
            ::unlink(backup(MaxBackupIndex).c_str());
            for (int i = MaxBackupIndex - 1; i >= 1; --i)
                ::rename(backup(i).c_str(), backup(i + 1).c_str());
            ::rename(File.c_str(), backup(1).c_str());
        }
        try {
            // Closes the old file, wherever it went, and starts an empty one.
            setFileInternal(File, false, getBufferedIO(), static_cast<std::size_t>(getBufferSize()),
                            Pool);
        } catch (const std::exception& e) {
            if (!RollFailureReported) {
                RollFailureReported = true;
                WriteStderrLine("quorvel: log file " + File + " cannot be started anew (" +
                                e.what() + ")");
            }
        }
    }

    long MaxFileSize = 10 * 1024 * 1024;
    int MaxBackupIndex = 1;
    bool RollFailureReported = false;
};

// ---------------------------------------------------------------------------------------
// The registry. The process-wide log4cxx repository would configure itself from
// log4j.properties, log4cxx.xml and the like in whatever directory the program was started
// from, and it complains on standard error about loggers without appenders. The program
// has a repository of its own instead, marked as configured from the start and closed to
// all events until ConfigureLogging applies a file.

int SelectorGuard;

void CloseAtExit() noexcept;

log4cxx::spi::LoggerRepositoryPtr MakeRepository() {
    log4cxx::HierarchyPtr hierarchy = log4cxx::Hierarchy::create();
    hierarchy->setConfigured(true);
    hierarchy->setThreshold(log4cxx::Level::getOff());
    try {
        // Code that asks log4cxx's LogManager directly gets the same loggers.
        log4cxx::LogManager::setRepositorySelector(
            std::make_shared<log4cxx::spi::DefaultRepositorySelector>(hierarchy), &SelectorGuard);
    } catch (const std::exception&) {
        // Somebody else owns the LogManager; GetLogger still works on this repository.
    }
    std::atexit(CloseAtExit);
    return hierarchy;
}

const log4cxx::spi::LoggerRepositoryPtr& Repository() {
    // Never destroyed: threads and static destructors may still log while the program ends,
    // and log4cxx's own statics may be gone by then. CloseAtExit flushes and closes the
    // appenders instead.
    static const auto* const repository = new log4cxx::spi::LoggerRepositoryPtr(MakeRepository());
    return *repository;
}

std::mutex ConfigLock;
std::atomic<bool> Configured{false};

void Unconfigure(const log4cxx::spi::LoggerRepositoryPtr& Repo) {
    Configured.store(false, std::memory_order_relaxed);
    Repo->setThreshold(log4cxx::Level::getOff());
    Repo->resetConfiguration();
    // resetConfiguration opens the threshold again.
    Repo->setThreshold(log4cxx::Level::getOff());
    log4cxx::helpers::LogLog::setInternalDebugging(false);
}

void CloseAtExit() noexcept {
    try {
        // A thread that is configuring right now is left alone rather than waited for.
        std::unique_lock guard(ConfigLock, std::try_to_lock);
        if (!guard.owns_lock())
            return;
        Configured.store(false, std::memory_order_relaxed);
        Repository()->setThreshold(log4cxx::Level::getOff());
        Repository()->shutdown();
    } catch (...) {
        // Nothing sensible is left to do while the process ends.
    }
}

// log4cxx converts messages given as std::string, and everything it writes to the console,
// with the LC_CTYPE of the moment: under "C" every non-ASCII byte turns into '?'.
void EnsureUtf8CType() {
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset != nullptr && (ToLower(codeset) == "utf-8" || ToLower(codeset) == "utf8"))
        return;
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        std::setlocale(LC_CTYPE, "C.utf8");
}

// ---------------------------------------------------------------------------------------
// Reading the property file. The format is the common subset of Log4D's (name=value lines)
// and Java's: '#' and '!' start comments, '=' or ':' separates, blanks around both parts
// are dropped, and a line ending in a backslash continues on the next. Backslashes are kept
// otherwise, so that a value means what it says without Java's escape rules.

struct TEntry {
    std::string Key;
    std::string Value;
};

std::vector<TEntry> ParseProperties(std::string_view Text) {
    if (Text.substr(0, 3) == "\xEF\xBB\xBF")
        Text.remove_prefix(3);
    std::vector<TEntry> entries;
    std::string logical;
    while (!Text.empty()) {
        const auto end = Text.find('\n');
        std::string_view line = Text.substr(0, end);
        Text.remove_prefix(end == std::string_view::npos ? Text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (logical.empty()) {
            line = Trim(line);
            if (line.empty() || line.front() == '#' || line.front() == '!')
                continue;
        } else {
            line = Trim(line);
        }
        if (!line.empty() && line.back() == '\\') {
            logical.append(line.substr(0, line.size() - 1));
            if (!Text.empty())
                continue;
        } else {
            logical.append(line);
        }
        const auto separator = logical.find_first_of("=:");
        if (separator != std::string::npos && separator > 0) {
            const std::string_view whole(logical);
            const std::string_view key = Trim(whole.substr(0, separator));
            if (!key.empty())
                entries.push_back(
                    {std::string(key), std::string(Trim(whole.substr(separator + 1)))});
        }
        logical.clear();
    }
    return entries;
}

enum class TReadResult { Ok, Failed, TooLarge };

TReadResult ReadConfigFile(const std::string& Name, std::string& Text, int& Error) {
    // O_NONBLOCK: a FIFO in place of the file must not stop the start-up.
    const int fd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        Error = errno;
        return TReadResult::Failed;
    }
    TReadResult result = TReadResult::Ok;
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            Error = errno; // EISDIR for a directory
            result = TReadResult::Failed;
            break;
        }
        if (got == 0)
            break;
        if (Text.size() + static_cast<std::size_t>(got) > MaxConfigSize) {
            result = TReadResult::TooLarge;
            break;
        }
        Text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return result;
}

// ---------------------------------------------------------------------------------------
// Translating Log4D settings into log4cxx's PropertyConfigurator keys.

// The levels both libraries know. Anything else would silently become DEBUG in log4cxx.
std::optional<std::string> CanonicalLevel(std::string_view Name) {
    static const char* const Levels[] = {"ALL",  "TRACE", "DEBUG", "INFO",
                                         "WARN", "ERROR", "FATAL", "OFF"};
    const std::string lower = ToLower(Trim(Name));
    for (const char* level : Levels)
        if (ToLower(level) == lower)
            return std::string(level);
    return std::nullopt;
}

std::optional<std::string> CanonicalBoolean(std::string_view Value) {
    const std::string lower = ToLower(Trim(Value));
    if (lower == "true" || lower == "yes" || lower == "1")
        return std::string("true");
    if (lower == "false" || lower == "no" || lower == "0")
        return std::string("false");
    return std::nullopt;
}

struct TClassMapping {
    const char* Log4D;
    const char* Log4cxx;
};

// The only classes handed to log4cxx, by their Log4D and log4j names. log4cxx would take any
// class it knows, with or without a package, and its own RollingFileAppender frees memory
// through the wrong type; the rolling appender is the program's own instead.
const TClassMapping AppenderClasses[] = {
    {"tlogfileappender", "FileAppender"},
    {"fileappender", "FileAppender"},
    {"tlogrollingfileappender", "QvRollingFileAppender"},
    // Log4D's appender for the debugger output; on Linux that channel is standard error.
    {"tlogodsappender", "ConsoleAppender"},
    {"consoleappender", "ConsoleAppender"},
};

const TClassMapping LayoutClasses[] = {
    {"tlogsimplelayout", "SimpleLayout"},   {"simplelayout", "SimpleLayout"},
    {"tlogpatternlayout", "PatternLayout"}, {"patternlayout", "PatternLayout"},
    {"tloghtmllayout", "HTMLLayout"},       {"htmllayout", "HTMLLayout"},
};

// Log4D option names (and log4cxx's own, in any case) onto log4cxx's spelling.
const TClassMapping OptionNames[] = {
    {"filename", "File"},
    {"file", "File"},
    {"append", "Append"},
    {"pattern", "ConversionPattern"},
    {"conversionpattern", "ConversionPattern"},
    {"maxfilesize", "MaxFileSize"},
    {"maxbackupindex", "MaxBackupIndex"},
    {"threshold", "Threshold"},
    {"encoding", "Encoding"},
    {"target", "Target"},
    {"immediateflush", "ImmediateFlush"},
    {"bufferedio", "BufferedIO"},
    {"buffersize", "BufferSize"},
};

template <std::size_t N>
std::string MapName(const TClassMapping (&Table)[N], std::string_view Name) {
    const std::string lower = ToLower(Trim(Name));
    for (const TClassMapping& mapping : Table)
        if (lower == mapping.Log4D)
            return mapping.Log4cxx;
    return std::string(Trim(Name));
}

// The log4cxx class for a class name of log.cfg, or null when it is not one of Table's.
template <std::size_t N>
const char* SupportedClass(const TClassMapping (&Table)[N], std::string_view Name) {
    std::string lower = ToLower(Trim(Name));
    constexpr std::string_view log4jPackage = "org.apache.log4j.";
    if (lower.starts_with(log4jPackage))
        lower.erase(0, log4jPackage.size());
    for (const TClassMapping& mapping : Table)
        if (lower == mapping.Log4D)
            return mapping.Log4cxx;
    return nullptr;
}

// An instance of the named log4cxx class, or null when log4cxx has no such class.
log4cxx::helpers::ObjectPtr Instantiate(const std::string& ClassName) {
    try {
        const log4cxx::helpers::Class& found = log4cxx::helpers::Class::forName(ClassName);
        return log4cxx::helpers::ObjectPtr(found.newInstance());
    } catch (const std::exception&) {
        return nullptr;
    }
}

struct TOption {
    std::string Name; // log4cxx's spelling where known, else as written
    std::string Value;
};

// Options by lower-case name, so that "fileName" and "File" are one option (last wins).
using TOptions = std::map<std::string, TOption>;

void PutOption(TOptions& Options, std::string_view Name, std::string Value) {
    const std::string mapped = MapName(OptionNames, Name);
    Options[ToLower(mapped)] = TOption{mapped, std::move(Value)};
}

struct TAppenderSettings {
    std::string Class;
    TOptions Options;
    std::string LayoutClass;
    TOptions LayoutOptions;
};

struct TLoggerSettings {
    std::string Key; // as written, for messages
    std::string Value;
};

// ---------------------------------------------------------------------------------------
// ${NAME} in option values. log4cxx expands them too, but without any bound: a variable that
// refers to itself recurses until the stack overflows, and a few dozen variables that each
// double the previous one take a minute and gigabytes. They are expanded here instead,
// within limits, and log4cxx only ever sees values without a "${".
//
// A name stands for the environment variable of that name when it is set and not empty,
// else for the file's own key of that name, and for nothing when there is neither; what it
// stands for is expanded in turn. A variable that cannot be expanded (a cycle, too deep a
// nesting, too long a value) is reported once and stands for nothing, like an unknown one.

constexpr std::size_t MaxVariableNesting = 16;
constexpr std::size_t MaxExpandedSize = 64 * 1024;
// Many values that each use a long variable would still add up.
constexpr std::size_t MaxExpandedTotal = 16 * MaxExpandedSize;

class TVariableExpander {
public:
    TVariableExpander(const std::map<std::string, std::string>& FileKeys,
                      std::vector<std::string>& Problems)
        : FileKeys(FileKeys), Problems(Problems) {}

    std::string Expand(std::string_view Value, const std::string& Key) {
        std::string result;
        bool tooLong = false;
        std::size_t nesting = 0;
        Append(Value, result, nullptr, &tooLong, nesting);
        if (tooLong)
            Problems.push_back("the value of " + Key + " expands to more than 64 KiB; what " +
                               "does not fit is left out");
        return result;
    }

private:
    enum class TState { Unseen, Busy, Done, Failed };

    struct TVariable {
        std::string Name;
        std::string Value;
        TState State = TState::Unseen;
        std::string Expanded;
        std::size_t Nesting = 0; // levels of variables in Expanded, this one included
    };

    TVariable* Find(const std::string& Name) {
        if (Name.find('\0') != std::string::npos)
            return nullptr;
        if (const auto found = Variables.find(Name); found != Variables.end())
            return &found->second;
        const char* environment = std::getenv(Name.c_str());
        std::string value;
        if (environment != nullptr && *environment != '\0')
            value = environment;
        else if (const auto key = FileKeys.find(Name); key != FileKeys.end())
            value = key->second;
        else
            return nullptr;
        TVariable& variable = Variables[Name];
        variable.Name = Name;
        variable.Value = std::move(value);
        return &variable;
    }

    // Appends Text to Out with its references replaced, and raises Nesting to the deepest
    // variable used. Owner is the variable whose value Text is, null for an option's value
    // (which reports an overflow through TooLong). Returns null, or the failed variable up
    // to whose expansion everything stops.
    TVariable* Append(std::string_view Text, std::string& Out, TVariable* Owner, bool* TooLong,
                      std::size_t& Nesting) {
        while (!Text.empty()) {
            const auto start = Text.find("${");
            const auto stop = start == std::string_view::npos ? start : Text.find('}', start);
            if (stop == std::string_view::npos) {
                // Not a reference; what is left of it is dealt with by the caller.
                Out.append(Text);
                break;
            }
            Out.append(Text.substr(0, start));
            const std::string name(Text.substr(start + 2, stop - start - 2));
            Text.remove_prefix(stop + 1);
            TVariable* variable = Find(name);
            if (variable == nullptr)
                continue;
            if (TVariable* failed = Resolve(*variable))
                return failed;
            if (variable->State != TState::Done)
                continue;
            // A variable expanded before counts as deep as it was then.
            if (Stack.size() + variable->Nesting > MaxVariableNesting)
                return FailTooDeep();
            Nesting = std::max(Nesting, variable->Nesting);
            const std::string& piece = variable->Expanded;
            if (Total + piece.size() > MaxExpandedTotal) {
                if (!TotalReported) {
                    TotalReported = true;
                    Problems.push_back(
                        "the variables expand to more than 1 MiB in all; the rest are empty");
                }
                if (Owner == nullptr)
                    continue;
                Owner->State = TState::Failed;
                return Owner;
            }
            if (Out.size() + piece.size() > MaxExpandedSize) {
                if (Owner == nullptr) {
                    *TooLong = true;
                    continue;
                }
                Fail(*Owner, " expands to more than 64 KiB");
                return Owner;
            }
            Total += piece.size();
            Out += piece;
        }
        return nullptr;
    }

    TVariable* Resolve(TVariable& Variable) {
        switch (Variable.State) {
        case TState::Done:
        case TState::Failed:
            return nullptr;
        case TState::Busy: {
            const auto first = std::find(Stack.begin(), Stack.end(), &Variable);
            std::string names;
            for (auto member = first; member != Stack.end(); ++member) {
                (*member)->State = TState::Failed;
                names += (names.empty() ? "${" : ", ${") + (*member)->Name + "}";
            }
            Problems.push_back(first + 1 == Stack.end()
                                   ? "variable " + names + " refers to itself and is taken as empty"
                                   : "variables " + names +
                                         " refer to each other and are taken as empty");
            return &Variable;
        }
        case TState::Unseen:
            break;
        }
        if (Stack.size() == MaxVariableNesting)
            return FailTooDeep();
        Variable.State = TState::Busy;
        Stack.push_back(&Variable);
        std::string expanded;
        std::size_t nesting = 0;
        TVariable* failed = Append(Variable.Value, expanded, &Variable, nullptr, nesting);
        Stack.pop_back();
        if (failed == nullptr) {
            Variable.State = TState::Done;
            Variable.Expanded = std::move(expanded);
            Variable.Nesting = nesting + 1;
        } else if (Variable.State == TState::Busy) {
            Variable.State = TState::Unseen;
        }
        return failed == &Variable ? nullptr : failed;
    }

    // The outermost variable is the one too deep; those in between may do where they are
    // used on their own, so they stay unexpanded rather than failed.
    TVariable* FailTooDeep() {
        Fail(*Stack.front(), " nests more than 16 levels deep");
        return Stack.front();
    }

    void Fail(TVariable& Variable, const char* Why) {
        Variable.State = TState::Failed;
        Problems.push_back("variable ${" + Variable.Name + "}" + Why + " and is taken as empty");
    }

    const std::map<std::string, std::string>& FileKeys;
    std::vector<std::string>& Problems;
    std::map<std::string, TVariable> Variables;
    std::vector<TVariable*> Stack;
    std::size_t Total = 0;
    bool TotalReported = false;
};

class TTranslator {
public:
    TTranslator(std::string CfgFile, log4cxx::helpers::Properties& Props)
        : CfgFile(std::move(CfgFile)), Props(Props) {}

    void Read(const std::vector<TEntry>& Entries) {
        for (const TEntry& entry : Entries)
            Classify(entry);
    }

    // Fills Props; returns the number of appenders that loggers use.
    int Translate() {
        std::set<std::string> referenced;
        if (Root)
            CollectReferences(Root->Value, referenced);
        for (const auto& [name, settings] : Loggers)
            CollectReferences(settings.Value, referenced);
        for (const std::string& name : referenced) {
            const auto found = Appenders.find(name);
            if (found == Appenders.end())
                Problem("appender \"" + name + "\" is used but not defined");
            else if (!TranslateAppender(name, found->second))
                Dropped.insert(name);
        }

        int used = 0;
        if (Root)
            used += TranslateLogger("log4j.rootLogger", *Root, false);
        else
            Problem("no log4d.rootLogger entry");
        for (const auto& [name, settings] : Loggers)
            used += TranslateLogger("log4j.logger." + name, settings, true);

        for (const auto& [name, value] : Additivity) {
            if (const auto flag = CanonicalBoolean(value.Value))
                Props.setProperty("log4j.additivity." + name, *flag);
            else
                Problem("\"" + value.Value + "\" for " + value.Key + " is not true or false");
        }
        if (Threshold) {
            if (const auto level = CanonicalLevel(*Threshold))
                Props.setProperty("log4j.threshold", *level);
            else
                Problem("unknown level \"" + *Threshold + "\" for the threshold ignored");
        }
        if (ConfigDebug) {
            if (const auto flag = CanonicalBoolean(*ConfigDebug))
                Props.setProperty("log4j.debug", *flag);
            else
                Problem("\"" + *ConfigDebug + "\" for configDebug is not true or false");
        }
        return used;
    }

    [[nodiscard]] int Settings() const { return SettingCount; }
    [[nodiscard]] bool RootIsOff() const {
        return Root && CanonicalLevel(SplitList(Root->Value).front()) == "OFF";
    }
    [[nodiscard]] const std::vector<std::string>& Problems() const { return ProblemList; }
    void Problem(std::string Text) { ProblemList.push_back(std::move(Text)); }

private:
    void Classify(const TEntry& Entry) {
        std::string_view rest = Entry.Key;
        if (!StartsWithI(rest, "log4d.") && !StartsWithI(rest, "log4j.")) {
            // Other keys can serve as ${variables} in values; junk is not one.
            const bool plain = std::all_of(rest.begin(), rest.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
            });
            if (plain)
                Variables[Entry.Key] = Entry.Value;
            return;
        }
        rest.remove_prefix(6);
        ++SettingCount;
        const std::string lower = ToLower(rest);
        if (lower == "rootlogger" || lower == "rootcategory") {
            Root = TLoggerSettings{Entry.Key, Entry.Value};
        } else if (lower == "threshold") {
            Threshold = Entry.Value;
        } else if (lower == "configdebug" || lower == "debug") {
            ConfigDebug = Entry.Value;
        } else if (StartsWithI(rest, "logger.") && rest.size() > 7) {
            Loggers[std::string(rest.substr(7))] = TLoggerSettings{Entry.Key, Entry.Value};
        } else if (StartsWithI(rest, "category.") && rest.size() > 9) {
            Loggers[std::string(rest.substr(9))] = TLoggerSettings{Entry.Key, Entry.Value};
        } else if (StartsWithI(rest, "additive.") && rest.size() > 9) {
            Additivity[std::string(rest.substr(9))] = TLoggerSettings{Entry.Key, Entry.Value};
        } else if (StartsWithI(rest, "additivity.") && rest.size() > 11) {
            Additivity[std::string(rest.substr(11))] = TLoggerSettings{Entry.Key, Entry.Value};
        } else if (StartsWithI(rest, "appender.") && rest.size() > 9) {
            ClassifyAppender(Entry, rest.substr(9));
        } else if (lower == "loggerfactory" || StartsWithI(rest, "renderer.")) {
            Problem(Entry.Key + " is not supported and ignored");
        } else {
            Problem("unknown key " + Entry.Key + " ignored");
        }
    }

    void ClassifyAppender(const TEntry& Entry, std::string_view Rest) {
        const auto dot = Rest.find('.');
        TAppenderSettings& appender = Appenders[std::string(Rest.substr(0, dot))];
        if (dot == std::string_view::npos) {
            appender.Class = Entry.Value;
            return;
        }
        const std::string_view option = Rest.substr(dot + 1);
        if (ToLower(option) == "layout") {
            appender.LayoutClass = Entry.Value;
        } else if (StartsWithI(option, "layout.")) {
            PutOption(appender.LayoutOptions, option.substr(7), Entry.Value);
        } else if (StartsWithI(option, "filter.") || StartsWithI(option, "errorhandler")) {
            Problem(Entry.Key + " is not supported and ignored");
        } else if (!option.empty()) {
            PutOption(appender.Options, option, Entry.Value);
        }
    }

    static void CollectReferences(const std::string& Value, std::set<std::string>& Names) {
        const std::vector<std::string> parts = SplitList(Value);
        for (std::size_t i = 1; i < parts.size(); ++i)
            if (!parts[i].empty())
                Names.insert(parts[i]);
    }

    // "LEVEL, A, B" with a valid level (or none) and only appenders that survived.
    int TranslateLogger(const std::string& Key, const TLoggerSettings& Settings, bool MayInherit) {
        const std::vector<std::string> parts = SplitList(Settings.Value);
        std::string value;
        const std::string& level = parts.front();
        if (!level.empty()) {
            const std::string lower = ToLower(level);
            if (MayInherit && (lower == "inherited" || lower == "null"))
                value = "INHERITED";
            else if (const auto canonical = CanonicalLevel(level))
                value = *canonical;
            else
                Problem("unknown level \"" + level + "\" for " + Settings.Key + " ignored");
        }
        int used = 0;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            const std::string& name = parts[i];
            if (name.empty() || Dropped.count(name) != 0 || Appenders.count(name) == 0)
                continue;
            value += ", " + name;
            ++used;
        }
        if (!value.empty())
            Props.setProperty(Key, value);
        return used;
    }

    bool TranslateAppender(const std::string& Name, TAppenderSettings& Appender) {
        const std::string prefix = "log4j.appender." + Name;
        if (Name.find("${") != std::string::npos) {
            // log4cxx would expand it in the logger's list of appenders.
            Problem("appender name \"" + Name + "\" contains \"${\" and is left out");
            return false;
        }
        if (Trim(Appender.Class).empty()) {
            Problem("appender \"" + Name + "\" has no class and is left out");
            return false;
        }
        const bool toStderr = ToLower(Trim(Appender.Class)) == "tlogodsappender";
        const char* const className = SupportedClass(AppenderClasses, Appender.Class);
        const auto instance = className != nullptr
                                  ? log4cxx::cast<log4cxx::Appender>(Instantiate(className))
                                  : nullptr;
        if (!instance) {
            Problem("unknown appender class \"" + std::string(Trim(Appender.Class)) +
                    "\"; appender \"" + Name + "\" is left out");
            return false;
        }
        const bool isFile = log4cxx::cast<log4cxx::FileAppender>(instance) != nullptr;

        TOptions& options = Appender.Options;
        for (auto& [lower, option] : options)
            option.Value = Expander.Expand(option.Value, prefix + "." + option.Name);
        for (auto& [lower, option] : Appender.LayoutOptions)
            option.Value = Expander.Expand(option.Value, prefix + ".layout." + option.Name);
        if (toStderr && options.count("target") == 0)
            PutOption(options, "Target", "System.err");
        if (const auto target = options.find("target"); target != options.end()) {
            const std::string lower = ToLower(Trim(target->second.Value));
            if (lower == "stderr" || lower == "system.err")
                target->second.Value = "System.err";
            else if (lower == "stdout" || lower == "system.out")
                target->second.Value = "System.out";
        }
        if (const auto threshold = options.find("threshold"); threshold != options.end()) {
            if (const auto level = CanonicalLevel(threshold->second.Value)) {
                threshold->second.Value = *level;
            } else {
                Problem("unknown level \"" + threshold->second.Value + "\" for " + prefix +
                        ".threshold ignored");
                options.erase(threshold);
            }
        }
        if (isFile) {
            // The file's bytes must not depend on the locale the program happens to run in.
            if (options.count("encoding") == 0)
                PutOption(options, "Encoding", "UTF-8");
            if (!PrepareLogFile(Name, options))
                return false;
        }

        std::string layoutClass = "SimpleLayout";
        if (!Trim(Appender.LayoutClass).empty()) {
            const char* const mapped = SupportedClass(LayoutClasses, Appender.LayoutClass);
            if (mapped != nullptr && log4cxx::cast<log4cxx::Layout>(Instantiate(mapped)))
                layoutClass = mapped;
            else
                Problem("unknown layout class \"" + std::string(Trim(Appender.LayoutClass)) +
                        "\" for appender \"" + Name + "\"; using SimpleLayout");
        }

        Props.setProperty(prefix, className);
        for (const auto& [lower, option] : options)
            SetLiteral(prefix + "." + option.Name, option.Value);
        if (instance->requiresLayout() || !Trim(Appender.LayoutClass).empty()) {
            Props.setProperty(prefix + ".layout", layoutClass);
            for (const auto& [lower, option] : Appender.LayoutOptions)
                SetLiteral(prefix + ".layout." + option.Name, option.Value);
        }
        return true;
    }

    // log4cxx expands every "${" it finds in a value, with no escape that would keep one; a
    // "${" that is still there after the expansion above loses its "$".
    void SetLiteral(const std::string& Key, const std::string& Value) {
        if (Value.find("${") == std::string::npos) {
            Props.setProperty(Key, Value);
            return;
        }
        Problem("\"${\" without a closing \"}\" in " + Key + "; its \"$\" is dropped");
        std::string literal;
        for (const char c : Value) {
            if (c == '{')
                while (!literal.empty() && literal.back() == '$')
                    literal.pop_back();
            literal += c;
        }
        Props.setProperty(Key, literal);
    }

    // Resolves the log file name the way it will be used and makes sure it can be opened,
    // so that a bad name costs one clear line instead of log4cxx's error on every event.
    bool PrepareLogFile(const std::string& Name, TOptions& Options) {
        const auto file = Options.find("file");
        if (file == Options.end() || Trim(file->second.Value).empty()) {
            Problem("appender \"" + Name + "\" has no file name and is left out");
            return false;
        }
        std::string path(Trim(file->second.Value));
        if (path == "~" || path.rfind("~/", 0) == 0) {
            const char* home = std::getenv("HOME");
            path.replace(0, 1, home != nullptr ? home : "");
        }
        // A log.cfg names its log file relative to itself, not to wherever the program
        // was started from.
        fs::path resolved(path);
        if (resolved.is_relative())
            resolved = fs::path(CfgFile).parent_path() / resolved;
        resolved = resolved.lexically_normal();
        // Variables are expanded by now; log4cxx would take what is left for one.
        if (resolved.native().find("${") != std::string::npos) {
            Problem("the file name \"" + path + "\" of appender \"" + Name +
                    "\" is malformed; the appender is left out");
            return false;
        }
        std::error_code ignored;
        if (resolved.has_parent_path())
            fs::create_directories(resolved.parent_path(), ignored);
        const int fd =
            ::open(resolved.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0) {
            Problem("log file \"" + resolved.string() + "\" cannot be opened (" +
                    SystemMessage(errno) + "); appender \"" + Name + "\" is left out");
            return false;
        }
        ::close(fd);
        file->second.Value = resolved.string();
        return true;
    }

    std::string CfgFile;
    log4cxx::helpers::Properties& Props;
    int SettingCount = 0;
    std::optional<TLoggerSettings> Root;
    std::optional<std::string> Threshold;
    std::optional<std::string> ConfigDebug;
    std::map<std::string, TLoggerSettings> Loggers;
    std::map<std::string, TLoggerSettings> Additivity;
    std::map<std::string, TAppenderSettings> Appenders;
    std::map<std::string, std::string> Variables;
    std::set<std::string> Dropped;
    std::vector<std::string> ProblemList;
    TVariableExpander Expander{Variables, ProblemList};
};

void Report(const std::string& CfgFile, const std::vector<std::string>& Problems) {
    if (Problems.empty())
        return;
    std::string line = "quorvel: log configuration " + CfgFile + ": ";
    for (std::size_t i = 0; i < Problems.size(); ++i) {
        if (i > 0)
            line += "; ";
        line += Problems[i];
    }
    // A file name or a value may hold a line break; the report stays one line.
    std::replace(line.begin(), line.end(), '\n', ' ');
    WriteStderrLine(std::move(line));
}

bool ConfigureFromText(const std::string& CfgFile, std::string_view Text) {
    TRollingFileAppender::Register();
    const log4cxx::spi::LoggerRepositoryPtr& repo = Repository();
    if (Text.size() > MaxConfigSize) {
        Unconfigure(repo);
        Report(CfgFile, {"is larger than 1 MiB; logging is off"});
        return false;
    }
    log4cxx::helpers::Properties props;
    TTranslator translator(CfgFile, props);
    translator.Read(ParseProperties(Text));
    if (translator.Settings() == 0) {
        Unconfigure(repo);
        translator.Problem("contains no logging settings; logging is off");
        Report(CfgFile, translator.Problems());
        return false;
    }
    const int used = translator.Translate();
    if (used == 0) {
        // Nothing would ever be written; closing the repository also spares the user
        // log4cxx's complaint about loggers without appenders.
        Unconfigure(repo);
        if (translator.RootIsOff() && translator.Problems().empty()) {
            // Logging switched off on purpose is a configuration too: no error fallback.
            Configured.store(true, std::memory_order_relaxed);
            return true;
        }
        translator.Problem("no logger uses an appender; logging is off");
        Report(CfgFile, translator.Problems());
        return false;
    }
    Report(CfgFile, translator.Problems());

    Unconfigure(repo);
    repo->setThreshold(log4cxx::Level::getAll());
    try {
        log4cxx::PropertyConfigurator configurator;
        configurator.doConfigure(props, repo);
    } catch (const std::exception& e) {
        Unconfigure(repo);
        Report(CfgFile, {std::string("cannot be applied (") + e.what() + "); logging is off"});
        return false;
    }
    Configured.store(true, std::memory_order_relaxed);
    return true;
}

bool Configure(const std::string& CfgFile) {
    std::string text;
    int error = 0;
    const TReadResult result = ReadConfigFile(CfgFile, text, error);
    if (result == TReadResult::Ok)
        return ConfigureFromText(CfgFile, text);
    Unconfigure(Repository());
    Report(CfgFile, {result == TReadResult::TooLarge
                         ? "is larger than 1 MiB; logging is off"
                         : "cannot be read (" + SystemMessage(error) + "); logging is off"});
    return false;
}

// ---------------------------------------------------------------------------------------
// The facade.

std::mutex SinkLock;
TLogSink Sink;

const log4cxx::LoggerPtr& FacadeLogger() {
    // The registry hands out the same logger for ever, so one look-up is enough here.
    static const log4cxx::LoggerPtr logger = GetLogger();
    return logger;
}

const log4cxx::LevelPtr& FacadeLevel(TLogLevel Level) {
    static const log4cxx::LevelPtr debug = log4cxx::Level::getDebug();
    static const log4cxx::LevelPtr info = log4cxx::Level::getInfo();
    static const log4cxx::LevelPtr error = log4cxx::Level::getError();
    switch (Level) {
    case llDebug:
        return debug;
    case llInfo:
        return info;
    case llError:
        break;
    }
    return error;
}

} // namespace

log4cxx::LoggerPtr GetLogger() {
    return Repository()->getLogger(LoggerName);
}

namespace {

template <typename TApply> bool ConfigureGuarded(const std::string& CfgFile, TApply&& Apply) {
    std::lock_guard guard(ConfigLock);
    EnsureUtf8CType();
    try {
        return Apply();
    } catch (const std::exception& e) {
        // Whatever went wrong, the program runs on without a log.
        Unconfigure(Repository());
        Report(CfgFile, {std::string("cannot be used (") + e.what() + "); logging is off"});
        return false;
    }
}

} // namespace

bool ConfigureLogging(const std::string& CfgFile) {
    return ConfigureGuarded(CfgFile, [&CfgFile] { return Configure(CfgFile); });
}

bool ConfigureLoggingFromText(std::string_view Text, const std::string& CfgFile) {
    return ConfigureGuarded(CfgFile, [&] { return ConfigureFromText(CfgFile, Text); });
}

void WriteStandardError(std::string_view Text) noexcept {
    const char* data = Text.data();
    std::size_t left = Text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

bool ConfigureLogging() {
    const std::string file = DefaultLogConfigFile();
    // Most users have no log.cfg: that is the normal case and deserves no word.
    std::error_code error;
    if (!fs::exists(file, error))
        return false;
    return ConfigureLogging(file);
}

std::string DefaultLogConfigFile() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return "log.cfg";
    return (exe.parent_path() / "log.cfg").string();
}

void ResetLogging() {
    std::lock_guard guard(ConfigLock);
    Unconfigure(Repository());
}

bool IsLoggingConfigured() noexcept {
    return Configured.load(std::memory_order_relaxed);
}

void LogMessage(TLogLevel level, std::string_view message) {
    bool sunk = false;
    {
        std::lock_guard guard(SinkLock);
        if (Sink) {
            Sink(level, message);
            sunk = true;
        }
    }
    try {
        const log4cxx::LoggerPtr& logger = FacadeLogger();
        const log4cxx::LevelPtr& logLevel = FacadeLevel(level);
        if (logger->isEnabledFor(logLevel)) {
            // Handing over a LogString skips log4cxx's locale-dependent conversion.
            logger->forcedLogLS(logLevel, log4cxx::LogString(message),
                                log4cxx::spi::LocationInfo::getLocationUnavailable());
        } else if (level == llError && !sunk && !IsLoggingConfigured()) {
            WriteStderrLine("quorvel: " + std::string(message));
        }
    } catch (...) {
        // A log line is never worth an exception in the code that wrote it.
    }
}

bool IsDebugOutputEnabled() noexcept {
    if (const char* debug = std::getenv("QUORVEL_DEBUG");
        debug != nullptr && debug == std::string_view("1"))
        return true;
    try {
        return IsLoggingConfigured() && FacadeLogger()->isDebugEnabled();
    } catch (...) {
        return false;
    }
}

TLogSink SetLogSink(TLogSink sink) {
    std::lock_guard guard(SinkLock);
    TLogSink old = std::move(Sink);
    Sink = std::move(sink);
    return old;
}

} // namespace qv
