#pragma once

#include <QString>

namespace tinsoke {

// The extension of a path: the text from the last "." that follows the last
// separator, the dot included; empty when there is none. Letter case is kept.
QString fileExtension(const QString &path);

// The name part of a path: the text after its last separator.
QString fileNameOf(const QString &path);

// The folder part of a path, up to and including its last separator.
QString folderOf(const QString &path);

// The path with one "_" inserted before its extension (at the end when it has none).
QString withUnderscoreBeforeExtension(const QString &path);

// The path with its extension replaced by newExtension (which carries its own
// dot); when the path has no extension, newExtension is appended.
QString replaceExtension(const QString &path, const QString &newExtension);

// Full path of the settings file that belongs to the program at executablePath.
QString settingsFilePathFor(const QString &executablePath);

// Whether a name dropped onto a tool's path box is taken as its executable:
// a name ending in ".exe" in any letter case; on systems whose programs carry
// no extension, also a regular file that someone may execute.
bool isDroppableExecutable(const QString &path);

// Whether a tool's path box names an existing file (a link counts by its
// target; a folder, a missing path and the empty text do not).
bool namesExistingFile(const QString &path);

// The one filter of the dialog that browses for a tool's executable.
QString executableFileFilter();

} // namespace tinsoke
