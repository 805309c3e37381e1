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

// Every segment, wherever it stands: before the first scan, between scans and
// after the last one. A scan's coded data runs to the first marker that is
// neither a stuffed zero nor a restart; fill bytes may precede any marker.
bool jpegPieces(const QByteArray &f, QList<Piece> *pieces, qsizetype *end)
{
    if (!f.startsWith(JpegStart))
        return false;
    const auto *b = reinterpret_cast<const uchar *>(f.constData());
    const qsizetype size = f.size();
    bool inScan = false;
    qsizetype at = 2;
    for (;;) {
        while (inScan) {
            const void *ff = std::memchr(b + at, 0xFF, size_t(size - at));
            if (!ff)
                return false;
            qsizetype next = static_cast<const uchar *>(ff) - b + 1;
            while (next < size && b[next] == 0xFF)
                ++next;
            if (next >= size)
                return false;
            if (b[next] == 0x00 || (b[next] >= 0xD0 && b[next] <= 0xD7)) {
                at = next + 1;
                continue;
            }
            at = next - 1;
            inScan = false;
        }
        if (size - at < 2 || b[at] != 0xFF)
            return false;
        const uchar marker = b[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xD9) {
            *end = at + 2;
            return true;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2; // markers without a length
            continue;
        }
        if (marker == 0x00 || marker == 0xD8 || size - at < 4)
            return false;
        const qsizetype length = be16(f.constData() + at + 2);
        if (length < 2 || length > size - at - 2)
            return false;
        pieces->append({at, 2 + length, QByteArray(1, char(marker))});
        inScan = marker == 0xDA;
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

// The data of an EXIF item: a PNG chunk's, without its check; a segment's,
// after its name. Empty for any other item.
QByteArrayView exifTiffOf(const QByteArray &item, ImageKind kind)
{
    if (kind == ImageKind::Png)
        return item.mid(4, 4) == "eXIf" ? QByteArrayView(item).sliced(8, item.size() - 12)
                                        : QByteArrayView();
    return jpegKind(item) == JpegKind::Exif ? QByteArrayView(item).sliced(10) : QByteArrayView();
}

// The packet of an XMP item: a PNG iTXt stored uncompressed, or a JPEG's
// main XMP segment. Empty for any other item.
QByteArrayView xmpPacketOf(const QByteArray &item, ImageKind kind)
{
    if (kind == ImageKind::Jpeg) {
        static const QByteArrayView Main("http://ns.adobe.com/xap/1.0/\0", 29);
        const QByteArrayView d = segmentData(item);
        return uchar(item[1]) == 0xE1 && d.startsWith(Main) ? d.sliced(Main.size())
                                                            : QByteArrayView();
    }
    static const QByteArrayView Keyword("XML:com.adobe.xmp\0", 18);
    if (item.mid(4, 4) != "iTXt")
        return {};
    const QByteArrayView d = QByteArrayView(item).sliced(8, item.size() - 12);
    if (!d.startsWith(Keyword) || d.size() < Keyword.size() + 2 || d[Keyword.size()] != '\0')
        return {}; // compressed, or no XMP
    // The language tag and the translated keyword, each ended by a zero.
    qsizetype at = Keyword.size() + 2;
    for (int field = 0; field < 2; ++field) {
        const qsizetype zero = d.sliced(at).indexOf('\0');
        if (zero < 0)
            return {};
        at += zero + 1;
    }
    return d.sliced(at);
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
// from the index; when the first picture's size changes they move by as much,
// and the first picture's own entry takes its new length.
// Every read and write stays within the index's own segment (room bytes).
bool fixMpfIndex(QByteArray &file, qsizetype base, qint64 room, qint64 delta, qint64 firstLength)
{
    if (base < 0 || room < 8)
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
            if (offset == 0) // the first picture's own entry counts from the file's start
                put32(e + 4, quint32(firstLength));
            else
                put32(e + 8, quint32(qint64(offset) + delta));
        }
        return true;
    }
    return false;
}

// Where the multi-picture index counts from, and how many of its bytes follow.
qsizetype mpfBaseIn(const QByteArray &file, const QList<Piece> &pieces, qint64 *room = nullptr)
{
    for (const Piece &p : pieces)
        if (uchar(p.type[0]) == 0xE2 && QByteArrayView(file)
                                            .sliced(p.at + 4, p.size - 4)
                                            .startsWith(QByteArrayView("MPF\0", 4))) {
            if (room)
                *room = p.at + p.size - (p.at + 8);
            return p.at + 8;
        }
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
    // Readers take the first EXIF and the first XMP; the EXIF's orientation
    // comes before the XMP's.
    bool exifSeen = false, xmpSeen = false;
    for (const QByteArray &item : std::as_const(parts.metadata)) {
        if (!exifSeen && isExif(item, kind)) {
            exifSeen = true;
            parts.exifOrientation = tiffOrientation(exifTiffOf(item, kind));
        } else if (const QByteArrayView xmp = xmpPacketOf(item, kind); !xmpSeen && !xmp.isNull()) {
            xmpSeen = true;
            parts.xmpOrientation = xmpOrientation(xmp);
        }
    }
    parts.orientation = parts.exifOrientation  ? parts.exifOrientation
                        : parts.xmpOrientation ? parts.xmpOrientation
                                               : 1;
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
    bool exifKept = false;
    qsizetype xmpAt = -1; // the XMP that turns the picture, where it would go
    for (const QByteArray &item : original.metadata) {
        const bool exif = isExif(item, kind);
        if (!removable(item, kind, allow)) {
            kept.append(item);
        } else if (exif && original.exifOrientation > 1) {
            kept.append(exifItem(original.exifOrientation, kind)); // how it is shown stays
        } else if (original.exifOrientation == 0 && original.xmpOrientation > 1 && xmpAt < 0 &&
                   !xmpPacketOf(item, kind).isNull()) {
            xmpAt = kept.size();
            kept.append(item);
            continue;
        } else {
            continue;
        }
        exifKept = exifKept || exif;
    }
    // The XMP's turn goes into an EXIF of its own; where an EXIF stays
    // (without a turn, or readers would not look at the XMP) the XMP stays.
    if (xmpAt >= 0 && !exifKept)
        kept[xmpAt] = exifItem(original.xmpOrientation, kind);
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
        qint64 room = 0;
        const qsizetype newBase = mpfBaseIn(out, head, &room);
        if (!original.trailing.isEmpty() && original.mpfBase >= 0 &&
            !fixMpfIndex(out, newBase, room,
                         qint64(out.size() - newBase) - qint64(original.end - original.mpfBase),
                         out.size())) {
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
    // Early ones follow the first chunk kept, the header of any file the
    // check takes; in any other, they still come before the image data.
    bool earlyDone = false, lateDone = false;
    const auto place = [&](const QList<QByteArray> &items, bool *done) {
        for (const QByteArray &item : items)
            out += item;
        *done = true;
    };
    for (const Piece &p : pieces) {
        if (pngAncillary(p.type))
            continue;
        if (!lateDone && (p.type == "IDAT" || p.type == "IEND")) {
            if (!earlyDone)
                place(early, &earlyDone);
            place(late, &lateDone);
        }
        out += QByteArrayView(result).sliced(p.at, p.size);
        if (!earlyDone)
            place(early, &earlyDone);
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

int tiffOrientation(QByteArrayView tiff)
{
    if (tiff.size() < 8 || !(tiff.startsWith("II") || tiff.startsWith("MM")))
        return 0;
    const bool little = tiff.startsWith("II");
    // Every read below is bounded by the caller.
    auto u16 = [&](qint64 at) -> quint32 {
        const auto *b = reinterpret_cast<const uchar *>(tiff.data() + at);
        return little ? b[0] | (b[1] << 8) : (b[0] << 8) | b[1];
    };
    auto u32 = [&](qint64 at) -> quint32 {
        return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
    };
    if (u16(2) != 42)
        return 0;
    const qint64 ifd = u32(4);
    if (ifd < 8 || ifd + 2 > tiff.size())
        return 0;
    const quint32 count = u16(ifd);
    for (quint32 i = 0; i < count; ++i) {
        const qint64 entry = ifd + 2 + 12 * qint64(i);
        if (entry + 12 > tiff.size())
            return 0; // an entry cut off by the block's end: readers stop before it
        if (u16(entry) != 0x0112)
            continue;
        // One value, a SHORT or a LONG, held in the entry itself.
        const quint32 type = u16(entry + 2);
        if (u32(entry + 4) != 1 || (type != 3 && type != 4))
            return 0;
        const quint32 v = type == 3 ? u16(entry + 8) : u32(entry + 8);
        return v >= 1 && v <= 8 ? int(v) : 0;
    }
    return 0;
}

int xmpOrientation(QByteArrayView xmp)
{
    // The prefix the packet binds to the TIFF namespace, "tiff" nearly always.
    static const QByteArrayView Namespace("http://ns.adobe.com/tiff/1.0/");
    for (qsizetype from = 0;;) {
        const qsizetype ns = xmp.sliced(from).indexOf(Namespace);
        if (ns < 0)
            return 0;
        const qsizetype uri = from + ns;
        from = uri + Namespace.size();
        // xmlns:PREFIX="URI" or with single quotes
        if (uri < 8 || (xmp[uri - 1] != '"' && xmp[uri - 1] != '\'') || xmp[uri - 2] != '=')
            continue;
        qsizetype start = uri - 2;
        while (start > 0 && xmp[start - 1] != ':' && xmp[start - 1] != ' ' &&
               xmp[start - 1] != '\n' && xmp[start - 1] != '\t' && xmp[start - 1] != '\r')
            --start;
        if (start < 6 || xmp.sliced(start - 6, 6) != "xmlns:")
            continue;
        const QByteArray name = xmp.sliced(start, uri - 2 - start).toByteArray() + ":Orientation";
        // As an attribute (name="3") or an element (<name>3</name>).
        for (qsizetype at = 0;;) {
            const qsizetype hit = xmp.sliced(at).indexOf(name);
            if (hit < 0)
                break;
            qsizetype v = at + hit + name.size();
            at = v;
            const bool element = at - name.size() > 0 && xmp[at - name.size() - 1] == '<';
            auto skipSpace = [&] {
                while (v < xmp.size() &&
                       (xmp[v] == ' ' || xmp[v] == '\n' || xmp[v] == '\t' || xmp[v] == '\r'))
                    ++v;
            };
            skipSpace();
            if (element) {
                if (v >= xmp.size() || xmp[v] != '>')
                    continue;
                ++v;
            } else {
                if (v >= xmp.size() || xmp[v] != '=')
                    continue;
                ++v;
                skipSpace();
                if (v >= xmp.size() || (xmp[v] != '"' && xmp[v] != '\''))
                    continue;
                ++v;
            }
            skipSpace();
            if (v + 1 < xmp.size() && xmp[v] >= '1' && xmp[v] <= '8') {
                const char after = xmp[v + 1];
                if (element ? after == '<' || after == ' ' || after == '\n' || after == '\r'
                            : after == '"' || after == '\'')
                    return xmp[v] - '0';
            }
            return 0; // named, but no value a reader takes
        }
        return 0;
    }
}

namespace {

bool isLetters(const QByteArray &type)
{
    return std::all_of(type.cbegin(), type.cend(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// The bit depths each colour type allows.
bool validDepth(int colourType, int depth)
{
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    }
    return false;
}

QString pngFault(const QByteArray &f)
{
    QList<Piece> pieces;
    qsizetype end = 0;
    if (!pngPieces(f, &pieces, &end))
        return QStringLiteral("チャンクが IEND まで続いていません");
    for (const Piece &p : std::as_const(pieces)) {
        const QLatin1String name(p.type);
        if (!isLetters(p.type))
            return QStringLiteral("チャンクの名前が正しくありません");
        if (crc32Of(QByteArrayView(f).sliced(p.at + 4, p.size - 8)) !=
            be32(f.constData() + p.at + p.size - 4))
            return name + QStringLiteral(" の CRC が合いません");
        if (!(uchar(p.type[0]) & 0x20) && p.type != "IHDR" && p.type != "PLTE" &&
            p.type != "IDAT" && p.type != "IEND")
            return QStringLiteral("知らない必須チャンク ") + name + QStringLiteral(" があります");
    }
    const Piece &head = pieces.first();
    if (head.type != "IHDR")
        return QStringLiteral("最初のチャンクが IHDR ではありません（") + QLatin1String(head.type) +
               QStringLiteral("）");
    if (head.size != 12 + 13)
        return QStringLiteral("IHDR の長さが正しくありません");
    const char *h = f.constData() + head.at + 8;
    const quint32 width = be32(h), height = be32(h + 4);
    const int depth = uchar(h[8]), colourType = uchar(h[9]);
    if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu ||
        !validDepth(colourType, depth) || h[10] != 0 || h[11] != 0 || uchar(h[12]) > 1)
        return QStringLiteral("IHDR の値が正しくありません");

    qsizetype paletteEntries = -1;
    bool dataSeen = false, dataEnded = false, transparency = false;
    qint64 frames = -1;            // as acTL announces; -1 for a still picture
    qint64 controls = 0;           // fcTL chunks seen
    qint64 sequence = 0;           // the next sequence number fcTL and fdAT must carry
    bool frameWithoutData = false; // an fcTL after IDAT still waiting for its fdAT
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const Piece &p = pieces.at(i);
        const qsizetype length = p.size - 12;
        const char *d = f.constData() + p.at + 8;
        if (dataSeen && !dataEnded && p.type != "IDAT")
            dataEnded = true;
        if (p.type == "IHDR")
            return QStringLiteral("IHDR が二つあります");
        if (p.type == "PLTE") {
            if (paletteEntries >= 0 || dataSeen || transparency)
                return QStringLiteral("PLTE の位置が正しくありません");
            paletteEntries = length / 3;
            if (length % 3 || paletteEntries < 1 || paletteEntries > 256 ||
                (colourType == 3 && paletteEntries > (1 << depth)) || colourType == 0 ||
                colourType == 4)
                return QStringLiteral("PLTE が正しくありません");
        } else if (p.type == "tRNS") {
            if (transparency || dataSeen || (colourType == 3 && paletteEntries < 0))
                return QStringLiteral("tRNS の位置が正しくありません");
            transparency = true;
            if ((colourType == 0 && length != 2) || (colourType == 2 && length != 6) ||
                (colourType == 3 && length > paletteEntries) || colourType == 4 || colourType == 6)
                return QStringLiteral("tRNS が色の型に合いません");
        } else if (p.type == "acTL") {
            if (frames >= 0 || dataSeen)
                return QStringLiteral("acTL の位置が正しくありません");
            if (length != 8 || be32(d) == 0 || be32(d) > 0x7fffffffu)
                return QStringLiteral("acTL が正しくありません");
            frames = be32(d);
        } else if (p.type == "fcTL") {
            if (frames < 0)
                return QStringLiteral("静止画に fcTL があります");
            if (length != 26)
                return QStringLiteral("fcTL の長さが 26 バイトではありません（%1）").arg(length);
            if (be32(d) != sequence++)
                return QStringLiteral("fcTL の順番の番号が正しくありません");
            if (frameWithoutData)
                return QStringLiteral("fdAT のないコマがあります");
            const quint64 w = be32(d + 4), fh = be32(d + 8), x = be32(d + 12), y = be32(d + 16);
            if (w == 0 || fh == 0 || x + w > width || y + fh > height || uchar(d[24]) > 2 ||
                uchar(d[25]) > 1)
                return QStringLiteral("fcTL のコマが画像に収まりません");
            if (!dataSeen && (x != 0 || y != 0 || w != width || fh != height))
                return QStringLiteral("最初のコマが画像全体ではありません");
            if (++controls > frames)
                return QStringLiteral("acTL より多くのコマがあります");
            frameWithoutData = dataSeen;
        } else if (p.type == "IDAT") {
            if (dataEnded)
                return QStringLiteral("IDAT が続いていません");
            if (colourType == 3 && paletteEntries < 0)
                return QStringLiteral("パレットの画像に PLTE がありません");
            dataSeen = true;
        } else if (p.type == "fdAT") {
            if (frames < 0)
                return QStringLiteral("静止画に fdAT があります");
            if (!dataSeen || controls == 0 || (controls == 1 && !frameWithoutData))
                return QStringLiteral("fdAT がそのコマの fcTL の前にあります");
            if (length < 4 || be32(d) != sequence++)
                return QStringLiteral("fdAT の順番の番号が正しくありません");
            frameWithoutData = false;
        } else if (p.type == "IEND" && length != 0) {
            return QStringLiteral("IEND が空ではありません");
        }
    }
    if (!dataSeen)
        return QStringLiteral("IDAT がありません");
    if (frames >= 0 && (controls != frames || frameWithoutData))
        return QStringLiteral("acTL のコマの数と fcTL が合いません");
    return {};
}

QString jpegFault(const QByteArray &f)
{
    QList<Piece> pieces;
    qsizetype end = 0;
    if (!jpegPieces(f, &pieces, &end))
        return QStringLiteral("マーカーが EOI まで続いていません");
    bool frame = false, scan = false;
    for (const Piece &p : std::as_const(pieces)) {
        const uchar m = uchar(p.type[0]);
        const char *d = f.constData() + p.at + 4;
        const qsizetype length = p.size - 4;
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            if (frame)
                return QStringLiteral("SOF が二つあります");
            frame = true;
            if (length < 6 || length != 6 + 3 * qsizetype(uchar(d[5])) || uchar(d[5]) == 0 ||
                be16(d + 3) == 0)
                return QStringLiteral("SOF が正しくありません");
        } else if (m == 0xDA) {
            if (!frame)
                return QStringLiteral("SOF より前に SOS があります");
            if (length < 1 || uchar(d[0]) < 1 || uchar(d[0]) > 4 ||
                length != 4 + 2 * qsizetype(uchar(d[0])))
                return QStringLiteral("SOS が正しくありません");
            scan = true;
        }
    }
    if (!scan)
        return QStringLiteral("スキャンがありません");
    return {};
}

} // namespace

QString structureFault(const QByteArray &file, ImageKind kind)
{
    return kind == ImageKind::Png ? pngFault(file) : jpegFault(file);
}

PngRules pngRules(const QByteArray &file)
{
    PngRules r;
    QList<Piece> pieces;
    qsizetype end = 0;
    if (!pngPieces(file, &pieces, &end) || pieces.first().type != "IHDR" ||
        pieces.first().size != 12 + 13)
        return r;
    r.whole = true;
    const char *h = file.constData() + pieces.first().at + 8;
    r.bitDepth = uchar(h[8]);
    r.colourType = uchar(h[9]);
    if (!validDepth(r.colourType, r.bitDepth))
        return r; // no sample means anything
    const int channels[] = {1, 0, 3, 3, 2, 0, 4};
    const int ct = r.colourType;
    bool palette = false;
    for (const Piece &p : std::as_const(pieces)) {
        if (p.type == "IDAT")
            break;
        const QByteArrayView d(file.constData() + p.at + 8, p.size - 12);
        const QByteArray &t = p.type;
        if (t == "PLTE") {
            palette = true;
            continue;
        }
        // The colour chunks and sBIT count only before the palette.
        const bool early = !palette;
        if (t == "tRNS" && r.key[0] < 0 &&
            ((ct == 0 && d.size() == 2) || (ct == 2 && d.size() == 6))) {
            // Only the low bits count: a decoder masks the others away.
            const int mask = (1 << r.bitDepth) - 1;
            for (int c = 0; c < (ct == 0 ? 1 : 3); ++c)
                r.key[c] = be16(d.data() + 2 * c) & mask;
        } else if (t == "sBIT" && early && r.significant.isEmpty() && ct <= 6 &&
                   d.size() == (ct == 3 ? 3 : channels[ct])) {
            const int most = ct == 3 ? 8 : r.bitDepth;
            if (std::any_of(d.begin(), d.end(), [&](char v) { return v < 1 || v > most; }))
                continue;
            // As red, green, blue, alpha; grey stands for all three.
            const bool grey = ct == 0 || ct == 4;
            r.significant = grey ? QByteArray(3, d[0]) : d.first(3).toByteArray();
            r.significant += ct == 4 ? d[1] : ct == 6 ? d[3] : '\0';
        } else if (t == "iCCP" && early && r.iccp.isNull()) {
            r.iccp = d.toByteArray();
        } else if (t == "sRGB" && early && r.srgb.isNull() && d.size() == 1 && uchar(d[0]) <= 3) {
            r.srgb = d.toByteArray();
        } else if (t == "gAMA" && early && r.gama.isNull() && d.size() == 4 &&
                   be32(d.data()) != 0) {
            r.gama = d.toByteArray();
        } else if (t == "cHRM" && early && r.chrm.isNull() && d.size() == 32) {
            r.chrm = d.toByteArray();
        } else if (t == "cICP" && early && r.cicp.isNull() && d.size() == 4) {
            r.cicp = d.toByteArray();
        }
    }
    return r;
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
