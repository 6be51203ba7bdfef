// platform.h - what the life of an output file needs from the system that the
// standard library can't say: which file a path or descriptor is, a folder
// held open and the names in it (temporary files, the rename that puts one in
// place, removal of a regular file only), an exclusive lock and a copy into
// an existing file, extended attributes, and clean-up when the process is
// interrupted.
//
// Everything else in the tool is platform-free. One implementation per
// system: platform_posix.cpp and platform_windows.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace orvx {

enum class FileKind { MISSING, REGULAR, DIRECTORY, CHARACTER_DEVICE, OTHER };

struct FileIdentity {
    FileKind kind = FileKind::MISSING;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    unsigned mode = 0; // permission bits, setuid, setgid and sticky included
    std::int64_t owner = -1;
    std::int64_t group = -1;
};

// The file at path, following symbolic links; MISSING when it can't be
// reached.
FileIdentity identityOfPath(const char* path);
FileIdentity identityOfDescriptor(int descriptor);
FileIdentity identityOfStandardOutput();

// True when both exist and are one file, whatever the paths that led there.
inline bool isSameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.kind != FileKind::MISSING && b.kind != FileKind::MISSING && a.device == b.device &&
           a.inode == b.inode;
}

// Where an output's names live: a folder held open for the whole run, so
// that every name in it is short (POSIX: openat, renameat, unlinkat on the
// descriptor), however long the path that led there.
struct Folder {
    int descriptor = -1;  // POSIX: the open folder; unused on Windows
    std::string path;     // with its trailing separator; empty for the current folder
    bool staging = false; // the system's temporary folder, not the destination's
};

// The name a path ends at once every symbolic link on the way is followed
// (a link to a missing file ends at that file's name), split into its folder,
// opened, and the name in it. 0, or -1 with errno set: ELOOP for a link loop,
// ENOENT for a missing folder, ENAMETOOLONG for a name the folder's file
// system can't hold, EISDIR for a path that names no file (empty, or ending
// in a separator).
int openFolderOf(const char* path, Folder& folder, std::string& name);
// The system's temporary folder, for an output that can't be made beside
// its destination.
int openStagingFolder(Folder& folder);
void closeFolder(Folder& folder);

// The file name in folder names, not following a final link; MISSING if none.
FileIdentity identityIn(const Folder& folder, const std::string& name);
// Opens an existing file for writing without changing it, or -1: tells
// whether it may be written, and never waits on a FIFO.
int openExistingIn(const Folder& folder, const std::string& name);
int openForReadingIn(const Folder& folder, const std::string& name);
// Opens path as a plain "wb" does (created with 0666 less the umask, or cut
// to zero length), or -1.
int openTruncatingForWriting(const char* path);
// An interrupted close counts as done: the descriptor is gone either way.
int closeDescriptor(int descriptor);

// Creates ".NAME.orvx-XXXXXX" in folder, NAME being name (cut short if the
// whole would be too long for a file name), exclusively, with mode 0600, and
// opens it for reading and writing. Its name goes to temporaryName. A
// descriptor, or -1 with errno set.
int createTemporaryIn(const Folder& folder, const std::string& name, std::string& temporaryName);
// True when a failure to create the temporary file means only that its
// folder can't be written to: the target itself may still be.
bool isFolderNotWritable(int error);
// Renames from onto to, both in folder, replacing what to names; 0, or -1
// with errno set.
int replaceIn(const Folder& folder, const std::string& from, const std::string& to);
// True when a failed rename means only that the destination's name can't be
// replaced (a sticky folder, a mount point, a read-only folder): its file
// may still be written.
bool isReplaceRefused(int error);
// Removes name only while it still names the regular file identity
// describes: never a device, a FIFO or another file that has taken the name
// since.
void removeInIfSameFile(const Folder& folder, const std::string& name,
                        const FileIdentity& identity);

int setDescriptorMode(int descriptor, unsigned mode);
// Gives the open file this owner and group, else keeps at least the group if
// it may. True when both were given.
bool setDescriptorOwner(int descriptor, std::int64_t owner, std::int64_t group);
// The permission bits a plain create gives a new file: 0666 less the umask.
unsigned newFileMode();
// Copies every extended attribute the system lets this process read from
// one open file and write to the other: POSIX ACLs and security labels
// included, where they are kept as attributes. One that can't be copied is
// left out; nothing else fails.
void copyExtendedAttributes(int from, int to);

// Waits for an exclusive lock on the whole open file; it goes when the
// descriptor is closed. 0, or -1 with errno set.
int lockExclusive(int descriptor);
// Makes the open file at to hold exactly the size bytes that from holds:
// room for them first, so that a full disk fails before the first byte
// changes, then the bytes from the start, then the length. 0, or -1.
int copyWholeFile(int from, int to, std::uint64_t size);
std::int64_t descriptorSize(int descriptor);

// Interruption. The process's signals belong to the program: the commands
// own theirs (their entry says so with ownProcessSignals), and any other
// program that links the library only lends them, so that its own handlers
// and timers go on as they were.
//
// While a clean-up is set, a signal that ends the process by default and may
// be caught (all but SIGKILL and SIGSTOP) removes name from folder (and every
// other file with a clean-up set, in any thread), restores the signal's
// default action and raises it again, so that the process ends by that
// signal. Which signals do that:
// - in a program that lends them: only those whose action is still the
//   default when the first clean-up is set, as they would end the process
//   anyway. A signal the program handles or ignores is its own: its handler
//   runs as ever, and the call that set the clean-up removes the file when it
//   returns. The default actions come back when the last clean-up goes (one
//   the program has changed meanwhile is left as it made it). On Windows,
//   where a program's console handlers can't be told from the default, none
//   goes in: a call cut short by Ctrl-C leaves its temporary file.
// - in a process that owns them: every one that is not ignored. Once in, the
//   handlers stay, doing no more than the default action while no clean-up
//   is set: there are no handlers of the program's own to give back, and it
//   saves a system call per signal.
// Set and clear a clean-up only between holdInterrupts and releaseInterrupts
// (which hold the signals for the calling thread), so that no signal sees it
// half made; signals that arrive while held wait until the release.
// setInterruptCleanup gives the handle clearInterruptCleanup takes, or -1
// when none can be had (the name is then not removed).
void holdInterrupts();
void releaseInterrupts();
int setInterruptCleanup(const Folder& folder, const std::string& name);
void clearInterruptCleanup(int cleanup);
// Says that the process is the program's own (a command's entry calls it,
// before anything else).
void ownProcessSignals();

// Gives each of the standard descriptors 0, 1 and 2 that is closed a
// placeholder that can't be used (the null device, opened the other way), so
// that no file the tool opens takes its number and writing a message to a
// closed standard output fails instead of landing in that file.
void reserveStandardStreams();

// Streams: a file opened for binary reading (path in UTF-8), and a binary
// stream that writes to and owns an output descriptor. Null on failure. The
// input is unbuffered when it is a regular file (a whole chunk goes straight
// into the caller's buffer) and buffered otherwise (a FIFO, a device).
//
// A signal the program handles never fails a conversion: a system call it
// interrupts (its handler installed without SA_RESTART, as Python's are) is
// made again, here and in the streams' reads and writes. Only a regular
// file's reads are left to the C library, as local file systems never cut
// them short.
std::FILE* openFileForReading(const char* path);
std::FILE* streamOverDescriptor(int descriptor);

// Absolute seeks and positions with 64-bit offsets, whatever the width of
// long. 0 / the position on success, -1 on failure.
int seekFile(std::FILE* stream, std::int64_t offset);
std::int64_t fileSize(std::FILE* stream); // moves the stream to its end

#ifdef _WIN32
// The program entry on Windows: the arguments come as UTF-16 and go on to
// run in UTF-8, so that file names in any language reach the files whole.
int runWithWideArguments(int argc, wchar_t** argv, int (*run)(int, const char* const*));
#endif

} // namespace orvx
