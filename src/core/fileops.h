#pragma once

#include "tools.h"

#include <QString>

namespace tinsoke {

// Whether a file is a whole image of its kind: it starts with the signature
// of PNG (89 50 4E 47 0D 0A 1A 0A) or JPEG (FF D8 FF), and it is complete (a
// PNG's chunks run to IEND, a JPEG ends with its end marker FF D9). An empty
// or cut-off file is not.
bool looksLikeImage(const QString &path, ImageKind kind);

// Whether anything stands at the path: a file, a folder, or a link, even a dead one.
bool entryExists(const QString &path);

} // namespace tinsoke
