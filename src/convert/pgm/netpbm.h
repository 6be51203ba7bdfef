// netpbm.h - what the netpbm readers (PGM, PPM, PAM) share: their headers'
// bytes as netpbm reads them, and their rasters as RGBA. In a header, whitespace is blank, tab, CR
// and LF; a comment, '#' to the end of its line, stands for the CR or LF that ends it; a number is
// unsigned decimal digits.
#pragma once

#include "convert/reader.h"
#include "convert/result_codes.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace orvx {

// Whether c is whitespace to netpbm.
constexpr bool isNetpbmSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The header's bytes, read from the stream's position in pieces (a comment
// may be of any length); consumed counts those handed out.
class NetpbmBytes {
  public:
    static constexpr int END = -1; // the stream ended or failed

    explicit NetpbmBytes(std::FILE* source) : source_(source) {}

    int next();
    // As netpbm's pm_getc: a comment comes back as the CR or LF that ends it.
    int nextFolded();
    std::uint64_t consumed() const { return consumed_; }

  private:
    std::FILE* source_;
    std::array<std::uint8_t, 4096> piece_{};
    std::size_t size_ = 0;
    std::size_t at_ = 0;
    bool ended_ = false;
    std::uint64_t consumed_ = 0;
};

// A number grows no further past this: larger than any field may be.
inline constexpr std::uint32_t NETPBM_NUMBER_CAP = 1U << 20U;

// A header fault at c: ERR_READ when the file ends there, ERR_NOT_BMP when it
// holds what can't be there.
ConvertResult netpbmFaultAt(int c);

// "P" and the digit, from the header's first byte.
ConvertResult readNetpbmMagic(NetpbmBytes& in, char digit);

// The next field, after the whitespace before it; c is the character after
// the previous field, which must be whitespace, and becomes the one after
// this field, which must be whitespace too. value stops at
// NETPBM_NUMBER_CAP.
ConvertResult readNetpbmNumber(NetpbmBytes& in, int& c, std::uint32_t& value);

// A raster of tuples as netpbm lays it out: height rows of width tuples of
// depth samples, one byte each up to maxval 255, else two, big-endian.
struct NetpbmRaster {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t depth = 1; // 1 grey, 2 grey and alpha, 3 RGB, 4 RGB and alpha
    std::uint32_t maxval = 255;
    std::uint64_t offset = 0; // where its first sample lies in the file
};

// The raster read as RGBA into image, each sample at its place on 0..255,
// round(sample * 255 / maxval), a sample past maxval taken as maxval; no
// alpha, opaque. check is asked about the size first (sizeOnly: stop
// there). DAZ_OK, DAZ_ERR_READ (cut short) or the check's refusal.
int readNetpbmRgba(std::FILE* source, const NetpbmRaster& raster, const PlanCheck* check,
                   bool sizeOnly, RgbaImage& image);

} // namespace orvx
