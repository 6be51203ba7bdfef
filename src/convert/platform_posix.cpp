#include "convert/platform.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MAX_LINK_HOPS = 40; // as the kernel allows when it follows them
constexpr const char* TEMPORARY_SUFFIX = ".orvx-XXXXXX";
constexpr std::size_t MAX_FILE_NAME = NAME_MAX;

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

constexpr int WRITE_FLAGS = O_WRONLY | O_CLOEXEC | O_NOCTTY;
constexpr mode_t CREATE_MODE = 0666;

} // namespace

FileIdentity identityOfPath(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 ? identityOfStat(info) : FileIdentity{};
}

FileIdentity identityOfDescriptor(int descriptor) {
    struct stat info {};
    return fstat(descriptor, &info) == 0 ? identityOfStat(info) : FileIdentity{};
}

FileIdentity identityOfStandardOutput() {
    return identityOfDescriptor(STDOUT_FILENO);
}

std::string followLinks(const char* path) {
    std::string current = path;
    std::vector<char> target(PATH_MAX);
    for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        const ssize_t length = readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            return current;
        }
        std::string next = target[0] == '/' ? std::string() : folderOf(current);
        next.append(target.data(), static_cast<std::size_t>(length));
        current = next;
    }
    return current;
}

int openExistingForWriting(const char* path) {
    return open(path, WRITE_FLAGS | O_NONBLOCK);
}

int openTruncatingForWriting(const char* path) {
    return open(path, WRITE_FLAGS | O_CREAT | O_TRUNC, CREATE_MODE);
}

int createForWriting(const char* path) {
    return open(path, WRITE_FLAGS | O_CREAT | O_EXCL, CREATE_MODE);
}

int closeDescriptor(int descriptor) {
    return close(descriptor);
}

int truncateDescriptor(int descriptor) {
    return ftruncate(descriptor, 0);
}

int createTemporaryBeside(const char* target, std::string& path) {
    const std::string whole = target;
    const std::string folder = folderOf(whole);
    std::string name = whole.substr(folder.size());
    const std::size_t room = MAX_FILE_NAME - 1 - std::char_traits<char>::length(TEMPORARY_SUFFIX);
    if (name.size() > room) {
        name.resize(room);
    }
    path = folder + "." + name + TEMPORARY_SUFFIX;
    return mkostemp(path.data(), O_CLOEXEC);
}

bool isFolderNotWritable(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

int setDescriptorMode(int descriptor, unsigned mode) {
    return fchmod(descriptor, static_cast<mode_t>(mode));
}

bool setDescriptorOwner(int descriptor, std::int64_t owner, std::int64_t group) {
    const auto uid = static_cast<uid_t>(owner);
    const auto gid = static_cast<gid_t>(group);
    if (fchown(descriptor, uid, gid) == 0) {
        return true;
    }
    static_cast<void>(fchown(descriptor, static_cast<uid_t>(-1), gid));
    return false;
}

unsigned newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<unsigned>(CREATE_MODE & ~mask);
}

int replaceFile(const char* from, const char* to) {
    return rename(from, to);
}

void removeIfSameFile(const char* path, const FileIdentity& identity) {
    struct stat info {};
    if (identity.kind == FileKind::REGULAR && lstat(path, &info) == 0 && S_ISREG(info.st_mode) &&
        isSameFile(identityOfStat(info), identity)) {
        static_cast<void>(unlink(path));
    }
}

std::FILE* openFileForReading(const char* path) {
    return std::fopen(path, "rb");
}

std::FILE* streamOverDescriptor(int descriptor) {
    return fdopen(descriptor, "wb");
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

constexpr std::array<int, 6> INTERRUPTS{SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXCPU, SIGXFSZ};

struct InterruptState {
    std::array<struct sigaction, INTERRUPTS.size()> previous{};
    std::array<bool, INTERRUPTS.size()> installed{};
    sigset_t held{};
    sigset_t beforeHold{};
    // Prepared before the handler may run; the handler only reads them.
    std::vector<char> removePath;
    int descriptor = -1;
};

InterruptState& interruptState() {
    static InterruptState state;
    return state;
}

extern "C" void cleanUpAndRaise(int signal) {
    const InterruptState& state = interruptState();
    if (!state.removePath.empty()) {
        static_cast<void>(unlink(state.removePath.data()));
    } else if (state.descriptor >= 0) {
        static_cast<void>(ftruncate(state.descriptor, 0));
    }
    // The signal is blocked while this runs: raised again under its default
    // action, it ends the process as soon as the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    static_cast<void>(sigaction(signal, &fallback, nullptr));
    static_cast<void>(raise(signal));
}

void installHandlers(InterruptState& state) {
    struct sigaction action {};
    action.sa_handler = cleanUpAndRaise;
    action.sa_mask = state.held; // one clean-up at a time
    for (std::size_t i = 0; i < INTERRUPTS.size(); ++i) {
        if (state.installed[i] || sigaction(INTERRUPTS[i], nullptr, &state.previous[i]) != 0 ||
            state.previous[i].sa_handler == SIG_IGN) {
            continue;
        }
        state.installed[i] = sigaction(INTERRUPTS[i], &action, nullptr) == 0;
    }
}

void restoreHandlers(InterruptState& state) {
    for (std::size_t i = 0; i < INTERRUPTS.size(); ++i) {
        if (state.installed[i]) {
            static_cast<void>(sigaction(INTERRUPTS[i], &state.previous[i], nullptr));
            state.installed[i] = false;
        }
    }
}

} // namespace

void holdInterrupts() {
    InterruptState& state = interruptState();
    sigemptyset(&state.held);
    for (const int signal : INTERRUPTS) {
        sigaddset(&state.held, signal);
    }
    static_cast<void>(sigprocmask(SIG_BLOCK, &state.held, &state.beforeHold));
}

void releaseInterrupts() {
    static_cast<void>(sigprocmask(SIG_SETMASK, &interruptState().beforeHold, nullptr));
}

void setInterruptCleanup(const char* removePath, int descriptor) {
    InterruptState& state = interruptState();
    state.removePath.clear();
    if (removePath != nullptr) {
        const std::string path = removePath;
        state.removePath.assign(path.c_str(), path.c_str() + path.size() + 1);
    }
    state.descriptor = descriptor;
    installHandlers(state);
}

void clearInterruptCleanup() {
    InterruptState& state = interruptState();
    restoreHandlers(state);
    state.removePath.clear();
    state.descriptor = -1;
}

void reserveStandardStreams() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lower numbers are open by now, so this takes descriptor's.
        const int placeholder =
            open("/dev/null", (descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (placeholder >= 0 && placeholder != descriptor) {
            static_cast<void>(close(placeholder));
        }
    }
}
