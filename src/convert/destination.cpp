#include "convert/destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileIdentity identityOfStat(const struct stat& info) {
    FileIdentity identity;
    identity.known = true;
    identity.regular = S_ISREG(info.st_mode);
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    return identity;
}

bool sameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

} // namespace

FileIdentity identityOfPath(const char* path) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        return FileIdentity{};
    }
    return identityOfStat(info);
}

bool isSameFile(const char* a, const char* b) {
    return sameIdentity(identityOfPath(a), identityOfPath(b));
}

void rememberIdentity(Destination& destination) {
    const int descriptor = fileno(destination.stream);
    struct stat info {};
    if (descriptor >= 0 && fstat(descriptor, &info) == 0) {
        destination.identity = identityOfStat(info);
    } else {
        destination.identity = identityOfPath(destination.path);
    }
}

bool openDestination(Destination& destination, const char* inputPath, const char* path,
                     std::FILE* (*open)(const char* path)) {
    if (isSameFile(inputPath, path)) {
        return false;
    }
    destination.path = path;
    destination.stream = open(path);
    if (destination.stream == nullptr) {
        return false;
    }
    rememberIdentity(destination);
    return true;
}

bool closeDestination(Destination& destination) {
    const bool flushed = std::fflush(destination.stream) == 0;
    const bool closed = std::fclose(destination.stream) == 0;
    destination.stream = nullptr;
    return flushed && closed;
}

void discardDestination(Destination& destination) {
    if (destination.stream != nullptr) {
        static_cast<void>(std::fclose(destination.stream)); // the failure is already decided
        destination.stream = nullptr;
    }
    const FileIdentity& written = destination.identity;
    if (!written.regular) {
        return;
    }
    struct stat link {};
    if (lstat(destination.path, &link) == 0 && S_ISREG(link.st_mode)) {
        if (sameIdentity(identityOfStat(link), written)) {
            static_cast<void>(unlink(destination.path));
        }
        return;
    }
    // Reached through a symbolic link: empty the file it points to, if that
    // is still the one written.
    const int descriptor = open(destination.path, O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return;
    }
    struct stat target {};
    if (fstat(descriptor, &target) == 0 && sameIdentity(identityOfStat(target), written)) {
        static_cast<void>(ftruncate(descriptor, 0));
    }
    static_cast<void>(close(descriptor));
}
