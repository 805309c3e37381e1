#pragma once

#include "tools.h"

#include <QString>

namespace tinsoke {

// Outcome of making a copy that must not overwrite anything.
enum class CopyResult { Copied, TargetTaken, Failed };

// Copies source to a new file at target, which must not exist yet (a file,
// folder or link there means "taken"). The copy keeps the source's
// permissions and modification time; a copy that fails half-way is removed.
CopyResult copyToNewFile(const QString &source, const QString &target, QString *error = nullptr);

// Whether a file is a whole image of its kind: it starts with the signature
// of PNG (89 50 4E 47 0D 0A 1A 0A) or JPEG (FF D8 FF), and it is complete (a
// PNG's chunks run to IEND, a JPEG ends with its end marker FF D9). An empty
// or cut-off file is not.
bool looksLikeImage(const QString &path, ImageKind kind);

// Replaces the working file's content by the candidate's, in one step: the
// content goes to a temporary file beside the working file, which is then
// renamed over it, keeping its permissions. On failure the working file is
// as it was.
bool replaceContent(const QString &workingPath, const QString &candidatePath,
                    QString *error = nullptr);

// Whether anything stands at the path: a file, a folder, or a link, even a dead one.
bool entryExists(const QString &path);

} // namespace tinsoke
