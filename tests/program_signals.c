/* A program with signal handlers of its own, as a daemon or a tool with a
 * timeout has them: SIGALRM from a fast interval timer, SIGUSR1 and SIGTERM
 * in a stream from a child. It converts a 4096 x 4096 8-bit bitmap again and
 * again through libdaz's file call, with nothing but daz.h. The library must
 * leave those signals to the program: the program lives, its handlers run,
 * every conversion succeeds whole, and no temporary file is left.
 *
 * Usage: program_signals [ROUNDS]. Exit 0 when all holds; else a line on
 * standard error saying what did not. */
#define _XOPEN_SOURCE 700

#include <daz/daz.h>

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#define SIDE 4096
#define DEFAULT_ROUNDS 20

static volatile sig_atomic_t alarms;
static volatile sig_atomic_t user1s;
static volatile sig_atomic_t terms;
static volatile sig_atomic_t acknowledge = -1; /* a byte per signal handled paces the child */

/* The one call into the library's file conversion. */
static int convert(const char* source, const char* destination) {
    return daz_convert_file(source, destination, NULL, 0, 0x1F2E, NULL);
}

static void handled(volatile sig_atomic_t* counter) {
    const int saved = errno;
    ++*counter;
    if (acknowledge >= 0) {
        (void)!write(acknowledge, "", 1);
    }
    errno = saved;
}

static void on_alarm(int signal) {
    (void)signal;
    ++alarms;
}

static void on_user1(int signal) {
    (void)signal;
    handled(&user1s);
}

static void on_term(int signal) {
    (void)signal;
    handled(&terms);
}

/* As Python installs its handlers: no SA_RESTART, so that a slow system call
 * the signal interrupts fails with EINTR. */
static void handle(int signal, void (*handler)(int)) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    if (sigaction(signal, &action, NULL) != 0) {
        perror("sigaction");
        exit(2);
    }
}

static void put32(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = (unsigned char)(value >> (8 * i));
    }
}

/* SIDE x SIDE, 8 bits, bottom-up, a grey palette and pixels that vary. */
static int write_bitmap(const char* path) {
    const size_t header = 14 + 40 + 256 * 4;
    const size_t size = header + (size_t)SIDE * SIDE;
    unsigned char* bytes = calloc(size, 1);
    if (bytes == NULL) {
        return -1;
    }
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes + 2, (uint32_t)size);
    put32(bytes + 10, (uint32_t)header);
    put32(bytes + 14, 40);
    put32(bytes + 18, SIDE);
    put32(bytes + 22, SIDE);
    bytes[26] = 1;
    bytes[28] = 8;
    put32(bytes + 46, 256);
    for (int i = 0; i < 256; ++i) {
        memset(bytes + 54 + 4 * i, i, 3);
    }
    for (size_t i = 0; i < (size_t)SIDE * SIDE; ++i) {
        bytes[header + i] = (unsigned char)(i * 7 + i / 4099);
    }
    FILE* file = fopen(path, "wb");
    const int written = file != NULL && fwrite(bytes, 1, size, file) == size;
    free(bytes);
    return file != NULL && fclose(file) == 0 && written ? 0 : -1;
}

/* The whole file, or NULL; its size to size. */
static unsigned char* read_file(const char* path, size_t* size) {
    FILE* file = fopen(path, "rb");
    if (file == NULL || fseek(file, 0, SEEK_END) != 0) {
        return NULL;
    }
    const long length = ftell(file);
    unsigned char* bytes = length > 0 ? malloc((size_t)length) : NULL;
    rewind(file);
    if (bytes != NULL && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
        free(bytes);
        bytes = NULL;
    }
    fclose(file);
    *size = (size_t)length;
    return bytes;
}

/* The child: SIGUSR1 and SIGTERM by turns, the next once the last is
 * handled; it ends when the program does. */
static void send_stream(pid_t program, int acknowledged) {
    const int signals[] = {SIGUSR1, SIGTERM};
    char byte;
    for (unsigned i = 0;; ++i) {
        if (kill(program, signals[i % 2]) != 0 || read(acknowledged, &byte, 1) != 1) {
            _exit(0);
        }
    }
}

/* The names in folder other than keep, with a line each on standard error. */
static int others_in(const char* folder, const char* keep) {
    DIR* dir = opendir(folder);
    int others = 0;
    for (struct dirent* entry; dir != NULL && (entry = readdir(dir)) != NULL;) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && strcmp(name, keep) != 0) {
            fprintf(stderr, "left behind: %s/%s\n", folder, name);
            ++others;
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
    return dir == NULL ? -1 : others;
}

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? atoi(argv[1]) : DEFAULT_ROUNDS;
    const char* tmp = getenv("TMPDIR");
    char work[4096];
    snprintf(work, sizeof work, "%s/daz-signals-XXXXXX", tmp != NULL && *tmp ? tmp : "/tmp");
    if (mkdtemp(work) == NULL) {
        perror("mkdtemp");
        return 2;
    }
    char source[4200], folder[4200], destination[4300];
    snprintf(source, sizeof source, "%s/in.bmp", work);
    snprintf(folder, sizeof folder, "%s/out", work);
    snprintf(destination, sizeof destination, "%s/out.daz", folder);
    size_t expected_size = 0;
    unsigned char* expected = NULL;
    if (write_bitmap(source) != 0 || mkdir(folder, 0700) != 0 ||
        convert(source, destination) != DAZ_OK ||
        (expected = read_file(destination, &expected_size)) == NULL) {
        fprintf(stderr, "no reference conversion in %s\n", work);
        return 2;
    }

    /* A signal the child sent just before it ended is handled after its end
     * of the pipe is gone: that acknowledgement must fail, not end us. */
    signal(SIGPIPE, SIG_IGN);
    handle(SIGALRM, on_alarm);
    handle(SIGUSR1, on_user1);
    handle(SIGTERM, on_term);
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        perror("pipe");
        return 2;
    }
    acknowledge = pipe_ends[1];
    const pid_t program = getpid();
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[1]); /* the program's end: gone with the program */
        send_stream(program, pipe_ends[0]);
    }
    close(pipe_ends[0]);
    const struct itimerval every = {{0, 500}, {0, 500}};
    if (child < 0 || setitimer(ITIMER_REAL, &every, NULL) != 0) {
        perror("fork or setitimer");
        return 2;
    }
    /* The stream has begun before the first round. */
    while (user1s == 0 || terms == 0) {
        pause();
    }

    int failed = 0;
    for (int round = 0; round < rounds && !failed; ++round) {
        const int error = convert(source, destination);
        size_t size = 0;
        unsigned char* got = error == DAZ_OK ? read_file(destination, &size) : NULL;
        if (got == NULL || size != expected_size || memcmp(got, expected, size) != 0) {
            fprintf(stderr, "round %d: %s (%d), %zu of %zu bytes as expected\n", round,
                    daz_strerror(error), error, got != NULL ? size : 0, expected_size);
            failed = 1;
        }
        free(got);
    }

    const struct itimerval stop = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &stop, NULL);
    acknowledge = -1;
    kill(child, SIGKILL);
    waitpid(child, NULL, 0);
    if (alarms == 0 || user1s == 0 || terms == 0) {
        fprintf(stderr, "handlers ran: SIGALRM %d, SIGUSR1 %d, SIGTERM %d times\n", (int)alarms,
                (int)user1s, (int)terms);
        failed = 1;
    }
    if (others_in(folder, "out.daz") != 0) {
        failed = 1;
    }
    printf("%d rounds: SIGALRM %d, SIGUSR1 %d, SIGTERM %d handled\n", rounds, (int)alarms,
           (int)user1s, (int)terms);
    remove(destination);
    remove(source);
    rmdir(folder);
    rmdir(work);
    free(expected);
    return failed;
}
