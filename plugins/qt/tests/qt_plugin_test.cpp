// qt_plugin_test.cpp - the daz plugin as Qt programs use it, found on
// QT_PLUGIN_PATH only: QImageReader against daz_decode (indices, palette,
// undefined colour, texts) on files, files cut short, a pipe and hostile
// input; QImageWriter against pngdaz's bytes for the same indexed PNG, and
// for an image of more than 256 colours against rgbdaz's for its PNG.
//   qt6-daz-test SOURCE_DIR PNGDAZ RGBDAZ
#include <daz/daz.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int failures = 0;
QString warnings; // the plugin's qWarning texts

void check(bool condition, const QString& what) {
    if (!condition) {
        ++failures;
        std::printf("FAIL: %s\n", qPrintable(what));
    }
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A libdaz call that fills a buffer it sizes first: call(out, capacity, &written).
template <typename Call> QByteArray filled(Call call) {
    size_t size = 0;
    call(nullptr, 0, &size);
    QByteArray out(static_cast<int>(size), '\0');
    return call(out.data(), size, &size) == DAZ_OK ? out : QByteArray();
}

QVector<QRgb> ramp(int entries) {
    QVector<QRgb> table;
    for (int entry = 0; entry < entries; ++entry) {
        table.append(qRgb(entry, 255 - entry, entry * 7 % 256));
    }
    return table;
}

std::vector<quint8> pattern(size_t count, unsigned modulo) {
    std::vector<quint8> values(count);
    for (size_t i = 0; i < count; ++i) {
        values[i] = static_cast<quint8>(i * 7 % modulo);
    }
    return values;
}

QByteArray encode(quint32 width, qint32 height, int bits, const QVector<QRgb>& table, int kept,
                  quint16 key, const std::vector<quint8>& indices) {
    std::vector<quint8> palette;
    for (const QRgb colour : table) {
        palette.insert(palette.end(),
                       {quint8(qRed(colour)), quint8(qGreen(colour)), quint8(qBlue(colour)), 0});
    }
    return filled([&](void* out, size_t capacity, size_t* written) {
        return daz_encode(indices.data(), width, width, height, bits, palette.data(),
                          int(table.size()), kept, key, out, capacity, written, nullptr);
    });
}

// The image holds the indices daz_decode gives, the palette then the
// undefined colour as far as the indices reach, and the texts key and
// colors; or, where daz_decode refuses the file, is null.
void checkImage(const QImage& image, const QByteArray& daz, const QString& name) {
    daz_info info;
    size_t size = 0;
    std::vector<quint8> indices;
    const auto bytes = size_t(daz.size());
    if (daz_inspect(daz.constData(), bytes, &info) != DAZ_OK ||
        daz_decoded_size(&info, nullptr, &size, nullptr) != DAZ_OK ||
        (indices.resize(size),
         daz_decode(daz.constData(), bytes, nullptr, nullptr, nullptr, indices.data(), size))) {
        return check(image.isNull(), name + ": not refused");
    }
    if (image.format() != QImage::Format_Indexed8 ||
        image.size() != QSize(int(info.width), int(info.rows))) {
        return check(false, name + ": format or size");
    }
    const auto highest = *std::max_element(indices.begin(), indices.end());
    QVector<QRgb> table(std::max(info.colors, highest + 1),
                        qRgb(DAZ_UNDEFINED_RED, DAZ_UNDEFINED_GREEN, DAZ_UNDEFINED_BLUE));
    for (int entry = 0; entry < info.colors; ++entry) {
        table[entry] =
            qRgb(info.palette[4 * entry], info.palette[4 * entry + 1], info.palette[4 * entry + 2]);
    }
    for (quint32 y = 0; y < info.rows; ++y) {
        check(std::memcmp(image.constScanLine(int(y)), &indices[y * info.width], info.width) == 0,
              name + QStringLiteral(": row %1").arg(y));
    }
    check(image.colorTable() == table, name + ": colour table");
    check(image.text("key") == QString::asprintf("%04x", info.key) &&
              image.text("colors") == QString::number(info.colors),
          name + ": texts");
}

// A pipe whose bytes come only as they are read: no size, no seeking; then,
// as a stream that doesn't end would, tail zero bytes.
class Pipe : public QIODevice {
  public:
    explicit Pipe(const QByteArray& bytes, qint64 tail = 0) : bytes_(bytes), tail_(tail) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered); // taken() counts what Qt asked
    }
    bool isSequential() const override { return true; }
    qint64 taken() const { return offset_; } // the bytes read from it

  protected:
    qint64 readData(char* data, qint64 size) override {
        const qint64 count = std::min<qint64>(size, bytes_.size() + tail_ - offset_);
        const qint64 head = std::clamp<qint64>(bytes_.size() - offset_, 0, count);
        if (head > 0) {
            std::memcpy(data, bytes_.constData() + offset_, size_t(head));
        }
        std::memset(data + head, 0, size_t(count - head));
        offset_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray bytes_;
    qint64 tail_;
    qint64 offset_ = 0;
};

// The file with rows whole rows of pixels and half of the next.
QByteArray cut(const QByteArray& daz, quint32 rows) {
    daz_info info;
    daz_inspect(daz.constData(), size_t(daz.size()), &info);
    return daz.left(int(info.pixel_offset + info.row_size * rows + info.row_size / 2));
}

QByteArray header(quint16 width, qint16 height, quint16 bits, qint16 colors, int rest) {
    QByteArray bytes("EW\x01\x00", 4);
    for (const auto field : {width, quint16(height), bits, quint16(colors), quint16{0}}) {
        bytes.append(char(field & 0xff)).append(char(field >> 8));
    }
    return bytes + QByteArray(rest, '\0');
}

QByteArray written(const QImage& image, const QMap<QString, QString>& texts = {},
                   const QByteArray& subType = {}) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "daz");
    writer.setSubType(subType);
    for (auto text = texts.begin(); text != texts.end(); ++text) {
        writer.setText(text.key(), text.value());
    }
    return writer.write(image) ? buffer.data() : QByteArray();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setLibraryPaths({qEnvironmentVariable("QT_PLUGIN_PATH")}); // no other
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& text) {
        warnings += QString::fromLatin1(context.category) + ": " + text; // "daz: ..."
    });
    QTemporaryDir work;
    check(QImageReader::supportedMimeTypes().contains("image/x-daz"), "image/x-daz unknown");

    // Reading: name | daz bytes
    const QByteArray most = encode(96, 64, 8, ramp(256), 200, 0x1f2e, pattern(96 * 64, 256));
    const std::vector<std::pair<QString, QByteArray>> reads = {
        {"200 of 256 colours, bottom-up", most},
        {"4 bits, odd width, top-down, indices past 5 colours",
         encode(7, -5, 4, ramp(16), 5, 0xbeef, pattern(35, 16))},
        {"4099 x 2100, several blocks, bytes after the rows",
         encode(4099, 2100, 8, ramp(256), 0, 0xabcd, pattern(4099 * 2100, 251)) + "xyz"},
        {"4 bits, 1001 x 1200, rows across reads",
         encode(1001, 1200, 4, ramp(16), 0, 0x1234, pattern(1001 * 1200, 16))},
        {"bottom-up, cut short after 10 rows", cut(most, 10)},
        {"top-down, cut short after 2 rows",
         cut(encode(9, -4, 8, ramp(9), 0, 7, pattern(36, 9)), 2)},
    };
    for (const auto& [name, daz] : reads) {
        QFile file(work.filePath("case")); // no name to go by
        file.open(QIODevice::WriteOnly) && file.write(daz) && file.flush();
        QImageReader reader(file.fileName());
        check(reader.format() == "daz" && reader.size() == QImage::fromData(daz).size() &&
                  reader.text("key") == QImage::fromData(daz).text("key"),
              name + ": format, size and texts before reading");
        checkImage(reader.read(), daz, name);
        // From an open file, the image after 5 other bytes: read as far as
        // the last whole row, no further.
        daz_info info;
        daz_inspect(daz.constData(), size_t(daz.size()), &info);
        file.close();
        file.open(QIODevice::WriteOnly) && file.write("12345" + daz);
        file.close();
        file.open(QIODevice::ReadOnly) && file.seek(5);
        checkImage(QImageReader(&file, "daz").read(), daz, name + ", from an open file");
        check(file.pos() == qint64(5 + info.pixel_offset + quint64{info.row_size} * info.rows),
              name + QStringLiteral(", from an open file: read to %1").arg(file.pos()));
        file.close();
        Pipe pipe(daz);
        checkImage(QImageReader(&pipe, "daz").read(), daz, name + ", from a pipe");
    }

    // A stream that doesn't end (64 MiB here) is read only as far as the image
    // its header describes, and not at all past a header beyond libdaz's
    // limits: name | daz bytes | bytes it may take
    const std::vector<std::tuple<QString, QByteArray, qint64>> endless = {
        {"96 x 64", most, most.size()},
        {"65535 x 32767 claimed", header(65535, 32767, 8, 1, 20),
         DAZ_HEADER_SIZE + DAZ_PALETTE_BYTES},
    };
    for (const auto& [name, daz, bound] : endless) {
        Pipe pipe(daz, qint64{1} << 26);
        checkImage(QImageReader(&pipe, "daz").read(), daz, name + ", endless");
        check(pipe.taken() <= bound,
              name + QStringLiteral(", endless: %1 bytes read").arg(pipe.taken()));
    }

    // Hostile input, the daz handler chosen whatever the content.
    std::vector<std::pair<QString, QByteArray>> hostile = {
        {"65535 x 32767 claimed", header(65535, 32767, 8, 1, 20)},
        {"16384 x -16384 claimed, one row", header(16384, -16384, 8, 1, 14 + 16384)},
        {"17 colours at 4 bits", header(4, 4, 4, 17, 120)},
        {"width 0", header(0, 4, 8, 1, 40)},
    };
    const QDir regressions(QString::fromLocal8Bit(argv[1]) + "/fuzz/regressions");
    for (const QString& folder : regressions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QFileInfo& entry :
             QDir(regressions.filePath(folder)).entryInfoList(QDir::Files)) {
            hostile.emplace_back(folder + "/" + entry.fileName(), fileBytes(entry.filePath()));
        }
    }
    // (Qt 6 may hand content its daz handler can't read to another plugin,
    // Qt's GIF reader for the GIF regressions, when it detects formats.)
    for (const auto& [name, bytes] : hostile) {
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, "daz");
        reader.setAutoDetectImageFormat(false);
        checkImage(reader.read(), bytes, name);
    }

    // An indexed PNG (dazpng's of a daz file) written by Qt gives pngdaz's
    // bytes for it: name | daz of the PNG | colors | key. (Qt's PNG reader
    // drops indices past the PLTE, which pngdaz keeps: none here.)
    const std::vector<std::tuple<QString, QByteArray, QString, QString>> pngs = {
        {"8 bits, 256 colours, 200 kept", encode(33, 9, 8, ramp(256), 0, 0, pattern(297, 256)),
         "200", "1f2e"},
        {"8 bits, 20 colours", encode(5, 5, 8, ramp(20), 0, 0, pattern(25, 20)), "0", "0x00ff"},
        {"4 bits, odd width, 11 colours, 10 kept", encode(7, 3, 4, ramp(11), 0, 0, pattern(21, 11)),
         "10", "FFFF"},
    };
    for (const auto& [name, daz, colors, key] : pngs) {
        const QString png = work.filePath("in.png"), reference = work.filePath("reference.daz");
        QFile file(png);
        file.open(QIODevice::WriteOnly) &&
            file.write(filled([&](void* out, size_t size, size_t* n) {
                return daz_export(daz.constData(), size_t(daz.size()), nullptr, DAZ_FORMAT_PNG, out,
                                  size, n);
            })) &&
            file.flush();
        QProcess pngdaz;
        pngdaz.setStandardOutputFile(QProcess::nullDevice());
        pngdaz.start(QString::fromLocal8Bit(argv[2]), {png, reference, colors, key});
        check(pngdaz.waitForFinished(-1) && pngdaz.exitCode() == 0, name + ": pngdaz");
        const QByteArray bytes = written(QImage(png), {{"key", key}, {"colors", colors}});
        check(!bytes.isEmpty() && bytes == fileBytes(reference), name + warnings);
    }

    // Other images: name | image | the daz file it must give
    QImage mono(9, 2, QImage::Format_Mono), rgb(3, 2, QImage::Format_RGB32),
        tallest(1, DAZ_MAX_ROWS, QImage::Format_Indexed8);
    mono.setColorTable({qRgb(1, 2, 3), qRgb(250, 251, 252)});
    tallest.setColorTable(ramp(2));
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(255, 0, 0),
                            qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(7, 7, 7)};
    const std::vector<quint8> alternate = pattern(DAZ_MAX_ROWS, 2);
    for (int i = 0; i < DAZ_MAX_ROWS; ++i) {
        mono.setPixel(i % 9, i / 9 % 2, alternate[size_t(i % 18)]);
        rgb.setPixel(i % 3, i / 3 % 2, colours[i % 6]);
        tallest.setPixel(0, i, alternate[size_t(i)]);
    }
    const std::vector<std::tuple<QString, QImage, QByteArray>> others = {
        {"Mono", mono, encode(9, 2, 4, mono.colorTable(), 0, 0, pattern(18, 2))},
        {"RGB32 of 4 colours, in order of appearance", rgb,
         encode(3, 2, 4, {colours[0], colours[1], colours[3], colours[5]}, 0, 0,
                {0, 1, 0, 2, 1, 3})},
        {"32768 rows, stored top-down", tallest,
         encode(1, -DAZ_MAX_ROWS, 4, ramp(2), 0, 0, alternate)},
    };
    for (const auto& [name, image, daz] : others) {
        check(!daz.isEmpty() && written(image) == daz, name + ": not the expected bytes");
    }

    // Texts: read and written again, the same bytes (key and colour count
    // kept); the writer's texts win over the image's; others are refused.
    const QImage read = QImage::fromData(most, "daz");
    check(written(read) == most, "read and written again: not the same bytes");
    for (const QString key : {"0x00ff", "+0XFF", "ff"}) {
        check(written(read, {{"key", key}}).mid(10, 4) == QByteArray("\xc8\0\xff\0", 4),
              "the writer's key " + key);
    }
    // (Keys are read by daz_key_from_text: Qt's own number parse also took
    // "0x0x1" and "0x+1".)
    for (const auto& [text, value] : std::vector<std::pair<QString, QString>>{{"key", "1ffff"},
                                                                              {"key", "chiave"},
                                                                              {"key", "0x0x1"},
                                                                              {"key", "0x+1"},
                                                                              {"colors", "257"},
                                                                              {"colors", "-1"}}) {
        check(written(read, {{text, value}}).isEmpty(), text + " " + value + ": written");
    }

    // More than 256 colours: reduced as rgbdaz reduces the image's PNG.
    // name | image | sub-type | colors text | rgbdaz's options
    QImage many(17, 16, QImage::Format_RGB32), faded(40, 30, QImage::Format_ARGB32);
    for (int i = 0; i < 17 * 16; ++i) {
        many.setPixel(i % 17, i / 17, qRgb(i % 256, i / 256, 0)); // 272 colours
    }
    for (int i = 0; i < 40 * 30; ++i) {
        faded.setPixel(i % 40, i / 40, qRgba(i % 40 * 6, i / 40 * 8, i % 7 * 30, i / 40 * 8));
    }
    const std::vector<std::tuple<QString, QImage, QByteArray, QString, QStringList>> photos = {
        {"272 colours to 256", many, "", "", {"0", "0"}},
        {"272 colours to 16, dithered", many, "dithered", "16", {"-d", "16", "0"}},
        {"alpha over black, to 40", faded, "nearest", "40", {"40", "0"}},
    };
    for (const auto& [name, image, subType, colors, options] : photos) {
        const QString png = work.filePath("photo.png"), reference = work.filePath("photo.daz");
        check(image.save(png, "PNG"), name + ": PNG not saved");
        QStringList arguments = options;
        arguments.insert(arguments.size() - 2, png);
        arguments.insert(arguments.size() - 2, reference);
        QProcess rgbdaz;
        rgbdaz.setStandardOutputFile(QProcess::nullDevice());
        rgbdaz.start(QString::fromLocal8Bit(argv[3]), arguments);
        check(rgbdaz.waitForFinished(-1) && rgbdaz.exitCode() == 0, name + ": rgbdaz");
        const QMap<QString, QString> texts = colors.isEmpty()
                                                 ? QMap<QString, QString>{}
                                                 : QMap<QString, QString>{{"colors", colors}};
        const QByteArray bytes = written(image, texts, subType);
        check(!bytes.isEmpty() && bytes == fileBytes(reference), name + warnings);
    }
    warnings.clear();
    check(written(many, {{"colors", "1"}}).isEmpty() && warnings.startsWith("daz: "),
          "272 colours to 1: written");

    std::printf(failures > 0 ? "%d failures\n" : "all passed\n", failures);
    return failures > 0 ? 1 : 0;
}
