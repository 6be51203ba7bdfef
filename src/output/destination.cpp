#include "output/destination.h"

#include <cerrno>

namespace orvx {

namespace {

const Folder& temporaryFolder(const Destination& destination) {
    return destination.staging.staging ? destination.staging : destination.folder;
}

void closePrevious(Destination& destination) {
    if (destination.previousDescriptor >= 0) {
        static_cast<void>(closeDescriptor(destination.previousDescriptor));
        destination.previousDescriptor = -1;
    }
}

// No signal removes the temporary file any more. Interrupts are held.
void stopCleanup(Destination& destination) {
    clearInterruptCleanup(destination.cleanup);
    destination.cleanup = -1;
}

// Lets go of everything the destination holds open. The clean-up on
// interruption goes first: it names a file in one of the folders.
void release(Destination& destination) {
    holdInterrupts();
    stopCleanup(destination);
    releaseInterrupts();
    closePrevious(destination);
    closeFolder(destination.staging);
    closeFolder(destination.folder);
}

// Owns descriptor from here on: a stream over it, or closed on failure.
bool attachStream(Destination& destination, int descriptor) {
    destination.descriptor = descriptor;
    destination.written = identityOfDescriptor(descriptor);
    destination.stream = destination.ops->openOutput(descriptor);
    if (destination.stream == nullptr) {
        static_cast<void>(closeDescriptor(descriptor));
        return false;
    }
    return true;
}

bool openDirect(Destination& destination, const char* path) {
    destination.kind = OutputKind::DIRECT;
    const int descriptor = openTruncatingForWriting(path);
    return descriptor >= 0 && attachStream(destination, descriptor);
}

// Creates the temporary file in folder and has an interruption remove it.
int createTemporary(Destination& destination, const Folder& folder) {
    holdInterrupts();
    const int descriptor =
        destination.ops->createTemporary(folder, destination.name, destination.temporary);
    const int error = errno;
    if (descriptor >= 0) {
        destination.cleanup = setInterruptCleanup(folder, destination.temporary);
    } else {
        destination.temporary.clear();
    }
    releaseInterrupts();
    errno = error;
    return descriptor;
}

// The mode, owner, group and extended attributes the output takes from the
// file it replaces, or a plain create's mode for a new one.
bool giveAttributes(const Destination& destination) {
    const int descriptor = destination.descriptor;
    if (destination.previous.kind != FileKind::REGULAR) {
        return destination.ops->setMode(descriptor, newFileMode()) == 0;
    }
    if (destination.previousDescriptor >= 0) {
        copyExtendedAttributes(destination.previousDescriptor, descriptor);
    }
    const FileIdentity& previous = destination.previous;
    const bool sameOwner = setDescriptorOwner(descriptor, previous.owner, previous.group);
    // Set-user and set-group bits only go with the owner and group they were for.
    const unsigned mode = sameOwner ? previous.mode : previous.mode & 0777U;
    return destination.ops->setMode(descriptor, mode) == 0;
}

// The staged output, whole, into the destination's own file: under an
// exclusive lock, so that runs into one file take turns, and with every
// interruption held off while the bytes go over, so that only a write error
// or a kill can leave the file half written.
bool copyIntoPrevious(Destination& destination) {
    const int target = destination.previousDescriptor;
    const Folder& folder = temporaryFolder(destination);
    const int staged = openForReadingIn(folder, destination.temporary);
    if (staged < 0) {
        return false;
    }
    bool done =
        isSameFile(identityOfDescriptor(staged), destination.written) && lockExclusive(target) == 0;
    if (done) {
        // Still the file the name leads to: another may have taken its place.
        done = isSameFile(identityOfDescriptor(target),
                          identityIn(destination.folder, destination.name));
    }
    const std::int64_t size = descriptorSize(staged);
    if (done && size >= 0) {
        holdInterrupts();
        done = copyWholeFile(staged, target, static_cast<std::uint64_t>(size)) == 0;
        static_cast<void>(closeDescriptor(staged));
        closePrevious(destination); // lets the lock go
        removeInIfSameFile(folder, destination.temporary, destination.written);
        destination.temporary.clear();
        stopCleanup(destination);
        releaseInterrupts();
        return done;
    }
    static_cast<void>(closeDescriptor(staged));
    return false;
}

} // namespace

bool openDestination(Destination& destination, const FileOps& ops, const char* inputPath,
                     const char* path) {
    destination = Destination{};
    destination.ops = &ops;
    const FileIdentity existing = identityOfPath(path);
    if (inputPath != nullptr && isSameFile(existing, identityOfPath(inputPath))) {
        return false;
    }
    if (existing.kind != FileKind::CHARACTER_DEVICE &&
        isSameFile(existing, identityOfStandardOutput())) {
        return false;
    }
    if (existing.kind != FileKind::REGULAR && existing.kind != FileKind::MISSING) {
        destination.previous = existing;
        return openDirect(destination, path);
    }
    // A name that can't be created is found now, before any work is done.
    if (openFolderOf(path, destination.folder, destination.name) != 0) {
        return false;
    }
    destination.previous = identityIn(destination.folder, destination.name);
    if (destination.previous.kind == FileKind::REGULAR) {
        // A file the user may not write is not replaced behind their back.
        destination.previousDescriptor = openExistingIn(destination.folder, destination.name);
        if (destination.previousDescriptor < 0) {
            return false;
        }
    } else if (destination.previous.kind != FileKind::MISSING) {
        return false; // it changed under us
    }
    int descriptor = createTemporary(destination, destination.folder);
    if (descriptor >= 0) {
        destination.kind = OutputKind::REPLACE;
        return attachStream(destination, descriptor);
    }
    // A folder that may not be written to: the existing file still may be.
    if (!isFolderNotWritable(errno) || destination.previousDescriptor < 0 ||
        openStagingFolder(destination.staging) != 0) {
        return false;
    }
    descriptor = createTemporary(destination, destination.staging);
    if (descriptor < 0) {
        return false;
    }
    destination.kind = OutputKind::COPY;
    return attachStream(destination, descriptor);
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
        closePrevious(destination); // a file held open may not be replaced everywhere
        holdInterrupts();
        const bool replaced = destination.ops->replace(destination.folder, destination.temporary,
                                                       destination.name) == 0;
        const int error = errno;
        if (replaced) {
            destination.temporary.clear();
            stopCleanup(destination);
        }
        releaseInterrupts();
        if (!replaced) {
            // A name that can't be replaced: its file may still be written.
            if (!isReplaceRefused(error) || destination.previous.kind != FileKind::REGULAR) {
                return false;
            }
            destination.previousDescriptor = openExistingIn(destination.folder, destination.name);
            if (destination.previousDescriptor < 0 ||
                !isSameFile(identityOfDescriptor(destination.previousDescriptor),
                            destination.previous)) {
                return false;
            }
            destination.kind = OutputKind::COPY;
        }
    }
    if (destination.kind == OutputKind::COPY && !copyIntoPrevious(destination)) {
        return false;
    }
    release(destination);
    return true;
}

void discardDestination(Destination& destination) {
    if (destination.stream != nullptr) {
        static_cast<void>(std::fclose(destination.stream)); // the failure is already decided
        destination.stream = nullptr;
    }
    if (!destination.temporary.empty()) {
        removeInIfSameFile(temporaryFolder(destination), destination.temporary,
                           destination.written);
        destination.temporary.clear();
    }
    release(destination);
}

} // namespace orvx
