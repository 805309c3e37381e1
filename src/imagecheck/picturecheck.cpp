#include "picturecheck.h"

#include "pictureparts.h"
#include "safewrite.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QImageReader>
#include <QRgba64>

#include <QScopeGuard>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <zlib.h>

#ifdef TINSOKE_JPEG_COEFFICIENTS
#include "jpegcoefficients.h"
#endif

namespace tinsoke {

namespace {

// A profile larger than this is not a profile; it is not inflated further.
constexpr qsizetype MaxProfileSize = 64 * 1024 * 1024;

quint32 bigEndian32(const uchar *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

void appendTagged(QByteArray &out, const char (&tag)[5], QByteArrayView data)
{
    const quint32 n = quint32(data.size());
    const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    out.append(tag, 4).append(length, 4).append(data);
}

// A zlib stream inflated, or nothing when it is broken or too large.
bool inflateStream(QByteArrayView in, QByteArray *out)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = uInt(in.size());
    QByteArray data(std::clamp<qsizetype>(in.size() * 4, 1024, MaxProfileSize), Qt::Uninitialized);
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (qsizetype(z.total_out) == data.size()) {
            if (data.size() == MaxProfileSize)
                break;
            data.resize(std::min(data.size() * 2, MaxProfileSize));
        }
        z.next_out = reinterpret_cast<Bytef *>(data.data()) + z.total_out;
        z.avail_out = uInt(data.size() - qsizetype(z.total_out));
        rc = inflate(&z, Z_NO_FLUSH);
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END)
        return false;
    data.truncate(qsizetype(z.total_out));
    *out = std::move(data);
    return true;
}

// A PNG's colour chunks, read by the standard's rules, tagged in a fixed order.
void pngColour(const PngRules &rules, QByteArray *colour)
{
    colour->clear();
    if (!rules.iccp.isNull()) {
        const QByteArrayView iccp(rules.iccp);
        // Name, a zero byte, the compression method, then the zlib stream.
        const qsizetype nameEnd = iccp.indexOf('\0');
        QByteArray profile;
        if (nameEnd >= 0 && nameEnd + 2 <= iccp.size() &&
            inflateStream(iccp.sliced(nameEnd + 2), &profile))
            appendTagged(*colour, "iccp", profile);
        else // a broken one is kept as stored: only the very same bytes match
            appendTagged(*colour, "iccz", iccp.sliced(nameEnd + 1));
    }
    if (!rules.srgb.isNull())
        appendTagged(*colour, "srgb", rules.srgb);
    if (!rules.gama.isNull())
        appendTagged(*colour, "gama", rules.gama);
    if (!rules.chrm.isNull())
        appendTagged(*colour, "chrm", rules.chrm);
    if (!rules.cicp.isNull())
        appendTagged(*colour, "cicp", rules.cicp);
}

// The significant bits where they say more than the samples compared: below
// the bit depth and below the precision the pixels are compared in.
void appendSignificant(const PngRules &rules, bool wide, QByteArray *colour)
{
    if (rules.significant.isEmpty())
        return;
    const int most = std::min(rules.colourType == 3 ? 8 : rules.bitDepth, wide ? 16 : 8);
    QByteArray bits = rules.significant;
    bool says = false;
    for (char &b : bits) {
        if (b != 0 && b >= most)
            b = 0; // all bits significant: as without sBIT
        says = says || b != 0;
    }
    if (says)
        appendTagged(*colour, "sbit", bits);
}

// The ICC profile from a JPEG's APP2 segments, joined in their order; false
// when the markers do not run whole to the end marker.
bool jpegColour(const QByteArray &file, QByteArray *colour)
{
    const PictureParts parts = pictureParts(file, ImageKind::Jpeg);
    if (!parts.whole)
        return false;
    static const QByteArrayView IccTag("ICC_PROFILE\0", 12);
    std::vector<std::pair<int, QByteArrayView>> pieces;
    for (const QByteArray &segment : parts.metadata) {
        const QByteArrayView data = QByteArrayView(segment).sliced(4);
        if (uchar(segment[1]) == 0xE2 && data.size() >= 14 && data.first(12) == IccTag)
            pieces.emplace_back(uchar(data[12]), data.sliced(14));
    }
    colour->clear();
    if (!pieces.empty()) {
        std::stable_sort(pieces.begin(), pieces.end(),
                         [](const auto &x, const auto &y) { return x.first < y.first; });
        QByteArray profile;
        for (const auto &piece : pieces)
            profile.append(piece.second);
        appendTagged(*colour, "iccp", profile);
    }
    return true;
}

bool deepFormat(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

// Clears fully transparent pixels, whose colour nobody sees, so that a tool
// may change it freely.
void clearTransparent(QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(line[x]) == 0)
                line[x] = 0;
    }
}

// The same for 16 bits a channel; also tells whether every value is an
// 8-bit one widened (a multiple of 257), so the picture loses nothing in
// ARGB32: a tool that narrows such a picture to 8 bits keeps it the same.
bool clearTransparentWide(QImage &image)
{
    bool narrow = true;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgba64 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            QRgba64 &p = line[x];
            if (p.alpha() == 0)
                p = QRgba64::fromRgba64(0);
            narrow = narrow && p.red() % 257 == 0 && p.green() % 257 == 0 && p.blue() % 257 == 0 &&
                     p.alpha() % 257 == 0;
        }
    }
    return narrow;
}

// The colour of 8-bit pixels a PNG's tRNS makes transparent, as a decoder
// expands the masked sample; none for 16-bit samples, which the decoder keys
// itself, or without tRNS.
std::optional<QRgb> transparentKey(const PngRules *rules)
{
    if (!rules || rules->key[0] < 0 || rules->bitDepth > 8)
        return std::nullopt;
    const int top = (1 << rules->bitDepth) - 1;
    const auto level = [&](int v) {
        return v * 255 / top;
    };
    if (rules->colourType == 0)
        return qRgb(level(rules->key[0]), level(rules->key[0]), level(rules->key[0]));
    return qRgb(rules->key[0], rules->key[1], rules->key[2]);
}

QByteArray pixelDigest(QImage image, std::optional<QRgb> key, bool *compareWide)
{
    const bool hadAlpha = image.hasAlphaChannel() || key;
    bool wide = deepFormat(image.format());
    if (key) {
        // The decoder may ignore a sample with bits above the depth, which
        // the standard says to mask: the transparency is applied here.
        image = std::move(image).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if (line[x] == (*key | 0xff000000u))
                    line[x] = 0;
        }
        wide = false;
    }
    if (wide) {
        image = std::move(image).convertToFormat(QImage::Format_RGBA64);
        if (clearTransparentWide(image)) {
            wide = false;
            image = std::move(image).convertToFormat(QImage::Format_ARGB32);
        }
    } else {
        image = std::move(image).convertToFormat(QImage::Format_ARGB32);
        if (hadAlpha)
            clearTransparent(image);
    }

    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    const quint32 head[3] = {quint32(image.width()), quint32(image.height()), wide ? 64u : 32u};
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(head), sizeof head));
    const qsizetype rowBytes = qsizetype(image.width()) * (wide ? 8 : 4);
    const auto *bits = reinterpret_cast<const char *>(image.constBits());
    if (image.bytesPerLine() == rowBytes) {
        hash.addData(QByteArrayView(bits, rowBytes * image.height()));
    } else {
        for (int y = 0; y < image.height(); ++y)
            hash.addData(QByteArrayView(bits + y * image.bytesPerLine(), rowBytes));
    }
    if (compareWide)
        *compareWide = wide;
    return hash.result();
}

// Decoding holds a picture's pixels twice at most (decoded and converted);
// the jobs share one budget so that several large pictures at once stay
// within memory, and one larger than the budget waits to be alone.
class MemoryBudget {
public:
    static constexpr qint64 Total = qint64(3) << 30;
    static constexpr qint64 Largest = qint64(16) << 30;

    void take(qint64 bytes)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_freed.wait(lock, [&] { return m_used == 0 || m_used + bytes <= Total; });
        m_used += bytes;
    }
    void give(qint64 bytes)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_used -= bytes;
        m_freed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    qint64 m_used = 0;
};

MemoryBudget &budget()
{
    static MemoryBudget b;
    return b;
}

enum class Decoded { Fine, Broken, TooLarge };

// The budget bounds memory; the reader's own fixed limit would refuse a
// panorama or a scan.
void allowLargePictures()
{
    static const bool unlimited = [] {
        QImageReader::setAllocationLimit(0);
        return true;
    }();
    Q_UNUSED(unlimited);
}

// The memory decoding the reader's picture takes: the picture in the
// reader's own form, then in the compared one; -1 when its size is unknown.
qint64 decodingNeed(QImageReader &reader)
{
    const QSize size = reader.size();
    if (!size.isValid())
        return -1;
    const QImage::Format stored = reader.imageFormat();
    const int storedBytes = stored == QImage::Format_Invalid
                                ? 8
                                : std::max(1, QImage::toPixelFormat(stored).bitsPerPixel() / 8);
    const int comparedBytes = stored == QImage::Format_Invalid || deepFormat(stored) ? 8 : 4;
    return qint64(size.width()) * size.height() * (storedBytes + comparedBytes);
}

// Decodes one picture from bytes and gives its digest, within the budget.
Decoded decodeDigest(QByteArray bytes, const char *format, QByteArray *digest,
                     const PngRules *rules = nullptr, bool *wide = nullptr)
{
    allowLargePictures();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    const qint64 need = decodingNeed(reader);
    if (need < 0)
        return Decoded::Broken;
    if (need > MemoryBudget::Largest)
        return Decoded::TooLarge;
    budget().take(need);
    const auto given = qScopeGuard([&] { budget().give(need); });
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return Decoded::Broken;
    buffer.close();
    bytes.clear();
    *digest = pixelDigest(std::move(image), transparentKey(rules), wide);
    return Decoded::Fine;
}

QByteArray chunk(const char *type, QByteArrayView data)
{
    QByteArray c;
    const quint32 n = quint32(data.size());
    const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    c.append(length, 4).append(type, 4).append(data);
    const quint32 crc =
        quint32(crc32(0, reinterpret_cast<const Bytef *>(c.constData() + 4), uInt(c.size() - 4)));
    const char check[4] = {char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc)};
    return c.append(check, 4);
}

// An animated PNG's frames: each frame's data is made a picture of its own
// (the header with the frame's size, the palette and transparency) and
// decoded, so every frame is compared as the first one is.
Decoded animation(const QByteArray &file, const PngRules &rules, PictureFacts *facts)
{
    struct Frame {
        QByteArray control; // the frame control less its sequence number
        QByteArray data;
    };
    QByteArray header, palette, transparency, actl;
    QList<Frame> frames;
    const auto *b = reinterpret_cast<const uchar *>(file.constData());
    for (qsizetype at = 8; at + 12 <= file.size();) {
        const qsizetype length = qsizetype(bigEndian32(b + at));
        const QByteArrayView type(file.constData() + at + 4, 4);
        const QByteArrayView data(file.constData() + at + 8, length);
        at += 12 + length;
        if (type == "IHDR")
            header = data.toByteArray();
        else if (type == "PLTE")
            palette = data.toByteArray();
        else if (type == "tRNS")
            transparency = data.toByteArray();
        else if (type == "acTL")
            actl = data.toByteArray();
        else if (type == "fcTL" && data.size() >= 26)
            frames.append({data.sliced(4).toByteArray(), QByteArray()});
        else if (type == "IDAT" && !frames.isEmpty() && frames.size() == 1)
            frames.last().data += data;
        else if (type == "fdAT" && !frames.isEmpty() && data.size() >= 4)
            frames.last().data += data.sliced(4);
        else if (type == "IEND")
            break;
    }
    if (actl.isEmpty())
        return Decoded::Fine;
    if (actl.size() != 8 || header.size() != 13 || frames.isEmpty() ||
        qsizetype(bigEndian32(reinterpret_cast<const uchar *>(actl.constData()))) != frames.size())
        return Decoded::Broken;
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    hash.addData(actl);
    for (const Frame &frame : std::as_const(frames)) {
        if (frame.data.isEmpty())
            return Decoded::Broken;
        QByteArray ihdr = header;
        ihdr.replace(0, 8, frame.control.first(8)); // the frame's width and height
        QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr);
        if (!palette.isEmpty())
            picture += chunk("PLTE", palette);
        if (!transparency.isEmpty())
            picture += chunk("tRNS", transparency);
        picture += chunk("IDAT", frame.data) + chunk("IEND", {});
        QByteArray digest;
        const Decoded d = decodeDigest(std::move(picture), "png", &digest, &rules);
        if (d != Decoded::Fine)
            return d;
        hash.addData(frame.control);
        hash.addData(digest);
    }
    facts->frames = hash.result();
    facts->frameCount = int(frames.size());
    return Decoded::Fine;
}

// A still picture's stored size, from its header.
QSize storedSize(QByteArray &bytes, const char *format)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer, format).size();
}

QImage decodedRgb(QByteArray &bytes, const char *format)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    QImage image;
    if (!reader.read(&image))
        return {};
    return std::move(image).convertToFormat(QImage::Format_RGB32);
}

bool swapsSides(Reshape r)
{
    return r == Reshape::Rotate90 || r == Reshape::Rotate270 || r == Reshape::Transpose ||
           r == Reshape::Transverse;
}

// The input pixel a result's pixel (x, y) shows, where the input's part that
// was turned is w by h from its top-left corner: trimming takes the partial
// blocks at the input's right and bottom.
QPoint sourceOf(Reshape r, int x, int y, int w, int h)
{
    switch (r) {
    case Reshape::None:
        return {x, y};
    case Reshape::FlipH:
        return {w - 1 - x, y};
    case Reshape::FlipV:
        return {x, h - 1 - y};
    case Reshape::Rotate180:
        return {w - 1 - x, h - 1 - y};
    case Reshape::Rotate90: // clockwise
        return {y, h - 1 - x};
    case Reshape::Rotate270:
        return {w - 1 - y, x};
    case Reshape::Transpose:
        return {y, x};
    case Reshape::Transverse:
        return {w - 1 - y, h - 1 - x};
    }
    return {x, y};
}

// Grey as a JPEG stores it: the luma of its colour.
int luma(QRgb p)
{
    return (19595 * qRed(p) + 38470 * qGreen(p) + 7471 * qBlue(p) + 32768) >> 16;
}

#ifdef TINSOKE_JPEG_COEFFICIENTS
// Coefficients larger than this are not kept for the row's whole time; such
// a picture is compared by its pixels, within the budget.
constexpr qint64 MostKeptCoefficients = qint64(256) << 20;

// A JPEG known by its coefficients: two with equal ones show the same
// pixels, and only where they differ are the pixels decoded (once) and
// compared.
class JpegKept final : public PictureKept {
public:
    JpegKept(JpegCoefficients coefficients, QByteArray file, QByteArray pixels)
        : m_coefficients(std::move(coefficients))
        , m_file(std::move(file))
        , m_pixels(std::move(pixels))
        , m_decoded(!m_pixels.isEmpty())
    {}

    QByteArray pixels() const override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_decoded) {
            QByteArray digest;
            if (decodeDigest(std::exchange(m_file, {}), "jpeg", &digest) == Decoded::Fine)
                m_pixels = digest;
            m_decoded = true;
        }
        return m_pixels;
    }

    bool samePixels(const PictureKept &other) const override
    {
        const auto *jpeg = dynamic_cast<const JpegKept *>(&other);
        if (jpeg && m_coefficients.sameAs(jpeg->m_coefficients))
            return true;
        const QByteArray mine = pixels();
        return !mine.isEmpty() && mine == other.pixels();
    }

private:
    const JpegCoefficients m_coefficients;
    mutable std::mutex m_mutex;
    mutable QByteArray m_file; // until decoded
    mutable QByteArray m_pixels;
    mutable bool m_decoded;
};
#endif

// The JPEG's coefficients, kept with the file for decoding it later or with
// the pixels' digest already taken; none where libjpeg cannot tell.
std::shared_ptr<const PictureKept> keptJpeg(const QByteArray &file, const QByteArray &pixels)
{
#ifdef TINSOKE_JPEG_COEFFICIENTS
    qint64 taken = 0;
    std::optional<JpegCoefficients> c = readJpegCoefficients(file, [&](qint64 bytes) {
        if (bytes > MostKeptCoefficients)
            return false;
        taken = bytes;
        budget().take(taken);
        return true;
    });
    if (taken != 0)
        budget().give(taken);
    if (!c)
        return nullptr;
    return std::make_shared<JpegKept>(std::move(*c), pixels.isEmpty() ? file : QByteArray(),
                                      pixels);
#else
    Q_UNUSED(file);
    Q_UNUSED(pixels);
    return nullptr;
#endif
}

// Whether decoding the still picture would take more than the budget allows.
bool tooLargeToDecode(QByteArray &bytes, const char *format)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    return decodingNeed(reader) > MemoryBudget::Largest;
}

PictureFacts unreadable(const QString &why)
{
    PictureFacts facts;
    facts.why = why;
    return facts;
}

} // namespace

namespace {

PictureFacts readFacts(const QString &path, ImageKind kind, bool decodeNow)
{
    QByteArray file;
    if (!readRegularFile(path, &file))
        return unreadable(QStringLiteral("ファイルを読み込めません"));

    static const QByteArray PngSignature("\x89PNG\r\n\x1a\n", 8);
    static const QByteArray JpegSignature("\xFF\xD8\xFF", 3);
    const bool png = kind == ImageKind::Png;
    if (!file.startsWith(png ? PngSignature : JpegSignature))
        return unreadable(QStringLiteral("画像として読み込めません"));

    PictureFacts facts;
    const PngRules rules = png ? pngRules(file) : PngRules();
    if (png)
        pngColour(rules, &facts.colour);
    if (!(png ? rules.whole : jpegColour(file, &facts.colour)))
        return unreadable(QStringLiteral("画像が途中で切れています"));

    if (!png && !decodeNow) {
        // The coefficients stand for the pixels until another's differ.
        facts.kept = keptJpeg(file, {});
        if (facts.kept) {
            if (tooLargeToDecode(file, "jpeg"))
                return unreadable(QStringLiteral("画像が大きすぎて確かめられません"));
            facts.readable = true;
            return facts;
        }
    }
    const QByteArray jpeg = png ? QByteArray() : file;
    const Decoded frames = png ? animation(file, rules, &facts) : Decoded::Fine;
    // Decoded from the bytes already read; the file is read once.
    bool wide = false;
    const Decoded still = frames == Decoded::Fine
                              ? decodeDigest(std::move(file), png ? "png" : "jpeg", &facts.pixels,
                                             png ? &rules : nullptr, &wide)
                              : frames;
    if (png)
        appendSignificant(rules, wide, &facts.colour);
    if (still == Decoded::TooLarge)
        return unreadable(QStringLiteral("画像が大きすぎて確かめられません"));
    if (still == Decoded::Broken)
        return unreadable(QStringLiteral("画像として読み込めません"));
    if (!png && decodeNow)
        facts.kept = keptJpeg(jpeg, facts.pixels);
    facts.readable = true;
    return facts;
}

} // namespace

PictureFacts readPictureFacts(const QString &path, ImageKind kind)
{
    return readFacts(path, kind, true);
}

PictureFacts readFactsForRun(const QString &path, ImageKind kind)
{
    return readFacts(path, kind, false);
}

QString checkPictureChange(const QString &before, const QString &after, ImageKind kind,
                           const PictureAllowances &change)
{
    if (change.anyPixels || !change.pixels())
        return {}; // another picture altogether, or no change asked for
    QByteArray inBytes, outBytes;
    if (!readRegularFile(before, &inBytes) || !readRegularFile(after, &outBytes))
        return QStringLiteral("画像として読み込めません");
    const char *format = kind == ImageKind::Png ? "png" : "jpeg";
    allowLargePictures();
    const QSize inSize = storedSize(inBytes, format);
    const QSize outSize = storedSize(outBytes, format);
    if (!inSize.isValid() || !outSize.isValid())
        return QStringLiteral("画像として読み込めません");
    // Both held at once, each decoded and converted.
    const qint64 need =
        (qint64(inSize.width()) * inSize.height() + qint64(outSize.width()) * outSize.height()) *
        4 * 2;
    if (need > MemoryBudget::Largest)
        return QStringLiteral("画像が大きすぎて確かめられません");
    budget().take(need);
    const auto given = qScopeGuard([&] { budget().give(need); });
    const QImage in = decodedRgb(inBytes, format);
    inBytes.clear();
    const QImage out = decodedRgb(outBytes, format);
    outBytes.clear();
    if (in.isNull() || out.isNull())
        return QStringLiteral("画像として読み込めません");

    const bool swap = swapsSides(change.reshape);
    const int w = swap ? out.height() : out.width();
    const int h = swap ? out.width() : out.height();
    const bool sizeFits = change.trim ? w <= in.width() && h <= in.height() &&
                                            in.width() - w < 64 && in.height() - h < 64
                                      : w == in.width() && h == in.height();
    if (!sizeFits)
        return QStringLiteral("指定の回転・反転と大きさが合いません");

    // A decoder rounds differently once blocks are turned, and spreads the
    // colour of an edge differently once it is trimmed: a few levels, near
    // twenty at most in noise. Wrong or unturned pixels differ by far more.
    constexpr int MostOnePixel = 48;
    qint64 total = 0;
    for (int y = 0; y < out.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(out.constScanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb was = in.pixel(sourceOf(change.reshape, x, y, w, h));
            const QRgb is = line[x];
            const int d =
                change.grayscale
                    ? std::abs(luma(was) - qRed(is))
                    : std::max({std::abs(qRed(was) - qRed(is)), std::abs(qGreen(was) - qGreen(is)),
                                std::abs(qBlue(was) - qBlue(is))});
            if (d > MostOnePixel)
                return QStringLiteral("指定の回転・反転・グレイスケールと画素が合いません");
            total += d;
        }
    }
    if (double(total) / (double(out.width()) * out.height()) > 1.0)
        return QStringLiteral("指定の回転・反転・グレイスケールと画素が合いません");
    return {};
}

} // namespace tinsoke
