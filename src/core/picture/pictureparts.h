#pragma once

#include "tools.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tinsoke {

// A picture file taken apart into what the run must keep: its metadata
// chunks or markers, the bytes that follow the picture, and the facts a turn
// depends on. Only bytes are read; nothing is decoded.
struct PictureParts {
    bool whole = false;  // the chunks or markers run whole to IEND / EOI
    qsizetype end = 0;   // where the picture ends (after IEND / EOI)
    QByteArray trailing; // what follows it: a video, a gain map, further pictures
    // Metadata chunks (PNG, whole with length and check) or segments (JPEG,
    // with their marker), in file order.
    QList<QByteArray> metadata;
    int orientation = 1;     // how the picture is shown, 1..8: EXIF's, else XMP's
    int exifOrientation = 0; // 0 when the EXIF holds none (or there is no EXIF)
    int xmpOrientation = 0;  // 0 when the XMP holds none
    // PNG: the header and palette, which some chunks' meaning depends on.
    QByteArray layout;
    // JPEG: size and block size, for telling whether a turn moves every block.
    int width = 0;
    int height = 0;
    int blockWidth = 8;
    int blockHeight = 8;
    qsizetype mpfBase = -1; // where the offsets of a multi-picture index count from
};

PictureParts pictureParts(const QByteArray &file, ImageKind kind);

// Why the file breaks the rules of its format (chunk order and sizes, the
// animation's sequence, the markers around the scans); empty when it keeps
// them. Worded for the user, without the tool's name.
QString structureFault(const QByteArray &file, ImageKind kind);

// The orientation a TIFF block (EXIF) or an XMP packet gives, 1..8; 0 when
// it gives none a reader would take.
int tiffOrientation(QByteArrayView tiff);
int xmpOrientation(QByteArrayView xmp);

// What decides a PNG's pixels and colour beside its image data, read by the
// standard's rules: only chunks in their proper place and of their proper
// size count, and the first of each.
struct PngRules {
    bool whole = false;
    int bitDepth = 0;
    int colourType = 0;
    // The grey or RGB sample that is transparent, masked to the bit depth as
    // the standard asks; -1 when there is none.
    int key[3] = {-1, -1, -1};
    // Significant bits (sBIT) as red, green, blue, alpha; empty when none.
    QByteArray significant;
    QByteArray iccp, srgb, gama, chrm, cicp; // each chunk's data
};
PngRules pngRules(const QByteArray &file);

// The metadata the result must carry: the original's, less what the options
// remove, but with the colour profile unless it is named, and with the
// orientation kept in an EXIF of its own where the EXIF goes.
QList<QByteArray> expectedMetadata(const PictureParts &original, ImageKind kind,
                                   const PictureAllowances &allow);

// The tool's result with the expected metadata in its proper places and the
// original's trailing bytes after the picture; empty with why when that
// cannot be done.
QByteArray putBack(const QByteArray &result, const PictureParts &original, ImageKind kind,
                   const PictureAllowances &allow, QString *why);

// Whether file carries exactly the expected metadata and trailing bytes.
bool keepsWhatTheUserHad(const QByteArray &file, const PictureParts &original, ImageKind kind,
                         const PictureAllowances &allow, QString *why);

// Whether jpegtran moves every block for this turn of a picture so sized.
bool turnIsWhole(const PictureParts &jpeg, Reshape reshape);

} // namespace tinsoke
