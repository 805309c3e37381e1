#pragma once

#include "picturefacts.h"

namespace tinsoke {

// Decodes the picture at path as its kind says and reads its colour
// information from the file's own bytes. Needs no display, and may be called
// from several threads at once.
//
// Pixels are taken as stored: no EXIF orientation, no gamma or colour
// conversion. They are compared in one of two forms, 8 bits a channel
// (ARGB32) or, for pictures that need more, 16 (RGBA64), so a palette, grey
// or true-colour encoding of one picture gives one digest; fully transparent
// pixels count as equal whatever colour they hold. A PNG's tRNS grey or RGB
// is applied as the standard says (its low bits only), whatever the decoder
// makes of it.
//
// Colour information: for PNG the ICC profile (uncompressed; its name does
// not count), the sRGB, gAMA, cHRM and cICP chunks, each only where and as
// the standard allows it, and sBIT where it says fewer bits than compared;
// for JPEG the ICC profile carried in APP2 segments, joined in their order.
//
// A JPEG that libjpeg reads whole also keeps its quantized DCT coefficients:
// pictures compared with samePixels are then told the same by those first.
PictureFacts readPictureFacts(const QString &path, ImageKind kind);

// As a run reads its originals and results: the same, but such a JPEG's
// pixels are decoded only when it is compared with one whose coefficients
// differ, so a lossless step costs no decoding at all.
PictureFacts readFactsForRun(const QString &path, ImageKind kind);

// Whether the picture at after shows the one at before as the allowances
// ask it to change: turned or flipped, made grey, its partial edge blocks
// trimmed. Empty when it does; else a short reason for the user. Decoded
// values may differ by the small rounding a decoder makes in another
// orientation, never by a visible amount.
QString checkPictureChange(const QString &before, const QString &after, ImageKind kind,
                           const PictureAllowances &change);

} // namespace tinsoke
