// qt_plugin_test.cpp - the daz image plugin as Qt programs use it, found on
// QT_PLUGIN_PATH only: QImageReader against libdaz's daz_decode (indices,
// palette, undefined colour, key), whole files, files cut short, a pipe and
// hostile input (the saved fuzz cases and hand-made headers); QImageWriter
// against the bytes pngdaz writes for the same indexed PNG, and its refusals.
//   qt6-daz-test SOURCE_DIR PNGDAZ
#include <daz/daz.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int failures = 0;

void check(bool condition, const QString& what) {
    if (!condition) {
        ++failures;
        std::printf("FAIL: %s\n", qPrintable(what));
    }
}

QString warnings; // what the plugin said through qWarning
void keepWarning(QtMsgType, const QMessageLogContext&, const QString& message) {
    warnings += message + QLatin1Char('\n');
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void putFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
}

QByteArray encode(quint32 width, qint32 height, int bits, const std::vector<quint8>& palette,
                  int kept, quint16 key, const std::vector<quint8>& indices) {
    const int entries = static_cast<int>(palette.size() / 4);
    size_t size = 0;
    daz_encode(indices.data(), width, width, height, bits, palette.data(), entries, kept, key,
               nullptr, 0, &size, nullptr);
    QByteArray out(static_cast<int>(size), '\0');
    const int status = daz_encode(indices.data(), width, width, height, bits, palette.data(),
                                  entries, kept, key, out.data(), size, &size, nullptr);
    return status == DAZ_OK ? out : QByteArray();
}

QByteArray convert(const QString& path, int colors, quint16 key) {
    const QByteArray source = fileBytes(path);
    const auto size = static_cast<size_t>(source.size());
    size_t written = 0;
    daz_convert(source.constData(), size, nullptr, colors, key, nullptr, 0, &written, nullptr);
    QByteArray out(static_cast<int>(written), '\0');
    daz_convert(source.constData(), size, nullptr, colors, key, out.data(), written, &written,
                nullptr);
    return out;
}

QByteArray exportPng(const QByteArray& daz) {
    const auto size = static_cast<size_t>(daz.size());
    size_t written = 0;
    daz_export(daz.constData(), size, nullptr, DAZ_FORMAT_PNG, nullptr, 0, &written);
    QByteArray out(static_cast<int>(written), '\0');
    daz_export(daz.constData(), size, nullptr, DAZ_FORMAT_PNG, out.data(), written, &written);
    return out;
}

struct Decoded {
    bool ok = false;
    daz_info info{};
    std::vector<quint8> indices;
};

Decoded decode(const QByteArray& daz) {
    Decoded decoded;
    const auto size = static_cast<size_t>(daz.size());
    size_t indicesSize = 0;
    if (daz_inspect(daz.constData(), size, &decoded.info) != DAZ_OK ||
        daz_decoded_size(&decoded.info, nullptr, &indicesSize, nullptr) != DAZ_OK) {
        return decoded;
    }
    decoded.indices.resize(indicesSize);
    decoded.ok = daz_decode(daz.constData(), size, nullptr, nullptr, nullptr,
                            decoded.indices.data(), indicesSize) == DAZ_OK;
    return decoded;
}

// The image holds the indices daz_decode gives, and a colour table of the
// palette, then the undefined colour as far as the indices reach.
void checkImage(const QImage& image, const Decoded& expected, const QString& name) {
    const daz_info& info = expected.info;
    check(image.format() == QImage::Format_Indexed8, name + ": format");
    check(image.width() == static_cast<int>(info.width) &&
              image.height() == static_cast<int>(info.rows),
          name + ": size");
    if (image.format() != QImage::Format_Indexed8 ||
        image.height() != static_cast<int>(info.rows)) {
        return;
    }
    bool same = true;
    int highest = 0;
    for (quint32 y = 0; y < info.rows; ++y) {
        const quint8* row = expected.indices.data() + y * info.width;
        same = same && std::memcmp(image.constScanLine(static_cast<int>(y)), row, info.width) == 0;
        for (quint32 x = 0; x < info.width; ++x) {
            highest = std::max<int>(highest, row[x]);
        }
    }
    check(same, name + ": indices");
    const QVector<QRgb> table = image.colorTable();
    check(table.size() == std::max(info.colors, highest + 1), name + ": colour table's size");
    for (int entry = 0; entry < table.size(); ++entry) {
        const quint8* colour = info.palette + 4 * entry;
        const QRgb wanted = entry < info.colors
                                ? qRgb(colour[0], colour[1], colour[2])
                                : qRgb(DAZ_UNDEFINED_RED, DAZ_UNDEFINED_GREEN, DAZ_UNDEFINED_BLUE);
        check(table[entry] == wanted, name + QStringLiteral(": colour %1").arg(entry));
    }
    check(image.text(QStringLiteral("key")) ==
              QString::number(info.key, 16).rightJustified(4, QLatin1Char('0')),
          name + ": key text");
    check(image.text(QStringLiteral("colors")) == QString::number(info.colors),
          name + ": colors text");
}

// A pipe's worth of bytes: no size, no seeking.
class Pipe : public QIODevice {
  public:
    explicit Pipe(const QByteArray& bytes) : bytes_(bytes) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char* data, qint64 size) override {
        const qint64 count = std::min<qint64>(size, bytes_.size() - offset_);
        std::memcpy(data, bytes_.constData() + offset_, static_cast<size_t>(count));
        offset_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray bytes_;
    qint64 offset_ = 0;
};

QByteArray cut(const QByteArray& daz, int rows) {
    daz_info info;
    daz_inspect(daz.constData(), static_cast<size_t>(daz.size()), &info);
    return daz.left(static_cast<int>(
        info.pixel_offset + info.row_size * static_cast<quint32>(rows) + info.row_size / 2));
}

std::vector<quint8> pattern(size_t count, unsigned modulo, unsigned step) {
    std::vector<quint8> values(count);
    for (size_t i = 0; i < count; ++i) {
        values[i] = static_cast<quint8>(i * step % modulo);
    }
    return values;
}

std::vector<quint8> palette(int entries) {
    std::vector<quint8> bytes;
    for (int entry = 0; entry < entries; ++entry) {
        bytes.insert(bytes.end(), {static_cast<quint8>(entry), static_cast<quint8>(255 - entry),
                                   static_cast<quint8>(entry * 7), 0});
    }
    return bytes;
}

QByteArray header(quint16 width, qint16 height, quint16 bits, qint16 colors, int rest) {
    QByteArray bytes("EW\x01\x00", 4);
    for (const auto field :
         {width, static_cast<quint16>(height), bits, static_cast<quint16>(colors), quint16{0}}) {
        bytes.append(static_cast<char>(field & 0xff)).append(static_cast<char>(field >> 8));
    }
    return bytes + QByteArray(rest, '\0');
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE_DIR PNGDAZ\n", argv[0]);
        return 2;
    }
    // The plugin from the build's folder only, not an installed one.
    QCoreApplication::setLibraryPaths({qEnvironmentVariable("QT_PLUGIN_PATH")});
    qInstallMessageHandler(keepWarning);
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString pngdaz = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir work;
    check(QImageReader::supportedImageFormats().contains("daz"), "daz among the formats");
    check(QImageReader::supportedMimeTypes().contains("image/x-daz"),
          "image/x-daz among the types");

    // ---- Reading: name | daz bytes
    const QByteArray sample8 = convert(source + "/samples/sample8.bmp", 200, 0x1f2e);
    const struct {
        const char* name;
        QByteArray daz;
    } reads[] = {
        {"sample8, 200 of 256 colours, bottom-up", sample8},
        {"sample4, 10 of 16 colours", convert(source + "/samples/sample4.bmp", 10, 0)},
        {"4 bits, odd width, top-down, indices past 5 colours",
         encode(7, -5, 4, palette(16), 5, 0xbeef, pattern(35, 16, 5))},
        {"8 bits, 1 x 1", encode(1, 1, 8, palette(3), 0, 0xffff, {2})},
        {"8 bits, every colour, bytes after the rows",
         encode(300, 2, 8, palette(256), 0, 0x0102, pattern(600, 256, 7)) + QByteArray(99, 'x')},
        {"8 bits, 4099 x 2100, bottom-up: an image of several blocks",
         encode(4099, 2100, 8, palette(256), 0, 0xabcd, pattern(4099 * 2100, 251, 1))},
        {"bottom-up, cut short after 10 rows", cut(sample8, 10)},
        {"top-down, cut short after 2 rows",
         cut(encode(9, -4, 8, palette(256), 0, 7, pattern(36, 256, 1)), 2)},
    };
    for (const auto& test : reads) {
        const QString name = QString::fromLatin1(test.name);
        const Decoded expected = decode(test.daz);
        const QString path = work.filePath(QStringLiteral("case")); // no name to go by
        putFile(path, test.daz);
        QImageReader reader(path);
        check(reader.canRead() && reader.format() == "daz", name + ": not told by content");
        check(reader.size() == QSize(static_cast<int>(expected.info.width),
                                     static_cast<int>(expected.info.rows)),
              name + ": size before reading");
        check(reader.text(QStringLiteral("colors")) == QString::number(expected.info.colors),
              name + ": text before reading");
        checkImage(reader.read(), expected, name);
        Pipe pipe(test.daz);
        QImageReader piped(&pipe, "daz");
        checkImage(piped.read(), expected, name + ", from a pipe");
    }

    // ---- Hostile input, the daz handler chosen whatever the content: it
    // reads what daz_decode reads, and refuses the rest.
    std::vector<std::pair<QString, QByteArray>> hostile = {
        {"empty", {}},
        {"cut in the palette", sample8.left(100)},
        {"65535 x 32767, 12 bytes", header(65535, 32767, 8, 1, 12)},
        {"65535 x 32767 past the limits", header(65535, 32767, 8, 1, 20)},
        {"16384 x -16384, one row", header(16384, -16384, 8, 1, 14 + 16384)},
        {"16 bits per pixel", header(4, 4, 16, 1, 40)},
        {"no colours", header(4, 4, 8, 0, 40)},
        {"17 colours at 4 bits", header(4, 4, 4, 17, 120)},
        {"-1 colours", header(4, 4, 8, -1, 40)},
        {"less than a row", header(4, 4, 8, 1, 17)},
        {"width 0", header(0, 4, 8, 1, 40)},
        {"a bitmap", fileBytes(source + "/samples/sample8.bmp")},
    };
    const QDir regressions(source + "/fuzz/regressions");
    for (const QString& folder : regressions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDir cases(regressions.filePath(folder));
        for (const QString& entry : cases.entryList(QDir::Files)) {
            hostile.emplace_back("fuzz " + folder + "/" + entry, fileBytes(cases.filePath(entry)));
        }
    }
    for (const auto& [name, bytes] : hostile) {
        const Decoded expected = decode(bytes);
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, "daz");
        const QImage image = reader.read();
        if (expected.ok) {
            checkImage(image, expected, name);
        } else {
            check(image.isNull() && reader.error() != QImageReader::UnknownError,
                  name + ": not refused");
        }
        QBuffer sniffed;
        sniffed.setData(bytes);
        sniffed.open(QIODevice::ReadOnly);
        check(QImageReader(&sniffed).format() == "daz" ||
                  daz_guess_format(bytes.constData(), static_cast<size_t>(bytes.size())) !=
                      DAZ_FORMAT_DAZ,
              name + ": told by content");
    }

    // ---- Writing an indexed PNG: the bytes pngdaz writes for it. (Qt's PNG
    // reader drops indices past the PLTE, which pngdaz keeps: none here.)
    // name | daz that dazpng makes the PNG of | colors | key
    const struct {
        const char* name;
        QByteArray daz;
        const char* colors;
        const char* key;
    } writes[] = {
        {"8 bits, 256 colours, 200 kept", convert(source + "/samples/sample8.bmp", 0, 0), "200",
         "1f2e"},
        {"8 bits, 17 colours", encode(33, 3, 8, palette(17), 0, 0, pattern(99, 17, 3)), "0", "0"},
        {"8 bits, 20 colours, 16 kept", encode(5, 5, 8, palette(20), 0, 0, pattern(25, 20, 3)),
         "16", "0x00ff"},
        {"4 bits, 16 colours, 10 kept", convert(source + "/samples/sample4.bmp", 0, 0), "10",
         "FFFF"},
        {"4 bits, odd width, 3 colours", encode(7, 3, 4, palette(3), 0, 0, pattern(21, 3, 1)), "",
         "1"},
    };
    for (const auto& test : writes) {
        const QString name = QString::fromLatin1(test.name);
        const QString png = work.filePath(QStringLiteral("in.png"));
        const QString reference = work.filePath(QStringLiteral("reference.daz"));
        const QString out = work.filePath(QStringLiteral("out.daz"));
        putFile(png, exportPng(test.daz));
        QProcess command;
        command.setStandardOutputFile(QProcess::nullDevice());
        command.start(pngdaz, {png, reference, QString::fromLatin1(test.colors),
                               QString::fromLatin1(test.key)});
        check(command.waitForFinished(-1) && command.exitCode() == 0, name + ": pngdaz failed");
        const QImage image(png);
        check(image.format() == QImage::Format_Indexed8, name + ": Qt's PNG reader");
        QImageWriter writer(out, "daz");
        writer.setText(QStringLiteral("key"), QString::fromLatin1(test.key));
        if (*test.colors != '\0') {
            writer.setText(QStringLiteral("colors"), QString::fromLatin1(test.colors));
        }
        check(writer.write(image), name + ": " + writer.errorString() + warnings);
        check(fileBytes(out) == fileBytes(reference) && !fileBytes(out).isEmpty(),
              name + ": not pngdaz's bytes");
    }

    // ---- Writing other images: name | image | what it must be written as
    // (a daz file daz_encode makes, bottom-up)
    QImage mono(9, 2, QImage::Format_Mono);
    mono.setColorTable({qRgb(1, 2, 3), qRgb(250, 251, 252)});
    std::vector<quint8> monoIndices(18);
    for (int i = 0; i < 18; ++i) {
        monoIndices[static_cast<size_t>(i)] = i % 4 == 0 ? 1 : 0;
        mono.setPixel(i % 9, i / 9, monoIndices[static_cast<size_t>(i)]);
    }
    QImage fitsIn4(5, 2, QImage::Format_Indexed8); // 8-bit PNGs of this give 8 bits
    fitsIn4.setColorTable(QVector<QRgb>(12, qRgb(9, 9, 9)));
    fitsIn4.fill(11);
    QImage rgb(3, 2, QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(255, 0, 0),
                            qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(7, 7, 7)};
    for (int i = 0; i < 6; ++i) {
        rgb.setPixel(i % 3, i / 3, colours[i]);
    }
    QImage tallest(1, DAZ_MAX_ROWS, QImage::Format_Indexed8);
    tallest.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < tallest.height(); ++y) {
        *tallest.scanLine(y) = static_cast<uchar>(y % 2);
    }
    std::vector<quint8> tallestIndices(DAZ_MAX_ROWS);
    for (size_t y = 0; y < tallestIndices.size(); ++y) {
        tallestIndices[y] = static_cast<quint8>(y % 2);
    }
    const auto rgbPalette = [](const QVector<QRgb>& entries) {
        std::vector<quint8> bytes;
        for (const QRgb entry : entries) {
            bytes.insert(bytes.end(),
                         {static_cast<quint8>(qRed(entry)), static_cast<quint8>(qGreen(entry)),
                          static_cast<quint8>(qBlue(entry)), 0});
        }
        return bytes;
    };
    const struct {
        const char* name;
        QImage image;
        QByteArray daz;
    } others[] = {
        {"Mono", mono, encode(9, 2, 4, rgbPalette(mono.colorTable()), 0, 0, monoIndices)},
        {"Indexed8 that fits in 4 bits", fitsIn4,
         encode(5, 2, 4, rgbPalette(fitsIn4.colorTable()), 0, 0, std::vector<quint8>(10, 11))},
        {"RGB32 of 4 colours, in order of appearance", rgb,
         encode(3, 2, 4, rgbPalette({colours[0], colours[1], colours[3], colours[5]}), 0, 0,
                {0, 1, 0, 2, 1, 3})},
        {"32768 rows, stored top-down", tallest,
         encode(1, -DAZ_MAX_ROWS, 4, rgbPalette({qRgb(0, 0, 0), qRgb(255, 255, 255)}), 0, 0,
                tallestIndices)},
    };
    for (const auto& test : others) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        check(QImageWriter(&buffer, "daz").write(test.image), QString::fromLatin1(test.name));
        check(buffer.data() == test.daz && !test.daz.isEmpty(),
              QString::fromLatin1(test.name) + ": not the expected bytes");
    }

    // ---- Texts: a daz image read and written again keeps its key and
    // colour count, so the same bytes; the writer's texts win over the
    // image's; texts that are no key or count are refused.
    QImage read = QImage::fromData(sample8, "daz");
    QBuffer again;
    again.open(QIODevice::WriteOnly);
    check(QImageWriter(&again, "daz").write(read) && again.data() == sample8,
          "read and written again: not the same bytes");
    // name | text | value | a write that succeeds | the key written
    const struct {
        const char* name;
        const char* text;
        const char* value;
        bool written;
        quint16 key;
    } texts[] = {
        {"the writer's key", "key", "0x00ff", true, 0x00ff},
        {"a key of 17 bits", "key", "1ffff", false, 0},
        {"a key that is no number", "key", "chiave", false, 0},
        {"a colour count past the palette", "colors", "257", false, 0},
        {"a negative colour count", "colors", "-1", false, 0},
    };
    for (const auto& test : texts) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "daz");
        writer.setText(QString::fromLatin1(test.text), QString::fromLatin1(test.value));
        const bool written = writer.write(read);
        check(written == test.written, QString::fromLatin1(test.name));
        daz_info info;
        if (written && daz_inspect(buffer.data().constData(), static_cast<size_t>(buffer.size()),
                                   &info) == DAZ_OK) {
            check(info.key == test.key && info.colors == 200, QString::fromLatin1(test.name));
        }
    }

    // ---- No colour table and more than 256 colours: refused, saying why.
    QImage many(17, 16, QImage::Format_RGB32);
    for (int i = 0; i < 17 * 16; ++i) {
        many.setPixel(i % 17, i / 17, qRgb(i % 256, i / 256, 0));
    }
    QBuffer refused;
    refused.open(QIODevice::WriteOnly);
    warnings.clear();
    QImageWriter writer(&refused, "daz");
    check(!writer.write(many) && refused.data().isEmpty(), "257 colours: written");
    check(warnings.contains(QStringLiteral("more than 256 colours")), "257 colours: " + warnings);

    std::printf(failures > 0 ? "%d failures\n" : "all passed\n", failures);
    return failures > 0 ? 1 : 0;
}
