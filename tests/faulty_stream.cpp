#include "faulty_stream.h"

#include <cerrno>
#include <sys/types.h>

namespace {

FaultPlan* activePlan = nullptr;

bool failsNow() {
    FaultPlan& plan = *activePlan;
    ++plan.calls;
    return plan.calls == plan.failAt;
}

ssize_t cookieRead(void* cookie, char* buffer, size_t size) {
    if (failsNow()) {
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(std::fread(buffer, 1, size, static_cast<FILE*>(cookie)));
}

ssize_t cookieWrite(void* cookie, const char* buffer, size_t size) {
    if (failsNow()) {
        errno = ENOSPC;
        return 0; // stdio takes 0 as a failed write
    }
    return static_cast<ssize_t>(std::fwrite(buffer, 1, size, static_cast<FILE*>(cookie)));
}

int cookieSeek(void* cookie, off64_t* offset, int whence) {
    if (failsNow()) {
        errno = EIO;
        return -1;
    }
    FILE* file = static_cast<FILE*>(cookie);
    if (fseeko(file, *offset, whence) != 0) {
        return -1;
    }
    *offset = ftello(file);
    return 0;
}

int cookieClose(void* cookie) {
    const bool fail = failsNow();
    const int closed = std::fclose(static_cast<FILE*>(cookie));
    if (fail) {
        errno = EIO;
        return -1;
    }
    return closed;
}

FILE* openCounted(const char* path, const char* mode) {
    if (failsNow()) {
        return nullptr;
    }
    FILE* file = std::fopen(path, mode);
    if (file == nullptr) {
        return nullptr;
    }
    const cookie_io_functions_t functions{cookieRead, cookieWrite, cookieSeek, cookieClose};
    FILE* stream = fopencookie(file, mode, functions);
    if (stream == nullptr) {
        std::fclose(file);
    }
    return stream;
}

FILE* openSource(const char* path) { return openCounted(path, "rb"); }
FILE* openDestination(const char* path) { return openCounted(path, "wb"); }

} // namespace

const FileOps& faultyFileOps(FaultPlan& plan) {
    activePlan = &plan;
    static const FileOps ops{openSource, openDestination};
    return ops;
}
