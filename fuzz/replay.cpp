// Replays saved fuzz inputs without libFuzzer, as an ordinary test:
//   orvx_fuzz_replay convert|inspect|dazbmp|pngdaz|dazpng FILE_OR_DIR...
// Each file goes through the same entry point as in the fuzzer; a broken rule
// aborts, which fails the test. Prints one line per file to standard error
// (the inspection entry sends standard output to /dev/null).
#include "fuzz_api.h"
#include "fuzz_entry.h"
#include "fuzz_photo.h"

#if ORVX_HAVE_JPEG
#include "convert/jpeg/jpeg_format.h"
#endif
#if ORVX_HAVE_WEBP
#include "convert/webp/webp_format.h"
#endif
#if ORVX_HAVE_HEIF
#include "convert/heif/heif_format.h"
#endif

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Entry = void (*)(const std::uint8_t* data, std::size_t size);

Entry entryNamed(const char* kind) {
    if (std::strcmp(kind, "convert") == 0) {
        return fuzzConvertOne;
    }
    if (std::strcmp(kind, "inspect") == 0) {
        return fuzzInspectOne;
    }
    if (std::strcmp(kind, "dazbmp") == 0) {
        return fuzzDazbmpOne;
    }
    if (std::strcmp(kind, "pngdaz") == 0) {
        return fuzzPngdazOne;
    }
    if (std::strcmp(kind, "dazpng") == 0) {
        return fuzzDazpngOne;
    }
#if ORVX_HAVE_GIF
    if (std::strcmp(kind, "gif") == 0) {
        return fuzzGifOne;
    }
#endif
    if (std::strcmp(kind, "api_inspect") == 0) {
        return fuzzApiInspectOne;
    }
    if (std::strcmp(kind, "api_decode") == 0) {
        return fuzzApiDecodeOne;
    }
    if (std::strcmp(kind, "api_roundtrip") == 0) {
        return fuzzApiRoundTripOne;
    }
    if (std::strcmp(kind, "api_rgba") == 0) {
        return fuzzApiRgbaOne;
    }
#if ORVX_HAVE_JPEG
    if (std::strcmp(kind, "jpeg") == 0) {
        return [](const std::uint8_t* data, std::size_t size) {
            fuzzPhotoOne(orvx::JPEG_READER, data, size);
        };
    }
#endif
#if ORVX_HAVE_WEBP
    if (std::strcmp(kind, "webp") == 0) {
        return [](const std::uint8_t* data, std::size_t size) {
            fuzzPhotoOne(orvx::WEBP_READER, data, size);
        };
    }
#endif
#if ORVX_HAVE_HEIF
    if (std::strcmp(kind, "heif") == 0) {
        return [](const std::uint8_t* data, std::size_t size) {
            fuzzPhotoOne(orvx::HEIF_READER, data, size);
        };
    }
#endif
    return nullptr;
}

int replayFile(const std::filesystem::path& path, Entry entry) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    if (!in.eof() && in.fail()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    entry(data, bytes.size());
    std::fprintf(stderr, "ok %s\n", path.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Entry entry = argc >= 3 ? entryNamed(argv[1]) : nullptr;
    if (entry == nullptr) {
        std::fprintf(stderr, "usage: %s convert|inspect|dazbmp|pngdaz|dazpng FILE_OR_DIR...\n",
                     argv[0]);
        return 2;
    }
    int failures = 0;
    int replayed = 0;
    for (int i = 2; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        if (std::filesystem::is_directory(arg)) {
            for (const auto& item : std::filesystem::directory_iterator(arg)) {
                if (item.is_regular_file()) {
                    failures += replayFile(item.path(), entry);
                    ++replayed;
                }
            }
        } else {
            failures += replayFile(arg, entry);
            ++replayed;
        }
    }
    fuzzRemoveWorkDir();
    std::fprintf(stderr, "%d inputs replayed\n", replayed);
    return failures == 0 && replayed > 0 ? 0 : 1;
}
