#include "convert/pgm/pgm_header.h"

#include "format/daz_format.h"

#include <algorithm>
#include <array>

namespace orvx {

namespace {

constexpr int END = -1; // the stream ended or failed
// A number grows no further past this: larger than any field may be.
constexpr std::uint32_t NUMBER_CAP = 1U << 20U;

// The header's bytes, read in pieces; consumed counts those handed out.
class HeaderBytes {
  public:
    explicit HeaderBytes(std::FILE* source) : source_(source) {}

    int next() {
        if (at_ == size_) {
            size_ = ended_ ? 0 : std::fread(piece_.data(), 1, piece_.size(), source_);
            at_ = 0;
            if (size_ == 0) {
                ended_ = true;
                return END;
            }
        }
        ++consumed_;
        return piece_[at_++];
    }

    // As netpbm's pm_getc: a comment comes back as the CR or LF that ends it.
    int nextFolded() {
        int c = next();
        if (c == '#') {
            do {
                c = next();
            } while (c != '\n' && c != '\r' && c != END);
        }
        return c;
    }

    std::uint64_t consumed() const { return consumed_; }

  private:
    std::FILE* source_;
    std::array<std::uint8_t, 4096> piece_{};
    std::size_t size_ = 0;
    std::size_t at_ = 0;
    bool ended_ = false;
    std::uint64_t consumed_ = 0;
};

// A header fault at c: the file ends there, or holds what can't be there.
ConvertResult faultAt(int c) {
    return c == END ? ERR_READ : ERR_NOT_BMP;
}

// The next field, after the whitespace before it; c is the character after
// the previous field, which must be whitespace, and becomes the one after
// this field.
ConvertResult readNumber(HeaderBytes& in, int& c, std::uint32_t& value) {
    if (!isPgmSpace(c)) {
        return faultAt(c);
    }
    do {
        c = in.nextFolded();
    } while (isPgmSpace(c));
    if (c < '0' || c > '9') {
        return faultAt(c);
    }
    value = 0;
    do {
        value = std::min(NUMBER_CAP, value * 10 + static_cast<std::uint32_t>(c - '0'));
        c = in.nextFolded();
    } while (c >= '0' && c <= '9');
    return isPgmSpace(c) ? 0 : faultAt(c);
}

} // namespace

ConvertResult readPgmHeader(std::FILE* source, PgmHeader& header) {
    HeaderBytes in{source};
    const int p = in.next();
    if (p != 'P') {
        return faultAt(p);
    }
    const int five = in.next();
    if (five != '5') {
        return faultAt(five);
    }
    int c = in.nextFolded();
    ConvertResult read = readNumber(in, c, header.width);
    if (read < 0 || header.width == 0 || header.width > DAZ_MAX_WIDTH) {
        return read < 0 ? read : ERR_NOT_BMP;
    }
    read = readNumber(in, c, header.height);
    if (read < 0 || header.height == 0 || header.height > DAZ_MAX_HEIGHT) {
        return read < 0 ? read : ERR_NOT_BMP;
    }
    read = readNumber(in, c, header.maxval);
    if (read < 0 || header.maxval == 0) {
        return read < 0 ? read : ERR_NOT_BMP;
    }
    if (header.maxval > PGM_MAX_BYTE_MAXVAL) {
        return ERR_BAD_DEPTH;
    }
    header.rasterOffset = in.consumed(); // past the one whitespace after maxval
    return 0;
}

} // namespace orvx
