#include "output/file_ops.h"

#include "platform/platform.h"

namespace orvx {

namespace {

// Pixels move in CHUNK_SIZE pieces already: without a stdio buffer each
// piece is one read or one write of its own size.
std::FILE* unbuffered(std::FILE* stream) {
    if (stream != nullptr) {
        static_cast<void>(std::setvbuf(stream, nullptr, _IONBF, 0));
    }
    return stream;
}

std::FILE* openSourceFile(const char* path) {
    return unbuffered(openFileForReading(path));
}

std::FILE* openOutputStream(int descriptor) {
    return unbuffered(streamOverDescriptor(descriptor));
}

} // namespace

const FileOps& stdioFileOps() {
    static const FileOps ops{openSourceFile, openOutputStream, createTemporaryIn, setDescriptorMode,
                             replaceIn};
    return ops;
}

} // namespace orvx
