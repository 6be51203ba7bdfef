// A bare libpng decode of an indexed PNG, with the reader set up as pngdaz sets
// it (low-level reader, no transform, ancillary chunks skipped, no index
// check), row by row into one buffer, then the end chunks: what pngdaz can't
// do without. bench/png_compare.py times pngdaz against it:
//   png_decode FILE.png
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

namespace {

[[noreturn]] void fail(png_structp png, png_const_charp message) {
    std::fprintf(stderr, "png_decode: %s\n", message);
    png_longjmp(png, 1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: png_decode FILE.png\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        return 1;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> row;
    if (setjmp(png_jmpbuf(png)) != 0) {
        return 1;
    }
    png_init_io(png, file);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_check_for_invalid_index(png, 0);
    png_read_info(png, info);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    row.resize(png_get_rowbytes(png, info));
    const png_uint_32 height = png_get_image_height(png, info);
    unsigned checksum = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, row.data(), nullptr);
            checksum += row[y % row.size()];
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return checksum == 1 ? 3 : 0; // the rows are used
}
