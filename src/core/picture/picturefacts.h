#pragma once

#include "tools.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace tinsoke {

// What makes a picture the same picture: its decoded pixels and its colour
// information. Two files with equal facts show the same picture however
// differently they are encoded.
struct PictureFacts {
    bool readable = false; // decoded successfully
    QString why;           // when not readable: a short reason for the user
    QByteArray pixels;     // digest of the decoded pixels (size, normalised format, every row)
    QByteArray colour;     // canonical bytes of the colour information (empty when none)
    // An animation: the frame count, the plays, and every frame's size,
    // place, timing, dispose, blend and pixels; empty for a still picture.
    QByteArray frames;
    int frameCount = 1;
};

// Reads a picture's facts; called from worker threads. The decoding lives
// outside the core (it needs QtGui); the core is handed a reader.
using PictureReader = std::function<PictureFacts(const QString &path, ImageKind kind)>;

// Checks that a result shows its input changed exactly as the options ask
// (a turn, a flip, grey); empty when it does, else why not.
using PictureChangeCheck = std::function<QString(const QString &before, const QString &after,
                                                 ImageKind kind, const PictureAllowances &change)>;

inline bool samePicture(const PictureFacts &a, const PictureFacts &b)
{
    return a.readable && b.readable && a.pixels == b.pixels && a.colour == b.colour &&
           a.frames == b.frames;
}

} // namespace tinsoke
