#include "../../fuzz/roundtrip.h"
#include "picturecheck.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <zlib.h>

using namespace tinsoke;

namespace {

QTemporaryDir *folder;

QString put(const QString &name, const QByteArray &bytes)
{
    const QString path = folder->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << qPrintable(path);
    return path;
}

QByteArray encode(const QImage &image, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, quality));
    return bytes;
}

PictureFacts factsOf(const QByteArray &bytes, ImageKind kind = ImageKind::Png)
{
    static int n = 0;
    return readPictureFacts(put(QStringLiteral("f%1").arg(++n), bytes), kind);
}

// Noise drawn from 200 colours, so that a palette can hold the picture.
QImage noisePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, 0xff000000u | (QRandomGenerator::global()->bounded(200) * 83231u));
    return image;
}

QByteArray bigEndian(quint32 n)
{
    n = qToBigEndian(n);
    return QByteArray(reinterpret_cast<const char *>(&n), 4);
}

// Rebuilds a PNG with a chunk put after IHDR (data given) or taken out (no data).
QByteArray withChunk(const QByteArray &png, const QByteArray &type, const QByteArray &data = {})
{
    QByteArray out = png.left(33); // signature and IHDR
    if (!data.isNull()) {
        const QByteArray chunk = type + data;
        out += bigEndian(quint32(data.size())) + chunk +
               bigEndian(quint32(crc32(0, reinterpret_cast<const Bytef *>(chunk.constData()),
                                       uInt(chunk.size()))));
    }
    for (qsizetype at = 33; at < png.size();) {
        const qsizetype n = 12 + qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) != type || !data.isNull())
            out += png.mid(at, n);
        at += n;
    }
    return out;
}

QByteArray iccpChunk(const char *name, const QByteArray &profile, int level)
{
    return QByteArray(name) + QByteArray(2, '\0') + qCompress(profile, level).mid(4);
}

// A JPEG carrying the profile in APP2 segments of the given sizes, written in reverse order.
QByteArray withProfile(const QByteArray &jpeg, const QByteArray &profile, qsizetype firstPiece)
{
    const QList<QByteArray> pieces{profile.left(firstPiece), profile.mid(firstPiece)};
    QByteArray segments;
    for (int i = int(pieces.size()) - 1; i >= 0; --i) {
        const QByteArray body = QByteArray("ICC_PROFILE", 12) + char(i + 1) + char(2) + pieces[i];
        const int n = int(body.size()) + 2;
        segments += QByteArray("\xFF\xE2", 2) + char(n >> 8) + char(n) + body;
    }
    return jpeg.left(2) + segments + jpeg.mid(2);
}

// Runs a real optimizer when it is installed; an empty result when it is not.
QByteArray runTool(const QString &program, QStringList arguments, const QByteArray &input)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        return {};
    const QString out = folder->filePath(QStringLiteral("tool-out"));
    QFile::remove(out);
    QProcess::execute(program, arguments << out << put(QStringLiteral("tool-in"), input));
    QFile f(out);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("failed");
}

} // namespace

TEST(PictureFacts, OnePictureHoweverItIsEncoded)
{
    const QImage picture = noisePicture(320, 240);
    const PictureFacts rgb = factsOf(encode(picture, "png", 100));
    ASSERT_TRUE(rgb.readable) << qPrintable(rgb.why);
    EXPECT_TRUE(samePicture(factsOf(encode(picture, "png", 0)), rgb));
    EXPECT_TRUE(
        samePicture(factsOf(encode(picture.convertToFormat(QImage::Format_Indexed8), "png")), rgb));
    EXPECT_TRUE(
        samePicture(factsOf(encode(picture.convertToFormat(QImage::Format_RGBA64), "png")), rgb))
        << "16 bits a channel holding 8-bit values";
    const QByteArray optimized =
        runTool(QStringLiteral("optipng"),
                {QStringLiteral("-quiet"), QStringLiteral("-o2"), QStringLiteral("-out")},
                encode(picture, "png"));
    if (!optimized.isEmpty()) {
        EXPECT_TRUE(samePicture(factsOf(optimized), rgb));
    }
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    EXPECT_TRUE(samePicture(factsOf(encode(grey, "png")),
                            factsOf(encode(grey.convertToFormat(QImage::Format_RGB32), "png"))));

    // Fully transparent pixels may hold any colour.
    QImage clear = picture.convertToFormat(QImage::Format_ARGB32);
    clear.setPixel(5, 5, 0x00123456);
    const PictureFacts withClear = factsOf(encode(clear, "png"));
    clear.setPixel(5, 5, 0x00abcdef);
    EXPECT_TRUE(samePicture(factsOf(encode(clear, "png")), withClear));

    // One pixel, a step in one channel, is another picture.
    QImage changed = picture;
    changed.setPixel(100, 100, picture.pixel(100, 100) ^ 1);
    EXPECT_NE(factsOf(encode(changed, "png")).pixels, rgb.pixels);
    QImage deep = picture.convertToFormat(QImage::Format_RGBA64);
    reinterpret_cast<QRgba64 *>(deep.scanLine(7))[7].setRed(1);
    EXPECT_NE(factsOf(encode(deep, "png")).pixels, rgb.pixels);

    // JPEG: baseline and progressive coding of one picture decode alike.
    const QByteArray jpeg = encode(picture, "jpeg", 90);
    const QByteArray progressive =
        runTool(QStringLiteral("jpegtran"),
                {QStringLiteral("-progressive"), QStringLiteral("-outfile")}, jpeg);
    if (!progressive.isEmpty()) {
        ASSERT_NE(progressive, jpeg);
        EXPECT_TRUE(
            samePicture(factsOf(progressive, ImageKind::Jpeg), factsOf(jpeg, ImageKind::Jpeg)));
    }
}

TEST(PictureFacts, ColourInformationIsPartOfThePicture)
{
    const QByteArray png = encode(noisePicture(64, 48), "png");
    const QByteArray profile = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    ASSERT_GT(profile.size(), 100);
    const PictureFacts plain = factsOf(png);
    const PictureFacts tagged =
        factsOf(withChunk(png, "iCCP", iccpChunk("ICC profile", profile, 9)));
    EXPECT_TRUE(plain.colour.isEmpty());
    EXPECT_EQ(tagged.pixels, plain.pixels);
    EXPECT_NE(tagged.colour, plain.colour) << "profile removed";
    EXPECT_TRUE(samePicture(factsOf(withChunk(png, "iCCP", iccpChunk("P3", profile, 1))), tagged))
        << "profile recompressed under another name";

    const QByteArray srgb = withChunk(withChunk(png, "sRGB", QByteArray(1, '\0')), "gAMA",
                                      QByteArray("\0\0\xb1\x8f", 4));
    const PictureFacts srgbFacts = factsOf(srgb);
    EXPECT_NE(srgbFacts.colour, tagged.colour);
    EXPECT_NE(factsOf(withChunk(srgb, "gAMA")).colour, srgbFacts.colour) << "gAMA removed";
    EXPECT_NE(factsOf(withChunk(srgb, "sRGB")).colour, srgbFacts.colour) << "sRGB removed";

    // JPEG: a profile split over APP2 segments counts as a whole, in sequence order.
    const QByteArray jpeg = encode(noisePicture(64, 48), "jpeg", 90);
    const PictureFacts whole = factsOf(withProfile(jpeg, profile, profile.size()), ImageKind::Jpeg);
    const QByteArray split = withProfile(jpeg, profile, 100);
    ASSERT_TRUE(whole.readable);
    EXPECT_FALSE(whole.colour.isEmpty());
    EXPECT_TRUE(samePicture(factsOf(split, ImageKind::Jpeg), whole));
    const QByteArray stripped = runTool(
        QStringLiteral("jpegtran"),
        {QStringLiteral("-copy"), QStringLiteral("none"), QStringLiteral("-outfile")}, split);
    if (!stripped.isEmpty()) {
        const PictureFacts strippedFacts = factsOf(stripped, ImageKind::Jpeg);
        EXPECT_EQ(strippedFacts.pixels, whole.pixels);
        EXPECT_NE(strippedFacts.colour, whole.colour);
        const QByteArray kept = runTool(
            QStringLiteral("jpegtran"),
            {QStringLiteral("-copy"), QStringLiteral("all"), QStringLiteral("-outfile")}, split);
        EXPECT_TRUE(samePicture(factsOf(kept, ImageKind::Jpeg), whole));
    }
}

TEST(PictureFacts, CutOrForeignFilesAreNotReadableAndThreadsAgree)
{
    const QByteArray png = encode(noisePicture(300, 200), "png");
    const QByteArray jpeg = encode(noisePicture(300, 200), "jpeg", 90);
    const QString fifo = folder->filePath(QStringLiteral("fifo.png"));
#ifdef Q_OS_WIN
    ASSERT_TRUE(QDir().mkdir(fifo)); // no FIFOs there: a folder by a picture's name
#else
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
#endif
    for (const PictureFacts &facts :
         {factsOf(png.left(png.size() / 2)), factsOf(png.chopped(12)) /* without IEND */,
          factsOf(jpeg.left(jpeg.size() / 2), ImageKind::Jpeg), factsOf(jpeg),
          factsOf(png, ImageKind::Jpeg), readPictureFacts(fifo, ImageKind::Png),
          readPictureFacts(folder->filePath(QStringLiteral("missing.png")), ImageKind::Png)}) {
        EXPECT_FALSE(facts.readable);
        EXPECT_FALSE(facts.why.isEmpty());
    }
    // A header claiming 100,000 × 100,000 pixels is told, not decoded.
    QByteArray huge = png;
    huge.replace(16, 8, bigEndian(100000) + bigEndian(100000));
    huge.replace(
        29, 4,
        bigEndian(quint32(crc32(0, reinterpret_cast<const Bytef *>(huge.constData() + 12), 17))));
    EXPECT_EQ(factsOf(huge).why, QStringLiteral("画像が大きすぎて確かめられません"));

    const QString pngPath = put(QStringLiteral("t.png"), png);
    const QString jpegPath = put(QStringLiteral("t.jpg"), jpeg);
    const PictureFacts pngFacts = readPictureFacts(pngPath, ImageKind::Png);
    const PictureFacts jpegFacts = readPictureFacts(jpegPath, ImageKind::Jpeg);
    ASSERT_TRUE(pngFacts.readable && jpegFacts.readable);
    std::atomic<int> agreed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i)
                agreed += samePicture(readPictureFacts(pngPath, ImageKind::Png), pngFacts) &&
                          samePicture(readPictureFacts(jpegPath, ImageKind::Jpeg), jpegFacts);
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(agreed, 20);
}

// Inputs the fuzz targets once broke a rule with: the put-back either refuses
// them or keeps their parts. (Two headers took the colour chunks twice, and
// none lost them; an index listing more entries than its segment holds had
// its moves written into the segments after it.)
TEST(PictureParts, InputsTheFuzzingFoundStayFixed)
{
    QList<QByteArray> chunks; // the chunks of a small PNG, each whole
    const QByteArray png = encode(noisePicture(8, 8), "png");
    for (qsizetype at = 8; at < png.size();) {
        const qsizetype n = 12 + qFromBigEndian<quint32>(png.constData() + at);
        chunks.append(png.mid(at, n));
        at += n;
    }
    const QByteArray chrm = withChunk(png, "cHRM", QByteArray(32, '\1')).mid(33, 44);
    const QByteArray twoHeaders = png.left(8) + chunks.first() + chrm + chunks.join();
    QByteArray colourFirst = chunks.first();
    colourFirst.replace(4, 4, "cICP");
    const QByteArray noHeader = png.left(8) + colourFirst + chunks.mid(1).join();

    const QByteArray jpeg = encode(noisePicture(16, 16), "jpeg", 90);
    const auto segment = [](char marker, const QByteArray &data) {
        const int n = int(data.size()) + 2;
        return QByteArray(1, '\xFF') + marker + char(n >> 8) + char(n) + data;
    };
    // An index of 96 bytes of entries where its segment holds 32.
    const QByteArray index = QByteArray("MPF\0MM\0*", 8) + bigEndian(8) +
                             QByteArray("\0\x01\xB0\x02\0\x07", 6) + bigEndian(96) + bigEndian(26) +
                             QByteArray(16, '\0') + bigEndian(0x00020002) + bigEndian(500) +
                             bigEndian(400) + bigEndian(0);
    const QByteArray exif = segment('\xE1', QByteArray("Exif\0\0MM\0*\0\0\0\x08\0\0", 16));
    const QByteArray longIndex =
        jpeg.left(2) + segment('\xE2', index) + jpeg.mid(2, 18) + exif + jpeg.mid(20) + jpeg;
    ASSERT_TRUE(jpeg.mid(2, 4) == QByteArray("\xFF\xE0\0\x10", 4)) << "a JFIF first";

    const struct {
        const char *name;
        QByteArray bytes;
        ImageKind kind;
    } rows[] = {{"two headers and a colour chunk", twoHeaders, ImageKind::Png},
                {"a colour chunk where the header belongs", noHeader, ImageKind::Png},
                {"an index longer than its segment", longIndex, ImageKind::Jpeg}};
    for (const auto &row : rows) {
        ASSERT_TRUE(pictureParts(row.bytes, row.kind).whole) << row.name;
        const char *fault = roundTripFault(row.bytes, row.kind);
        EXPECT_EQ(fault, nullptr) << row.name << ": " << fault;
    }
}

int main(int argc, char **argv)
{
    // As the command line runs: no display, no GUI application.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!QImageReader::supportedImageFormats().contains("jpeg")) {
        std::fprintf(stderr, "the JPEG image plugin does not load\n");
        return 1;
    }
    QTemporaryDir dir;
    folder = &dir;
    return RUN_ALL_TESTS();
}
