#include "pictureparts.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tinsoke {

namespace {

const QByteArray PngSignature("\x89PNG\r\n\x1a\n", 8);
const QByteArray JpegStart("\xFF\xD8", 2);

quint32 be32(const char *p)
{
    const auto *b = reinterpret_cast<const uchar *>(p);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}
int be16(const char *p)
{
    const auto *b = reinterpret_cast<const uchar *>(p);
    return (int(b[0]) << 8) | int(b[1]);
}

quint32 crc32Of(QByteArrayView data)
{
    static const auto Table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t.at(n) = c;
        }
        return t;
    }();
    quint32 c = 0xffffffffu;
    for (const char ch : data)
        c = Table.at((c ^ uchar(ch)) & 0xff) ^ (c >> 8);
    return c ^ 0xffffffffu;
}

void appendBe32(QByteArray &out, quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(b, 4);
}

QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray c;
    appendBe32(c, quint32(data.size()));
    c.append(type, 4).append(data);
    appendBe32(c, crc32Of(QByteArrayView(c).sliced(4)));
    return c;
}

// One chunk or segment: where it starts and how long it is in all.
struct Piece {
    qsizetype at = 0;
    qsizetype size = 0;
    QByteArray type; // PNG: the chunk type; JPEG: the marker byte
};

bool pngPieces(const QByteArray &f, QList<Piece> *pieces, qsizetype *end)
{
    if (!f.startsWith(PngSignature))
        return false;
    qsizetype at = PngSignature.size();
    for (;;) {
        if (f.size() - at < 12)
            return false;
        const quint32 length = be32(f.constData() + at);
        if (length > 0x7fffffffu || qsizetype(length) > f.size() - at - 12)
            return false;
        Piece p{at, 12 + qsizetype(length), f.mid(at + 4, 4)};
        pieces->append(p);
        at += p.size;
        if (p.type == "IEND") {
            *end = at;
            return true;
        }
    }
}

// Segments from the start to the first scan, then the scans to the end marker.
bool jpegPieces(const QByteArray &f, QList<Piece> *pieces, qsizetype *end)
{
    if (!f.startsWith(JpegStart))
        return false;
    const auto *b = reinterpret_cast<const uchar *>(f.constData());
    const qsizetype size = f.size();
    bool inScan = false;
    qsizetype at = 2;
    for (;;) {
        if (inScan) {
            const void *ff = std::memchr(b + at, 0xFF, size_t(size - at));
            if (!ff)
                return false;
            at = static_cast<const uchar *>(ff) - b;
        }
        if (size - at < 2 || b[at] != 0xFF)
            return false;
        const uchar marker = b[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9) {
            *end = at + 2;
            return true;
        }
        if (size - at < 4)
            return false;
        const qsizetype length = be16(f.constData() + at + 2);
        if (length < 2 || length > size - at - 2)
            return false;
        if (!inScan)
            pieces->append({at, 2 + length, QByteArray(1, char(marker))});
        if (marker == 0xDA)
            inScan = true;
        at += 2 + length;
    }
}

bool pngAncillary(const QByteArray &type)
{
    return type.size() == 4 && (uchar(type[0]) & 0x20) && type != "tRNS" && type != "acTL" &&
           type != "fcTL" && type != "fdAT";
}
bool pngColourChunk(const QByteArray &type)
{
    return type == "iCCP" || type == "sRGB" || type == "gAMA" || type == "cHRM" || type == "cICP" ||
           type == "mDCv" || type == "cLLi";
}
// Chunks whose bytes mean something only with the header's colour type and palette.
bool pngLayoutBound(const QByteArray &type)
{
    return type == "bKGD" || type == "sBIT" || type == "hIST";
}

QByteArrayView segmentData(const QByteArray &segment)
{
    return QByteArrayView(segment).sliced(4);
}
bool startsWith(QByteArrayView data, const char *tag)
{
    return data.startsWith(QByteArrayView(tag, qsizetype(std::strlen(tag)) + 1));
}

// JPEG segments the run keeps for the user; the Adobe marker and the scans'
// own segments belong to the coded picture and stay as the tool wrote them.
bool jpegManaged(uchar marker)
{
    return (marker >= 0xE0 && marker <= 0xEF && marker != 0xEE) || marker == 0xFE;
}

enum class JpegKind { Jfif, Exif, Xmp, Icc, Mpf, Iptc, Comment, Other };
JpegKind jpegKind(const QByteArray &segment)
{
    const uchar marker = uchar(segment[1]);
    const QByteArrayView d = segmentData(segment);
    if (marker == 0xFE)
        return JpegKind::Comment;
    if (marker == 0xE0 && (startsWith(d, "JFIF") || startsWith(d, "JFXX")))
        return JpegKind::Jfif;
    if (marker == 0xE1 && d.startsWith(QByteArrayView("Exif\0\0", 6)))
        return JpegKind::Exif;
    if (marker == 0xE1 && d.startsWith("http://ns.adobe.com/x"))
        return JpegKind::Xmp;
    if (marker == 0xE2 && startsWith(d, "ICC_PROFILE"))
        return JpegKind::Icc;
    if (marker == 0xE2 && startsWith(d, "MPF"))
        return JpegKind::Mpf;
    if (marker == 0xED)
        return JpegKind::Iptc;
    return JpegKind::Other;
}

// The orientation in a TIFF block, 1 when it has none.
int tiffOrientation(QByteArrayView tiff)
{
    if (tiff.size() < 8)
        return 1;
    const bool little = tiff.startsWith("II");
    auto u16 = [&](qsizetype at) -> int {
        if (at + 2 > tiff.size())
            return 0;
        const auto *b = reinterpret_cast<const uchar *>(tiff.data() + at);
        return little ? b[0] | (b[1] << 8) : (b[0] << 8) | b[1];
    };
    auto u32 = [&](qsizetype at) -> qint64 {
        return little ? u16(at) | (qint64(u16(at + 2)) << 16)
                      : (qint64(u16(at)) << 16) | u16(at + 2);
    };
    const qint64 ifd = u32(4);
    const int count = u16(ifd);
    for (int i = 0; i < count; ++i) {
        const qint64 entry = ifd + 2 + 12 * qint64(i);
        if (u16(entry) == 0x0112) {
            const int v = u16(entry + 8);
            return v >= 1 && v <= 8 ? v : 1;
        }
    }
    return 1;
}

// A TIFF block that holds the orientation and nothing else.
QByteArray orientationTiff(int orientation)
{
    QByteArray t("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\0\0\0\0\0\0\0", 26);
    t[19] = char(orientation);
    return t;
}

bool removable(const QByteArray &item, ImageKind kind, const PictureAllowances &a)
{
    if (kind == ImageKind::Png) {
        const QByteArray type = item.mid(4, 4);
        if (a.chunks.contains(type))
            return true;
        if (pngColourChunk(type))
            return false; // only a strip that names it takes the profile
        if (type == "eXIf")
            return a.allMetadata || a.exif;
        if (type == "tEXt" || type == "zTXt" || type == "iTXt")
            return a.allMetadata || a.text;
        // A private chunk (second letter small), where editors keep layers,
        // goes only when named.
        return a.allMetadata && !(uchar(type[1]) & 0x20);
    }
    switch (jpegKind(item)) {
    case JpegKind::Jfif:
    case JpegKind::Mpf:
        return false; // the density, and the index of the pictures that follow
    case JpegKind::Icc:
        return a.colour;
    case JpegKind::Exif:
        return a.allMetadata || a.exif;
    case JpegKind::Xmp:
        return a.allMetadata || a.xmp;
    case JpegKind::Iptc:
        return a.allMetadata || a.iptc;
    case JpegKind::Comment:
        return (a.allMetadata && !a.keepComments) || a.comments;
    case JpegKind::Other:
        return a.allMetadata;
    }
    return false;
}

bool isExif(const QByteArray &item, ImageKind kind)
{
    return kind == ImageKind::Png ? item.mid(4, 4) == "eXIf" : jpegKind(item) == JpegKind::Exif;
}

QByteArray exifItem(int orientation, ImageKind kind)
{
    if (kind == ImageKind::Png)
        return pngChunk("eXIf", orientationTiff(orientation));
    const QByteArray data = QByteArray("Exif\0\0", 6) + orientationTiff(orientation);
    QByteArray s("\xFF\xE1", 2);
    s.append(char((data.size() + 2) >> 8)).append(char((data.size() + 2) & 0xff)).append(data);
    return s;
}

QByteArray pngLayoutOf(const QByteArray &f, const QList<Piece> &pieces)
{
    QByteArray layout;
    for (const Piece &p : pieces) {
        if (p.type == "IHDR" && p.size >= 12 + 10)
            layout += f.mid(p.at + 8 + 8, 2); // bit depth and colour type
        else if (p.type == "PLTE")
            layout += f.mid(p.at + 8, p.size - 12);
    }
    return layout;
}

// The multi-picture index's entries point at the pictures that follow, counted
// from the index; when the first picture's size changes they move by as much.
bool moveMpfOffsets(QByteArray &file, qsizetype base, qint64 delta)
{
    if (delta == 0)
        return true;
    if (base < 0 || file.size() - base < 8)
        return false;
    const bool little = QByteArrayView(file).sliced(base).startsWith("II");
    auto at = [&](qint64 offset) {
        return file.data() + base + offset;
    };
    auto u16 = [&](qint64 o) -> quint32 {
        const auto *b = reinterpret_cast<const uchar *>(at(o));
        return little ? b[0] | (b[1] << 8) : (b[0] << 8) | b[1];
    };
    auto u32 = [&](qint64 o) -> quint32 {
        return little ? u16(o) | (u16(o + 2) << 16) : (u16(o) << 16) | u16(o + 2);
    };
    auto put32 = [&](qint64 o, quint32 v) {
        char *p = at(o);
        for (int i = 0; i < 4; ++i)
            p[i] = char(little ? v >> (8 * i) : v >> (8 * (3 - i)));
    };
    const qint64 room = file.size() - base;
    const qint64 ifd = u32(4);
    if (ifd + 2 > room)
        return false;
    const quint32 count = u16(ifd);
    for (quint32 i = 0; i < count; ++i) {
        const qint64 entry = ifd + 2 + 12 * qint64(i);
        if (entry + 12 > room)
            return false;
        if (u16(entry) != 0xB002)
            continue;
        const qint64 bytes = u32(entry + 4);
        const qint64 list = u32(entry + 8);
        if (bytes % 16 || list + bytes > room)
            return false;
        for (qint64 e = list; e < list + bytes; e += 16) {
            const quint32 offset = u32(e + 8);
            if (offset != 0) // the first picture's own entry counts from the file's start
                put32(e + 8, quint32(qint64(offset) + delta));
        }
        return true;
    }
    return false;
}

qsizetype mpfBaseIn(const QByteArray &file, const QList<Piece> &pieces)
{
    for (const Piece &p : pieces)
        if (uchar(p.type[0]) == 0xE2 &&
            QByteArrayView(file).sliced(p.at + 4).startsWith(QByteArrayView("MPF\0", 4)))
            return p.at + 8;
    return -1;
}

QList<QByteArray> managedOf(const QByteArray &f, const QList<Piece> &pieces, ImageKind kind)
{
    QList<QByteArray> items;
    for (const Piece &p : pieces)
        if (kind == ImageKind::Png ? pngAncillary(p.type) : jpegManaged(uchar(p.type[0])))
            items.append(f.mid(p.at, p.size));
    return items;
}

} // namespace

PictureParts pictureParts(const QByteArray &file, ImageKind kind)
{
    PictureParts parts;
    QList<Piece> pieces;
    const bool png = kind == ImageKind::Png;
    if (!(png ? pngPieces(file, &pieces, &parts.end) : jpegPieces(file, &pieces, &parts.end)))
        return parts;
    parts.whole = true;
    parts.trailing = file.mid(parts.end);
    parts.metadata = managedOf(file, pieces, kind);
    for (const QByteArray &item : std::as_const(parts.metadata)) {
        if (!isExif(item, kind))
            continue;
        parts.orientation = tiffOrientation(QByteArrayView(item).sliced(png ? 8 : 10));
        break;
    }
    if (png) {
        parts.layout = pngLayoutOf(file, pieces);
        return parts;
    }
    parts.mpfBase = mpfBaseIn(file, pieces);
    for (const Piece &p : pieces) {
        const uchar m = uchar(p.type[0]);
        const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (!frame || p.size < 10)
            continue;
        const char *d = file.constData() + p.at + 4;
        parts.height = be16(d + 1);
        parts.width = be16(d + 3);
        const int components = uchar(d[5]);
        int h = 1, v = 1;
        for (int c = 0; c < components && 6 + 3 * c + 2 < p.size - 4; ++c) {
            const uchar factors = uchar(d[6 + 3 * c + 1]);
            h = std::max(h, factors >> 4);
            v = std::max(v, factors & 15);
        }
        // A single component is coded in 8×8 blocks whatever its factors say.
        parts.blockWidth = components == 1 ? 8 : 8 * h;
        parts.blockHeight = components == 1 ? 8 : 8 * v;
        break;
    }
    return parts;
}

QList<QByteArray> expectedMetadata(const PictureParts &original, ImageKind kind,
                                   const PictureAllowances &allow)
{
    QList<QByteArray> kept;
    for (const QByteArray &item : original.metadata) {
        if (!removable(item, kind, allow))
            kept.append(item);
        else if (isExif(item, kind) && original.orientation != 1)
            kept.append(exifItem(original.orientation, kind)); // how it is shown stays
    }
    return kept;
}

QByteArray putBack(const QByteArray &result, const PictureParts &original, ImageKind kind,
                   const PictureAllowances &allow, QString *why)
{
    QList<Piece> pieces;
    qsizetype end = 0;
    const bool png = kind == ImageKind::Png;
    if (!(png ? pngPieces(result, &pieces, &end) : jpegPieces(result, &pieces, &end))) {
        *why = QStringLiteral("%1 の結果が壊れた画像でした");
        return {};
    }
    const QList<QByteArray> expected = expectedMetadata(original, kind, allow);
    QByteArray out;
    out.reserve(result.size() + original.trailing.size() + 65536);
    if (!png) {
        out = JpegStart;
        for (const QByteArray &item : expected)
            out += item;
        qsizetype at = 2;
        for (const Piece &p : pieces) {
            if (!jpegManaged(uchar(p.type[0])))
                continue;
            out += QByteArrayView(result).sliced(at, p.at - at);
            at = p.at + p.size;
        }
        out += QByteArrayView(result).sliced(at, end - at);
        QList<Piece> head;
        qsizetype outEnd = 0;
        jpegPieces(out, &head, &outEnd);
        const qsizetype newBase = mpfBaseIn(out, head);
        if (!original.trailing.isEmpty() && original.mpfBase >= 0 &&
            !moveMpfOffsets(out, newBase,
                            qint64(out.size() - newBase) -
                                qint64(original.end - original.mpfBase))) {
            *why = QStringLiteral("%1 の結果では、後に続く画像の位置を直せません");
            return {};
        }
        return out + original.trailing;
    }

    // PNG: the colour chunks and sBIT go right after the header, the rest
    // before the image data; chunks tied to the colour type stay only while
    // the colour type and palette are the same.
    const bool sameLayout = pngLayoutOf(result, pieces) == original.layout;
    QList<QByteArray> early, late;
    for (const QByteArray &item : expected) {
        const QByteArray type = item.mid(4, 4);
        if (pngLayoutBound(type) && !sameLayout) {
            const auto theirs = std::find_if(pieces.cbegin(), pieces.cend(),
                                             [&](const Piece &p) { return p.type == type; });
            if (theirs == pieces.cend()) {
                *why = QStringLiteral("%1 の結果に ") + QLatin1String(type) +
                       QStringLiteral(" チャンクを戻せません");
                return {};
            }
            (type == "sBIT" ? early : late).append(result.mid(theirs->at, theirs->size));
            continue;
        }
        (pngColourChunk(type) || type == "sBIT" ? early : late).append(item);
    }
    out = PngSignature;
    bool lateDone = false;
    for (const Piece &p : pieces) {
        if (pngAncillary(p.type))
            continue;
        if (!lateDone && (p.type == "IDAT" || p.type == "IEND")) {
            for (const QByteArray &item : std::as_const(late))
                out += item;
            lateDone = true;
        }
        out += QByteArrayView(result).sliced(p.at, p.size);
        if (p.type == "IHDR")
            for (const QByteArray &item : std::as_const(early))
                out += item;
    }
    return out + original.trailing;
}

bool keepsWhatTheUserHad(const QByteArray &file, const PictureParts &original, ImageKind kind,
                         const PictureAllowances &allow, QString *why)
{
    const PictureParts parts = pictureParts(file, kind);
    if (!parts.whole) {
        *why = QStringLiteral("%1 の結果が壊れた画像でした");
        return false;
    }
    if (parts.trailing != original.trailing) {
        *why = QStringLiteral("%1 の結果では画像の後に続くデータが失われました");
        return false;
    }
    // Compared as sets of whole chunks; those tied to a changed colour type,
    // and a multi-picture index whose offsets moved, by their names alone.
    const bool sameLayout = kind == ImageKind::Jpeg || parts.layout == original.layout;
    auto key = [&](const QByteArray &item) {
        if (kind == ImageKind::Png && !sameLayout && pngLayoutBound(item.mid(4, 4)))
            return item.mid(4, 4);
        if (kind == ImageKind::Jpeg && jpegKind(item) == JpegKind::Mpf)
            return QByteArray("MPF");
        return item;
    };
    QList<QByteArray> want, have;
    for (const QByteArray &item : expectedMetadata(original, kind, allow))
        want.append(key(item));
    for (const QByteArray &item : parts.metadata)
        have.append(key(item));
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    if (want != have || parts.orientation != original.orientation) {
        *why = QStringLiteral("%1 の結果ではメタデータ（EXIF・テキストなど）が失われました");
        return false;
    }
    return true;
}

bool turnIsWhole(const PictureParts &jpeg, Reshape reshape)
{
    const bool wide = jpeg.width % jpeg.blockWidth == 0;
    const bool tall = jpeg.height % jpeg.blockHeight == 0;
    switch (reshape) {
    case Reshape::None:
    case Reshape::Transpose:
        return true;
    case Reshape::FlipH:
    case Reshape::Rotate270:
        return wide;
    case Reshape::FlipV:
    case Reshape::Rotate90:
        return tall;
    case Reshape::Rotate180:
    case Reshape::Transverse:
        return wide && tall;
    }
    return false;
}

} // namespace tinsoke
