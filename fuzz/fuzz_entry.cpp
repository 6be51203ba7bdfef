#include "fuzz_entry.h"

#include "cli/commands.h"
#include "convert/bmp/bmp_export.h"
#include "convert/bmp_to_daz.h"
#include "convert/png/png_export.h"
#include "convert/png/png_indices.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvx;

namespace {

// Largest file this process may write: a tiny RLE input may claim an image of
// up to 4 GiB, and past this a write fails, which drives the clean-up path.
constexpr rlim_t MAX_OUTPUT = rlim_t{16} << 20U;

// A private folder for this process's files, made on first use.
const std::string& workDir() {
    static const std::string dir = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{MAX_OUTPUT, MAX_OUTPUT};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            std::abort();
        }
        std::string pattern = "/tmp/orvx-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return pattern;
    }();
    return dir;
}

void writeInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    // An empty input may come with a null pointer, which fwrite must not get.
    const bool written = size == 0 || (file != nullptr && std::fwrite(data, 1, size, file) == size);
    if (file == nullptr || !written || std::fclose(file) != 0) {
        std::abort();
    }
}

bool exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// True when the work folder holds nothing but these two names.
bool onlyThese(const std::string& source, const std::string& destination) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(workDir(), error)) {
        if (entry.path() != source && entry.path() != destination) {
            return false;
        }
    }
    return !error;
}

// The rules every run of either conversion keeps: a code from its table, no
// output left behind by a failure, and no temporary file left by any run.
// Then clears both files away.
void checkRun(bool codeInTable, bool failed, const std::string& source,
              const std::string& destination) {
    if (!codeInTable || (failed && exists(destination)) || !onlyThese(source, destination)) {
        std::abort();
    }
    unlink(destination.c_str());
    unlink(source.c_str());
}

// orvx -c's conversion, its result a code of its table (or a count) and so
// 0 or more for success.
int convertBitmap(const char* source, const char* destination, int count, std::uint16_t key) {
    const ConvertResult result = convertBmpToDaz(source, destination, count, key);
    return result >= ERR_BAD_COLORS ? static_cast<int>(std::min<ConvertResult>(result, 0))
                                    : INT_MIN;
}

// pngdaz's, a daz_error.
int convertPng(const char* source, const char* destination, int count, std::uint16_t key) {
    return convertPngToDaz(source, destination, count, key);
}

// Input: 2 bytes of colour count, 2 of key, then the image, through convert,
// whose results go down to lowestCode.
void fuzzIntoDaz(const std::uint8_t* data, std::size_t size, const char* sourceName,
                 int (*convert)(const char*, const char*, int, std::uint16_t), int lowestCode) {
    if (size < 4) {
        return;
    }
    const auto count = static_cast<std::int16_t>(data[0] | (data[1] << 8));
    const auto key = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
    const std::string source = workDir() + "/" + sourceName;
    const std::string destination = workDir() + "/out.daz";
    writeInput(source, data + 4, size - 4);
    const int result = convert(source.c_str(), destination.c_str(), count, key);
    checkRun(result >= lowestCode, result < 0, source, destination);
}

// Input: the daz file, through decode.
void fuzzFromDaz(const std::uint8_t* data, std::size_t size, const char* destinationName,
                 int (*decode)(const char*, const char*, const PlanCheck*)) {
    const std::string source = workDir() + "/in.daz";
    const std::string destination = workDir() + "/" + destinationName;
    writeInput(source, data, size);
    const int result = decode(source.c_str(), destination.c_str(), nullptr);
    checkRun(result >= DAZ_ERR_FORMAT && result <= DAZ_OK, result < 0, source, destination);
}

} // namespace

void fuzzConvertOne(const std::uint8_t* data, std::size_t size) {
    fuzzIntoDaz(data, size, "in.bmp", convertBitmap, static_cast<int>(ERR_BAD_COLORS));
}

void fuzzPngdazOne(const std::uint8_t* data, std::size_t size) {
    fuzzIntoDaz(data, size, "in.png", convertPng, DAZ_ERR_NOT_INDEXED);
}

void fuzzInspectOne(const std::uint8_t* data, std::size_t size) {
    static FILE* quiet = std::freopen("/dev/null", "w", stdout);
    if (quiet == nullptr) {
        std::abort();
    }
    const std::string path = workDir() + "/in.daz";
    writeInput(path, data, size);
    const int status = showDazInfo(path.c_str());
    if (status != STATUS_SUCCESS && status != STATUS_FAILURE) {
        std::abort();
    }
    unlink(path.c_str());
}

void fuzzDazbmpOne(const std::uint8_t* data, std::size_t size) {
    fuzzFromDaz(data, size, "out.bmp", convertDazToBmp);
}

void fuzzDazpngOne(const std::uint8_t* data, std::size_t size) {
    fuzzFromDaz(data, size, "out.png", convertDazToPng);
}

void fuzzRemoveWorkDir() {
    rmdir(workDir().c_str());
}
