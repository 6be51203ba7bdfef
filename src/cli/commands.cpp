#include "cli/commands.h"

#include "cli/texts.h"
#include "convert/bmp_to_daz.h"
#include "format/daz_format.h"
#include "platform/platform.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <new>

namespace orvx {

namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The whole option word, ignoring the case of ASCII letters.
bool isOption(const char* argument, const char* option) {
    for (; *argument != '\0' && *option != '\0'; ++argument, ++option) {
        if (asciiLower(*argument) != asciiLower(*option)) {
            return false;
        }
    }
    return *argument == '\0' && *option == '\0';
}

int failWithUsage(const char* line) {
    if (line != nullptr) {
        std::fputs(line, stdout);
    }
    printUsage();
    return STATUS_FAILURE;
}

} // namespace

int parseColorCount(const char* text) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)) != 0) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= INT_MAX) {
            value = value * 10 + (*p - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

std::uint16_t parseKey(const char* text) {
    unsigned short key = 0;
    if (std::sscanf(text, "%hx", &key) != 1) {
        return 0;
    }
    return key;
}

void printUsage() {
    std::fputs(USAGE_TEXT, stdout);
}

int showDazInfo(const char* path) {
    FILE* file = openFileForReading(path);
    if (file == nullptr) {
        return failWithUsage(INSPECT_OPEN_FAILED);
    }
    std::array<std::uint8_t, DAZ_HEADER_INFO_SIZE> bytes{};
    const std::size_t items = std::fread(bytes.data(), 2, bytes.size() / 2, file);
    static_cast<void>(std::fclose(file));
    if (items != bytes.size() / 2) {
        return failWithUsage(INSPECT_READ_FAILED);
    }
    DazHeader header;
    if (readDazHeader(bytes.data(), header) != DAZ_MAGIC) {
        std::fputs(INSPECT_NOT_DAZ, stdout);
    }
    std::printf(INSPECT_VALUES_FORMAT, static_cast<short>(header.colorCount),
                static_cast<unsigned short>(header.key));
    std::fputs(SUCCESS_BANNER, stdout);
    return STATUS_SUCCESS;
}

namespace {

// What every conversion into daz prints: the error line and the usage text
// for a failure (failure not null), else the count of undefined pixels and
// the success banner.
int reportConversion(const char* failure, std::uint64_t undefined, const char* usage) {
    if (failure != nullptr) {
        std::printf(ERROR_LINE_FORMAT, failure);
        std::fputs(usage, stdout);
        return STATUS_FAILURE;
    }
    if (undefined > 0) {
        std::printf(UNDEFINED_LINE_FORMAT, static_cast<long long>(undefined));
    }
    std::fputs(SUCCESS_BANNER, stdout);
    return STATUS_SUCCESS;
}

} // namespace

int runBitmapConversion(const char* source, const char* destination, const char* countText,
                        const char* keyText) {
    const int count = countText != nullptr ? parseColorCount(countText) : 0;
    const std::uint16_t key = keyText != nullptr ? parseKey(keyText) : 0;
    ConvertResult result = ERR_READ;
    try {
        result = convertBmpToDaz(source, destination, count, key);
    } catch (const std::bad_alloc&) {
        result = ERR_READ; // memory counts as a failed read: the input is what is held
    }
    return reportConversion(result < 0 ? resultMessage(result) : nullptr,
                            result < 0 ? 0 : static_cast<std::uint64_t>(result), USAGE_TEXT);
}

int runConversion(const ConversionCommand& command, const char* source, const char* destination,
                  const char* countText, const char* keyText) {
    const int count = countText != nullptr ? parseColorCount(countText) : 0;
    const std::uint16_t key = keyText != nullptr ? parseKey(keyText) : 0;
    std::uint64_t undefined = 0;
    int error = DAZ_ERR_MEMORY;
    try {
        error = command.convert(source, destination, count, key, &undefined);
    } catch (const std::bad_alloc&) {
        error = DAZ_ERR_MEMORY;
    }
    MessageText text;
    const char* name = command.formatName != nullptr ? command.formatName(source) : nullptr;
    return reportConversion(error != DAZ_OK ? formatMessage(error, name, text) : nullptr, undefined,
                            command.usage);
}

void startRun() {
    reserveStandardStreams();
}

int finishRun(int status) {
    const bool delivered = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    return delivered ? status : STATUS_FAILURE;
}

int runDecoding(const DecodingCommand& command, int argc, const char* const* argv) {
    startRun();
    if (argc != 3) {
        std::fputs(command.usage, stdout);
        return finishRun(STATUS_FAILURE);
    }
    int error = DAZ_ERR_MEMORY;
    try {
        error = command.decode(argv[1], argv[2], nullptr);
    } catch (const std::bad_alloc&) {
        error = DAZ_ERR_MEMORY;
    }
    if (error != DAZ_OK) {
        std::printf(ERROR_LINE_FORMAT, command.message(error));
        return finishRun(STATUS_FAILURE);
    }
    std::fputs(SUCCESS_BANNER, stdout);
    return finishRun(STATUS_SUCCESS);
}

int runOrvx(int argc, const char* const* argv) {
    startRun();
    if (argc == 3 && isOption(argv[1], "-r")) {
        return finishRun(showDazInfo(argv[2]));
    }
    if (argc >= 4 && argc <= 6 && isOption(argv[1], "-c")) {
        return finishRun(runBitmapConversion(argv[2], argv[3], argc >= 5 ? argv[4] : nullptr,
                                             argc == 6 ? argv[5] : nullptr));
    }
    return finishRun(failWithUsage(nullptr));
}

} // namespace orvx
