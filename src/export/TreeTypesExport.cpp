#include "export/TreeTypesExport.h"

#include "export/TextExports.h"
#include "export/XmlHtmlExports.h"
#include "support/AppInfo.h"
#include "support/FileVersion.h"
#include "support/QvUtils.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <ios>
#include <ostream>
#include <pthread.h>
#include <random>
#include <stdexcept>
#include <streambuf>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qv {

namespace {

// An output buffer straight over a file descriptor: std::ofstream cannot open the file we
// created exclusively, and we need the errno of a failed write for the message.
class TFdStreamBuf : public std::streambuf {
public:
    explicit TFdStreamBuf(int Fd) : Fd(Fd) { setp(Buffer, Buffer + sizeof Buffer); }
    // errno of the first failed write, 0 while all went well.
    [[nodiscard]] int Error() const noexcept { return LastError; }

protected:
    int_type overflow(int_type Ch) override {
        if (!Flush())
            return traits_type::eof();
        if (!traits_type::eq_int_type(Ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(Ch);
            pbump(1);
        }
        return traits_type::not_eof(Ch);
    }
    int sync() override { return Flush() ? 0 : -1; }

private:
    bool Flush() {
        const char* p = pbase();
        while (p < pptr()) {
            const ssize_t n = ::write(Fd, p, std::size_t(pptr() - p));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                LastError = errno;
                return false;
            }
            p += n;
        }
        setp(Buffer, Buffer + sizeof Buffer);
        return true;
    }

    int Fd;
    int LastError = 0;
    char Buffer[64 * 1024];
};

// "Cannot save the export to "FILE"", in the user's language.
std::string CannotSave(const std::string& FileName) {
    return FormatText(Tr("Cannot save the export to \"%s\""), FileName);
}

std::system_error SaveError(int Error, const std::string& FileName) {
    return std::system_error(Error ? Error : EIO, std::generic_category(), CannotSave(FileName));
}

// A save error whose reason is our own words, where the system's text for the code would
// not tell the user what to do.
class TSaveError : public std::system_error {
public:
    TSaveError(int Error, const std::string& FileName, const std::string& Reason)
        : std::system_error(Error, std::generic_category()),
          Text(CannotSave(FileName) + ": " + Reason) {}
    [[nodiscard]] const char* what() const noexcept override { return Text.c_str(); }

private:
    std::string Text;
};

// The temporary file of the save in progress, for the signal handler, which may touch
// nothing that needs a lock or memory: a fixed buffer and a lock-free state.
enum : int { tsNone, tsCreating, tsOwned };
std::atomic<int> TempState{tsNone};
char TempPath[PATH_MAX];
static_assert(std::atomic<int>::is_always_lock_free);

const int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTempAndDie(int Signal) {
    // The saving thread blocks these signals while it creates the file, so "creating" seen
    // here is another thread's open() call, over in a moment; its file must go as well.
    while (TempState.load(std::memory_order_acquire) == tsCreating) {
    }
    if (TempState.load(std::memory_order_acquire) == tsOwned)
        ::unlink(TempPath);
    ::signal(Signal, SIG_DFL);
    ::raise(Signal);
}

// Creates a file as open(O_EXCL) does and lets the signal handler know of it, with no
// moment in which the file exists unknown to the handler.
int OpenRegistered(const std::string& Name, int Flags, mode_t Mode) {
    if (Name.size() >= sizeof TempPath)
        return ::open(Name.c_str(), Flags, Mode);
    sigset_t block, old;
    sigemptyset(&block);
    for (const int s : CleanupSignals)
        sigaddset(&block, s);
    ::pthread_sigmask(SIG_BLOCK, &block, &old);
    Name.copy(TempPath, Name.size());
    TempPath[Name.size()] = '\0';
    TempState.store(tsCreating, std::memory_order_release);
    const int fd = ::open(Name.c_str(), Flags, Mode);
    const int error = errno;
    TempState.store(fd >= 0 ? tsOwned : tsNone, std::memory_order_release);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return fd;
}

void Unregister() {
    TempState.store(tsNone, std::memory_order_release);
}

// Closes the descriptor and removes the half-written file, keeping errno for the message.
void Discard(int Fd, const std::string& TempName) {
    const int saved = errno;
    if (Fd >= 0)
        ::close(Fd);
    if (!TempName.empty()) {
        ::unlink(TempName.c_str());
        Unregister();
    }
    errno = saved;
}

// The file a save creates or replaces: Path, or where its symbolic links lead, also when
// that file does not exist yet, as a shell redirect would create it. 0 or the errno.
int FollowLinks(std::string& Path) {
    // The kernel's own limit for one path.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (::lstat(Path.c_str(), &st) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(Path.c_str(), link, sizeof link);
        if (n < 0)
            return errno;
        if (std::size_t(n) == sizeof link)
            return ENAMETOOLONG;
        const std::string to(link, std::size_t(n));
        const auto slash = Path.rfind('/');
        Path =
            to.starts_with('/') || slash == std::string::npos ? to : Path.substr(0, slash + 1) + to;
    }
    return ELOOP;
}

// Opens a new file beside Target that nobody else can have opened: O_EXCL on a random
// name, retried on a clash. Created with 0666 so that the umask applies as for any new
// file the user saves.
int CreateTempBeside(const std::string& Target, std::string& TempName) {
    const auto slash = Target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : Target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? Target : Target.substr(slash + 1);
    // Room for the dot and the suffix within NAME_MAX.
    if (base.size() > 200)
        base.resize(200);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        const auto end = std::to_chars(suffix, suffix + sizeof suffix, random(), 36).ptr;
        TempName = dir + "." + base + ".tmp-" + std::string(suffix, end);
        const int fd = OpenRegistered(TempName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0)
                TempName.clear();
            return fd;
        }
    }
    TempName.clear();
    errno = EEXIST;
    return -1;
}

void SyncDirectoryOf(const std::string& Target) {
    const auto slash = Target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : Target.substr(0, slash));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // best effort: the rename is done, durability is a bonus here
        ::close(fd);
    }
}

// Runs the export into Fd; returns false with errno set when writing failed.
bool WriteAll(TTreeTypesExport& Export, int Fd) {
    TFdStreamBuf buffer(Fd);
    std::ostream stream(&buffer);
    try {
        Export.SaveToStream(stream);
    } catch (const std::ios_base::failure&) {
        errno = buffer.Error() ? buffer.Error() : EIO;
        return false;
    }
    if (!stream.flush()) {
        errno = buffer.Error() ? buffer.Error() : EIO;
        return false;
    }
    return true;
}

} // namespace

std::string TExportClass::GetDescription() const {
    return Tr(Description);
}

// --- TTreeTypesExport --------------------------------------------------------------------

void TTreeTypesExport::BeginChildren(std::ostream&) {}
void TTreeTypesExport::BeginNode(std::ostream&) {}
void TTreeTypesExport::WriteHeader(std::ostream&) {}
void TTreeTypesExport::WriteFooter(std::ostream&) {}
void TTreeTypesExport::EndChildren(std::ostream&) {}
void TTreeTypesExport::EndNode(std::ostream&) {}

std::string TTreeTypesExport::FormatSize(std::int64_t Size) const {
    return SizeFormatter ? SizeFormatter(Size) : std::to_string(Size);
}

void TTreeTypesExport::WriteString(std::ostream& Stream, std::string_view S) {
    Stream.write(S.data(), std::streamsize(S.size()));
    if (!Stream)
        throw std::ios_base::failure("Cannot write the export");
}

bool TTreeTypesExport::HasLaterDirSibling(int Depth) const noexcept {
    if (Depth <= 0 || Depth > int(Levels.size()))
        return false;
    const TLevel& level = Levels[std::size_t(Depth - 1)];
    return level.AnyDir && level.Index < level.LastDir;
}

void TTreeTypesExport::SaveToStream(std::ostream& Stream) {
    Levels.clear();
    WriteHeader(Stream);
    VisitNode(Root, Stream);
    WriteFooter(Stream);
}

void TTreeTypesExport::VisitNode(const TFileSystemNode& Top, std::ostream& Stream) {
    // Depth first without recursion: a tree as deep as the scanner walks must not overflow
    // the stack. Each directory whose children are being written holds their lock, parent
    // before child, until its subtree is done (Open, in step with Levels).
    std::vector<const TDirNode*> open;
    const auto enter = [&](const TFileSystemNode& Node) {
        const auto* dir = dynamic_cast<const TDirNode*>(&Node);
        if (!dir)
            return;
        BeginNode(Stream);
        WriteNode(Node, Stream);
        if (!dir->HasChildren()) {
            EndNode(Stream);
            return;
        }
        BeginChildren(Stream);
        TLevel level;
        open.push_back(dir); // first: a failure after the lock must find it here
        level.Siblings = dir->LockChildren().Items();
        for (std::size_t i = 0; i < level.Siblings.size(); ++i)
            if (dynamic_cast<const TDirNode*>(level.Siblings[i])) {
                level.LastDir = i;
                level.AnyDir = true;
            }
        Levels.push_back(level);
    };
    try {
        enter(Top);
        while (!Levels.empty()) {
            TLevel& level = Levels.back();
            const std::size_t next = level.Started ? level.Index + 1 : 0;
            if (next >= level.Siblings.size()) {
                Levels.pop_back();
                open.back()->UnlockChildren();
                open.pop_back();
                EndChildren(Stream);
                EndNode(Stream);
                continue;
            }
            level.Index = next;
            level.Started = true;
            enter(*level.Siblings[next]); // may grow Levels: level is not used after it
        }
    } catch (...) {
        for (auto it = open.rbegin(); it != open.rend(); ++it)
            (*it)->UnlockChildren();
        Levels.clear();
        throw;
    }
}

void TTreeTypesExport::SaveToDescriptor(int Fd) {
    if (!WriteAll(*this, Fd))
        throw std::system_error(errno, std::generic_category(), "Cannot write the export");
}

void TTreeTypesExport::SaveToFile(const std::string& FileName) {
    struct stat old {};
    const bool replacing = ::stat(FileName.c_str(), &old) == 0;
    // ELOOP above all: a link that leads round in a circle has no file to write.
    if (!replacing && errno != ENOENT)
        throw SaveError(errno, FileName);
    if (replacing && S_ISDIR(old.st_mode))
        throw SaveError(EISDIR, FileName);
    if (replacing && !S_ISREG(old.st_mode)) {
        // A device or a FIFO: renaming over it would remove the device node itself. A FIFO
        // that nobody reads would block the open for ever, so it has to have a reader now.
        const bool fifo = S_ISFIFO(old.st_mode);
        const int fd =
            ::open(FileName.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (fifo ? O_NONBLOCK : 0));
        if (fd < 0 && fifo && errno == ENXIO)
            throw TSaveError(ENXIO, FileName, Tr("no program is reading from the FIFO"));
        if (fd < 0)
            throw SaveError(errno, FileName);
        if (fifo)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if (!WriteAll(*this, fd)) {
            Discard(fd, {});
            throw SaveError(errno, FileName);
        }
        if (::close(fd) != 0)
            throw SaveError(errno, FileName);
        return;
    }
    // A symbolic link stays a link: the file it leads to is replaced, or created when the
    // link dangles.
    std::string target = FileName;
    if (const int error = FollowLinks(target))
        throw SaveError(error, FileName);
    // The rename would replace a file that the user made read-only without needing write
    // access to it: ask for that access, as writing in place would have.
    if (replacing && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        throw SaveError(errno, FileName);

    std::string tempName;
    int fd = CreateTempBeside(target, tempName);
    if (fd < 0)
        throw SaveError(errno, FileName);
    // Whatever leaves this block early, the new file goes and the old one stays.
    try {
        if (replacing) {
            // Keep what the user set on the old file; not being allowed to is no reason
            // to fail the save.
            ::fchmod(fd, old.st_mode & 07777);
            if (::fchown(fd, old.st_uid, old.st_gid) != 0)
                errno = 0;
        }
        if (!WriteAll(*this, fd) || ::fsync(fd) != 0)
            throw SaveError(errno, FileName);
        const int closing = fd;
        fd = -1;
        if (::close(closing) != 0)
            throw SaveError(errno, FileName);
        if (::rename(tempName.c_str(), target.c_str()) != 0)
            throw SaveError(errno, FileName);
        Unregister();
    } catch (...) {
        Discard(fd, tempName);
        throw;
    }
    SyncDirectoryOf(target);
}

void RemoveUnfinishedSavesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveTempAndDie;
    sigemptyset(&action.sa_mask);
    for (const int s : CleanupSignals)
        sigaddset(&action.sa_mask, s);
    for (const int s : CleanupSignals) {
        struct sigaction old {};
        // A signal the process was started to ignore (nohup) stays ignored.
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(s, &action, nullptr);
    }
}

// --- the shared text and the registry ------------------------------------------------------

std::string GeneratedByText() {
    return std::string("generated by ") + AppName + " " + VersionText(ExecutableFileName());
}

void TExportRegistry::Register(const TExportClass* AClass) {
    Classes.push_back(AClass);
}

const TExportClass* TExportRegistry::GetItem(int Index) const {
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("Export class index out of range: " + std::to_string(Index));
    return Classes[std::size_t(Index)];
}

std::string TExportRegistry::GetFileExtension(int Index) const {
    return GetItem(Index)->GetFileExtension();
}

std::string TExportRegistry::GetFilter() const {
    std::string filter;
    for (const TExportClass* c : Classes) {
        if (!filter.empty())
            filter += '|';
        filter += c->GetDescription() + " (*" + c->Extension + ")|*" + c->Extension;
    }
    return filter;
}

const TExportClass* TExportRegistry::FindByCommandName(std::string_view Name) const {
    for (std::size_t i = 0; i < Classes.size(); ++i)
        if (Name == Classes[i]->CommandName || Name == std::to_string(i + 1))
            return Classes[i];
    return nullptr;
}

TExportRegistry& ExportRegistry() {
    static TExportRegistry registry;
    // Both statics are initialised once even when threads race to the first call.
    static const bool registered = [] {
        registry.Register(&TCsvTextExport::Class);
        registry.Register(&TTextTreeExport::Class);
        registry.Register(&THtmlTableExport::Class);
        registry.Register(&TXmlTreeExport::Class);
        registry.Register(&TXmlTreeExport2::Class);
        return true;
    }();
    (void)registered;
    return registry;
}

} // namespace qv
