// netpbm's PAM ("P7"), read as RGBA. The header, as netpbm reads it: "P7"
// and a newline, then lines of a keyword and its value up to the line
// "ENDHDR"; blank lines and lines starting with '#' skipped. WIDTH, HEIGHT,
// DEPTH and MAXVAL (1 to 65535) once each, unsigned decimal; TUPLTYPE one
// of GRAYSCALE, GRAYSCALE_ALPHA, RGB, RGB_ALPHA (each with its depth) and
// BLACKANDWHITE (depth 1, maxval 1). Anything else, or a field missing, is
// DAZ_ERR_BAD_IMAGE. The raster after the newline that ends ENDHDR, its
// samples scaled to 0..255 as PGM's are. No palette to keep.
#include "convert/pam/pam_format.h"

#include "convert/pgm/netpbm.h"

#include <string>
#include <string_view>

namespace orvx {

namespace {

constexpr std::uint32_t MAX_MAXVAL = 65535;
// Longer than any header line this reader takes.
constexpr std::size_t MAX_LINE = 256;

bool isPam(const std::uint8_t* bytes, std::size_t size) {
    return size > 2 && bytes[0] == 'P' && bytes[1] == '7' && bytes[2] == '\n';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isNetpbmSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isNetpbmSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// One line without its LF: DAZ_ERR_READ when the file ends first.
int readLine(NetpbmBytes& in, std::string& line) {
    line.clear();
    for (int c = in.next(); c != '\n'; c = in.next()) {
        if (c == NetpbmBytes::END) {
            return DAZ_ERR_READ;
        }
        if (line.size() == MAX_LINE) {
            return DAZ_ERR_BAD_IMAGE;
        }
        line.push_back(static_cast<char>(c));
    }
    return DAZ_OK;
}

// A field's value: digits alone, 1 up to below NETPBM_NUMBER_CAP, once.
bool takeNumber(std::string_view text, std::uint32_t& field) {
    if (field != 0 || text.empty()) {
        return false;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = std::min(NETPBM_NUMBER_CAP, value * 10 + static_cast<std::uint32_t>(c - '0'));
    }
    field = value;
    return value != 0;
}

struct TupleType {
    std::string_view name;
    std::uint32_t depth;
};

constexpr TupleType TUPLE_TYPES[] = {
    {"GRAYSCALE", 1}, {"GRAYSCALE_ALPHA", 2}, {"RGB", 3}, {"RGB_ALPHA", 4}, {"BLACKANDWHITE", 1},
};

int readPamHeader(std::FILE* source, NetpbmRaster& raster) {
    NetpbmBytes in{source};
    const ConvertResult magic = readNetpbmMagic(in, '7');
    if (magic < 0) {
        return magic == ERR_READ ? DAZ_ERR_READ : DAZ_ERR_BAD_IMAGE;
    }
    raster.depth = 0;
    raster.maxval = 0;
    std::string line;
    std::string tupleType;
    int result = readLine(in, line); // the rest of "P7"'s line
    if (result == DAZ_OK && !trimmed(line).empty()) {
        return DAZ_ERR_BAD_IMAGE;
    }
    while (result == DAZ_OK) {
        result = readLine(in, line);
        const std::string_view text = trimmed(line);
        if (result != DAZ_OK || text.empty() || text.front() == '#') {
            continue;
        }
        const std::size_t split = std::min(text.find_first_of(" \t\r"), text.size());
        const std::string_view keyword = text.substr(0, split);
        const std::string_view value = trimmed(text.substr(split));
        if (keyword == "ENDHDR") {
            break;
        }
        bool taken = false;
        if (keyword == "WIDTH") {
            taken = takeNumber(value, raster.width);
        } else if (keyword == "HEIGHT") {
            taken = takeNumber(value, raster.height);
        } else if (keyword == "DEPTH") {
            taken = takeNumber(value, raster.depth);
        } else if (keyword == "MAXVAL") {
            taken = takeNumber(value, raster.maxval);
        } else if (keyword == "TUPLTYPE") {
            // netpbm joins repeated TUPLTYPE lines with a blank
            tupleType += tupleType.empty() ? "" : " ";
            tupleType += value;
            taken = tupleType.size() <= MAX_LINE;
        }
        if (!taken) {
            return DAZ_ERR_BAD_IMAGE;
        }
    }
    if (result != DAZ_OK) {
        return result;
    }
    if (raster.width == 0 || raster.height == 0 || raster.maxval == 0 ||
        raster.maxval > MAX_MAXVAL) {
        return DAZ_ERR_BAD_IMAGE;
    }
    bool known = false;
    for (const TupleType& type : TUPLE_TYPES) {
        known = known || (type.name == tupleType && type.depth == raster.depth);
    }
    if (!known || (tupleType == "BLACKANDWHITE" && raster.maxval != 1)) {
        return DAZ_ERR_BAD_IMAGE;
    }
    if (raster.width >= NETPBM_NUMBER_CAP || raster.height >= NETPBM_NUMBER_CAP) {
        return DAZ_ERR_LIMITS;
    }
    raster.offset = in.consumed();
    return DAZ_OK;
}

int readPamRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    NetpbmRaster raster;
    const int header = readPamHeader(source, raster);
    return header != DAZ_OK ? header : readNetpbmRgba(source, raster, check, sizeOnly, image);
}

} // namespace

const FormatReader PAM_READER{DAZ_FORMAT_PAM, "PAM",   "pam",   "image/x-portable-arbitrarymap",
                              isPam,          nullptr, nullptr, false,
                              readPamRgba,    nullptr, nullptr, false};

} // namespace orvx
