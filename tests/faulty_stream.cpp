#include "faulty_stream.h"

#include "platform/platform.h"

#include <cerrno>
#include <sys/types.h>

using namespace orvx;

namespace {

FaultPlan* activePlan = nullptr;

struct Cookie {
    FILE* file;
    bool destination;
};

bool failsNow(CallKind kind) {
    FaultPlan& plan = *activePlan;
    ++plan.calls;
    if (plan.calls != plan.failAt) {
        return false;
    }
    plan.failed = kind;
    plan.destinationOpenAtFailure = plan.destinationOpen;
    return true;
}

ssize_t cookieRead(void* cookie, char* buffer, size_t size) {
    if (failsNow(CallKind::READ)) {
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(std::fread(buffer, 1, size, static_cast<Cookie*>(cookie)->file));
}

ssize_t cookieWrite(void* cookie, const char* buffer, size_t size) {
    if (failsNow(CallKind::WRITE)) {
        errno = ENOSPC;
        return 0; // stdio takes 0 as a failed write
    }
    return static_cast<ssize_t>(std::fwrite(buffer, 1, size, static_cast<Cookie*>(cookie)->file));
}

int cookieSeek(void* cookie, off64_t* offset, int whence) {
    if (failsNow(static_cast<Cookie*>(cookie)->destination ? CallKind::SEEK_DESTINATION
                                                           : CallKind::SEEK)) {
        errno = EIO;
        return -1;
    }
    FILE* file = static_cast<Cookie*>(cookie)->file;
    if (fseeko(file, *offset, whence) != 0) {
        return -1;
    }
    *offset = ftello(file);
    return 0;
}

int cookieClose(void* cookie) {
    auto* c = static_cast<Cookie*>(cookie);
    const bool fail =
        failsNow(c->destination ? CallKind::CLOSE_DESTINATION : CallKind::CLOSE_SOURCE);
    const int closed = std::fclose(c->file);
    if (c->destination) {
        activePlan->destinationOpen = false;
    }
    delete c;
    if (fail) {
        errno = EIO;
        return -1;
    }
    return closed;
}

// Wraps an open stream in a counted one; closes it when that fails.
FILE* countStream(FILE* file, bool destination) {
    const char* mode = destination ? "wb" : "rb";
    const cookie_io_functions_t functions{cookieRead, cookieWrite, cookieSeek, cookieClose};
    auto* cookie = new Cookie{file, destination};
    FILE* stream = fopencookie(cookie, mode, functions);
    if (stream == nullptr) {
        std::fclose(file);
        delete cookie;
        return nullptr;
    }
    if (activePlan->unbuffered) {
        std::setvbuf(stream, nullptr, _IONBF, 0);
    }
    activePlan->destinationOpen = activePlan->destinationOpen || destination;
    return stream;
}

FILE* openSource(const char* path) {
    if (failsNow(CallKind::OPEN_SOURCE)) {
        return nullptr;
    }
    FILE* file = std::fopen(path, "rb");
    return file == nullptr ? nullptr : countStream(file, false);
}

FILE* openOutput(int descriptor) {
    if (failsNow(CallKind::OPEN_DESTINATION)) {
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "wb");
    return file == nullptr ? nullptr : countStream(file, true);
}

int createTemporary(const Folder& folder, const std::string& name, std::string& temporaryName) {
    if (activePlan->folderNotWritable && !folder.staging) {
        errno = EACCES;
        return -1;
    }
    if (failsNow(CallKind::CREATE_TEMPORARY)) {
        errno = ENOSPC;
        return -1;
    }
    return createTemporaryIn(folder, name, temporaryName);
}

int setMode(int descriptor, unsigned mode) {
    if (failsNow(CallKind::SET_MODE)) {
        errno = EPERM;
        return -1;
    }
    return setDescriptorMode(descriptor, mode);
}

int replace(const Folder& folder, const std::string& from, const std::string& to) {
    if (failsNow(CallKind::REPLACE)) {
        errno = EIO;
        return -1;
    }
    if (activePlan->replaceRefused) {
        errno = EBUSY;
        return -1;
    }
    return replaceIn(folder, from, to);
}

} // namespace

const FileOps& faultyFileOps(FaultPlan& plan) {
    activePlan = &plan;
    static const FileOps ops{openSource, openOutput, createTemporary, setMode, replace};
    return ops;
}
