// platform.h - what the life of an output file needs from the system that the
// standard library can't say: which file a path or descriptor is, a temporary
// file beside the target and the rename that puts it in place, removal of a
// regular file only, and clean-up when the process is interrupted.
//
// Everything else in the tool is platform-free. One implementation per
// system: platform_posix.cpp and platform_windows.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

// The path that a chain of symbolic links starting at path ends at: path
// itself when it is no link, the link's target when that is missing.
std::string followLinks(const char* path);

// Opens an existing file for writing without changing it, or -1: tells
// whether it may be written, and never waits on a FIFO.
int openExistingForWriting(const char* path);
// Opens path as a plain "wb" does (created with 0666 less the umask, or cut
// to zero length), or -1.
int openTruncatingForWriting(const char* path);
// Creates path, which must not exist, for writing, or -1.
int createForWriting(const char* path);
int closeDescriptor(int descriptor);
int truncateDescriptor(int descriptor);

// The hidden temporary name for an output at target: ".NAME.orvx-XXXXXX" in
// target's folder, NAME being target's file name (cut short if the whole
// would be too long for the file system), created exclusively with mode 0600.
// A descriptor open for writing, or -1 with errno set.
int createTemporaryBeside(const char* target, std::string& path);
// True when a failure to create the temporary file means only that its
// folder can't be written to: the target itself may still be.
bool isFolderNotWritable(int error);

int setDescriptorMode(int descriptor, unsigned mode);
// Gives the open file this owner and group, else keeps at least the group if
// it may. True when both were given.
bool setDescriptorOwner(int descriptor, std::int64_t owner, std::int64_t group);
// The permission bits a plain create gives a new file: 0666 less the umask.
unsigned newFileMode();
int replaceFile(const char* from, const char* to);

// Removes path only while it still names the regular file identity
// describes: never a device, a FIFO or another file that has taken the name
// since.
void removeIfSameFile(const char* path, const FileIdentity& identity);

// Interruption. While a clean-up is set, SIGINT, SIGTERM, SIGHUP, SIGPIPE,
// SIGXCPU and SIGXFSZ remove the file at removePath (or, with removePath
// null, cut the file open at descriptor to zero length), restore the
// signal's default action and raise it again, so that the process ends by
// that signal. A signal that was ignored when the clean-up was first set
// stays ignored. Change the clean-up only between holdInterrupts and
// releaseInterrupts, so that no signal sees it half made.
void holdInterrupts();
void releaseInterrupts();
void setInterruptCleanup(const char* removePath, int descriptor);
void clearInterruptCleanup();

// Gives each of the standard descriptors 0, 1 and 2 that is closed a
// placeholder that can't be used (the null device, opened the other way), so
// that no file the tool opens takes its number and writing a message to a
// closed standard output fails instead of landing in that file.
void reserveStandardStreams();

// Streams: a file opened for binary reading (path in UTF-8), and a binary
// stream that writes to and owns an output descriptor. Null on failure.
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
