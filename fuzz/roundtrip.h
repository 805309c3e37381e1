#pragma once

// What every picture parser must hold, on any bytes: no crash, no hang; a
// picture taken apart and put back carries the same parts, and one that keeps
// its format's rules still keeps them after the put-back. The fuzz targets
// stop on a broken rule; the tests replay the inputs that once broke one.

#include "pictureparts.h"

namespace tinsoke {

// The rule the bytes break; nullptr when they break none.
inline const char *roundTripFault(const QByteArray &file, ImageKind kind)
{
    const QString fault = structureFault(file, kind);
    const PictureParts parts = pictureParts(file, kind);
    if (!parts.whole)
        return fault.isEmpty() ? "a file that keeps the rules is not whole" : nullptr;
    // As the run puts back: keeping everything, and after a strip of all.
    PictureAllowances strip;
    strip.allMetadata = true;
    for (const PictureAllowances &allow : {PictureAllowances(), strip}) {
        QString why;
        const QByteArray out = putBack(file, parts, kind, allow, &why);
        if (out.isEmpty())
            continue; // refused, with its reason
        if (!pictureParts(out, kind).whole)
            return "the put-back is not whole";
        if (!keepsWhatTheUserHad(out, parts, kind, allow, &why))
            return "the put-back does not keep the parts";
        if (fault.isEmpty() && !structureFault(out, kind).isEmpty())
            return "the put-back breaks the format's rules";
    }
    return nullptr;
}

} // namespace tinsoke
