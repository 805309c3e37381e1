#pragma once

// Pictures as cameras, phones and editors leave them, built byte by byte:
// PNG chunks (text, XMP, pHYs, eXIf, tIME, a profile, an editor's private
// layers), animated PNGs, JPEG markers with a hand-made EXIF, ICC and COM,
// and bytes after the picture's end. Readers take them apart again, so a
// test can tell what a run kept.

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QList>
#include <QRandomGenerator>
#include <QtEndian>

#include <zlib.h>

struct Chunk {
    QByteArray type;
    QByteArray data;
    bool operator==(const Chunk &o) const { return type == o.type && data == o.data; }
    bool operator<(const Chunk &o) const { return type != o.type ? type < o.type : data < o.data; }
};

inline QByteArray be16(quint16 v)
{
    const quint16 b = qToBigEndian(v);
    return QByteArray(reinterpret_cast<const char *>(&b), 2);
}
inline QByteArray be32(quint32 v)
{
    const quint32 b = qToBigEndian(v);
    return QByteArray(reinterpret_cast<const char *>(&b), 4);
}
inline quint32 read32(const QByteArray &b, qsizetype at)
{
    return qFromBigEndian<quint32>(b.constData() + at);
}

inline QByteArray deflated(const QByteArray &raw, int level = 9)
{
    uLongf size = compressBound(uLong(raw.size()));
    QByteArray out(qsizetype(size), '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &size,
              reinterpret_cast<const Bytef *>(raw.constData()), uLong(raw.size()), level);
    out.truncate(qsizetype(size));
    return out;
}

inline QByteArray noise(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray b(size, '\0');
    for (char &c : b)
        c = char(random.bounded(256));
    return b;
}

// ---- PNG ----

inline const QByteArray PngSignature("\x89PNG\r\n\x1a\n", 8);

inline QByteArray pngChunk(const Chunk &c)
{
    const QByteArray body = c.type + c.data;
    return be32(quint32(c.data.size())) + body +
           be32(quint32(
               crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))));
}

// The chunks up to and including IEND; empty when the bytes are no PNG.
inline QList<Chunk> pngChunks(const QByteArray &png)
{
    QList<Chunk> chunks;
    if (!png.startsWith(PngSignature))
        return chunks;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = read32(png, at);
        if (at + 12 + length > png.size())
            break;
        chunks.append({png.mid(at + 4, 4), png.mid(at + 8, length)});
        at += 12 + length;
        if (chunks.last().type == "IEND")
            break;
    }
    return chunks;
}

inline QByteArray pngFrom(const QList<Chunk> &chunks)
{
    QByteArray png = PngSignature;
    for (const Chunk &c : chunks)
        png += pngChunk(c);
    return png;
}

// What follows IEND.
inline QByteArray afterPngEnd(const QByteArray &png)
{
    qsizetype at = 8;
    for (const Chunk &c : pngChunks(png)) {
        at += 12 + c.data.size();
        if (c.type == "IEND")
            return png.mid(at);
    }
    return QByteArray();
}

// The ancillary chunks (the ones a run should keep as they are), sorted;
// tRNS and the animation's own chunks are left to the frame check.
inline QList<Chunk> metadataChunks(const QByteArray &png)
{
    static const QList<QByteArray> Skip{"tRNS", "acTL", "fcTL", "fdAT"};
    QList<Chunk> kept;
    for (const Chunk &c : pngChunks(png))
        if (c.type.size() == 4 && (c.type.at(0) & 0x20) && !Skip.contains(c.type))
            kept.append(c);
    std::sort(kept.begin(), kept.end());
    return kept;
}

// The picture as Qt encodes it, with only its critical chunks (and tRNS),
// then extra chunks right after IHDR. Quality 100 stores it with little
// compression, so the optimizers have work.
inline QByteArray pngWith(const QImage &image, const QList<Chunk> &extra = {}, int quality = 100)
{
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", quality);
    QList<Chunk> chunks;
    for (const Chunk &c : pngChunks(encoded)) {
        if (c.type == "IHDR" || c.type == "PLTE" || c.type == "tRNS" || c.type == "IDAT" ||
            c.type == "IEND")
            chunks.append(c);
        if (c.type == "IHDR")
            chunks.append(extra);
    }
    return pngFrom(chunks);
}

// ---- EXIF (a big-endian TIFF) ----

struct Exif {
    int orientation = 0;
    QByteArray artist;
    QByteArray taken; // DateTimeOriginal
};

// IFD0: Orientation, Artist and the EXIF IFD holding DateTimeOriginal.
inline QByteArray exifTiff(int orientation, const QByteArray &artist, const QByteArray &taken)
{
    const QByteArray artistZ = artist + '\0';
    const quint32 artistAt = 8 + 2 + 3 * 12 + 4;
    const quint32 exifAt = (artistAt + quint32(artistZ.size()) + 1) & ~1u;
    const quint32 takenAt = exifAt + 2 + 12 + 4;
    const auto entry = [](quint16 tag, quint16 type, quint32 count, const QByteArray &value) {
        return be16(tag) + be16(type) + be32(count) + value.leftJustified(4, '\0');
    };
    QByteArray t = QByteArray("MM\0\x2a", 4) + be32(8) + be16(3);
    t += entry(0x0112, 3, 1, be16(quint16(orientation)));
    t += entry(0x013B, 2, quint32(artistZ.size()), be32(artistAt));
    t += entry(0x8769, 4, 1, be32(exifAt));
    t += be32(0) + artistZ;
    t = t.leftJustified(exifAt, '\0');
    t += be16(1) + entry(0x9003, 2, quint32(taken.size() + 1), be32(takenAt)) + be32(0);
    return t + taken + '\0';
}

// Reads the three fields from a TIFF in either byte order.
inline Exif readExif(const QByteArray &tiff)
{
    Exif e;
    if (tiff.size() < 8 || (!tiff.startsWith("MM") && !tiff.startsWith("II")))
        return e;
    const bool big = tiff.startsWith("MM");
    const auto u16 = [&](qsizetype at) -> quint32 {
        if (at < 0 || at + 2 > tiff.size())
            return 0;
        return big ? qFromBigEndian<quint16>(tiff.constData() + at)
                   : qFromLittleEndian<quint16>(tiff.constData() + at);
    };
    const auto u32 = [&](qsizetype at) -> quint32 {
        if (at < 0 || at + 4 > tiff.size())
            return 0;
        return big ? qFromBigEndian<quint32>(tiff.constData() + at)
                   : qFromLittleEndian<quint32>(tiff.constData() + at);
    };
    const auto text = [&](qsizetype entry) {
        const quint32 count = u32(entry + 4);
        const QByteArray s =
            count <= 4 ? tiff.mid(entry + 8, count) : tiff.mid(u32(entry + 8), count);
        return s.left(s.indexOf('\0') < 0 ? s.size() : s.indexOf('\0'));
    };
    const auto walk = [&](quint32 ifd, auto &&self) -> void {
        const quint32 n = u16(ifd);
        for (quint32 i = 0; i < n && i < 500; ++i) {
            const qsizetype entry = ifd + 2 + 12 * qsizetype(i);
            switch (u16(entry)) {
            case 0x0112:
                e.orientation = int(u16(entry + 8));
                break;
            case 0x013B:
                e.artist = text(entry);
                break;
            case 0x9003:
                e.taken = text(entry);
                break;
            case 0x8769:
                if (u32(entry + 8) != ifd)
                    self(u32(entry + 8), self);
                break;
            }
        }
    };
    walk(u32(4), walk);
    return e;
}

// ---- PNG metadata ----

// tEXt, zTXt, iTXt (XMP), pHYs at 300 dpi, eXIf with Orientation=6, tIME.
inline QList<Chunk> pngTextAndExif()
{
    const QByteArray xmp =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:creator><rdf:Seq><rdf:li>Kiri "
        "Onoda</rdf:li></rdf:Seq></dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>";
    return {
        {"tEXt", QByteArray("Author\0Kiri Onoda", 17)},
        {"zTXt", QByteArray("Comment\0\0", 9) +
                     deflated(QByteArray("Harbour at dusk, taken from the pier. ").repeated(8))},
        {"iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + xmp},
        {"pHYs", be32(11811) + be32(11811) + QByteArray(1, '\1')},
        {"eXIf", exifTiff(6, "Kiri Onoda", "2026:05:17 09:30:12")},
        {"tIME", be16(2026) + QByteArray("\x05\x11\x09\x1e\x0c", 5)},
    };
}

inline QByteArray adobeRgbProfile()
{
    return QColorSpace(QColorSpace::AdobeRgb).iccProfile();
}

inline Chunk iccpChunk()
{
    return {"iCCP", QByteArray("Adobe RGB (1998)\0\0", 18) + deflated(adobeRgbProfile())};
}

// An editor's layers, kept in a private chunk of its own.
inline Chunk layersChunk()
{
    return {"mkBF", noise(30 * 1024, 77)};
}

// ---- Animated PNG ----

struct Frame {
    QByteArray control; // fcTL without its sequence number: size, offset, delay, dispose, blend
    QImage image;       // the frame's own rectangle, decoded
};

inline QImage frameImage(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           (x + y) % 7 == 0 ? 0u // holes, so blending shows
                                            : qRgba(int(seed * 40 + x * 3) & 0xff, (y * 5) & 0xff,
                                                    int(random.bounded(4)) * 60, 255));
    return image;
}

// Rows of 8-bit RGBA, each with filter byte 0, stored with little compression.
inline QByteArray rgbaData(const QImage &image, int level = 1)
{
    QByteArray raw;
    for (int y = 0; y < image.height(); ++y) {
        raw += '\0';
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            raw += char(qRed(p));
            raw += char(qGreen(p));
            raw += char(qBlue(p));
            raw += char(qAlpha(p));
        }
    }
    return deflated(raw, level);
}

// Three frames that differ in size, place, timing, dispose and blend; the
// first is the default image, the whole 96×64 canvas. level: the frames'
// compression, 1 leaving the optimizers work.
inline QByteArray threeFrameApng(int level = 1)
{
    struct F {
        int w, h, x, y;
        quint16 num, den;
        char dispose, blend;
    };
    const F frames[] = {{96, 64, 0, 0, 1, 10, 0, 0},
                        {40, 30, 10, 8, 25, 100, 1, 1},
                        {50, 20, 40, 40, 7, 1000, 2, 0}};
    QList<Chunk> chunks{{"IHDR", be32(96) + be32(64) + QByteArray("\x08\x06\0\0\0", 5)},
                        {"acTL", be32(3) + be32(0)}};
    quint32 sequence = 0;
    for (int i = 0; i < 3; ++i) {
        const F &f = frames[i];
        chunks.append({"fcTL", be32(sequence++) + be32(quint32(f.w)) + be32(quint32(f.h)) +
                                   be32(quint32(f.x)) + be32(quint32(f.y)) + be16(f.num) +
                                   be16(f.den) + f.dispose + f.blend});
        const QByteArray data = rgbaData(frameImage(f.w, f.h, quint32(i + 1)), level);
        if (i == 0)
            chunks.append({"IDAT", data});
        else
            chunks.append({"fdAT", be32(sequence++) + data});
    }
    chunks.append(Chunk{"IEND", {}});
    return pngFrom(chunks);
}

// The number of frames acTL announces; 0 for a still PNG.
inline int announcedFrames(const QByteArray &png)
{
    for (const Chunk &c : pngChunks(png))
        if (c.type == "acTL" && c.data.size() == 8)
            return int(read32(c.data, 0));
    return 0;
}

// Each frame, decoded by handing its data to Qt as a PNG of its own: the
// file's IHDR with the frame's size, its PLTE and tRNS, the frame's data.
inline QList<Frame> apngFrames(const QByteArray &png)
{
    QList<Chunk> header; // IHDR, PLTE, tRNS
    QList<QPair<QByteArray, QByteArray>> frames;
    bool beforeFirstFrame = true;
    for (const Chunk &c : pngChunks(png)) {
        if (c.type == "IHDR" || c.type == "PLTE" || c.type == "tRNS") {
            header.append(c);
        } else if (c.type == "fcTL" && c.data.size() == 26) {
            frames.append({c.data.mid(4), QByteArray()});
            beforeFirstFrame = false;
        } else if (c.type == "IDAT" && !beforeFirstFrame && frames.size() == 1) {
            frames.last().second += c.data;
        } else if (c.type == "fdAT" && !frames.isEmpty() && c.data.size() > 4) {
            frames.last().second += c.data.mid(4);
        }
    }
    QList<Frame> out;
    for (const auto &[control, data] : frames) {
        QList<Chunk> one = header;
        if (!one.isEmpty())
            one.first().data.replace(0, 8, control.left(8));
        one.append({"IDAT", data});
        one.append(Chunk{"IEND", {}});
        QImage image = QImage::fromData(pngFrom(one), "PNG").convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) // a hidden pixel's colour does not count
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) == 0)
                    image.setPixel(x, y, 0);
        out.append({control, image});
    }
    return out;
}

// ---- JPEG ----

struct Segment {
    quint8 marker = 0;
    QByteArray data; // without the length
};

// The segments before the first SOS.
inline QList<Segment> jpegSegments(const QByteArray &jpeg)
{
    QList<Segment> segments;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg.at(at)) == 0xFF) {
        const quint8 marker = quint8(jpeg.at(at + 1));
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xDA)
            break;
        const qsizetype length = qFromBigEndian<quint16>(jpeg.constData() + at + 2);
        segments.append({marker, jpeg.mid(at + 4, length - 2)});
        at += 2 + length;
    }
    return segments;
}

// Where the picture ends: just after the first EOI that follows a scan.
inline qsizetype jpegEnd(const QByteArray &jpeg)
{
    bool inScan = false;
    for (qsizetype at = 2; at + 1 < jpeg.size();) {
        if (quint8(jpeg.at(at)) != 0xFF) {
            ++at;
            continue;
        }
        const quint8 marker = quint8(jpeg.at(at + 1));
        if (marker == 0x00 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {
            at += marker == 0xFF ? 1 : 2;
            continue;
        }
        if (marker == 0xD9 && inScan)
            return at + 2;
        if (at + 4 > jpeg.size())
            break;
        inScan = inScan || marker == 0xDA;
        at += 2 + qFromBigEndian<quint16>(jpeg.constData() + at + 2);
    }
    return -1;
}

inline QByteArray afterJpegEnd(const QByteArray &jpeg)
{
    const qsizetype end = jpegEnd(jpeg);
    return end < 0 ? QByteArray() : jpeg.mid(end);
}

inline QByteArray jpegSegment(quint8 marker, const QByteArray &data)
{
    return QByteArray(1, '\xFF') + char(marker) + be16(quint16(data.size() + 2)) + data;
}

// A phone photo: Qt's baseline JPEG with an EXIF (Orientation=6, Artist,
// DateTimeOriginal), an ICC profile in APP2 and a comment, after its JFIF.
inline QByteArray phonePhoto(const QImage &picture, int quality = 92)
{
    QImage plain = picture;
    plain.setColorSpace(QColorSpace());
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    plain.save(&buffer, "JPEG", quality);
    const QList<Segment> own = jpegSegments(encoded);
    qsizetype at = 2;
    if (!own.isEmpty() && own.first().marker == 0xE0) // after the JFIF
        at += 4 + own.first().data.size();
    const QByteArray inserted =
        jpegSegment(0xE1,
                    QByteArray("Exif\0\0", 6) + exifTiff(6, "Kiri Onoda", "2026:05:17 09:30:12")) +
        jpegSegment(0xE2, QByteArray("ICC_PROFILE\0\x01\x01", 14) + adobeRgbProfile()) +
        jpegSegment(0xFE, "Harbour at dusk");
    return encoded.left(at) + inserted + encoded.mid(at);
}

// Two pictures joined as a stereo camera stores them: the first indexes the
// second in an MPF segment right after its SOI, counted from the index.
inline QByteArray joinedPictures(const QByteArray &first, const QByteArray &second)
{
    const QByteArray head = QByteArray("MPF\0MM\0*\0\0\0\x08", 12) + be16(3) + be16(0xB000) +
                            be16(7) + be32(4) + "0100" + be16(0xB001) + be16(4) + be32(1) +
                            be32(2) + be16(0xB002) + be16(7) + be32(32) + be32(50) + be32(0);
    const qsizetype size = first.size() + 4 + head.size() + 32;
    const QByteArray entries = be32(0x20030000) + be32(quint32(size)) + be32(0) + be32(0) +
                               be32(0x00020002) + be32(quint32(second.size())) +
                               be32(quint32(size - 10)) + be32(0);
    return first.left(2) + jpegSegment(0xE2, head + entries) + first.mid(2) + second;
}

inline Exif jpegExif(const QByteArray &jpeg)
{
    for (const Segment &s : jpegSegments(jpeg))
        if (s.marker == 0xE1 && s.data.startsWith(QByteArray("Exif\0\0", 6)))
            return readExif(s.data.mid(6));
    return {};
}

inline QByteArray jpegIcc(const QByteArray &jpeg)
{
    QByteArray icc;
    for (const Segment &s : jpegSegments(jpeg))
        if (s.marker == 0xE2 && s.data.startsWith(QByteArray("ICC_PROFILE\0", 12)))
            icc += s.data.mid(14);
    return icc;
}

// ---- Orientation, as readers find it ----

// A big-endian TIFF whose IFD0 holds only the orientation, stored as a LONG.
inline QByteArray longOrientationTiff(int orientation)
{
    return QByteArray("MM\0\x2a", 4) + be32(8) + be16(1) + be16(0x0112) + be16(4) + be32(1) +
           be32(quint32(orientation)) + be32(0);
}

// A TIFF whose second entry, the orientation, is cut off by the block's end
// two bytes short: readers see no orientation.
inline QByteArray cutOrientationTiff(int orientation)
{
    return QByteArray("MM\0\x2a", 4) + be32(8) + be16(2) + be16(0x010F) + be16(2) + be32(4) +
           QByteArray("Cam\0", 4) + be16(0x0112) + be16(3) + be32(1) + be16(quint16(orientation));
}

// An XMP packet turning the picture, as an attribute or as an element.
inline QByteArray xmpWithOrientation(int orientation, bool element)
{
    const QByteArray n = QByteArray::number(orientation);
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
           "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\"" +
           (element ? "><tiff:Orientation>" + n + "</tiff:Orientation></rdf:Description>"
                    : " tiff:Orientation=\"" + n + "\"/>") +
           "</rdf:RDF></x:xmpmeta>";
}

// The orientation a reader shows: the first EXIF's (typed SHORT, as the
// run writes it), else the XMP's; 0 when neither gives one.
inline int shownOrientation(const QByteArray &file, bool png)
{
    QByteArray tiff, xmp;
    if (png) {
        for (const Chunk &c : pngChunks(file)) {
            if (c.type == "eXIf" && tiff.isNull())
                tiff = c.data;
            if (c.type == "iTXt" && c.data.startsWith("XML:com.adobe.xmp") && xmp.isNull())
                xmp = c.data;
        }
    } else {
        for (const Segment &s : jpegSegments(file)) {
            if (s.marker == 0xE1 && s.data.startsWith(QByteArray("Exif\0\0", 6)) && tiff.isNull())
                tiff = s.data.mid(6);
            if (s.marker == 0xE1 && s.data.startsWith("http://ns.adobe.com/xap/1.0/") &&
                xmp.isNull())
                xmp = s.data;
        }
    }
    if (const int exif = readExif(tiff).orientation)
        return exif;
    for (int o = 1; o <= 8; ++o)
        if (xmp.contains("tiff:Orientation=\"" + QByteArray::number(o) + '"') ||
            xmp.contains("<tiff:Orientation>" + QByteArray::number(o) + '<'))
            return o;
    return 0;
}
