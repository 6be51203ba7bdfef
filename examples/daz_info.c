/* daz_info - prints a daz image's header fields and its palette.
 *
 * Reads the whole file into memory and hands it to daz_inspect, which checks
 * the header and palette and decodes no pixel.
 *
 *   daz_info IMAGE.daz
 */
#include <daz/daz.h>

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

/* The file's bytes in a buffer of the caller's to free, or NULL. */
static unsigned char* read_file(const char* path, size_t* size) {
    FILE* file = fopen(path, "rb");
    unsigned char* data = NULL;
    size_t used = 0;
    size_t capacity = 0;
    if (file == NULL) {
        return NULL;
    }
    for (;;) {
        if (used == capacity) {
            size_t grown = capacity == 0 ? 65536 : capacity * 2;
            unsigned char* bigger = realloc(data, grown);
            if (bigger == NULL) {
                break;
            }
            data = bigger;
            capacity = grown;
        }
        used += fread(data + used, 1, capacity - used, file);
        if (used < capacity) {
            if (ferror(file)) {
                break;
            }
            fclose(file);
            *size = used;
            return data;
        }
    }
    fclose(file);
    free(data);
    return NULL;
}

int main(int argc, char** argv) {
    unsigned char* data;
    size_t size = 0;
    daz_info info;
    int error;
    int i;

    if (argc != 2) {
        fprintf(stderr, "usage: daz_info IMAGE.daz\n");
        return 2;
    }
    data = read_file(argv[1], &size);
    if (data == NULL) {
        perror(argv[1]);
        return 1;
    }
    error = daz_inspect(data, size, &info);
    free(data);
    if (error != DAZ_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], daz_strerror(error));
        return 1;
    }

    printf("width %" PRIu32 "\n", info.width);
    printf("height %" PRId32 " (%s)\n", info.height, info.height < 0 ? "top-down" : "bottom-up");
    printf("rows %" PRIu32 "\n", info.rows);
    printf("bits %d\n", info.bits);
    printf("colors %d\n", info.colors);
    printf("key 0x%04x\n", (unsigned)info.key);
    printf("row size %" PRIu32 "\n", info.row_size);
    printf("pixel offset %" PRIu64 "\n", info.pixel_offset);
    printf("trailing %" PRIu64 "\n", info.trailing);
    printf("palette (red green blue fourth):\n");
    for (i = 0; i < info.colors; i++) {
        const uint8_t* entry = info.palette + 4 * i;
        printf("%3d %3u %3u %3u %3u\n", i, (unsigned)entry[0], (unsigned)entry[1],
               (unsigned)entry[2], (unsigned)entry[3]);
    }
    return 0;
}
