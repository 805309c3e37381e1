// Writes the fuzz targets' seeds into the folder given: small pictures of
// every kind the tests use (stills, an APNG, baseline and progressive JPEG,
// EXIF in both byte orders, a multi-picture file, a profile in many
// segments), made by the tests' own builders.
#include "metadata.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

namespace {

QString root;

void seed(const char *target, const char *name, const QByteArray &bytes)
{
    const QString folder = root + u'/' + QLatin1String(target);
    QDir().mkpath(folder);
    QFile f(folder + u'/' + QLatin1String(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        std::fprintf(stderr, "cannot write %s\n", name);
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 80);
    return bytes;
}

QByteArray le16(quint16 v)
{
    return QByteArray(1, char(v)) + char(v >> 8);
}
QByteArray le32(quint32 v)
{
    return le16(quint16(v)) + le16(quint16(v >> 16));
}

// A little-endian EXIF: Orientation as a SHORT, and a LONG after it.
QByteArray littleEndianTiff(int orientation)
{
    return QByteArray("II\x2a\0", 4) + le32(8) + le16(2) + le16(0x0112) + le16(3) + le32(1) +
           le16(quint16(orientation)) + le16(0) + le16(0x0100) + le16(4) + le32(1) + le32(32) +
           le32(0);
}

QByteArray progressive(const QByteArray &jpeg)
{
    const QString jpegtran = QStandardPaths::findExecutable(QStringLiteral("jpegtran"));
    if (jpegtran.isEmpty())
        return {};
    QProcess p;
    p.start(jpegtran,
            {QStringLiteral("-progressive"), QStringLiteral("-copy"), QStringLiteral("all")});
    p.write(jpeg);
    p.closeWriteChannel();
    p.waitForFinished();
    return p.readAllStandardOutput();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus FOLDER\n");
        return 2;
    }
    root = QString::fromLocal8Bit(argv[1]);
    const QImage small = frameImage(24, 16, 3);
    QImage opaque = small.convertToFormat(QImage::Format_RGB32);

    // PNG: metadata of every kind, a profile, a palette, grey with tRNS, an APNG.
    seed("png", "text-exif.png", pngWith(opaque, pngTextAndExif(), 0));
    seed("png", "iccp.png", pngWith(opaque, {iccpChunk(), {"sBIT", QByteArray("\5\5\5", 3)}}, 0));
    seed("png", "palette.png", pngWith(small.convertToFormat(QImage::Format_Indexed8), {}, 0));
    seed("png", "alpha.png", pngWith(small, {{"eXIf", longOrientationTiff(6)}}, 0));
    seed("png", "xmp.png",
         pngWith(opaque,
                 {{"iTXt",
                   QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + xmpWithOrientation(3, false)}},
                 0));
    seed("png", "grey-trns.png",
         pngFrom({{"IHDR", be32(8) + be32(2) + QByteArray("\x01\0\0\0\0", 5)},
                  {"tRNS", be16(0x00FF)},
                  {"IDAT", deflated(QByteArray("\0\x0F\0\xF0", 4))},
                  {"IEND", {}}}));
    seed("png", "apng.png", threeFrameApng(9));

    // JPEG: a phone photo, EXIF both ways, a profile in three segments,
    // progressive with a comment between scans, two pictures joined.
    const QByteArray plain = encoded(opaque, "JPEG");
    const QByteArray photo = phonePhoto(opaque);
    seed("jpeg", "photo.jpg", photo);
    const QByteArray icc = adobeRgbProfile();
    QByteArray split;
    for (int i = 0; i < 3; ++i)
        split += jpegSegment(0xE2, QByteArray("ICC_PROFILE\0", 12) + char(i + 1) + char(3) +
                                       icc.mid(i * icc.size() / 3, icc.size() / 3 + 1));
    seed("jpeg", "icc-split.jpg", plain.left(2) + split + plain.mid(2));
    seed("jpeg", "exif-le.jpg",
         plain.left(2) + jpegSegment(0xE1, QByteArray("Exif\0\0", 6) + littleEndianTiff(8)) +
             plain.mid(2));
    seed("jpeg", "exif-long.jpg",
         plain.left(2) + jpegSegment(0xE1, QByteArray("Exif\0\0", 6) + longOrientationTiff(6)) +
             jpegSegment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
                                   xmpWithOrientation(5, true)) +
             plain.mid(2));
    const QByteArray p = progressive(photo);
    if (!p.isEmpty()) {
        const qsizetype second = p.indexOf("\xFF\xDA", p.indexOf("\xFF\xDA") + 2);
        seed("jpeg", "progressive.jpg",
             p.left(second) + QByteArray(3, '\xFF') + jpegSegment(0xFE, "between") +
                 p.mid(second, p.size() - second - 2) + jpegSegment(0xFE, "after") + p.right(2));
    }
    seed("jpeg", "joined.jpg", joinedPictures(photo, plain));

    // Orientation: TIFF blocks and XMP packets.
    seed("orientation", "big.tif", exifTiff(6, "Kiri Onoda", "2026:05:17 09:30:12"));
    seed("orientation", "long.tif", longOrientationTiff(7));
    seed("orientation", "cut.tif", cutOrientationTiff(8));
    seed("orientation", "little.tif", littleEndianTiff(3));
    seed("orientation", "attribute.xmp", xmpWithOrientation(3, false));
    seed("orientation", "element.xmp", xmpWithOrientation(6, true));
    return 0;
}
