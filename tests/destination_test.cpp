// How both commands treat the file they write: links, permissions, standard
// output, file size limits and signals, through the built programs.
#include "convert/bmp_to_daz.h"
#include "convert/png/png_export.h"
#include "convert/png/png_indices.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

using namespace orvx;

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
        input = dir.file(GetParam().input);
        makeInput(readFile(ORVX_SOURCE_DIR "/samples/sample8.bmp"), input);
        ASSERT_EQ(run(output).status, 0);
        expected = readFile(output);
        fs::remove(output);
    }

    // The command's kind of input at path, made from a bitmap: the bitmap
    // itself, its daz file, or the PNG dazpng makes of that.
    void makeInput(const Bytes& bitmap, const std::string& path) const {
        const std::string bmp = dir.file("made.bmp");
        writeFile(bmp, bitmap);
        if (isOrvx()) {
            fs::rename(bmp, path);
            return;
        }
        const std::string daz = dir.file("made.daz");
        ASSERT_GE(convertBmpToDaz(bmp.c_str(), daz.c_str(), 200, 0x1F2E), 0);
        fs::remove(bmp);
        if (GetParam().input == std::string("in.daz")) {
            fs::rename(daz, path);
        } else {
            ASSERT_EQ(convertDazToPng(daz.c_str(), path.c_str()), DAZ_OK);
            fs::remove(daz);
        }
    }

    // The prefix that runs a command as another user, and the owner the
    // files it must reach get; empty when that takes privileges this run
    // hasn't got (then the test runs as itself).
    std::vector<std::string> otherUser() const {
        if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
            return {};
        }
        return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }

    // argv(to), run by binary (a copy of the command where another user can
    // run it) behind prefix, with TMPDIR set to staging.
    std::vector<std::string> commandFor(const std::vector<std::string>& prefix,
                                        const std::string& binary, const std::string& to,
                                        const std::string& staging) const {
        auto command = argv(to);
        command[0] = binary;
        command = withEmulator(command);
        command.insert(command.begin(), {"/usr/bin/env", "TMPDIR=" + staging});
        command.insert(command.begin(), prefix.begin(), prefix.end());
        return command;
    }

    bool isOrvx() const { return std::string(GetParam().name) == "orvx"; }

    // The command's argument vector, converting from into to.
    std::vector<std::string> argvFrom(const std::string& from, const std::string& to) const {
        if (isOrvx()) {
            return {GetParam().binary, "-c", from, to, "200", "1f2e"};
        }
        if (GetParam().takesCount) {
            return {GetParam().binary, from, to, "200", "1f2e"};
        }
        return {GetParam().binary, from, to};
    }
    std::vector<std::string> argv(const std::string& to) const { return argvFrom(input, to); }

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

// A file the user may not write is refused. Where the rename can't replace
// the file (a folder the user may not write to; another user's file in a
// sticky folder), the whole output is copied into it: the same file, its
// owner and mode kept, and nothing left in the folder or the temporary
// folder. A replaced file of another owner loses its set-id bits.
TEST_P(DestinationTest, PermissionsOfFileAndFolder) {
    const std::vector<std::string> prefix = otherUser();
    const bool other = !prefix.empty();
    if (geteuid() == 0 && !other) {
        GTEST_SKIP() << "running as root without setpriv to drop privileges";
    }
    const uid_t user = other ? NOBODY : geteuid();
    const gid_t group = other ? NOBODY : getegid();
    const std::string binary = dir.file(GetParam().name);
    fs::copy_file(GetParam().binary, binary); // where the other user can run it
    const std::string staging = dir.file("staging");
    fs::create_directory(staging);
    fs::permissions(staging, fs::perms(01777));
    const std::string folder = dir.file("sub");
    fs::create_directory(folder);
    const std::string locked = folder + "/out";
    writeFile(locked, {'o', 'l', 'd'});
    fs::permissions(locked, fs::perms(0444));
    for (const std::string& path : {dir.path, input, binary, folder, locked}) {
        ASSERT_EQ(chown(path.c_str(), user, group), 0);
    }
    const auto command = commandFor(prefix, binary, locked, staging);
    const RunResult refused = runProgram(command);
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(refused.out, GetParam().createError);
    EXPECT_EQ(readFile(locked), (Bytes{'o', 'l', 'd'}));

    struct Case {
        const char* name;
        fs::perms folderMode;
        bool othersFile; // the file belongs to this test's user, not the one who runs
        fs::perms fileMode;
        bool sameFile;   // copied into the file, not replaced by a new one
        fs::perms after; // the file's mode after the run
    };
    const std::vector<Case> cases{
        {"read-only folder", fs::perms(0555), false, fs::perms(0644), true, fs::perms(0644)},
        {"sticky folder", fs::perms(01777), true, fs::perms(0666), true, fs::perms(0666)},
        {"set-id bits of another owner", fs::perms(0777), true, fs::perms(06666), false,
         fs::perms(0666)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.othersFile && !other) {
            continue; // needs a second user
        }
        const std::string place = dir.file(std::string("case-") + c.name);
        fs::create_directory(place);
        const std::string out = place + "/out";
        writeFile(out, {'o', 'l', 'd'});
        if (!c.othersFile) {
            ASSERT_EQ(chown(out.c_str(), user, group), 0);
            ASSERT_EQ(chown(place.c_str(), user, group), 0);
        }
        fs::permissions(out, c.fileMode);
        fs::permissions(place, c.folderMode);
        struct stat before {};
        ASSERT_EQ(stat(out.c_str(), &before), 0);
        const RunResult result = runProgram(commandFor(prefix, binary, out, staging));
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(readFile(out), expected);
        struct stat after {};
        ASSERT_EQ(stat(out.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino == before.st_ino, c.sameFile);
        EXPECT_EQ(after.st_uid, c.sameFile ? before.st_uid : user);
        EXPECT_EQ(modeOf(out), c.after);
        EXPECT_EQ(folderEntries(place), std::vector<std::string>{"out"});
        EXPECT_EQ(folderEntries(staging), std::vector<std::string>{});
        fs::permissions(place, fs::perms(0755));
    }
}

// Two runs into one file whose folder takes no new file: each copies its
// whole output in under the lock, so the file ends as one of them, never a
// header of one over the pixels of the other.
TEST_P(DestinationTest, TwoRunsIntoOneFileLeaveOneWholeOutput) {
    const std::vector<std::string> prefix = otherUser();
    if (geteuid() == 0 && prefix.empty()) {
        GTEST_SKIP() << "running as root without setpriv to drop privileges";
    }
    const uid_t user = prefix.empty() ? geteuid() : NOBODY;
    const std::string binary = dir.file(GetParam().name);
    fs::copy_file(GetParam().binary, binary);
    const std::string big = dir.file(std::string("big.") + (isOrvx() ? "bmp" : "x"));
    Bytes pixels(std::size_t{2048} * 4096);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i % 251 % 200);
    }
    makeInput(makeBmp(2048, 4096, 8, pixels), big);
    const std::string folder = dir.file("sub");
    fs::create_directory(folder);
    const std::string out = folder + "/out";
    ASSERT_EQ(runProgram(argvFrom(big, out)).status, 0);
    const Bytes bigExpected = readFile(out);
    for (const std::string& path : {dir.path, input, big, binary, folder, out}) {
        ASSERT_EQ(chown(path.c_str(), user, user), 0);
    }
    fs::permissions(folder, fs::perms(0555));
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        auto small = commandFor(prefix, binary, out, dir.path);
        auto large = small;
        std::replace(large.begin(), large.end(), input, big);
        std::vector<std::thread> runs;
        std::vector<RunResult> results(2);
        runs.emplace_back([&] { results[0] = runProgram(large); });
        runs.emplace_back([&] { results[1] = runProgram(small); });
        for (std::thread& t : runs) {
            t.join();
        }
        EXPECT_EQ(results[0].status, 0) << results[0].out;
        EXPECT_EQ(results[1].status, 0) << results[1].out;
        const Bytes now = readFile(out);
        EXPECT_TRUE(now == expected || now == bigExpected) << now.size() << " bytes";
    }
    fs::permissions(folder, fs::perms(0755));
    EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"out"});
}

// A destination bound over another file (a mount point, as containers
// have) can't be renamed over: the output is copied into the file it shows.
TEST_P(DestinationTest, MountPointIsWrittenThrough) {
    if (geteuid() != 0 || runProgram({"/usr/bin/unshare", "-m", "true"}).status != 0) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
    const std::string shown = dir.file("shown");
    writeFile(output, {'o', 'l', 'd'});
    writeFile(shown, {'s', 'h', 'o', 'w', 'n'});
    std::vector<std::string> command{"/usr/bin/unshare",
                                     "-m",
                                     "/bin/sh",
                                     "-c",
                                     "mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"",
                                     "sh",
                                     shown,
                                     output};
    const auto run = withEmulator(argv(output));
    command.insert(command.end(), run.begin(), run.end());
    const RunResult result = runProgram(command);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(readFile(shown), expected);
    EXPECT_EQ(readFile(output), (Bytes{'o', 'l', 'd'})); // under the mount, untouched
    const std::vector<std::string> left{GetParam().input, "out", "shown"};
    EXPECT_EQ(folderEntries(dir.path), left);
}

// A replaced file keeps its extended attributes and its ACL, as a plain
// overwrite would.
TEST_P(DestinationTest, ExtendedAttributesAndAclAreKept) {
    writeFile(output, {'o', 'l', 'd'});
    const std::string note = "kept";
    if (setxattr(output.c_str(), "user.orvx-note", note.data(), note.size(), 0) != 0) {
        GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
    }
    const bool acl = access("/usr/bin/setfacl", X_OK) == 0 &&
                     runProgram({"/usr/bin/setfacl", "-m", "u:65534:rw", output}).status == 0;
    const auto attribute = [](const std::string& path, const char* name) {
        std::string value(256, '\0');
        const ssize_t size = getxattr(path.c_str(), name, value.data(), value.size());
        value.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
        return value;
    };
    const std::string aclBefore = attribute(output, "system.posix_acl_access");
    ASSERT_EQ(run(output).status, 0);
    EXPECT_EQ(readFile(output), expected);
    EXPECT_EQ(attribute(output, "user.orvx-note"), note);
    if (acl) {
        EXPECT_FALSE(aclBefore.empty());
        EXPECT_EQ(attribute(output, "system.posix_acl_access"), aclBefore);
    }
}

// Names that can't be created are refused before the input's pixels are
// read (the input here is cut short, which a conversion would notice), and
// a path at the system's limit is taken, however long the temporary name.
TEST_P(DestinationTest, NamesThatCannotBeCreated) {
    Bytes cut = readFile(input);
    cut.resize(cut.size() - 100);
    writeFile(input, cut);
    fs::create_symlink("loop", dir.file("loop"));
    fs::create_symlink("loop-b", dir.file("loop-a"));
    fs::create_symlink("loop-a", dir.file("loop-b"));
    std::string deep = dir.path;
    while (deep.size() < PATH_MAX - 150) {
        deep += "/" + std::string(100, 'd');
    }
    fs::create_directories(deep);
    const std::string longest = deep + "/" + std::string(PATH_MAX - 2 - deep.size(), 'n');
    struct Case {
        const char* name;
        std::string path;
        bool refused;
    };
    const std::vector<Case> cases{
        {"empty", "", true},
        {"a name over 255 bytes", dir.file(std::string(256, 'n')), true},
        {"a link to itself", dir.file("loop"), true},
        {"two links to each other", dir.file("loop-a"), true},
        {"a missing folder", dir.file("missing/out"), true},
        {"a path ending in a separator", dir.file("new/"), true},
        {"a name under a file", input + "/out", true},
        {"a name of 255 bytes", dir.file(std::string(255, 'n')), false},
        {"a path at the limit", longest, false},
    };
    const std::vector<std::string> before = folderEntries(dir.path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult result = run(c.path);
        if (c.refused) {
            EXPECT_EQ(result.status, 255);
            EXPECT_EQ(result.out, GetParam().createError);
        } else if (GetParam().takesCount && !isOrvx()) {
            EXPECT_EQ(result.status, 255); // pngdaz reads the cut pixels: a read error
            EXPECT_NE(result.out.find("Errore di lettura"), std::string::npos) << result.out;
        } else {
            EXPECT_EQ(result.status, 0) << result.out;
            EXPECT_TRUE(fileExists(c.path));
            fs::remove(c.path);
        }
        EXPECT_EQ(folderEntries(dir.path), before);
        EXPECT_EQ(folderEntries(deep), std::vector<std::string>{});
    }
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

// Whether folder holds a run's temporary file with bytes in it.
bool temporaryWritten(const std::string& folder) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".out.", 0) == 0 && name.find(".orvx-") != std::string::npos &&
            entry.file_size(ignored) > 0) {
            return true;
        }
    }
    return false;
}

// A command started, its standard output a pipe that reads to its end once
// the command is gone.
struct Started {
    pid_t pid = -1;
    int out = -1;
};

Started start(const std::vector<std::string>& command, bool ignoreInterrupt) {
    const std::vector<std::string> argv = withEmulator(command);
    Started started;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return started;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
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
    posix_spawnp(&started.pid, args[0], &actions, nullptr, args.data(), environ);
    sigaction(SIGINT, &previous, nullptr);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    started.out = ends[0];
    return started;
}

// Waits, with watch (inotify on folder) telling of every change there, until
// the run has written into its temporary file, or has ended. True for the
// file.
bool waitForTemporary(int watch, const std::string& folder, const Started& run) {
    std::array<char, 4096> events{};
    for (;;) {
        if (temporaryWritten(folder)) {
            return true;
        }
        std::array<pollfd, 2> ready{pollfd{watch, POLLIN, 0}, pollfd{run.out, POLLIN, 0}};
        if (poll(ready.data(), ready.size(), -1) < 0) {
            continue; // interrupted
        }
        if (ready[1].revents != 0) {
            return temporaryWritten(folder);
        }
        static_cast<void>(read(watch, events.data(), events.size()));
    }
}

} // namespace

// A run interrupted once it has written into its temporary file: it dies by
// the signal, and leaves the folder as it found it. The run is stopped
// first: still writing then, it can't get past the point before the signal.
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
            ASSERT_EQ(convertDazToPng(daz.c_str(), input.c_str()), DAZ_OK);
            fs::remove(daz);
        }
    }
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path.c_str(), IN_CREATE | IN_MODIFY), 0);
    struct Case {
        int signal;
        bool oldFile;
        bool ignoreInterrupt; // SIGINT ignored from the start: SIGTERM ends it
    };
    // QUIT and ABRT would leave a core file of the command behind.
    const rlimit noCore{0, 0};
    rlimit core{};
    getrlimit(RLIMIT_CORE, &core);
    setrlimit(RLIMIT_CORE, &noCore);
    for (const Case& c :
         {Case{SIGINT, true, false}, Case{SIGTERM, false, false}, Case{SIGHUP, true, false},
          Case{SIGPIPE, false, false}, Case{SIGXCPU, true, false}, Case{SIGXFSZ, false, false},
          Case{SIGQUIT, true, false}, Case{SIGUSR1, false, false}, Case{SIGUSR2, true, false},
          Case{SIGALRM, false, false}, Case{SIGVTALRM, true, false}, Case{SIGPROF, false, false},
          Case{SIGABRT, true, false}, Case{SIGRTMIN + 1, false, false},
          Case{SIGTERM, true, true}}) {
        SCOPED_TRACE(strsignal(c.signal));
        int status = 0;
        // A run that got past the point before it stopped (a busy machine)
        // is ended and made again.
        bool caught = false;
        for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
            for (const std::string& name : folderEntries(dir.path)) {
                if (name != GetParam().input) {
                    fs::remove(dir.file(name));
                }
            }
            if (c.oldFile) {
                writeFile(output, {'o', 'l', 'd'});
                fs::permissions(output, fs::perms(0640));
            }
            const Started run = start(argv(output), c.ignoreInterrupt);
            ASSERT_GT(run.pid, 0);
            const bool written = waitForTemporary(watch, dir.path, run);
            kill(run.pid, SIGSTOP);
            ASSERT_EQ(waitpid(run.pid, &status, WUNTRACED), run.pid);
            close(run.out);
            ASSERT_TRUE(written || !WIFSTOPPED(status)) << "no temporary file, still running";
            if (!WIFSTOPPED(status)) {
                continue; // ended
            }
            caught = temporaryWritten(dir.path);
            if (caught && c.ignoreInterrupt) {
                kill(run.pid, SIGINT);
            }
            kill(run.pid, caught ? c.signal : SIGKILL);
            kill(run.pid, SIGCONT);
            ASSERT_EQ(waitpid(run.pid, &status, 0), run.pid);
        }
        ASSERT_TRUE(caught) << "every run ended before it could be stopped";
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
    setrlimit(RLIMIT_CORE, &core);
    close(watch);
}

namespace {

// The pipe the handler below writes a byte to each time it runs.
int handledSignals = -1;

extern "C" void acknowledgeSignal(int /*signal*/) {
    const int saved = errno;
    if (write(handledSignals, "", 1) != 1) {
        std::abort();
    }
    errno = saved;
}

// Whether the thread sleeps (state S in /proc: waiting in a system call).
bool sleeps(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t name = line.rfind(')');
    return name != std::string::npos && line.compare(name, 3, ") S") == 0;
}

// Once the thread sleeps, signals it, and waits for the handler to have run.
void interruptWhenAsleep(std::thread& thread, pid_t id, int handled) {
    while (!sleeps(id)) {
        std::this_thread::yield();
    }
    ASSERT_EQ(pthread_kill(thread.native_handle(), SIGUSR1), 0);
    char byte = 0;
    ASSERT_EQ(read(handled, &byte, 1), 1);
}

} // namespace

// A program's own handler (without SA_RESTART, as Python installs them)
// interrupts a conversion each time it waits on a FIFO: to open it, then for
// every piece of the input. The conversion goes on, and writes what it
// writes from the file.
TEST(HandledSignals, FailNoConversionWaitingOnAFifo) {
    TempDir dir;
    const std::string daz = dir.file("in.daz");
    const std::string png = dir.file("in.png");
    const std::string fifo = dir.file("fifo.png");
    ASSERT_GE(convertBmpToDaz(ORVX_SOURCE_DIR "/samples/sample8.bmp", daz.c_str(), 200, 1), 0);
    ASSERT_EQ(convertDazToPng(daz.c_str(), png.c_str()), DAZ_OK);
    ASSERT_GE(convertPngToDaz(png.c_str(), dir.file("expected.daz").c_str(), 200, 0x1F2E), 0);
    const Bytes bytes = readFile(png);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::array<int, 2> handled{};
    std::array<int, 2> started{};
    std::array<int, 2> finish{};
    ASSERT_EQ(pipe(handled.data()) | pipe(started.data()) | pipe(finish.data()), 0);
    handledSignals = handled[1];
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = acknowledgeSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &previous);

    ConvertResult result = ERR_OPEN;
    std::thread converter([&] {
        const auto self = static_cast<pid_t>(syscall(SYS_gettid));
        if (write(started[1], &self, sizeof self) == sizeof self) {
            result = convertPngToDaz(fifo.c_str(), dir.file("out.daz").c_str(), 200, 0x1F2E);
        }
        char byte = 0;
        while (read(finish[0], &byte, 1) != 0) { // until the test is done signalling
        }
    });
    pid_t id = 0;
    if (read(started[0], &id, sizeof id) == sizeof id) {
        interruptWhenAsleep(converter, id, handled[0]); // waiting for a writer
        // Read and write: it never waits, reader or not.
        const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_GE(writer, 0);
        const std::size_t piece = bytes.size() / 3 + 1;
        for (std::size_t at = 0; at < bytes.size() && !HasFatalFailure(); at += piece) {
            interruptWhenAsleep(converter, id, handled[0]); // waiting for a piece
            const std::size_t size = std::min(piece, bytes.size() - at);
            EXPECT_EQ(write(writer, bytes.data() + at, size), static_cast<ssize_t>(size));
        }
        close(writer);
    }
    close(finish[1]);
    converter.join();
    sigaction(SIGUSR1, &previous, nullptr);
    for (const int end : {handled[0], handled[1], started[0], started[1], finish[0]}) {
        close(end);
    }
    EXPECT_GE(result, 0);
    EXPECT_EQ(readFile(dir.file("out.daz")), readFile(dir.file("expected.daz")));
}

// Memory that can't be had (an interlaced PNG is held whole) is a failure
// with the read message, not an abort, and takes its temporary file along.
TEST(OutOfMemory, IsAReadErrorAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#else
    if (underEmulator()) {
        GTEST_SKIP() << "the emulator needs more address space than the limit";
    }
    TempDir dir;
    const std::string png = dir.file("interlaced.png");
    // 12000 x 12000 indices of zero, Adam7-interlaced: 137 MiB to hold.
    const char* make = R"(
import struct, sys, zlib
def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
side = 12000
deflate, data = zlib.compressobj(1), []
for x0, y0, dx, dy in [(0,0,8,8), (4,0,8,8), (0,4,4,8), (2,0,4,4), (0,2,2,4), (1,0,2,2), (0,1,1,2)]:
    row = bytes(1 + (side - x0 + dx - 1) // dx)
    data += [deflate.compress(row) for _ in range((side - y0 + dy - 1) // dy)]
data.append(deflate.flush())
ihdr = struct.pack(">IIBBBBB", side, side, 8, 3, 0, 0, 1)
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
    chunk(b"PLTE", bytes(48)) + chunk(b"IDAT", b"".join(data)) + chunk(b"IEND", b""))
)";
    ASSERT_EQ(runProgram({"/usr/bin/python3", "-c", make, png}).status, 0);
    const std::string out = dir.file("out.daz");
    writeFile(out, {'o', 'l', 'd'});
    const RunResult result =
        runProgram({"/bin/sh", "-c", "ulimit -v 100000; exec \"$@\"", "sh", ORVX_PNGDAZ, png, out});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "Errore di lettura - Operazione non riuscita\n\n"
                          "Uso: pngdaz origine.png destinazione [colore] [chiave]\n\n");
    EXPECT_EQ(readFile(out), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(folderEntries(dir.path), (std::vector<std::string>{"interlaced.png", "out.daz"}));
#endif
}
