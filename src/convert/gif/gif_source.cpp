// giflib reads through a callback on the stream; it reports faults as
// return values and a code in its handle, never by a jump or a message.
#include "convert/gif/gif_source.h"

#include "daz/daz.h"

#include <algorithm>
#include <gif_lib.h>

namespace orvx {

namespace {

int readForGif(GifFileType* gif, GifByteType* out, int size) {
    auto& reading = *static_cast<GifReading*>(gif->UserData);
    if (size <= 0) {
        return 0;
    }
    const std::size_t got = std::fread(out, 1, static_cast<std::size_t>(size), reading.file);
    if (got < static_cast<std::size_t>(size)) {
        reading.cut = true;
    }
    if (got > 0) {
        reading.lastByte = out[got - 1];
    }
    return static_cast<int>(got);
}

// What giflib's fault means here: a read that came short is the stream's,
// anything else (giflib also says "read failed" for a code size past 8) the
// image's.
int failureOf(const GifReading& reading, int giflibError) {
    if (reading.cut) {
        return DAZ_ERR_READ;
    }
    return giflibError == D_GIF_ERR_NOT_ENOUGH_MEM ? DAZ_ERR_MEMORY : DAZ_ERR_BAD_IMAGE;
}

int failureOf(const GifReading& reading) {
    return failureOf(reading, reading.gif != nullptr ? reading.gif->Error : 0);
}

// Past the extension whose first block is block, keeping a graphic control
// block's transparent index (the last one before the frame is the frame's).
int skipExtension(GifReading& reading, int code, GifByteType* block, GifFrame& frame) {
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
        GraphicsControlBlock control{};
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
            frame.transparent = control.TransparentColor;
        }
    }
    while (block != nullptr) {
        if (DGifGetExtensionNext(reading.gif, &block) == GIF_ERROR) {
            return failureOf(reading);
        }
    }
    return DAZ_OK;
}

void takeTable(const ColorMapObject& map, GifFrame& frame) {
    frame.entries = std::clamp(map.ColorCount, 0, 256);
    for (int i = 0; i < frame.entries; ++i) {
        const GifColorType& colour = map.Colors[i];
        std::uint8_t* entry = frame.table.data() + std::size_t{3} * static_cast<std::size_t>(i);
        entry[0] = colour.Red;
        entry[1] = colour.Green;
        entry[2] = colour.Blue;
    }
}

int takeFrame(GifReading& reading, GifFrame& frame) {
    const GifFileType& gif = *reading.gif;
    const GifImageDesc& image = gif.Image;
    // giflib reads the LZW code size as the last step of the descriptor.
    frame.codeSize = reading.lastByte;
    frame.left = static_cast<std::uint32_t>(image.Left);
    frame.top = static_cast<std::uint32_t>(image.Top);
    frame.width = static_cast<std::uint32_t>(image.Width);
    frame.height = static_cast<std::uint32_t>(image.Height);
    frame.interlaced = image.Interlace;
    if (frame.width == 0 || frame.height == 0) {
        return DAZ_ERR_BAD_IMAGE;
    }
    frame.imageWidth = std::max(frame.screenWidth, frame.left + frame.width);
    frame.imageHeight = std::max(frame.screenHeight, frame.top + frame.height);
    const ColorMapObject* map = image.ColorMap != nullptr ? image.ColorMap : gif.SColorMap;
    if (map == nullptr || map->ColorCount < 1 || map->Colors == nullptr) {
        return DAZ_ERR_BAD_IMAGE;
    }
    takeTable(*map, frame);
    return DAZ_OK;
}

} // namespace

GifReading::~GifReading() {
    if (gif != nullptr) {
        int error = 0;
        static_cast<void>(DGifCloseFile(gif, &error));
    }
}

int openGif(std::FILE* source, GifReading& reading, GifFrame& frame) {
    if (std::fseek(source, 0, SEEK_SET) != 0) {
        return DAZ_ERR_READ;
    }
    reading.file = source;
    int error = 0;
    reading.gif = DGifOpen(&reading, readForGif, &error);
    if (reading.gif == nullptr) {
        return failureOf(reading, error);
    }
    const GifFileType& gif = *reading.gif;
    frame.screenWidth = static_cast<std::uint32_t>(gif.SWidth);
    frame.screenHeight = static_cast<std::uint32_t>(gif.SHeight);
    frame.background = gif.SColorMap != nullptr ? gif.SBackGroundColor : 0;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(reading.gif, &record) == GIF_ERROR) {
            return failureOf(reading);
        }
        if (record == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(reading.gif) == GIF_ERROR) {
                return failureOf(reading);
            }
            return takeFrame(reading, frame);
        }
        if (record != EXTENSION_RECORD_TYPE) {
            return DAZ_ERR_BAD_IMAGE; // the trailer before any frame
        }
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(reading.gif, &code, &block) == GIF_ERROR) {
            return failureOf(reading);
        }
        const int skipped = skipExtension(reading, code, block, frame);
        if (skipped != DAZ_OK) {
            return skipped;
        }
    }
}

int readGifRow(GifReading& reading, const GifFrame& frame, std::uint8_t* row) {
    if (DGifGetLine(reading.gif, row, static_cast<int>(frame.width)) == GIF_ERROR) {
        return failureOf(reading);
    }
    return DAZ_OK;
}

std::uint32_t gifFrameRow(const GifFrame& frame, std::uint32_t n) {
    if (!frame.interlaced) {
        return n;
    }
    // Pass 1 every 8th row from 0, pass 2 every 8th from 4, pass 3 every
    // 4th from 2, pass 4 every 2nd from 1.
    const std::uint32_t h = frame.height;
    const std::uint32_t pass1 = (h + 7) / 8;
    const std::uint32_t pass2 = (h + 3) / 8;
    const std::uint32_t pass3 = (h + 1) / 4;
    if (n < pass1) {
        return n * 8;
    }
    n -= pass1;
    if (n < pass2) {
        return 4 + n * 8;
    }
    n -= pass2;
    if (n < pass3) {
        return 2 + n * 4;
    }
    n -= pass3;
    return 1 + n * 2;
}

} // namespace orvx
