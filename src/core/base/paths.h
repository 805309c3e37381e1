#pragma once

#include <QString>
#include <QStringList>

namespace tinsoke {

// File names are bytes. A name that is not valid UTF-8 keeps each byte that
// does not decode as a code point of its own, U+DC80 + the byte (a lone
// surrogate, never a character of a real name), so that the text goes back
// to exactly the bytes the system gave. Every open, look-up and rename of a
// user's path goes through these two.
QString pathFromBytes(const QByteArray &bytes);
QByteArray bytesOfPath(const QString &path);

// The extension of a path: the text from the last "." that follows the last
// separator, the dot included; empty when there is none. Letter case is kept.
QString fileExtension(const QString &path);

// The name part of a path: the text after its last separator.
QString fileNameOf(const QString &path);

// The folder part of a path, up to and including its last separator.
QString folderOf(const QString &path);

// The result folder a run makes beside its first file; the watch passes
// over it and any name that starts with it.
inline const QString ResultFolderName = QStringLiteral("Result_Tinsoke");

// The path with one "_" inserted before its extension (at the end when it has none).
QString withUnderscoreBeforeExtension(const QString &path);

// The path with its extension replaced by newExtension (which carries its own
// dot); when the path has no extension, newExtension is appended.
QString replaceExtension(const QString &path, const QString &newExtension);

// The settings file beside the program at executablePath, named like it.
QString settingsFilePathFor(const QString &executablePath);

// The settings file in the user's configuration folder:
// $XDG_CONFIG_HOME/pelmora-tinsoke/pelmora-tinsoke.ini, ~/.config when the
// variable is unset or not an absolute path.
QString userSettingsFilePath();

// Whether a new file can be made in the folder. It is tried, not read from the
// permission bits, which let root write where nothing can be created.
bool canCreateFilesIn(const QString &folder);

// Whether the program at executablePath was installed: its menu entry sits in
// the prefix beside its folder (bin/../share/applications), whatever prefix
// that is.
bool isInstalledProgram(const QString &executablePath);

// The settings file the program at executablePath uses: beside it when it is
// not installed and its folder takes new files (a portable copy), else the
// user's one. The window and the command line both ask here, so they share
// one file.
QString settingsFilePath(const QString &executablePath);

// Whether a name dropped onto a tool's path box is taken as its executable:
// a name ending in ".exe" in any letter case; on systems whose programs carry
// no extension, also a regular file that someone may execute.
bool isDroppableExecutable(const QString &path);

// Whether a tool's path box names an existing file (a link counts by its
// target; a folder, a missing path and the empty text do not).
bool namesExistingFile(const QString &path);

// Whether a tool's path box names a program the run can start: an existing
// file that isDroppableExecutable accepts (a link counts by its target).
bool namesUsableProgram(const QString &path);

// The full path of the program of that name in the first folder of PATH
// holding it as an executable regular file; empty when none does. Relative
// entries of PATH (the current folder) are never searched.
QString findProgramOnPath(const QString &name);

// The one filter of the dialog that browses for a tool's executable.
QString executableFileFilter();

// Where that dialog opens for a path box's text: the folder of the path when
// it exists, else where programs are installed.
QString browseStartFolder(const QString &currentPath);

// The paths named on a command line (the arguments after the program's own
// name), made absolute against currentFolder as a file manager's drop would
// give them. Words starting with "-" are options and are passed over, except
// after "--", from where every word is a path; empty words are ignored.
QStringList pathsFromArguments(const QStringList &arguments, const QString &currentFolder);

} // namespace tinsoke
