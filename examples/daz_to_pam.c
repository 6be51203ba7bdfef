/* daz_to_pam - decodes a daz image to a PAM image, or to a PPM one.
 *
 * PAM (P7, RGB_ALPHA): the pixels as daz_decode_rgba gives them, an index
 * past the palette as opaque magenta (the DAZ_UNDEFINED_* bytes). PPM (P6, with
 * -p): the indices from daz_decode looked up in its palette, the same
 * magenta past it. Rows top first either way, as the calls give them.
 *
 *   daz_to_pam [-p] IMAGE.daz OUTPUT
 */
#include <daz/daz.h>

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

/* The image as bytes of a PAM or PPM file: header and pixels, in *out. */
static int decode(const unsigned char* data, size_t size, int ppm, unsigned char** out,
                  size_t* out_size) {
    daz_info info;
    size_t indices_size;
    size_t rgba_size;
    char header[128];
    int header_size;
    unsigned char* pixels;
    int error = daz_inspect(data, size, &info);
    if (error == DAZ_OK) {
        error = daz_decoded_size(&info, NULL, &indices_size, &rgba_size);
    }
    if (error != DAZ_OK) {
        return error;
    }
    if (ppm) {
        header_size = sprintf(header, "P6\n%" PRIu32 " %" PRIu32 "\n255\n", info.width, info.rows);
        *out_size = (size_t)header_size + indices_size * 3;
    } else {
        header_size = sprintf(header,
                              "P7\nWIDTH %" PRIu32 "\nHEIGHT %" PRIu32
                              "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                              info.width, info.rows);
        *out_size = (size_t)header_size + rgba_size;
    }
    *out = malloc(*out_size);
    if (*out == NULL) {
        return DAZ_ERR_MEMORY;
    }
    memcpy(*out, header, (size_t)header_size);
    pixels = *out + header_size;

    if (ppm) {
        uint8_t palette[DAZ_PALETTE_BYTES];
        uint8_t* indices = malloc(indices_size);
        size_t i;
        error = indices == NULL
                    ? DAZ_ERR_MEMORY
                    : daz_decode(data, size, NULL, &info, palette, indices, indices_size);
        for (i = 0; error == DAZ_OK && i < indices_size; i++) {
            unsigned index = indices[i];
            if ((int)index < info.colors) {
                memcpy(pixels + 3 * i, palette + 4 * index, 3);
            } else {
                pixels[3 * i] = DAZ_UNDEFINED_RED;
                pixels[3 * i + 1] = DAZ_UNDEFINED_GREEN;
                pixels[3 * i + 2] = DAZ_UNDEFINED_BLUE;
            }
        }
        free(indices);
    } else {
        error = daz_decode_rgba(data, size, NULL, &info, pixels, rgba_size);
    }
    if (error != DAZ_OK) {
        free(*out);
        *out = NULL;
    }
    return error;
}

int main(int argc, char** argv) {
    int ppm = argc > 1 && strcmp(argv[1], "-p") == 0;
    const char* input;
    const char* output;
    unsigned char* data;
    unsigned char* image = NULL;
    size_t size = 0;
    size_t image_size = 0;
    FILE* file;
    int written;
    int error;

    if (argc != 3 + ppm) {
        fprintf(stderr, "usage: daz_to_pam [-p] IMAGE.daz OUTPUT\n");
        return 2;
    }
    input = argv[1 + ppm];
    output = argv[2 + ppm];
    data = read_file(input, &size);
    if (data == NULL) {
        perror(input);
        return 1;
    }
    error = decode(data, size, ppm, &image, &image_size);
    free(data);
    if (error != DAZ_OK) {
        fprintf(stderr, "%s: %s\n", input, daz_strerror(error));
        return 1;
    }
    file = fopen(output, "wb");
    if (file == NULL) {
        perror(output);
        free(image);
        return 1;
    }
    written = fwrite(image, 1, image_size, file) == image_size;
    written = fclose(file) == 0 && written;
    free(image);
    if (!written) {
        perror(output);
        remove(output);
        return 1;
    }
    return 0;
}
