// The two sides of bench/gif_compare.py:
//   gif_decode slurp FILE     giflib alone: DGifSlurp, every frame decoded into memory
//   gif_decode daz FILE OUT   the GIF reader: the first frame into a daz file, indices kept
#include "convert/gif/gif_format.h"

#include <cstdio>
#include <cstring>
#include <gif_lib.h>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "slurp") == 0) {
        int error = 0;
        GifFileType* gif = DGifOpenFileName(argv[2], &error);
        if (gif == nullptr) {
            return 1;
        }
        const int slurped = DGifSlurp(gif);
        DGifCloseFile(gif, &error);
        return slurped == GIF_OK ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "daz") == 0) {
        std::FILE* source = std::fopen(argv[2], "rb");
        std::FILE* out = std::fopen(argv[3], "wb");
        if (source == nullptr || out == nullptr) {
            return 1;
        }
        int result = DAZ_OK;
        {
            orvx::ReaderState state;
            result = orvx::GIF_READER.openIndices(source, orvx::IndexRequest{}, nullptr, state);
            if (result == DAZ_OK) {
                result = orvx::GIF_READER.writeIndices(state, orvx::DazOutput{out, true}, nullptr);
            }
        }
        std::fclose(source);
        return std::fclose(out) == 0 && result == DAZ_OK ? 0 : 1;
    }
    std::fputs("usage: gif_decode slurp FILE | gif_decode daz FILE OUT\n", stderr);
    return 2;
}
