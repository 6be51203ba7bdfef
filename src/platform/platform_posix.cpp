#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace orvx {

namespace {

constexpr int MAX_LINK_HOPS = 40; // as the kernel allows when it follows them
constexpr const char* TEMPORARY_TAG = ".orvx-";
constexpr std::size_t TEMPORARY_RANDOM_CHARS = 6;
constexpr int TEMPORARY_ATTEMPTS = 100;
constexpr std::size_t COPY_BUFFER_SIZE = std::size_t{1} << 18U;
constexpr std::size_t READ_BUFFER_SIZE = std::size_t{1} << 16U; // input that is no regular file

// Makes a system call again for as long as a signal interrupts it: a handler
// of the program's that returns must not fail the call that was running.
template <typename Call> auto retried(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

FileIdentity identityOfStat(const struct stat& info) {
    FileIdentity identity;
    if (S_ISREG(info.st_mode)) {
        identity.kind = FileKind::REGULAR;
    } else if (S_ISDIR(info.st_mode)) {
        identity.kind = FileKind::DIRECTORY;
    } else if (S_ISCHR(info.st_mode)) {
        identity.kind = FileKind::CHARACTER_DEVICE;
    } else {
        identity.kind = FileKind::OTHER;
    }
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.inode = static_cast<std::uint64_t>(info.st_ino);
    identity.mode = static_cast<unsigned>(info.st_mode & 07777U);
    identity.owner = static_cast<std::int64_t>(info.st_uid);
    identity.group = static_cast<std::int64_t>(info.st_gid);
    return identity;
}

// The folder part of path, with its trailing slash; empty for a bare name.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The path a chain of symbolic links starting at path ends at: path itself
// when it is no link, the last link's target when that is missing. 0, or
// -1 with errno set (ELOOP when the chain never ends).
int followLinks(const char* path, std::string& end) {
    end = path;
    std::vector<char> target(PATH_MAX);
    for (int hop = 0;; ++hop) {
        struct stat info {};
        if (retried([&] { return lstat(end.c_str(), &info); }) != 0 || !S_ISLNK(info.st_mode)) {
            return 0; // what is wrong with a missing path shows when its folder opens
        }
        if (hop == MAX_LINK_HOPS) {
            errno = ELOOP;
            return -1;
        }
        const ssize_t length =
            retried([&] { return readlink(end.c_str(), target.data(), target.size()); });
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::string next = target[0] == '/' ? std::string() : folderOf(end);
        next.append(target.data(), static_cast<std::size_t>(length));
        end = next;
    }
}

int openFolder(const std::string& path, Folder& folder) {
    const char* name = path.empty() ? "." : path.c_str();
    const int descriptor = retried([&] { return open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (descriptor < 0) {
        return -1;
    }
    folder.descriptor = descriptor;
    folder.path = path;
    return 0;
}

// Random enough for a name nobody else picks at the same moment: mixed
// from the clock, the process and a counter; O_EXCL settles the rest.
std::uint64_t nextRandom() {
    thread_local std::uint64_t state = 0;
    if (state == 0) {
        timespec now{};
        static_cast<void>(clock_gettime(CLOCK_REALTIME, &now));
        state = static_cast<std::uint64_t>(now.tv_nsec) ^
                static_cast<std::uint64_t>(now.tv_sec) << 20U ^
                static_cast<std::uint64_t>(getpid()) << 40U;
    }
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33U;
}

constexpr int WRITE_FLAGS = O_WRONLY | O_CLOEXEC | O_NOCTTY;
constexpr mode_t CREATE_MODE = 0666;
constexpr mode_t TEMPORARY_MODE = 0600;

} // namespace

FileIdentity identityOfPath(const char* path) {
    struct stat info {};
    return retried([&] { return stat(path, &info); }) == 0 ? identityOfStat(info) : FileIdentity{};
}

FileIdentity identityOfDescriptor(int descriptor) {
    struct stat info {};
    return retried([&] { return fstat(descriptor, &info); }) == 0 ? identityOfStat(info)
                                                                  : FileIdentity{};
}

FileIdentity identityOfStandardOutput() {
    return identityOfDescriptor(STDOUT_FILENO);
}

int openFolderOf(const char* path, Folder& folder, std::string& name) {
    std::string end;
    if (*path == '\0') {
        errno = ENOENT;
        return -1;
    }
    if (followLinks(path, end) != 0) {
        return -1;
    }
    const std::string folderPath = folderOf(end);
    name = end.substr(folderPath.size());
    if (name.empty()) {
        errno = EISDIR;
        return -1;
    }
    if (openFolder(folderPath, folder) != 0) {
        return -1;
    }
    const long longest = fpathconf(folder.descriptor, _PC_NAME_MAX);
    if (name.size() > static_cast<std::size_t>(longest > 0 ? longest : NAME_MAX)) {
        closeFolder(folder);
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

int openStagingFolder(Folder& folder) {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string path =
        fromEnvironment != nullptr && fromEnvironment[0] == '/' ? fromEnvironment : P_tmpdir;
    if (path.back() != '/') {
        path += '/';
    }
    if (openFolder(path, folder) != 0) {
        return -1;
    }
    folder.staging = true;
    return 0;
}

void closeFolder(Folder& folder) {
    if (folder.descriptor >= 0) {
        static_cast<void>(close(folder.descriptor));
    }
    folder = Folder{};
}

FileIdentity identityIn(const Folder& folder, const std::string& name) {
    struct stat info {};
    const int found = retried(
        [&] { return fstatat(folder.descriptor, name.c_str(), &info, AT_SYMLINK_NOFOLLOW); });
    return found == 0 ? identityOfStat(info) : FileIdentity{};
}

int openExistingIn(const Folder& folder, const std::string& name) {
    return retried([&] {
        return openat(folder.descriptor, name.c_str(), WRITE_FLAGS | O_NONBLOCK | O_NOFOLLOW);
    });
}

int openForReadingIn(const Folder& folder, const std::string& name) {
    return retried(
        [&] { return openat(folder.descriptor, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); });
}

int openTruncatingForWriting(const char* path) {
    // A FIFO waits here for its reader.
    return retried([&] { return open(path, WRITE_FLAGS | O_CREAT | O_TRUNC, CREATE_MODE); });
}

int closeDescriptor(int descriptor) {
    // Linux lets the descriptor go even when interrupted: closed again, it
    // could be another thread's new one.
    return close(descriptor) == 0 || errno == EINTR ? 0 : -1;
}

int createTemporaryIn(const Folder& folder, const std::string& name, std::string& temporaryName) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const long longest = fpathconf(folder.descriptor, _PC_NAME_MAX);
    const std::size_t room = static_cast<std::size_t>(longest > 0 ? longest : NAME_MAX) - 1 -
                             std::strlen(TEMPORARY_TAG) - TEMPORARY_RANDOM_CHARS;
    std::string stem(1, '.');
    stem.append(name, 0, std::min(name.size(), room));
    stem.append(TEMPORARY_TAG);
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        temporaryName = stem;
        for (std::size_t i = 0; i < TEMPORARY_RANDOM_CHARS; ++i) {
            temporaryName += letters[nextRandom() % (sizeof letters - 1)];
        }
        const int descriptor = retried([&] {
            return openat(folder.descriptor, temporaryName.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, TEMPORARY_MODE);
        });
        if (descriptor >= 0 || errno != EEXIST) {
            return descriptor;
        }
    }
    return -1; // errno is EEXIST
}

bool isFolderNotWritable(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

int replaceIn(const Folder& folder, const std::string& from, const std::string& to) {
    return retried(
        [&] { return renameat(folder.descriptor, from.c_str(), folder.descriptor, to.c_str()); });
}

bool isReplaceRefused(int error) {
    return error == EPERM || error == EACCES || error == EBUSY || error == EXDEV ||
           error == EROFS || error == ETXTBSY;
}

void removeInIfSameFile(const Folder& folder, const std::string& name,
                        const FileIdentity& identity) {
    const FileIdentity now = identityIn(folder, name);
    if (identity.kind == FileKind::REGULAR && now.kind == FileKind::REGULAR &&
        isSameFile(now, identity)) {
        static_cast<void>(retried([&] { return unlinkat(folder.descriptor, name.c_str(), 0); }));
    }
}

int setDescriptorMode(int descriptor, unsigned mode) {
    return retried([&] { return fchmod(descriptor, static_cast<mode_t>(mode)); });
}

bool setDescriptorOwner(int descriptor, std::int64_t owner, std::int64_t group) {
    const auto uid = static_cast<uid_t>(owner);
    const auto gid = static_cast<gid_t>(group);
    if (retried([&] { return fchown(descriptor, uid, gid); }) == 0) {
        return true;
    }
    static_cast<void>(retried([&] { return fchown(descriptor, static_cast<uid_t>(-1), gid); }));
    return false;
}

unsigned newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<unsigned>(CREATE_MODE & ~mask);
}

void copyExtendedAttributes(int from, int to) {
#ifdef __linux__
    const ssize_t listSize = retried([&] { return flistxattr(from, nullptr, 0); });
    if (listSize <= 0) {
        return;
    }
    std::vector<char> names(static_cast<std::size_t>(listSize));
    const ssize_t got = retried([&] { return flistxattr(from, names.data(), names.size()); });
    if (got <= 0) {
        return;
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        const ssize_t size = retried([&] { return fgetxattr(from, name, nullptr, 0); });
        if (size < 0) {
            continue;
        }
        value.resize(static_cast<std::size_t>(size));
        const ssize_t read =
            retried([&] { return fgetxattr(from, name, value.data(), value.size()); });
        if (read >= 0) {
            const auto length = static_cast<std::size_t>(read);
            static_cast<void>(
                retried([&] { return fsetxattr(to, name, value.data(), length, 0); }));
        }
    }
#else
    static_cast<void>(from);
    static_cast<void>(to);
#endif
}

int lockExclusive(int descriptor) {
    return retried([&] { return flock(descriptor, LOCK_EX); });
}

std::int64_t descriptorSize(int descriptor) {
    struct stat info {};
    return retried([&] { return fstat(descriptor, &info); }) == 0
               ? static_cast<std::int64_t>(info.st_size)
               : -1;
}

int copyWholeFile(int from, int to, std::uint64_t size) {
    const auto length = static_cast<off_t>(size);
#ifdef __linux__
    // The system call itself: glibc's posix_fallocate, where a file system
    // has none, writes into the file to emulate it (and reads it, which this
    // descriptor may not). Without it, the copy goes on unreserved.
    if (size > 0 && retried([&] { return fallocate(to, 0, 0, length); }) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
        return -1;
    }
#endif
    std::vector<char> buffer(COPY_BUFFER_SIZE);
    off_t done = 0;
    while (done < length) {
        const ssize_t got =
            retried([&] { return pread(from, buffer.data(), buffer.size(), done); });
        if (got <= 0) {
            errno = got == 0 ? EIO : errno; // the staged file shrank
            return -1;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = retried([&] {
                return pwrite(to, buffer.data() + written, static_cast<std::size_t>(got - written),
                              done + written);
            });
            if (put <= 0) {
                return -1;
            }
            written += put;
        }
        done += got;
    }
    return retried([&] { return ftruncate(to, length); });
}

namespace {

// Streams over a descriptor whose reads and writes go on through signals.
// The cookie holds the descriptor, and goes with the stream.
struct StreamCookie {
    int descriptor;
};

int descriptorOf(void* cookie) {
    return static_cast<StreamCookie*>(cookie)->descriptor;
}

ssize_t readDescriptor(void* cookie, char* buffer, std::size_t size) {
    return retried([&] { return read(descriptorOf(cookie), buffer, size); });
}

// All of it, or as much as went before a failure, whose errno stays: short
// means failed to the stream, and it may never be negative.
ssize_t writeDescriptor(void* cookie, const char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put =
            retried([&] { return write(descriptorOf(cookie), buffer + done, size - done); });
        if (put <= 0) {
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    return static_cast<ssize_t>(done);
}

int seekDescriptor(void* cookie, off64_t* offset, int whence) {
    const off_t at = lseek(descriptorOf(cookie), static_cast<off_t>(*offset), whence);
    if (at < 0) {
        return -1;
    }
    *offset = at;
    return 0;
}

int closeCookie(void* cookie) {
    const int closed = closeDescriptor(descriptorOf(cookie));
    delete static_cast<StreamCookie*>(cookie);
    return closed;
}

// Null when it can't be had; the descriptor is then still open.
std::FILE* streamOver(int descriptor, const char* mode, const cookie_io_functions_t& functions) {
    auto* cookie = new (std::nothrow) StreamCookie{descriptor};
    std::FILE* stream = cookie != nullptr ? fopencookie(cookie, mode, functions) : nullptr;
    if (stream == nullptr) {
        delete cookie;
    }
    return stream;
}

} // namespace

std::FILE* openFileForReading(const char* path) {
    const int descriptor = retried([&] { return open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY); });
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat info {};
    std::FILE* stream = nullptr;
    if (retried([&] { return fstat(descriptor, &info); }) == 0 && S_ISREG(info.st_mode)) {
        stream = fdopen(descriptor, "rb");
        if (stream != nullptr) {
            static_cast<void>(std::setvbuf(stream, nullptr, _IONBF, 0));
        }
    } else {
        // Read through a buffer: the C library reads a stream of its own
        // kind one byte at a time when it has none.
        stream =
            streamOver(descriptor, "rb", {readDescriptor, nullptr, seekDescriptor, closeCookie});
        if (stream != nullptr) {
            static_cast<void>(std::setvbuf(stream, nullptr, _IOFBF, READ_BUFFER_SIZE));
        }
    }
    if (stream == nullptr) {
        static_cast<void>(closeDescriptor(descriptor));
    }
    return stream;
}

std::FILE* streamOverDescriptor(int descriptor) {
    return streamOver(descriptor, "wb", {nullptr, writeDescriptor, seekDescriptor, closeCookie});
}

int seekFile(std::FILE* stream, std::int64_t offset) {
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET);
}

std::int64_t fileSize(std::FILE* stream) {
    if (fseeko(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(ftello(stream));
}

// Interruption -------------------------------------------------------------

namespace {

// Every signal whose default action ends the process, but KILL and STOP,
// which can't be caught; the real-time ones are added as the system has
// them. Under a sanitizer, the faults are left to it: its report is worth
// more than the clean-up.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define ORVX_SANITIZED 1
#endif
#endif

constexpr std::array TERMINATING_SIGNALS{
    SIGHUP,    SIGINT,  SIGQUIT, SIGABRT, SIGUSR1,   SIGUSR2, SIGPIPE,
    SIGALRM,   SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifndef ORVX_SANITIZED
    SIGILL,    SIGTRAP, SIGBUS,  SIGFPE,  SIGSEGV,   SIGSYS,
#endif
};

constexpr std::size_t MAX_SIGNALS = 128;
// Outputs being made at once, by as many threads of a program that links
// the library; one more finds no slot and goes without the clean-up.
constexpr std::size_t MAX_CLEANUPS = 64;
constexpr std::size_t MAX_NAME_BYTES = 256;

// A temporary file to remove. The handler reads a slot only while it is
// active; a thread fills it before making it active and makes it inactive
// before letting it go.
struct CleanupSlot {
    std::atomic<bool> active{false};
    std::atomic<bool> taken{false};
    int folder = -1;
    std::array<char, MAX_NAME_BYTES> name{};
};

struct InterruptState {
    std::array<int, MAX_SIGNALS> signals{};
    std::size_t signalCount = 0;
    sigset_t held{};
    // The handlers are installed while any slot is taken; changed under lock.
    std::mutex lock;
    std::size_t slotsTaken = 0;
    bool ownsSignals = false; // the process's own, not lent by a program
    bool handlersIn = false;
    std::array<struct sigaction, MAX_SIGNALS> previous{};
    std::array<bool, MAX_SIGNALS> installed{};
    std::array<CleanupSlot, MAX_CLEANUPS> slots{};
};

InterruptState& interruptState() {
    static InterruptState state;
    static std::once_flag listed;
    std::call_once(listed, [] {
        for (const int signal : TERMINATING_SIGNALS) {
            state.signals[state.signalCount++] = signal;
        }
#if defined(SIGRTMIN) && defined(SIGRTMAX)
        for (int signal = SIGRTMIN; signal <= SIGRTMAX && state.signalCount < MAX_SIGNALS;
             ++signal) {
            state.signals[state.signalCount++] = signal;
        }
#endif
        sigemptyset(&state.held);
        for (std::size_t i = 0; i < state.signalCount; ++i) {
            sigaddset(&state.held, state.signals[i]);
        }
    });
    return state;
}

// Each thread holds the signals for itself.
thread_local int holds = 0;
thread_local sigset_t beforeHold{};

extern "C" void cleanUpAndRaise(int signal) {
    InterruptState& state = interruptState();
    for (CleanupSlot& slot : state.slots) {
        if (slot.active.load(std::memory_order_acquire)) {
            static_cast<void>(unlinkat(slot.folder, slot.name.data(), 0));
        }
    }
    // The signal is blocked while this runs: raised again under its default
    // action, it ends the process as soon as the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    static_cast<void>(sigaction(signal, &fallback, nullptr));
    static_cast<void>(raise(signal));
}

bool isDefault(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

bool isCleanUp(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == cleanUpAndRaise;
}

void installHandlers(InterruptState& state) {
    struct sigaction action {};
    action.sa_handler = cleanUpAndRaise;
    action.sa_mask = state.held; // one clean-up at a time
    for (std::size_t i = 0; i < state.signalCount; ++i) {
        const int signal = state.signals[i];
        struct sigaction current {};
        // Lent: a signal the program handles or ignores is left alone, and
        // not replaced even for a moment, so that none of its own is lost.
        if (!state.ownsSignals &&
            (sigaction(signal, nullptr, &current) != 0 || !isDefault(current))) {
            continue;
        }
        if (sigaction(signal, &action, &state.previous[i]) != 0) {
            continue;
        }
        // Held while this runs, so an ignored signal can't reach the
        // handler before it is ignored again. Lent, the program may have
        // set a handler of its own since the look: it stays.
        const bool ignored = state.previous[i].sa_handler == SIG_IGN &&
                             (state.previous[i].sa_flags & SA_SIGINFO) == 0;
        if (ignored || (!state.ownsSignals && !isDefault(state.previous[i]))) {
            static_cast<void>(sigaction(signal, &state.previous[i], nullptr));
        } else {
            state.installed[i] = true;
        }
    }
}

// Gives back the default actions, but where the program has set an action
// of its own meanwhile.
void restoreHandlers(InterruptState& state) {
    for (std::size_t i = 0; i < state.signalCount; ++i) {
        if (!state.installed[i]) {
            continue;
        }
        struct sigaction current {};
        if (sigaction(state.signals[i], nullptr, &current) == 0 && isCleanUp(current)) {
            static_cast<void>(sigaction(state.signals[i], &state.previous[i], nullptr));
        }
        state.installed[i] = false;
    }
}

} // namespace

void holdInterrupts() {
    if (holds++ == 0) {
        static_cast<void>(pthread_sigmask(SIG_BLOCK, &interruptState().held, &beforeHold));
    }
}

void releaseInterrupts() {
    if (--holds == 0) {
        static_cast<void>(pthread_sigmask(SIG_SETMASK, &beforeHold, nullptr));
    }
}

int setInterruptCleanup(const Folder& folder, const std::string& name) {
    InterruptState& state = interruptState();
    if (name.size() >= MAX_NAME_BYTES) {
        return -1;
    }
    const std::lock_guard<std::mutex> guard(state.lock);
    for (std::size_t i = 0; i < state.slots.size(); ++i) {
        CleanupSlot& slot = state.slots[i];
        if (slot.taken.load(std::memory_order_relaxed)) {
            continue;
        }
        slot.taken.store(true, std::memory_order_relaxed);
        slot.folder = folder.descriptor;
        std::memcpy(slot.name.data(), name.c_str(), name.size() + 1);
        slot.active.store(true, std::memory_order_release);
        if (state.slotsTaken++ == 0 && !state.handlersIn) {
            installHandlers(state);
            state.handlersIn = true;
        }
        return static_cast<int>(i);
    }
    return -1;
}

void clearInterruptCleanup(int cleanup) {
    if (cleanup < 0) {
        return;
    }
    InterruptState& state = interruptState();
    const std::lock_guard<std::mutex> guard(state.lock);
    CleanupSlot& slot = state.slots[static_cast<std::size_t>(cleanup)];
    slot.active.store(false, std::memory_order_release);
    slot.taken.store(false, std::memory_order_relaxed);
    if (--state.slotsTaken == 0 && !state.ownsSignals) {
        restoreHandlers(state);
        state.handlersIn = false;
    }
}

void ownProcessSignals() {
    InterruptState& state = interruptState();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.ownsSignals = true;
}

void reserveStandardStreams() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lower numbers are open by now, so this takes descriptor's.
        const int flags = (descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY) | O_CLOEXEC;
        const int placeholder = retried([&] { return open("/dev/null", flags); });
        if (placeholder >= 0 && placeholder != descriptor) {
            static_cast<void>(close(placeholder));
        }
    }
}

} // namespace orvx
