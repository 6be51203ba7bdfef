// daz_image_plugin.h - daz images for Qt's QImageReader and QImageWriter
// (Qt 6, and Qt 5 for KDE Plasma 5), built from the same source for each.
//
// Reading gives a Format_Indexed8 image (4-bit ones too) whose colour table
// is the palette, with entries of libdaz's undefined colour after it as far
// as the pixels' indices reach past it; the image's texts "key" (four
// hexadecimal digits) and "colors" (the palette's entries) say what the
// file holds. Writing takes Indexed8 and Mono images, and others of at most
// 256 colours as they are; the key and the colour count to keep come from
// QImageWriter::setText("key", ...) and setText("colors", ...), else from
// the image's own texts of those names. An image of more than 256 colours
// is reduced by libdaz (daz_quantize) to setText("colors", ...) colours,
// else 256, its alpha composited over black: each pixel gets its nearest
// entry, or with QImageWriter::setSubType("dithered") error diffusion.
#ifndef DAZ_IMAGE_PLUGIN_H
#define DAZ_IMAGE_PLUGIN_H

#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QMap>
#include <QSize>
#include <QString>

class DazHandler : public QImageIOHandler {
  public:
    bool canRead() const override;
    bool read(QImage* image) override;
    bool write(const QImage& image) override;
    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant& value) override;
    bool supportsOption(ImageOption option) const override;

    // By content: the bytes daz_guess_format needs, peeked.
    static bool canRead(QIODevice* device);

  private:
    bool peekHeader() const;

    QMap<QString, QString> writerTexts_; // QImageWriter::setText's
    QByteArray subType_;                 // QImageWriter::setSubType's, lower case
    // The header and palette, peeked for option() before read().
    mutable bool peeked_ = false;
    mutable bool peekedOk_ = false;
    mutable QSize size_;
    mutable QString description_;
};

class DazPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "daz.json")

  public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};

#endif
