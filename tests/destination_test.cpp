// How both commands treat the file they write: links, permissions, standard
// output, file size limits and signals, through the built programs.
#include "convert/bmp_to_daz.h"
#include "convert/daz_to_png.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr uid_t NOBODY = 65534;

// One of the four commands, with an input of its own in a fresh folder.
struct Command {
    const char* name;
    std::string binary;
    std::string createError; // what it prints when the output is refused
    const char* input;       // the input's file name
    bool takesCount;         // converts into daz: takes a colour count and a key
};

void PrintTo(const Command& command, std::ostream* out) {
    *out << command.name;
}

const std::string CREATE_FAILED = "Impossibile creare il file - Operazione non riuscita\n\n";

std::vector<Command> commands() {
    return {{"orvx", ORVX_BINARY, CREATE_FAILED + usageText(), "in.bmp", true},
            {"dazbmp", ORVX_DAZBMP, CREATE_FAILED, "in.daz", false},
            {"pngdaz", ORVX_PNGDAZ,
             CREATE_FAILED + "Uso: pngdaz origine.png destinazione [colore] [chiave]\n\n", "in.png",
             true},
            {"dazpng", ORVX_DAZPNG, CREATE_FAILED, "in.daz", false}};
}

class DestinationTest : public ::testing::TestWithParam<Command> {
  protected:
    TempDir dir;
    std::string input;
    std::string output = dir.file("out");
    Bytes expected; // what a run writes to a new file

    void SetUp() override {
        const std::string sample = ORVX_SOURCE_DIR "/samples/sample8.bmp";
        input = dir.file(GetParam().input);
        if (isOrvx()) {
            fs::copy_file(sample, input);
        } else {
            const std::string daz = dir.file("in.daz");
            ASSERT_EQ(convertBmpToDaz(sample.c_str(), daz.c_str(), 200, 0x1F2E), 1437);
            if (input != daz) {
                ASSERT_EQ(convertDazToPng(daz.c_str(), input.c_str()), DECODE_OK);
                fs::remove(daz);
            }
        }
        ASSERT_EQ(run(output).status, 0);
        expected = readFile(output);
        fs::remove(output);
    }

    bool isOrvx() const { return std::string(GetParam().name) == "orvx"; }

    // The command's argument vector, converting input into to.
    std::vector<std::string> argv(const std::string& to) const {
        if (isOrvx()) {
            return {GetParam().binary, "-c", input, to, "200", "1f2e"};
        }
        if (GetParam().takesCount) {
            return {GetParam().binary, input, to, "200", "1f2e"};
        }
        return {GetParam().binary, input, to};
    }

    RunResult run(const std::string& to) const { return runProgram(argv(to)); }

    // Runs the command under a shell script that ends with exec "$@".
    RunResult runUnder(const std::string& script, const std::string& to) const {
        std::vector<std::string> args{"/bin/sh", "-c", script, "sh"};
        const std::vector<std::string> command = withEmulator(argv(to));
        args.insert(args.end(), command.begin(), command.end());
        return runProgram(args);
    }
};

fs::perms modeOf(const std::string& path) {
    return fs::status(path).permissions();
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Commands, DestinationTest, ::testing::ValuesIn(commands()),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the destination is a link, or another name of a file, or new.
TEST_P(DestinationTest, LinksAndModes) {
    const std::string target = dir.file("target");
    writeFile(target, {'o', 'l', 'd'});
    fs::permissions(target, fs::perms(0604));
    fs::create_symlink("target", output);
    ASSERT_EQ(run(output).status, 0);
    EXPECT_TRUE(fs::is_symlink(output));
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(modeOf(target), fs::perms(0604));

    // Another name of the same file keeps the old bytes.
    fs::remove(output);
    writeFile(output, {'o', 'l', 'd'});
    fs::create_hard_link(output, dir.file("other"));
    ASSERT_EQ(run(output).status, 0);
    EXPECT_EQ(readFile(output), expected);
    EXPECT_EQ(readFile(dir.file("other")), (Bytes{'o', 'l', 'd'}));

    // A new file gets what a plain create gives.
    fs::remove(output);
    const RunResult masked = runUnder("umask 027; exec \"$@\"", output);
    EXPECT_EQ(masked.status, 0);
    EXPECT_EQ(readFile(output), expected);
    EXPECT_EQ(modeOf(output), fs::perms(0640));
    const std::vector<std::string> left{GetParam().input, "other", "out", "target"};
    for (const std::string& name : folderEntries(dir.path)) {
        EXPECT_NE(std::find(left.begin(), left.end(), name), left.end()) << name;
    }
}

// A file the user may not write is refused; a folder the user may not write
// to has its writable file written in place.
TEST_P(DestinationTest, PermissionsOfFileAndFolder) {
    std::vector<std::string> prefix;
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0) {
            GTEST_SKIP() << "running as root without setpriv to drop privileges";
        }
        prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    const std::string binary = dir.file(GetParam().name);
    fs::copy_file(GetParam().binary, binary); // where the other user can run it
    const std::string folder = dir.file("sub");
    fs::create_directory(folder);
    const std::string locked = folder + "/out";
    writeFile(locked, {'o', 'l', 'd'});
    fs::permissions(locked, fs::perms(0444));
    const bool root = geteuid() == 0;
    for (const std::string& path : {dir.path, input, binary, folder, locked}) {
        ASSERT_EQ(chown(path.c_str(), root ? NOBODY : geteuid(), root ? NOBODY : getegid()), 0);
    }
    auto command = argv(locked);
    command[0] = binary;
    command = withEmulator(command);
    command.insert(command.begin(), prefix.begin(), prefix.end());
    const RunResult refused = runProgram(command);
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(refused.out, GetParam().createError);
    EXPECT_EQ(readFile(locked), (Bytes{'o', 'l', 'd'}));

    fs::permissions(locked, fs::perms(0644));
    fs::permissions(folder, fs::perms(0555));
    struct stat before {};
    ASSERT_EQ(stat(locked.c_str(), &before), 0);
    const RunResult inPlace = runProgram(command);
    EXPECT_EQ(inPlace.status, 0) << inPlace.out;
    EXPECT_EQ(readFile(locked), expected);
    struct stat after {};
    ASSERT_EQ(stat(locked.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino); // the same file, written in place
    EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"out"});
    fs::permissions(folder, fs::perms(0755));
}

// The messages never land in the output, and an output that can't take the
// messages is a failure that keeps the converted file.
TEST_P(DestinationTest, StandardOutput) {
    const std::string log = dir.file("log");
    struct Case {
        const char* name;
        std::string script;
        std::string destination;
        int status;
        bool written;
    };
    const std::vector<Case> cases{
        {"/dev/stdout to a file", "exec \"$@\" >\"$LOG\"", "/dev/stdout", 255, false},
        {"the file stdout goes to", "exec \"$@\" >\"$LOG\"", log, 255, false},
        {"/proc/self/fd/1 to a pipe", "\"$@\" | cat >\"$LOG\"", "/proc/self/fd/1", 255, false},
        {"null device both ways", "exec \"$@\" >/dev/null", "/dev/null", 0, false},
        {"stdout full", "exec \"$@\" >/dev/full", output, 255, true},
        {"stdout closed", "exec \"$@\" >&-", output, 255, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(output);
        writeFile(log, {});
        const RunResult result = runUnder("LOG='" + log + "'; " + c.script, c.destination);
        if (std::string(c.name).find("pipe") != std::string::npos) {
            EXPECT_EQ(result.status, 0); // the pipeline's status is cat's
        } else {
            EXPECT_EQ(result.status, c.status);
        }
        EXPECT_EQ(fileExists(output), c.written);
        if (c.written) {
            EXPECT_EQ(readFile(output), expected);
        }
        if (c.status != 0 && !c.written) {
            const Bytes logged = readFile(log);
            EXPECT_EQ(std::string(logged.begin(), logged.end()), GetParam().createError);
        }
    }
}

// A file size limit (ulimit -f): a write error when SIGXFSZ is ignored, death
// by SIGXFSZ when not; either way the old destination stays as it was.
TEST_P(DestinationTest, FileSizeLimitKeepsTheOldFile) {
    for (const bool ignored : {true, false}) {
        writeFile(output, {'o', 'l', 'd'});
        const std::string script =
            std::string("ulimit -f 1; ") + (ignored ? "trap '' XFSZ; " : "") + "exec \"$@\"";
        const RunResult result = runUnder(script, output);
        if (ignored) {
            EXPECT_EQ(result.status, 255);
            EXPECT_NE(result.out.find("Errore di scrittura"), std::string::npos) << result.out;
        } else {
            EXPECT_EQ(result.signal, SIGXFSZ);
        }
        EXPECT_EQ(readFile(output), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(folderEntries(dir.path).size(), 2U);
    }
}

namespace {

// Emulated, the run is slow enough with less, and the PNG for pngdaz is
// made in this process, emulated too.
const std::uint64_t BIG_PIXELS = (underEmulator() ? std::uint64_t{64} : 512) << 20U;

std::uint64_t freeBytes(const std::string& path) {
    struct statvfs fs {};
    return statvfs(path.c_str(), &fs) == 0 ? std::uint64_t{fs.f_bavail} * fs.f_frsize : 0;
}

// The size of the hidden file a run writes in folder, once it holds a whole
// chunk; 0 while there is none.
std::uintmax_t temporaryWritten(const std::string& folder) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".out.", 0) == 0 && name.find(".orvx-") != std::string::npos) {
            const std::uintmax_t size = entry.file_size(ignored);
            return size >= CHUNK_SIZE ? size : 0;
        }
    }
    return 0;
}

pid_t start(const std::vector<std::string>& command, bool ignoreInterrupt) {
    const std::vector<std::string> argv = withEmulator(command);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    // An ignored signal is inherited as ignored.
    struct sigaction previous {};
    struct sigaction ignore {};
    ignore.sa_handler = ignoreInterrupt ? SIG_IGN : SIG_DFL;
    sigaction(SIGINT, &ignore, &previous);
    pid_t pid = -1;
    posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    sigaction(SIGINT, &previous, nullptr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

// A run interrupted once its first chunk is written: it dies by the signal,
// and leaves the folder as it found it.
TEST_P(DestinationTest, SignalsRemoveThePartialOutput) {
    if (freeBytes(dir.path) < 2 * BIG_PIXELS) {
        GTEST_SKIP() << "needs " << 2 * (BIG_PIXELS >> 20U) << " MiB free in " << dir.path;
    }
    // A sparse input: the pixels take no room, and read as zeros. pngdaz
    // gets the PNG that dazpng makes of such a daz file.
    if (isOrvx()) {
        writeFile(input, makeBmp(16384, 32767, 8, {}));
        fs::resize_file(input, fs::file_size(input) + BIG_PIXELS);
    } else {
        const std::string daz = dir.file("in.daz");
        ASSERT_GE(convertBmpToDaz(ORVX_SOURCE_DIR "/samples/sample8.bmp", daz.c_str(), 200, 1), 0);
        Bytes header = readFile(daz);
        putU16(header, 4, 32768);
        putU16(header, 6, static_cast<std::uint16_t>(BIG_PIXELS / 32768)); // rows of 32 KiB
        header.resize(24 + 4 * 200);
        writeFile(daz, header);
        fs::resize_file(daz, header.size() + BIG_PIXELS);
        if (input != daz) {
            ASSERT_EQ(convertDazToPng(daz.c_str(), input.c_str()), DECODE_OK);
            fs::remove(daz);
        }
    }
    struct Case {
        int signal;
        bool oldFile;
        bool ignoreInterrupt; // SIGINT ignored from the start: SIGTERM ends it
    };
    for (const Case& c :
         {Case{SIGINT, true, false}, Case{SIGTERM, false, false}, Case{SIGHUP, true, false},
          Case{SIGPIPE, false, false}, Case{SIGXCPU, true, false}, Case{SIGXFSZ, false, false},
          Case{SIGTERM, true, true}}) {
        SCOPED_TRACE(strsignal(c.signal));
        fs::remove(output);
        if (c.oldFile) {
            writeFile(output, {'o', 'l', 'd'});
            fs::permissions(output, fs::perms(0640));
        }
        const pid_t pid = start(argv(output), c.ignoreInterrupt);
        ASSERT_GT(pid, 0);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (temporaryWritten(dir.path) == 0 && std::chrono::steady_clock::now() < deadline) {
            ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended early: " << status;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (c.ignoreInterrupt) {
            kill(pid, SIGINT);
        }
        kill(pid, c.signal);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), c.signal);
        if (c.oldFile) {
            EXPECT_EQ(readFile(output), (Bytes{'o', 'l', 'd'}));
            EXPECT_EQ(modeOf(output), fs::perms(0640));
        } else {
            EXPECT_FALSE(fileExists(output));
        }
        EXPECT_EQ(folderEntries(dir.path).size(), c.oldFile ? 2U : 1U);
    }
}
