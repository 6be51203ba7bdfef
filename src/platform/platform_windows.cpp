// The Windows side of platform.h. Paths arrive in UTF-8 and go to the system
// in UTF-16. File identity is the volume serial number and the file index;
// the temporary file is opened so that it can be deleted while open, and
// renamed over the destination with MoveFileExW; in the commands, Ctrl-C,
// Ctrl-Break and the console closing delete it, then let the default handler
// end the process.
#include "platform/platform.h"

#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace orvx {

namespace {

constexpr const wchar_t* TEMPORARY_TAG = L".orvx-";
constexpr int TEMPORARY_RANDOM_CHARS = 6;
constexpr int TEMPORARY_ATTEMPTS = 100;
constexpr std::size_t MAX_FILE_NAME = 255;
constexpr std::size_t COPY_BUFFER_SIZE = std::size_t{1} << 18U;

std::wstring widen(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    return wide;
}

std::string narrow(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length) - 1);
    return utf8;
}

// Devices and pipes have no file index: each gets a number of its own, so
// that two of them never pass for the same file.
std::uint64_t uniqueIdentity() {
    static std::uint64_t next = 0;
    return ~next++;
}

FileIdentity identityOfHandle(HANDLE handle) {
    FileIdentity identity;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return identity;
    }
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        identity.kind = type == FILE_TYPE_CHAR ? FileKind::CHARACTER_DEVICE : FileKind::OTHER;
        identity.inode = uniqueIdentity();
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info) == 0) {
        return identity;
    }
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity.kind = folder ? FileKind::DIRECTORY : FileKind::REGULAR;
    identity.device = info.dwVolumeSerialNumber;
    identity.inode = (std::uint64_t{info.nFileIndexHigh} << 32U) | info.nFileIndexLow;
    identity.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444U : 0666U;
    return identity;
}

HANDLE openHandle(const wchar_t* path, DWORD access) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int descriptorOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
    }
    return descriptor;
}

void setErrnoFromLastError() {
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
    }
}

int openWithFlags(const char* path, int flags) {
    int descriptor = -1;
    const std::wstring wide = widen(path);
    if (_wsopen_s(&descriptor, wide.c_str(), flags | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                  _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) {
        return -1;
    }
    return descriptor;
}

} // namespace

FileIdentity identityOfPath(const char* path) {
    const std::wstring wide = widen(path);
    const HANDLE handle = openHandle(wide.c_str(), 0);
    const FileIdentity identity = identityOfHandle(handle);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return identity;
}

FileIdentity identityOfDescriptor(int descriptor) {
    return identityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
}

FileIdentity identityOfStandardOutput() {
    return identityOfHandle(GetStdHandle(STD_OUTPUT_HANDLE));
}

namespace {

std::string joined(const Folder& folder, const std::string& name) {
    return folder.path + name;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\' || c == ':';
}

int openFolderAt(const std::string& path, Folder& folder) {
    const std::wstring wide = widen(path.empty() ? "." : path.c_str());
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        errno = attributes == INVALID_FILE_ATTRIBUTES ? ENOENT : ENOTDIR;
        return -1;
    }
    folder.path = path;
    return 0;
}

} // namespace

// A link on Windows is replaced with the file it names: the path is taken
// as it is.
int openFolderOf(const char* path, Folder& folder, std::string& name) {
    const std::string whole = path;
    if (whole.empty()) {
        errno = ENOENT;
        return -1;
    }
    std::size_t end = whole.size();
    while (end > 0 && !isSeparator(whole[end - 1])) {
        --end;
    }
    name = whole.substr(end);
    if (name.empty()) {
        errno = EISDIR;
        return -1;
    }
    if (widen(name.c_str()).size() > MAX_FILE_NAME) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return openFolderAt(whole.substr(0, end), folder);
}

int openStagingFolder(Folder& folder) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) {
        errno = ENOENT;
        return -1;
    }
    if (openFolderAt(narrow(buffer.data()), folder) != 0) {
        return -1;
    }
    folder.staging = true;
    return 0;
}

void closeFolder(Folder& folder) {
    folder = Folder{};
}

FileIdentity identityIn(const Folder& folder, const std::string& name) {
    return identityOfPath(joined(folder, name).c_str());
}

int openExistingIn(const Folder& folder, const std::string& name) {
    const std::wstring wide = widen(joined(folder, name).c_str());
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        setErrnoFromLastError();
    }
    return descriptorOf(handle);
}

int openForReadingIn(const Folder& folder, const std::string& name) {
    int descriptor = -1;
    const std::wstring wide = widen(joined(folder, name).c_str());
    if (_wsopen_s(&descriptor, wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) !=
        0) {
        return -1;
    }
    return descriptor;
}

int openTruncatingForWriting(const char* path) {
    return openWithFlags(path, _O_CREAT | _O_TRUNC);
}

int closeDescriptor(int descriptor) {
    return _close(descriptor);
}

int createTemporaryIn(const Folder& folder, const std::string& name, std::string& temporaryName) {
    std::wstring stem = widen(name.c_str());
    const std::size_t room =
        MAX_FILE_NAME - 1 - std::wcslen(TEMPORARY_TAG) - TEMPORARY_RANDOM_CHARS;
    if (stem.size() > room) {
        stem.resize(room);
    }
    const std::wstring place = widen(folder.path.c_str());
    static const wchar_t letters[] =
        L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::uint64_t seed = GetTickCount64() ^ (std::uint64_t{GetCurrentProcessId()} << 32U);
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        std::wstring candidate = L"." + stem + TEMPORARY_TAG;
        for (int i = 0; i < TEMPORARY_RANDOM_CHARS; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            candidate += letters[(seed >> 33U) % 62U];
        }
        // Shared for deletion: an interruption deletes it while it is open.
        const std::wstring full = place + candidate;
        const HANDLE handle = CreateFileW(full.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            temporaryName = narrow(candidate.c_str());
            return descriptorOf(handle);
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            setErrnoFromLastError();
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

bool isFolderNotWritable(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

int replaceIn(const Folder& folder, const std::string& from, const std::string& to) {
    const std::wstring source = widen(joined(folder, from).c_str());
    const std::wstring target = widen(joined(folder, to).c_str());
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        setErrnoFromLastError();
        return -1;
    }
    return 0;
}

bool isReplaceRefused(int error) {
    return error == EACCES || error == EPERM || error == EBUSY;
}

void removeInIfSameFile(const Folder& folder, const std::string& name,
                        const FileIdentity& identity) {
    const std::string path = joined(folder, name);
    const FileIdentity now = identityOfPath(path.c_str());
    if (identity.kind == FileKind::REGULAR && now.kind == FileKind::REGULAR &&
        isSameFile(now, identity)) {
        const std::wstring wide = widen(path.c_str());
        DeleteFileW(wide.c_str());
    }
}

int setDescriptorMode(int /*descriptor*/, unsigned /*mode*/) {
    return 0; // a new file takes its folder's permissions, as any new file there
}

bool setDescriptorOwner(int /*descriptor*/, std::int64_t /*owner*/, std::int64_t /*group*/) {
    return true;
}

unsigned newFileMode() {
    return 0666U;
}

void copyExtendedAttributes(int /*from*/, int /*to*/) {
    // A new file takes its folder's access list; there is nothing else to carry.
}

int lockExclusive(int descriptor) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    OVERLAPPED whole{};
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
        setErrnoFromLastError();
        return -1;
    }
    return 0;
}

std::int64_t descriptorSize(int descriptor) {
    return _filelengthi64(descriptor);
}

int copyWholeFile(int from, int to, std::uint64_t size) {
    const auto length = static_cast<std::int64_t>(size);
    if (length > _filelengthi64(to) && _chsize_s(to, length) != 0) {
        return -1; // no room: nothing of the old file has changed
    }
    if (_lseeki64(from, 0, SEEK_SET) != 0 || _lseeki64(to, 0, SEEK_SET) != 0) {
        return -1;
    }
    std::vector<char> buffer(COPY_BUFFER_SIZE);
    for (std::int64_t done = 0; done < length;) {
        const int got = _read(from, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (got <= 0) {
            errno = EIO;
            return -1;
        }
        if (_write(to, buffer.data(), static_cast<unsigned>(got)) != got) {
            return -1;
        }
        done += got;
    }
    return _chsize_s(to, length) == 0 ? 0 : -1;
}

// Interruption --------------------------------------------------------------

namespace {

// The files to delete, one slot per output being made (by as many threads);
// an empty path is a free slot.
struct InterruptState {
    CRITICAL_SECTION lock;
    std::vector<std::wstring> removePaths;
    std::size_t taken = 0;
    bool installed = false;
    bool ownsSignals = false; // a command's: the console handler may go in

    InterruptState() { InitializeCriticalSection(&lock); }
};

InterruptState& interruptState() {
    static InterruptState state;
    return state;
}

BOOL WINAPI cleanUpOnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    InterruptState& state = interruptState();
    // Held until the process ends: no other thread changes anything more.
    EnterCriticalSection(&state.lock);
    for (const std::wstring& path : state.removePaths) {
        if (!path.empty()) {
            DeleteFileW(path.c_str()); // gone once the process closes it
        }
    }
    return FALSE; // on to the default handler, which ends the process
}

} // namespace

void holdInterrupts() {
    EnterCriticalSection(&interruptState().lock);
}

void releaseInterrupts() {
    LeaveCriticalSection(&interruptState().lock);
}

int setInterruptCleanup(const Folder& folder, const std::string& name) {
    InterruptState& state = interruptState();
    std::wstring path = widen(joined(folder, name).c_str());
    std::size_t slot = 0;
    while (slot < state.removePaths.size() && !state.removePaths[slot].empty()) {
        ++slot;
    }
    if (slot == state.removePaths.size()) {
        state.removePaths.emplace_back();
    }
    state.removePaths[slot] = std::move(path);
    // Lent by a program, the console's events are its own: a handler of
    // its would run after this one and may keep the process going, with
    // the file gone.
    if (state.taken++ == 0 && !state.installed && state.ownsSignals) {
        state.installed = SetConsoleCtrlHandler(cleanUpOnConsoleEvent, TRUE) != 0;
    }
    return static_cast<int>(slot);
}

void ownProcessSignals() {
    InterruptState& state = interruptState();
    EnterCriticalSection(&state.lock);
    state.ownsSignals = true;
    LeaveCriticalSection(&state.lock);
}

void clearInterruptCleanup(int cleanup) {
    InterruptState& state = interruptState();
    if (cleanup < 0 || static_cast<std::size_t>(cleanup) >= state.removePaths.size()) {
        return;
    }
    state.removePaths[static_cast<std::size_t>(cleanup)].clear();
    if (--state.taken == 0 && state.installed) {
        SetConsoleCtrlHandler(cleanUpOnConsoleEvent, FALSE);
        state.installed = false;
    }
}

void reserveStandardStreams() {
    // Nothing to do: the C runtime never hands out 0, 1 or 2 for a file.
}

std::FILE* openFileForReading(const char* path) {
    const std::wstring wide = widen(path);
    std::FILE* stream = _wfopen(wide.c_str(), L"rb");
    if (stream != nullptr) {
        static_cast<void>(std::setvbuf(stream, nullptr, _IONBF, 0));
    }
    return stream;
}

std::FILE* streamOverDescriptor(int descriptor) {
    return _fdopen(descriptor, "wb");
}

int seekFile(std::FILE* stream, std::int64_t offset) {
    return _fseeki64(stream, offset, SEEK_SET);
}

std::int64_t fileSize(std::FILE* stream) {
    if (_fseeki64(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    return _ftelli64(stream);
}

int runWithWideArguments(int argc, wchar_t** argv, int (*run)(int, const char* const*)) {
    std::vector<std::string> arguments;
    std::vector<const char*> pointers;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(narrow(argv[i]));
    }
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);
    return run(argc, pointers.data());
}

} // namespace orvx
