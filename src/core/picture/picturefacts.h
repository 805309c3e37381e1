#pragma once

#include "tools.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace tinsoke {

// What a reader keeps of a picture to tell it from another without decoding
// both (a JPEG's coefficients); the core only asks it.
class PictureKept {
public:
    virtual ~PictureKept() = default;
    // The digest of the decoded pixels, decoded at the first call; empty
    // when the picture does not decode.
    virtual QByteArray pixels() const = 0;
    // Whether the two show the same pixels, decoded only when what is kept
    // cannot tell.
    virtual bool samePixels(const PictureKept &other) const = 0;
};

// What makes a picture the same picture: its decoded pixels and its colour
// information. Two files with equal facts show the same picture however
// differently they are encoded.
struct PictureFacts {
    bool readable = false; // decoded successfully
    QString why;           // when not readable: a short reason for the user
    // Digest of the decoded pixels (size, normalised format, every row);
    // empty where what is kept stands for them until they are needed.
    QByteArray pixels;
    QByteArray colour; // canonical bytes of the colour information (empty when none)
    // An animation: the frame count, the plays, and every frame's size,
    // place, timing, dispose, blend and pixels; empty for a still picture.
    QByteArray frames;
    int frameCount = 1;
    std::shared_ptr<const PictureKept> kept;
};

// Reads a picture's facts; called from worker threads. The decoding lives
// outside the core (it needs QtGui); the core is handed a reader.
using PictureReader = std::function<PictureFacts(const QString &path, ImageKind kind)>;

// Checks that a result shows its input changed exactly as the options ask
// (a turn, a flip, grey); empty when it does, else why not.
using PictureChangeCheck = std::function<QString(const QString &before, const QString &after,
                                                 ImageKind kind, const PictureAllowances &change)>;

// Whether two pictures' pixels are the same, told by what is kept where
// both keep something, else by the digests.
inline bool samePixels(const PictureFacts &a, const PictureFacts &b)
{
    if (a.kept && b.kept)
        return a.kept->samePixels(*b.kept);
    const QByteArray x = a.kept ? a.kept->pixels() : a.pixels;
    return !x.isEmpty() && x == (b.kept ? b.kept->pixels() : b.pixels);
}

inline bool samePicture(const PictureFacts &a, const PictureFacts &b)
{
    return a.readable && b.readable && a.pixels == b.pixels && a.colour == b.colour &&
           a.frames == b.frames;
}

} // namespace tinsoke
