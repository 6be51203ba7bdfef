/* daz_decode_time.c - the C side of python_bench.py: daz_decode of a daz
 * file held in memory.
 *
 * Built as a program, it prints the median of N runs in milliseconds:
 *
 *   daz_decode_time FILE N
 *
 * "reused MS": one output buffer, written over and over (the library's own
 * speed); "fresh MS": malloc, decode and free on each run (a program that
 * decodes one image). Built as a shared object, python_bench.py calls
 * decode_into through ctypes, each run beside the Python one. */
#define _POSIX_C_SOURCE 200809L
#include <daz/daz.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static int by_value(const void* a, const void* b) {
    const double x = *(const double*)a;
    const double y = *(const double*)b;
    return (x > y) - (x < y);
}

/* For ctypes: one daz_decode into out, 0 on success. */
int decode_into(const void* data, size_t size, void* out, size_t out_size) {
    daz_info info;
    return daz_decode(data, size, NULL, &info, NULL, out, out_size);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: daz_decode_time FILE N\n");
        return 2;
    }
    FILE* file = fopen(argv[1], "rb");
    const int runs = atoi(argv[2]);
    if (file == NULL || runs < 1 || fseek(file, 0, SEEK_END) != 0) {
        return 1;
    }
    const long size = ftell(file);
    rewind(file);
    unsigned char* data = malloc((size_t)size);
    double* times = malloc(sizeof(double) * (size_t)runs);
    if (data == NULL || times == NULL || fread(data, 1, (size_t)size, file) != (size_t)size) {
        return 1;
    }
    fclose(file);
    daz_info info;
    size_t indices_size = 0;
    if (daz_inspect(data, (size_t)size, &info) != DAZ_OK ||
        daz_decoded_size(&info, NULL, &indices_size, NULL) != DAZ_OK) {
        return 1;
    }
    unsigned char* indices = malloc(indices_size);
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < runs; ++i) {
            const double start = now_ms();
            unsigned char* out = pass == 0 ? indices : malloc(indices_size);
            if (out == NULL ||
                daz_decode(data, (size_t)size, NULL, &info, NULL, out, indices_size) != DAZ_OK) {
                return 1;
            }
            if (pass == 1) {
                free(out);
            }
            times[i] = now_ms() - start;
        }
        qsort(times, (size_t)runs, sizeof(double), by_value);
        printf("%s %.3f\n", pass == 0 ? "reused" : "fresh", times[runs / 2]);
    }
    free(indices);
    free(data);
    free(times);
    return 0;
}
