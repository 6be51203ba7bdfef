#include "convert/daz_rows.h"

#include "format/daz_format.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orvx {

namespace {

// Rows move in blocks of about this many bytes, and at least one row.
constexpr std::size_t BLOCK_BYTES = std::size_t{1} << 20U;

int writeBytes(std::FILE* stream, const std::uint8_t* data, std::size_t size) {
    return std::fwrite(data, 1, size, stream) == size ? DAZ_OK : DAZ_ERR_WRITE;
}

} // namespace

bool packRow(const std::uint8_t* indices, const IndexedShape& shape, std::uint8_t* out,
             std::size_t rowSize) {
    std::memset(out, 0, rowSize);
    if (shape.bits == 8) {
        std::memcpy(out, indices, shape.width);
        return true;
    }
    for (std::uint32_t x = 0; x < shape.width; ++x) {
        const unsigned index = indices[x];
        if (index > 15U) {
            return false;
        }
        out[x / 2] = static_cast<std::uint8_t>(out[x / 2] | (x % 2 == 0 ? index << 4U : index));
    }
    return true;
}

int planDazRows(DazRowWriter& writer, const IndexedShape& shape, const IndexRequest& request,
                const PlanCheck* check, bool inOrder) {
    if (request.colors < 0 || request.colors > shape.entries) {
        return DAZ_ERR_COLORS;
    }
    writer.kept = request.colors == 0 ? shape.entries : request.colors;
    writer.request = request;
    writer.shape = shape;
    std::memcpy(writer.palette.data(), shape.palette,
                PALETTE_ENTRY_SIZE * static_cast<std::size_t>(shape.entries));
    writer.shape.palette = writer.palette.data();
    writer.rowSize =
        static_cast<std::size_t>(dazRowSize(shape.width, static_cast<unsigned>(shape.bits)));
    writer.prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(writer.kept);
    writer.hold = !inOrder;
    const std::uint64_t area = std::uint64_t{writer.rowSize} * shape.height;
    OutputPlan plan;
    plan.width = shape.width;
    plan.rows = shape.height;
    plan.bytes = writer.prefixSize + area;
    plan.held = writer.hold ? area : 0;
    return checkPlan(check, plan);
}

int startDazRows(DazRowWriter& writer, const DazOutput& out) {
    const IndexedShape& shape = writer.shape;
    const std::uint64_t area = std::uint64_t{writer.rowSize} * shape.height;
    if (!out.seekable && !writer.hold) {
        if (area > MAX_HELD_ROWS_BYTES) {
            return DAZ_ERR_TOO_BIG_TO_HOLD;
        }
        writer.hold = true;
    }
    writer.out = out;
    writer.perBlock = std::max<std::size_t>(1, BLOCK_BYTES / writer.rowSize);
    writer.block.assign(writer.hold
                            ? static_cast<std::size_t>(area)
                            : std::min<std::size_t>(writer.perBlock, shape.height) * writer.rowSize,
                        0);
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> prefix{};
    DazHeader header;
    header.width = static_cast<std::uint16_t>(shape.width);
    header.height = static_cast<std::uint16_t>(shape.height);
    header.bitsPerPixel = static_cast<std::uint16_t>(shape.bits);
    header.colorCount = static_cast<std::int16_t>(writer.kept);
    header.key = writer.request.key;
    writeDazHeader(header, prefix.data());
    std::memcpy(prefix.data() + DAZ_HEADER_SIZE, writer.palette.data(),
                writer.prefixSize - DAZ_HEADER_SIZE);
    initPixelSink(writer.sink, out.stream, writer.request.key, shape.bits, writer.kept);
    writer.next = 0;
    writer.failed = false;
    return writeBytes(out.stream, prefix.data(), writer.prefixSize);
}

int putDazRow(DazRowWriter& writer, std::uint32_t top, const std::uint8_t* indices) {
    const IndexedShape& shape = writer.shape;
    if (writer.failed || top >= shape.height || (!writer.hold && top != writer.next)) {
        writer.failed = true;
        return DAZ_ERR_ARGUMENT;
    }
    const std::uint32_t stored = shape.height - 1 - top; // rows bottom-up
    std::uint8_t* slot = nullptr;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    if (writer.hold) {
        slot = writer.block.data() + std::size_t{stored} * writer.rowSize;
    } else {
        const auto perBlock = static_cast<std::uint32_t>(writer.perBlock);
        first = top - top % perBlock;
        last =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(first + perBlock, shape.height)) - 1;
        slot = writer.block.data() + std::size_t{last - top} * writer.rowSize;
    }
    if (!packRow(indices, shape, slot, writer.rowSize)) {
        writer.failed = true;
        return DAZ_ERR_ARGUMENT;
    }
    encodeAt(writer.sink, std::uint64_t{stored} * writer.rowSize, slot, writer.rowSize);
    ++writer.next;
    if (writer.hold || top != last) {
        return DAZ_OK;
    }
    // The block's lowest row is in: the block goes to its place.
    const std::size_t bytes = std::size_t{last - first + 1} * writer.rowSize;
    const std::uint64_t at =
        writer.prefixSize + std::uint64_t{shape.height - 1 - last} * writer.rowSize;
    if (seekFile(writer.out.stream, static_cast<std::int64_t>(at)) != 0 ||
        writeBytes(writer.out.stream, writer.block.data(), bytes) != DAZ_OK) {
        writer.failed = true;
        return DAZ_ERR_WRITE;
    }
    return DAZ_OK;
}

int finishDazRows(DazRowWriter& writer, std::uint64_t* undefined) {
    if (writer.failed || writer.next != writer.shape.height) {
        return DAZ_ERR_ARGUMENT;
    }
    if (writer.hold &&
        writeBytes(writer.out.stream, writer.block.data(), writer.block.size()) != DAZ_OK) {
        return DAZ_ERR_WRITE;
    }
    if (!writer.hold) {
        // The file ends after its last stored row: the stream is put there.
        const std::uint64_t end =
            writer.prefixSize + std::uint64_t{writer.rowSize} * writer.shape.height;
        if (seekFile(writer.out.stream, static_cast<std::int64_t>(end)) != 0) {
            return DAZ_ERR_WRITE;
        }
    }
    if (undefined != nullptr) {
        *undefined = writer.sink.undefinedCount;
    }
    return DAZ_OK;
}

} // namespace orvx
