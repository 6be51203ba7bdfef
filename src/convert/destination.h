// destination.h - the output file's life: refuse the input, check the close,
// and on failure take away only a regular file that this run wrote.
#pragma once

#include <cstdio>
#include <sys/types.h>

struct FileIdentity {
    bool known = false;
    bool regular = false;
    dev_t device = 0;
    ino_t inode = 0;
};

struct Destination {
    std::FILE* stream = nullptr;
    const char* path = nullptr;
    FileIdentity identity; // of what the stream writes to, taken right after opening
};

// Identity of the file at path, following symbolic links. Unknown when the
// path can't be stat'ed.
FileIdentity identityOfPath(const char* path);

// True when both paths exist and name the same file: the same path, another
// spelling of it, a hard link or a symbolic link to it.
bool isSameFile(const char* a, const char* b);

// Records what the freshly opened stream writes to: its descriptor when it has
// one, else the path.
void rememberIdentity(Destination& destination);

// Opens path with open, unless it names the input file (writing onto the input
// would truncate it before it is read), and records what the stream writes to.
// False when refused or when open fails; the destination is then unopened.
bool openDestination(Destination& destination, const char* inputPath, const char* path,
                     std::FILE* (*open)(const char* path));

// Flushes and closes the stream. False if either reported an error.
bool closeDestination(Destination& destination);

// After a failure: closes the stream if still open, then removes the file if
// the path still names the regular file that was written. A regular file
// reached through a symbolic link is cut to zero length instead, since
// removing the path would only remove the link. Devices, FIFOs and anything
// else are left alone.
void discardDestination(Destination& destination);
