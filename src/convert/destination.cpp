#include "convert/destination.h"

#include <cerrno>

namespace {

// Cuts path to zero length only while it still names the regular file
// identity describes.
void truncateIfSameFile(const char* path, const FileIdentity& identity) {
    if (identity.kind != FileKind::REGULAR) {
        return;
    }
    const int descriptor = openExistingForWriting(path);
    if (descriptor < 0) {
        return;
    }
    if (isSameFile(identityOfDescriptor(descriptor), identity)) {
        static_cast<void>(truncateDescriptor(descriptor));
    }
    static_cast<void>(closeDescriptor(descriptor));
}

// Owns descriptor from here on: a stream over it, or closed on failure.
bool attachStream(Destination& destination, int descriptor) {
    destination.descriptor = descriptor;
    destination.written = identityOfDescriptor(descriptor);
    destination.stream = destination.ops->openOutput(descriptor);
    if (destination.stream == nullptr) {
        static_cast<void>(closeDescriptor(descriptor));
        discardDestination(destination);
        return false;
    }
    return true;
}

bool openDirect(Destination& destination, const char* path) {
    destination.kind = OutputKind::DIRECT;
    const int descriptor = openTruncatingForWriting(path);
    return descriptor >= 0 && attachStream(destination, descriptor);
}

// The folder can't take a temporary file: write the file itself, an existing
// one (already open as existing) cut to zero length first.
bool openInPlace(Destination& destination, int existing) {
    destination.kind = OutputKind::IN_PLACE;
    destination.created = existing < 0;
    const int descriptor =
        destination.created ? createForWriting(destination.target.c_str()) : existing;
    if (descriptor < 0) {
        return false;
    }
    holdInterrupts();
    if (destination.created) {
        setInterruptCleanup(destination.target.c_str(), -1);
    } else {
        setInterruptCleanup(nullptr, descriptor);
    }
    releaseInterrupts();
    if (!destination.created && truncateDescriptor(descriptor) != 0) {
        static_cast<void>(closeDescriptor(descriptor));
        discardDestination(destination);
        return false;
    }
    return attachStream(destination, descriptor);
}

void stopInterruptCleanup() {
    holdInterrupts();
    clearInterruptCleanup();
    releaseInterrupts();
}

// The mode, owner and group the output takes from the file it replaces, or a
// plain create's mode for a new one.
bool giveAttributes(const Destination& destination) {
    const int descriptor = destination.descriptor;
    if (destination.previous.kind != FileKind::REGULAR) {
        return destination.ops->setMode(descriptor, newFileMode()) == 0;
    }
    const FileIdentity& previous = destination.previous;
    const bool sameOwner = setDescriptorOwner(descriptor, previous.owner, previous.group);
    // Set-user and set-group bits only go with the owner and group they were for.
    const unsigned mode = sameOwner ? previous.mode : previous.mode & 0777U;
    return destination.ops->setMode(descriptor, mode) == 0;
}

} // namespace

bool openDestination(Destination& destination, const FileOps& ops, const char* inputPath,
                     const char* path) {
    destination = Destination{};
    destination.ops = &ops;
    const FileIdentity existing = identityOfPath(path);
    if (isSameFile(existing, identityOfPath(inputPath))) {
        return false;
    }
    if (existing.kind != FileKind::CHARACTER_DEVICE &&
        isSameFile(existing, identityOfStandardOutput())) {
        return false;
    }
    destination.previous = existing;
    if (existing.kind != FileKind::REGULAR && existing.kind != FileKind::MISSING) {
        return openDirect(destination, path);
    }
    destination.target = followLinks(path);
    int current = -1;
    if (existing.kind == FileKind::REGULAR) {
        // A file the user may not write is not replaced behind their back.
        current = openExistingForWriting(destination.target.c_str());
        if (current < 0) {
            return false;
        }
    }
    holdInterrupts();
    const int descriptor = ops.createTemporary(destination.target.c_str(), destination.temporary);
    const int error = errno;
    if (descriptor >= 0) {
        destination.kind = OutputKind::REPLACE;
        setInterruptCleanup(destination.temporary.c_str(), -1);
    }
    releaseInterrupts();
    if (descriptor >= 0) {
        if (current >= 0) {
            static_cast<void>(closeDescriptor(current));
        }
        return attachStream(destination, descriptor);
    }
    if (isFolderNotWritable(error)) {
        return openInPlace(destination, current);
    }
    if (current >= 0) {
        static_cast<void>(closeDescriptor(current));
    }
    return false;
}

bool closeDestination(Destination& destination) {
    bool done = std::fflush(destination.stream) == 0;
    if (done && destination.kind == OutputKind::REPLACE) {
        done = giveAttributes(destination);
    }
    done = std::fclose(destination.stream) == 0 && done;
    destination.stream = nullptr;
    if (!done) {
        return false;
    }
    if (destination.kind == OutputKind::REPLACE) {
        holdInterrupts();
        done = destination.ops->replace(destination.temporary.c_str(),
                                        destination.target.c_str()) == 0;
        if (done) {
            clearInterruptCleanup();
            destination.temporary.clear();
        }
        releaseInterrupts();
        return done;
    }
    stopInterruptCleanup();
    return true;
}

void discardDestination(Destination& destination) {
    if (destination.stream != nullptr) {
        static_cast<void>(std::fclose(destination.stream)); // the failure is already decided
        destination.stream = nullptr;
    }
    switch (destination.kind) {
    case OutputKind::REPLACE:
        removeIfSameFile(destination.temporary.c_str(), destination.written);
        break;
    case OutputKind::IN_PLACE:
        if (destination.created) {
            removeIfSameFile(destination.target.c_str(), destination.written);
        } else {
            truncateIfSameFile(destination.target.c_str(), destination.written);
        }
        break;
    case OutputKind::DIRECT:
        break;
    }
    stopInterruptCleanup();
}
