#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvx-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() !=
           std::filesystem::file_type::not_found;
}

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::string slurp(const std::string& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

namespace {

std::vector<std::string> emulatorWords() {
    std::vector<std::string> words;
    std::string word;
    for (const char c : std::string(ORVX_EMULATOR) + " ") {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

} // namespace

bool underEmulator() {
    return !emulatorWords().empty();
}

std::vector<std::string> withEmulator(std::vector<std::string> argv) {
    if (argv.empty()) {
        return argv;
    }
    const std::string name = std::filesystem::path(argv[0]).stem().string();
    static const std::set<std::string> COMMANDS{"orvx",   "dazbmp", "pngdaz", "dazpng",
                                                "rgbdaz", "imgdaz", "dazgif"};
    if (COMMANDS.count(name) == 0) {
        return argv;
    }
    std::vector<std::string> words = emulatorWords();
    words.insert(words.end(), argv.begin(), argv.end());
    return words;
}

std::string shellWords(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& word : argv) {
        line += (line.empty() ? "'" : " '") + word + "'";
    }
    return line;
}

RunResult runProgram(const std::vector<std::string>& command) {
    const std::vector<std::string> argv = withEmulator(command);
    TempDir capture;
    const std::string outPath = capture.file("out");
    const std::string errPath = capture.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    RunResult result;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

RunResult runOrvxBinary(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ORVX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv);
}

void putU16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

Bytes dazFile(std::uint16_t width, std::int16_t height, int bits, int colors, std::uint16_t key,
              const Bytes& stored) {
    Bytes daz(24, 0);
    daz[0] = 'E';
    daz[1] = 'W';
    putU16(daz, 2, 1);
    putU16(daz, 4, width);
    putU16(daz, 6, static_cast<std::uint16_t>(height));
    putU16(daz, 8, static_cast<std::uint16_t>(bits));
    putU16(daz, 10, static_cast<std::uint16_t>(colors));
    putU16(daz, 12, key);
    for (int i = 0; i < std::max(colors, 0) && i < 256; ++i) {
        daz.insert(daz.end(), {static_cast<std::uint8_t>(i), 2, 3, 4});
    }
    daz.insert(daz.end(), stored.begin(), stored.end());
    return daz;
}

Bytes bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bits,
                std::uint32_t compression) {
    Bytes bmp(54, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    putU32(bmp, 10, 54);
    putU32(bmp, 14, 40);
    putU32(bmp, 18, static_cast<std::uint32_t>(width));
    putU32(bmp, 22, static_cast<std::uint32_t>(height));
    putU16(bmp, 26, 1);
    putU16(bmp, 28, bits);
    putU32(bmp, 30, compression);
    return bmp;
}

Bytes makeBmp(int width, int height, int bpp, const Bytes& pixels) {
    const std::size_t entries = std::size_t{1} << bpp;
    const std::size_t offset = 54 + 4 * entries;
    Bytes bmp = bmpHeader(width, height, static_cast<std::uint16_t>(bpp));
    bmp.resize(offset, 0);
    putU32(bmp, 2, static_cast<std::uint32_t>(offset + pixels.size()));
    putU32(bmp, 10, static_cast<std::uint32_t>(offset));
    for (std::size_t i = 0; i < entries; ++i) {
        bmp[54 + 4 * i] = static_cast<std::uint8_t>(i);
        bmp[55 + 4 * i] = static_cast<std::uint8_t>(2 * i);
        bmp[56 + 4 * i] = static_cast<std::uint8_t>(3 * i);
        bmp[57 + 4 * i] = 0x80;
    }
    bmp.insert(bmp.end(), pixels.begin(), pixels.end());
    return bmp;
}

Bytes rgbBmp(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& colours) {
    const std::size_t rowSize = (std::size_t{width} * 3 + 3) / 4 * 4;
    Bytes bmp = bmpHeader(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), 24);
    bmp.resize(54 + rowSize * height, 0);
    putU32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = bmp.data() + 54 + rowSize * (height - 1 - y);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t colour = colours[std::size_t{y} * width + x];
            row[3 * x] = static_cast<std::uint8_t>(colour);
            row[3 * x + 1] = static_cast<std::uint8_t>(colour >> 8U);
            row[3 * x + 2] = static_cast<std::uint8_t>(colour >> 16U);
        }
    }
    return bmp;
}

Bytes argbBmp(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& argb) {
    Bytes bmp =
        bmpHeader(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), 32, 3);
    bmp.resize(70 + std::size_t{4} * width * height, 0);
    putU32(bmp, 10, 70);
    putU32(bmp, 14, 56);
    const std::uint32_t masks[] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    for (std::size_t i = 0; i < 4; ++i) {
        putU32(bmp, 54 + 4 * i, masks[i]);
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            putU32(bmp, 70 + 4 * (std::size_t{height - 1 - y} * width + x),
                   argb[std::size_t{y} * width + x]);
        }
    }
    return bmp;
}

Bytes rgbaOf(const std::vector<std::uint32_t>& colours) {
    Bytes rgba;
    for (const std::uint32_t colour : colours) {
        rgba.insert(rgba.end(), {static_cast<std::uint8_t>(colour >> 16U),
                                 static_cast<std::uint8_t>(colour >> 8U),
                                 static_cast<std::uint8_t>(colour), 0xFF});
    }
    return rgba;
}

// Copied once from what orvx prints, byte for byte: a change to the text must
// fail a test, so this is not the program's own constant.
std::string usageText() {
    return "Orvanti Image Converter v0.5 by Zavel - USO:\n"
           " orvx -r immagine  (legge il numero di colori e la chiave di un'immagine)\n"
           " orvx -c origine.bmp destinazione [colore] [chiave]  (converte un'immagine\n"
           "\t\t      utilizzando i valori opzionali per il colore e la chiave)\n"
           "\n"
           "E-mail: zavel@orvanti.example\n"
           "Sito:   https://orvanti.example\n";
}

Picture renderDaz(const Bytes& daz) {
    Picture picture;
    if (daz.size() < 24) {
        return picture;
    }
    const int width = daz[4] | (daz[5] << 8);
    const auto height = static_cast<std::int16_t>(daz[6] | (daz[7] << 8));
    const int bpp = daz[8];
    const int colors = static_cast<std::int16_t>(daz[10] | (daz[11] << 8));
    const unsigned key = daz[12] | (daz[13] << 8);
    const std::size_t pixelStart = 24 + 4 * static_cast<std::size_t>(colors);
    const std::size_t rowSize = static_cast<std::size_t>((width * bpp + 31) / 32 * 4);
    Bytes pixels(daz.begin() + static_cast<long>(pixelStart), daz.end());
    unsigned a = key & 0xFF;
    unsigned b = key >> 8;
    for (std::uint8_t& byte : pixels) {
        const unsigned next = (a + b) % 256;
        a = b;
        b = next;
        byte = static_cast<std::uint8_t>(byte - next);
    }
    // The first |height| rows, or the whole rows there are if fewer.
    const std::size_t rows =
        std::min(pixels.size() / rowSize, static_cast<std::size_t>(std::abs(int{height})));
    picture.width = width;
    picture.height = static_cast<int>(rows);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t stored = height < 0 ? r : rows - 1 - r;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t byte =
                pixels[stored * rowSize + static_cast<std::size_t>(bpp == 8 ? x : x / 2)];
            const int index = bpp == 8 ? byte : (x % 2 == 0 ? byte >> 4 : byte & 0x0F);
            if (index < colors) {
                const std::size_t entry = 24 + 4 * static_cast<std::size_t>(index);
                picture.rgb.insert(picture.rgb.end(), {daz[entry], daz[entry + 1], daz[entry + 2]});
            } else {
                picture.rgb.insert(picture.rgb.end(), {1, 2, 3});
            }
        }
    }
    return picture;
}

Picture renderWithImageMagick(const std::string& path) {
    Picture picture;
    const RunResult info = runProgram({ORVX_IMAGEMAGICK, path, "-format", "%w %h", "info:"});
    if (info.status != 0 ||
        std::sscanf(info.out.c_str(), "%d %d", &picture.width, &picture.height) != 2) {
        return Picture{};
    }
    const RunResult raw = runProgram({ORVX_IMAGEMAGICK, path, "-depth", "8", "rgb:-"});
    picture.rgb.assign(raw.out.begin(), raw.out.end());
    return picture;
}

ScopedEnvironment::ScopedEnvironment(const char* variable, const char* value) : name(variable) {
    const char* now = std::getenv(variable);
    had = now != nullptr;
    before = had ? now : "";
    setenv(variable, value, 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (had) {
        setenv(name.c_str(), before.c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}
