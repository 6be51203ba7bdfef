// histogram.cpp - the image's distinct colours and their counts, in working
// memory bounded by the histogram's size, not the image's.
//
// Colours are counted in an open-addressing table of at most kMaxHistogram
// entries, then sorted by key, so the order is the keys' and the same
// everywhere. The key puts the top 6 bits of each channel first: past
// kMaxHistogram distinct colours the table is dropped and a second pass adds
// the pixels into cells of 6 bits a channel, in key order too.
#include "quantize/quantize_internal.h"

#include <algorithm>
#include <new>

namespace orvx::quantize::detail {
namespace {

constexpr uint32_t kCells = uint32_t{1} << 18U;
constexpr uint32_t kNoKey = 0xFFFFFFFFU;

uint32_t keyOf(uint32_t rgb) {
    const uint32_t r = rgb >> 16 & 0xFF;
    const uint32_t g = rgb >> 8 & 0xFF;
    const uint32_t b = rgb & 0xFF;
    return (r >> 2) << 18 | (g >> 2) << 12 | (b >> 2) << 6 | (r & 3) << 4 | (g & 3) << 2 | (b & 3);
}

Rgb colorOfKey(uint32_t key) {
    const int r = static_cast<int>((key >> 18 & 0x3F) << 2 | (key >> 4 & 3));
    const int g = static_cast<int>((key >> 12 & 0x3F) << 2 | (key >> 2 & 3));
    const int b = static_cast<int>((key >> 6 & 0x3F) << 2 | (key & 3));
    return {r, g, b};
}

struct Slot {
    uint32_t key;
    uint32_t count;
};

// Calls visit(colour) for every pixel that isn't transparent, top row
// first, while it returns true; false when visit stopped.
template <typename Visit> bool forEachColour(const PixelSource& source, Visit visit) {
    for (uint32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        for (uint32_t x = 0; x < source.width(); ++x) {
            const uint32_t c = source.at(row, x);
            if (c != PixelSource::kTransparent && !visit(c)) {
                return false;
            }
        }
    }
    return true;
}

// Slots for up to `entries` distinct colours at most half full.
size_t slotsFor(uint64_t entries) {
    size_t slots = 16;
    while (slots < 2 * entries) {
        slots *= 2;
    }
    return slots;
}

// Counts the exact colours into slots; false once more than maxEntries are
// distinct.
bool countExact(const PixelSource& source, size_t maxEntries, std::vector<Slot>& slots,
                size_t& distinct) {
    const size_t mask = slots.size() - 1;
    // The product's top bits, which every bit of the key reaches.
    int shift = 32;
    for (size_t size = slots.size(); size > 1; size /= 2) {
        --shift;
    }
    distinct = 0;
    uint32_t last = PixelSource::kTransparent;
    Slot* lastSlot = nullptr;
    return forEachColour(source, [&](uint32_t c) {
        if (c == last) {
            ++lastSlot->count;
            return true;
        }
        const uint32_t key = keyOf(c);
        size_t s = (key * 2654435761U) >> static_cast<unsigned>(shift);
        while (slots[s].key != key && slots[s].key != kNoKey) {
            s = (s + 1) & mask;
        }
        if (slots[s].key == kNoKey) {
            if (distinct == maxEntries) {
                return false;
            }
            ++distinct;
            slots[s] = {key, 0};
        }
        ++slots[s].count;
        last = c;
        lastSlot = &slots[s];
        return true;
    });
}

// One cell of 6 bits a channel: its pixels and the sums of their low 2 bits
// of each channel (the top 6 are the cell's own).
struct Cell {
    uint32_t count;
    uint32_t low[3];
};

void countCells(const PixelSource& source, std::vector<Cell>& cells) {
    forEachColour(source, [&](uint32_t c) {
        const uint32_t key = keyOf(c);
        Cell& cell = cells[key >> 6];
        ++cell.count;
        cell.low[0] += key >> 4 & 3;
        cell.low[1] += key >> 2 & 3;
        cell.low[2] += key & 3;
        return true;
    });
}

// The rounded mean of a cell's pixels.
Rgb meanOf(uint32_t cell, const Cell& sums) {
    const Rgb top = colorOfKey(cell << 6);
    const uint64_t n = sums.count;
    const auto channel = [&](int base, uint32_t low) {
        return base + static_cast<int>((uint64_t{low} + n / 2) / n);
    };
    return {channel(top.r, sums.low[0]), channel(top.g, sums.low[1]), channel(top.b, sums.low[2])};
}

} // namespace

uint64_t histogramBytes(uint64_t pixels) {
    const uint64_t exact = std::min<uint64_t>(pixels, kMaxHistogram);
    const uint64_t entries = std::min<uint64_t>(pixels, kCells);
    const uint64_t table = sizeof(Slot) * slotsFor(exact);
    const uint64_t cells = pixels > kMaxHistogram ? sizeof(Cell) * uint64_t{kCells} : 0;
    // The table and the cells are never held together; the result is held
    // beside either.
    return std::max(table, cells) + sizeof(HistEntry) * entries;
}

bool buildHistogram(const PixelSource& source, std::vector<HistEntry>& out) {
    out.clear();
    try {
        const uint64_t pixels = uint64_t{source.width()} * source.height();
        {
            std::vector<Slot> slots(slotsFor(std::min<uint64_t>(pixels, kMaxHistogram)),
                                    Slot{kNoKey, 0});
            size_t distinct = 0;
            if (countExact(source, kMaxHistogram, slots, distinct)) {
                const auto used = std::remove_if(slots.begin(), slots.end(),
                                                 [](const Slot& s) { return s.key == kNoKey; });
                std::sort(slots.begin(), used,
                          [](const Slot& a, const Slot& b) { return a.key < b.key; });
                out.reserve(distinct);
                for (auto s = slots.begin(); s != used; ++s) {
                    out.push_back(HistEntry{colorOfKey(s->key), s->count});
                }
                return true;
            }
        }
        std::vector<Cell> cells(kCells, Cell{0, {0, 0, 0}});
        countCells(source, cells);
        const auto filled = static_cast<size_t>(
            std::count_if(cells.begin(), cells.end(), [](const Cell& c) { return c.count > 0; }));
        out.reserve(filled);
        for (uint32_t i = 0; i < kCells; ++i) {
            if (cells[i].count > 0) {
                out.push_back(HistEntry{meanOf(i, cells[i]), cells[i].count});
            }
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

} // namespace orvx::quantize::detail
