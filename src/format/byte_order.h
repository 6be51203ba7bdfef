// byte_order.h - loads and stores of the integers in the files: little-endian
// in a daz file and a BMP, big-endian in a PNG.
#pragma once

#include <cstdint>

namespace orvx {

inline std::uint16_t loadU16(const std::uint8_t* in) {
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8U));
}

inline std::uint32_t loadU32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(loadU16(in)) |
           (static_cast<std::uint32_t>(loadU16(in + 2)) << 16U);
}

inline std::uint32_t loadU32BigEndian(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) << 24U | static_cast<std::uint32_t>(in[1]) << 16U |
           static_cast<std::uint32_t>(in[2]) << 8U | in[3];
}

inline void storeU16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value & 0xFFU);
    out[1] = static_cast<std::uint8_t>(value >> 8U);
}

inline void storeU32(std::uint8_t* out, std::uint32_t value) {
    storeU16(out, static_cast<std::uint16_t>(value & 0xFFFFU));
    storeU16(out + 2, static_cast<std::uint16_t>(value >> 16U));
}

} // namespace orvx
