#pragma once

#include <QString>

namespace tinsoke {

// The extension of a path: the text from the last "." that follows the last
// separator, the dot included; empty when there is none. Letter case is kept.
QString fileExtension(const QString &path);

// The path with its extension replaced by newExtension (which carries its own
// dot); when the path has no extension, newExtension is appended.
QString replaceExtension(const QString &path, const QString &newExtension);

// Full path of the settings file that belongs to the program at executablePath.
QString settingsFilePathFor(const QString &executablePath);

} // namespace tinsoke
