#include "output/file_ops.h"

#include "platform/platform.h"

namespace orvx {

namespace {

// Pixels move in CHUNK_SIZE pieces already: without a stdio buffer each
// piece is one write of its own size. (An input has the buffering that suits
// its kind already: none for a regular file.)
std::FILE* openOutputStream(int descriptor) {
    std::FILE* stream = streamOverDescriptor(descriptor);
    if (stream != nullptr) {
        static_cast<void>(std::setvbuf(stream, nullptr, _IONBF, 0));
    }
    return stream;
}

} // namespace

const FileOps& stdioFileOps() {
    static const FileOps ops{openFileForReading, openOutputStream, createTemporaryIn,
                             setDescriptorMode, replaceIn};
    return ops;
}

} // namespace orvx
