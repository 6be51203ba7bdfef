// daz_image_plugin.cpp - the daz QImageIOHandler on libdaz's stream decoder
// and encoder: a row at a time, each decoded straight into the image.
#include "daz_image_plugin.h"

#include <daz/daz.h>

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QLoggingCategory>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// The plugin's messages, which a program can turn off or on by this name
// (QT_LOGGING_RULES="daz.warning=false").
Q_LOGGING_CATEGORY(lcDaz, "daz")

constexpr int PREFIX_MAX = DAZ_HEADER_SIZE + DAZ_PALETTE_BYTES;
constexpr qsizetype PREFAULT_BLOCK = qsizetype{1} << 22;

extern "C" int readDevice(void* user, void* buffer, size_t size, size_t* got) {
    const qint64 count =
        static_cast<QIODevice*>(user)->read(static_cast<char*>(buffer), static_cast<qint64>(size));
    if (count < 0) {
        return -1;
    }
    *got = static_cast<size_t>(count);
    return 0;
}

extern "C" int writeDevice(void* user, const void* data, size_t size) {
    const auto count = static_cast<qint64>(size);
    return static_cast<QIODevice*>(user)->write(static_cast<const char*>(data), count) == count
               ? 0
               : -1;
}

// Whether the page holding bytes is present already, as in memory reused
// from an earlier image of the process (glibc's malloc keeps freed blocks
// below its mapping threshold, up to 32 MiB, for the next): making such
// pages present again walks their page tables for nothing, a tenth of the
// load on the machine measured.
#ifdef MADV_POPULATE_WRITE
bool present(const uchar* bytes) {
    const auto page = static_cast<quintptr>(std::max(sysconf(_SC_PAGESIZE), 1L));
    const quintptr start = reinterpret_cast<quintptr>(bytes) / page * page;
    unsigned char resident = 0;
    return mincore(reinterpret_cast<void*>(start), 1, &resident) == 0 && (resident & 1) != 0;
}
#endif

// Makes the pages of image bytes [offset, offset + 4 MiB) present in one
// call, ahead of the rows that fill them: a page fault apiece cost as much
// as decoding the rows on the machines measured. Where the system can't,
// the pages come as they are written. Pages present already are left: a
// page in the block's middle tells (its first and last may share a page
// with malloc's record of the block or with the rows of the block before).
void prefault(uchar* bytes, qsizetype size, qsizetype offset) {
#ifdef MADV_POPULATE_WRITE
    if (present(bytes + std::min(size - 1, offset + PREFAULT_BLOCK / 2))) {
        return;
    }
    const auto page = static_cast<quintptr>(std::max(sysconf(_SC_PAGESIZE), 1L));
    const auto base = reinterpret_cast<quintptr>(bytes);
    const quintptr start = (base + static_cast<quintptr>(offset) + page - 1) / page * page;
    const quintptr end =
        (base + static_cast<quintptr>(std::min(size, offset + PREFAULT_BLOCK))) / page * page;
    if (end > start) {
        (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
    }
#else
    (void)bytes;
    (void)size;
    (void)offset;
#endif
}

// The rows' bytes for libdaz's decoder, read from the device in chunks of
// CHUNK bytes: Qt's own buffer of 16 KiB would take a read call and a copy
// each. The header goes straight through, as asked; the rows only as far
// as left, so the device is never read past the image's last row.
struct ChunkedInput {
    static constexpr qint64 CHUNK = qint64{1} << 18;
    QIODevice* device = nullptr;
    bool chunked = false; // from the first row on
    qint64 left = 0;      // bytes of the rows not yet read from the device
    std::unique_ptr<char[]> chunk;
    size_t begin = 0; // chunk[begin, end) not yet handed on
    size_t end = 0;
};

extern "C" int readChunked(void* user, void* buffer, size_t size, size_t* got) {
    auto& input = *static_cast<ChunkedInput*>(user);
    if (!input.chunked) {
        return readDevice(input.device, buffer, size, got);
    }
    if (input.begin == input.end && input.left > 0) {
        const qint64 count = input.device->read(input.chunk.get(),
                                                std::min<qint64>(input.left, ChunkedInput::CHUNK));
        if (count < 0) {
            return -1;
        }
        input.left -= count;
        input.begin = 0;
        input.end = static_cast<size_t>(count);
    }
    *got = std::min(size, input.end - input.begin);
    std::copy_n(input.chunk.get() + input.begin, *got, static_cast<char*>(buffer));
    input.begin += *got;
    return 0;
}

using Decoder = std::unique_ptr<daz_decoder, decltype(&daz_decoder_destroy)>;

bool fail(const char* what) {
    qCWarning(lcDaz, "%s", what);
    return false;
}

// The rows present when the input holds available bytes from the header on:
// all |height| of them, or the whole rows of a file cut short.
int rowsPresent(const daz_info& info, qint64 available, quint32& rows) {
    return daz_rows_present(&info, static_cast<quint64>(std::max<qint64>(available, 0)), &rows);
}

QString keyText(quint16 key) {
    char text[DAZ_KEY_TEXT_SIZE];
    (void)daz_key_to_text(key, text, sizeof text);
    return QString::fromLatin1(text);
}

// A 16-bit key in hexadecimal as libdaz reads one; Qt's blanks around it
// (Unicode's too) are trimmed first.
bool parseKey(const QString& text, quint16& key) {
    return daz_key_from_text(text.trimmed().toUtf8().constData(), &key) == DAZ_OK;
}

// An image of indices with a colour table: Indexed8 as it is, Mono through
// Qt, any other format by its colours in order of first appearance, or a
// null image when it has more than 256.
QImage indexedImage(const QImage& image) {
    if (image.format() == QImage::Format_Indexed8) {
        return image;
    }
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) {
        return image.convertToFormat(QImage::Format_Indexed8);
    }
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QImage indexed(rgb.size(), QImage::Format_Indexed8);
    QHash<QRgb, int> indices;
    QVector<QRgb> table;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb colour = in[x]; // 0xffRRGGBB
            auto found = indices.constFind(colour);
            if (found == indices.constEnd()) {
                if (table.size() == DAZ_MAX_PALETTE) {
                    return {};
                }
                found = indices.insert(colour, static_cast<int>(table.size()));
                table.append(colour);
            }
            out[x] = static_cast<uchar>(found.value());
        }
    }
    indexed.setColorTable(table);
    return indexed;
}

// The image of more than 256 colours reduced by libdaz to at most colors
// (its pixels as red, green, blue and alpha, composited over black), as an
// Indexed8 image of the palette made; a null image when the library refuses.
QImage reducedImage(const QImage& image, int colors, bool dither) {
    daz_limits limits;
    daz_default_limits(&limits);
    if (static_cast<quint64>(image.width()) * static_cast<quint64>(image.height()) >
        limits.max_pixels) {
        qCWarning(lcDaz, "%s", daz_strerror(DAZ_ERR_LIMITS));
        return {};
    }
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    const auto width = static_cast<uint32_t>(rgba.width());
    const auto height = static_cast<uint32_t>(rgba.height());
    daz_quantize_options options;
    daz_default_quantize_options(&options);
    options.colors = colors;
    options.dither = dither ? DAZ_DITHER_DIFFUSION : DAZ_DITHER_NONE;
    uint8_t palette[DAZ_PALETTE_BYTES];
    int entries = 0;
    std::vector<uchar> indices(static_cast<size_t>(width) * height);
    const int status =
        daz_quantize(rgba.constBits(), static_cast<size_t>(rgba.bytesPerLine()), width, height,
                     nullptr, &options, palette, &entries, indices.data(), indices.size());
    if (status != DAZ_OK) {
        qCWarning(lcDaz, "%s", daz_strerror(status));
        return {};
    }
    QImage indexed(rgba.size(), QImage::Format_Indexed8);
    for (uint32_t y = 0; y < height; ++y) {
        std::copy_n(&indices[static_cast<size_t>(y) * width], width,
                    indexed.scanLine(static_cast<int>(y)));
    }
    QVector<QRgb> table;
    for (int entry = 0; entry < entries; ++entry) {
        table.append(qRgb(palette[4 * entry], palette[4 * entry + 1], palette[4 * entry + 2]));
    }
    indexed.setColorTable(table);
    return indexed;
}

// A pipe or socket, read whole as far as the image its header describes
// and no further, once the header is within libdaz's limits: the bytes
// after the rows are never read, and a header past the limits is refused.
bool readSequential(QIODevice* device, QByteArray& whole) {
    whole = device->read(PREFIX_MAX);
    QBuffer prefix(&whole);
    prefix.open(QIODevice::ReadOnly);
    daz_decoder* made = nullptr;
    daz_info info;
    const int status = daz_decoder_create(readDevice, &prefix, nullptr, &made, &info);
    if (status != DAZ_OK) {
        return fail(daz_strerror(status));
    }
    daz_decoder_destroy(made);
    const auto needed = static_cast<qint64>(info.pixel_offset + quint64{info.row_size} * info.rows);
    while (whole.size() < needed) {
        const QByteArray more =
            device->read(std::min<qint64>(needed - whole.size(), PREFAULT_BLOCK));
        if (more.isEmpty()) {
            break;
        }
        whole += more;
    }
    return true;
}

} // namespace

bool DazHandler::canRead(QIODevice* device) {
    if (device == nullptr) {
        return false;
    }
    const QByteArray head = device->peek(DAZ_GUESS_BYTES);
    return daz_guess_format(head.constData(), static_cast<size_t>(head.size())) == DAZ_FORMAT_DAZ;
}

bool DazHandler::canRead() const {
    if (canRead(device())) {
        setFormat("daz");
        return true;
    }
    return false;
}

bool DazHandler::read(QImage* image) {
    // A pipe or socket is read whole first: its size tells the rows present.
    QIODevice* source = device();
    QByteArray whole;
    QBuffer buffer(&whole);
    if (source->isSequential() && !readSequential(source, whole)) {
        return false;
    }
    if (source->isSequential()) {
        buffer.open(QIODevice::ReadOnly);
        source = &buffer;
    }
    const qint64 available = source->size() - source->pos();
    ChunkedInput input;
    input.device = source;
    daz_decoder* made = nullptr;
    daz_info info;
    int status = daz_decoder_create(readChunked, &input, nullptr, &made, &info);
    if (status != DAZ_OK) {
        return fail(daz_strerror(status));
    }
    const Decoder decoder(made, daz_decoder_destroy);
    const quint32 stored = info.rows;
    status = rowsPresent(info, available, info.rows);
    if (status != DAZ_OK) {
        return fail(daz_strerror(status));
    }
    status = daz_decoded_size(&info, nullptr, nullptr, nullptr);
    if (status != DAZ_OK) {
        return fail(daz_strerror(status));
    }
    // A buffer's bytes (a pipe's, read whole above) are in memory already.
    input.chunked = !source->inherits("QBuffer");
    if (input.chunked) {
        input.left = static_cast<qint64>(quint64{info.row_size} * info.rows);
        const auto chunk = static_cast<size_t>(std::min(input.left, ChunkedInput::CHUNK));
        input.chunk.reset(new (std::nothrow) char[chunk]);
        if (!input.chunk) {
            return fail(daz_strerror(DAZ_ERR_MEMORY));
        }
    }
    const QSize size(static_cast<int>(info.width), static_cast<int>(info.rows));
    QImage out;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    if (!QImageIOHandler::allocateImage(size, QImage::Format_Indexed8, &out)) {
        return fail("image past Qt's allocation limit");
    }
#else
    out = QImage(size, QImage::Format_Indexed8);
    if (out.isNull()) {
        return fail(daz_strerror(DAZ_ERR_MEMORY));
    }
#endif
    // Rows come in stored order: bottom row first for a positive height. A
    // file cut short holds the rows stored first.
    const bool topDown = info.height < 0;
    const bool checkIndices = info.colors < (1 << info.bits);
    uchar highest = 0;
    uchar* const bytes = out.bits();
    const auto bytesPerLine = static_cast<qsizetype>(out.bytesPerLine());
    const qsizetype total = bytesPerLine * out.height();
    qsizetype prefaulted = -1; // the block made present last
    for (quint32 k = 0; k < info.rows; ++k) {
        const quint32 y = topDown ? k : info.rows - 1 - k;
        uchar* row = bytes + static_cast<qsizetype>(y) * bytesPerLine;
        const qsizetype block = static_cast<qsizetype>(y) * bytesPerLine / PREFAULT_BLOCK;
        if (total >= 2 * PREFAULT_BLOCK && block != prefaulted) {
            prefault(bytes, total, block * PREFAULT_BLOCK);
            prefaulted = block;
        }
        quint32 index = 0;
        status = daz_decoder_read_row(decoder.get(), row, info.width, &index);
        if (status != DAZ_OK) {
            return fail(daz_strerror(status));
        }
        if (index != (topDown ? k : stored - 1 - k)) {
            return fail("row out of place");
        }
        if (checkIndices) {
            for (quint32 x = 0; x < info.width; ++x) {
                highest = std::max(highest, row[x]);
            }
        }
    }
    // The palette, then the undefined colour as far as the indices reach.
    uint8_t palette[DAZ_PALETTE_BYTES];
    int entries = 0;
    status = daz_display_palette(&info, highest, palette, &entries);
    if (status != DAZ_OK) {
        return fail(daz_strerror(status));
    }
    QVector<QRgb> table(entries);
    for (int entry = 0; entry < entries; ++entry) {
        const uint8_t* colour = palette + 4 * entry;
        table[entry] = qRgb(colour[0], colour[1], colour[2]);
    }
    out.setColorTable(table);
    out.setText(QStringLiteral("key"), keyText(info.key));
    out.setText(QStringLiteral("colors"), QString::number(info.colors));
    *image = out;
    return true;
}

bool DazHandler::write(const QImage& image) {
    if (image.width() > DAZ_MAX_WIDTH || image.height() > DAZ_MAX_ROWS) {
        return fail("the image is past 65535 x 32768 pixels");
    }
    // The writer's texts first, then the image's own: the colour count only
    // for an image that came with its colour table.
    const bool ownTable = image.format() == QImage::Format_Indexed8 ||
                          image.format() == QImage::Format_Mono ||
                          image.format() == QImage::Format_MonoLSB;
    const auto text = [&](const QString& name) {
        if (writerTexts_.contains(name)) {
            return writerTexts_.value(name);
        }
        return name == QLatin1String("colors") && !ownTable ? QString() : image.text(name);
    };
    const QString colorsGiven = text(QStringLiteral("colors"));
    QImage indexed = indexedImage(image);
    const bool reduced = indexed.isNull();
    if (reduced) {
        // More than 256 colours: the colour count, if given, is the one to
        // reduce to.
        bool ok = true;
        const int colors = colorsGiven.isEmpty() ? DAZ_MAX_PALETTE : colorsGiven.toInt(&ok);
        if (!ok) {
            return fail("the colour count is not a number");
        }
        indexed = reducedImage(image, colors, subType_ == "dithered");
        if (indexed.isNull()) {
            return false;
        }
    }
    const QVector<QRgb> table = indexed.colorTable();
    const int entries = static_cast<int>(table.size());
    if (entries < 1 || entries > DAZ_MAX_PALETTE) {
        return fail("the image's colour table has no entries, or more than 256");
    }
    quint16 key = 0;
    const QString keyGiven = text(QStringLiteral("key"));
    if (!keyGiven.isEmpty() && !parseKey(keyGiven, key)) {
        return fail("the key is not a 16-bit hexadecimal number");
    }
    int kept = 0;
    if (!colorsGiven.isEmpty() && !reduced) {
        bool ok = false;
        kept = colorsGiven.trimmed().toInt(&ok);
        if (!ok || kept < 0 || kept > entries) {
            return fail("the colour count is not a number from 0 to the colour table's size");
        }
    }
    const int width = indexed.width();
    const int rows = indexed.height();
    // The highest index matters only to a table that fits in 4 bits.
    int highest = -1;
    for (int y = 0; y < rows && width > 0 && entries <= 16 && highest < 16; ++y) {
        const uchar* row = indexed.constScanLine(y);
        highest = std::max<int>(highest, *std::max_element(row, row + width));
    }
    int bits = 8;
    int status = daz_bits_for(entries, highest, &bits);
    if (status != DAZ_OK) {
        return fail(daz_strerror(status));
    }
    uint8_t palette[DAZ_PALETTE_BYTES] = {};
    for (int entry = 0; entry < entries; ++entry) {
        palette[4 * entry] = static_cast<uint8_t>(qRed(table[entry]));
        palette[4 * entry + 1] = static_cast<uint8_t>(qGreen(table[entry]));
        palette[4 * entry + 2] = static_cast<uint8_t>(qBlue(table[entry]));
    }
    // Rows bottom-up, as orvx -c and pngdaz write them; only the tallest
    // image the format holds is stored top-down, its height -32768.
    const bool topDown = rows == DAZ_MAX_ROWS;
    daz_encoder* encoder = nullptr;
    status =
        daz_encoder_create(writeDevice, device(), static_cast<uint32_t>(width),
                           topDown ? -rows : rows, bits, palette, entries, kept, key, &encoder);
    for (int k = 0; k < rows && status == DAZ_OK; ++k) {
        status = daz_encoder_write_row(encoder, indexed.constScanLine(topDown ? k : rows - 1 - k),
                                       static_cast<size_t>(width));
    }
    if (status == DAZ_OK) {
        status = daz_encoder_finish(encoder, nullptr);
    }
    daz_encoder_destroy(encoder);
    return status == DAZ_OK || fail(daz_strerror(status));
}

bool DazHandler::peekHeader() const {
    if (!peeked_ && device() != nullptr) {
        peeked_ = true;
        QByteArray head = device()->peek(PREFIX_MAX);
        QBuffer buffer(&head);
        buffer.open(QIODevice::ReadOnly);
        daz_decoder* decoder = nullptr;
        daz_info info;
        if (daz_decoder_create(readDevice, &buffer, nullptr, &decoder, &info) == DAZ_OK) {
            daz_decoder_destroy(decoder);
            quint32 rows = info.rows;
            if (!device()->isSequential() &&
                rowsPresent(info, device()->size() - device()->pos(), rows) != DAZ_OK) {
                rows = 0;
            }
            size_ = QSize(static_cast<int>(info.width), static_cast<int>(rows));
            description_ =
                QStringLiteral("key: %1\n\ncolors: %2").arg(keyText(info.key)).arg(info.colors);
            peekedOk_ = true;
        }
    }
    return peekedOk_;
}

QVariant DazHandler::option(ImageOption option) const {
    switch (option) {
    case ImageFormat:
        return static_cast<int>(QImage::Format_Indexed8);
    case Size:
        return peekHeader() ? QVariant(size_) : QVariant();
    case Description:
        return peekHeader() ? QVariant(description_) : QVariant();
    case SubType:
        return subType_.isEmpty() ? QByteArray("nearest") : subType_;
    case SupportedSubTypes:
        return QVariant::fromValue(QList<QByteArray>{"nearest", "dithered"});
    default:
        return {};
    }
}

// QImageWriter::setText's pairs, as it joins them: "key: text", blank lines
// between; and QImageWriter::setSubType's "dithered" or "nearest".
void DazHandler::setOption(ImageOption option, const QVariant& value) {
    if (option == SubType) {
        subType_ = value.toByteArray().toLower();
        return;
    }
    if (option != Description) {
        return;
    }
    writerTexts_.clear();
    const QStringList pairs = value.toString().split(QStringLiteral("\n\n"));
    for (const QString& pair : pairs) {
        const auto colon = pair.indexOf(QLatin1Char(':'));
        if (colon > 0) {
            writerTexts_.insert(pair.left(colon).trimmed(), pair.mid(colon + 1).trimmed());
        }
    }
}

bool DazHandler::supportsOption(ImageOption option) const {
    return option == ImageFormat || option == Size || option == Description || option == SubType ||
           option == SupportedSubTypes;
}

QImageIOPlugin::Capabilities DazPlugin::capabilities(QIODevice* device,
                                                     const QByteArray& format) const {
    if (format == "daz") {
        return CanRead | CanWrite;
    }
    if (!format.isEmpty() || device == nullptr || !device->isOpen()) {
        return {};
    }
    Capabilities capabilities;
    if (device->isReadable() && DazHandler::canRead(device)) {
        capabilities |= CanRead;
    }
    return capabilities;
}

QImageIOHandler* DazPlugin::create(QIODevice* device, const QByteArray& format) const {
    auto* handler = new DazHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("daz") : format);
    return handler;
}
